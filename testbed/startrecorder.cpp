// A stand-in for a program that another program starts (copied into place under the name
// it is started by, such as rundll32.exe or Setup.exe). It appends the command line it
// received, as one line, to the log named by the environment variable START_RECORD_LOG
// (or "<its own path>.log"), and when the command line's last blank-separated word names
// a file, keeps a copy of that file as "<log>.<n>", n counting the log's lines from 0:
// a file handed on for one run only, such as an INF, is gone once its program has ended.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

// Lines already in the log (each ended by CR LF).
DWORD LinesIn(const char* log) {
  HANDLE file = CreateFileA(log, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  DWORD lines = 0;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
    for (DWORD i = 0; i < read; ++i) lines += buffer[i] == '\n' ? 1 : 0;
  }
  CloseHandle(file);
  return lines;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char log[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableA("START_RECORD_LOG", log, sizeof log);
  if (length == 0 || length >= sizeof log) {
    length = GetModuleFileNameA(nullptr, log, sizeof log);
    if (length == 0 || length + 5 >= sizeof log) return 2;
    std::memcpy(log + length, ".log", 5);
  }
  const DWORD index = LinesIn(log);

  const char* line = GetCommandLineA();
  HANDLE file = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
  WriteFile(file, "\r\n", 2, &written, nullptr);
  CloseHandle(file);

  const char* last = std::strrchr(line, ' ');
  if (last != nullptr && GetFileAttributesA(last + 1) != INVALID_FILE_ATTRIBUTES) {
    char copy[MAX_PATH + 16];
    std::snprintf(copy, sizeof copy, "%s.%lu", log, static_cast<unsigned long>(index));
    if (!CopyFileA(last + 1, copy, FALSE)) return 4;
  }
  return 0;
}
