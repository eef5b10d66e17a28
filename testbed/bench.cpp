// The benchmark driver, run by scripts/bench.sh inside a throwaway Wine prefix: times the
// programs' main runs against what the system's own tools take for the same work, and
// prints the figures as Markdown. Timing happens in here, with QueryPerformanceCounter
// around each child from CreateProcess to its end: a shell can poll a service, wait for
// three processes to end together or look at the registry between runs only by starting
// one Wine process after another (sc, reg, ...), each start costing tens of milliseconds,
// as much as some of the runs being measured. Each run is checked for having done its
// work; a failed check is printed and makes the exit code 1.
//
//   bench [airtoggle] [quitpanel] [pakrun]     (none named: all three)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <list>
#include <string>
#include <vector>

#include "airtoggle/managers.h"
#include "testbed/support/services.h"
#include "testbed/support/support.h"
#include "testbed/testbed_keys.h"

namespace {

constexpr int kRuns = 5;
// Bound of one timed child; a run still going then is ended and counts as failed.
constexpr DWORD kTimedBoundMs = 60000;
// Bound of a service's way to a state it was asked for.
constexpr DWORD kServiceBoundMs = 30000;

int failures = 0;

void Fail(const std::string& what) {
  ++failures;
  std::printf("CHECK FAILED: %s\n", what.c_str());
  std::fflush(stdout);
}

double NowMs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

std::string Joined(const std::vector<double>& values, int decimals = 1) {
  std::string text;
  char number[32];
  for (double value : values) {
    std::snprintf(number, sizeof number, "%s%.*f", text.empty() ? "" : ", ", decimals, value);
    text += number;
  }
  return text;
}

// A timed child. Its standard handles go to NUL: taskkill's report would otherwise land in
// the figures' output, and the shipped programs write nothing anyway. A child still
// running when it goes away is ended.
class QuietChild {
 public:
  QuietChild() = default;
  ~QuietChild() {
    if (process_ == nullptr) return;
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_, wt::kTimedOut);
      WaitForSingleObject(process_, wt::kSettleBoundMs);
    }
    CloseHandle(process_);
  }
  QuietChild(const QuietChild&) = delete;
  QuietChild& operator=(const QuietChild&) = delete;

  bool Start(const std::string& commandLine, const std::string& workDir) {
    static HANDLE nul = [] {
      SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
      return CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         &inherited, OPEN_EXISTING, 0, nullptr);
    }();
    if (nul == INVALID_HANDLE_VALUE) return false;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = nul;
    startup.hStdError = nul;
    PROCESS_INFORMATION info = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    // Only the NUL handle is inheritable.
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        workDir.empty() ? nullptr : workDir.c_str(), &startup, &info))
      return false;
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    return true;
  }
  HANDLE Handle() const { return process_; }
  DWORD ExitCode() const {
    DWORD code = wt::kTimedOut;
    GetExitCodeProcess(process_, &code);
    return code;
  }

 private:
  HANDLE process_ = nullptr;
};

// A run from CreateProcess to the child's end; `ms` is negative if it did not start or
// had to be ended at the bound.
struct Timed {
  double ms = -1.0;
  DWORD exitCode = wt::kTimedOut;
};

Timed RunTimed(const std::string& commandLine, const std::string& workDir = "",
               DWORD boundMs = kTimedBoundMs) {
  Timed timed;
  QuietChild child;
  double begin = NowMs();
  if (!child.Start(commandLine, workDir)) {
    Fail("could not start " + commandLine + " (error " + std::to_string(GetLastError()) + ")");
    return timed;
  }
  if (WaitForSingleObject(child.Handle(), boundMs) != WAIT_OBJECT_0) {
    Fail("still running after " + std::to_string(boundMs) + " ms, ended: " + commandLine);
    return timed;
  }
  timed.ms = NowMs() - begin;
  timed.exitCode = child.ExitCode();
  return timed;
}

// Polls the service every millisecond until it is in `wanted`, at most `boundMs`.
bool PollState(SC_HANDLE service, DWORD wanted, DWORD boundMs) {
  double begin = NowMs();
  for (;;) {
    SERVICE_STATUS status = {};
    if (QueryServiceStatus(service, &status) && status.dwCurrentState == wanted) return true;
    if (NowMs() - begin > boundMs) return false;
    Sleep(1);
  }
}

