// Starting and stopping a service by name, and bounded waits for its state.
#pragma once

#include "platform/services.h"

// Service state polls: every 100 ms, for at most 30 seconds; at the bound the sequence
// goes on as if the state had been reached.
constexpr DWORD kServicePollMs = 100;
constexpr int kMaxServiceStatePolls = 300;

// Each opens and closes its own connection to the manager.
void StartNamedService(const char* name);
void StopNamedService(const char* name);
// Polls until the service reaches `wanted` or the poll bound is reached.
void WaitForServiceState(SC_HANDLE statusHandle, DWORD wanted);

// A connection to the service manager, for querying.
ServiceHandle OpenManager();
// The state of the service behind `statusHandle`; false when it cannot be queried.
bool QueryState(SC_HANDLE statusHandle, DWORD* state);
// A start or stop request, then the wait for the state it leads to.
void StartAndWait(const char* name, SC_HANDLE statusHandle);
void StopAndWait(const char* name, SC_HANDLE statusHandle);
// Puts the service back into `wanted` (SERVICE_STOPPED or SERVICE_RUNNING): a start or
// stop still under way is let finish first, then the service is started or stopped if it
// is in the other state. Every wait is bounded; a service in any other state is left.
void BringServiceTo(const char* name, DWORD wanted);
