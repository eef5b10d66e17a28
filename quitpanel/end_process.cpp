#include "quitpanel/end_process.h"

#include <cstdlib>
#include <cstring>

#include "airtoggle/managers.h"
#include "platform/handles.h"
#include "platform/proclist.h"
#include "platform/programs.h"
#include "platform/registry.h"
#include "common/system.h"
#include "common/text.h"

namespace {

// Room of the process identifier list. A list that comes back full may hide more
// processes, so it is grown (doubling) up to kMaxProcessIds before the walk.
constexpr DWORD kProcessIdCapacity = 1000;
constexpr DWORD kMaxProcessIds = 65536;
constexpr char kUnknownName[] = "Unknown";
constexpr DWORD kQueryAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;

class ProcessIdList {
 public:
  ProcessIdList() = default;
  ~ProcessIdList() { std::free(grown_); }
  ProcessIdList(const ProcessIdList&) = delete;
  ProcessIdList& operator=(const ProcessIdList&) = delete;

  bool Fill(EnumProcessesFn enumProcesses) {
    DWORD bytes = 0;
    if (!enumProcesses(fixed_, sizeof fixed_, &bytes)) return false;
    Take(fixed_, kProcessIdCapacity, bytes);
    for (DWORD capacity = kProcessIdCapacity * 2;
         count_ == capacity / 2 && capacity <= kMaxProcessIds; capacity *= 2) {
      auto* larger = static_cast<DWORD*>(std::malloc(capacity * sizeof(DWORD)));
      if (larger == nullptr) break;
      if (!enumProcesses(larger, capacity * static_cast<DWORD>(sizeof(DWORD)), &bytes)) {
        std::free(larger);  // keep the list already taken
        break;
      }
      std::free(grown_);
      grown_ = larger;
      Take(larger, capacity, bytes);
    }
    return true;
  }

  DWORD Count() const { return count_; }
  DWORD operator[](DWORD index) const { return ids_[index]; }

 private:
  void Take(DWORD* ids, DWORD capacity, DWORD bytes) {
    ids_ = ids;
    count_ = bytes / static_cast<DWORD>(sizeof(DWORD));
    if (count_ > capacity) count_ = capacity;
  }

  DWORD fixed_[kProcessIdCapacity] = {};
  DWORD* grown_ = nullptr;
  DWORD* ids_ = fixed_;
  DWORD count_ = 0;
};

// Under WOW64 the module list of a 64-bit process cannot be read: its name is then the
// last element of its image file name ("\Device\HarddiskVolume1\...\Linkdesk.exe"),
// where the system has that call (XP on). `name` is left alone when there is none.
void NameFromImageFile(GetProcessImageFileNameAFn getImageFileName, HANDLE process, char* name,
                       std::size_t capacity) {
  if (getImageFileName == nullptr) return;
  char image[MAX_PATH] = {};
  // A path that does not fit fails the call: a name is never taken from a cut path.
  DWORD length = getImageFileName(process, image, sizeof image);
  if (length == 0 || length >= sizeof image) return;
  image[length] = '\0';
  const char* slash = LastBackslash(image);
  CopyText(name, capacity, slash != nullptr ? slash + 1 : image);
}

// How long a mode switcher in the middle of a switch is given to end by itself. Its
// longest switch ("-Airtoggle") takes about 6 s of its own (the 1 s timer, the 4 s wait
// for the vendor service, the rest) plus the stops and starts of the two services, a few
// seconds each where the services are well; 20 s covers that. A slower switch (its own
// waits on a service go up to 30 s) is ended all the same: its record then makes the
// next run put the services back. Waiting out the worst case would hold an uninstaller
// for minutes.
constexpr DWORD kSwitchEndWaitMs = 20000;

// True while the mode switcher records a switch under way, in the view it writes it in.
bool SwitchUnderWay() {
  RegistryKey record;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSwitchRecordKey, 0,
                       KEY_QUERY_VALUE | static_cast<REGSAM>(kSwitchRecordView),
                       record.put()) == ERROR_SUCCESS;
}

