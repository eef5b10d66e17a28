// Scrubnet.exe for real under Wine: driver keys, files and devices seeded through the
// real API, one run of the program, and what is gone and what is left afterwards. Beside
// the program lies a SETUPAPI.DLL that must never be loaded.
#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "scrubnet_scene.h"
#include "support.h"
#include "testbed/support/devices.h"

namespace {

using wt::DeviceInstalled;
using wt::k9xClassKey;
using wt::kChipsetDevices;
using wt::kEnumPciKey;
using wt::kInfBases;
using wt::kNtClassKey;
using wt::kOtherDevice;
using wt::Strings;

// Where Wine takes this program's library load order from.
const std::string kDllOverrides = "Software\\Wine\\AppDefaults\\Scrubnet.exe\\DllOverrides";

class ScrubnetWine : public ::testing::Test, protected wt::ScrubnetScene {
 protected:
  void SetUp() override {
    dir_ = wt::ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_TRUE(wt::CopyFromBuild("Scrubnet.exe", dir_ + "\\Scrubnet.exe"));
    // A driver package's folder may carry a SETUPAPI.DLL of its own, or a library that
    // SetupAPI imports (VERSION.DLL). They export nothing, so a program that took one would
    // also miss its calls.
    ASSERT_TRUE(wt::CopyFromBuild("planted.dll", dir_ + "\\SETUPAPI.DLL"));
    ASSERT_TRUE(wt::CopyFromBuild("planted.dll", dir_ + "\\VERSION.DLL"));
    ASSERT_NO_FATAL_FAILURE(Seed());
  }

  void TearDown() override {
    wt::SetReportedVersion("Scrubnet.exe", "");
    Clear();
  }

  static bool HasKey(const std::string& path) { return wt::RegKeyExists(HKEY_LOCAL_MACHINE, path); }

  DWORD RunScrubnet() { return wt::Run("\"" + dir_ + "\\Scrubnet.exe\"", dir_); }

  // The native load order that Windows XP uses for SETUPAPI.DLL, which is not a known
  // system library there: loaded by name, the copy beside the program would come first.
  // The same for VERSION.DLL, which the system's SetupAPI imports: searched for from the
  // program's folder, the copy there would be taken. Set after the version, whose removal
  // takes the program's whole key with it.
  static bool NativeSetupApiFirst() {
    return wt::RegSetString(HKEY_CURRENT_USER, kDllOverrides, "setupapi", "native,builtin") &&
           wt::RegSetString(HKEY_CURRENT_USER, kDllOverrides, "version", "native,builtin");
  }
  bool PlantedLoaded() const {
    return wt::FileExists(dir_ + "\\SETUPAPI.DLL.loaded") ||
           wt::FileExists(dir_ + "\\VERSION.DLL.loaded");
  }

  // Both families' driver keys and Enum\PCI keys are seeded, and one run shows which walk
  // ran: the NT family removes the files of the NT keys and the NT driver and deletes no
  // key; the 9x family removes the files of the 9x keys, the 9x copies, the matching driver
  // keys and the matching Enum\PCI keys. Both remove the chipset's devices only.
  void RemovesUnder(const std::string& version) {
    const bool nineX = version == "win98";
    ASSERT_TRUE(wt::SetReportedVersion("Scrubnet.exe", version));
    DriverKey(kNtClassKey, "0070", "ComponentId", "PCI\\VEN_1D4A&DEV_7403&SUBSYS_00011D4A", "oem70");
    DriverKey(kNtClassKey, "0071", "ComponentId", "pci\\ven_1d4a&dev_7404", "oem71");
    DriverKey(kNtClassKey, "0072", "ComponentId", "PCI\\VEN_8086&DEV_1229", "oem72");
    DriverKey(k9xClassKey, "0000", "MatchingDeviceId", "PCI\\VEN_1D4A&DEV_7403&SUBSYS_00011D4A", "oem73");
    DriverKey(k9xClassKey, "0001", "MatchingDeviceId", "pci\\ven_1d4a&dev_7404", "oem74");
    DriverKey(k9xClassKey, "0002", "MatchingDeviceId", "PCI\\VEN_8086&DEV_1229", "oem75");
    const Strings matching = {"VEN_1D4A&DEV_7403&SUBSYS_00011D4A&REV_01",
                              "ven_1d4a&dev_7404&subsys_00011d4a&rev_01"};
    const Strings other = {"VEN_1D4&DEV_7403", "VEN_8086&DEV_1229&SUBSYS_00018086&REV_08"};
    for (const std::string& name : matching) EnumKey(name);
    for (const std::string& name : other) EnumKey(name);
    ASSERT_TRUE(NativeSetupApiFirst());

    EXPECT_EQ(0u, RunScrubnet());
    EXPECT_FALSE(PlantedLoaded());

    // The INF files of the family's own matching keys go; every other one stays.
    const Strings gone = nineX ? Strings{"oem73", "oem74"} : Strings{"oem70", "oem71"};
    for (const char* base : kInfBases) {
      const bool removed = std::find(gone.begin(), gone.end(), base) != gone.end();
      for (const std::string& path : InstalledInf(base)) EXPECT_EQ(!removed, wt::FileExists(path)) << path;
    }
    EXPECT_EQ(nineX, wt::FileExists(NtDriver()));
    for (const std::string& path : NineXCopies()) EXPECT_EQ(!nineX, wt::FileExists(path)) << path;
    for (const std::string& id : kChipsetDevices) EXPECT_FALSE(DeviceInstalled(id)) << id;
    EXPECT_TRUE(DeviceInstalled(kOtherDevice));
    // The NT walk deletes no key; the 9x walk deletes the matching driver keys with the
    // keys below them, and the matching Enum\PCI keys.
    for (const char* sub : {"0070", "0071", "0072"})
      EXPECT_TRUE(HasKey(kNtClassKey + "\\" + sub + "\\Ndi\\Params")) << sub;
    EXPECT_EQ(!nineX, HasKey(k9xClassKey + "\\0000"));
    EXPECT_EQ(!nineX, HasKey(k9xClassKey + "\\0001"));
    EXPECT_TRUE(HasKey(k9xClassKey + "\\0002\\Ndi\\Params"));
    for (const std::string& name : matching) EXPECT_EQ(!nineX, HasKey(kEnumPciKey + "\\" + name)) << name;
    for (const std::string& name : other) EXPECT_TRUE(HasKey(kEnumPciKey + "\\" + name)) << name;
  }

