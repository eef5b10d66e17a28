// The demo driver: one adapter's life cycle in the Wine prefix it runs in. Pakrun installs
// the driver, Airtoggle hands the adapter to the zero-configuration service and back,
// Quitpanel ends the vendor utility and the switcher, Scrubnet removes the driver. Each
// program is the real executable, started with the command line shown; after each step a
// table shows what it changed.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "airtoggle/managers.h"
#include "testbed/support/devices.h"
#include "testbed/support/services.h"
#include "testbed/support/support.h"
#include "testbed/testbed_keys.h"

namespace {

// --- The cast --------------------------------------------------------------------------

const std::string kNetClassKey =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
// The adapter, as the PCI bus reports it, and an earlier card of the same chipset (an older
// revision) that was taken out of the machine and left its device instance behind.
const std::string kHardwareId = "PCI\\VEN_1D4A&DEV_7403&SUBSYS_00011D4A";
const std::string kAdapter = kHardwareId + "&REV_01\\4&2A5F3C1E&0&00E1";
const std::string kStaleId = kHardwareId + "&REV_00";
const std::string kStale = kStaleId + "\\4&2A5F3C1E&0&00D8";
// What the driver's setup gives the adapter: its driver key, its interface and the files.
const std::string kDriverName = "{4D36E972-E325-11CE-BFC1-08002BE10318}\\0007";
const std::string kDriverKey = "SYSTEM\\CurrentControlSet\\Control\\Class\\" + kDriverName;
const std::string kInterfaceGuid = "{5E1F0C2A-7403-4D4A-9C1E-00E1A0000001}";
const std::string kInfBase = "oem7";
const std::string kCatRoot = "CatRoot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}";

const std::string kPackageDir = "C:\\Driver Package";
const std::string kUtilityKey = "SOFTWARE\\Korvell\\Linkdesk";
const std::string kUtilityDir = "C:\\Program Files\\Korvell\\Linkdesk";
const std::string kStandinDir = "C:\\Stand-ins";
const char kRadioName[] = "KV7403";

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
  return text;
}

std::string Seconds(DWORD ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
    at = end + 1;
  }
  return lines;
}

// --- What the tables show ----------------------------------------------------------------

const char kNone[] = "-";

// A registry value under HKLM: a number in decimal (or hex), a text in quotes, or "-".
std::string Value(const std::string& key, const std::string& name, bool hex = false) {
  DWORD number = 0;
  std::string text;
  if (wt::RegGetDword(HKEY_LOCAL_MACHINE, key, name, &number)) return hex ? Hex(number) : std::to_string(number);
  if (wt::RegGetString(HKEY_LOCAL_MACHINE, key, name, &text)) return "\"" + text + "\"";
  return kNone;
}

std::string Key(const std::string& key) {
  return wt::RegKeyExists(HKEY_LOCAL_MACHINE, key) ? "present" : kNone;
}

std::string File(const std::string& path) { return wt::FileExists(path) ? "present" : kNone; }

std::string Device(const std::string& instanceId) {
  if (!wt::DeviceInstalled(instanceId)) return kNone;
  std::string driver = wt::DeviceDriver(instanceId);
  if (driver.empty()) return "installed, no driver";
  return "installed, driver " + driver.substr(driver.rfind('\\') + 1);
}

// The lines the service stand-ins appended to their journal since it was last cleared.
std::vector<std::string> Journal() {
  std::string text;
  wt::RegGetString(HKEY_LOCAL_MACHINE, TESTBED_SERVICE_KEY, "Journal", &text);
  return Lines(text);
}

// A stand-in service's state, with what happened to it since the journal was cleared.
std::string Service(const char* name) {
  std::string state;
  switch (wt::ServiceState(name)) {
    case 0: return kNone;
    case SERVICE_RUNNING: state = "running"; break;
    case SERVICE_STOPPED: state = "stopped"; break;
    default: state = "pending"; break;
  }
  std::string events;
  const std::string prefix = std::string(name) + " ";
  for (const std::string& line : Journal()) {
    if (line.rfind(prefix, 0) != 0) continue;
    events += events.empty() ? "" : ", ";
    events += line.compare(prefix.size(), 5, "start") == 0 ? "started" : "stopped";
  }
  return events.empty() ? state : state + " (" + events + ")";
}

