// A long-running stand-in process, copied under the names a test needs ("Linkdesk.exe",
// "Svcpilot.exe", ...). It only waits, and ends by itself after its lifetime (seconds,
// from the command line; 60 by default) so that nothing outlives a broken test for long.
#include <windows.h>

#include <cstdlib>
#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandTail, int) {
  long seconds = 60;
  if (commandTail != nullptr && *commandTail != '\0') {
    long asked = std::strtol(commandTail, nullptr, 10);
    if (asked > 0 && asked <= 600) seconds = asked;
  }
  Sleep(static_cast<DWORD>(seconds) * 1000u);
  return 0;
}
