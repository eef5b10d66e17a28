#include "common/system.h"

#include <cstring>

#include "common/text.h"
#include "platform/files.h"

const char* LastBackslash(const char* path) {
  const char* last = nullptr;
  for (const char* at = path; *at != '\0'; ++at) {
    if (IsDBCSLeadByte(static_cast<BYTE>(*at))) {
      if (at[1] == '\0') break;
      ++at;
    } else if (*at == '\\') {
      last = at;
    }
  }
  return last;
}

bool SystemFolderPath(SystemFolder folder, const char* fileName, char* buffer,
                      std::size_t capacity) {
  std::memset(buffer, 0, capacity);
  char directory[MAX_PATH] = {};
  UINT length = folder == SystemFolder::kWindows ? GetWindowsDirectoryA(directory, sizeof directory)
                                                 : GetSystemDirectoryA(directory, sizeof directory);
  // 0 is a failure, a length from the buffer's size on is the size it would need.
  if (length == 0 || length >= sizeof directory || std::strlen(directory) != length) return false;
  const bool absolute = (directory[1] == ':' && directory[2] == '\\') ||
                        (directory[0] == '\\' && directory[1] == '\\');
  if (!absolute) return false;
  // A drive root ("C:\") already ends in its separator.
  const char* last = LastBackslash(directory);
  const char* separator = last == directory + length - 1 ? "" : "\\";
  return FormatText(buffer, capacity, "%s%s%s", directory, separator, fileName);
}