// The adapter's "ControlFlags" as the zero-configuration service found them at each start.
std::string FlagsTakenUp() {
  std::string flags;
  const std::string prefix = std::string(kZeroConfigService) + " start";
  const std::string entry = kInterfaceGuid + "=";
  for (const std::string& line : Journal()) {
    std::size_t at = line.find(entry);
    if (line.rfind(prefix, 0) != 0 || at == std::string::npos) continue;
    flags += (flags.empty() ? "" : ", ") + line.substr(at + entry.size(), 10);
  }
  return flags.empty() ? kNone : flags;
}

std::string Signalled() {
  std::string text;
  wt::RegGetString(HKEY_LOCAL_MACHINE, TESTBED_RADIO_KEY, "Signalled", &text);
  std::string shown;
  for (const std::string& line : Lines(text)) {
    std::size_t blank = line.rfind(' ');
    shown += (shown.empty() ? "" : ", ") + line.substr(0, blank) + ": option " + line.substr(blank + 1);
  }
  return shown.empty() ? kNone : shown;
}

std::string Process(const wt::Child& child) {
  if (child.Handle() == nullptr) return kNone;
  if (child.Running()) return "running, pid " + std::to_string(child.Pid());
  return "ended, exit code " + std::to_string(child.ExitCode());
}

// Rows of things to look at, read at each snapshot; printed grouped, each row only when
// its text differs between snapshots or it is marked as always shown.
class Table {
 public:
  void Group(const std::string& title) { group_ = title; }
  void Row(const std::string& name, std::function<std::string()> read, const std::string& by = "",
           bool always = false) {
    rows_.push_back({group_, name, std::move(read), by, always, {}});
  }
  void Snapshot(const std::string& heading) {
    headings_.push_back(heading);
    for (RowData& row : rows_) row.texts.push_back(row.read());
  }

  void Print() const {
    std::vector<const RowData*> shown;
    for (const RowData& row : rows_) {
      bool changed = false;
      for (const std::string& text : row.texts) changed = changed || text != row.texts.front();
      if (changed || row.always) shown.push_back(&row);
    }
    if (shown.empty()) {
      std::printf("   (nothing changed)\n");
      return;
    }
    std::size_t nameWidth = 4;
    std::vector<std::size_t> widths;
    for (const std::string& heading : headings_) widths.push_back(heading.size());
    bool anyBy = false;
    for (const RowData* row : shown) {
      nameWidth = std::max(nameWidth, row->name.size() + 2);
      for (std::size_t i = 0; i < row->texts.size(); ++i) widths[i] = std::max(widths[i], row->texts[i].size());
      anyBy = anyBy || !row->by.empty();
    }
    std::string line = "   " + Pad("", nameWidth);
    for (std::size_t i = 0; i < headings_.size(); ++i) line += "  " + Pad(headings_[i], widths[i]);
    if (anyBy) line += "  by";
    std::printf("%s\n", Trimmed(line).c_str());
    std::string group;
    for (const RowData* row : shown) {
      if (row->group != group) {
        group = row->group;
        std::printf("   %s\n", group.c_str());
      }
      line = "   " + Pad("  " + row->name, nameWidth);
      for (std::size_t i = 0; i < row->texts.size(); ++i) line += "  " + Pad(row->texts[i], widths[i]);
      if (anyBy) line += "  " + row->by;
      std::printf("%s\n", Trimmed(line).c_str());
    }
  }

 private:
  struct RowData {
    std::string group;
    std::string name;
    std::function<std::string()> read;
    std::string by;
    bool always;
    std::vector<std::string> texts;
  };
  static std::string Pad(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
  }
  static std::string Trimmed(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  }

  std::string group_;
  std::vector<RowData> rows_;
  std::vector<std::string> headings_;
};

void Heading(const char* title) { std::printf("\n== %s ==\n", title); }

bool Copy(const std::string& name, const std::string& target) {
  if (wt::CopyFromBuild(name, target)) return true;
  std::printf("   could not copy %s to %s (error %lu)\n", wt::SourceOf(name).c_str(), target.c_str(),
              static_cast<unsigned long>(GetLastError()));
  return false;
}

// Runs a program to its end (bounded); prints the command line, its exit code and time.
DWORD RunShown(const std::string& commandLine, const char* note = "") {
  DWORD begin = GetTickCount();
  wt::RunResult result = wt::RunBounded(commandLine);
  DWORD elapsed = GetTickCount() - begin;
  std::printf("   started: %s\n", commandLine.c_str());
  if (!result.started)
    std::printf("            could not start it (error %lu)\n", static_cast<unsigned long>(result.error));
  else if (result.ended)
    std::printf("            still running after %s: ended\n", Seconds(wt::kRunBoundMs).c_str());
  else
    std::printf("            exit code %lu after %s%s\n", static_cast<unsigned long>(result.exitCode),
                Seconds(elapsed).c_str(), note);
  return result.exitCode;
}

