// The device-installation database of the substitute machine and the SetupAPI and
// configuration-manager operations over it.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/devices.h"
#include "platform/registry.h"
#include "platform/sim/machine.h"

namespace sim {

std::vector<unsigned char> DeviceDatabase::MultiSz(const std::vector<std::string>& texts) {
  std::vector<unsigned char> bytes;
  for (const std::string& text : texts) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
  }
  bytes.push_back(0);
  return bytes;
}

Device& DeviceDatabase::Add(const std::string& instanceId,
                            const std::vector<std::string>& hardwareIds, bool present) {
  // Made in place: a machine per fuzz input seeds its devices anew.
  Device& device = devices.emplace_back();
  device.devInst = nextDevInst_++;
  device.instanceId = instanceId;
  device.hardwareIds = MultiSz(hardwareIds);
  device.present = present;
  return device;
}

Device* DeviceDatabase::Find(std::uint32_t devInst) {
  // Device nodes are numbered in the order the devices were added, and none is ever taken
  // out of the list: the node is found by its number.
  if (devInst >= kFirstDevInst && devInst - kFirstDevInst < devices.size()) {
    Device& device = devices[devInst - kFirstDevInst];
    if (device.devInst == devInst) return device.removed ? nullptr : &device;
  }
  for (Device& device : devices) {
    if (device.devInst == devInst && !device.removed) return &device;
  }
  return nullptr;
}

Device* DeviceDatabase::FindByInstanceId(const std::string& instanceId) {
  for (Device& device : devices) {
    if (SameText(device.instanceId, instanceId) && !device.removed) return &device;
  }
  return nullptr;
}

namespace {

constexpr DWORD kRootDevNode = 1;

// A device information list: the devices that matched when it was built.
struct DeviceListObject : HandleObject {
  const char* Kind() const override { return "device information list"; }
  bool IsKernelObject() const override { return false; }
  std::vector<std::uint32_t> devInsts;
};

std::string GuidText(const GUID& guid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  return text;
}

GUID ParseGuid(const std::string& text) {
  GUID guid{};
  unsigned data1 = 0, data2 = 0, data3 = 0, b[8] = {};
  if (std::sscanf(text.c_str(), "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &data1, &data2, &data3,
                  &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7]) == 11) {
    guid.Data1 = data1;
    guid.Data2 = static_cast<std::uint16_t>(data2);
    guid.Data3 = static_cast<std::uint16_t>(data3);
    for (int i = 0; i < 8; ++i) guid.Data4[i] = static_cast<std::uint8_t>(b[i]);
  }
  return guid;
}

GUID GuidOf(const std::string& text) {
  // Nearly every device is of the network class: its GUID is parsed once, not per call.
  static const GUID net = ParseGuid(kNetClassGuid);
  return text == kNetClassGuid ? net : ParseGuid(text);
}

HDEVINFO BuildList(Machine& m, const GUID* classGuid, PCSTR enumerator, DWORD flags) {
  if ((flags & DIGCF_DEVICEINTERFACE) != 0) {
    m.Misuse("SetupDiGetClassDevs for device interfaces is not supported");
    return Failure(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  }
  if ((flags & DIGCF_ALLCLASSES) == 0 && classGuid == nullptr)
    return Failure(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  auto list = std::make_unique<DeviceListObject>();
  list->devInsts.reserve(m.devices.devices.size());
  for (const Device& device : m.devices.devices) {
    if (device.removed) continue;
    if ((flags & DIGCF_PRESENT) != 0 && !device.present) continue;
    if ((flags & DIGCF_ALLCLASSES) == 0 && !SameText(device.classGuid, GuidText(*classGuid)))
      continue;
    if (enumerator != nullptr &&
        !SameText(device.instanceId.substr(0, device.instanceId.find('\\')), enumerator))
      continue;
    list->devInsts.push_back(device.devInst);
  }
  return m.OpenHandle(std::move(list));
}

DeviceListObject* ListOf(Machine& m, HDEVINFO set, const char* operation) {
  auto* list = m.Lookup<DeviceListObject>(set);
  if (list == nullptr) m.Misuse(std::string(operation) + " on a handle that is not a device list");
  return list;
}

// The device a record of `list` names; null (and the error set) when the record is
// malformed or the device is gone.
Device* DeviceOf(Machine& m, DeviceListObject* list, PSP_DEVINFO_DATA data) {
  if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA))
    return Failure(ERROR_INVALID_USER_BUFFER, static_cast<Device*>(nullptr));
  bool listed = false;
  for (std::uint32_t devInst : list->devInsts) listed = listed || devInst == data->DevInst;
  Device* device = listed ? m.devices.Find(data->DevInst) : nullptr;
  if (device == nullptr) return Failure(ERROR_NO_SUCH_DEVINST, static_cast<Device*>(nullptr));
  return device;
}

