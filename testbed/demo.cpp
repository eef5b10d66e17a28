// The demo driver: sets up the scene for each program in the Wine prefix it runs in,
// starts the real executable and prints what changed.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
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

}  // namespace

int main() {
  std::printf("Adapter maintenance programs at work in a throwaway Wine prefix\n");
  DemoQuitpanel();
  return 0;
}
