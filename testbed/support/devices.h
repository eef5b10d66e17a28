// Devices for the integration tests and the demo, created and removed through SetupAPI
// (callers link setupapi).
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <string>
#include <vector>

#include "testbed/support/support.h"

namespace wt {

inline const GUID kNetClass = {0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// Creates and registers a device with the given instance ID and hardware IDs; `driver`,
// when given, becomes the "Driver" value of its Enum key (its driver key name).
inline bool CreateDevice(const std::string& instanceId, const std::vector<std::string>& hardwareIds,
                  const std::string& driver) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(&kNetClass, nullptr);
  if (set == INVALID_HANDLE_VALUE) return false;
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  std::string ids;
  for (const std::string& id : hardwareIds) ids += id + '\0';
  ids += '\0';
  bool ok = SetupDiCreateDeviceInfoA(set, instanceId.c_str(), &kNetClass, nullptr, nullptr, 0,
                                     &device) &&
            SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID,
                                              reinterpret_cast<const BYTE*>(ids.data()),
                                              static_cast<DWORD>(ids.size())) &&
            SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr);
  SetupDiDestroyDeviceInfoList(set);
  if (ok && !driver.empty())
    ok = wt::RegSetString(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\" + instanceId,
                          "Driver", driver);
  return ok;
}

// Whether a device with this instance ID is installed.
inline bool DeviceInstalled(const std::string& instanceId) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  if (set == INVALID_HANDLE_VALUE) return false;
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  bool found = SetupDiOpenDeviceInfoA(set, instanceId.c_str(), nullptr, 0, &device) != FALSE;
  SetupDiDestroyDeviceInfoList(set);
  return found;
}

// The device's driver key name (its "Driver" property, below the Class key), empty when
// the device is not installed or has no driver.
inline std::string DeviceDriver(const std::string& instanceId) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  if (set == INVALID_HANDLE_VALUE) return "";
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  char driver[MAX_PATH] = {};
  if (SetupDiOpenDeviceInfoA(set, instanceId.c_str(), nullptr, 0, &device) &&
      !SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_DRIVER, nullptr,
                                         reinterpret_cast<BYTE*>(driver), sizeof driver - 1, nullptr))
    driver[0] = '\0';
  SetupDiDestroyDeviceInfoList(set);
  return driver;
}

// Gives an installed device its driver key name, as a driver installation does.
inline bool SetDeviceDriver(const std::string& instanceId, const std::string& driver) {
  return DeviceInstalled(instanceId) &&
         wt::RegSetString(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\" + instanceId,
                          "Driver", driver);
}

// Removes a device left by an earlier run of a test, if any.
inline void RemoveDevice(const std::string& instanceId) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  if (set == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  if (SetupDiOpenDeviceInfoA(set, instanceId.c_str(), nullptr, 0, &device))
    SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
  SetupDiDestroyDeviceInfoList(set);
}

}  // namespace wt
