// The process listing of the substitute machine: a Toolhelp snapshot behind its handle.
// The processes listed are the kernel's (kernel_state.h).
#pragma once

#include <cstddef>
#include <vector>

#include "platform/proclist.h"
#include "platform/sim/handle_object.h"

namespace sim {

// A Toolhelp snapshot: the entries at the moment it was taken, and a cursor.
struct SnapshotObject : HandleObject {
  const char* Kind() const override { return "snapshot"; }
  DWORD flags = 0;
  std::vector<PROCESSENTRY32> processEntries;
  std::vector<MODULEENTRY32> moduleEntries;
  std::size_t next = 0;
};

}  // namespace sim
