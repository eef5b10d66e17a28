// Stand-in program started by the process cases: appends its own command line to the
// start log; with the word "wait" on it, first waits 20 seconds (long enough to be ended).
#include <windows.h>

#include <cstring>

int main() {
  const char* line = GetCommandLineA();
  if (std::strstr(line, "wait") != nullptr) Sleep(20000);
  HANDLE log = CreateFileA("C:\\CONFTEST\\started.txt", FILE_APPEND_DATA, FILE_SHARE_READ,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(log, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
  WriteFile(log, "\n", 1, &written, nullptr);
  CloseHandle(log);
  return 0;
}
