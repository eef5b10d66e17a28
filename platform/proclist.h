// Process listing: the PSAPI (NT family) and Toolhelp (9x family) records and entry
// point types. Both interfaces are only ever reached through GetProcAddress.
#pragma once

#include "platform/kernel.h"

#if defined(_WIN32) && !defined(PLATFORM_SIM)
#include <tlhelp32.h>
#else
#define TH32CS_SNAPPROCESS 0x00000002
#define TH32CS_SNAPMODULE 0x00000008
#define MAX_MODULE_NAME32 255

typedef struct tagPROCESSENTRY32 {
  DWORD dwSize;
  DWORD cntUsage;
  DWORD th32ProcessID;
  ULONG_PTR th32DefaultHeapID;
  DWORD th32ModuleID;
  DWORD cntThreads;
  DWORD th32ParentProcessID;
  LONG pcPriClassBase;
  DWORD dwFlags;
  CHAR szExeFile[MAX_PATH];
} PROCESSENTRY32, *LPPROCESSENTRY32;

typedef struct tagMODULEENTRY32 {
  DWORD dwSize;
  DWORD th32ModuleID;
  DWORD th32ProcessID;
  DWORD GlblcntUsage;
  DWORD ProccntUsage;
  BYTE* modBaseAddr;
  DWORD modBaseSize;
  HMODULE hModule;
  char szModule[MAX_MODULE_NAME32 + 1];
  char szExePath[MAX_PATH];
} MODULEENTRY32, *LPMODULEENTRY32;
#endif

#if defined(_WIN32) && !defined(_WIN64) && !defined(PLATFORM_SIM)
static_assert(sizeof(PROCESSENTRY32) == 296, "ANSI PROCESSENTRY32 of 32-bit Windows");
static_assert(sizeof(MODULEENTRY32) == 548, "ANSI MODULEENTRY32 of 32-bit Windows");
#endif

// PSAPI.DLL
typedef BOOL(WINAPI* EnumProcessesFn)(DWORD* processIds, DWORD cb, DWORD* bytesReturned);
typedef BOOL(WINAPI* EnumProcessModulesFn)(HANDLE process, HMODULE* modules, DWORD cb,
                                           DWORD* bytesNeeded);
typedef DWORD(WINAPI* GetModuleBaseNameAFn)(HANDLE process, HMODULE module, LPSTR baseName,
                                            DWORD size);
// Windows XP and later: the process's image file in the kernel's device form
// ("\Device\HarddiskVolume1\...").
typedef DWORD(WINAPI* GetProcessImageFileNameAFn)(HANDLE process, LPSTR imageFileName,
                                                  DWORD size);
// Kernel32.DLL (Toolhelp)
typedef HANDLE(WINAPI* CreateToolhelp32SnapshotFn)(DWORD flags, DWORD processId);
typedef BOOL(WINAPI* Process32FirstFn)(HANDLE snapshot, PROCESSENTRY32* entry);
typedef BOOL(WINAPI* Process32NextFn)(HANDLE snapshot, PROCESSENTRY32* entry);
typedef BOOL(WINAPI* Module32FirstFn)(HANDLE snapshot, MODULEENTRY32* entry);
typedef BOOL(WINAPI* Module32NextFn)(HANDLE snapshot, MODULEENTRY32* entry);
