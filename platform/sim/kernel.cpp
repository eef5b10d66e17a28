// Kernel operations of the substitute machine: last error, handles, sleeping,
// libraries, version information, processes, the command line and the Windows and
// system directories.
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/kernel.h"
#include "platform/sim/machine.h"

using sim::Current;
using sim::Failure;

namespace sim {

Library& KernelState::AddLibrary(const std::string& name) {
  if (Library* existing = FindLibrary(name)) return *existing;
  libraries.push_back(std::make_unique<Library>());
  libraries.back()->name = name;
  return *libraries.back();
}

namespace {
std::string FolderOf(const std::string& path) {
  auto slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}
}  // namespace

std::vector<std::string> KernelState::ProgramSearchFolders() const {
  return {FolderOf(self.modulePath), currentDirectory, systemDirectory, windowsDirectory};
}

std::vector<std::string> KernelState::LibrarySearchFolders() const {
  return {FolderOf(self.modulePath), systemDirectory, windowsDirectory, currentDirectory};
}

Library* KernelState::Locate(const std::string& fileName) {
  std::string file = fileName;
  auto slash = file.rfind('\\');
  if (file.find('.', slash == std::string::npos ? 0 : slash) == std::string::npos) file += ".DLL";
  auto bare = [](std::string folder) {
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    return folder;
  };
  auto inFolder = [&](const std::string& where, const std::string& name) -> Library* {
    std::string folder = bare(where);
    if (folder.empty()) return nullptr;
    if (Library* placed = FindLibrary(folder + "\\" + name)) return placed;
    return SameText(folder, bare(systemDirectory)) ? FindLibrary(name) : nullptr;
  };
  slash = file.rfind('\\');
  if (slash != std::string::npos) return inFolder(file.substr(0, slash), file.substr(slash + 1));
  for (const std::string& folder : LibrarySearchFolders()) {
    if (Library* found = inFolder(folder, file)) return found;
  }
  return nullptr;
}

Library* KernelState::FindLibrary(const std::string& name) {
  for (auto& library : libraries) {
    if (SameText(library->name, name)) return library.get();
  }
  return nullptr;
}

// A module handle is the library's index in a range of its own: the first library at
// kFirstModule, each next one kModuleStride further on.
namespace {
constexpr std::uintptr_t kFirstModule = 0x10000000u;
constexpr std::uintptr_t kModuleStride = 0x10000u;
}  // namespace

HMODULE KernelState::ModuleOf(const Library& library) const {
  for (std::size_t i = 0; i < libraries.size(); ++i) {
    if (libraries[i].get() == &library)
      return reinterpret_cast<HMODULE>(kFirstModule + i * kModuleStride);
  }
  return nullptr;
}

Library* KernelState::LibraryOf(HMODULE module) {
  auto value = reinterpret_cast<std::uintptr_t>(module);
  if (value < kFirstModule || (value - kFirstModule) % kModuleStride != 0) return nullptr;
  std::size_t index = (value - kFirstModule) / kModuleStride;
  return index < libraries.size() ? libraries[index].get() : nullptr;
}

int KernelState::LoadedLibraryCount() const {
  int count = 0;
  for (const auto& library : libraries) count += library->references;
  return count;
}

Process& KernelState::AddProcess(const std::string& exe) {
  Process process;
  process.pid = nextPid;
  nextPid += 4;
  process.exe = exe;
  process.modules = {Upper(exe), "KERNEL32.DLL"};
  processes.push_back(process);
  return processes.back();
}

Process* KernelState::FindProcess(DWORD pid) {
  // AddProcess hands out the IDs in steps of 4, so a process is found where its ID says;
  // a table of a thousand processes is looked up once per process by every walk over it.
  const DWORD first = processes.empty() ? 0 : processes.front().pid;
  if (!processes.empty() && pid >= first && (pid - first) % 4 == 0) {
    const std::size_t guess = (pid - first) / 4;
    if (guess < processes.size() && processes[guess].pid == pid) return &processes[guess];
  }
  for (auto& process : processes) {
    if (process.pid == pid) return &process;
  }
  return nullptr;
}

}  // namespace sim

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
  m.Log(sim::Event::Count("Sleep", milliseconds));
}

namespace {

// The library's own load; the machine's libraries import nothing, so the search path for
// their imports that LoadLibraryExA's flags choose has nothing to act on.
HMODULE LoadLibraryOf(sim::Machine& m, LPCSTR fileName) {
  sim::Library* library = m.kernel.Locate(fileName);
  if (library == nullptr || !library->present) return Failure(ERROR_MOD_NOT_FOUND, HMODULE{});
  ++library->references;
  return m.kernel.ModuleOf(*library);
}

}  // namespace

HMODULE WINAPI LoadLibraryA(LPCSTR fileName) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("LoadLibraryA")) return nullptr;
  if (fileName == nullptr) return Failure(ERROR_INVALID_PARAMETER, HMODULE{});
  m.RecordArguments("LoadLibraryA", {{"name", fileName}});
  return LoadLibraryOf(m, fileName);
}