// Ends the process; its handles are released on return, before the caller's library. A
// mode switcher in the middle of a switch is first let finish it (bounded): ended half
// way, it would leave a service stopped until its next run.
int EndProcess(DWORD processId, bool modeSwitcher) {
  ProcessHandle waiter;
  if (modeSwitcher && SwitchUnderWay()) {
    waiter.reset(OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (waiter && WaitForSingleObject(waiter.get(), kSwitchEndWaitMs) == WAIT_OBJECT_0) return kEnded;
  }
  ProcessHandle victim(OpenProcess(PROCESS_TERMINATE, FALSE, processId));
  if (!victim) return kOpenForEndingFailed;
  return TerminateProcess(victim.get(), 0) ? kEnded : kTerminateFailed;
}

int EndOnNtFamily(const char* upperTarget) {
  // By its full path: loaded by name, PSAPI.DLL is not a known system library on every
  // Windows, and a copy beside this program or in the current directory would run inside
  // it with its rights. The altered search path takes the libraries it imports from the
  // system directory too, not from this program's folder first. Without the whole system
  // directory it is not loaded at all.
  char psapiPath[MAX_PATH];
  if (!SystemFolderPath(SystemFolder::kSystem, "PSAPI.DLL", psapiPath, sizeof psapiPath))
    return kPsapiMissing;
  LibraryHandle psapi(LoadLibraryExA(psapiPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!psapi) return kPsapiMissing;
  auto enumProcesses = EntryPoint<EnumProcessesFn>(psapi.get(), "EnumProcesses");
  auto enumProcessModules = EntryPoint<EnumProcessModulesFn>(psapi.get(), "EnumProcessModules");
  auto getModuleBaseName = EntryPoint<GetModuleBaseNameAFn>(psapi.get(), "GetModuleBaseNameA");
  if (enumProcesses == nullptr || enumProcessModules == nullptr || getModuleBaseName == nullptr)
    return kPsapiEntryMissing;
  // Optional: only a 32-bit process on 64-bit Windows needs it.
  auto getImageFileName = RunningUnderWow64() ? EntryPoint<GetProcessImageFileNameAFn>(
                                                    psapi.get(), "GetProcessImageFileNameA")
                                              : nullptr;

  ProcessIdList ids;
  if (!ids.Fill(enumProcesses)) return kEnumProcessesFailed;
  // The mode switcher records switches only where there are services, on this family.
  const bool modeSwitcher = SameText(upperTarget, kModeSwitcherImage, LetterCase::kIgnored);

  for (DWORD i = 0; i < ids.Count(); ++i) {
    // A process that cannot be queried is compared under the name "Unknown".
    char name[MAX_PATH] = {};
    CopyText(name, sizeof name, kUnknownName);
    // Held while the process is ended: as long as a handle to it is open, its id cannot
    // pass to another process, also while a mode switcher is let finish its switch.
    ProcessHandle query(OpenProcess(kQueryAccess, FALSE, ids[i]));
    HMODULE executable = nullptr;
    DWORD needed = 0;
    if (query && enumProcessModules(query.get(), &executable, sizeof executable, &needed)) {
      getModuleBaseName(query.get(), executable, name, sizeof name);
      name[sizeof name - 1] = '\0';
    } else if (query) {
      NameFromImageFile(getImageFileName, query.get(), name, sizeof name);
    }
    UpperAscii(name);
    if (std::strcmp(name, upperTarget) == 0) return EndProcess(ids[i], modeSwitcher);
  }
  return kNoMatch;
}

int EndOn9xFamily(const char* upperTarget) {
  LibraryHandle kernel(LoadLibraryA("Kernel32.DLL"));
  if (!kernel) return kKernelMissing;
  auto createSnapshot =
      EntryPoint<CreateToolhelp32SnapshotFn>(kernel.get(), "CreateToolhelp32Snapshot");
  auto processFirst = EntryPoint<Process32FirstFn>(kernel.get(), "Process32First");
  auto processNext = EntryPoint<Process32NextFn>(kernel.get(), "Process32Next");
  auto moduleFirst = EntryPoint<Module32FirstFn>(kernel.get(), "Module32First");
  auto moduleNext = EntryPoint<Module32NextFn>(kernel.get(), "Module32Next");
  if (createSnapshot == nullptr || processFirst == nullptr || processNext == nullptr ||
      moduleFirst == nullptr || moduleNext == nullptr)
    return kToolhelpEntryMissing;

  SnapshotHandle processes(createSnapshot(TH32CS_SNAPPROCESS, 0));
  if (!processes) return kSnapshotFailed;

  PROCESSENTRY32 process;
  std::memset(&process, 0, sizeof process);
  process.dwSize = sizeof process;
  for (BOOL more = processFirst(processes.get(), &process); more;
       process.dwSize = sizeof process, more = processNext(processes.get(), &process)) {
    // A module list that cannot be taken ends the whole search.
    SnapshotHandle modules(createSnapshot(TH32CS_SNAPMODULE, process.th32ProcessID));
    if (!modules) return kSnapshotFailed;

    // Every module counts, not only the executable; the name must match exactly.
    MODULEENTRY32 module;
    std::memset(&module, 0, sizeof module);
    module.dwSize = sizeof module;
    for (BOOL found = moduleFirst(modules.get(), &module); found;
         module.dwSize = sizeof module, found = moduleNext(modules.get(), &module)) {
      module.szModule[sizeof module.szModule - 1] = '\0';
      if (std::strcmp(module.szModule, upperTarget) != 0) continue;
      ProcessHandle victim(OpenProcess(PROCESS_TERMINATE, FALSE, process.th32ProcessID));
      if (!victim) return kOpenForEndingFailed;
      BOOL ended = TerminateProcess(victim.get(), 0);
      // Both snapshots go before the process handle; the library goes last.
      modules.reset();
      processes.reset();
      victim.reset();
      return ended ? kEnded : kTerminateFailed;
    }
  }
  return kNoMatch;
}

}  // namespace

int EndProcessByName(const char* name) {
  // Measure at most one character past the limit: the name need not be short.
  std::size_t length = 0;
  while (name != nullptr && length <= static_cast<std::size_t>(kMaxTargetName) && name[length] != '\0')
    ++length;
  if (length < 1 || length > static_cast<std::size_t>(kMaxTargetName)) return kBadName;

  char upperTarget[kMaxTargetName + 1] = {};
  std::memcpy(upperTarget, name, length);
  UpperAscii(upperTarget);

  OSVERSIONINFOA version;
  if (!QueryVersion(&version)) return kVersionUnknown;
  if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) return EndOnNtFamily(upperTarget);
  if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) return EndOn9xFamily(upperTarget);
  return kPlatformUnknown;
}