std::vector<unsigned char> TextBytes(const std::string& text) {
  std::vector<unsigned char> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

}  // namespace
}  // namespace sim

using sim::Current;
using sim::Failure;

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND, DWORD flags) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("SetupDiGetClassDevsA")) return INVALID_HANDLE_VALUE;
  return sim::BuildList(m, classGuid, enumerator, flags);
}

HDEVINFO WINAPI SetupDiGetClassDevsExA(const GUID* classGuid, PCSTR enumerator, HWND, DWORD flags,
                                       HDEVINFO deviceInfoSet, PCSTR machineName, PVOID reserved) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("SetupDiGetClassDevsExA")) return INVALID_HANDLE_VALUE;
  m.RecordArguments("SetupDiGetClassDevsExA",
                    {{"machine", machineName != nullptr ? machineName : "local"}});
  if (deviceInfoSet != nullptr || reserved != nullptr) {
    m.Misuse("SetupDiGetClassDevsExA with an existing list or a reserved value");
    return Failure(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  }
  // This machine has no network: another machine's devices cannot be listed
  // (ERROR_INVALID_COMPUTERNAME, which the programs never name).
  constexpr DWORD kInvalidComputerName = 1210;
  if (machineName != nullptr) return Failure(kInvalidComputerName, INVALID_HANDLE_VALUE);
  return sim::BuildList(m, classGuid, enumerator, flags);
}

