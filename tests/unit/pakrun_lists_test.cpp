#include <string>
#include <vector>

#include "pakrun/device_lists.h"
#include "pakrun/settings.h"
#include "pakrun_fixture.h"
#include "platform/devices.h"

namespace {

constexpr char kOtherId[] = "PCI\\VEN_1D4A&DEV_0302&SUBSYS_00021D4A";

class DeviceLists : public PakrunTest {
 protected:
  std::vector<std::string> Removed() { return EventsStartingWith("RemoveDevice"); }
};

TEST_F(DeviceLists, CleanUpRemovesOneAbsentInstancePerEntryAndNoneWhileTheIdIsPresent) {
  machine.devices.Add("PCI\\A\\present", {kAdapterId}, true);
  machine.devices.Add("PCI\\A\\stale", {kAdapterId}, false);
  machine.devices.Add("PCI\\B\\stale1", {kOtherId}, false);
  machine.devices.Add("PCI\\B\\stale2", {kOtherId}, false);
  machine.devices.Add("PCI\\C\\stale", {"PCI\\VEN_1D4A&DEV_0303"}, false);
  // Entry 3 is missing (empty ID, no effect); entry 4 lies beyond the count.
  Settings({"[CLEANUP]", "CLEANCOUNT=3", std::string("DEV1=") + kAdapterId,
            std::string("DEV2=") + kOtherId, "DEV4=PCI\\VEN_1D4A&DEV_0303"});

  EXPECT_EQ(1, CleanUpDevices(kSettingsPath, "CLEANUP"));
  EXPECT_EQ((std::vector<std::string>{"RemoveDevice PCI\\B\\stale1"}), Removed());
  EXPECT_EQ(1, CleanUpDevices(kSettingsPath, "CLEANUP"));
  EXPECT_EQ((std::vector<std::string>{"RemoveDevice PCI\\B\\stale1", "RemoveDevice PCI\\B\\stale2"}),
            Removed());
  EXPECT_TRUE(machine.devices.FindByInstanceId("PCI\\A\\stale") != nullptr);
  EXPECT_TRUE(machine.devices.FindByInstanceId("PCI\\C\\stale") != nullptr);
}

TEST_F(DeviceLists, CountsThatAreMissingZeroOrNegativeVisitNothing) {
  machine.devices.Add("PCI\\A\\stale", {kAdapterId}, false);
  // Missing, zero, negative (which the profile reader hands back as a huge unsigned
  // number) and text.
  for (const std::string count : {"", "0", "-1", "-2147483648", "none"}) {
    Settings({"[CLEANUP]", count.empty() ? "" : "CLEANCOUNT=" + count,
              std::string("DEV1=") + kAdapterId, "[DRIVERREG]",
              count.empty() ? "" : "NIC=" + count, std::string("DEV1=") + kAdapterId});
    EXPECT_EQ(1, CleanUpDevices(kSettingsPath, "CLEANUP")) << count;
    ApplyDriverRegList(kSettingsPath, "_XP");
  }
  EXPECT_EQ(0, machine.Calls("SetupDiGetClassDevsA"));
  EXPECT_EQ(0, machine.Calls("SetupDiGetClassDevsExA"));
  EXPECT_EQ(0, machine.Calls("GetPrivateProfileStringA"));
  // A negative DETECTCOUNT is an empty list: the tree is enumerated again.
  Settings({"[REFRESH]", "DETECTCOUNT=-1", std::string("DETECTDEV1=") + kAdapterId});
  EXPECT_EQ(1, RefreshDevices(kSettingsPath, "REFRESH"));
  EXPECT_EQ(1, machine.devices.reenumerations);
}

TEST_F(DeviceLists, CountsBeyondTheBoundVisitTheEntriesUpToItOnly) {
  // A typo such as 2000000000 for 2 reads the list to kMaxListEntries and no further.
  machine.devices.Add("PCI\\A\\stale", {kAdapterId}, false);
  machine.devices.Add("PCI\\B\\stale", {kOtherId}, false);
  const std::string last = std::to_string(kMaxListEntries);
  const std::string beyond = std::to_string(kMaxListEntries + 1);
  Settings({"[CLEANUP]", "CLEANCOUNT=2000000000", "DEV" + last + "=" + kAdapterId,
            "DEV" + beyond + "=" + kOtherId, "[REFRESH]", "DETECTCOUNT=4294967295",
            "[DRIVERREG]", "NIC=2000000000"});
  EXPECT_EQ(1, CleanUpDevices(kSettingsPath, "CLEANUP"));
  EXPECT_EQ((std::vector<std::string>{"RemoveDevice PCI\\A\\stale"}), Removed());
  EXPECT_EQ(static_cast<int>(kMaxListEntries), machine.Calls("GetPrivateProfileStringA"));
  EXPECT_EQ(1, RefreshDevices(kSettingsPath, "REFRESH"));  // negative: an empty list
  ApplyDriverRegList(kSettingsPath, "_XP");
  EXPECT_EQ(static_cast<int>(2 * kMaxListEntries), machine.Calls("GetPrivateProfileStringA"));
}

TEST_F(DeviceLists, RefreshSearchesEveryEntryAndReenumeratesOnlyWhenNoneIsPresent) {
  machine.devices.Add("PCI\\B\\1", {kOtherId}, true);
  Settings({"[REFRESH]", "DETECTCOUNT=3", "DETECTDEV1=PCI\\VEN_1D4A&DEV_0399",
            std::string("DETECTDEV2=") + kAdapterId, std::string("DETECTDEV3=") + kOtherId});
  EXPECT_EQ(1, RefreshDevices(kSettingsPath, "REFRESH"));
  EXPECT_EQ(3, machine.Calls("SetupDiGetClassDevsA"));
  EXPECT_EQ(0, machine.devices.reenumerations);

  // A hit before the end still has every entry searched.
  Settings({"[REFRESH]", "DETECTCOUNT=2", std::string("DETECTDEV1=") + kOtherId,
            std::string("DETECTDEV2=") + kAdapterId});
  EXPECT_EQ(1, RefreshDevices(kSettingsPath, "REFRESH"));
  EXPECT_EQ(5, machine.Calls("SetupDiGetClassDevsA"));
  EXPECT_EQ(0, machine.devices.reenumerations);

  // Nothing present: the tree is enumerated again, and a device may turn up.
  sim::Device& late = machine.devices.Add("PCI\\A\\1", {kAdapterId}, false);
  late.appearsOnReenumerate = true;
  Settings({"[REFRESH]", "DETECTCOUNT=1", std::string("DETECTDEV1=") + kAdapterId});
  EXPECT_EQ(1, RefreshDevices(kSettingsPath, "REFRESH"));
  EXPECT_EQ(1, machine.devices.reenumerations);
  EXPECT_TRUE(late.present);
}

TEST_F(DeviceLists, RefreshWithAnEmptyListReenumeratesAndReportsFailures) {
  EXPECT_EQ(1, RefreshDevices(kSettingsPath, "REFRESH"));  // no settings file at all
  Settings({"[REFRESH]", "DETECTCOUNT=0"});
  EXPECT_EQ(1, RefreshDevices(kSettingsPath, "REFRESH"));
  EXPECT_EQ(2, machine.devices.reenumerations);
  EXPECT_EQ(0, machine.Calls("SetupDiGetClassDevsA"));

  machine.Fail("CM_Reenumerate_DevNode", CR_FAILURE);
  EXPECT_EQ(0, RefreshDevices(kSettingsPath, "REFRESH"));
  machine.Fail("CM_Locate_DevNodeA", CR_NO_SUCH_DEVNODE);
  EXPECT_EQ(0, RefreshDevices(kSettingsPath, "REFRESH"));
  EXPECT_EQ(3, machine.Calls("CM_Reenumerate_DevNode"));  // not asked without a root
  EXPECT_EQ(2, machine.devices.reenumerations);

  // A failing search counts as "not present".
  machine.devices.Add("PCI\\A\\1", {kAdapterId}, true);
  Settings({"[REFRESH]", "DETECTCOUNT=1", std::string("DETECTDEV1=") + kAdapterId});
  machine.Mend("CM_Locate_DevNodeA");
  machine.Mend("CM_Reenumerate_DevNode");
  machine.Fail("SetupDiGetClassDevsA", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(1, RefreshDevices(kSettingsPath, "REFRESH"));
  EXPECT_EQ(3, machine.devices.reenumerations);
}

TEST_F(DeviceLists, DriverRegUsesTheSectionOfTheRunningOsOnly) {
  sim::Device& adapter = machine.devices.Add("PCI\\A\\1", {kAdapterId}, true);
  adapter.driver = std::string(kGuid) + "\\0007";
  const std::string driverKey = std::string("HKLM\\") + kNetClass + "\\0007";
  Settings({"[DRIVERREG]", "NIC=1", std::string("DEV1=") + kAdapterId,
            std::string("[DRIVERREG_") + kAdapterId + "_2000]", "ADDREG=1",
            "ADDREG1_ENTRYNAME=From2000", "ADDREG1_FLAGS=0", "ADDREG1_VALUE=1",
            std::string("[DRIVERREG_") + kAdapterId + "_XP]", "ADDREG=1",
            "ADDREG1_ENTRYNAME=FromXp", "ADDREG1_FLAGS=0", "ADDREG1_VALUE=1",
            std::string("[DRIVERREG_") + kAdapterId + "]", "ADDREG=1",
            "ADDREG1_ENTRYNAME=NoSuffix", "ADDREG1_FLAGS=0", "ADDREG1_VALUE=1"});
  ApplyDriverRegList(kSettingsPath, "_XP");
  EXPECT_EQ("1", machine.registry.String(driverKey, "FromXp"));
  EXPECT_FALSE(machine.registry.Value(driverKey, "From2000"));
  EXPECT_FALSE(machine.registry.Value(driverKey, "NoSuffix"));

  // No section for this OS: nothing falls back to another.
  ApplyDriverRegList(kSettingsPath, "_2003");
  EXPECT_EQ(1u, installed.size());
  EXPECT_FALSE(machine.registry.Value(driverKey, "From2000"));
}

TEST_F(DeviceLists, DriverRegPassesDefaultIdForAMissingEntry) {
  // The stand-in "device" carries the default ID, so the name that was passed shows.
  sim::Device& adapter = machine.devices.Add("PCI\\A\\1", {kAdapterId}, true);
  adapter.driver = std::string(kGuid) + "\\0001";
  sim::Device& placeholder = machine.devices.Add("ROOT\\X\\1", {"DEFAULT_ID"}, true);
  placeholder.driver = std::string(kGuid) + "\\0002";
  Settings({"[DRIVERREG]", "NIC=2", std::string("DEV1=") + kAdapterId,
            std::string("[DRIVERREG_") + kAdapterId + "_ELSE]", "ADDREG=1",
            "ADDREG1_ENTRYNAME=First", "ADDREG1_FLAGS=0", "ADDREG1_VALUE=a",
            "[DRIVERREG_DEFAULT_ID_ELSE]", "ADDREG=1", "ADDREG1_ENTRYNAME=Second",
            "ADDREG1_FLAGS=0", "ADDREG1_VALUE=b"});
  ApplyDriverRegList(kSettingsPath, "_ELSE");
  EXPECT_EQ("a", machine.registry.String(std::string("HKLM\\") + kNetClass + "\\0001", "First"));
  EXPECT_EQ("b", machine.registry.String(std::string("HKLM\\") + kNetClass + "\\0002", "Second"));
  EXPECT_EQ(2, machine.Calls("SetupDiGetClassDevsExA"));
}

TEST_F(DeviceLists, IdsThatFillTheirBufferOrOverflowTheSectionNameAreSkipped) {
  // DRIVERREG_ + ID + _ELSE is 1023 characters for an ID of 1008: that still fits.
  const std::string fits(1008, 'F');
  const std::string tooLongForSection(1009, 'S');
  const std::string cut(1100, 'C');
  machine.devices.Add("ROOT\\F\\1", {fits}, true).driver = std::string(kGuid) + "\\0001";
  machine.devices.Add("ROOT\\S\\1", {tooLongForSection}, true).driver = std::string(kGuid) + "\\0002";
  machine.devices.Add("ROOT\\C\\1", {cut.substr(0, 1023)}, false);
  Settings({"[DRIVERREG]", "NIC=2", "DEV1=" + tooLongForSection, "DEV2=" + fits,
            "[DRIVERREG_" + fits + "_ELSE]", "ADDREG=1", "ADDREG1_ENTRYNAME=Long",
            "ADDREG1_FLAGS=0", "ADDREG1_VALUE=1",
            "[CLEANUP]", "CLEANCOUNT=1", "DEV1=" + cut});
  ApplyDriverRegList(kSettingsPath, "_ELSE");
  EXPECT_EQ(1, machine.Calls("SetupDiGetClassDevsExA"));
  EXPECT_EQ("1", machine.registry.String(std::string("HKLM\\") + kNetClass + "\\0001", "Long"));
  // An ID cut by the profile reader is never searched for nor removed.
  EXPECT_EQ(1, CleanUpDevices(kSettingsPath, "CLEANUP"));
  EXPECT_EQ(0, machine.Calls("SetupDiGetClassDevsA"));
  EXPECT_TRUE(Removed().empty());
}

}  // namespace