// ---- Svcpilot.exe -installer against the stand-in service's own stop and start ----

constexpr char kClassKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
// The delays of the integration tests: the service as the program meets it there.
constexpr DWORD kStartDelayMs = 300;
constexpr DWORD kStopDelayMs = 200;

bool SeedAdapter(const std::string& subkey, const std::string& guid, DWORD flags) {
  std::string key = std::string(kClassKey) + "\\" + subkey;
  return wt::RegSetString(HKEY_LOCAL_MACHINE, key, "MatchingDeviceId", "PCI\\VEN_1D4A&DEV_3890") &&
         wt::RegSetString(HKEY_LOCAL_MACHINE, key, "NetCfgInstanceId", guid) &&
         wt::RegSetDword(HKEY_LOCAL_MACHINE, std::string(kInterfacesKey) + "\\" + guid,
                         kControlFlagsValue, flags);
}

bool InstallStandinService(const char* name) {
  const std::string binary = "C:\\bench\\services\\svcstandin.exe";
  if (!wt::FileExists(binary) && !wt::CopyFromBuild("svcstandin.exe", binary)) return false;
  std::string parameters = std::string("SYSTEM\\CurrentControlSet\\Services\\") + name + "\\Parameters";
  return wt::InstallService(name, binary + " " + name) &&
         wt::RegSetDword(HKEY_LOCAL_MACHINE, parameters, "StartDelayMs", kStartDelayMs) &&
         wt::RegSetDword(HKEY_LOCAL_MACHINE, parameters, "StopDelayMs", kStopDelayMs) &&
         wt::BringTo(name, SERVICE_STOPPED);
}

// The stand-in's stop and start driven from outside, each polled to its final state:
// what the switcher's sequence costs at the least.
double OutsideStopStart(const char* name) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = manager == nullptr ? nullptr
                                         : OpenServiceA(manager, name, SERVICE_START | SERVICE_STOP |
                                                                           SERVICE_QUERY_STATUS);
  double ms = -1.0;
  if (service != nullptr) {
    SERVICE_STATUS status = {};
    double begin = NowMs();
    if (ControlService(service, SERVICE_CONTROL_STOP, &status) &&
        PollState(service, SERVICE_STOPPED, kServiceBoundMs) && StartServiceA(service, 0, nullptr) &&
        PollState(service, SERVICE_RUNNING, kServiceBoundMs))
      ms = NowMs() - begin;
    CloseServiceHandle(service);
  }
  if (manager != nullptr) CloseServiceHandle(manager);
  if (ms < 0) Fail(std::string("outside stop and start of ") + name);
  return ms;
}

