// The process's start-up information on the substitute machine: its command line and
// the system directory, both set by the test.
#include <cstring>
#include <string>

#include "platform/kernel.h"
#include "platform/sim/machine.h"

LPSTR WINAPI GetCommandLineA() {
  sim::Machine& m = sim::Current();
  m.Enter("GetCommandLineA");
  return m.commandLine.data();
}

// Copies the directory when it fits (returning its length); otherwise returns the size
// needed, terminator included, and leaves the buffer alone.
UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
  sim::Machine& m = sim::Current();
  if (auto fault = m.Enter("GetSystemDirectoryA")) return 0;
  UINT length = static_cast<UINT>(m.systemDirectory.size());
  if (buffer == nullptr || size <= length) return length + 1;
  std::memcpy(buffer, m.systemDirectory.c_str(), length + 1);
  return length;
}
