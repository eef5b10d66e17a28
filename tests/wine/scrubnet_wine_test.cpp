// Scrubnet.exe for real under Wine: driver keys, files and devices seeded through the
// real API, one run of the program, and what is gone and what is left afterwards. Beside
// the program lies a SETUPAPI.DLL that must never be loaded.
#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "testbed/support/devices.h"
#include "support.h"

namespace {

using Strings = std::vector<std::string>;

const std::string kNtClassKey =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
const std::string k9xClassKey = "SYSTEM\\CurrentControlSet\\Services\\Class\\Net";
const std::string kEnumPciKey = "Enum\\PCI";
// Where Wine takes this program's library load order from.
const std::string kDllOverrides = "Software\\Wine\\AppDefaults\\Scrubnet.exe\\DllOverrides";
// The installed INF files the driver keys name: oem70 to oem72 from the NT class key,
// oem73 to oem75 from the 9x one.
const char* const kInfBases[] = {"oem70", "oem71", "oem72", "oem73", "oem74", "oem75"};

// Two adjacent chipset devices and one of another vendor, all in the network class.
const Strings kChipsetDevices = {
    "PCI\\VEN_1D4A&DEV_7403&SUBSYS_00011D4A&REV_01\\4&2A5F3C1E&0&00E1",
    "PCI\\VEN_1D4A&DEV_7404&SUBSYS_00011D4A&REV_01\\4&2A5F3C1E&0&00E2"};
const std::string kOtherDevice = "PCI\\VEN_8086&DEV_1229&SUBSYS_00018086&REV_08\\3&61AAA01&0&0040";

std::string Directory(UINT(WINAPI* get)(LPSTR, UINT)) {
  char path[MAX_PATH] = {};
  UINT length = get(path, sizeof path);
  return std::string(path, length < sizeof path ? length : 0);
}

// Creates a network-class device with this instance identifier, carrying the
// identifier's first part as its hardware ID.
bool CreateDevice(const std::string& instanceId) {
  return wt::CreateDevice(instanceId, {instanceId.substr(0, instanceId.rfind('\\'))}, "");
}

using wt::DeviceInstalled;
using wt::RemoveDevice;

class ScrubnetWine : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = wt::ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_TRUE(wt::CopyFromBuild("Scrubnet.exe", dir_ + "\\Scrubnet.exe"));
    // A driver package's folder may carry a SETUPAPI.DLL of its own, or a library that
    // SetupAPI imports (VERSION.DLL). They export nothing, so a program that took one would
    // also miss its calls.
    ASSERT_TRUE(wt::CopyFromBuild("planted.dll", dir_ + "\\SETUPAPI.DLL"));
    ASSERT_TRUE(wt::CopyFromBuild("planted.dll", dir_ + "\\VERSION.DLL"));
    windows_ = Directory(GetWindowsDirectoryA);
    system_ = Directory(GetSystemDirectoryA);
    ASSERT_FALSE(windows_.empty());
    ASSERT_FALSE(system_.empty());
    Clear();
    for (const std::string& id : kChipsetDevices) ASSERT_TRUE(CreateDevice(id)) << id;
    ASSERT_TRUE(CreateDevice(kOtherDevice));
    for (const std::string& id : kChipsetDevices) ASSERT_TRUE(DeviceInstalled(id)) << id;
    // Every fixed-name file either family may delete.
    for (const std::string& path : FixedFiles()) ASSERT_TRUE(wt::WriteFile(path, "x")) << path;
  }

  void TearDown() override {
    wt::SetReportedVersion("Scrubnet.exe", "");
    Clear();
  }

  // Leaves no device, key or file of this test behind for the next one.
  void Clear() {
    for (const std::string& id : kChipsetDevices) RemoveDevice(id);
    RemoveDevice(kOtherDevice);
    for (const char* sub : {"0070", "0071", "0072"})
      wt::RegDeleteTree(HKEY_LOCAL_MACHINE, kNtClassKey + "\\" + sub);
    wt::RegDeleteTree(HKEY_LOCAL_MACHINE, k9xClassKey);
    wt::RegDeleteTree(HKEY_LOCAL_MACHINE, "Enum");
    for (const std::string& path : FixedFiles()) DeleteFileA(path.c_str());
    for (const char* base : kInfBases) {
      for (const std::string& path : InstalledInf(base)) DeleteFileA(path.c_str());
    }
  }

  std::string Inf(const std::string& name) const { return windows_ + "\\inf\\" + name; }
  std::string Cat(const std::string& name) const {
    return system_ + "\\CatRoot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\" + name;
  }
  std::string NtDriver() const { return windows_ + "\\system32\\drivers\\kv7403.sys"; }
  Strings NineXCopies() const {
    return {windows_ + "\\inf\\other\\KorvellNET7403.inf", Inf("net7403.inf"),
            windows_ + "\\inf\\internet\\KorvellNET7403.inf",
            windows_ + "\\system32\\drivers\\kv74039x.sys",
            windows_ + "\\OPTIONS\\INSTALL\\kv74039x.sys"};
  }
  Strings FixedFiles() const {
    Strings files = NineXCopies();
    files.push_back(NtDriver());
    return files;
  }
  Strings InstalledInf(const std::string& base) const {
    return {Inf(base + ".inf"), Inf(base + ".PNF"), Cat(base + ".CAT")};
  }

  // A driver key with its identifying value, its "InfPath", a key below it, and the
  // installed INF files it names, the PNF written in lower case.
  void DriverKey(const std::string& classKey, const std::string& sub, const std::string& idName,
                 const std::string& id, const std::string& base) {
    const std::string key = classKey + "\\" + sub;
    ASSERT_TRUE(wt::RegSetString(HKEY_LOCAL_MACHINE, key, idName, id));
    ASSERT_TRUE(wt::RegSetString(HKEY_LOCAL_MACHINE, key, "InfPath", base + ".inf"));
    ASSERT_TRUE(wt::RegSetString(HKEY_LOCAL_MACHINE, key + "\\Ndi\\Params", "Default", "1"));
    ASSERT_TRUE(wt::WriteFile(Inf(base + ".inf"), "[Version]\r\n"));
    ASSERT_TRUE(wt::WriteFile(Inf(base + ".pnf"), "pnf"));
    ASSERT_TRUE(wt::WriteFile(Cat(base + ".CAT"), "cat"));
  }

  void EnumKey(const std::string& name) {
    ASSERT_TRUE(wt::RegSetString(HKEY_LOCAL_MACHINE, kEnumPciKey + "\\" + name + "\\4&2A5F3C1E&0&00E1",
                                 "Driver", "Net\\0000"));
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
  std::string windows_;
  std::string system_;
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
