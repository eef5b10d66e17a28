// Services for the integration tests and the demo: the stand-in service installed under a
// given name, and bounded waits for the state it is asked for.
#pragma once

#include <windows.h>

#include <string>

namespace wt {

// The service's current state (SERVICE_RUNNING, ...), 0 if it is not installed or cannot
// be queried.
DWORD ServiceState(const char* name);
// Asks the service for `wanted` (SERVICE_RUNNING or SERVICE_STOPPED) and waits, bounded,
// until it is there.
bool BringTo(const char* name, DWORD wanted);
// Creates a demand-start service `name` running `commandLine` unless one is installed.
bool InstallService(const char* name, const std::string& commandLine);

}  // namespace wt