  std::string dir_;
};

TEST_F(ScrubnetWine, NtFamilyRemovesTheChipsetsFilesAndDevicesAndDeletesNoKey) { RemovesUnder(""); }
TEST_F(ScrubnetWine, NineXFamilyAlsoRemovesTheCopiesAndTheKeys) { RemovesUnder("win98"); }

TEST_F(ScrubnetWine, Matrix_win98) { RemovesUnder("win98"); }
TEST_F(ScrubnetWine, Matrix_win2k) { RemovesUnder("win2k"); }
TEST_F(ScrubnetWine, Matrix_winxp) { RemovesUnder("winxp"); }
TEST_F(ScrubnetWine, Matrix_win2003) { RemovesUnder("win2003"); }
TEST_F(ScrubnetWine, Matrix_default) { RemovesUnder(""); }

TEST_F(ScrubnetWine, WithoutTheSystemsSetupApiTheDevicesStayAndTheDriverFilesGo) {
  // No SETUPAPI.DLL can be loaded at all: the system's copy is not to be had, and the one
  // beside the program must not stand in for it. The NT walk still removes the files of
  // the matching driver keys and the driver; the devices cannot be listed, so they stay.
  DriverKey(kNtClassKey, "0070", "ComponentId", "PCI\\VEN_1D4A&DEV_7403&SUBSYS_00011D4A", "oem70");
  DriverKey(kNtClassKey, "0072", "ComponentId", "PCI\\VEN_8086&DEV_1229", "oem72");
  ASSERT_TRUE(wt::RegSetString(HKEY_CURRENT_USER, kDllOverrides, "setupapi", ""));

  EXPECT_EQ(0u, RunScrubnet());
  EXPECT_FALSE(PlantedLoaded());
  for (const std::string& path : InstalledInf("oem70")) EXPECT_FALSE(wt::FileExists(path)) << path;
  for (const std::string& path : InstalledInf("oem72")) EXPECT_TRUE(wt::FileExists(path)) << path;
  EXPECT_FALSE(wt::FileExists(NtDriver()));
  for (const std::string& id : kChipsetDevices) EXPECT_TRUE(DeviceInstalled(id)) << id;
  EXPECT_TRUE(DeviceInstalled(kOtherDevice));
}

TEST_F(ScrubnetWine, RegistryDeletionOfTheNtFamilyRefusesAKeyWithSubkeys) {
  // The premise of the 9x scenario: this test program is reported the NT family, and
  // there the same deletion that the 9x run relies on is refused.
  ASSERT_EQ(0u, GetVersion() & 0x80000000u);
  const std::string key = k9xClassKey + "\\0000";
  ASSERT_TRUE(wt::RegSetString(HKEY_LOCAL_MACHINE, key + "\\Ndi\\Params", "Default", "1"));
  EXPECT_NE(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str()));
  EXPECT_TRUE(HasKey(key + "\\Ndi\\Params"));
  // Leaf by leaf it goes.
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, (key + "\\Ndi\\Params").c_str()));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, (key + "\\Ndi").c_str()));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.c_str()));
  EXPECT_FALSE(HasKey(key));
}

}  // namespace
