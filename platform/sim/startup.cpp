// The process's start-up information on the substitute machine: its command line, set by
// the test.
#include <cstring>
#include <string>

#include "platform/kernel.h"
#include "platform/sim/machine.h"

LPSTR WINAPI GetCommandLineA() {
  sim::Machine& m = sim::Current();
  m.Count("GetCommandLineA");
  return m.commandLine.data();
}
