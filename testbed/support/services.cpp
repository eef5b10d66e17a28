#include "testbed/support/services.h"

#include "testbed/support/support.h"

namespace wt {

DWORD ServiceState(const char* name) {
  DWORD state = 0;
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return 0;
  SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_STATUS);
  SERVICE_STATUS status = {};
  if (service != nullptr && QueryServiceStatus(service, &status)) state = status.dwCurrentState;
  if (service != nullptr) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return state;
}

bool BringTo(const char* name, DWORD wanted) {
  if (ServiceState(name) != wanted) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) return false;
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    if (service != nullptr) {
      SERVICE_STATUS status = {};
      // A service still on its way to the other state would refuse the request.
      if (wanted == SERVICE_RUNNING) {
        WaitUntil([name] { return ServiceState(name) == SERVICE_STOPPED; }, kSettleBoundMs);
        StartServiceA(service, 0, nullptr);
      } else {
        WaitUntil([name] { return ServiceState(name) == SERVICE_RUNNING; }, kSettleBoundMs);
        ControlService(service, SERVICE_CONTROL_STOP, &status);
      }
      CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
  }
  return WaitUntil([name, wanted] { return ServiceState(name) == wanted; }, kSettleBoundMs);
}

bool InstallService(const char* name, const std::string& commandLine) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return false;
  SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_STATUS);
  if (service == nullptr) {
    service = CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                             SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, commandLine.c_str(), nullptr,
                             nullptr, nullptr, nullptr, nullptr);
  }
  bool ok = service != nullptr;
  if (service != nullptr) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return ok;
}

}  // namespace wt
