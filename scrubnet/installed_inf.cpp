// The installed INF of a driver instance with its precompiled twin (PNF) and its catalog
// (CAT).
#include <cstring>

#include "common/text.h"
#include "platform/files.h"
#include "scrubnet/folders.h"
#include "scrubnet/scrubnet.h"

namespace {

// The INF name with its last three characters replaced by `suffix` ("PNF" or "CAT"),
// into `name`; false (and nothing derived) when the INF name is too short to hold an
// extension, so that the suffix never stands for the whole name, or when the result
// would not fit.
bool DeriveName(const char* infName, const char* suffix, char* name, std::size_t capacity) {
  constexpr std::size_t kSuffixLength = 3;
  std::size_t length = std::strlen(infName);
  if (length <= kSuffixLength) return false;
  // The last three bytes must be three characters of their own: replacing the second
  // byte of a double-byte character would leave its first byte to join the suffix and
  // name some other file.
  for (std::size_t at = 0; at < length; ++at) {
    if (!IsDBCSLeadByte(static_cast<BYTE>(infName[at]))) continue;
    if (at + 1 >= length - kSuffixLength) return false;
    ++at;
  }
  if (!CopyText(name, capacity, infName)) return false;
  std::memcpy(name + length - kSuffixLength, suffix, kSuffixLength);
  return true;
}

}  // namespace

void DeleteInstalledInf(const char* infPath) {
  // The value comes from the registry: it may name nothing but a file of the INF and
  // catalog folders.
  if (!IsBareFileName(infPath)) return;
  DeleteInWindowsFolder(kInfFolder, infPath);

  char pnfName[kWindowsPathCapacity] = {};
  if (DeriveName(infPath, "PNF", pnfName, sizeof pnfName))
    DeleteInWindowsFolder(kInfFolder, pnfName);

  char catalogName[kCatalogNameCapacity] = {};
  if (DeriveName(infPath, "CAT", catalogName, sizeof catalogName))
    DeleteInCatalogFolder(catalogName);
}
