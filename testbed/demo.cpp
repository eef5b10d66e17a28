// The demo driver: sets up the scene for each program in the Wine prefix it runs in,
// starts the real executable and prints what changed.
#include <windows.h>
#include <setupapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <list>
#include <string>
#include <vector>

#include "testbed/support/devices.h"
#include "testbed/support/services.h"
#include "testbed/support/support.h"

namespace {

// Copies a program of the build as `as` into `dir` (created with what is above it).
bool CopyFromBuild(const std::string& name, const std::string& dir, const std::string& as) {
  return wt::CopyFromBuild(name, dir + "\\" + as);
}

// Starts a program that is ended when `started` goes away.
void Start(std::list<wt::Child>* started, const std::string& commandLine) {
  started->emplace_back();
  if (!started->back().Start(commandLine))
    std::printf("  could not start %s (error %lu)\n", commandLine.c_str(), GetLastError());
}

// Runs a program to its end (bounded) and returns its exit code.
DWORD Run(const std::string& commandLine) {
  wt::RunResult result = wt::RunBounded(commandLine);
  if (!result.started)
    std::printf("  could not start %s (error %lu)\n", commandLine.c_str(), result.error);
  else if (result.ended)
    std::printf("  %s still running after %lu ms: ended\n", commandLine.c_str(), wt::kRunBoundMs);
  return result.exitCode;
}

void ListProcesses(const char* heading, const std::vector<std::string>& names) {
  std::printf("  %s:\n", heading);
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  int shown = 0;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    for (const std::string& name : names) {
      if (lstrcmpiA(entry.szExeFile, name.c_str()) == 0) {
        std::printf("    pid %-6lu %s\n", entry.th32ProcessID, entry.szExeFile);
        ++shown;
      }
    }
  }
  if (shown == 0) std::printf("    (none)\n");
  CloseHandle(snapshot);
}

void DemoQuitpanel() {
  std::printf("\n== Quitpanel: ends one Linkdesk.exe, then one Svcpilot.exe ==\n");
  const std::string dir = "C:\\demo\\quitpanel";
  CopyFromBuild("Quitpanel.exe", dir, "Quitpanel.exe");
  CopyFromBuild("standin.exe", dir, "Linkdesk.exe");
  CopyFromBuild("standin.exe", dir, "Svcpilot.exe");
  CopyFromBuild("standin.exe", dir, "Notepad2.exe");
  std::list<wt::Child> started;
  for (const char* name : {"Linkdesk.exe", "Linkdesk.exe", "Svcpilot.exe", "Notepad2.exe"})
    Start(&started, "\"" + dir + "\\" + name + "\" 30");
  Sleep(500);
  const std::vector<std::string> shown = {"Linkdesk.exe", "Svcpilot.exe", "Notepad2.exe"};
  ListProcesses("before", shown);
  std::printf("  Quitpanel.exe exit code %lu\n", Run("\"" + dir + "\\Quitpanel.exe\""));
  Sleep(300);
  ListProcesses("after", shown);
}

// --- Airtoggle ------------------------------------------------------------------------

constexpr char kDemoClassKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr char kDemoInterfaces[] = "SOFTWARE\\Microsoft\\WZCSVC\\Parameters\\Interfaces";
constexpr char kDemoSettings[] = "SOFTWARE\\Korvell\\Linkdesk\\Settings";
const char* const kDemoGuids[] = {"{D3E0A001-0000-4000-8000-000000000001}",
                                  "{D3E0A001-0000-4000-8000-000000000002}",
                                  "{D3E0A001-0000-4000-8000-000000000003}"};
const char* const kDemoIds[] = {"PCI\\VEN_1D4A&DEV_3890", "pci\\ven_1d4a&dev_3891", "PCI\\VEN_10EC&DEV_8139"};

void SetDword(const std::string& path, const char* name, DWORD value) {
  wt::RegSetDword(HKEY_LOCAL_MACHINE, path, name, value);
}

void SetText(const std::string& path, const char* name, const std::string& value) {
  wt::RegSetString(HKEY_LOCAL_MACHINE, path, name, value);
}

std::string DwordText(const std::string& path, const char* name) {
  DWORD value = 0;
  if (!wt::RegGetDword(HKEY_LOCAL_MACHINE, path, name, &value)) return "(none)";
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", value);
  return text;
}

