// The demo driver: sets up the scene for each program in the Wine prefix it runs in,
// starts the real executable and prints what changed.
#include <windows.h>
#include <setupapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kRunBoundMs = 30000;

std::string BuildDir() {
  char path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string full(path, length);
  return full.substr(0, full.find_last_of('\\'));
}

bool CopyFromBuild(const std::string& name, const std::string& dir, const std::string& as) {
  CreateDirectoryA("C:\\demo", nullptr);
  CreateDirectoryA(dir.c_str(), nullptr);
  return CopyFileA((BuildDir() + "\\" + name).c_str(), (dir + "\\" + as).c_str(), FALSE) != 0;
}

HANDLE Start(const std::string& commandLine) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    std::printf("  could not start %s (error %lu)\n", commandLine.c_str(), GetLastError());
    return nullptr;
  }
  CloseHandle(info.hThread);
  return info.hProcess;
}

// Runs a program to its end (bounded) and returns its exit code.
DWORD Run(const std::string& commandLine) {
  HANDLE process = Start(commandLine);
  if (process == nullptr) return 0xFFFFFFFFu;
  DWORD code = 0xFFFFFFFFu;
  if (WaitForSingleObject(process, kRunBoundMs) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process, &code);
  } else {
    std::printf("  %s still running after %lu ms: ended\n", commandLine.c_str(), kRunBoundMs);
    TerminateProcess(process, code);
  }
  CloseHandle(process);
  return code;
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
  std::vector<HANDLE> started;
  for (const char* name : {"Linkdesk.exe", "Linkdesk.exe", "Svcpilot.exe", "Notepad2.exe"})
    started.push_back(Start("\"" + dir + "\\" + name + "\" 30"));
  Sleep(500);
  const std::vector<std::string> shown = {"Linkdesk.exe", "Svcpilot.exe", "Notepad2.exe"};
  ListProcesses("before", shown);
  std::printf("  Quitpanel.exe exit code %lu\n", Run("\"" + dir + "\\Quitpanel.exe\""));
  Sleep(300);
  ListProcesses("after", shown);
  for (HANDLE process : started) {
    if (process == nullptr) continue;
    TerminateProcess(process, 0);
    CloseHandle(process);
  }
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
  HKEY key = nullptr;
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key) != ERROR_SUCCESS) return;
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
}

void SetText(const std::string& path, const char* name, const std::string& value) {
  HKEY key = nullptr;
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key) != ERROR_SUCCESS) return;
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
}

std::string DwordText(const std::string& path, const char* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "(none)";
  DWORD value = 0;
  DWORD size = sizeof value;
  LONG result = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return "(none)";
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", value);
  return text;
}

