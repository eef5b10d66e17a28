// The Windows and the system directory of the substitute machine, set by the test.
#include <cstring>
#include <string>

#include "platform/kernel.h"
#include "platform/sim/machine.h"

namespace {

// Copies the directory when it fits (returning its length); otherwise returns the size
// needed, terminator included, and leaves the buffer alone.
UINT CopyDirectory(const std::string& directory, LPSTR buffer, UINT size) {
  UINT length = static_cast<UINT>(directory.size());
  if (buffer == nullptr || size <= length) return length + 1;
  std::memcpy(buffer, directory.c_str(), length + 1);
  return length;
}

}  // namespace

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  sim::Machine& m = sim::Current();
  if (auto fault = m.Enter("GetWindowsDirectoryA")) return 0;
  return CopyDirectory(m.windowsDirectory, buffer, size);
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
  sim::Machine& m = sim::Current();
  if (auto fault = m.Enter("GetSystemDirectoryA")) return 0;
  return CopyDirectory(m.systemDirectory, buffer, size);
}