const char* ServiceStateText(const char* name) {
  switch (wt::ServiceState(name)) {
    case 0: return "not installed";
    case SERVICE_RUNNING: return "running";
    case SERVICE_STOPPED: return "stopped";
    case SERVICE_START_PENDING: return "start pending";
    case SERVICE_STOP_PENDING: return "stop pending";
    default: return "?";
  }
}

// Installs the stand-in service as `name` if it is not yet and brings it to the state.
void ServiceTo(const char* name, bool running) {
  if (wt::InstallService(name, std::string("C:\\demo\\services\\svcstandin.exe ") + name))
    wt::BringTo(name, running ? SERVICE_RUNNING : SERVICE_STOPPED);
}

void ShowSwitch(const char* heading) {
  std::printf("  %s:\n", heading);
  std::printf("    UseZeroConfig %s; WZCSVC %s; KVX %s\n", DwordText(kDemoSettings, "UseZeroConfig").c_str(),
              ServiceStateText("WZCSVC"), ServiceStateText("KVX"));
  for (int i = 0; i < 3; ++i)
    std::printf("    %-24s ControlFlags %s\n", kDemoIds[i],
                DwordText(std::string(kDemoInterfaces) + "\\" + kDemoGuids[i], "ControlFlags").c_str());
}

void DemoAirtoggle() {
  std::printf("\n== Airtoggle (Svcpilot.exe): hands the adapter between WZCSVC and the vendor utility ==\n");
  const std::string system = wt::SystemDir();
  CopyFromBuild("Svcpilot.exe", system, "Svcpilot.exe");
  CopyFromBuild("radioapi.dll", system, "radioapi.dll");
  CopyFromBuild("svcstandin.exe", "C:\\demo\\services", "svcstandin.exe");
  SetDword(kDemoSettings, "UseZeroConfig", 0);
  for (int i = 0; i < 3; ++i) {
    std::string adapter = std::string(kDemoClassKey) + "\\07" + std::to_string(i) + "0";
    SetText(adapter, "MatchingDeviceId", kDemoIds[i]);
    SetText(adapter, "NetCfgInstanceId", kDemoGuids[i]);
    SetDword(std::string(kDemoInterfaces) + "\\" + kDemoGuids[i], "ControlFlags", i == 1 ? 0x00810002u : 0x0000F002u);
  }
  SetDword(std::string(kDemoInterfaces) + "\\" + kDemoGuids[0], "ControlFlags", 0x00000002u);
  ServiceTo("KVX", true);
  ServiceTo("WZCSVC", true);
  std::string line = system + "\\Svcpilot.exe -installer";
  ShowSwitch("before");
  for (int run = 0; run < 2; ++run) {
    DWORD begin = GetTickCount();
    DWORD code = Run(line);
    std::printf("  %s: exit code %lu after %lu ms\n", line.c_str(), code, GetTickCount() - begin);
    ShowSwitch(run == 0 ? "after the first run (to the zero-configuration service)"
                        : "after the second run (back to the vendor utility)");
  }
  ServiceTo("WZCSVC", false);
  ServiceTo("KVX", false);
}

// --- Scrubnet ----------------------------------------------------------------------------

namespace scrubnet_demo {

using wt::kNetClass;

const char kNtClassKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
const char k9xClassKey[] = "SYSTEM\\CurrentControlSet\\Services\\Class\\Net";
const char kEnumPciKey[] = "Enum\\PCI";
const std::vector<std::string> kDevices = {
    "PCI\\VEN_1D4A&DEV_7403&SUBSYS_00011D4A&REV_01\\4&2A5F3C1E&0&00E1",
    "PCI\\VEN_8086&DEV_1229&SUBSYS_00018086&REV_08\\3&61AAA01&0&0040"};

void SetString(const std::string& path, const char* name, const std::string& value) {
  wt::RegSetString(HKEY_LOCAL_MACHINE, path, name, value);
}

bool KeyExists(const std::string& path) { return wt::RegKeyExists(HKEY_LOCAL_MACHINE, path); }

void ListDevices() {
  std::printf("    network devices:\n");
  HDEVINFO set = SetupDiGetClassDevsA(&kNetClass, nullptr, nullptr, DIGCF_PRESENT);
  int shown = 0;
  if (set != INVALID_HANDLE_VALUE) {
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
      char id[MAX_PATH] = {};
      if (SetupDiGetDeviceInstanceIdA(set, &device, id, sizeof id, nullptr)) {
        std::printf("      %s\n", id);
        ++shown;
      }
    }
    SetupDiDestroyDeviceInfoList(set);
  }
  if (shown == 0) std::printf("      (none)\n");
}

