// The demo driver: sets up the scene for each program in the Wine prefix it runs in,
// starts the real executable and prints what changed.
#include <windows.h>
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
  DemoPakrun();
  return 0;
}