void BenchAirtoggle() {
  std::printf("\n### Svcpilot.exe -installer\n\n");
  const std::string system = wt::SystemDir();
  if (system.empty() || !wt::CopyFromBuild("Svcpilot.exe", system + "\\Svcpilot.exe") ||
      !wt::CopyFromBuild("radioapi.dll", system + "\\radioapi.dll")) {
    Fail("Svcpilot.exe and radioapi.dll copied into the system directory");
    return;
  }
  for (const char* name : {kZeroConfigService, kVendorService}) {
    if (!InstallStandinService(name)) {
      Fail(std::string("stand-in service ") + name + " installed and stopped");
      return;
    }
  }
  // The scene of the integration tests: the utility's recorded mode, two supported
  // adapters with their interface records, the vendor service stopped.
  if (!wt::RegSetDword(HKEY_LOCAL_MACHINE, kVendorSettingsKey, kUseZeroConfigValue, 0) ||
      !SeedAdapter("9100", "{0A1B2C3D-0000-4000-8000-0000000000B1}", 0x00000002u) ||
      !SeedAdapter("9101", "{0A1B2C3D-0000-4000-8000-0000000000B2}", 0x00810002u)) {
    Fail("scene seeded");
    return;
  }
  if (!wt::BringTo(kZeroConfigService, SERVICE_RUNNING)) {
    Fail("WZCSVC running before the first run");
    return;
  }
  const std::string commandLine = system + "\\Svcpilot.exe -installer";
  std::vector<double> outside;
  std::vector<double> installer;
  for (int run = 1; run <= kRuns; ++run) {
    wt::RegDeleteTree(HKEY_LOCAL_MACHINE, TESTBED_SERVICE_KEY);
    outside.push_back(OutsideStopStart(kZeroConfigService));

    wt::RegDeleteTree(HKEY_LOCAL_MACHINE, TESTBED_SERVICE_KEY);
    DWORD before = 0xFFFFFFFFu;
    wt::RegGetDword(HKEY_LOCAL_MACHINE, kVendorSettingsKey, kUseZeroConfigValue, &before);
    Timed timed = RunTimed(commandLine);
    installer.push_back(timed.ms);
    DWORD after = 0xFFFFFFFFu;
    wt::RegGetDword(HKEY_LOCAL_MACHINE, kVendorSettingsKey, kUseZeroConfigValue, &after);
    std::string journal;
    wt::RegGetString(HKEY_LOCAL_MACHINE, TESTBED_SERVICE_KEY, "Journal", &journal);
    if (timed.exitCode != 0) Fail("Svcpilot.exe -installer exit code " + std::to_string(timed.exitCode));
    if (after != 1u - before) Fail("-installer switched the recorded mode (" + std::to_string(before) +
                                   " -> " + std::to_string(after) + ")");
    if (journal.rfind("WZCSVC stop\n", 0) != 0 || journal.find("WZCSVC start") == std::string::npos)
      Fail("-installer stopped and started WZCSVC (journal: " + journal + ")");
    if (wt::ServiceState(kZeroConfigService) != SERVICE_RUNNING) Fail("WZCSVC running after -installer");
  }
  wt::BringTo(kZeroConfigService, SERVICE_STOPPED);

  double medianInstaller = Median(installer);
  double medianOutside = Median(outside);
  std::printf("The stand-in WZCSVC takes %lu ms to start and %lu ms to stop (its Parameters); "
              "both runs end with it running. Five runs each, interleaved; medians.\n\n",
              static_cast<unsigned long>(kStartDelayMs), static_cast<unsigned long>(kStopDelayMs));
  std::printf("| what | median ms | runs ms |\n|---|---:|---|\n");
  std::printf("| `Svcpilot.exe -installer` (start to exit) | %.1f | %s |\n", medianInstaller,
              Joined(installer).c_str());
  std::printf("| stop + start from outside, polled every 1 ms | %.1f | %s |\n", medianOutside,
              Joined(outside).c_str());
  std::printf("| difference (start-up, 1 s timer, 100 ms polling) | %.1f | |\n",
              medianInstaller - medianOutside);
}

// ---- Quitpanel.exe against taskkill, among 50 other processes ----

constexpr int kBystanders = 50;
// A stand-in's lifetime (seconds), longer than this part takes.
constexpr char kLifetime[] = "300";

// Starts a stand-in copy and waits until it is fully started.
bool StartStandin(std::list<wt::Child>* started, const std::string& path) {
  if (!wt::FileExists(path) && !wt::CopyFromBuild("standin.exe", path)) return false;
  started->emplace_back();
  wt::Child& child = started->back();
  if (!child.Start("\"" + path + "\" " + kLifetime)) return false;
  DWORD pid = child.Pid();
  return wt::WaitUntil([pid] { return wt::ModulesListed(pid); }, wt::kSettleBoundMs);
}

// Runs the closer with Linkdesk.exe and Svcpilot.exe running and times it until it and
// both of them have ended.
double EndTargets(const std::string& dir, const std::string& closer, const char* label) {
  std::list<wt::Child> targets;
  if (!StartStandin(&targets, dir + "\\targets\\Linkdesk.exe") ||
      !StartStandin(&targets, dir + "\\targets\\Svcpilot.exe")) {
    Fail(std::string("targets started for ") + label);
    return -1.0;
  }
  QuietChild child;
  double begin = NowMs();
  if (!child.Start(closer, dir)) {
    Fail(std::string("could not start ") + label);
    return -1.0;
  }
  HANDLE all[] = {child.Handle(), targets.front().Handle(), targets.back().Handle()};
  DWORD waited = WaitForMultipleObjects(3, all, TRUE, kTimedBoundMs);
  double ms = NowMs() - begin;
  if (waited != WAIT_OBJECT_0) {
    Fail(std::string(label) + " did not end both targets within the bound");
    return -1.0;
  }
  if (child.ExitCode() != 0) Fail(std::string(label) + " exit code " + std::to_string(child.ExitCode()));
  return ms;
}

