// Pakrun's INF files and device operations against the real Windows API under Wine: the
// real INF installer (rundll32 running setupapi's InstallHinfSection) and devices
// created through SetupAPI. Each operation waits without limit for the installer; the
// test's own time-out bounds the run.
#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "pakrun/device_search.h"
#include "pakrun/inf_files.h"
#include "testbed/support/devices.h"
#include "support.h"

namespace {

constexpr char kNetClassGuid[] = "{4D36E972-E325-11CE-BFC1-08002BE10318}";
const std::string kClassRoot = "SYSTEM\\CurrentControlSet\\Control\\Class\\";

std::string TempPath(const char* fileName) {
  const char* temp = std::getenv("TEMP");
  return std::string(temp == nullptr ? "" : temp) + "\\" + fileName;
}

class PakrunWine : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = wt::ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    settings_ = dir_ + "\\Pakrun.ini";
  }

  void Settings(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    ASSERT_TRUE(wt::WriteFile(settings_, text));
  }

  std::string dir_;
  std::string settings_;
};

TEST_F(PakrunWine, StaticSectionIsAppliedByTheRealInstaller) {
  const std::string key = "SOFTWARE\\PakrunWineTest\\Static";
  ASSERT_TRUE(wt::RegDeleteTree(HKEY_LOCAL_MACHINE, key));
  ASSERT_TRUE(wt::RegSetString(HKEY_LOCAL_MACHINE, key, "Obsolete", "old"));
  ASSERT_TRUE(wt::RegSetString(HKEY_LOCAL_MACHINE, key, "Kept", "old"));
  // A file left by an interrupted run: its text must not be applied again.
  const std::string inf = TempPath("StaticAddDel.inf");
  ASSERT_TRUE(wt::WriteFile(inf, "[Version]\r\nsignature=\"$CHICAGO$\"\r\n\r\n[DefaultInstall]\r\n"
                                 "AddReg = Add.reg\r\n\r\n[Add.reg]\r\nHKLM, \"" + key +
                                     "\",\"Stale\",0,stale\r\n"));
  Settings({"[STATICREG]", "ADDREG=2", "DELREG=1",
            "ADDREG1_ROOT=HKLM", "ADDREG1_SUBKEY=" + key, "ADDREG1_ENTRYNAME=UseZeroConfig",
            "ADDREG1_FLAGS=0x00010001", "ADDREG1_VALUE=1",
            "ADDREG2_ROOT=HKLM", "ADDREG2_SUBKEY=" + key, "ADDREG2_ENTRYNAME=Mode",
            "ADDREG2_FLAGS=0", "ADDREG2_VALUE=Auto",
            "DELREG1_ROOT=HKLM", "DELREG1_SUBKEY=" + key, "DELREG1_ENTRYNAME=Obsolete"});

  EXPECT_EQ(1, ApplyStaticAddDel(settings_.c_str(), "STATICREG"));

  DWORD number = 0;
  std::string text;
  EXPECT_TRUE(wt::RegGetDword(HKEY_LOCAL_MACHINE, key, "UseZeroConfig", &number));
  EXPECT_EQ(1u, number);
  EXPECT_TRUE(wt::RegGetString(HKEY_LOCAL_MACHINE, key, "Mode", &text));
  EXPECT_EQ("Auto", text);
  EXPECT_FALSE(wt::RegGetString(HKEY_LOCAL_MACHINE, key, "Obsolete", &text));
  EXPECT_TRUE(wt::RegGetString(HKEY_LOCAL_MACHINE, key, "Kept", &text));
  EXPECT_FALSE(wt::RegGetString(HKEY_LOCAL_MACHINE, key, "Stale", &text));
  EXPECT_FALSE(wt::FileExists(inf));
  wt::RegDeleteTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\PakrunWineTest");
}