const char* ServiceStateText(const char* name) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return "?";
  SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_STATUS);
  SERVICE_STATUS status = {};
  const char* text = "not installed";
  if (service != nullptr) {
    text = "?";
    if (QueryServiceStatus(service, &status)) {
      if (status.dwCurrentState == SERVICE_RUNNING) text = "running";
      if (status.dwCurrentState == SERVICE_STOPPED) text = "stopped";
      if (status.dwCurrentState == SERVICE_START_PENDING) text = "start pending";
      if (status.dwCurrentState == SERVICE_STOP_PENDING) text = "stop pending";
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return text;
}

void ServiceTo(const char* name, bool running) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return;
  SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
  if (service == nullptr) {
    std::string command = std::string("C:\\demo\\services\\svcstandin.exe ") + name;
    service = CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                             SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, command.c_str(), nullptr, nullptr,
                             nullptr, nullptr, nullptr);
  }
  if (service != nullptr) {
    SERVICE_STATUS status = {};
    if (running) {
      StartServiceA(service, 0, nullptr);
    } else {
      ControlService(service, SERVICE_CONTROL_STOP, &status);
    }
    const char* wanted = running ? "running" : "stopped";
    for (int i = 0; i < 200 && std::string(ServiceStateText(name)) != wanted; ++i) Sleep(50);
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
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
  char system[MAX_PATH] = {};
  GetSystemDirectoryA(system, sizeof system);
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
  std::string line = std::string(system) + "\\Svcpilot.exe -installer";
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

const GUID kNetClass = {0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const char kNtClassKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
const char k9xClassKey[] = "SYSTEM\\CurrentControlSet\\Services\\Class\\Net";
const char kEnumPciKey[] = "Enum\\PCI";
const std::vector<std::string> kDevices = {
    "PCI\\VEN_1D4A&DEV_7403&SUBSYS_00011D4A&REV_01\\4&2A5F3C1E&0&00E1",
    "PCI\\VEN_8086&DEV_1229&SUBSYS_00018086&REV_08\\3&61AAA01&0&0040"};

std::string Windows() {
  char path[MAX_PATH] = {};
  UINT length = GetWindowsDirectoryA(path, sizeof path);
  return std::string(path, length < sizeof path ? length : 0);
}

std::string System() {
  char path[MAX_PATH] = {};
  UINT length = GetSystemDirectoryA(path, sizeof path);
  return std::string(path, length < sizeof path ? length : 0);
}

void MakeDirs(const std::string& path) {
  for (std::size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
  CreateDirectoryA(path.c_str(), nullptr);
}

void PutFile(const std::string& path) {
  MakeDirs(path.substr(0, path.find_last_of('\\')));
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

void SetString(const std::string& path, const char* name, const std::string& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
}

bool KeyExists(const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

void DeleteTree(const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  char name[256];
  while (RegEnumKeyA(key, 0, name, sizeof name) == ERROR_SUCCESS) {
    std::string sub = path + "\\" + name;
    if (!KeyExists(sub)) break;
    DeleteTree(sub);
    if (KeyExists(sub)) break;
  }
  RegCloseKey(key);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
}

void CreateDevice(const std::string& instanceId) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(&kNetClass, nullptr);
  if (set == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  std::string ids = instanceId.substr(0, instanceId.rfind('\\')) + std::string(2, '\0');
  if (SetupDiCreateDeviceInfoA(set, instanceId.c_str(), &kNetClass, nullptr, nullptr, 0, &device) &&
      SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID,
                                        reinterpret_cast<const BYTE*>(ids.data()),
                                        static_cast<DWORD>(ids.size())))
    SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr);
  SetupDiDestroyDeviceInfoList(set);
}

void RemoveDevices() {
  HDEVINFO set = SetupDiGetClassDevsA(&kNetClass, nullptr, nullptr, 0);
  if (set == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    char id[MAX_PATH] = {};
    if (!SetupDiGetDeviceInstanceIdA(set, &device, id, sizeof id, nullptr)) continue;
    for (const std::string& ours : kDevices) {
      if (lstrcmpiA(id, ours.c_str()) == 0) SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
    }
  }
  SetupDiDestroyDeviceInfoList(set);
}

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
    std::printf("      %-8s %s\n", GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES ? "present" : "gone",
                path.c_str());
  std::printf("    keys (HKLM):\n");
  for (const std::string& key : scene.keys)
    std::printf("      %-8s %s\n", KeyExists(key) ? "present" : "gone", key.c_str());
  ListDevices();
}

// Seeds the chipset's driver as installed (driver keys of the family's class key, its
// files and its device, with one of another vendor beside each) and runs Scrubnet.exe.
void RunScene(const std::string& exe, bool nineX) {
  const std::string w = Windows();
  const std::string s = System();
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
  for (const std::string& path : scene.files) PutFile(path);
  for (const std::string& id : kDevices) CreateDevice(id);

  Show("before", scene);
  std::printf("  Scrubnet.exe exit code %lu\n", ::Run("\"" + exe + "\""));
  Show("after", scene);

  for (const std::string& path : scene.files) DeleteFileA(path.c_str());
  for (const std::string& key : scene.keys) DeleteTree(key);
  RemoveDevices();
}

}  // namespace scrubnet_demo

void DemoScrubnet() {
  const std::string dir = "C:\\demo\\scrubnet";
  CopyFromBuild("Scrubnet.exe", dir, "Scrubnet.exe");
  const std::string exe = dir + "\\Scrubnet.exe";
  const char* appDefaults = "Software\\Wine\\AppDefaults\\Scrubnet.exe";

  std::printf("\n== Scrubnet, NT family: installed INF/PNF/CAT, kv7403.sys and the devices go; "
              "no key is deleted ==\n");
  scrubnet_demo::RunScene(exe, false);

  std::printf("\n== Scrubnet, 9x family (Wine reports win98): also the 9x copies, the driver keys "
              "and the Enum\\PCI keys go ==\n");
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, appDefaults, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) == ERROR_SUCCESS) {
    RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("win98"), 6);
    RegCloseKey(key);
  }
  scrubnet_demo::RunScene(exe, true);
  RegDeleteKeyA(HKEY_CURRENT_USER, appDefaults);
}

