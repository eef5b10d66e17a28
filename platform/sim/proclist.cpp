// Process listing of the substitute machine: the PSAPI and Toolhelp entry points, which
// programs reach only through the exports of "PSAPI.DLL" and "Kernel32.DLL".
#include <algorithm>
#include <cstring>

#include "platform/proclist.h"
#include "platform/sim/machine.h"
#include "platform/sim/proclist_state.h"

namespace sim {
namespace {

template <class Fn>
FARPROC Export(Fn function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

void CopyName(char* buffer, std::size_t capacity, const std::string& name) {
  std::memset(buffer, 0, capacity);
  std::memcpy(buffer, name.data(), std::min(name.size(), capacity - 1));
}

// The open process behind `handle`; null, reported as misuse, for any other handle.
ProcessObject* ProcessOf(Machine& m, HANDLE handle, const char* operation) {
  auto* object = m.Lookup<ProcessObject>(handle);
  if (object == nullptr) m.Misuse(std::string(operation) + " on a handle that is not an open process");
  return object;
}

BOOL WINAPI SimEnumProcesses(DWORD* processIds, DWORD cb, DWORD* bytesReturned) {
  Machine& m = Current();
  if (auto fault = m.Enter("EnumProcesses")) return FALSE;
  if (processIds == nullptr || bytesReturned == nullptr)
    return Failure(ERROR_INVALID_PARAMETER, FALSE);
  DWORD room = static_cast<DWORD>(cb / sizeof(DWORD));
  DWORD filled = 0;
  for (const Process& process : m.kernel.processes) {
    if (!process.running) continue;
    if (filled == room) break;
    processIds[filled++] = process.pid;
  }
  *bytesReturned = filled * static_cast<DWORD>(sizeof(DWORD));
  return TRUE;
}

BOOL WINAPI SimEnumProcessModules(HANDLE process, HMODULE* modules, DWORD cb, DWORD* bytesNeeded) {
  Machine& m = Current();
  if (auto fault = m.Enter("EnumProcessModules")) return FALSE;
  auto* object = ProcessOf(m, process, "EnumProcessModules");
  if (object == nullptr) return Failure(ERROR_INVALID_HANDLE, FALSE);
  const DWORD query = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
  if ((object->access & query) != query) return Failure(ERROR_ACCESS_DENIED, FALSE);
  Process* target = m.kernel.FindProcess(object->pid);
  if (target == nullptr || !target->running) return Failure(ERROR_PARTIAL_COPY, FALSE);
  // A 32-bit process cannot read a 64-bit one's module list.
  if (m.kernel.wow64 && target->sixtyFourBit) return Failure(ERROR_PARTIAL_COPY, FALSE);
  if (bytesNeeded == nullptr) return Failure(ERROR_INVALID_PARAMETER, FALSE);
  // Module handles of a process are numbered from 1; the first is its executable.
  DWORD count = static_cast<DWORD>(target->modules.size());
  for (DWORD i = 0; i < count && (i + 1) * sizeof(HMODULE) <= cb; ++i)
    modules[i] = reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(i + 1));
  *bytesNeeded = count * static_cast<DWORD>(sizeof(HMODULE));
  return TRUE;
}

DWORD WINAPI SimGetModuleBaseNameA(HANDLE process, HMODULE module, LPSTR baseName, DWORD size) {
  Machine& m = Current();
  if (auto fault = m.Enter("GetModuleBaseNameA")) return 0;
  auto* object = ProcessOf(m, process, "GetModuleBaseNameA");
  if (object == nullptr) return Failure(ERROR_INVALID_HANDLE, DWORD{0});
  Process* target = m.kernel.FindProcess(object->pid);
  auto index = reinterpret_cast<std::uintptr_t>(module);
  if (target == nullptr || index == 0 || index > target->modules.size() || size == 0)
    return Failure(ERROR_INVALID_PARAMETER, DWORD{0});
  // The first module is the executable, reported with its on-disk letter case. A name
  // that does not fit fills the whole buffer, without terminator.
  const std::string& name = index == 1 ? target->exe : target->modules[index - 1];
  DWORD copied = static_cast<DWORD>(std::min<std::size_t>(name.size(), size));
  std::memcpy(baseName, name.data(), copied);
  if (copied < size) baseName[copied] = '\0';
  return copied;
}

DWORD WINAPI SimGetProcessImageFileNameA(HANDLE process, LPSTR imageFileName, DWORD size) {
  Machine& m = Current();
  if (auto fault = m.Enter("GetProcessImageFileNameA")) return 0;
  auto* object = ProcessOf(m, process, "GetProcessImageFileNameA");
  if (object == nullptr) return Failure(ERROR_INVALID_HANDLE, DWORD{0});
  if ((object->access & PROCESS_QUERY_INFORMATION) == 0) return Failure(ERROR_ACCESS_DENIED, DWORD{0});
  Process* target = m.kernel.FindProcess(object->pid);
  if (target == nullptr || imageFileName == nullptr) return Failure(ERROR_INVALID_PARAMETER, DWORD{0});
  // The kernel's form of the path, whatever the bitness of either process. A name that
  // does not fit with its terminator is an error, not a cut name.
  const std::string image = "\\Device\\HarddiskVolume1\\WINDOWS\\" + target->exe;
  if (image.size() + 1 > size) return Failure(ERROR_INSUFFICIENT_BUFFER, DWORD{0});
  std::memcpy(imageFileName, image.c_str(), image.size() + 1);
  return static_cast<DWORD>(image.size());
}

HANDLE WINAPI SimCreateToolhelp32Snapshot(DWORD flags, DWORD processId) {
  Machine& m = Current();
  if (auto fault = m.Enter("CreateToolhelp32Snapshot")) return INVALID_HANDLE_VALUE;
  auto snapshot = std::make_unique<SnapshotObject>();
  snapshot->flags = flags;
  if (flags & TH32CS_SNAPPROCESS) {
    for (const Process& process : m.kernel.processes) {
      if (!process.running) continue;
      PROCESSENTRY32 entry{};
      entry.dwSize = sizeof entry;
      entry.th32ProcessID = process.pid;
      entry.cntThreads = 1;
      CopyName(entry.szExeFile, sizeof entry.szExeFile, process.exe);
      snapshot->processEntries.push_back(entry);
    }
  }
  if (flags & TH32CS_SNAPMODULE) {
    Process* target = m.kernel.FindProcess(processId);
    if (target == nullptr || !target->running)
      return Failure(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    if (target->moduleSnapshotFails) return Failure(ERROR_PARTIAL_COPY, INVALID_HANDLE_VALUE);
    for (const std::string& module : target->modules) {
      MODULEENTRY32 entry{};
      entry.dwSize = sizeof entry;
      entry.th32ProcessID = target->pid;
      CopyName(entry.szModule, sizeof entry.szModule, module);
      CopyName(entry.szExePath, sizeof entry.szExePath, "C:\\WINDOWS\\" + module);
      snapshot->moduleEntries.push_back(entry);
    }
  }
  return m.OpenHandle(std::move(snapshot));
}

// Shared walk of both record kinds: First rewinds, Next goes on; both check dwSize.
template <class Entry>
BOOL Walk(const char* operation, HANDLE handle, Entry* entry, bool rewind,
          std::vector<Entry> SnapshotObject::*entries) {
  Machine& m = Current();
  if (auto fault = m.Enter(operation)) return FALSE;
  auto* snapshot = m.Lookup<SnapshotObject>(handle);
  if (snapshot == nullptr) {
    m.Misuse(std::string(operation) + " on a handle that is not an open snapshot");
    return Failure(ERROR_INVALID_HANDLE, FALSE);
  }
  if (entry == nullptr || entry->dwSize < sizeof(Entry)) return Failure(ERROR_BAD_LENGTH, FALSE);
  if (rewind) snapshot->next = 0;
  const std::vector<Entry>& list = snapshot->*entries;
  if (snapshot->next >= list.size()) return Failure(ERROR_NO_MORE_FILES, FALSE);
  *entry = list[snapshot->next++];
  return TRUE;
}

BOOL WINAPI SimProcess32First(HANDLE snapshot, PROCESSENTRY32* entry) {
  return Walk("Process32First", snapshot, entry, true, &SnapshotObject::processEntries);
}
BOOL WINAPI SimProcess32Next(HANDLE snapshot, PROCESSENTRY32* entry) {
  return Walk("Process32Next", snapshot, entry, false, &SnapshotObject::processEntries);
}
BOOL WINAPI SimModule32First(HANDLE snapshot, MODULEENTRY32* entry) {
  return Walk("Module32First", snapshot, entry, true, &SnapshotObject::moduleEntries);
}
BOOL WINAPI SimModule32Next(HANDLE snapshot, MODULEENTRY32* entry) {
  return Walk("Module32Next", snapshot, entry, false, &SnapshotObject::moduleEntries);
}

}  // namespace

void RegisterSystemLibraries(Machine& machine) {
  Library& psapi = machine.kernel.AddLibrary("PSAPI.DLL");
  psapi.exports["EnumProcesses"] = Export(&SimEnumProcesses);
  psapi.exports["EnumProcessModules"] = Export(&SimEnumProcessModules);
  psapi.exports["GetModuleBaseNameA"] = Export(&SimGetModuleBaseNameA);
  psapi.exports["GetProcessImageFileNameA"] = Export(&SimGetProcessImageFileNameA);

  Library& kernel = machine.kernel.AddLibrary("KERNEL32.DLL");
  kernel.pinned = true;
  kernel.exports["IsWow64Process"] = Export(&IsWow64ProcessExport);
  kernel.exports["CreateToolhelp32Snapshot"] = Export(&SimCreateToolhelp32Snapshot);
  kernel.exports["Process32First"] = Export(&SimProcess32First);
  kernel.exports["Process32Next"] = Export(&SimProcess32Next);
  kernel.exports["Module32First"] = Export(&SimModule32First);
  kernel.exports["Module32Next"] = Export(&SimModule32Next);
}

}  // namespace sim
