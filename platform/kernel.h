// Processes, files and system information: the kernel-side Win32 operations the
// programs call. On Windows this is the system's own declarations; elsewhere, and in a
// Windows build that runs the program logic on the substitute machine (PLATFORM_SIM:
// pakrun-preview.exe), the same names are declared here and implemented by the
// substitute machine (platform/sim).
#pragma once

#if defined(_WIN32) && !defined(PLATFORM_SIM)
#include <windows.h>
#else
#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
typedef std::uint32_t ULONG;
typedef unsigned int UINT;
typedef std::intptr_t INT_PTR;
typedef std::uintptr_t UINT_PTR;
typedef std::intptr_t LONG_PTR;
typedef std::uintptr_t ULONG_PTR;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef BYTE* LPBYTE;
typedef BOOL* PBOOL;
typedef DWORD* LPDWORD;
typedef void* HANDLE;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef INT_PTR(WINAPI* FARPROC)();

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))

// System error codes (winerror.h) the programs and the substitute machine use.
#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_BAD_LENGTH 24L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_GEN_FAILURE 31L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_PARTIAL_COPY 299L

DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD error);
BOOL WINAPI CloseHandle(HANDLE object);
void WINAPI Sleep(DWORD milliseconds);

// Libraries loaded by name at run time. With LOAD_WITH_ALTERED_SEARCH_PATH and a full
// path, the libraries the loaded one imports are searched for from its own folder on,
// not from the running program's.
#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008
HMODULE WINAPI LoadLibraryA(LPCSTR fileName);
HMODULE WINAPI LoadLibraryExA(LPCSTR fileName, HANDLE file, DWORD flags);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName);
BOOL WINAPI FreeLibrary(HMODULE module);
// A library the process has loaded already (kernel32 is loaded in every process); it is
// not loaded, searched for or counted.
HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName);
// The pseudo handle that stands for the calling process.
HANDLE WINAPI GetCurrentProcess();

// Version information.
#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

typedef struct _OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
} OSVERSIONINFOA, *POSVERSIONINFOA, *LPOSVERSIONINFOA;

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info);
DWORD WINAPI GetVersion();

// Processes.
#define SYNCHRONIZE 0x00100000L
#define PROCESS_TERMINATE 0x0001
#define PROCESS_VM_READ 0x0010
#define PROCESS_QUERY_INFORMATION 0x0400
// Every right, as the headers for Windows XP and earlier define it.
#define PROCESS_ALL_ACCESS 0x1F0FFF

HANDLE WINAPI OpenProcess(DWORD desiredAccess, BOOL inheritHandle, DWORD processId);
BOOL WINAPI TerminateProcess(HANDLE process, UINT exitCode);

// The process's own start-up: its command line, unparsed.
LPSTR WINAPI GetCommandLineA();
// The Windows and the system directory: the length copied, or the size needed
// (terminator included) when the buffer is too small, or 0 on failure.
UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size);
UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size);
#endif

// kernel32's IsWow64Process (Windows XP SP2 and later; reached through GetProcAddress).
typedef BOOL(WINAPI* IsWow64ProcessFn)(HANDLE process, PBOOL wow64);

// Turns an entry point found by name into the function type the caller expects. The
// detour through a plain function pointer keeps the cast well-defined and quiet.
template <class Fn>
inline Fn EntryPoint(HMODULE library, LPCSTR name) {
  FARPROC found = GetProcAddress(library, name);
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(found));
}
