#include "scrubnet/folders.h"

#include <cstring>

#include "platform/files.h"
#include "platform/kernel.h"
#include "common/system.h"
#include "common/text.h"

namespace {

// "X:\..." or "\\server\...": anything else would be taken relative to the current drive
// or directory.
bool IsFullPath(const char* path) {
  bool drive = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
               path[1] == ':' && path[2] == '\\';
  bool unc = path[0] == '\\' && path[1] == '\\';
  return drive || unc;
}

// Keeps a directory the platform reported as `reported` (its length, or the size it needs
// when it did not fit, or 0 on failure): true when it fits and is a full path. A trailing
// backslash (a drive root) is dropped, since every folder name begins with one.
bool Usable(char* directory, unsigned capacity, UINT reported) {
  if (reported == 0 || reported >= capacity || !IsFullPath(directory)) {
    std::memset(directory, 0, capacity);
    return false;
  }
  std::size_t length = std::strlen(directory);
  if (length != reported) {  // not what the platform said it copied
    std::memset(directory, 0, capacity);
    return false;
  }
  // Only a byte that is a separator: in a double-byte code page the last byte 0x5C can be
  // the second half of a character, and dropping it would name another folder.
  if (LastBackslash(directory) == directory + length - 1) directory[length - 1] = '\0';
  return true;
}

// Deletes `directory` + `folder` + `fileName` when the whole path fits `capacity`.
void DeleteBuilt(const char* directory, const char* folder, const char* fileName,
                 unsigned capacity) {
  char path[kCatalogPathCapacity] = {};
  if (capacity > sizeof path) return;
  if (!FormatText(path, capacity, "%s%s%s", directory, folder, fileName)) return;
  DeleteFileA(path);
}

}  // namespace

void DeleteInWindowsFolder(const char* folder, const char* fileName) {
  char windows[kWindowsPathCapacity] = {};
  if (!Usable(windows, sizeof windows, GetWindowsDirectoryA(windows, sizeof windows))) return;
  DeleteBuilt(windows, folder, fileName, kWindowsPathCapacity);
}

void DeleteInCatalogFolder(const char* fileName) {
  char system[kCatalogPathCapacity] = {};
  if (!Usable(system, sizeof system, GetSystemDirectoryA(system, sizeof system))) return;
  DeleteBuilt(system, kCatalogFolder, fileName, kCatalogPathCapacity);
}

bool IsBareFileName(const char* name) {
  if (name[0] == '\0') return false;
  bool onlyDotsAndBlanks = true;
  for (const char* c = name; *c != '\0'; ++c) {
    if (*c == '\\' || *c == '/' || *c == ':') return false;
    if (*c != '.' && *c != ' ') onlyDotsAndBlanks = false;
  }
  return !onlyDotsAndBlanks;
}