std::string WindowsDir() { return wt::WindowsDir(); }
std::string SystemDir() { return wt::SystemDir(); }

// The suffix Pakrun picks its per-device section by; the demo is told the same Windows
// version as the programs it starts.
std::string OsSuffix() {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&info) || info.dwPlatformId != VER_PLATFORM_WIN32_NT || info.dwMajorVersion != 5)
    return "_ELSE";
#pragma GCC diagnostic pop
  switch (info.dwMinorVersion) {
    case 0: return "_2000";
    case 1: return "_XP";
    case 2: return "_2003";
    default: return "_ELSE";
  }
}

// Prints the settings file one section a line, wrapped.
void ShowSettings(const std::vector<std::string>& settings) {
  constexpr std::size_t kWidth = 100;
  std::printf("   Pakrun.ini beside it:\n");
  std::string shown;
  auto flush = [&shown] {
    if (!shown.empty()) std::printf("%s\n", shown.c_str());
    shown.clear();
  };
  for (const std::string& line : settings) {
    if (line[0] == '[') {
      flush();
      shown = "     " + line;
    } else if (shown.size() + 1 + line.size() > kWidth) {
      flush();
      shown = "         " + line;
    } else {
      shown += " " + line;
    }
  }
  flush();
}

// The adapter's files as the driver's setup installs them.
std::vector<std::pair<std::string, std::string>> DriverFiles() {
  const std::string w = WindowsDir();
  const std::string s = SystemDir();
  return {{w + "\\inf", kInfBase + ".inf"},
          {w + "\\inf", kInfBase + ".PNF"},
          {s + "\\" + kCatRoot, kInfBase + ".CAT"},
          {s + "\\drivers", "kv7403.sys"}};
}

void FileRows(Table* table, const std::string& by) {
  for (const auto& file : DriverFiles()) {
    table->Group(file.first);
    const std::string path = file.first + "\\" + file.second;
    table->Row(file.second, [path] { return File(path); }, by);
  }
}

void DeviceRows(Table* table, const std::string& adapterBy, const std::string& staleBy) {
  table->Group("devices (network class)");
  table->Row("the adapter", [] { return Device(kAdapter); }, adapterBy);
  table->Row("the earlier card", [] { return Device(kStale); }, staleBy, true);
}

// --- The machine before the package ----------------------------------------------------------

void StageMachine() {
  // The hardware: the adapter is present without a driver; the earlier card's instance is
  // still installed though the card is gone.
  wt::CreateDevice(kAdapter, {kHardwareId + "&REV_01", kHardwareId}, "");
  wt::CreateDevice(kStale, {kStaleId}, "");
  // An older version of the vendor utility left a value its successor no longer reads.
  wt::RegSetString(HKEY_LOCAL_MACHINE, kVendorSettingsKey, "LegacyProfiles", "3");
}

// --- 1. Pakrun installs ----------------------------------------------------------------------

// What a real setup program does for this adapter and the stand-in does not: the driver
// key, the installed INF with its PNF and catalog, the driver file, the device's driver.
void InstallDriverAsSetupWould() {
  wt::RegSetString(HKEY_LOCAL_MACHINE, kDriverKey, "DriverDesc", "Korvell KV7403 Wireless LAN Adapter");
  wt::RegSetString(HKEY_LOCAL_MACHINE, kDriverKey, "ComponentId", "pci\\ven_1d4a&dev_7403&subsys_00011d4a");
  wt::RegSetString(HKEY_LOCAL_MACHINE, kDriverKey, "MatchingDeviceId", "pci\\ven_1d4a&dev_7403&subsys_00011d4a");
  wt::RegSetString(HKEY_LOCAL_MACHINE, kDriverKey, "InfPath", kInfBase + ".inf");
  wt::RegSetString(HKEY_LOCAL_MACHINE, kDriverKey, "NetCfgInstanceId", kInterfaceGuid);
  for (const auto& file : DriverFiles()) wt::WriteFile(file.first + "\\" + file.second, "KV7403\r\n");
  wt::SetDeviceDriver(kAdapter, kDriverName);
}

