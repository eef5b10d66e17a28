#include "testbed/support/support.h"

#include <tlhelp32.h>

#include <cstdio>
#include <cstring>

namespace wt {

std::string BuildDir() {
  char path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string full(path, length);
  return full.substr(0, full.find_last_of('\\'));
}

bool MakeDirs(const std::string& path) {
  for (std::size_t at = path.find('\\', 3); ; at = path.find('\\', at + 1)) {
    std::string part = path.substr(0, at);
    if (!CreateDirectoryA(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
      return false;
    if (at == std::string::npos) return true;
  }
}

std::string SourceOf(const std::string& fileName) {
  static const char* const kShipped[] = {"Svcpilot.exe", "Pakrun.exe", "Scrubnet.exe",
                                         "Quitpanel.exe"};
  char shipped[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableA("TOOLS_SHIPPED_DIR", shipped, sizeof shipped);
  if (length > 0 && length < sizeof shipped) {
    for (const char* name : kShipped) {
      if (_stricmp(name, fileName.c_str()) == 0) return std::string(shipped) + "\\" + fileName;
    }
  }
  return BuildDir() + "\\" + fileName;
}

bool CopyFromBuild(const std::string& fileName, const std::string& target) {
  MakeDirs(target.substr(0, target.find_last_of('\\')));
  return CopyFileA(SourceOf(fileName).c_str(), target.c_str(), FALSE) != 0;
}

void RemoveTree(const std::string& dir) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      std::string path = dir + "\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(dir.c_str());
}

std::string ScratchDir(const std::string& name) {
  std::string dir = "C:\\tests\\" + name;
  RemoveTree(dir);
  MakeDirs(dir);
  return dir;
}

Child::~Child() { Kill(); }

bool Child::Start(const std::string& commandLine, const std::string& workDir,
                  const std::string& application) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  if (!CreateProcessA(application.empty() ? nullptr : application.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      workDir.empty() ? nullptr : workDir.c_str(), &startup, &info))
    return false;
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  pid_ = info.dwProcessId;
  return true;
}

bool Child::WaitExit(DWORD boundMs, DWORD* exitCode) {
  if (process_ == nullptr) return false;
  if (WaitForSingleObject(process_, boundMs) != WAIT_OBJECT_0) {
    Kill();
    return false;
  }
  if (exitCode != nullptr) *exitCode = ExitCode();
  return true;
}

bool Child::Running() const {
  return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

DWORD Child::ExitCode() const {
  DWORD code = kTimedOut;
  if (process_ != nullptr) GetExitCodeProcess(process_, &code);
  return code;
}

void Child::Kill() {
  if (process_ == nullptr) return;
  if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_, kTimedOut);
    WaitForSingleObject(process_, kSettleBoundMs);
  }
  CloseHandle(process_);
  process_ = nullptr;
}

RunResult RunBounded(const std::string& commandLine, const std::string& workDir, DWORD boundMs,
                     const std::string& application) {
  RunResult result;
  Child child;
  if (!child.Start(commandLine, workDir, application)) {
    result.error = GetLastError();
    return result;
  }
  result.started = true;
  result.ended = !child.WaitExit(boundMs, &result.exitCode);
  if (result.ended) result.exitCode = kTimedOut;
  return result;
}

bool SetReportedVersion(const std::string& exeName, const std::string& version) {
  std::string key = "Software\\Wine\\AppDefaults\\" + exeName;
  if (version.empty()) return RegDeleteTree(HKEY_CURRENT_USER, key);
  return RegSetString(HKEY_CURRENT_USER, key, "Version", version);
}

bool ModulesListed(DWORD pid) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  MODULEENTRY32 module = {};
  module.dwSize = sizeof module;
  bool listed = Module32First(snapshot, &module) != 0;
  CloseHandle(snapshot);
  return listed;
}

static bool SetValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                     const void* data, DWORD size, REGSAM view) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  LONG result = RegSetValueExA(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

bool RegSetDword(HKEY root, const std::string& path, const std::string& name, DWORD value,
                 REGSAM view) {
  return SetValue(root, path, name, REG_DWORD, &value, sizeof value, view);
}

bool RegSetString(HKEY root, const std::string& path, const std::string& name,
                  const std::string& value, REGSAM view) {
  return SetValue(root, path, name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1), view);
}

static bool GetValue(HKEY root, const std::string& path, const std::string& name, DWORD* type,
                     std::vector<BYTE>* data, REGSAM view) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
  DWORD size = 0;
  LONG result = RegQueryValueExA(key, name.c_str(), nullptr, type, nullptr, &size);
  if (result == ERROR_SUCCESS) {
    data->resize(size);
    result = RegQueryValueExA(key, name.c_str(), nullptr, type, data->data(), &size);
    data->resize(size);
  }
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

bool RegGetDword(HKEY root, const std::string& path, const std::string& name, DWORD* value,
                 REGSAM view) {
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!GetValue(root, path, name, &type, &data, view) || type != REG_DWORD || data.size() != 4) return false;
  std::memcpy(value, data.data(), 4);
  return true;
}

bool RegGetString(HKEY root, const std::string& path, const std::string& name, std::string* value,
                  REGSAM view) {
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!GetValue(root, path, name, &type, &data, view)) return false;
  std::string text(data.begin(), data.end());
  *value = text.substr(0, text.find('\0'));
  return true;
}

bool RegKeyExists(HKEY root, const std::string& path, REGSAM view) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

bool RegDeleteTree(HKEY root, const std::string& path, REGSAM view) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS) return true;
  char name[256];
  while (RegEnumKeyA(key, 0, name, sizeof name) == ERROR_SUCCESS) {
    if (!RegDeleteTree(root, path + "\\" + name, view)) break;
  }
  RegCloseKey(key);
  // RegDeleteKeyA always works in the caller's own view; the other one needs the Ex form.
  LONG result = view == 0 ? RegDeleteKeyA(root, path.c_str()) : RegDeleteKeyExA(root, path.c_str(), view, 0);
  return result == ERROR_SUCCESS;
}

std::string WindowsDir() {
  char path[MAX_PATH] = {};
  UINT length = GetWindowsDirectoryA(path, sizeof path);
  return std::string(path, length < sizeof path ? length : 0);
}

std::string SystemDir() {
  char path[MAX_PATH] = {};
  UINT length = GetSystemDirectoryA(path, sizeof path);
  return std::string(path, length < sizeof path ? length : 0);
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadFile(const std::string& path) {
  std::string content;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return content;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) content.append(buffer, n);
  std::fclose(file);
  return content;
}

bool WriteFile(const std::string& path, const std::string& content) {
  MakeDirs(path.substr(0, path.find_last_of('\\')));
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  return std::fclose(file) == 0 && ok;
}

}  // namespace wt
