// A stand-in for the driver setup program that Pakrun wraps, copied under the names it
// starts ("Setup.exe", "Netprep.exe", ...). It appends the command line it received, as
// one line, to "<its own path>.log". While a file "<its own path>.hold" exists it waits
// (at most 60 seconds), so that a test can look at the machine while it "runs".
#include <windows.h>

#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char own[MAX_PATH] = {};
  DWORD length = GetModuleFileNameA(nullptr, own, sizeof own);
  if (length == 0 || length + 6 >= sizeof own) return 2;
  char log[MAX_PATH];
  char hold[MAX_PATH];
  std::memcpy(log, own, length);
  std::memcpy(log + length, ".log", 5);
  std::memcpy(hold, own, length);
  std::memcpy(hold + length, ".hold", 6);

  HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  const char* line = GetCommandLineA();
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
  WriteFile(file, "\r\n", 2, &written, nullptr);
  CloseHandle(file);

  for (int waited = 0; waited < 60000 && GetFileAttributesA(hold) != INVALID_FILE_ATTRIBUTES;
       waited += 50)
    Sleep(50);
  return 0;
}
