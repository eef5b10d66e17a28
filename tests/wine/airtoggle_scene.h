// The mode switcher's surroundings, for its runs: the stand-in services "WZCSVC" and "KVX",
// the vendor utility's recorded mode, adapters of the network class with their
// zero-configuration interface records, the stand-in radio library's adapters, and the
// records the stand-ins keep (the services' journal, the radio's signals). Seeded and
// inspected with the test program's own view of HKLM\SOFTWARE.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace wt {

constexpr char kAdapterClassKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr char kTestAdapters[][5] = {"9000", "9001", "9002", "9003"};
constexpr char kGuidA[] = "{0A1B2C3D-0000-4000-8000-00000000000A}";
constexpr char kGuidB[] = "{0A1B2C3D-0000-4000-8000-00000000000B}";
constexpr char kGuidC[] = "{0A1B2C3D-0000-4000-8000-00000000000C}";
constexpr char kGuidD[] = "{0A1B2C3D-0000-4000-8000-00000000000D}";
constexpr DWORD kStartDelayMs = 300;
constexpr DWORD kStopDelayMs = 200;

class AirtoggleScene {
 public:
  using Lines = std::vector<std::string>;

  // Both stand-in services installed and stopped; the vendor utility's recorded mode 0;
  // two supported adapters (A, B) and one of another vendor (C) with interface records;
  // no radio adapters. Fails the running test (fatally) when a part cannot be made.
  void Seed();
  // Both services stopped and the test adapters gone.
  void Clear();

  static std::string Interface(const std::string& guid);
  // Installs the stand-in service `name` with its start and stop delays, stopped.
  static bool InstallService(const char* name);
  static void AddAdapter(const std::string& subkey, const std::string& matchingId,
                         const std::string& guid, DWORD flags);
  static void AddRadioAdapter(int index, const std::string& name, DWORD code);

  // The interface record's values and the recorded mode; 0xDEADBEEF when absent.
  static DWORD Flags(const std::string& guid);
  static DWORD Layout(const std::string& guid);
  static DWORD RecordedMode();
  // The services' journal and the radio's signals, one line per entry.
  static Lines Journal();
  static Lines Signalled();
  static void ClearRecords();
  // The journal line of a start of WZCSVC that found these flags for A, B and C.
  static std::string StartWith(DWORD a, DWORD b, DWORD c);

  // The switcher's record of a switch under way, read in the view it writes it in: whether
  // it exists, and the state it holds for a service (0xDEADBEEF when absent).
  static bool SwitchRecorded();
  static DWORD RecordedState(const char* service);
  // The stand-in's stop time, for a test that needs a longer window (Seed sets it back).
  static bool SetStopDelay(const char* service, DWORD ms);
};

}  // namespace wt
