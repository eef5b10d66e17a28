// Device installation: lists by class and enumerator, the record size, properties and
// instance IDs with their buffer rules, removal; and the configuration manager.
#include <cstring>
#include <string>
#include <vector>

#include "conformance.h"
#include "platform/devices.h"
#include "platform/registry.h"

namespace {

CONFORMANCE_SUITE(DevicesConformance);

const GUID kNetClass = {0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr char kInstance[] = "ROOT\\CONFTEST\\0000";

SP_DEVINFO_DATA Record() {
  SP_DEVINFO_DATA data;
  std::memset(&data, 0, sizeof data);
  data.cbSize = sizeof data;
  return data;
}

std::string InstanceId(HDEVINFO set, SP_DEVINFO_DATA* data) {
  char id[256];
  return SetupDiGetDeviceInstanceIdA(set, data, id, sizeof id, nullptr) ? id : "";
}

// Finds the seeded device in `set`; false when it is not listed.
bool FindSeeded(HDEVINFO set, SP_DEVINFO_DATA* found) {
  SP_DEVINFO_DATA data = Record();
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) {
    if (InstanceId(set, &data) == kInstance) {
      *found = data;
      return true;
    }
  }
  return false;
}

TEST_F(DevicesConformance, RecordSize) {
#if defined(_WIN64) || (!defined(_WIN32) && UINTPTR_MAX > 0xFFFFFFFFu)
  EXPECT_EQ(sizeof(SP_DEVINFO_DATA), 32u);
#else
  EXPECT_EQ(sizeof(SP_DEVINFO_DATA), 28u);
#endif
}

TEST_F(DevicesConformance, ClassListHoldsDeviceAndEndsWithNoMoreItems) {
  ASSERT_TRUE(conf::seed::AddDevice(kInstance, {"PCI\\VEN_1234&DEV_5678", "PCI\\VEN_1234"}));
  DeviceInfoList list(SetupDiGetClassDevsA(&kNetClass, nullptr, nullptr, 0));
  ASSERT_TRUE(list.valid());
  SP_DEVINFO_DATA data = Record();
  ASSERT_TRUE(FindSeeded(list.get(), &data));
  EXPECT_EQ(std::memcmp(&data.ClassGuid, &kNetClass, sizeof kNetClass), 0);
  DWORD count = 0;
  SP_DEVINFO_DATA each = Record();
  while (SetupDiEnumDeviceInfo(list.get(), count, &each)) ++count;
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_GE(count, 1u);
}

TEST_F(DevicesConformance, ListsByEnumeratorAndAllClasses) {
  ASSERT_TRUE(conf::seed::AddDevice(kInstance, {"PCI\\VEN_1234"}));
  SP_DEVINFO_DATA data = Record();
  DeviceInfoList byEnumerator(SetupDiGetClassDevsA(nullptr, "Root", nullptr, DIGCF_ALLCLASSES));
  ASSERT_TRUE(byEnumerator.valid());
  EXPECT_TRUE(FindSeeded(byEnumerator.get(), &data));
  DeviceInfoList otherEnumerator(SetupDiGetClassDevsA(nullptr, "PCI", nullptr, DIGCF_ALLCLASSES));
  ASSERT_TRUE(otherEnumerator.valid());
  EXPECT_FALSE(FindSeeded(otherEnumerator.get(), &data));
  DeviceInfoList ex(SetupDiGetClassDevsExA(&kNetClass, nullptr, nullptr, 0, nullptr, nullptr,
                                           nullptr));
  ASSERT_TRUE(ex.valid());
  EXPECT_TRUE(FindSeeded(ex.get(), &data));
}

TEST_F(DevicesConformance, ListWithoutClassOrAllClassesIsRefused) {
  SetLastError(0);
  EXPECT_EQ(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// Devices that are installed but not started are left out of a DIGCF_PRESENT list.
TEST_F(DevicesConformance, PresentListLeavesOutAbsentDevice) {
  ASSERT_TRUE(conf::seed::AddDevice(kInstance, {"PCI\\VEN_1234"}));
  DeviceInfoList list(SetupDiGetClassDevsA(&kNetClass, nullptr, nullptr, DIGCF_PRESENT));
  ASSERT_TRUE(list.valid());
  SP_DEVINFO_DATA data = Record();
  if (conf::OnSubstituteMachine()) {
    EXPECT_FALSE(FindSeeded(list.get(), &data));
  } else {
    conf::KnownDivergence("Wine's SetupDiGetClassDevs ignores DIGCF_PRESENT: the absent device is listed");
    EXPECT_TRUE(FindSeeded(list.get(), &data));
  }
}

TEST_F(DevicesConformance, EnumRefusesWrongRecordSize) {
  ASSERT_TRUE(conf::seed::AddDevice(kInstance, {"PCI\\VEN_1234"}));
  DeviceInfoList list(SetupDiGetClassDevsA(&kNetClass, nullptr, nullptr, 0));
  ASSERT_TRUE(list.valid());
  SP_DEVINFO_DATA data = Record();
  data.cbSize = sizeof data + 4;
  SetLastError(0);
  EXPECT_FALSE(SetupDiEnumDeviceInfo(list.get(), 0, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
}

TEST_F(DevicesConformance, ListDetailNeedsItsSize) {
  DeviceInfoList list(SetupDiGetClassDevsA(&kNetClass, nullptr, nullptr, 0));
  ASSERT_TRUE(list.valid());
  SP_DEVINFO_LIST_DETAIL_DATA_A detail;
  std::memset(&detail, 0, sizeof detail);
  detail.cbSize = sizeof detail;
  EXPECT_TRUE(SetupDiGetDeviceInfoListDetailA(list.get(), &detail));
  EXPECT_EQ(detail.RemoteMachineHandle, nullptr);
  EXPECT_STREQ(detail.RemoteMachineName, "");
  detail.cbSize = sizeof detail - 1;
  SetLastError(0);
  EXPECT_FALSE(SetupDiGetDeviceInfoListDetailA(list.get(), &detail));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// The hardware-ID list: its size first (no buffer), then too small, then exact.
TEST_F(DevicesConformance, HardwareIdPropertyBufferRules) {
  ASSERT_TRUE(conf::seed::AddDevice(kInstance, {"PCI\\VEN_1234&DEV_5678", "PCI\\VEN_1234"}));
  DeviceInfoList list(SetupDiGetClassDevsA(&kNetClass, nullptr, nullptr, 0));
  ASSERT_TRUE(list.valid());
  SP_DEVINFO_DATA data = Record();
  ASSERT_TRUE(FindSeeded(list.get(), &data));
  const std::string expected = std::string("PCI\\VEN_1234&DEV_5678") + '\0' + "PCI\\VEN_1234" + '\0' + '\0';
  DWORD required = 0;
  DWORD type = 0;
  SetLastError(0);
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(list.get(), &data, SPDRP_HARDWAREID, &type,
                                                 nullptr, 0, &required));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(required, expected.size());
  BYTE buffer[256];
  SetLastError(0);
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(list.get(), &data, SPDRP_HARDWAREID, &type,
                                                 buffer, required - 1, &required));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(required, expected.size());
  ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(list.get(), &data, SPDRP_HARDWAREID, &type, buffer,
                                                required, &required));
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), required), expected);
}