void StepPakrun() {
  Heading("1. Pakrun.exe installs the driver");
  const std::string suffix = OsSuffix();
  const std::string section = "DRIVERREG_" + kHardwareId + suffix;
  Copy("Pakrun.exe", kPackageDir + "\\Pakrun.exe");
  Copy("setupstub.exe", kPackageDir + "\\Setup.exe");
  const std::vector<std::string> settings = {
      "[PARAMS]", "CLEANUP=1", "STATICREG=1", "STATICREGFROMFILE=1", "DRIVERREG=1",
      "[CLEANUP]", "CLEANCOUNT=1", "DEV1=" + kStaleId,
      "[STATICREG]", "ADDREG=1", "DELREG=1",
      "ADDREG1_ROOT=HKLM", "ADDREG1_SUBKEY=" + std::string(kVendorSettingsKey),
      "ADDREG1_ENTRYNAME=" + std::string(kUseZeroConfigValue), "ADDREG1_FLAGS=0x00010001", "ADDREG1_VALUE=0",
      "DELREG1_ROOT=HKLM", "DELREG1_SUBKEY=" + std::string(kVendorSettingsKey), "DELREG1_ENTRYNAME=LegacyProfiles",
      "[DRIVERREG]", "NIC=1", "DEV1=" + kHardwareId,
      "[" + section + "]", "ADDREG=1",
      "ADDREG1_ENTRYNAME=PowerSaveMode", "ADDREG1_FLAGS=0x00010001", "ADDREG1_VALUE=0"};
  std::string ini;
  for (const std::string& line : settings) ini += line + "\r\n";
  wt::WriteFile(kPackageDir + "\\Pakrun.ini", ini);
  std::string utilityDir;
  for (char c : kUtilityDir) utilityDir += c == '\\' ? std::string("\\\\") : std::string(1, c);
  wt::WriteFile(kPackageDir + "\\Pakrun.reg", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\" + kUtilityKey +
                                                  "]\r\n\"InstallDir\"=\"" + utilityDir + "\"\r\n");

  const std::string script = "[HKEY_LOCAL_MACHINE\\" + kUtilityKey + "] \"InstallDir\"=\"" + utilityDir + "\"";

  Table table;
  DeviceRows(&table, "setup", "[CLEANUP] DEV1");
  table.Group("HKLM\\" + kDriverKey + "  (the adapter's driver key)");
  table.Row("ComponentId", [] { return Value(kDriverKey, "ComponentId"); }, "setup");
  table.Row("MatchingDeviceId", [] { return Value(kDriverKey, "MatchingDeviceId"); }, "setup");
  table.Row("NetCfgInstanceId", [] { return Value(kDriverKey, "NetCfgInstanceId"); }, "setup");
  table.Row("InfPath", [] { return Value(kDriverKey, "InfPath"); }, "setup");
  table.Row("PowerSaveMode", [] { return Value(kDriverKey, "PowerSaveMode"); }, "[DRIVERREG_<ID>" + suffix + "] ADDREG1");
  FileRows(&table, "setup");
  table.Group("HKLM\\" + std::string(kVendorSettingsKey));
  table.Row(kUseZeroConfigValue, [] { return Value(kVendorSettingsKey, kUseZeroConfigValue); }, "[STATICREG] ADDREG1");
  table.Row("LegacyProfiles", [] { return Value(kVendorSettingsKey, "LegacyProfiles"); }, "[STATICREG] DELREG1");
  table.Group("HKLM\\" + kUtilityKey);
  table.Row("InstallDir", [] { return Value(kUtilityKey, "InstallDir"); }, "Pakrun.reg");
  table.Snapshot("before");

  // The stand-in waits while its hold file exists: the demo installs the driver in its
  // place, then lets it end.
  const std::string setup = kPackageDir + "\\Setup.exe";
  const std::string hold = setup + ".hold";
  wt::WriteFile(hold, "");
  const std::string command = "\"" + kPackageDir + "\\Pakrun.exe\" -s";
  DWORD begin = GetTickCount();
  wt::Child pakrun;
  DWORD code = wt::kTimedOut;
  bool started = pakrun.Start(command);
  DWORD startError = started ? 0 : GetLastError();
  bool setupRan = started && wt::WaitUntil([&setup] { return !wt::ReadFile(setup + ".log").empty(); },
                                           wt::kSettleBoundMs);
  if (setupRan) InstallDriverAsSetupWould();
  DeleteFileA(hold.c_str());
  bool ended = started && pakrun.WaitExit(wt::kRunBoundMs, &code);
  DWORD elapsed = GetTickCount() - begin;
  table.Snapshot("after");

  std::printf("   started: %s\n", command.c_str());
  if (!started)
    std::printf("            could not start it (error %lu)\n", static_cast<unsigned long>(startError));
  else if (!ended)
    std::printf("            still running after %s: ended\n", Seconds(wt::kRunBoundMs).c_str());
  else
    std::printf("            exit code %lu after %s\n", static_cast<unsigned long>(code), Seconds(elapsed).c_str());
  ShowSettings(settings);
  std::printf("   Pakrun.reg beside it: REGEDIT4 %s\n", script.c_str());
  for (const std::string& line : Lines(wt::ReadFile(setup + ".log")))
    std::printf("   Setup.exe got: %s\n", line.c_str());
  if (!setupRan) std::printf("   Setup.exe was not started\n");
  std::printf("   (Setup.exe is the stand-in setupstub.exe, which only records its command line; while it\n"
              "   ran, the demo installed the driver in its place: the rows by \"setup\".)\n");
  table.Print();
  if (Device(kStale) != kNone)
    std::printf("   The earlier card stays: Wine lists every installed device as present (it ignores\n"
                "   DIGCF_PRESENT), so [CLEANUP] finds it present and leaves it. Windows lists it as absent\n"
                "   and Pakrun removes it there.\n");
}