void BenchQuitpanel() {
  std::printf("\n### Quitpanel.exe against taskkill\n\n");
  const std::string dir = wt::ScratchDir("quitpanel");
  const std::string system = wt::SystemDir();
  if (!wt::CopyFromBuild("Quitpanel.exe", dir + "\\Quitpanel.exe") ||
      !wt::CopyFromBuild("setupstub.exe", dir + "\\startonly\\Startonly.exe")) {
    Fail("Quitpanel.exe and the start-only program copied");
    return;
  }
  std::list<wt::Child> bystanders;
  for (int n = 1; n <= kBystanders; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "\\others\\Other%02d.exe", n);
    if (!StartStandin(&bystanders, dir + name)) {
      Fail(std::string("bystander started: ") + name);
      return;
    }
  }
  const std::string quitpanel = "\"" + dir + "\\Quitpanel.exe\"";
  const std::string taskkill = system + "\\taskkill.exe /F /IM Linkdesk.exe /IM Svcpilot.exe";
  std::vector<double> quit;
  std::vector<double> kill;
  std::vector<double> ratios;
  std::vector<double> startOnly;
  for (int run = 1; run <= kRuns; ++run) {
    quit.push_back(EndTargets(dir, quitpanel, "Quitpanel.exe"));
    kill.push_back(EndTargets(dir, taskkill, "taskkill"));
    if (quit.back() > 0 && kill.back() > 0) ratios.push_back(quit.back() / kill.back());
    startOnly.push_back(RunTimed("\"" + dir + "\\startonly\\Startonly.exe\"").ms);
  }
  int running = 0;
  for (const wt::Child& child : bystanders) running += child.Running() ? 1 : 0;
  if (running != kBystanders) Fail(std::to_string(kBystanders - running) + " bystanders were ended");

  std::printf("Linkdesk.exe and Svcpilot.exe (stand-in copies) among %d other running stand-ins; "
              "timed from the start of the closer until it and both targets have ended. Five runs "
              "each, interleaved.\n\n",
              kBystanders);
  std::printf("| what | median ms | runs ms |\n|---|---:|---|\n");
  std::printf("| `Quitpanel.exe` | %.1f | %s |\n", Median(quit), Joined(quit).c_str());
  std::printf("| `taskkill /F /IM Linkdesk.exe /IM Svcpilot.exe` | %.1f | %s |\n", Median(kill),
              Joined(kill).c_str());
  std::printf("| ratio Quitpanel / taskkill (median of the paired runs) | %.2f | %s |\n",
              Median(ratios), Joined(ratios, 2).c_str());
  std::printf("| for scale: a GUI program that starts and ends (the stand-in setup program) | %.1f | %s |\n",
              Median(startOnly), Joined(startOnly).c_str());
}

// ---- Pakrun.exe's static section against the INF installer called directly ----

constexpr int kSizes[] = {25, 50, 100, 200, 400};
constexpr char kStaticKey[] = "SOFTWARE\\AdapterBench\\Static";

std::string EntryLines(int count) {
  std::string text;
  char line[200];
  for (int n = 1; n <= count; ++n) {
    std::snprintf(line, sizeof line,
                  "ADDREG%d_ROOT=HKLM\r\nADDREG%d_SUBKEY=%s\r\nADDREG%d_ENTRYNAME=Entry%d\r\n"
                  "ADDREG%d_FLAGS=0x00010001\r\nADDREG%d_VALUE=%d\r\n",
                  n, n, kStaticKey, n, n, n, n, n);
    text += line;
  }
  return text;
}

// The INF text Pakrun writes for those entries (pakrun/inf_files.cpp), in text mode.
std::string InfText(int count) {
  std::string text = "[Version]\r\nsignature=\"$CHICAGO$\"\r\n\r\n[DefaultInstall]\r\nAddReg = Add.reg\r\n"
                     "\r\n[Add.reg]\r\n";
  char line[200];
  for (int n = 1; n <= count; ++n) {
    std::snprintf(line, sizeof line, "HKLM, \"%s\",\"Entry%d\",0x00010001,%d\r\n", kStaticKey, n, n);
    text += line;
  }
  return text;
}

