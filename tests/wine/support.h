// The integration tests' helpers: the test bed's (testbed/support) plus runs whose
// problems fail the running test.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "testbed/support/support.h"

namespace wt {

// Runs a program to its end within kRunBoundMs; returns its exit code or kTimedOut. A
// program that cannot be started or is still running at the bound fails the test.
// `application`, when given, is the file that runs (see Child::Start).
DWORD Run(const std::string& commandLine, const std::string& workDir = "",
          const std::string& application = "");

// Starts the long-running stand-in copied to `path` (copied from the build unless there)
// and waits until it is fully started (its modules are listed).
std::unique_ptr<Child> StartStandIn(const std::string& path);

// True once the child has ended, within kSettleBoundMs, with exit code 0 (as the utility
// closer ends it).
bool EndedWithZero(Child& child);

}  // namespace wt