// --- 2. Airtoggle hands the adapter over and back ---------------------------------------------

void StepAirtoggle() {
  Heading("2. Svcpilot.exe (Airtoggle) hands the adapter to the zero-configuration service and back");
  const std::string system = SystemDir();
  Copy("Svcpilot.exe", system + "\\Svcpilot.exe");
  Copy("radioapi.dll", system + "\\radioapi.dll");
  const std::string service = kStandinDir + "\\svcstandin.exe";
  Copy("svcstandin.exe", service);
  for (const char* name : {kZeroConfigService, kVendorService}) {
    const std::string parameters = std::string("SYSTEM\\CurrentControlSet\\Services\\") + name + "\\Parameters";
    wt::InstallService(name, service + " " + name);
    wt::RegSetDword(HKEY_LOCAL_MACHINE, parameters, "StartDelayMs", 100);
    wt::RegSetDword(HKEY_LOCAL_MACHINE, parameters, "StopDelayMs", 100);
    if (!wt::BringTo(name, SERVICE_RUNNING)) std::printf("   %s did not start\n", name);
  }
  // The zero-configuration service's record of the adapter's interface, while the vendor
  // utility manages it; one radio adapter in the vendor library.
  const std::string record = std::string(kInterfacesKey) + "\\" + kInterfaceGuid;
  wt::RegSetDword(HKEY_LOCAL_MACHINE, record, kControlFlagsValue, 0x00810002u);
  wt::RegSetString(HKEY_LOCAL_MACHINE, std::string(TESTBED_RADIO_KEY) + "\\0", "Name", kRadioName);
  wt::RegSetDword(HKEY_LOCAL_MACHINE, std::string(TESTBED_RADIO_KEY) + "\\0", "Code", 101);
  std::printf("   stand-ins: svcstandin.exe registered as the services WZCSVC and KVX, both running;\n"
              "   radioapi.dll (the vendor library's stand-in) beside Svcpilot.exe, with one radio %s\n",
              kRadioName);

  auto clearRecords = [] {
    wt::RegDeleteTree(HKEY_LOCAL_MACHINE, TESTBED_SERVICE_KEY);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, TESTBED_RADIO_KEY, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
      RegDeleteValueA(key, "Signalled");
      RegCloseKey(key);
    }
  };
  const std::string toZeroConfig = system + "\\Svcpilot.exe -Airtoggle";
  const std::string back = system + "\\Svcpilot.exe -EnableLinkdesk";
  Table table;
  table.Group("HKLM\\" + std::string(kVendorSettingsKey));
  table.Row(kUseZeroConfigValue, [] { return Value(kVendorSettingsKey, kUseZeroConfigValue); });
  table.Group("HKLM\\" + record);
  table.Row(kControlFlagsValue, [record] { return Value(record, kControlFlagsValue, true); });
  table.Row("at WZCSVC's start", [] { return FlagsTakenUp(); });
  table.Group("services (svcstandin.exe)");
  table.Row(kZeroConfigService, [] { return Service(kZeroConfigService); }, "", true);
  table.Row(kVendorService, [] { return Service(kVendorService); }, "", true);
  table.Group("radioapi.dll (stand-in)");
  table.Row("SetControlOption", [] { return Signalled(); });

  clearRecords();
  table.Snapshot("before");
  RunShown(toZeroConfig, " (its 4 s wait for the vendor service included)");
  table.Snapshot("after -Airtoggle");
  clearRecords();
  RunShown(back);
  table.Snapshot("after -EnableLinkdesk");
  table.Print();
}