TEST_F(PakrunWine, DeviceSectionGoesToTheDriverKeyMatchedWithoutCase) {
  const std::string instance = "PCI\\VEN_1D4A&DEV_0301&SUBSYS_00011D4A&REV_01\\4&PAKRUN&0&00E0";
  const std::string driver = std::string(kNetClassGuid) + "\\0042";
  const std::string classKey = kClassRoot + driver;
  wt::RemoveDevice(instance);
  ASSERT_TRUE(wt::RegDeleteTree(HKEY_LOCAL_MACHINE, classKey));
  ASSERT_TRUE(wt::CreateDevice(instance,
                           {"PCI\\VEN_1D4A&DEV_0301&SUBSYS_00011D4A&REV_01",
                            "PCI\\VEN_1D4A&DEV_0301&SUBSYS_00011D4A"},
                           driver));
  ASSERT_TRUE(wt::RegSetString(HKEY_LOCAL_MACHINE, classKey, "Obsolete", "old"));
  Settings({"[DRIVERREG_PCI\\VEN_1D4A&DEV_0301&SUBSYS_00011D4A_XP]", "ADDREG=2", "DELREG=1",
            "ADDREG1_ROOT=HKCU", "ADDREG1_SUBKEY=Software\\Elsewhere",
            "ADDREG1_ENTRYNAME=PowerSaveMode", "ADDREG1_FLAGS=0x00010001", "ADDREG1_VALUE=0",
            "ADDREG2_ENTRYNAME=RoamTendency", "ADDREG2_FLAGS=0", "ADDREG2_VALUE=Moderate",
            "DELREG1_ENTRYNAME=Obsolete"});

  EXPECT_EQ(1, ApplyDriverAddDelForDevice(settings_.c_str(),
                                          "DRIVERREG_PCI\\VEN_1D4A&DEV_0301&SUBSYS_00011D4A_XP",
                                          "pci\\ven_1d4a&dev_0301&subsys_00011d4a"));

  DWORD number = 1;
  std::string text;
  EXPECT_TRUE(wt::RegGetDword(HKEY_LOCAL_MACHINE, classKey, "PowerSaveMode", &number));
  EXPECT_EQ(0u, number);
  EXPECT_TRUE(wt::RegGetString(HKEY_LOCAL_MACHINE, classKey, "RoamTendency", &text));
  EXPECT_EQ("Moderate", text);
  EXPECT_FALSE(wt::RegGetString(HKEY_LOCAL_MACHINE, classKey, "Obsolete", &text));
  EXPECT_FALSE(wt::RegKeyExists(HKEY_CURRENT_USER, "Software\\Elsewhere"));
  EXPECT_FALSE(wt::FileExists(TempPath("DriverAddDel.inf")));

  wt::RemoveDevice(instance);
  wt::RegDeleteTree(HKEY_LOCAL_MACHINE, classKey);
}

TEST_F(PakrunWine, DeviceIsRemovedByTheSecondEntryOfItsList) {
  const std::string instance = "PCI\\VEN_1D4A&DEV_0302&SUBSYS_00021D4A&REV_01\\4&PAKRUN&0&00E8";
  wt::RemoveDevice(instance);
  ASSERT_TRUE(wt::CreateDevice(instance,
                           {"PCI\\VEN_1D4A&DEV_0302&SUBSYS_00021D4A&REV_01",
                            "PCI\\VEN_1D4A&DEV_0302&SUBSYS_00021D4A"},
                           ""));
  ASSERT_TRUE(wt::DeviceInstalled(instance));
  EXPECT_EQ(1, FindPresentDevice("PCI\\VEN_1D4A&DEV_0302&SUBSYS_00021D4A"));

  // Neither a prefix nor another letter case removes it.
  EXPECT_EQ(0, RemoveDeviceByHardwareId("PCI\\VEN_1D4A&DEV_0302"));
  EXPECT_EQ(0, RemoveDeviceByHardwareId("pci\\ven_1d4a&dev_0302&subsys_00021d4a"));
  EXPECT_TRUE(wt::DeviceInstalled(instance));

  EXPECT_EQ(1, RemoveDeviceByHardwareId("PCI\\VEN_1D4A&DEV_0302&SUBSYS_00021D4A"));
  EXPECT_FALSE(wt::DeviceInstalled(instance));
  EXPECT_EQ(0, FindPresentDevice("PCI\\VEN_1D4A&DEV_0302&SUBSYS_00021D4A"));
}

}  // namespace
