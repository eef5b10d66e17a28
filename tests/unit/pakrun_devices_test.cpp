#include <cstdlib>
#include <string>
#include <vector>

#include "pakrun/device_search.h"
#include "pakrun_fixture.h"
#include "platform/devices.h"

namespace {

class DeviceSearch : public PakrunTest {
 protected:
  sim::Device& Adapter(const std::string& instance, std::vector<std::string> ids,
                       bool present = true) {
    return machine.devices.Add(instance, ids, present);
  }
  std::vector<std::string> Removed() { return EventsStartingWith("RemoveDevice"); }
};

TEST_F(DeviceSearch, LaterEntryOfTheListMatchesButPrefixesAndLongerIdsDoNot) {
  Adapter("ROOT\\OTHER\\0000", {"ROOT\\OTHER"});
  Adapter("PCI\\VEN_1D4A&DEV_0301\\1", {"PCI\\VEN_1D4A&DEV_0301&SUBSYS_00011D4A&REV_01", kAdapterId});
  EXPECT_EQ(1, FindPresentDevice(kAdapterId));
  EXPECT_EQ(0, FindPresentDevice("PCI\\VEN_1D4A"));
  EXPECT_EQ(0, FindPresentDevice("PCI\\VEN_1D4A&DEV_0301&SUBSYS_00011D4A&REV_01&X"));
  EXPECT_EQ(0, RemoveDeviceByHardwareId("PCI\\VEN_1D4A&DEV_0301"));
  EXPECT_TRUE(Removed().empty());
  EXPECT_EQ(1, RemoveDeviceByHardwareId(kAdapterId));
  EXPECT_EQ((std::vector<std::string>{"RemoveDevice PCI\\VEN_1D4A&DEV_0301\\1"}), Removed());
}

TEST_F(DeviceSearch, LetterCaseCountsExceptForTheDriverKeyChange) {
  sim::Device& adapter = Adapter("PCI\\VEN_1D4A&DEV_0301\\1", {kAdapterId});
  adapter.driver = "{4D36E972-E325-11CE-BFC1-08002BE10318}\\0001";
  Settings({"[SECTION]", "ADDREG=1", "ADDREG1_ENTRYNAME=Mode", "ADDREG1_FLAGS=0",
            "ADDREG1_VALUE=on"});
  const char* otherCase = "pci\\ven_1d4a&dev_0301&subsys_00011d4a";
  EXPECT_EQ(0, FindPresentDevice(otherCase));
  EXPECT_EQ(0, RemoveDeviceByHardwareId(otherCase));
  EXPECT_TRUE(Removed().empty());
  EXPECT_EQ(1, ApplyDriverAddDelForDevice(kSettingsPath, "SECTION", otherCase));
  EXPECT_EQ("on", machine.registry.String(std::string("HKLM\\") + kNetClass + "\\0001", "Mode"));
  ASSERT_EQ(1u, installed.size());
  EXPECT_NE(std::string::npos,
            installed[0].find(std::string("HKLM, \"") + kNetClass + "\\0001\",\"Mode\",0,on\r\n"));
}

TEST_F(DeviceSearch, AbsentDevicesAreOnlyFoundForRemoval) {
  sim::Device& absent = Adapter("PCI\\VEN_1D4A&DEV_0301\\1", {kAdapterId}, false);
  absent.driver = "{4D36E972-E325-11CE-BFC1-08002BE10318}\\0001";
  Settings({"[SECTION]", "ADDREG=1", "ADDREG1_ENTRYNAME=Mode"});
  EXPECT_EQ(0, FindPresentDevice(kAdapterId));
  EXPECT_EQ(0, ApplyDriverAddDelForDevice(kSettingsPath, "SECTION", kAdapterId));
  EXPECT_EQ(0, machine.Calls("CreateProcessA"));
  EXPECT_EQ(1, RemoveDeviceByHardwareId(kAdapterId));
  EXPECT_TRUE(absent.removed);
}

TEST_F(DeviceSearch, TwoDevicesWithTheIdAreHandledOneAtATime) {
  sim::Device& first = Adapter("PCI\\VEN_1D4A&DEV_0301\\1", {kAdapterId});
  first.driver = "{4D36E972-E325-11CE-BFC1-08002BE10318}\\0001";
  sim::Device& second = Adapter("PCI\\VEN_1D4A&DEV_0301\\2", {kAdapterId});
  second.driver = "{4D36E972-E325-11CE-BFC1-08002BE10318}\\0002";
  Settings({"[SECTION]", "ADDREG=1", "ADDREG1_ENTRYNAME=Mode", "ADDREG1_VALUE=on"});

  EXPECT_EQ(1, FindPresentDevice(kAdapterId));
  EXPECT_EQ(1, ApplyDriverAddDelForDevice(kSettingsPath, "SECTION", kAdapterId));
  EXPECT_EQ(1, machine.Calls("CreateProcessA"));
  EXPECT_TRUE(machine.registry.HasKey(std::string("HKLM\\") + kNetClass + "\\0001"));
  EXPECT_FALSE(machine.registry.HasKey(std::string("HKLM\\") + kNetClass + "\\0002"));

  EXPECT_EQ(1, RemoveDeviceByHardwareId(kAdapterId));
  EXPECT_TRUE(first.removed);
  EXPECT_FALSE(second.removed);
  EXPECT_EQ(1, RemoveDeviceByHardwareId(kAdapterId));
  EXPECT_TRUE(second.removed);
  EXPECT_EQ(0, RemoveDeviceByHardwareId(kAdapterId));
  EXPECT_EQ(0, FindPresentDevice(kAdapterId));
}

TEST_F(DeviceSearch, FailedRemovalGoesOnToTheNextDevice) {
  sim::Device& stuck = Adapter("PCI\\VEN_1D4A&DEV_0301\\1", {kAdapterId, kAdapterId}, false);
  stuck.removeFails = true;
  sim::Device& next = Adapter("PCI\\VEN_1D4A&DEV_0301\\2", {"X", kAdapterId}, false);
  EXPECT_EQ(1, RemoveDeviceByHardwareId(kAdapterId));
  EXPECT_FALSE(stuck.removed);
  EXPECT_TRUE(next.removed);
  // The stuck device's second matching entry was tried too before moving on.
  EXPECT_EQ(3, machine.Calls("SetupDiCallClassInstaller"));
  EXPECT_EQ(0, RemoveDeviceByHardwareId(kAdapterId));
  EXPECT_FALSE(stuck.removed);
}

// 64-bit Windows runs no class installer for a 32-bit process.
TEST_F(DeviceSearch, UnderWow64NoDeviceIsRemoved) {
  sim::Device& stale = Adapter("PCI\\VEN_1D4A&DEV_0301\\1", {kAdapterId}, false);
  machine.kernel.wow64 = true;
  EXPECT_EQ(0, RemoveDeviceByHardwareId(kAdapterId));
  EXPECT_FALSE(stale.removed);
  EXPECT_EQ(1, machine.Calls("SetupDiCallClassInstaller"));
}

TEST_F(DeviceSearch, DeviceWithoutHardwareIdsIsSkipped) {
  sim::Device& bare = Adapter("ROOT\\LEGACY\\0000", {});
  bare.hardwareIds.reset();
  Adapter("PCI\\VEN_1D4A&DEV_0301\\1", {kAdapterId}, false);
  EXPECT_EQ(1, RemoveDeviceByHardwareId(kAdapterId));
}

TEST_F(DeviceSearch, UnexpectedPropertyErrorEndsTheWholeSearch) {
  sim::Device& broken = Adapter("ROOT\\BROKEN\\0000", {"ROOT\\BROKEN"}, false);
  broken.hardwareIdError = ERROR_GEN_FAILURE;
  sim::Device& later = Adapter("PCI\\VEN_1D4A&DEV_0301\\1", {kAdapterId}, false);
  later.driver = "{4D36E972-E325-11CE-BFC1-08002BE10318}\\0001";
  EXPECT_EQ(0, RemoveDeviceByHardwareId(kAdapterId));
  EXPECT_FALSE(later.removed);
  broken.present = true;
  later.present = true;
  EXPECT_EQ(0, FindPresentDevice(kAdapterId));
  Settings({"[SECTION]", "ADDREG=1"});
  EXPECT_EQ(0, ApplyDriverAddDelForDevice(kSettingsPath, "SECTION", kAdapterId));
  EXPECT_EQ(0, machine.Calls("CreateProcessA"));
}

TEST_F(DeviceSearch, PropertyBufferGrowsToTheReportedSize) {
  Adapter("ROOT\\OTHER\\0000", {"ROOT\\OTHER"});
  Adapter("PCI\\VEN_1D4A&DEV_0301\\1", {std::string(600, 'A'), kAdapterId});
  EXPECT_EQ(1, FindPresentDevice(kAdapterId));
  // Each device: a first read without a buffer, then one with the size it asked for.
  EXPECT_EQ(4, machine.Calls("SetupDiGetDeviceRegistryPropertyA"));

  // A list that keeps asking for the size it was already given ends the search.
  machine.Fail("SetupDiGetDeviceRegistryPropertyA", ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(0, FindPresentDevice(kAdapterId));
}

TEST_F(DeviceSearch, PropertyBufferThatCannotBeHadEndsTheSearch) {
  // A list of 4 GiB, which the unit tests' allocator refuses (allocator_limit.cpp).
  volatile std::size_t huge = 0xFFFFFFFFu;
  void* probe = std::calloc(huge, 1);
  std::free(probe);
  ASSERT_EQ(nullptr, probe) << "the allocator must refuse 4 GiB for this test";
  Adapter("ROOT\\HUGE\\0000", {"ROOT\\HUGE"}).hardwareIdSizeAsked = 0xFFFFFFFFu;
  sim::Device& adapter = Adapter("PCI\\VEN_1D4A&DEV_0301\\1", {kAdapterId});
  EXPECT_EQ(0, FindPresentDevice(kAdapterId));
  EXPECT_EQ(0, RemoveDeviceByHardwareId(kAdapterId));
  EXPECT_FALSE(adapter.removed);
}

TEST_F(DeviceSearch, ListWithoutFinalTerminatorsIsNeverReadPastItsSize) {
  // The property buffer is exactly the reported size, so reading on would be caught by
  // the address sanitizer.
  sim::Device& unterminated = Adapter("PCI\\VEN_1D4A&DEV_0301\\1", {});
  std::string bytes = std::string("ROOT\\A") + '\0' + "PCI\\VEN_1D4A&DEV_0301";
  unterminated.hardwareIds = std::vector<unsigned char>(bytes.begin(), bytes.end());
  EXPECT_EQ(0, FindPresentDevice("PCI\\VEN_1D4A&DEV_0301&SUBSYS_00011D4A"));
  EXPECT_EQ(1, FindPresentDevice("PCI\\VEN_1D4A&DEV_0301"));
  EXPECT_EQ(1, FindPresentDevice("ROOT\\A"));

  sim::Device& single = Adapter("PCI\\VEN_1D4A&DEV_0302\\1", {});
  std::string one = "PCI\\VEN_1D4A&DEV_0302";
  single.hardwareIds = std::vector<unsigned char>(one.begin(), one.end());
  EXPECT_EQ(0, FindPresentDevice("PCI\\VEN_1D4A&DEV_0302&X"));
  EXPECT_EQ(1, FindPresentDevice("PCI\\VEN_1D4A&DEV_0302"));
}

TEST_F(DeviceSearch, EmptyIdNeverMatches) {
  sim::Device& odd = Adapter("PCI\\VEN_1D4A&DEV_0301\\1", {"", kAdapterId}, false);
  odd.driver = "{4D36E972-E325-11CE-BFC1-08002BE10318}\\0001";
  Adapter("PCI\\VEN_1D4A&DEV_0301\\2", {kAdapterId});
  Settings({"[SECTION]", "ADDREG=1"});
  EXPECT_EQ(0, FindPresentDevice(""));
  EXPECT_EQ(0, RemoveDeviceByHardwareId(""));
  EXPECT_EQ(0, ApplyDriverAddDelForDevice(kSettingsPath, "SECTION", ""));
  EXPECT_TRUE(Removed().empty());
  EXPECT_EQ(0, machine.Calls("CreateProcessA"));
}

TEST_F(DeviceSearch, DriverKeyThatCannotBeNamedGetsNothing) {
  sim::Device& adapter = Adapter("PCI\\VEN_1D4A&DEV_0301\\1", {kAdapterId});
  Settings({"[SECTION]", "ADDREG=1", "ADDREG1_ENTRYNAME=Mode", "ADDREG1_VALUE=on"});
  // No driver installed: the class key itself is never changed.
  EXPECT_EQ(0, ApplyDriverAddDelForDevice(kSettingsPath, "SECTION", kAdapterId));
  adapter.driver = "";
  EXPECT_EQ(0, ApplyDriverAddDelForDevice(kSettingsPath, "SECTION", kAdapterId));
  // A name too long for the class key path is not shortened into another key.
  adapter.driver = "{4D36E972-E325-11CE-BFC1-08002BE10318}\\" + std::string(200, '1');
  EXPECT_EQ(0, ApplyDriverAddDelForDevice(kSettingsPath, "SECTION", kAdapterId));
  // Nor is one that fills the whole buffer with no terminator (a registry text need not
  // end in one) read past its end, which the address sanitizer would catch.
  adapter.driver = std::string(MAX_PATH, '1');
  adapter.driverUnterminated = true;
  EXPECT_EQ(0, ApplyDriverAddDelForDevice(kSettingsPath, "SECTION", kAdapterId));
  EXPECT_EQ(0, machine.Calls("OpenTextStream"));
  EXPECT_EQ(0, machine.Calls("CreateProcessA"));
  EXPECT_FALSE(machine.registry.HasKey("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class"));
}

TEST_F(DeviceSearch, MatchingDeviceWithAnEmptySectionStillCounts) {
  sim::Device& adapter = Adapter("PCI\\VEN_1D4A&DEV_0301\\1", {kAdapterId});
  adapter.driver = "{4D36E972-E325-11CE-BFC1-08002BE10318}\\0001";
  EXPECT_EQ(1, ApplyDriverAddDelForDevice(kSettingsPath, "DRIVERREG_X_XP", kAdapterId));
  EXPECT_EQ(0, machine.Calls("OpenTextStream"));
  EXPECT_EQ(0, machine.Calls("CreateProcessA"));
}

TEST_F(DeviceSearch, PlatformFailuresEndWithZeroAndReleaseTheList) {
  sim::Device& adapter = Adapter("PCI\\VEN_1D4A&DEV_0301\\1", {kAdapterId});
  adapter.driver = "{4D36E972-E325-11CE-BFC1-08002BE10318}\\0001";
  Settings({"[SECTION]", "ADDREG=1"});

  machine.Fail("SetupDiGetClassDevsA", ERROR_GEN_FAILURE, 1);
  EXPECT_EQ(0, FindPresentDevice(kAdapterId));
  machine.Fail("SetupDiGetClassDevsA", ERROR_GEN_FAILURE, 2);
  EXPECT_EQ(0, RemoveDeviceByHardwareId(kAdapterId));
  machine.Fail("SetupDiGetClassDevsExA", ERROR_GEN_FAILURE, 1);
  EXPECT_EQ(0, ApplyDriverAddDelForDevice(kSettingsPath, "SECTION", kAdapterId));
  machine.Fail("SetupDiGetDeviceInfoListDetailA", ERROR_GEN_FAILURE, 1);
  EXPECT_EQ(0, ApplyDriverAddDelForDevice(kSettingsPath, "SECTION", kAdapterId));
  EXPECT_EQ(0, machine.Calls("SetupDiEnumDeviceInfo"));
  // An enumeration error other than the end of the list ends the walk too.
  machine.Fail("SetupDiEnumDeviceInfo", ERROR_GEN_FAILURE, 1);
  EXPECT_EQ(0, FindPresentDevice(kAdapterId));
  machine.Fail("SetupDiCallClassInstaller", ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(0, RemoveDeviceByHardwareId(kAdapterId));
  EXPECT_FALSE(adapter.removed);
  EXPECT_EQ(0, machine.Calls("CreateProcessA"));
  // Every list that was built (three of six attempts) was released.
  EXPECT_EQ(3, machine.Calls("SetupDiDestroyDeviceInfoList"));
}

}  // namespace
