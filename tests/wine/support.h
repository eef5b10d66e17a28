// The integration tests' helpers: the test bed's (testbed/support) plus runs whose
// problems fail the running test.
#pragma once

#include <windows.h>

#include <string>

#include "testbed/support/support.h"

namespace wt {

// Runs a program to its end within kRunBoundMs; returns its exit code or kTimedOut. A
// program that cannot be started or is still running at the bound fails the test.
DWORD Run(const std::string& commandLine, const std::string& workDir = "");

}  // namespace wt
