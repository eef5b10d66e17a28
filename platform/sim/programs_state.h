// Programs the substitute machine can start. Each is a handler that stands for the
// program: it is run once the starter waits for the process (the program has done its
// work by the time the wait returns, and not before), and yields the exit code.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/text.h"

namespace sim {

class Machine;

using ProgramHandler = std::function<unsigned(Machine&, const std::string& commandLine)>;

// What CreateProcessA was given, for the tests to inspect.
struct ProgramStart {
  std::string commandLine;
  bool applicationNameGiven = false;
  std::string applicationName;
  bool inheritHandles = false;
  unsigned long creationFlags = 0;
  bool environmentGiven = false;
  bool currentDirectoryGiven = false;
  unsigned long startupInfoSize = 0;
  bool startupInfoZeroed = false;  // every field but the size is zero
};

class Programs {
 public:
  // Registers a program by its full path (matched without regard to case against the
  // program a start names), or by a bare file name, which then matches that name in any
  // directory, with or without ".exe".
  void Add(const std::string& path, ProgramHandler handler) { handlers_[path] = std::move(handler); }
  // The program that `program` names. A name without a directory is first looked for
  // among the programs registered by full path in each of `searchFolders`, in order, as
  // the system searches for a command line's program, and only then by its bare name.
  const ProgramHandler* Resolve(const std::string& program,
                                const std::vector<std::string>& searchFolders = {}) const;

  std::vector<ProgramStart> started;  // every start that succeeded, in order

  // A started program whose handler has not run yet, by process id.
  std::map<unsigned long, std::pair<const ProgramHandler*, std::string>> pending;

 private:
  std::map<std::string, ProgramHandler, NoCaseLess> handlers_;
};

}  // namespace sim