TEST_F(DevicesConformance, MissingPropertyIsInvalidData) {
  ASSERT_TRUE(conf::seed::AddDevice(kInstance, {"PCI\\VEN_1234"}));
  DeviceInfoList list(SetupDiGetClassDevsA(&kNetClass, nullptr, nullptr, 0));
  ASSERT_TRUE(list.valid());
  SP_DEVINFO_DATA data = Record();
  ASSERT_TRUE(FindSeeded(list.get(), &data));
  BYTE buffer[256];
  DWORD required = 0;
  SetLastError(0);
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(list.get(), &data, SPDRP_DRIVER, nullptr, buffer,
                                                 sizeof buffer, &required));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
}

TEST_F(DevicesConformance, InstanceIdBufferRules) {
  ASSERT_TRUE(conf::seed::AddDevice(kInstance, {"PCI\\VEN_1234"}));
  DeviceInfoList list(SetupDiGetClassDevsA(&kNetClass, nullptr, nullptr, 0));
  ASSERT_TRUE(list.valid());
  SP_DEVINFO_DATA data = Record();
  ASSERT_TRUE(FindSeeded(list.get(), &data));
  DWORD size = static_cast<DWORD>(std::strlen(kInstance) + 1);
  char id[64];
  DWORD required = 0;
  SetLastError(0);
  EXPECT_FALSE(SetupDiGetDeviceInstanceIdA(list.get(), &data, id, size - 1, &required));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(required, size);
  EXPECT_TRUE(SetupDiGetDeviceInstanceIdA(list.get(), &data, id, size, &required));
  EXPECT_STREQ(id, kInstance);
}

// Instance IDs are kept in upper case, whatever case they were created in.
TEST_F(DevicesConformance, InstanceIdInUpperCase) {
  ASSERT_TRUE(conf::seed::AddDevice("Root\\ConfTest\\0000", {"PCI\\VEN_1234"}));
  DeviceInfoList list(SetupDiGetClassDevsA(&kNetClass, nullptr, nullptr, 0));
  ASSERT_TRUE(list.valid());
  SP_DEVINFO_DATA data = Record();
  EXPECT_TRUE(FindSeeded(list.get(), &data));
}

TEST_F(DevicesConformance, RemovedDeviceLeavesLaterLists) {
  ASSERT_TRUE(conf::seed::AddDevice(kInstance, {"PCI\\VEN_1234"}));
  {
    DeviceInfoList list(SetupDiGetClassDevsA(&kNetClass, nullptr, nullptr, 0));
    ASSERT_TRUE(list.valid());
    SP_DEVINFO_DATA data = Record();
    ASSERT_TRUE(FindSeeded(list.get(), &data));
    EXPECT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, list.get(), &data));
  }
  DeviceInfoList after(SetupDiGetClassDevsA(&kNetClass, nullptr, nullptr, 0));
  ASSERT_TRUE(after.valid());
  SP_DEVINFO_DATA data = Record();
  EXPECT_FALSE(FindSeeded(after.get(), &data));
}

// The root of the device tree is found and re-enumerated.
TEST_F(DevicesConformance, LocateAndReenumerateRoot) {
  DEVINST root = 0;
  CONFIGRET located = CM_Locate_DevNodeA(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL);
  if (conf::OnSubstituteMachine()) {
    EXPECT_EQ(located, static_cast<CONFIGRET>(CR_SUCCESS));
    EXPECT_EQ(CM_Reenumerate_DevNode(root, CM_REENUMERATE_NORMAL), static_cast<CONFIGRET>(CR_SUCCESS));
  } else {
    conf::KnownDivergence("Wine's CM_Locate_DevNodeA and CM_Reenumerate_DevNode fail: result " +
                          std::to_string(located));
    EXPECT_NE(located, static_cast<CONFIGRET>(CR_SUCCESS));
    EXPECT_NE(CM_Reenumerate_DevNode(root, CM_REENUMERATE_NORMAL), static_cast<CONFIGRET>(CR_SUCCESS));
  }
}

}  // namespace
