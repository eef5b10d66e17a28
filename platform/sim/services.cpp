// Service control manager of the substitute machine. A service changes state only
// when asked to start or stop, and then through the pending states its script sets,
// one status query at a time.
#include <string>

#include "platform/services.h"
#include "platform/sim/machine.h"

namespace sim {

Service& ServiceManager::Add(const std::string& name, std::uint32_t state) {
  Service& service = services_[Upper(name)];
  service.name = name;
  service.state = state;
  service.startsWithSystem = state == SERVICE_RUNNING;
  return service;
}

Service* ServiceManager::Find(const std::string& name) {
  auto it = services_.find(Upper(name));
  return it == services_.end() ? nullptr : &it->second;
}

namespace {

struct ManagerObject : HandleObject {
  const char* Kind() const override { return "service control manager"; }
  bool IsKernelObject() const override { return false; }
  DWORD access = 0;
};

struct ServiceObject : HandleObject {
  const char* Kind() const override { return "service"; }
  bool IsKernelObject() const override { return false; }
  std::string name;
  DWORD access = 0;
};

void Reach(Machine& m, Service& service, std::uint32_t state) {
  service.state = state;
  if (state == SERVICE_RUNNING) {
    ++service.starts;
    m.Log(Event::On("Service", service.name, "running"));
    if (service.onRunning) service.onRunning();
  } else if (state == SERVICE_STOPPED) {
    ++service.stops;
    m.Log(Event::On("Service", service.name, "stopped"));
  }
}

// A pending state moves on by one query; at the end of its polls it reaches its goal.
void Advance(Machine& m, Service& service) {
  std::uint32_t goal = 0;
  if (service.state == SERVICE_START_PENDING) goal = SERVICE_RUNNING;
  if (service.state == SERVICE_STOP_PENDING) goal = SERVICE_STOPPED;
  if (goal == 0 || service.pendingLeft < 0) return;
  if (service.pendingLeft == 0) {
    Reach(m, service, goal);
  } else {
    --service.pendingLeft;
  }
}

void Fill(const Service& service, LPSERVICE_STATUS status) {
  status->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status->dwCurrentState = service.state;
  status->dwControlsAccepted = service.state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  status->dwWin32ExitCode = 0;
  status->dwServiceSpecificExitCode = 0;
  status->dwCheckPoint = 0;
  status->dwWaitHint = 0;
}

Service* ServiceOf(Machine& m, SC_HANDLE handle, const char* operation, DWORD* access) {
  auto* object = m.Lookup<ServiceObject>(reinterpret_cast<HANDLE>(handle));
  if (object == nullptr) {
    m.Misuse(std::string(operation) + " on a handle that is not an open service");
    return nullptr;
  }
  *access = object->access;
  return m.services.Find(object->name);
}

}  // namespace

void ServiceManager::CompletePending(Machine& m) {
  for (auto& [key, service] : services_) {
    if (service.pendingLeft < 0) continue;
    if (service.state == SERVICE_START_PENDING) Reach(m, service, SERVICE_RUNNING);
    if (service.state == SERVICE_STOP_PENDING) Reach(m, service, SERVICE_STOPPED);
  }
}

void ServiceManager::Restart(Machine& m) {
  for (auto& [key, service] : services_) {
    service.pendingLeft = -1;
    service.state = SERVICE_STOPPED;
    // A service reads its settings as it starts, after a restart too.
    if (service.startsWithSystem) Reach(m, service, SERVICE_RUNNING);
  }
}

}  // namespace sim

