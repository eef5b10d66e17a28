// The substitute Windows machine: a small in-memory Windows that the platform
// declarations act on when the programs are built natively. A test creates a Machine
// (which becomes the current one), seeds it, runs program code and inspects the
// outcome: state, the ordered event log, call counts, open handles and loaded
// libraries.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/kernel.h"
#include "platform/sim/devices_state.h"
#include "platform/sim/files_state.h"
#include "platform/sim/process_state.h"
#include "platform/sim/programs_state.h"
#include "platform/sim/radio_state.h"
#include "platform/sim/registry_state.h"
#include "platform/sim/services_state.h"
#include "platform/sim/windowing_state.h"

namespace sim {

// Case-insensitive comparison of ASCII text, as Windows compares names and paths.
bool SameText(const std::string& a, const std::string& b);
std::string Upper(std::string text);
// Text without leading and trailing blanks, tabs and carriage returns.
std::string Trim(const std::string& text);
// The lines of a text file (LF or CRLF), each trimmed.
std::vector<std::string> TrimmedLines(const std::string& text);
// For a trimmed line "[name]" (closing bracket optional), the trimmed name.
std::optional<std::string> SectionName(const std::string& line);

// An object behind a handle. Each family derives its own kinds.
struct HandleObject {
  virtual ~HandleObject() = default;
  virtual const char* Kind() const = 0;
  // Kernel objects are released with CloseHandle; others have closers of their own.
  virtual bool IsKernelObject() const { return true; }
};

struct VersionInfo {
  DWORD major = 5;
  DWORD minor = 1;
  DWORD build = 2600;
  DWORD platformId = VER_PLATFORM_WIN32_NT;
  std::string csd = "Service Pack 3";
};

// A loadable library: its exports can be removed one by one, or the whole library.
struct Library {
  std::string name;
  bool present = true;
  std::map<std::string, FARPROC> exports;
  int references = 0;
};

struct Process {
  DWORD pid = 0;
  std::string exe;                   // executable file name, without directory
  std::vector<std::string> modules;  // module names as the 9x Toolhelp reports them
  bool refuseQuery = false;          // OpenProcess for querying is refused
  bool refuseTerminate = false;      // OpenProcess with PROCESS_TERMINATE is refused
  bool terminateFails = false;       // TerminateProcess fails
  bool moduleSnapshotFails = false;  // its module snapshot cannot be taken
  bool running = true;
  UINT exitCode = 0;
};

class Machine {
 public:
  Machine();
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // --- fault injection -------------------------------------------------------
  // Makes `operation` fail with `error`: on every call (nth == 0) or on its nth call
  // only (counting from 1). Only operations that honour a fault take one; any other
  // name aborts the test. Every fault set must fire before the machine is torn down
  // (Clean reports one that did not). A later fault on the same call wins.
  void Fail(const std::string& operation, DWORD error, int nth = 0);
  // Ends the faults set on `operation`: its later calls succeed again.
  void Mend(const std::string& operation);
  // Forgets every fault, fired or not (for tests of the bookkeeping itself).
  void ClearFaults() { faults_.clear(); }
  // Called on entry by each operation that honours faults: counts the call and reports
  // an injected fault, with the last error set to it.
  std::optional<DWORD> Enter(const char* operation);
  // The same, for operations that return their error code and leave the last error alone.
  std::optional<DWORD> EnterStatus(const char* operation);
  // Called on entry by operations that have no failure to report: counts the call only.
  void Count(const char* operation);
  // Whether `operation` honours injected faults.
  static bool TakesFaults(const std::string& operation);
  int Calls(const std::string& operation) const;
  int TotalCalls() const { return totalCalls_; }

  // --- event log of side effects, in order ---------------------------------------
  void Log(std::string event) { events_.push_back(std::move(event)); }
  const std::vector<std::string>& Events() const { return events_; }

  // --- misuse: releasing what is not held, using a closed handle, ... ------------
  void Misuse(std::string what) { misuse_.push_back(std::move(what)); }
  const std::vector<std::string>& Misuses() const { return misuse_; }
  void ClearMisuse() { misuse_.clear(); }

  // --- handles -------------------------------------------------------------------
  HANDLE OpenHandle(std::unique_ptr<HandleObject> object);
  template <class T>
  T* Lookup(HANDLE handle) {
    auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == handles_.end() ? nullptr : dynamic_cast<T*>(it->second.get());
  }
  HandleObject* LookupAny(HANDLE handle);
  bool CloseHandleOf(HANDLE handle);
  std::size_t OpenHandleCount() const { return handles_.size(); }
  std::string OpenHandleList() const;

  // --- last error, clock -------------------------------------------------------------
  DWORD lastError = 0;
  DWORD now = 0;  // virtual milliseconds since start

  // --- version information -----------------------------------------------------------
  VersionInfo version;

  // --- libraries -----------------------------------------------------------------------
  Library& AddLibrary(const std::string& name);
  Library* FindLibrary(const std::string& name);
  Library* LibraryOf(HMODULE module);
  HMODULE ModuleOf(const Library& library) const;
  int LoadedLibraryCount() const;
  std::vector<std::unique_ptr<Library>> libraries;

  // --- registry ----------------------------------------------------------------------
  Registry registry;

  // --- files, environment, startable programs, devices --------------------------------
  FileSystem files;
  Environment environment;
  Programs programs;
  DeviceDatabase devices;
  // --- services, desktop, the vendor radio library, the process's start-up ----------
  ServiceManager services;
  Desktop desktop;
  RadioLibrary radio;
  std::string commandLine;

  // --- the Windows and the system directory, as the platform reports them -------------
  std::string windowsDirectory = "C:\\WINDOWS";
  std::string systemDirectory = "C:\\WINDOWS\\system32";

  // --- the process running the program code: own path, code page, named mutexes ---------
  ProcessState self;

  // --- processes ---------------------------------------------------------------------
  Process& AddProcess(const std::string& exe);
  Process* FindProcess(DWORD pid);
  std::deque<Process> processes;  // references stay valid as processes are added
  DWORD nextPid = 0x100;

  // True when nothing stayed open or loaded and nothing was misused; `report` tells why not.
  bool Clean(std::string* report) const;

 private:
  struct Fault {
    std::string operation;
    DWORD error;
    int nth;  // 0: every call
    bool active = true;
    bool fired = false;
  };
  std::vector<Fault> faults_;  // in the order set
  std::map<std::string, int> calls_;
  int totalCalls_ = 0;
  std::vector<std::string> events_;
  std::vector<std::string> misuse_;
  std::map<std::uintptr_t, std::unique_ptr<HandleObject>> handles_;
  std::uintptr_t nextHandle_ = 0x1000;
};

// The machine the platform operations act on; aborts if there is none.
Machine& Current();

// Returns `result` after setting the machine's last error.
template <class T>
T Failure(DWORD error, T result) {
  Current().lastError = error;
  return result;
}

}  // namespace sim