// --- Pakrun ------------------------------------------------------------------------------

// Prints one registry value of HKLM (text or number), or that it is not there.
void ShowValue(const std::string& key, const std::string& name) {
  HKEY opened = nullptr;
  std::printf("    HKLM\\%s  %s = ", key.c_str(), name.c_str());
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) {
    std::printf("(no key)\n");
    return;
  }
  BYTE data[256] = {};
  DWORD size = sizeof data - 1;
  DWORD type = 0;
  if (RegQueryValueExA(opened, name.c_str(), nullptr, &type, data, &size) != ERROR_SUCCESS) {
    std::printf("(not set)\n");
  } else if (type == REG_DWORD) {
    DWORD number = 0;
    std::memcpy(&number, data, sizeof number);
    std::printf("dword %lu\n", number);
  } else {
    std::printf("\"%s\"\n", reinterpret_cast<const char*>(data));
  }
  RegCloseKey(opened);
}

void ShowFiles(const std::string& dir, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    bool there = GetFileAttributesA((dir + "\\" + name).c_str()) != INVALID_FILE_ATTRIBUTES;
    std::printf("    %s\\%s %s\n", dir.c_str(), name.c_str(), there ? "present" : "-");
  }
}

bool WriteText(const std::string& path, const std::string& text) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && ok;
}

void DemoPakrun() {
  std::printf("\n== Pakrun: runs the setup program inside the steps its settings file switches on ==\n");
  const std::string parent = "C:\\demo\\pakrun";
  const std::string dir = parent + "\\Vendor Setup";
  CreateDirectoryA("C:\\demo", nullptr);
  CreateDirectoryA(parent.c_str(), nullptr);
  CopyFromBuild("Pakrun.exe", dir, "Pakrun.exe");
  CopyFromBuild("setupstub.exe", dir, "Netprep.exe");
  const std::string key = "SOFTWARE\\Vendor\\Linkdesk";
  WriteText(dir + "\\Pakrun.ini",
            "[PARAMS]\r\nSWAPCMD=1\r\nRENAME=1\r\nSTATICREG=1\r\nSTATICREGFROMFILE=1\r\n"
            "[STATICREG]\r\nADDREG=1\r\nDELREG=1\r\n"
            "ADDREG1_ROOT=HKLM\r\nADDREG1_SUBKEY=" + key + "\r\nADDREG1_ENTRYNAME=UseZeroConfig\r\n"
            "ADDREG1_FLAGS=0x00010001\r\nADDREG1_VALUE=1\r\n"
            "DELREG1_ROOT=HKLM\r\nDELREG1_SUBKEY=" + key + "\r\nDELREG1_ENTRYNAME=Obsolete\r\n");
  WriteText(dir + "\\Pakrun.reg", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\" + key +
                                      "]\r\n\"ImportedBy\"=\"regedit /s\"\r\n");
  HKEY created = nullptr;
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, key.c_str(), &created) == ERROR_SUCCESS) {
    RegSetValueExA(created, "Obsolete", 0, REG_SZ, reinterpret_cast<const BYTE*>("old"), 4);
    RegCloseKey(created);
  }
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, sizeof windows);
  const std::string cache = std::string(windows) + "\\Driver Cache";
  CreateDirectoryA(cache.c_str(), nullptr);
  WriteText(cache + "\\tq3p81.inf", "cached\r\n");
  WriteText(cache + "\\tq3p8.inf", "cached\r\n");
  const std::vector<std::string> cached = {"tq3p81.inf", "tq3p81.org", "tq3p8.inf", "tq3p8.org"};
  const std::vector<std::string> values = {"UseZeroConfig", "Obsolete", "ImportedBy"};

  std::printf("  before:\n");
  for (const std::string& name : values) ShowValue(key, name);
  ShowFiles(cache, cached);
  const std::string command = "\"" + dir + "\\Pakrun.exe\" -silent";
  std::printf("  %s\n  exit code %lu\n", command.c_str(), Run(command));
  std::printf("  the setup program got:\n");
  FILE* log = std::fopen((dir + "\\Netprep.exe.log").c_str(), "rb");
  char line[1024];
  while (log != nullptr && std::fgets(line, sizeof line, log) != nullptr) std::printf("    %s", line);
  if (log != nullptr) std::fclose(log);
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
