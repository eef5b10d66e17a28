// Kernel operations of the substitute machine: last error, handles, sleeping,
// libraries, version information and processes.
#include <cstring>
#include <string>

#include "platform/sim/machine.h"
#include "platform/sim/objects.h"

using sim::Current;
using sim::Failure;

DWORD WINAPI GetLastError() { return Current().lastError; }

void WINAPI SetLastError(DWORD error) { Current().lastError = error; }

BOOL WINAPI CloseHandle(HANDLE object) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("CloseHandle")) return FALSE;
  sim::HandleObject* found = m.LookupAny(object);
  if (found == nullptr || !found->IsKernelObject()) {
    m.Misuse("CloseHandle on a handle that is not an open kernel object");
    return Failure(ERROR_INVALID_HANDLE, FALSE);
  }
  m.CloseHandleOf(object);
  return TRUE;
}

void WINAPI Sleep(DWORD milliseconds) {
  sim::Machine& m = Current();
  m.Count("Sleep");
  m.now += milliseconds;
  m.Log("Sleep " + std::to_string(milliseconds));
}

HMODULE WINAPI LoadLibraryA(LPCSTR fileName) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("LoadLibraryA")) return nullptr;
  if (fileName == nullptr) return Failure(ERROR_INVALID_PARAMETER, HMODULE{});
  std::string name = fileName;
  sim::Library* library = m.FindLibrary(name);
  if (library == nullptr && name.find('.') == std::string::npos)
    library = m.FindLibrary(name + ".DLL");
  if (library == nullptr || !library->present) return Failure(ERROR_MOD_NOT_FOUND, HMODULE{});
  ++library->references;
  return m.ModuleOf(*library);
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("GetProcAddress")) return nullptr;
  sim::Library* library = m.LibraryOf(module);
  if (library == nullptr || library->references == 0) {
    m.Misuse("GetProcAddress on a library that is not loaded");
    return Failure(ERROR_INVALID_HANDLE, FARPROC{});
  }
  auto it = library->exports.find(procName == nullptr ? "" : procName);
  if (it == library->exports.end()) return Failure(ERROR_PROC_NOT_FOUND, FARPROC{});
  return it->second;
}

BOOL WINAPI FreeLibrary(HMODULE module) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("FreeLibrary")) return FALSE;
  sim::Library* library = m.LibraryOf(module);
  if (library == nullptr || library->references == 0) {
    m.Misuse("FreeLibrary on a library that is not loaded");
    return Failure(ERROR_INVALID_HANDLE, FALSE);
  }
  --library->references;
  return TRUE;
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("GetVersionExA")) return FALSE;
  // The NT family also takes the larger OSVERSIONINFOEXA (156 bytes).
  if (info == nullptr ||
      (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) && info->dwOSVersionInfoSize != 156))
    return Failure(ERROR_INSUFFICIENT_BUFFER, FALSE);
  info->dwMajorVersion = m.version.major;
  info->dwMinorVersion = m.version.minor;
  info->dwBuildNumber = m.version.build;
  info->dwPlatformId = m.version.platformId;
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  std::strncpy(info->szCSDVersion, m.version.csd.c_str(), sizeof info->szCSDVersion - 1);
  return TRUE;
}

// Low word: major then minor version; bit 31 set outside the NT family.
DWORD WINAPI GetVersion() {
  sim::Machine& m = Current();
  m.Count("GetVersion");
  DWORD low = (m.version.major & 0xFFu) | ((m.version.minor & 0xFFu) << 8);
  if (m.version.platformId == VER_PLATFORM_WIN32_NT) return low | ((m.version.build & 0x7FFFu) << 16);
  return low | 0x80000000u | ((m.version.build & 0x7FFFu) << 16);
}

HANDLE WINAPI OpenProcess(DWORD desiredAccess, BOOL inheritHandle, DWORD processId) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("OpenProcess")) return nullptr;
  if (inheritHandle) m.Misuse("OpenProcess with an inheritable handle");
  sim::Process* process = m.FindProcess(processId);
  if (process == nullptr || !process->running) return Failure(ERROR_INVALID_PARAMETER, HANDLE{});
  const DWORD query = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
  if (((desiredAccess & query) != 0 && process->refuseQuery) ||
      ((desiredAccess & PROCESS_TERMINATE) != 0 && process->refuseTerminate))
    return Failure(ERROR_ACCESS_DENIED, HANDLE{});
  auto object = std::make_unique<sim::ProcessObject>();
  object->pid = processId;
  object->access = desiredAccess;
  return m.OpenHandle(std::move(object));
}

BOOL WINAPI TerminateProcess(HANDLE process, UINT exitCode) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("TerminateProcess")) return FALSE;
  auto* object = m.Lookup<sim::ProcessObject>(process);
  if (object == nullptr) {
    m.Misuse("TerminateProcess on a handle that is not an open process");
    return Failure(ERROR_INVALID_HANDLE, FALSE);
  }
  if ((object->access & PROCESS_TERMINATE) == 0) return Failure(ERROR_ACCESS_DENIED, FALSE);
  sim::Process* target = m.FindProcess(object->pid);
  if (target == nullptr || !target->running || target->terminateFails)
    return Failure(ERROR_ACCESS_DENIED, FALSE);
  target->running = false;
  target->exitCode = exitCode;
  m.Log("TerminateProcess " + target->exe + " " + std::to_string(target->pid) + " exit " +
        std::to_string(exitCode));
  return TRUE;
}