struct Scene {
  std::vector<std::string> files;
  std::vector<std::string> keys;
};

void Show(const char* heading, const Scene& scene) {
  std::printf("  %s:\n    files:\n", heading);
  for (const std::string& path : scene.files)
    std::printf("      %-8s %s\n", wt::FileExists(path) ? "present" : "gone", path.c_str());
  std::printf("    keys (HKLM):\n");
  for (const std::string& key : scene.keys)
    std::printf("      %-8s %s\n", KeyExists(key) ? "present" : "gone", key.c_str());
  ListDevices();
}

// Seeds the chipset's driver as installed (driver keys of the family's class key, its
// files and its device, with one of another vendor beside each) and runs Scrubnet.exe.
void RunScene(const std::string& exe, bool nineX) {
  const std::string w = wt::WindowsDir();
  const std::string s = wt::SystemDir();
  const std::string classKey = nineX ? k9xClassKey : kNtClassKey;
  const char* idName = nineX ? "MatchingDeviceId" : "ComponentId";
  Scene scene;
  const std::vector<std::pair<std::string, std::string>> drivers = {
      {"0000", "PCI\\VEN_1D4A&DEV_7403&SUBSYS_00011D4A"}, {"0001", "PCI\\VEN_8086&DEV_1229"}};
  for (std::size_t i = 0; i < drivers.size(); ++i) {
    const std::string key = classKey + "\\" + drivers[i].first;
    const std::string base = "oem" + std::to_string(90 + i);
    SetString(key, idName, drivers[i].second);
    SetString(key, "InfPath", base + ".inf");
    SetString(key + "\\Ndi", "Service", "KV7403");
    scene.keys.push_back(key);
    for (const std::string& path : {w + "\\inf\\" + base + ".inf", w + "\\inf\\" + base + ".PNF",
                                    s + "\\CatRoot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\" + base + ".CAT"})
      scene.files.push_back(path);
  }
  for (const std::string& path :
       {w + "\\system32\\drivers\\kv7403.sys", w + "\\system32\\drivers\\kv74039x.sys",
        w + "\\OPTIONS\\INSTALL\\kv74039x.sys", w + "\\inf\\net7403.inf",
        w + "\\inf\\other\\KorvellNET7403.inf", w + "\\inf\\internet\\KorvellNET7403.inf"})
    scene.files.push_back(path);
  for (const char* name : {"VEN_1D4A&DEV_7403&SUBSYS_00011D4A&REV_01", "VEN_8086&DEV_1229"}) {
    const std::string key = std::string(kEnumPciKey) + "\\" + name;
    SetString(key + "\\4&2A5F3C1E&0&00E1", "Driver", "Net\\0000");
    scene.keys.push_back(key);
  }
  for (const std::string& path : scene.files) wt::WriteFile(path, "");
  // Each device's hardware ID is its instance ID without the instance part.
  for (const std::string& id : kDevices) wt::CreateDevice(id, {id.substr(0, id.rfind('\\'))}, "");

  Show("before", scene);
  std::printf("  Scrubnet.exe exit code %lu\n", ::Run("\"" + exe + "\""));
  Show("after", scene);

  for (const std::string& path : scene.files) DeleteFileA(path.c_str());
  for (const std::string& key : scene.keys) wt::RegDeleteTree(HKEY_LOCAL_MACHINE, key);
  for (const std::string& id : kDevices) wt::RemoveDevice(id);
}

}  // namespace scrubnet_demo

void DemoScrubnet() {
  const std::string dir = "C:\\demo\\scrubnet";
  CopyFromBuild("Scrubnet.exe", dir, "Scrubnet.exe");
  const std::string exe = dir + "\\Scrubnet.exe";

  std::printf("\n== Scrubnet, NT family: installed INF/PNF/CAT, kv7403.sys and the devices go; "
              "no key is deleted ==\n");
  scrubnet_demo::RunScene(exe, false);

  std::printf("\n== Scrubnet, 9x family (Wine reports win98): also the 9x copies, the driver keys "
              "and the Enum\\PCI keys go ==\n");
  wt::SetReportedVersion("Scrubnet.exe", "win98");
  scrubnet_demo::RunScene(exe, true);
  wt::SetReportedVersion("Scrubnet.exe", "");
}

// --- Pakrun ------------------------------------------------------------------------------

// Prints one registry value of HKLM (text or number), or that it is not there.
void ShowValue(const std::string& key, const std::string& name) {
  std::printf("    HKLM\\%s  %s = ", key.c_str(), name.c_str());
  DWORD number = 0;
  std::string text;
  if (!wt::RegKeyExists(HKEY_LOCAL_MACHINE, key)) {
    std::printf("(no key)\n");
  } else if (wt::RegGetDword(HKEY_LOCAL_MACHINE, key, name, &number)) {
    std::printf("dword %lu\n", number);
  } else if (wt::RegGetString(HKEY_LOCAL_MACHINE, key, name, &text)) {
    std::printf("\"%s\"\n", text.c_str());
  } else {
    std::printf("(not set)\n");
  }
}

void ShowFiles(const std::string& dir, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    bool there = wt::FileExists(dir + "\\" + name);
    std::printf("    %s\\%s %s\n", dir.c_str(), name.c_str(), there ? "present" : "-");
  }
}