// The file handle is reserved and must be null.
HMODULE WINAPI LoadLibraryExA(LPCSTR fileName, HANDLE file, DWORD flags) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("LoadLibraryExA")) return nullptr;
  if (fileName == nullptr || file != nullptr) return Failure(ERROR_INVALID_PARAMETER, HMODULE{});
  m.RecordArguments("LoadLibraryExA",
                    {{"name", fileName},
                     {"flags", flags == LOAD_WITH_ALTERED_SEARCH_PATH ? "altered search path"
                                                                       : std::to_string(flags)}});
  return LoadLibraryOf(m, fileName);
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("GetProcAddress")) return nullptr;
  sim::Library* library = m.kernel.LibraryOf(module);
  if (library == nullptr || (library->references == 0 && !library->pinned)) {
    m.Misuse("GetProcAddress on a library that is not loaded");
    return Failure(ERROR_INVALID_HANDLE, FARPROC{});
  }
  auto it = library->exports.find(procName == nullptr ? "" : procName);
  if (it == library->exports.end()) return Failure(ERROR_PROC_NOT_FOUND, FARPROC{});
  return it->second;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("GetModuleHandleA")) return nullptr;
  if (moduleName == nullptr) return Failure(ERROR_INVALID_PARAMETER, HMODULE{});
  // Only libraries already in the process: the system's own, found by bare name.
  sim::Library* library = m.kernel.FindLibrary(moduleName);
  if (library == nullptr || !library->present || (library->references == 0 && !library->pinned))
    return Failure(ERROR_MOD_NOT_FOUND, HMODULE{});
  return m.kernel.ModuleOf(*library);
}

HANDLE WINAPI GetCurrentProcess() {
  Current().Count("GetCurrentProcess");
  return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));
}

BOOL WINAPI sim::IsWow64ProcessExport(HANDLE process, PBOOL wow64) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("IsWow64Process")) return FALSE;
  if (wow64 == nullptr) return Failure(ERROR_INVALID_PARAMETER, FALSE);
  if (process != GetCurrentProcess()) {
    m.Misuse("IsWow64Process on a process other than the caller's own");
    return Failure(ERROR_INVALID_HANDLE, FALSE);
  }
  *wow64 = m.kernel.wow64 ? TRUE : FALSE;
  return TRUE;
}

BOOL WINAPI FreeLibrary(HMODULE module) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("FreeLibrary")) return FALSE;
  sim::Library* library = m.kernel.LibraryOf(module);
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
  info->dwMajorVersion = m.kernel.version.major;
  info->dwMinorVersion = m.kernel.version.minor;
  info->dwBuildNumber = m.kernel.version.build;
  info->dwPlatformId = m.kernel.version.platformId;
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  std::strncpy(info->szCSDVersion, m.kernel.version.csd.c_str(), sizeof info->szCSDVersion - 1);
  return TRUE;
}

// Low word: major then minor version; bit 31 set outside the NT family.
DWORD WINAPI GetVersion() {
  sim::Machine& m = Current();
  m.Count("GetVersion");
  DWORD low = (m.kernel.version.major & 0xFFu) | ((m.kernel.version.minor & 0xFFu) << 8);
  if (m.kernel.version.platformId == VER_PLATFORM_WIN32_NT) return low | ((m.kernel.version.build & 0x7FFFu) << 16);
  return low | 0x80000000u | ((m.kernel.version.build & 0x7FFFu) << 16);
}

HANDLE WINAPI OpenProcess(DWORD desiredAccess, BOOL inheritHandle, DWORD processId) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("OpenProcess")) return nullptr;
  m.RecordArguments("OpenProcess", {{"inherit", inheritHandle ? "yes" : "no"}});
  sim::Process* process = m.kernel.FindProcess(processId);
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
  sim::Process* target = m.kernel.FindProcess(object->pid);
  if (target == nullptr || !target->running || target->terminateFails)
    return Failure(ERROR_ACCESS_DENIED, FALSE);
  target->running = false;
  target->exitCode = exitCode;
  m.Log(sim::Event::On("TerminateProcess", target->exe,
                       std::to_string(target->pid) + " exit " + std::to_string(exitCode))
            .WithNumber(exitCode)
            .Did(sim::Effect::kProcessTerminated, true));
  return TRUE;
}

// --- the start-up information and the directories, set by the test ------------------

LPSTR WINAPI GetCommandLineA() {
  sim::Machine& m = sim::Current();
  m.Count("GetCommandLineA");
  return m.kernel.commandLine.data();
}

namespace {

// Copies the directory when it fits (returning its length); otherwise returns the size
// needed, terminator included, and leaves the buffer alone.
UINT CopyDirectory(const std::string& directory, LPSTR buffer, UINT size) {
  UINT length = static_cast<UINT>(directory.size());
  if (buffer == nullptr || size <= length) return length + 1;
  std::memcpy(buffer, directory.c_str(), length + 1);
  return length;
}

}  // namespace

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  sim::Machine& m = sim::Current();
  if (auto fault = m.Enter("GetWindowsDirectoryA")) return 0;
  return CopyDirectory(m.kernel.windowsDirectory, buffer, size);
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
  sim::Machine& m = sim::Current();
  if (auto fault = m.Enter("GetSystemDirectoryA")) return 0;
  return CopyDirectory(m.kernel.systemDirectory, buffer, size);
}
