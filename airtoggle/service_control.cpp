#include "airtoggle/service_control.h"

#include <cstring>

ServiceHandle OpenManager() {
  return ServiceHandle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
}

bool QueryState(SC_HANDLE statusHandle, DWORD* state) {
  SERVICE_STATUS status;
  std::memset(&status, 0, sizeof status);
  if (statusHandle == nullptr || !QueryServiceStatus(statusHandle, &status)) return false;
  *state = status.dwCurrentState;
  return true;
}

void StartAndWait(const char* name, SC_HANDLE statusHandle) {
  StartNamedService(name);
  WaitForServiceState(statusHandle, SERVICE_RUNNING);
}

void StopAndWait(const char* name, SC_HANDLE statusHandle) {
  StopNamedService(name);
  WaitForServiceState(statusHandle, SERVICE_STOPPED);
}

void BringServiceTo(const char* name, DWORD wanted) {
  ServiceHandle manager = OpenManager();
  if (!manager) return;
  ServiceHandle status(OpenServiceA(manager.get(), name, SERVICE_QUERY_STATUS));
  DWORD current = 0;
  if (!QueryState(status.get(), &current)) return;
  // A request of an ended run completes by itself: a start or stop asked for now would
  // be refused while it is pending.
  if (current == SERVICE_START_PENDING || current == SERVICE_STOP_PENDING) {
    WaitForServiceState(status.get(), current == SERVICE_START_PENDING ? SERVICE_RUNNING : SERVICE_STOPPED);
    if (!QueryState(status.get(), &current)) return;
  }
  if (wanted == SERVICE_RUNNING && current == SERVICE_STOPPED) StartAndWait(name, status.get());
  if (wanted == SERVICE_STOPPED && current == SERVICE_RUNNING) StopAndWait(name, status.get());
}

void StartNamedService(const char* name) {
  ServiceHandle manager = OpenManager();
  if (!manager) return;
  ServiceHandle service(OpenServiceA(manager.get(), name, SERVICE_START));
  if (service) StartServiceA(service.get(), 0, nullptr);
}

void StopNamedService(const char* name) {
  ServiceHandle manager = OpenManager();
  if (!manager) return;
  ServiceHandle service(OpenServiceA(manager.get(), name, SERVICE_STOP));
  if (service) {
    SERVICE_STATUS status;
    std::memset(&status, 0, sizeof status);
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
  }
}

void WaitForServiceState(SC_HANDLE statusHandle, DWORD wanted) {
  DWORD state = 0;  // a failed first query leaves no state, so the wait goes on
  QueryState(statusHandle, &state);
  // One poll every 100 ms; the pause comes before each query, so the wait ends as soon as
  // a query shows the state. A service that refuses, or a query that keeps failing, ends
  // the wait at the bound; the sequence then goes on.
  for (int polls = 0; state != wanted && polls < kMaxServiceStatePolls; ++polls) {
    Sleep(kServicePollMs);
    QueryState(statusHandle, &state);
  }
}
