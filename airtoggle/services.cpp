// Service control of the zero-configuration and vendor services, and the vendor radio
// library signal.
#include <cstring>

#include "airtoggle/frame.h"
#include "airtoggle/managers.h"
#include "vendor/radioapi/radioapi.h"

namespace {

ServiceHandle OpenManager() { return ServiceHandle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT)); }

// The state of the service behind `statusHandle`; false when it cannot be queried.
bool QueryState(SC_HANDLE statusHandle, DWORD* state) {
  SERVICE_STATUS status;
  std::memset(&status, 0, sizeof status);
  if (statusHandle == nullptr || !QueryServiceStatus(statusHandle, &status)) return false;
  *state = status.dwCurrentState;
  return true;
}

// A start or stop request, then the wait for the state it leads to.
void StartAndWait(const char* name, SC_HANDLE statusHandle) {
  StartNamedService(name);
  WaitForServiceState(statusHandle, SERVICE_RUNNING);
}

void StopAndWait(const char* name, SC_HANDLE statusHandle) {
  StopNamedService(name);
  WaitForServiceState(statusHandle, SERVICE_STOPPED);
}

}  // namespace

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

void CMainFrame::RestartVendorService() {
  ServiceHandle manager = OpenManager();
  if (!manager) return;
  ServiceHandle status(OpenServiceA(manager.get(), kVendorService, SERVICE_QUERY_STATUS));
  DWORD state = 0;
  if (QueryState(status.get(), &state) && state == SERVICE_RUNNING) {
    StopAndWait(kVendorService, status.get());
    StartAndWait(kVendorService, status.get());
  }
}

void CMainFrame::CycleZeroConfigService() {
  ServiceHandle manager = OpenManager();
  if (!manager) return;
  ServiceHandle status(OpenServiceA(manager.get(), kZeroConfigService, SERVICE_QUERY_STATUS));
  DWORD state = 0;
  if (QueryState(status.get(), &state)) {
    if (state == SERVICE_RUNNING) {
      m_nZeroConfigWasRunning = 1;
      StopAndWait(kZeroConfigService, status.get());
      ApplyInterfaceFlags(m_nTargetMode);
      StartAndWait(kZeroConfigService, status.get());
    } else if (state == SERVICE_STOPPED) {
      // Run it twice with the new flags, then leave it stopped as it was found.
      m_nZeroConfigWasRunning = 0;
      ApplyInterfaceFlags(m_nTargetMode);
      StartAndWait(kZeroConfigService, status.get());
      StopAndWait(kZeroConfigService, status.get());
      ApplyInterfaceFlags(m_nTargetMode);
      StartAndWait(kZeroConfigService, status.get());
      StopAndWait(kZeroConfigService, status.get());
    }
  }
  // The service handles are closed before the mode is recorded, as the sequence ends.
  status.reset();
  manager.reset();
  WriteUseZeroConfig(m_nTargetMode);
}

void CMainFrame::RestartZeroConfigService() {
  ServiceHandle manager = OpenManager();
  if (!manager) return;
  ServiceHandle status(OpenServiceA(manager.get(), kZeroConfigService, SERVICE_QUERY_STATUS));
  DWORD state = 0;
  if (QueryState(status.get(), &state) && state == SERVICE_RUNNING) {
    m_nZeroConfigWasRunning = 1;
    StopAndWait(kZeroConfigService, status.get());
    ApplyInterfaceFlags(m_nTargetMode);
    StartAndWait(kZeroConfigService, status.get());
  }
  // The service handles are closed before the mode is recorded, as the sequence ends.
  status.reset();
  manager.reset();
  WriteUseZeroConfig(1);
}

void CMainFrame::SignalVendorAdapter() {
  RadioAPI* api = RadioLoadAPI(nullptr);
  if (api == nullptr) return;
  RadioAdapterList* list = api->GetAdapterList(0);
  if (list == nullptr) return;
  std::uint32_t count = 0;
  list->GetAdapterCount(&count);
  if (count > kMaxRadioAdapters) count = kMaxRadioAdapters;

  // One pointer takes every lookup's result and is never reset: when the walk runs to
  // its end, the adapter used is the one the last lookup left in it.
  RadioAdapter* adapter = nullptr;
  for (std::uint32_t index = 0; index < count; ++index) {
    if (list->GetAdapter(index, &adapter) != 0 || adapter == nullptr) continue;
    std::int32_t code = kRadioCodeUnset;
    adapter->QueryAdapterCode(&code);
    if (code != kRadioCodeUnset && code != kRadioCodeReady) break;
  }
  if (adapter == nullptr) {
    list->GetAdapter(0, &adapter);
    if (adapter == nullptr) return;
  }
  RadioControl* control = nullptr;
  if (adapter->GetAdapterControl(&control, 0) == 0 && control != nullptr)
    control->SetControlOption(kRadioSwitchOption);
}
