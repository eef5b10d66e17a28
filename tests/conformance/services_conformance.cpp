// Service control manager: opening by name, the status of a stopped service, the
// controls a stopped service refuses, and the rights of a service handle.
#include <cstring>

#include "conformance.h"
#include "platform/services.h"

namespace {

CONFORMANCE_SUITE(ServicesConformance);

constexpr char kService[] = "ConfTestSvc";

ServiceHandle Manager() { return ServiceHandle(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT)); }

TEST_F(ServicesConformance, OpenOfMissingServiceIsServiceDoesNotExist) {
  ServiceHandle manager = Manager();
  ASSERT_TRUE(manager.valid());
  SetLastError(0);
  EXPECT_EQ(OpenServiceA(manager.get(), "ConfTestNoSuchService", SERVICE_QUERY_STATUS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST_F(ServicesConformance, ServiceNamesIgnoreCase) {
  ASSERT_TRUE(conf::seed::AddService(kService));
  ServiceHandle manager = Manager();
  ASSERT_TRUE(manager.valid());
  ServiceHandle service(OpenServiceA(manager.get(), "CONFTESTSVC", SERVICE_QUERY_STATUS));
  EXPECT_TRUE(service.valid());
}

TEST_F(ServicesConformance, StoppedServiceStatusAndStopControl) {
  ASSERT_TRUE(conf::seed::AddService(kService));
  ServiceHandle manager = Manager();
  ASSERT_TRUE(manager.valid());
  ServiceHandle service(OpenServiceA(manager.get(), kService, SERVICE_QUERY_STATUS | SERVICE_STOP));
  ASSERT_TRUE(service.valid());
  SERVICE_STATUS status;
  std::memset(&status, 0xFF, sizeof status);
  ASSERT_TRUE(QueryServiceStatus(service.get(), &status));
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(status.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(status.dwControlsAccepted, 0u);
  SetLastError(0);
  EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));
}

TEST_F(ServicesConformance, HandleRightsAreEnforced) {
  ASSERT_TRUE(conf::seed::AddService(kService));
  ServiceHandle manager = Manager();
  ASSERT_TRUE(manager.valid());
  ServiceHandle service(OpenServiceA(manager.get(), kService, SERVICE_STOP));
  ASSERT_TRUE(service.valid());
  SERVICE_STATUS status;
  SetLastError(0);
  EXPECT_FALSE(QueryServiceStatus(service.get(), &status));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  SetLastError(0);
  EXPECT_FALSE(StartServiceA(service.get(), 0, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// Polls the status until the state is no longer `pending` (at most ten seconds of
// waiting); returns the last status.
SERVICE_STATUS WaitPast(SC_HANDLE service, DWORD pending) {
  SERVICE_STATUS status;
  std::memset(&status, 0, sizeof status);
  for (int i = 0; i < 200; ++i) {
    if (!QueryServiceStatus(service, &status) || status.dwCurrentState != pending) break;
    Sleep(50);
  }
  return status;
}

// A start passes through START_PENDING to RUNNING, where stop is accepted; a stop through
// STOP_PENDING to STOPPED. Starting a running service and stopping a stopped one fail.
TEST_F(ServicesConformance, StartAndStopPassThroughPendingStates) {
  ASSERT_TRUE(conf::seed::AddStartableService("ConfTestRun"));
  ServiceHandle manager = Manager();
  ASSERT_TRUE(manager.valid());
  ServiceHandle service(OpenServiceA(manager.get(), "ConfTestRun",
                                     SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP));
  ASSERT_TRUE(service.valid());
  ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr));
  SERVICE_STATUS status;
  ASSERT_TRUE(QueryServiceStatus(service.get(), &status));
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_START_PENDING));
  status = WaitPast(service.get(), SERVICE_START_PENDING);
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_NE(status.dwControlsAccepted & SERVICE_ACCEPT_STOP, 0u);
  SetLastError(0);
  EXPECT_FALSE(StartServiceA(service.get(), 0, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
  ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
  status = WaitPast(service.get(), SERVICE_STOP_PENDING);
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  SetLastError(0);
  EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));
}

// The database may be named: "ServicesActive" is the one there is; other names are
// refused as invalid.
TEST_F(ServicesConformance, ActiveDatabaseByName) {
  ServiceHandle manager(OpenSCManagerA(nullptr, "ServicesActive", SC_MANAGER_CONNECT));
  EXPECT_TRUE(manager.valid());
  SetLastError(0);
  ServiceHandle other(OpenSCManagerA(nullptr, "NoSuchDatabase", SC_MANAGER_CONNECT));
  EXPECT_FALSE(other.valid());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
}

}  // namespace