BOOL WINAPI SetupDiGetDeviceInfoListDetailA(HDEVINFO deviceInfoSet,
                                            PSP_DEVINFO_LIST_DETAIL_DATA_A detail) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("SetupDiGetDeviceInfoListDetailA")) return FALSE;
  if (sim::ListOf(m, deviceInfoSet, "SetupDiGetDeviceInfoListDetailA") == nullptr)
    return Failure(ERROR_INVALID_HANDLE, FALSE);
  if (detail == nullptr || detail->cbSize != sizeof(SP_DEVINFO_LIST_DETAIL_DATA_A))
    return Failure(ERROR_INVALID_PARAMETER, FALSE);
  std::memset(&detail->ClassGuid, 0, sizeof detail->ClassGuid);
  detail->RemoteMachineHandle = nullptr;
  std::memset(detail->RemoteMachineName, 0, sizeof detail->RemoteMachineName);
  return TRUE;
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO deviceInfoSet, DWORD memberIndex,
                                  PSP_DEVINFO_DATA deviceInfoData) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("SetupDiEnumDeviceInfo")) return FALSE;
  auto* list = sim::ListOf(m, deviceInfoSet, "SetupDiEnumDeviceInfo");
  if (list == nullptr) return Failure(ERROR_INVALID_HANDLE, FALSE);
  if (deviceInfoData == nullptr || deviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))
    return Failure(ERROR_INVALID_USER_BUFFER, FALSE);
  if (memberIndex >= list->devInsts.size()) return Failure(ERROR_NO_MORE_ITEMS, FALSE);
  std::uint32_t devInst = list->devInsts[memberIndex];
  deviceInfoData->DevInst = devInst;
  deviceInfoData->Reserved = memberIndex + 1;
  // The class of the device as it is now (a removed one keeps its class).
  const sim::Device* device = m.devices.Find(devInst);
  if (device == nullptr) {
    for (const sim::Device& any : m.devices.devices) {
      if (any.devInst == devInst) device = &any;
    }
  }
  if (device != nullptr) deviceInfoData->ClassGuid = sim::GuidOf(device->classGuid);
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO deviceInfoSet,
                                              PSP_DEVINFO_DATA deviceInfoData, DWORD property,
                                              LPDWORD propertyRegDataType, LPBYTE propertyBuffer,
                                              DWORD propertyBufferSize, LPDWORD requiredSize) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("SetupDiGetDeviceRegistryPropertyA")) return FALSE;
  auto* list = sim::ListOf(m, deviceInfoSet, "SetupDiGetDeviceRegistryPropertyA");
  if (list == nullptr) return Failure(ERROR_INVALID_HANDLE, FALSE);
  sim::Device* device = sim::DeviceOf(m, list, deviceInfoData);
  if (device == nullptr) return FALSE;
  if (propertyBuffer == nullptr && propertyBufferSize != 0)
    return Failure(ERROR_INVALID_USER_BUFFER, FALSE);

  std::vector<unsigned char> data;
  const std::vector<unsigned char>* served = &data;  // the bytes this read reports
  DWORD type = REG_SZ;
  switch (property) {
    case SPDRP_HARDWAREID:
      if (device->hardwareIdError != 0) return Failure(device->hardwareIdError, FALSE);
      if (!device->hardwareIds) return Failure(ERROR_INVALID_DATA, FALSE);
      type = REG_MULTI_SZ;
      // A device re-configured between two reads: the property changes after this one. A
      // list that stays is served from where it is kept, without a copy (it may be 70 KB).
      if (!device->hardwareIdsLater.empty()) {
        data = std::move(*device->hardwareIds);
        device->hardwareIds = std::move(device->hardwareIdsLater.front());
        device->hardwareIdsLater.erase(device->hardwareIdsLater.begin());
      } else {
        served = &*device->hardwareIds;
      }
      break;
    case SPDRP_DRIVER:
      if (!device->driver) return Failure(ERROR_INVALID_DATA, FALSE);
      data = sim::TextBytes(*device->driver);
      if (device->driverUnterminated) data.pop_back();
      break;
    case SPDRP_CLASSGUID:
      data = sim::TextBytes(device->classGuid);
      break;
    default:
      return Failure(ERROR_INVALID_DATA, FALSE);
  }
  DWORD size = static_cast<DWORD>(served->size());
  if (property == SPDRP_HARDWAREID && device->hardwareIdSizeAsked > propertyBufferSize) {
    if (requiredSize != nullptr) *requiredSize = device->hardwareIdSizeAsked;
    return Failure(ERROR_INSUFFICIENT_BUFFER, FALSE);
  }
  if (requiredSize != nullptr) *requiredSize = size;
  if (propertyBufferSize < size) return Failure(ERROR_INSUFFICIENT_BUFFER, FALSE);
  if (propertyRegDataType != nullptr) *propertyRegDataType = type;
  if (size != 0) std::memcpy(propertyBuffer, served->data(), size);
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData,
                                        LPSTR deviceInstanceId, DWORD deviceInstanceIdSize,
                                        LPDWORD requiredSize) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("SetupDiGetDeviceInstanceIdA")) return FALSE;
  auto* list = sim::ListOf(m, deviceInfoSet, "SetupDiGetDeviceInstanceIdA");
  if (list == nullptr) return Failure(ERROR_INVALID_HANDLE, FALSE);
  sim::Device* device = sim::DeviceOf(m, list, deviceInfoData);
  if (device == nullptr) return FALSE;
  if (deviceInstanceId == nullptr && deviceInstanceIdSize != 0)
    return Failure(ERROR_INVALID_USER_BUFFER, FALSE);
  // The device manager keeps instance IDs in upper case, whatever case they were made in.
  std::string id = device->instanceIdAsSeeded ? device->instanceId : sim::Upper(device->instanceId);
  DWORD size = static_cast<DWORD>(id.size() + 1);
  if (requiredSize != nullptr) *requiredSize = size;
  if (deviceInstanceIdSize < size) return Failure(ERROR_INSUFFICIENT_BUFFER, FALSE);
  std::memcpy(deviceInstanceId, id.c_str(), size);
  return TRUE;
}

BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION installFunction, HDEVINFO deviceInfoSet,
                                      PSP_DEVINFO_DATA deviceInfoData) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("SetupDiCallClassInstaller")) return FALSE;
  auto* list = sim::ListOf(m, deviceInfoSet, "SetupDiCallClassInstaller");
  if (list == nullptr) return Failure(ERROR_INVALID_HANDLE, FALSE);
  if (installFunction != DIF_REMOVE) {
    m.Misuse("SetupDiCallClassInstaller with a function other than DIF_REMOVE");
    return Failure(ERROR_INVALID_PARAMETER, FALSE);
  }
  sim::Device* device = sim::DeviceOf(m, list, deviceInfoData);
  if (device == nullptr) return FALSE;
  if (device->removeFails) return Failure(ERROR_ACCESS_DENIED, FALSE);
  // The class installers of 64-bit Windows do not run for a 32-bit caller.
  if (m.kernel.wow64) return Failure(static_cast<DWORD>(ERROR_IN_WOW64), FALSE);
  device->removed = true;
  m.Log(sim::Event::On("RemoveDevice", device->instanceId).Did(sim::Effect::kDeviceRemoved, true));
  return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO deviceInfoSet) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("SetupDiDestroyDeviceInfoList")) return FALSE;
  if (sim::ListOf(m, deviceInfoSet, "SetupDiDestroyDeviceInfoList") == nullptr)
    return Failure(ERROR_INVALID_HANDLE, FALSE);
  m.CloseHandleOf(deviceInfoSet);
  return TRUE;
}

CONFIGRET WINAPI CM_Locate_DevNodeA(PDEVINST devInst, DEVINSTID_A deviceId, ULONG flags) {
  sim::Machine& m = Current();
  auto fault = m.EnterStatus("CM_Locate_DevNodeA");
  if (devInst == nullptr) return CR_INVALID_POINTER;
  *devInst = 0;  // on every failure, an injected one too
  if (fault) return static_cast<CONFIGRET>(*fault);
  if (deviceId == nullptr || *deviceId == '\0') {
    *devInst = sim::kRootDevNode;
    return CR_SUCCESS;
  }
  sim::Device* device = m.devices.FindByInstanceId(deviceId);
  // Without CM_LOCATE_DEVNODE_PHANTOM only present devices are found.
  if (device == nullptr || (!device->present && (flags & CM_LOCATE_DEVNODE_PHANTOM) == 0)) return CR_NO_SUCH_DEVNODE;
  *devInst = device->devInst;
  return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Reenumerate_DevNode(DEVINST devInst, ULONG) {
  sim::Machine& m = Current();
  if (auto fault = m.EnterStatus("CM_Reenumerate_DevNode")) return static_cast<CONFIGRET>(*fault);
  if (devInst != sim::kRootDevNode && m.devices.Find(devInst) == nullptr) return CR_NO_SUCH_DEVNODE;
  ++m.devices.reenumerations;
  m.Log(sim::Event::Plain("Reenumerate").Did(sim::Effect::kDevicesReenumerated));
  for (sim::Device& device : m.devices.devices) {
    if (!device.removed && device.appearsOnReenumerate) device.present = true;
  }
  return CR_SUCCESS;
}
