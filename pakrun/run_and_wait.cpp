#include "pakrun/run_and_wait.h"

#include <cstring>

#include "platform/handles.h"
#include "platform/programs.h"
#include "common/text.h"

int RunAndWait(const char* commandLine, const char* program) {
  // CreateProcessA wants a writable command line.
  char writable[kCommandLineCapacity];
  if (!CopyText(writable, sizeof writable, commandLine)) return 0;

  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started;
  std::memset(&started, 0, sizeof started);
  if (!CreateProcessA(program, writable, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &started))
    return 0;
  ProcessHandle process(started.hProcess);
  ProcessHandle thread(started.hThread);
  WaitForSingleObject(process.get(), INFINITE);
  return 1;
}