using sim::Current;
using sim::Failure;

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD desiredAccess) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("OpenSCManagerA")) return nullptr;
  if (machineName != nullptr) return Failure(ERROR_DATABASE_DOES_NOT_EXIST, SC_HANDLE{});
  // The one database there is may be named.
  if (databaseName != nullptr && !sim::SameText(databaseName, "ServicesActive"))
    return Failure(ERROR_INVALID_NAME, SC_HANDLE{});
  if (!m.services.available) return Failure(ERROR_ACCESS_DENIED, SC_HANDLE{});
  m.services.managerOpenedWith.push_back(desiredAccess);
  auto object = std::make_unique<sim::ManagerObject>();
  object->access = desiredAccess;
  return reinterpret_cast<SC_HANDLE>(m.OpenHandle(std::move(object)));
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD desiredAccess) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("OpenServiceA")) return nullptr;
  auto* owner = m.Lookup<sim::ManagerObject>(reinterpret_cast<HANDLE>(manager));
  if (owner == nullptr) {
    m.Misuse("OpenServiceA on a handle that is not an open service control manager");
    return Failure(ERROR_INVALID_HANDLE, SC_HANDLE{});
  }
  if ((owner->access & SC_MANAGER_CONNECT) == 0) return Failure(ERROR_ACCESS_DENIED, SC_HANDLE{});
  sim::Service* service = m.services.Find(serviceName == nullptr ? "" : serviceName);
  if (service == nullptr) return Failure(ERROR_SERVICE_DOES_NOT_EXIST, SC_HANDLE{});
  service->openedWith.push_back(desiredAccess);
  if ((desiredAccess & service->deniedAccess) != 0) return Failure(ERROR_ACCESS_DENIED, SC_HANDLE{});
  auto object = std::make_unique<sim::ServiceObject>();
  object->name = service->name;
  object->access = desiredAccess;
  return reinterpret_cast<SC_HANDLE>(m.OpenHandle(std::move(object)));
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE handle, LPSERVICE_STATUS status) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("QueryServiceStatus")) return FALSE;
  DWORD access = 0;
  sim::Service* service = sim::ServiceOf(m, handle, "QueryServiceStatus", &access);
  if (service == nullptr) return Failure(ERROR_INVALID_HANDLE, FALSE);
  if ((access & SERVICE_QUERY_STATUS) == 0) return Failure(ERROR_ACCESS_DENIED, FALSE);
  if (status == nullptr) return Failure(ERROR_INVALID_PARAMETER, FALSE);
  ++service->queries;
  if (service->queryFails ||
      (service->queriesBeforeFailing >= 0 && service->queries > service->queriesBeforeFailing))
    return Failure(ERROR_GEN_FAILURE, FALSE);
  sim::Advance(m, *service);
  sim::Fill(*service, status);
  return TRUE;
}

BOOL WINAPI StartServiceA(SC_HANDLE handle, DWORD argumentCount, LPCSTR*) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("StartServiceA")) return FALSE;
  DWORD access = 0;
  sim::Service* service = sim::ServiceOf(m, handle, "StartServiceA", &access);
  if (service == nullptr) return Failure(ERROR_INVALID_HANDLE, FALSE);
  if ((access & SERVICE_START) == 0) return Failure(ERROR_ACCESS_DENIED, FALSE);
  m.Log(sim::Event::On("StartService", service->name, argumentCount != 0 ? "with arguments" : "")
            .Did(sim::Effect::kServiceStarted, true));
  if (service->state != SERVICE_STOPPED) return Failure(ERROR_SERVICE_ALREADY_RUNNING, FALSE);
  if (service->refuseStart) return Failure(ERROR_SERVICE_DISABLED, FALSE);
  service->pendingLeft = service->startPendingPolls;
  if (service->startPendingPolls == 0) {
    sim::Reach(m, *service, SERVICE_RUNNING);
  } else {
    service->state = SERVICE_START_PENDING;
  }
  return TRUE;
}

BOOL WINAPI ControlService(SC_HANDLE handle, DWORD control, LPSERVICE_STATUS status) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("ControlService")) return FALSE;
  DWORD access = 0;
  sim::Service* service = sim::ServiceOf(m, handle, "ControlService", &access);
  if (service == nullptr) return Failure(ERROR_INVALID_HANDLE, FALSE);
  if (status == nullptr) return Failure(ERROR_INVALID_PARAMETER, FALSE);
  if (control != SERVICE_CONTROL_STOP) return Failure(ERROR_INVALID_SERVICE_CONTROL, FALSE);
  if ((access & SERVICE_STOP) == 0) return Failure(ERROR_ACCESS_DENIED, FALSE);
  m.Log(sim::Event::On("ControlService", service->name, "stop").Did(sim::Effect::kServiceControlled, true));
  if (service->state == SERVICE_STOPPED) return Failure(ERROR_SERVICE_NOT_ACTIVE, FALSE);
  if (service->state != SERVICE_RUNNING) return Failure(ERROR_SERVICE_CANNOT_ACCEPT_CTRL, FALSE);
  if (service->refuseStop) return Failure(ERROR_DEPENDENT_SERVICES_RUNNING, FALSE);
  service->pendingLeft = service->stopPendingPolls;
  if (service->stopPendingPolls == 0) {
    sim::Reach(m, *service, SERVICE_STOPPED);
  } else {
    service->state = SERVICE_STOP_PENDING;
  }
  sim::Fill(*service, status);
  return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE handle) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("CloseServiceHandle")) return FALSE;
  auto* any = m.LookupAny(reinterpret_cast<HANDLE>(handle));
  if (dynamic_cast<sim::ManagerObject*>(any) == nullptr &&
      dynamic_cast<sim::ServiceObject*>(any) == nullptr) {
    m.Misuse("CloseServiceHandle on a handle that is not an open service handle");
    return Failure(ERROR_INVALID_HANDLE, FALSE);
  }
  m.CloseHandleOf(reinterpret_cast<HANDLE>(handle));
  return TRUE;
}
