// Stand-in Windows service, registered under the name of the service it stands for
// ("WZCSVC" or "KVX") with that name as its only argument. Its start and stop take the
// delays set in its Parameters key ("StartDelayMs", "StopDelayMs"); every start and stop
// is appended to the test bed's journal, a start with the "ControlFlags" of each
// zero-configuration interface record as it finds them (what the real service takes up).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "airtoggle/managers.h"
#include "testbed/testbed_keys.h"

namespace {

char serviceName[64] = "";
SERVICE_STATUS_HANDLE statusHandle = nullptr;
HANDLE stopEvent = nullptr;
SERVICE_STATUS status = {};

DWORD Parameter(const char* name) {
  std::string path = std::string("SYSTEM\\CurrentControlSet\\Services\\") + serviceName + "\\Parameters";
  HKEY key = nullptr;
  DWORD value = 0;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
    DWORD size = sizeof value;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
      value = 0;
    RegCloseKey(key);
  }
  return value > 20000 ? 20000 : value;
}

std::string InterfaceFlags() {
  std::string list;
  HKEY interfaces = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInterfacesKey, 0, KEY_READ, &interfaces) != ERROR_SUCCESS)
    return list;
  char name[256];
  for (DWORD index = 0; RegEnumKeyA(interfaces, index, name, sizeof name) == ERROR_SUCCESS; ++index) {
    HKEY record = nullptr;
    char entry[320];
    std::snprintf(entry, sizeof entry, " %s=none", name);
    if (RegOpenKeyExA(interfaces, name, 0, KEY_READ, &record) == ERROR_SUCCESS) {
      DWORD flags = 0;
      DWORD size = sizeof flags;
      if (RegQueryValueExA(record, kControlFlagsValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&flags),
                           &size) == ERROR_SUCCESS && size == sizeof flags)
        std::snprintf(entry, sizeof entry, " %s=0x%08lX", name, static_cast<unsigned long>(flags));
      RegCloseKey(record);
    }
    list += entry;
  }
  RegCloseKey(interfaces);
  return list;
}

void Journal(const std::string& line) {
  HKEY key = nullptr;
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, TESTBED_SERVICE_KEY, &key) != ERROR_SUCCESS) return;
  std::string text;
  DWORD size = 0;
  if (RegQueryValueExA(key, "Journal", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS && size > 0) {
    text.resize(size);
    if (RegQueryValueExA(key, "Journal", nullptr, nullptr, reinterpret_cast<BYTE*>(&text[0]), &size) !=
        ERROR_SUCCESS)
      text.clear();
    text.resize(std::strlen(text.c_str()));
  }
  text += std::string(serviceName) + " " + line + "\n";
  RegSetValueExA(key, "Journal", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
  RegCloseKey(key);
}

void Report(DWORD state, DWORD waitHint) {
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  status.dwWin32ExitCode = NO_ERROR;
  status.dwWaitHint = waitHint;
  status.dwCheckPoint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : status.dwCheckPoint + 1;
  SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID) {
  if (control == SERVICE_CONTROL_STOP) {
    if (status.dwCurrentState != SERVICE_RUNNING) return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    Report(SERVICE_STOP_PENDING, Parameter("StopDelayMs") + 1000);
    SetEvent(stopEvent);
    return NO_ERROR;
  }
  if (control == SERVICE_CONTROL_INTERROGATE) return NO_ERROR;
  return ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
  statusHandle = RegisterServiceCtrlHandlerExA(serviceName, Handler, nullptr);
  if (statusHandle == nullptr) return;
  stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD startDelay = Parameter("StartDelayMs");
  Report(SERVICE_START_PENDING, startDelay + 1000);
  Sleep(startDelay);
  Journal("start" + InterfaceFlags());
  Report(SERVICE_RUNNING, 0);
  // A stop request ends the wait; a forgotten service ends itself after ten minutes.
  WaitForSingleObject(stopEvent, 600000);
  Sleep(Parameter("StopDelayMs"));
  Journal("stop");
  Report(SERVICE_STOPPED, 0);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandTail, int) {
  if (commandTail == nullptr) return 1;
  std::snprintf(serviceName, sizeof serviceName, "%s", commandTail);
  for (char* end = serviceName + std::strlen(serviceName); end > serviceName && end[-1] == ' ';) *--end = '\0';
  if (serviceName[0] == '\0') return 1;
  SERVICE_TABLE_ENTRYA table[] = {{serviceName, ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
