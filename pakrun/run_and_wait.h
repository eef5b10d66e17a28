// Starting a program and waiting for it to end.
#pragma once

// Longest command line that RunAndWait starts, terminator included.
constexpr unsigned kCommandLineCapacity = 1024;

// Starts `commandLine` (no application name, nothing inherited but the environment and
// the current directory) and, when it started, waits without time-out until it has
// ended. Returns 1 when the program was started, 0 when not (also when the command line
// is longer than kCommandLineCapacity allows). The program's exit code is not read.
int RunAndWait(const char* commandLine);
