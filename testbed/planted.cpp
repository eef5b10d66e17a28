// A library planted where a program must not take its code from, copied under the name
// of a system library (PSAPI.DLL, ...). Loaded into a process, it leaves a file
// "<its own path>.loaded" holding the path of that process's program, so that a test can
// tell that it ran. It exports nothing: a program that took it would also miss its calls.
#include <windows.h>

#include <cstring>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char own[MAX_PATH] = {};
  DWORD length = GetModuleFileNameA(self, own, sizeof own);
  if (length == 0 || length + 8 >= sizeof own) return TRUE;
  std::memcpy(own + length, ".loaded", 8);
  char host[MAX_PATH] = {};
  DWORD hostLength = GetModuleFileNameA(nullptr, host, sizeof host);
  HANDLE file = CreateFileA(own, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return TRUE;
  DWORD written = 0;
  WriteFile(file, host, hostLength, &written, nullptr);
  CloseHandle(file);
  return TRUE;
}
