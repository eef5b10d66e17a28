// SETUPAPI.DLL from the system directory and from nowhere else.
//
// The programs that work on devices import SetupAPI delayed (the delay-import library
// made from setupapi.def), so the loader does not search for it when they start: on
// Windows XP it is not a known system library, and a SETUPAPI.DLL in the program's own
// folder (a driver package unpacked into TEMP, say) would be taken before the system's and
// run with the program's rights. The first device call goes through the runtime's
// delay-load helper, which asks the hooks below for the library and, where it has no
// function to give, for a replacement.
//
// Linked only into the programs that call SetupAPI, as an object file: the hooks must
// replace the runtime's empty ones, which an archive member would not.
#include <windows.h>

#include <delayimp.h>

#include "common/system.h"
#include "common/text.h"
#include "platform/devices.h"

namespace {

constexpr char kSetupApi[] = "SETUPAPI.DLL";

// What a device call does when the system's SetupAPI, or the function in it, is not to be
// had: it fails the way it fails when there is nothing to work on, with the error of a
// function that cannot be found, and the program goes the way it goes without the device
// (no list, no device found, no device node). Each has the exact type of the function it
// replaces, checked where StandInFor names them: the called function removes its
// arguments from the stack, so a count that differed would corrupt it.
template <class Result>
Result Unavailable(Result failure) {
  SetLastError(ERROR_PROC_NOT_FOUND);
  return failure;
}

HDEVINFO WINAPI NoClassDevs(const GUID*, PCSTR, HWND, DWORD) {
  return Unavailable(INVALID_HANDLE_VALUE);
}
HDEVINFO WINAPI NoClassDevsEx(const GUID*, PCSTR, HWND, DWORD, HDEVINFO, PCSTR, PVOID) {
  return Unavailable(INVALID_HANDLE_VALUE);
}
BOOL WINAPI NoListDetail(HDEVINFO, PSP_DEVINFO_LIST_DETAIL_DATA_A) {
  return Unavailable<BOOL>(FALSE);
}
BOOL WINAPI NoDeviceInfo(HDEVINFO, DWORD, PSP_DEVINFO_DATA) { return Unavailable<BOOL>(FALSE); }
BOOL WINAPI NoRegistryProperty(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD) {
  return Unavailable<BOOL>(FALSE);
}
BOOL WINAPI NoInstanceId(HDEVINFO, PSP_DEVINFO_DATA, PSTR, DWORD, PDWORD) {
  return Unavailable<BOOL>(FALSE);
}
BOOL WINAPI NoClassInstaller(DI_FUNCTION, HDEVINFO, PSP_DEVINFO_DATA) {
  return Unavailable<BOOL>(FALSE);
}
BOOL WINAPI NoListToDestroy(HDEVINFO) { return Unavailable<BOOL>(FALSE); }
CONFIGRET WINAPI NoDevNode(PDEVINST, DEVINSTID_A, ULONG) {
  return Unavailable<CONFIGRET>(CR_FAILURE);
}
CONFIGRET WINAPI NoReenumeration(DEVINST, ULONG) { return Unavailable<CONFIGRET>(CR_FAILURE); }

struct StandIn {
  const char* name;
  FARPROC entry;
};

// `standIn` as the helper hands it on; it does not compile unless its type is `Function`'s.
template <class Function>
FARPROC Entry(Function* standIn) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(standIn));
}

// The replacement for the SetupAPI function of this name, or null for a name that has
// none (the helper then raises its exception: the call is refused, never searched for).
FARPROC StandInFor(const char* name) {
  const StandIn standIns[] = {
      {"CM_Locate_DevNodeA", Entry<decltype(CM_Locate_DevNodeA)>(NoDevNode)},
      {"CM_Reenumerate_DevNode", Entry<decltype(CM_Reenumerate_DevNode)>(NoReenumeration)},
      {"SetupDiCallClassInstaller", Entry<decltype(SetupDiCallClassInstaller)>(NoClassInstaller)},
      {"SetupDiDestroyDeviceInfoList",
       Entry<decltype(SetupDiDestroyDeviceInfoList)>(NoListToDestroy)},
      {"SetupDiEnumDeviceInfo", Entry<decltype(SetupDiEnumDeviceInfo)>(NoDeviceInfo)},
      {"SetupDiGetClassDevsA", Entry<decltype(SetupDiGetClassDevsA)>(NoClassDevs)},
      {"SetupDiGetClassDevsExA", Entry<decltype(SetupDiGetClassDevsExA)>(NoClassDevsEx)},
      {"SetupDiGetDeviceInfoListDetailA",
       Entry<decltype(SetupDiGetDeviceInfoListDetailA)>(NoListDetail)},
      {"SetupDiGetDeviceInstanceIdA", Entry<decltype(SetupDiGetDeviceInstanceIdA)>(NoInstanceId)},
      {"SetupDiGetDeviceRegistryPropertyA",
       Entry<decltype(SetupDiGetDeviceRegistryPropertyA)>(NoRegistryProperty)},
  };
  for (const StandIn& standIn : standIns) {
    if (SameText(name, standIn.name, LetterCase::kExact)) return standIn.entry;
  }
  return nullptr;
}

bool IsSetupApi(const DelayLoadInfo* info) {
  return info->szDll != nullptr && SameText(info->szDll, kSetupApi, LetterCase::kIgnored);
}

// Where the helper would load the library by its bare name: the system directory's copy
// by its full path instead, with the libraries it imports searched for from there as well
// (the altered search path), not from the program's folder first. When that cannot be had, the program's own module takes its
// place (a library of any other name gets it too): never null, for on null the helper
// would call LoadLibraryA with the bare name, the very search this is here to prevent.
// The program exports nothing, so each function of it then comes to FailureHook.
FARPROC WINAPI NotifyHook(unsigned notification, PDelayLoadInfo info) {
  if (notification != dliNotePreLoadLibrary) return nullptr;
  HMODULE library = nullptr;
  char path[MAX_PATH];
  if (IsSetupApi(info) && SystemFolderPath(SystemFolder::kSystem, kSetupApi, path, sizeof path))
    library = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (library == nullptr) library = GetModuleHandleA(nullptr);
  return reinterpret_cast<FARPROC>(library);
}

// A SetupAPI function the library at hand does not have (or, without the system's copy,
// every one): its stand-in, which the helper enters for it, so the program's own failure
// paths take over instead of an unhandled exception. Null for anything else: the helper
// raises its exception, and the call is refused.
FARPROC WINAPI FailureHook(unsigned notification, PDelayLoadInfo info) {
  if (notification != dliFailGetProc || !IsSetupApi(info) || !info->dlp.fImportByName)
    return nullptr;
  return StandInFor(info->dlp.szProcName);
}

}  // namespace

// The delay-load helper's hooks (delayimp.h), replacing the runtime's empty ones.
PfnDliHook __pfnDliNotifyHook2 = NotifyHook;
PfnDliHook __pfnDliFailureHook2 = FailureHook;