// --- 3. Quitpanel ends the utility and the switcher ---------------------------------------------

void StepQuitpanel() {
  Heading("3. Quitpanel.exe ends the vendor utility and the switcher");
  Copy("Quitpanel.exe", kPackageDir + "\\Quitpanel.exe");
  const std::string linkdesk = kUtilityDir + "\\Linkdesk.exe";
  const std::string svcpilot = kStandinDir + "\\Svcpilot.exe";
  Copy("standin.exe", linkdesk);
  Copy("standin.exe", svcpilot);
  wt::Child utility;
  wt::Child switcher;
  const std::pair<wt::Child*, const std::string*> toStart[] = {{&utility, &linkdesk}, {&switcher, &svcpilot}};
  for (const auto& started : toStart) {
    wt::Child* child = started.first;
    if (!child->Start("\"" + *started.second + "\" 60")) {
      std::printf("   could not start %s\n", started.second->c_str());
      continue;
    }
    DWORD pid = child->Pid();
    wt::WaitUntil([pid] { return wt::ModulesListed(pid); }, wt::kSettleBoundMs);
  }
  std::printf("   stand-ins: standin.exe running as %s and as %s\n", linkdesk.c_str(), svcpilot.c_str());

  Table table;
  table.Group("processes");
  table.Row("Linkdesk.exe", [&utility] { return Process(utility); });
  table.Row("Svcpilot.exe", [&switcher] { return Process(switcher); });
  table.Snapshot("before");
  RunShown("\"" + kPackageDir + "\\Quitpanel.exe\"");
  for (wt::Child* child : {&utility, &switcher}) {
    if (child->Handle() != nullptr) WaitForSingleObject(child->Handle(), wt::kSettleBoundMs);
  }
  table.Snapshot("after");
  table.Print();
}

// --- 4. Scrubnet removes the driver --------------------------------------------------------------

void StepScrubnet() {
  Heading("4. Scrubnet.exe removes the driver");
  Copy("Scrubnet.exe", kPackageDir + "\\Scrubnet.exe");
  Table table;
  const std::string removal = "DIF_REMOVE: its instance ID begins PCI\\VEN_1D4A";
  DeviceRows(&table, removal, removal);
  table.Group("HKLM\\" + kNetClassKey);
  table.Row("0007", [] { return Key(kDriverKey); }, "with the adapter: its DIF_REMOVE deletes its driver key", true);
  const char* const reasons[] = {"InfPath of 0007 (ComponentId pci\\ven_1d4a...)", "the INF's PNF",
                                 "the INF's catalog", "the driver file"};
  const auto files = DriverFiles();
  for (std::size_t i = 0; i < files.size(); ++i) {
    table.Group(files[i].first);
    const std::string path = files[i].first + "\\" + files[i].second;
    table.Row(files[i].second, [path] { return File(path); }, reasons[i]);
  }
  table.Snapshot("before");
  RunShown("\"" + kPackageDir + "\\Scrubnet.exe\"");
  table.Snapshot("after");
  table.Print();
}

}  // namespace

int main() {
  DWORD begin = GetTickCount();
  std::printf("One adapter's life cycle in a throwaway %d-bit Wine prefix: the package installs its driver,\n"
              "the switcher hands it over and back, the utility is closed and the driver removed.\n",
              static_cast<int>(sizeof(void*) * 8));
  const std::string shipped = wt::SourceOf("Pakrun.exe");
  std::printf("Programs: %s (%s), started for real.\n", shipped.substr(0, shipped.rfind('\\')).c_str(),
              wt::SourceOf("Pakrun.exe") == wt::BuildDir() + "\\Pakrun.exe" ? "built with the demo"
                                                                             : "the shipped files");
  std::printf("The adapter:      %s\n", kAdapter.c_str());
  std::printf("The earlier card: %s\n"
              "                  (an older revision, taken out of the machine; its device instance stayed)\n",
              kStale.c_str());
  StageMachine();

  StepPakrun();
  StepAirtoggle();
  StepQuitpanel();
  StepScrubnet();

  for (const char* name : {kZeroConfigService, kVendorService}) wt::BringTo(name, SERVICE_STOPPED);
  std::printf("\nThe demo took %s.\n", Seconds(GetTickCount() - begin).c_str());
  return 0;
}
