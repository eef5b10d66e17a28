// The substitute machine: the device database, as the setup runner relies on them.
#include <string>

#include "pakrun_fixture.h"
#include "platform/devices.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/programs.h"
#include "platform/registry.h"
#include "pakrun/run_and_wait.h"

namespace {

using Devices = PakrunTest;


TEST_F(Devices, DeviceDatabaseListsByClassAndPresenceAndReportsSizes) {
  sim::Device& adapter =
      machine.devices.Add("PCI\\VEN_1D4A&DEV_0301\\1", {"PCI\\VEN_1D4A&DEV_0301"}, false);
  adapter.appearsOnReenumerate = true;
  sim::Device& disk = machine.devices.Add("IDE\\DISK\\1", {"IDE\\DISK"});
  disk.classGuid = "{4D36E967-E325-11CE-BFC1-08002BE10318}";
  const GUID net = {0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

  auto count = [](HDEVINFO list) {
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    DWORD n = 0;
    while (SetupDiEnumDeviceInfo(list, n, &data)) ++n;
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), GetLastError());
    return n;
  };
  DeviceInfoList all(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES));
  EXPECT_EQ(2u, count(all.get()));
  DeviceInfoList present(
      SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT));
  EXPECT_EQ(1u, count(present.get()));
  DeviceInfoList netOnly(SetupDiGetClassDevsA(&net, nullptr, nullptr, 0));
  EXPECT_EQ(1u, count(netOnly.get()));

  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  ASSERT_TRUE(SetupDiEnumDeviceInfo(netOnly.get(), 0, &data));
  char id[8];
  DWORD required = 0;
  EXPECT_FALSE(SetupDiGetDeviceInstanceIdA(netOnly.get(), &data, id, sizeof id, &required));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_EQ(sizeof("PCI\\VEN_1D4A&DEV_0301\\1"), required);
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(netOnly.get(), &data, SPDRP_DRIVER, nullptr,
                                                 nullptr, 0, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), GetLastError());

  DEVINST root = 0;
  EXPECT_EQ(static_cast<CONFIGRET>(CR_SUCCESS),
            CM_Locate_DevNodeA(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL));
  EXPECT_EQ(static_cast<CONFIGRET>(CR_SUCCESS), CM_Reenumerate_DevNode(root, CM_REENUMERATE_NORMAL));
  EXPECT_EQ(1, machine.devices.reenumerations);
  EXPECT_TRUE(adapter.present);
  machine.Fail("CM_Locate_DevNodeA", CR_FAILURE);
  EXPECT_EQ(static_cast<CONFIGRET>(CR_FAILURE),
            CM_Locate_DevNodeA(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL));
  EXPECT_EQ(0u, root);
}

}  // namespace
