#include "common/system.h"

#include <cstring>

bool ReadRegistryText(HKEY key, const char* name, char* buffer, DWORD capacity) {
  std::memset(buffer, 0, capacity);
  DWORD size = capacity;
  if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size) ==
          ERROR_SUCCESS &&
      size <= capacity && std::memchr(buffer, '\0', capacity) != nullptr)
    return true;
  std::memset(buffer, 0, capacity);
  return false;
}
