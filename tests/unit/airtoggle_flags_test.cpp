// The rewrite of each supported adapter's "ControlFlags".
#include "airtoggle_fixture.h"

namespace airtoggle_test {
namespace {

using Strings = std::vector<std::string>;

class InterfaceFlags : public AirtoggleTest {
 protected:
  CMainFrame frame;
};

TEST_F(InterfaceFlags, EverySupportedAdapterInSubkeyOrderOtherBitsKept) {
  AddAdapter("0003", "pci\\ven_1d4a&dev_3890&subsys_00011d4a", kGuidB, 0x0000F002u);
  AddAdapter("0001", "PCI\\VEN_1D4A&DEV_3890", kGuidA, 0x00818002u);
  AddAdapter("0002", "PCI\\VEN_8086&DEV_1229", kGuidC, 0x0000F002u);

  ApplyInterfaceFlags(frame, kVendorMode);
  EXPECT_EQ(0x00810002u, Flags(kGuidA));
  EXPECT_EQ(0x00000002u, Flags(kGuidB));
  EXPECT_EQ(0x0000F002u, Flags(kGuidC));  // another vendor's adapter
  EXPECT_EQ((Strings{"01 ControlFlags=0x00810002", "02 ControlFlags=0x00000002"}), Story());

  SetFlags(kGuidA, 0x00000002u);
  ApplyInterfaceFlags(frame, kZeroConfigMode);
  EXPECT_EQ(0x00008002u, Flags(kGuidA));
  EXPECT_EQ(0x00008002u, Flags(kGuidB));
  EXPECT_EQ(0x0000F002u, Flags(kGuidC));
  EXPECT_FALSE(Layout(kGuidA).has_value());  // never written when the flags could be read
}

TEST_F(InterfaceFlags, SettingAndClearingAreIdempotent) {
  AddAdapter("0000", "PCI\\VEN_1D4A", kGuidA, 0xFFFFFFFFu);
  ApplyInterfaceFlags(frame, kZeroConfigMode);
  EXPECT_EQ(0xFFFFFFFFu, Flags(kGuidA));
  ApplyInterfaceFlags(frame, kVendorMode);
  EXPECT_EQ(0xFFFF0FFFu, Flags(kGuidA));
  ApplyInterfaceFlags(frame, kVendorMode);
  EXPECT_EQ(0xFFFF0FFFu, Flags(kGuidA));
  ApplyInterfaceFlags(frame, kZeroConfigMode);
  EXPECT_EQ(0xFFFF8FFFu, Flags(kGuidA));
}

TEST_F(InterfaceFlags, MatchingIdCaseRules) {
  AddAdapter("0000", "pci\\ven_1d4a&dev_3890", kGuidA, 0x2u);  // all lower: matches
  AddAdapter("0001", "PCI\\ven_1d4a&DEV_3890", kGuidB, 0x2u);  // mixed: no match
  AddAdapter("0002", "Pci\\Ven_1d4a", kGuidC, 0x2u);           // mixed: no match
  AddAdapter("0003", "PCI\\VEN_1D4", "{00000000-0000-0000-0000-000000000004}", 0x2u);
  AddAdapter("0004", "PCI\\VEN_1D4B&DEV_0001", "{00000000-0000-0000-0000-000000000005}", 0x2u);
  ApplyInterfaceFlags(frame, kZeroConfigMode);
  EXPECT_EQ(0x8002u, Flags(kGuidA));
  EXPECT_EQ(0x2u, Flags(kGuidB));
  EXPECT_EQ(0x2u, Flags(kGuidC));
  EXPECT_EQ(0x2u, Flags("{00000000-0000-0000-0000-000000000004}"));
  EXPECT_EQ(0x2u, Flags("{00000000-0000-0000-0000-000000000005}"));
  EXPECT_EQ(1u, EventsStartingWith("RegSetValue").size());
}

TEST_F(InterfaceFlags, OtherModeChangesNothingButCreatesTheMissingRecord) {
  AddAdapter("0000", "PCI\\VEN_1D4A", kGuidA, 0x0000F002u);
  AddAdapter("0001", "PCI\\VEN_1D4A", kGuidB, std::nullopt);
  frame.m_nServicePackLevel = 3;
  frame.m_nZeroConfigWasRunning = 1;
  for (int mode : {kModeUnknown, 2, 0x7FFFFFFF}) ApplyInterfaceFlags(frame, mode);
  EXPECT_TRUE(EventsStartingWith("RegSetValue").empty());
  EXPECT_EQ(0x0000F002u, Flags(kGuidA));
  EXPECT_TRUE(machine.registry.HasKey(Interface(kGuidB)));
  EXPECT_EQ(1u, EventsStartingWith("RegCreateKey").size());
}

TEST_F(InterfaceFlags, NoSupportedAdapterMeansNothingButReads) {
  AddAdapter("0000", "PCI\\VEN_8086&DEV_1229", kGuidA, 0x2u);
  machine.registry.SetString(std::string(kClassKey) + "\\0001", "DriverDesc", "no ids at all");
  ApplyInterfaceFlags(frame, kZeroConfigMode);
  ApplyInterfaceFlags(frame, kVendorMode);
  EXPECT_TRUE(Story().empty());
  // No class key at all: still nothing.
  machine.registry.Remove(kClassKey);
  ApplyInterfaceFlags(frame, kZeroConfigMode);
  EXPECT_TRUE(Story().empty());
}

// A record without readable flags gets the complete values for the service-pack level,
// the mode and the state the service was found in: the layout version, then the flags.
TEST_F(InterfaceFlags, MissingFlagsGetTheCompleteRecordForTheLevel) {
  struct Case {
    int level;
    int mode;
    int wasRunning;
    std::uint32_t flags;
    std::uint32_t layout;
  };
  const Case cases[] = {
      {0, 0, 1, 0x00810002u, 3}, {0, 1, 1, 0x00918002u, 3}, {0, 1, 0, 0x00818002u, 3},
      {1, 0, 0, 0x00810002u, 4}, {1, 1, 1, 0x00918002u, 4}, {1, 1, 0, 0x00818002u, 4},
      {2, 0, 1, 0x07810002u, 6}, {2, 1, 1, 0x07918002u, 6}, {2, 1, 0, 0x03818002u, 6},
      {3, 0, 0, 0x07810002u, 7}, {3, 1, 1, 0x07918002u, 7}, {3, 1, 0, 0x03818002u, 7},
  };
  AddAdapter("0000", "PCI\\VEN_1D4A", kGuidA, std::nullopt);
  for (const Case& c : cases) {
    SCOPED_TRACE("level " + std::to_string(c.level) + " mode " + std::to_string(c.mode) +
                 " was running " + std::to_string(c.wasRunning));
    machine.registry.Remove(Interface(kGuidA));
    std::size_t before = machine.EventRecords().size();
    frame.m_nServicePackLevel = c.level;
    frame.m_nZeroConfigWasRunning = c.wasRunning;
    ApplyInterfaceFlags(frame, c.mode);
    EXPECT_EQ(c.flags, Flags(kGuidA));
    EXPECT_EQ(c.layout, Layout(kGuidA));
    // The key is created first, the layout version written before the flags: a record
    // with flags is always complete.
    std::vector<sim::Event> tail(machine.EventRecords().begin() + static_cast<long>(before),
                                 machine.EventRecords().end());
    std::vector<std::string> writes;
    for (const sim::Event& e : tail) {
      if (e.kind == "RegSetValue" || e.kind == "RegCreateKey") writes.push_back(Short(e));
    }
    ASSERT_EQ(3u, writes.size());
    EXPECT_EQ(0u, writes[0].rfind("RegCreateKey", 0));
    EXPECT_EQ(0u, writes[1].find("01 LayoutVersion="));
    EXPECT_EQ(0u, writes[2].find("01 ControlFlags="));
  }
}

// A run cut between the two writes (its second write fails here) leaves the layout
// version alone, and the next run completes the record.
TEST_F(InterfaceFlags, RecordCutAfterItsFirstWriteIsCompletedByTheNextRun) {
  AddAdapter("0000", "PCI\\VEN_1D4A", kGuidA, std::nullopt);
  frame.m_nServicePackLevel = 3;
  frame.m_nZeroConfigWasRunning = 1;
  machine.Fail("RegSetValueExA", ERROR_ACCESS_DENIED, 2);
  ApplyInterfaceFlags(frame, kZeroConfigMode);
  EXPECT_EQ(7u, Layout(kGuidA));
  EXPECT_FALSE(Flags(kGuidA).has_value());
  ApplyInterfaceFlags(frame, kZeroConfigMode);
  EXPECT_EQ(0x07918002u, Flags(kGuidA));
  EXPECT_EQ(7u, Layout(kGuidA));
}

TEST_F(InterfaceFlags, MissingFlagsWithoutKnownLevelOrStateAreLeftAlone) {
  AddAdapter("0000", "PCI\\VEN_1D4A", kGuidA, std::nullopt);
  frame.m_nZeroConfigWasRunning = 1;
  ApplyInterfaceFlags(frame, kZeroConfigMode);  // level unknown (e.g. service pack 3)
  frame.m_nServicePackLevel = 2;
  frame.m_nZeroConfigWasRunning = kStateUnknown;
  ApplyInterfaceFlags(frame, kZeroConfigMode);
  ApplyInterfaceFlags(frame, kVendorMode);
  EXPECT_TRUE(machine.registry.HasKey(Interface(kGuidA)));
  EXPECT_FALSE(Flags(kGuidA).has_value());
  EXPECT_FALSE(Layout(kGuidA).has_value());
  EXPECT_TRUE(EventsStartingWith("RegSetValue").empty());
}

TEST_F(InterfaceFlags, UnreadableFlagsAreReplacedNotComputedFromGarbage) {
  AddAdapter("0000", "PCI\\VEN_1D4A", kGuidA, std::nullopt);
  AddAdapter("0001", "PCI\\VEN_1D4A", kGuidB, std::nullopt);
  // Eight bytes do not fit the four-byte read; two bytes are no whole value.
  machine.registry.SetRaw(Interface(kGuidA), "ControlFlags", REG_BINARY, {1, 2, 3, 4, 5, 6, 7, 8});
  machine.registry.SetRaw(Interface(kGuidB), "ControlFlags", REG_BINARY, {0x02, 0xF0});
  frame.m_nServicePackLevel = 1;
  frame.m_nZeroConfigWasRunning = 0;
  ApplyInterfaceFlags(frame, kVendorMode);
  EXPECT_EQ(0x00810002u, Flags(kGuidA));
  EXPECT_EQ(0x00810002u, Flags(kGuidB));
  EXPECT_EQ(4u, Layout(kGuidB));
}

TEST_F(InterfaceFlags, AdaptersWithUnusableValuesAreSkipped) {
  // Identifier too long for its 50-byte buffer, missing, or a matching ID that does not
  // fit (and so is not read at all).
  AddAdapter("0000", "PCI\\VEN_1D4A", "{" + std::string(60, '1') + "}", std::nullopt);
  AddAdapter("0001", "PCI\\VEN_1D4A", kGuidB, 0x2u);
  machine.registry.DeleteValue(std::string(kClassKey) + "\\0001", "NetCfgInstanceId");
  AddAdapter("0002", "PCI\\VEN_1D4A&DEV_3890&SUBSYS_00011D4A&REV_01\\" + std::string(20, 'X'), kGuidC, 0x2u);
  // A 49-character identifier still fits with its terminator.
  std::string longest = "{" + std::string(47, '7') + "}";
  AddAdapter("0003", "PCI\\VEN_1D4A", longest, std::nullopt);
  frame.m_nServicePackLevel = 0;
  frame.m_nZeroConfigWasRunning = 1;
  ApplyInterfaceFlags(frame, kZeroConfigMode);
  EXPECT_EQ(0x2u, Flags(kGuidB));
  EXPECT_EQ(0x2u, Flags(kGuidC));
  EXPECT_FALSE(machine.registry.HasKey(Interface("{" + std::string(60, '1') + "}")));
  ASSERT_EQ(2u, EventsStartingWith("RegSetValue").size());
  EXPECT_EQ(0x00918002u, Flags(longest));
}

TEST_F(InterfaceFlags, IdentifierNamingNoRecordOfItsOwnIsSkipped) {
  // Empty, or with a backslash: the path would land on the Interfaces key itself or on a
  // key below another adapter's record.
  AddAdapter("0000", "PCI\\VEN_1D4A", "", std::nullopt);
  AddAdapter("0001", "PCI\\VEN_1D4A", std::string(kGuidA) + "\\Sub", std::nullopt);
  AddAdapter("0002", "PCI\\VEN_1D4A", kGuidB, 0x2u);
  SetFlags(kGuidA, 0x2u);
  frame.m_nServicePackLevel = 0;
  frame.m_nZeroConfigWasRunning = 1;
  ApplyInterfaceFlags(frame, kZeroConfigMode);
  EXPECT_FALSE(machine.registry.Value(kInterfaces, "ControlFlags"));
  EXPECT_FALSE(machine.registry.Value(kInterfaces, "LayoutVersion"));
  EXPECT_FALSE(machine.registry.HasKey(Interface(kGuidA) + "\\Sub"));
  EXPECT_EQ(0x2u, Flags(kGuidA));
  EXPECT_EQ(0x8002u, Flags(kGuidB));
  EXPECT_EQ(1u, EventsStartingWith("RegSetValue").size());
}

TEST_F(InterfaceFlags, LockedKeysAreSkippedAndTheWalkGoesOn) {
  AddAdapter("0000", "PCI\\VEN_1D4A", kGuidA, 0x2u);
  AddAdapter("0001", "PCI\\VEN_1D4A", kGuidB, 0x2u);
  AddAdapter("0002", "PCI\\VEN_1D4A", kGuidC, 0x2u);
  machine.registry.Find(std::string(kClassKey) + "\\0000")->refuseWrite = true;
  machine.registry.Find(Interface(kGuidB))->refuseWrite = true;  // interface record locked
  ApplyInterfaceFlags(frame, kZeroConfigMode);
  EXPECT_EQ(0x2u, Flags(kGuidA));
  EXPECT_EQ(0x2u, Flags(kGuidB));
  EXPECT_EQ(0x8002u, Flags(kGuidC));
}

TEST_F(InterfaceFlags, FailedWritesAndEnumerationEndQuietly) {
  AddAdapter("0000", "PCI\\VEN_1D4A", kGuidA, 0x2u);
  AddAdapter("0001", "PCI\\VEN_1D4A", kGuidB, 0x2u);
  machine.Fail("RegSetValueExA", ERROR_ACCESS_DENIED, 1);
  ApplyInterfaceFlags(frame, kZeroConfigMode);
  EXPECT_EQ(0x2u, Flags(kGuidA));
  EXPECT_EQ(0x8002u, Flags(kGuidB));
  EXPECT_EQ(3, machine.Calls("RegEnumKeyA"));

  // An enumeration that fails part way stops the walk there.
  machine.Fail("RegEnumKeyA", ERROR_MORE_DATA, 5);
  ApplyInterfaceFlags(frame, kVendorMode);
  EXPECT_EQ(0x2u, Flags(kGuidA));
  EXPECT_EQ(0x8002u, Flags(kGuidB));
}

}  // namespace
}  // namespace airtoggle_test
