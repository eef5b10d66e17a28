// Starting a program and waiting for it to end.
#pragma once

// Longest command line that RunAndWait starts, terminator included.
constexpr unsigned kCommandLineCapacity = 1024;

// Starts `commandLine` (nothing inherited but the environment and the current directory)
// and, when it started, waits without time-out until it has ended. `program`, when given,
// is the full path of the program to start; otherwise the command line's first token
// names it, as searched for by the system. Returns 1 when the program was started, 0 when
// not (also when the command line is longer than kCommandLineCapacity allows). The
// program's exit code is not read.
int RunAndWait(const char* commandLine, const char* program = nullptr);