// True if the key holds exactly `count` values, the first and last as written.
bool EntriesApplied(int count) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kStaticKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD values = 0;
  bool ok = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                             nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
            values == static_cast<DWORD>(count);
  RegCloseKey(key);
  DWORD first = 0;
  DWORD last = 0;
  return ok && wt::RegGetDword(HKEY_LOCAL_MACHINE, kStaticKey, "Entry1", &first) && first == 1u &&
         wt::RegGetDword(HKEY_LOCAL_MACHINE, kStaticKey, "Entry" + std::to_string(count), &last) &&
         last == static_cast<DWORD>(count);
}

// One timed run of Pakrun with the settings given; every run starts from no key.
double PakrunRun(const std::string& dir, const std::string& settings, int entries) {
  wt::RegDeleteTree(HKEY_LOCAL_MACHINE, kStaticKey);
  DeleteFileA((dir + "\\Setup.exe.log").c_str());
  if (!wt::WriteFile(dir + "\\Pakrun.ini", settings)) {
    Fail("Pakrun.ini written");
    return -1.0;
  }
  Timed timed = RunTimed("\"" + dir + "\\Pakrun.exe\"", dir);
  if (timed.exitCode != 1) Fail("Pakrun.exe exit code " + std::to_string(timed.exitCode));
  if (!wt::FileExists(dir + "\\Setup.exe.log")) Fail("Pakrun.exe started Setup.exe");
  if (entries > 0 && !EntriesApplied(entries))
    Fail("Pakrun.exe applied " + std::to_string(entries) + " entries");
  if (entries == 0 && wt::RegKeyExists(HKEY_LOCAL_MACHINE, kStaticKey)) Fail("the run without the section wrote no key");
  return timed.ms;
}

double DirectRun(const std::string& installer, const std::string& inf, int entries) {
  wt::RegDeleteTree(HKEY_LOCAL_MACHINE, kStaticKey);
  Timed timed = RunTimed(installer + " setupapi,InstallHinfSection DefaultInstall 132 " + inf);
  if (timed.exitCode != 0) Fail("rundll32 exit code " + std::to_string(timed.exitCode));
  if (!EntriesApplied(entries)) Fail("rundll32 applied " + std::to_string(entries) + " entries");
  return timed.ms;
}

