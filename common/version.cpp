#include "common/system.h"

#include <cstring>

bool QueryVersion(OSVERSIONINFOA* version) {
  std::memset(version, 0, sizeof *version);
  version->dwOSVersionInfoSize = sizeof *version;
  if (!GetVersionExA(version)) return false;
  version->szCSDVersion[sizeof version->szCSDVersion - 1] = '\0';
  return true;
}