void DemoPakrun() {
  std::printf("\n== Pakrun: runs the setup program inside the steps its settings file switches on ==\n");
  const std::string parent = "C:\\demo\\pakrun";
  const std::string dir = parent + "\\Vendor Setup";
  CopyFromBuild("Pakrun.exe", dir, "Pakrun.exe");
  CopyFromBuild("setupstub.exe", dir, "Netprep.exe");
  const std::string key = "SOFTWARE\\Vendor\\Linkdesk";
  wt::WriteFile(dir + "\\Pakrun.ini",
                "[PARAMS]\r\nSWAPCMD=1\r\nRENAME=1\r\nSTATICREG=1\r\nSTATICREGFROMFILE=1\r\n"
                "[STATICREG]\r\nADDREG=1\r\nDELREG=1\r\n"
                "ADDREG1_ROOT=HKLM\r\nADDREG1_SUBKEY=" + key + "\r\nADDREG1_ENTRYNAME=UseZeroConfig\r\n"
                "ADDREG1_FLAGS=0x00010001\r\nADDREG1_VALUE=1\r\n"
                "DELREG1_ROOT=HKLM\r\nDELREG1_SUBKEY=" + key + "\r\nDELREG1_ENTRYNAME=Obsolete\r\n");
  wt::WriteFile(dir + "\\Pakrun.reg", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\" + key +
                                         "]\r\n\"ImportedBy\"=\"regedit /s\"\r\n");
  wt::RegSetString(HKEY_LOCAL_MACHINE, key, "Obsolete", "old");
  const std::string cache = wt::WindowsDir() + "\\Driver Cache";
  wt::WriteFile(cache + "\\tq3p81.inf", "cached\r\n");
  wt::WriteFile(cache + "\\tq3p8.inf", "cached\r\n");
  const std::vector<std::string> cached = {"tq3p81.inf", "tq3p81.org", "tq3p8.inf", "tq3p8.org"};
  const std::vector<std::string> values = {"UseZeroConfig", "Obsolete", "ImportedBy"};

  std::printf("  before:\n");
  for (const std::string& name : values) ShowValue(key, name);
  ShowFiles(cache, cached);
  const std::string command = "\"" + dir + "\\Pakrun.exe\" -silent";
  std::printf("  %s\n  exit code %lu\n", command.c_str(), Run(command));
  std::printf("  the setup program got:\n");
  const std::string log = wt::ReadFile(dir + "\\Netprep.exe.log");
  for (std::size_t at = 0; at < log.size();) {
    std::size_t end = log.find('\n', at);
    end = end == std::string::npos ? log.size() : end + 1;
    std::printf("    %s", log.substr(at, end - at).c_str());
    at = end;
  }
  std::printf("  after:\n");
  for (const std::string& name : values) ShowValue(key, name);
  ShowFiles(cache, cached);
}

}  // namespace

int main() {
  std::printf("Adapter maintenance programs at work in a throwaway Wine prefix\n");
  DemoQuitpanel();
  DemoAirtoggle();
  DemoScrubnet();
  DemoPakrun();
  return 0;
}