// Runs Pakrun once, untimed, and returns the bytes of the StaticAddDel.inf it wrote: the
// file is opened here first with every sharing allowed, so Pakrun's truncating open, its
// writes and its delete all go through, and the text is still readable through this
// handle after Pakrun has ended.
std::string CapturedInf(const std::string& dir, const std::string& settings, const std::string& infPath) {
  std::string text;
  HANDLE file = CreateFileA(infPath.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  wt::RegDeleteTree(HKEY_LOCAL_MACHINE, kStaticKey);
  if (wt::WriteFile(dir + "\\Pakrun.ini", settings)) {
    Timed timed = RunTimed("\"" + dir + "\\Pakrun.exe\"", dir);
    char buffer[4096];
    DWORD read = 0;
    if (timed.ms >= 0 && SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0) {
      while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
    }
  }
  CloseHandle(file);
  DeleteFileA(infPath.c_str());
  return text;
}

void BenchPakrun() {
  std::printf("\n### Pakrun.exe, static section\n\n");
  const std::string dir = wt::ScratchDir("pakrun");
  const std::string windows = wt::WindowsDir();
  char temp[MAX_PATH] = {};
  DWORD tempLength = GetTempPathA(sizeof temp, temp);
  if (!wt::CopyFromBuild("Pakrun.exe", dir + "\\Pakrun.exe") ||
      !wt::CopyFromBuild("setupstub.exe", dir + "\\Setup.exe") || windows.empty() || tempLength == 0 ||
      tempLength >= sizeof temp) {
    Fail("Pakrun.exe, Setup.exe, the Windows and TEMP directories");
    return;
  }
  // Where Pakrun writes its StaticAddDel.inf: the direct call reads its file from there too.
  const std::string inf = std::string(temp) + "BenchDirect.inf";
  const std::string installer = windows + "\\System32\\rundll32.exe";
  const std::string params = "[PARAMS]\r\nSWAPCMD=0\r\nSTATICREG=1\r\n";

  struct Row {
    int entries;
    double with, without, direct;
    std::vector<double> withRuns, withoutRuns, directRuns;
  };
  std::vector<Row> rows;
  for (int entries : kSizes) {
    Row row{entries, 0, 0, 0, {}, {}, {}};
    const std::string settings =
        params + "\r\n[STATICREG]\r\nADDREG=" + std::to_string(entries) + "\r\n" + EntryLines(entries);
    // The direct call gets the very text Pakrun wrote for the section.
    std::string text = CapturedInf(dir, settings, std::string(temp) + "StaticAddDel.inf");
    if (text != InfText(entries)) {
      Fail("the INF Pakrun wrote for " + std::to_string(entries) + " entries (" +
           std::to_string(text.size()) + " bytes) is the one expected");
      if (text.empty()) text = InfText(entries);
    }
    if (!wt::WriteFile(inf, text)) {
      Fail("direct INF written");
      return;
    }
    for (int run = 1; run <= kRuns; ++run) {
      row.withoutRuns.push_back(PakrunRun(dir, params, 0));
      row.withRuns.push_back(PakrunRun(dir, settings, entries));
      row.directRuns.push_back(DirectRun(installer, inf, entries));
    }
    DeleteFileA(inf.c_str());
    row.with = Median(row.withRuns);
    row.without = Median(row.withoutRuns);
    row.direct = Median(row.directRuns);
    rows.push_back(row);
  }
  wt::RegDeleteTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\AdapterBench");

  std::printf("Settings `SWAPCMD=0` (the stand-in setup program as Setup.exe) and `STATICREG=1`, "
              "with a `[STATICREG]` section of N `ADDREG` entries (REG_DWORD values under one key, "
              "absent before each run) or without one; the direct call is `rundll32.exe "
              "setupapi,InstallHinfSection DefaultInstall 132 <inf>` on the INF text Pakrun wrote "
              "for the section (caught in an untimed run). Five runs of each per size, interleaved; medians in ms. "
              "\"Section\" is Pakrun with the section minus Pakrun without it: reading the "
              "settings, writing the INF, and the installer's run. \"Marginal\" is the growth "
              "from the size before, per added entry.\n\n");
  std::printf("| N | Pakrun with | Pakrun without | section | direct rundll32 | section - direct | "
              "section per entry | direct per entry | marginal section | marginal direct |\n"
              "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    double section = row.with - row.without;
    char marginalSection[32] = "";
    char marginalDirect[32] = "";
    if (i > 0) {
      const Row& previous = rows[i - 1];
      double added = row.entries - previous.entries;
      std::snprintf(marginalSection, sizeof marginalSection, "%.3f",
                    (section - (previous.with - previous.without)) / added);
      std::snprintf(marginalDirect, sizeof marginalDirect, "%.3f", (row.direct - previous.direct) / added);
    }
    std::printf("| %d | %.1f | %.1f | %.1f | %.1f | %.1f | %.3f | %.3f | %s | %s |\n", row.entries,
                row.with, row.without, section, row.direct, section - row.direct, section / row.entries,
                row.direct / row.entries, marginalSection, marginalDirect);
  }
  std::printf("\nRuns (ms), per N: with / without / direct\n\n");
  for (const Row& row : rows)
    std::printf("- %d: %s / %s / %s\n", row.entries, Joined(row.withRuns).c_str(),
                Joined(row.withoutRuns).c_str(), Joined(row.directRuns).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  bool all = argc < 2;
  auto wanted = [&](const char* part) {
    if (all) return true;
    for (int i = 1; i < argc; ++i) {
      if (std::strcmp(argv[i], part) == 0) return true;
    }
    return false;
  };
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  std::printf("Timed inside the prefix with QueryPerformanceCounter (%lld Hz).\n",
              static_cast<long long>(frequency.QuadPart));
  if (wanted("airtoggle")) BenchAirtoggle();
  if (wanted("quitpanel")) BenchQuitpanel();
  if (wanted("pakrun")) BenchPakrun();
  if (failures > 0) std::printf("\n%d check(s) failed: the figures above are not to be trusted.\n", failures);
  std::fflush(stdout);
  return failures > 0 ? 1 : 0;
}
