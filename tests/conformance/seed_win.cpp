// Seeding under Windows: the scratch directory and key are made empty before a case and
// removed after it, as are the devices and services the case added.
#include <windows.h>
#include <setupapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "conformance.h"
#include "testbed/support/devices.h"
#include "testbed/support/support.h"

namespace conf {

bool OnSubstituteMachine() { return false; }

void KnownDivergence(const std::string& reason) {
  std::printf("KNOWN DIVERGENCE: %s\n", reason.c_str());
  ::testing::Test::RecordProperty("known_divergence", reason);
}

namespace seed {
namespace {

const GUID kNetClass = {0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

std::vector<std::string> devices;
std::vector<std::string> services;
std::vector<std::string> variables;

// Stops the service (waiting at most ten seconds) and deletes it.
void RemoveService(const std::string& name) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return;
  SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_ALL_ACCESS);
  if (service != nullptr) {
    SERVICE_STATUS status = {};
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    for (int i = 0; i < 200 && QueryServiceStatus(service, &status) &&
                    status.dwCurrentState != SERVICE_STOPPED;
         ++i)
      Sleep(50);
    DeleteService(service);
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
}

constexpr char kServiceProgram[] = "C:\\CONFSVC\\svcstandin.exe";

void Clear() {
  for (const std::string& id : devices) wt::RemoveDevice(id);
  for (const std::string& name : services) RemoveService(name);
  for (const std::string& name : variables) _putenv((name + "=").c_str());
  devices.clear();
  services.clear();
  variables.clear();
  wt::RemoveTree(kScratchDir);
  wt::RegDeleteTree(HKEY_CURRENT_USER, kScratchKey);
  wt::RemoveTree("C:\\CONFSVC");
}

}  // namespace

void Begin() {
  Clear();
  CreateDirectoryA(kScratchDir, nullptr);
}

bool End(std::string*) {
  Clear();
  return true;
}

void MakeDirectory(const std::string& path) { wt::MakeDirs(path); }

bool WriteBytes(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

std::optional<std::string> ReadBytes(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string bytes;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got != 0) bytes.append(chunk, got);
  CloseHandle(file);
  return bytes;
}

void SetEnvironment(const std::string& name, const std::string& value) {
  _putenv((name + "=" + value).c_str());
  variables.push_back(name);
}

DWORD OwnProcessId() { return GetCurrentProcessId(); }

std::string OwnExePath() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  return path;
}

bool InstallChild(const std::string& path) {
  std::string own = OwnExePath();
  std::string child = own.substr(0, own.rfind('\\') + 1) + "conformance_child.exe";
  MakeDirectory(path.substr(0, path.rfind('\\')));
  return CopyFileA(child.c_str(), path.c_str(), FALSE) != FALSE;
}

bool AddDevice(const std::string& instanceId, const std::vector<std::string>& hardwareIds) {
  wt::RemoveDevice(instanceId);
  devices.push_back(instanceId);
  return wt::CreateDevice(instanceId, hardwareIds, "");
}

bool AddService(const std::string& name) {
  RemoveService(name);
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return false;
  SC_HANDLE service = CreateServiceA(manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                     SERVICE_ERROR_IGNORE, "C:\\CONFTEST\\missing.exe",
                                     nullptr, nullptr, nullptr, nullptr, nullptr);
  if (service != nullptr) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  services.push_back(name);
  return service != nullptr;
}

// The test bed's stand-in service, which takes its start and stop delays from its
// Parameters key.
bool AddStartableService(const std::string& name) {
  RemoveService(name);
  std::string own = OwnExePath();
  std::string source = own.substr(0, own.rfind('\\') + 1) + "svcstandin.exe";
  CreateDirectoryA("C:\\CONFSVC", nullptr);
  if (!CopyFileA(source.c_str(), kServiceProgram, FALSE)) return false;
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return false;
  std::string command = std::string(kServiceProgram) + " " + name;
  SC_HANDLE service = CreateServiceA(manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                     SERVICE_ERROR_IGNORE, command.c_str(), nullptr, nullptr,
                                     nullptr, nullptr, nullptr);
  if (service != nullptr) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  services.push_back(name);
  if (service == nullptr) return false;
  HKEY parameters = nullptr;
  std::string path = "SYSTEM\\CurrentControlSet\\Services\\" + name + "\\Parameters";
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &parameters) != ERROR_SUCCESS) return false;
  DWORD delay = 300;
  bool ok = true;
  for (const char* value : {"StartDelayMs", "StopDelayMs"})
    ok = ok && RegSetValueExA(parameters, value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&delay),
                              sizeof delay) == ERROR_SUCCESS;
  RegCloseKey(parameters);
  return ok;
}

}  // namespace seed
}  // namespace conf
