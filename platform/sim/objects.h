// Kernel objects of the substitute machine that sit behind handles.
#pragma once

#include <string>
#include <vector>

#include "platform/proclist.h"
#include "platform/sim/machine.h"

namespace sim {

struct ProcessObject : HandleObject {
  const char* Kind() const override { return "process"; }
  DWORD pid = 0;
  DWORD access = 0;
};

// A Toolhelp snapshot: the entries at the moment it was taken, and a cursor.
struct SnapshotObject : HandleObject {
  const char* Kind() const override { return "snapshot"; }
  DWORD flags = 0;
  std::vector<PROCESSENTRY32> processEntries;
  std::vector<MODULEENTRY32> moduleEntries;
  std::size_t next = 0;
};

}  // namespace sim
