// Start-up, the mode decision, the command line and the five sequences run end to end.
#include "airtoggle_fixture.h"

namespace airtoggle_test {
namespace {

using Strings = std::vector<std::string>;

TEST(AirtoggleLevels, ServicePackTextGivesTheLevel) {
  EXPECT_EQ(0, ServicePackLevel(""));
  EXPECT_EQ(1, ServicePackLevel("Service Pack 1"));
  EXPECT_EQ(1, ServicePackLevel("Service Pack 1a"));
  EXPECT_EQ(1, ServicePackLevel("Service Pack 1, v.1106"));
  EXPECT_EQ(2, ServicePackLevel("Service Pack 2, v.2149"));
  EXPECT_EQ(3, ServicePackLevel("Service Pack 2"));
  EXPECT_EQ(3, ServicePackLevel("Service Pack 2, v.2096"));
  EXPECT_EQ(3, ServicePackLevel("Service Pack 2, v.21490"));
  EXPECT_EQ(kLevelUnknown, ServicePackLevel("Service Pack 3"));
  EXPECT_EQ(kLevelUnknown, ServicePackLevel("Service Pack 4"));
  EXPECT_EQ(kLevelUnknown, ServicePackLevel("service pack 1"));
  EXPECT_EQ(kLevelUnknown, ServicePackLevel("Service Pack "));
  EXPECT_EQ(kLevelUnknown, ServicePackLevel(" A "));
}

TEST(AirtoggleCommandLine, WholeLineMustMatchIgnoringLetterCaseOnly) {
  const char* dir = "C:\\WINDOWS\\system32";
  EXPECT_EQ(SwitchCommand::kInstaller, MatchCommandLine("C:\\WINDOWS\\system32\\Svcpilot.exe -installer", dir));
  EXPECT_EQ(SwitchCommand::kAirtoggle, MatchCommandLine("C:\\WINDOWS\\system32\\Svcpilot.exe -Airtoggle", dir));
  EXPECT_EQ(SwitchCommand::kEnableLinkdesk,
            MatchCommandLine("C:\\WINDOWS\\system32\\Svcpilot.exe -EnableLinkdesk", dir));
  EXPECT_EQ(SwitchCommand::kLinkdesk, MatchCommandLine("C:\\WINDOWS\\system32\\Svcpilot.exe -Linkdesk", dir));
  EXPECT_EQ(SwitchCommand::kWzc, MatchCommandLine("C:\\WINDOWS\\system32\\Svcpilot.exe -WZC", dir));
  EXPECT_EQ(SwitchCommand::kInstaller, MatchCommandLine("C:\\WINDOWS\\SYSTEM32\\SVCPILOT.EXE -INSTALLER", dir));
  EXPECT_EQ(SwitchCommand::kWzc, MatchCommandLine("c:\\windows\\system32\\svcpilot.exe -wzc", dir));

  for (const char* other : {
           "\"C:\\WINDOWS\\system32\\Svcpilot.exe\" -installer",
           "C:\\WINDOWS\\system32\\Svcpilot.exe -installer ",
           "C:\\WINDOWS\\system32\\Svcpilot.exe  -installer",
           "C:\\WINDOWS\\system32\\Svcpilot.exe -installer -WZC",
           "C:\\WINDOWS\\system32\\Svcpilot.exe -install",
           "C:\\WINDOWS\\system32\\Svcpilot.exe",
           "C:\\WINDOWS\\system32\\Svcpilot.exe /installer",
           "C:\\WINDOWS\\system32\\Airtoggle.exe -installer",
           "C:\\WINDOWS\\system32\\Svcpilot -installer",
           "C:\\WINDOWS\\system\\Svcpilot.exe -installer",
           "C:/WINDOWS/system32/Svcpilot.exe -installer",
           "Svcpilot.exe -installer",
           "",
       }) {
    EXPECT_EQ(SwitchCommand::kNone, MatchCommandLine(other, dir)) << other;
  }
  // Only A-Z and a-z are paired: other characters must be equal.
  EXPECT_EQ(SwitchCommand::kNone, MatchCommandLine("C:\\WINDOWS\\system32\\Svcpilot.exe -installer", "C:\\WINDOWS\\system\xb3\x32"));
  EXPECT_EQ(SwitchCommand::kNone, MatchCommandLine("C:\\WINDOWS\\system32\\Svcpilot.exe -installer", ""));
}

class AirtoggleProgram : public AirtoggleTest {
 protected:
  AirtoggleProgram() {
    SetRecordedMode(0);
    AddAdapter("0000", "PCI\\VEN_1D4A&DEV_3890&SUBSYS_00011D4A", kGuidA, 0x0000F002u);
    AddAdapter("0001", "pci\\ven_1d4a&dev_3890", kGuidB, 0x00810002u);
    AddAdapter("0002", "PCI\\VEN_10EC&DEV_8139", kGuidC, 0x0000F002u);
  }
};

TEST_F(AirtoggleProgram, InstallerTwiceFlipsModeAndFlagsWithTheServiceRunning) {
  sim::Service& wzc = ZeroConfig(SERVICE_RUNNING);
  EXPECT_EQ(0, Run(Line("-installer")));
  EXPECT_EQ(1u, RecordedMode());
  EXPECT_EQ(0x0000F002u, Flags(kGuidA));
  EXPECT_EQ(0x00818002u, Flags(kGuidB));
  EXPECT_EQ((Strings{"ControlService WZCSVC stop", "Service WZCSVC stopped", "01 ControlFlags=0x0000F002",
                     "02 ControlFlags=0x00818002", "StartService WZCSVC", "Service WZCSVC running",
                     "UseZeroConfig=1"}),
            Story());

  EXPECT_EQ(0, Run(Line("-installer")));
  EXPECT_EQ(0u, RecordedMode());
  EXPECT_EQ(0x00000002u, Flags(kGuidA));
  EXPECT_EQ(0x00810002u, Flags(kGuidB));
  EXPECT_EQ(0x0000F002u, Flags(kGuidC));
  EXPECT_EQ(DWORD{SERVICE_RUNNING}, wzc.state);
  EXPECT_EQ(2, wzc.starts);
}

// Under WOW64 the recorded mode is the 32-bit vendor utility's, in this program's own
// view, and the interface records are the 64-bit service's, found and created there.
TEST_F(AirtoggleProgram, UnderWow64TheModeIsInOurViewAndTheRecordsInTheServices) {
  const std::string settings32 = "HKLM\\SOFTWARE\\Wow6432Node\\Korvell\\Linkdesk\\Settings";
  const char guidD[] = "{11111111-2222-3333-4444-555555555504}";
  machine.kernel.wow64 = true;
  SetRecordedMode(7);  // the 64-bit view's, which is not this program's: never read
  machine.registry.SetDword(settings32, "UseZeroConfig", 1);
  AddAdapter("0003", "PCI\\VEN_1D4A&DEV_3890", guidD, std::nullopt);
  ZeroConfig(SERVICE_RUNNING);
  EXPECT_EQ(0, Run(Line("-installer")));
  EXPECT_EQ(0u, machine.registry.Dword(settings32, "UseZeroConfig"));
  EXPECT_EQ(7u, RecordedMode());
  EXPECT_EQ(0x00000002u, Flags(kGuidA));
  EXPECT_EQ(0x00810002u, Flags(kGuidB));
  EXPECT_EQ(0x07810002u, Flags(guidD));  // the complete record, created in the 64-bit view
  EXPECT_FALSE(machine.registry.HasKey("HKLM\\SOFTWARE\\Wow6432Node\\Microsoft"));
}

TEST_F(AirtoggleProgram, InstallerTwiceWithTheServiceStopped) {
  sim::Service& wzc = ZeroConfig(SERVICE_STOPPED);
  Run(Line("-installer"));
  EXPECT_EQ(1u, RecordedMode());
  EXPECT_EQ(0x0000F002u, Flags(kGuidA));
  EXPECT_EQ(0x00818002u, Flags(kGuidB));
  Run(Line("-installer"));
  EXPECT_EQ(0u, RecordedMode());
  EXPECT_EQ(0x00000002u, Flags(kGuidA));
  EXPECT_EQ(0x00810002u, Flags(kGuidB));
  EXPECT_EQ(DWORD{SERVICE_STOPPED}, wzc.state);
  EXPECT_EQ(4, wzc.starts);
  EXPECT_EQ(4, wzc.stops);
}

TEST_F(AirtoggleProgram, HiddenFrameOneTimerAfterASecondThenClosed) {
  sim::Service& wzc = ZeroConfig(SERVICE_RUNNING);
  DWORD startedAt = 0;
  bool frameFound = false;
  wzc.onRunning = [&] {
    startedAt = machine.now;
    frameFound = FindWindowA(nullptr, "Airtoggle") != nullptr;
  };
  machine.desktop.foreignWindows = {"Airtoggle Setup", "airtoggle "};
  EXPECT_EQ(0, Run(Line("-installer")));
  EXPECT_TRUE(frameFound);
  EXPECT_GE(startedAt, 1000u);
  EXPECT_EQ(1u, EventsStartingWith("CreateWindow AirtoggleFrame \"Airtoggle\"").size());
  EXPECT_EQ((Strings{"SetTimer 199 1000"}), EventsStartingWith("SetTimer"));
  EXPECT_EQ((Strings{"WM_TIMER 199"}), EventsStartingWith("WM_TIMER"));
  EXPECT_EQ((Strings{"KillTimer 199"}), EventsStartingWith("KillTimer"));
  EXPECT_TRUE(EventsStartingWith("ShowWindow").empty());
  EXPECT_EQ((Strings{"PostQuitMessage 0"}), EventsStartingWith("PostQuitMessage"));
  EXPECT_EQ(1, machine.Calls("GetVersionExA"));
}

TEST_F(AirtoggleProgram, SecondInstanceEndsAtOnceChangingNothing) {
  ZeroConfig(SERVICE_RUNNING);
  Vendor(SERVICE_RUNNING);
  machine.desktop.foreignWindows = {"Airtoggle"};
  for (const char* option : {"-installer", "-Airtoggle", "-WZC"}) EXPECT_EQ(0, Run(Line(option)));
  EXPECT_TRUE(Story().empty());
  EXPECT_TRUE(EventsStartingWith("CreateWindow").empty());
  EXPECT_EQ(0, machine.Calls("RegOpenKeyExA"));
  EXPECT_EQ(0, machine.Calls("OpenSCManagerA"));
}

TEST_F(AirtoggleProgram, CapitalsWorkOtherLinesDoNothing) {
  ZeroConfig(SERVICE_RUNNING);
  Vendor(SERVICE_RUNNING);
  for (const std::string& line : {"\"" + std::string(kSystemDirectory) + "\\Svcpilot.exe\" -installer",
                                  Line("-installer "), Line("-installer -WZC"),
                                  std::string(kSystemDirectory) + "\\Pakrun.exe -installer", std::string()}) {
    EXPECT_EQ(0, Run(line));
  }
  EXPECT_TRUE(Story().empty());
  EXPECT_EQ(5u, EventsStartingWith("WM_TIMER").size());

  Run("C:\\WINDOWS\\SYSTEM32\\SVCPILOT.EXE -INSTALLER");
  EXPECT_EQ(1u, RecordedMode());
}

TEST_F(AirtoggleProgram, AirtoggleToZeroConfig) {
  ZeroConfig(SERVICE_RUNNING);
  Vendor(SERVICE_RUNNING);
  machine.radio.adapters.push_back(sim::RadioAdapterState{"radio0", 101, false, false, false, false});
  Run(Line("-Airtoggle"));
  EXPECT_EQ((Strings{"01 ControlFlags=0x0000F002", "02 ControlFlags=0x00818002", "UseZeroConfig=1",
                     "ControlService KVX stop", "Service KVX stopped", "StartService KVX", "Service KVX running",
                     "Sleep 4000", "SetControlOption radio0 1", "ControlService WZCSVC stop",
                     "Service WZCSVC stopped", "01 ControlFlags=0x0000F002", "02 ControlFlags=0x00818002",
                     "StartService WZCSVC", "Service WZCSVC running", "UseZeroConfig=1"}),
            Story());
}

TEST_F(AirtoggleProgram, AirtoggleToTheVendorRecordsOneThenZero) {
  SetRecordedMode(1);
  ZeroConfig(SERVICE_STOPPED);
  Vendor(SERVICE_STOPPED);
  machine.radio.adapters.push_back(sim::RadioAdapterState{"radio0", 101, false, false, false, false});
  Run(Line("-Airtoggle"));
  EXPECT_EQ((Strings{"01 ControlFlags=0x00000002", "02 ControlFlags=0x00810002", "UseZeroConfig=1",
                     "Sleep 4000", "SetControlOption radio0 1", "01 ControlFlags=0x00000002",
                     "02 ControlFlags=0x00810002", "StartService WZCSVC", "Service WZCSVC running",
                     "ControlService WZCSVC stop", "Service WZCSVC stopped", "01 ControlFlags=0x00000002",
                     "02 ControlFlags=0x00810002", "StartService WZCSVC", "Service WZCSVC running",
                     "ControlService WZCSVC stop", "Service WZCSVC stopped", "UseZeroConfig=0"}),
            Story());
  EXPECT_EQ(0u, RecordedMode());
}

TEST_F(AirtoggleProgram, EnableLinkdeskHasNoWaitAndNoLibraryCall) {
  ZeroConfig(SERVICE_RUNNING);
  Vendor(SERVICE_RUNNING);
  SetRecordedMode(1);
  Run(Line("-EnableLinkdesk"));
  EXPECT_EQ((Strings{"01 ControlFlags=0x00000002", "02 ControlFlags=0x00810002", "UseZeroConfig=0",
                     "ControlService KVX stop", "Service KVX stopped", "StartService KVX", "Service KVX running",
                     "ControlService WZCSVC stop", "Service WZCSVC stopped", "01 ControlFlags=0x00000002",
                     "02 ControlFlags=0x00810002", "StartService WZCSVC", "Service WZCSVC running",
                     "UseZeroConfig=0"}),
            Story());
  EXPECT_EQ(0, machine.Calls("RadioLoadAPI"));
}

TEST_F(AirtoggleProgram, LinkdeskOnlyRestartsTheVendorService) {
  sim::Service& wzc = ZeroConfig(SERVICE_RUNNING);
  Vendor(SERVICE_RUNNING);
  Run(Line("-Linkdesk"));
  EXPECT_EQ((Strings{"ControlService KVX stop", "Service KVX stopped", "StartService KVX", "Service KVX running"}),
            Story());
  EXPECT_TRUE(wzc.openedWith.empty());
}

TEST_F(AirtoggleProgram, WzcRecordsOneTwiceWhateverTheTarget) {
  SetRecordedMode(1);  // target: the vendor utility
  ZeroConfig(SERVICE_RUNNING);
  Vendor(SERVICE_STOPPED);
  machine.radio.adapters.push_back(sim::RadioAdapterState{"radio0", 101, false, false, false, false});
  Run(Line("-WZC"));
  // The flags are those of the zero-configuration service, as the mode it records.
  EXPECT_EQ((Strings{"UseZeroConfig=1", "Sleep 4000", "SetControlOption radio0 1", "ControlService WZCSVC stop",
                     "Service WZCSVC stopped", "01 ControlFlags=0x0000F002", "02 ControlFlags=0x00818002",
                     "StartService WZCSVC", "Service WZCSVC running", "UseZeroConfig=1"}),
            Story());

  // Without a service control manager the second write is not made.
  machine.services.available = false;
  SetRecordedMode(0);
  std::size_t before = Story().size();
  Run(Line("-WZC"));
  Strings story = Story();
  EXPECT_EQ((Strings{"UseZeroConfig=1", "Sleep 4000", "SetControlOption radio0 1"}),
            Strings(story.begin() + static_cast<long>(before), story.end()));
}

TEST_F(AirtoggleProgram, UnknownRecordedModeIsNeverWrittenAndChangesNoFlags) {
  ZeroConfig(SERVICE_RUNNING);
  Vendor(SERVICE_STOPPED);
  for (int variant = 0; variant < 3; ++variant) {
    SCOPED_TRACE(variant);
    if (variant == 0) SetRecordedMode(2);
    if (variant == 1) machine.registry.SetRaw(kSettings, "UseZeroConfig", REG_BINARY, {0, 0, 0, 0, 0, 0, 0, 0});
    if (variant == 2) machine.registry.DeleteValue(kSettings, "UseZeroConfig");
    std::optional<sim::RegValue> recorded = machine.registry.Value(kSettings, "UseZeroConfig");
    Run(Line("-installer"));
    EXPECT_TRUE(ValueWrites().empty());
    EXPECT_EQ(recorded.has_value(), machine.registry.Value(kSettings, "UseZeroConfig").has_value());
    EXPECT_EQ(0x0000F002u, Flags(kGuidA));
  }
  // The explicit write of -Airtoggle stays; the unknown target is not written after it.
  Run(Line("-Airtoggle"));
  EXPECT_EQ((Strings{"UseZeroConfig=1"}), [&] {
    Strings writes;
    for (const sim::Event& e : machine.EventRecords()) {
      if (e.kind == "RegSetValue" && !OfRecord(e)) writes.push_back(Short(e));
    }
    return writes;
  }());
}

TEST_F(AirtoggleProgram, SettingsKeyMissingIsNeverCreated) {
  machine.registry.Remove(kSettings);
  ZeroConfig(SERVICE_RUNNING);
  Run(Line("-WZC"));
  Run(Line("-EnableLinkdesk"));
  EXPECT_FALSE(machine.registry.HasKey(kSettings));
}

TEST_F(AirtoggleProgram, FrameThatCannotBeCreatedEndsTheProgramAtOnce) {
  ZeroConfig(SERVICE_RUNNING);
  // The client view (second window) and then the toolbar (third) fail in turn.
  machine.Fail("CreateWindowExA", ERROR_NOT_ENOUGH_MEMORY, 2);
  EXPECT_EQ(0, Run(Line("-installer")));
  machine.Fail("CreateWindowExA", ERROR_NOT_ENOUGH_MEMORY, 5);
  EXPECT_EQ(0, Run(Line("-installer")));
  EXPECT_EQ(3u, EventsStartingWith("CreateWindow").size());  // frame; frame and view
  EXPECT_EQ(EventsStartingWith("CreateWindow").size(), EventsStartingWith("DestroyWindow").size());
  EXPECT_TRUE(Story().empty());
  EXPECT_TRUE(EventsStartingWith("SetTimer").empty());
  EXPECT_EQ(0u, RecordedMode());
}

TEST_F(AirtoggleProgram, TimerThatCannotBeSetEndsTheProgramInsteadOfWaitingForEver) {
  ZeroConfig(SERVICE_RUNNING);
  machine.Fail("SetTimer", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(0, Run(Line("-installer")));
  EXPECT_TRUE(Story().empty());
  EXPECT_EQ(EventsStartingWith("CreateWindow").size(), EventsStartingWith("DestroyWindow").size());
  EXPECT_EQ(0u, RecordedMode());
}

TEST_F(AirtoggleProgram, StartUpFailuresLeaveMembersUnsetAndHarmless) {
  ZeroConfig(SERVICE_RUNNING);
  machine.registry.DeleteValue(Interface(kGuidA), "ControlFlags");
  // The service-pack text cannot be had; the settings read fails.
  machine.Fail("GetVersionExA", ERROR_INVALID_PARAMETER);
  machine.Fail("RegQueryValueExA", ERROR_ACCESS_DENIED, 1);
  Run(Line("-installer"));
  EXPECT_TRUE(ValueWrites().empty());
  EXPECT_FALSE(Flags(kGuidA).has_value());
  EXPECT_EQ(0u, RecordedMode());
}

TEST_F(AirtoggleProgram, SystemDirectoryNotKnownMatchesNothing) {
  ZeroConfig(SERVICE_RUNNING);
  machine.Fail("GetSystemDirectoryA", ERROR_INVALID_PARAMETER);
  Run(Line("-installer"));
  machine.Mend("GetSystemDirectoryA");
  machine.kernel.systemDirectory = "C:\\" + std::string(250, 'd');  // does not fit 200 bytes
  Run(machine.kernel.systemDirectory + "\\Svcpilot.exe -installer");
  EXPECT_TRUE(Story().empty());
}

TEST_F(AirtoggleProgram, ServicePackLevelDecidesTheCompleteRecord) {
  ZeroConfig(SERVICE_RUNNING);
  machine.registry.DeleteValue(Interface(kGuidA), "ControlFlags");
  machine.kernel.version.csd = "Service Pack 2, v.2149";
  Run(Line("-installer"));
  EXPECT_EQ(0x07918002u, Flags(kGuidA));
  EXPECT_EQ(6u, Layout(kGuidA));
  machine.registry.DeleteValue(Interface(kGuidA), "ControlFlags");
  machine.kernel.version.csd = "";
  Run(Line("-installer"));
  EXPECT_EQ(0x00810002u, Flags(kGuidA));
  EXPECT_EQ(3u, Layout(kGuidA));
}

// Each option's switch is recorded from before its first change to its end, with each
// service it changes noted, in the state found, before that service is touched.
TEST_F(AirtoggleProgram, SwitchIsRecordedFromBeforeItsFirstChangeToItsEnd) {
  struct Case {
    const char* option;
    DWORD zeroConfig;
    DWORD vendor;
    Strings notes;  // the record's values, in the order written
  };
  const Case cases[] = {
      {"-installer", SERVICE_RUNNING, SERVICE_RUNNING, {"record WZCSVC=4"}},
      {"-installer", SERVICE_STOPPED, SERVICE_RUNNING, {"record WZCSVC=1"}},
      {"-Airtoggle", SERVICE_RUNNING, SERVICE_RUNNING, {"record KVX=4", "record WZCSVC=4"}},
      {"-EnableLinkdesk", SERVICE_STOPPED, SERVICE_STOPPED, {"record WZCSVC=1"}},
      {"-WZC", SERVICE_RUNNING, SERVICE_RUNNING, {"record KVX=4", "record WZCSVC=4"}},
      {"-Linkdesk", SERVICE_RUNNING, SERVICE_RUNNING, {"record KVX=4"}},
      {"-Linkdesk", SERVICE_RUNNING, SERVICE_STOPPED, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.option) + " " + std::to_string(c.zeroConfig) + std::to_string(c.vendor));
    machine.services = sim::ServiceManager();
    ZeroConfig(c.zeroConfig);
    Vendor(c.vendor);
    std::size_t before = StoryWithRecord().size();
    Run(Line(c.option));
    Strings all = StoryWithRecord();
    Strings story(all.begin() + static_cast<long>(before), all.end());
    ASSERT_GE(story.size(), 2u);
    EXPECT_EQ("record begun", story.front());
    EXPECT_EQ("record removed", story.back());
    Strings notes;
    for (std::size_t i = 0; i < story.size(); ++i) {
      if (story[i].rfind("record ", 0) != 0 || i == 0 || i + 1 == story.size()) continue;
      notes.push_back(story[i]);
      // Noted before the first request to that service.
      std::string service = story[i].substr(7, story[i].find('=') - 7);
      for (std::size_t j = 0; j < i; ++j) EXPECT_EQ(std::string::npos, story[j].find(" " + service)) << story[j];
    }
    EXPECT_EQ(c.notes, notes);
    EXPECT_FALSE(machine.registry.HasKey(kRecord));
  }
  // The record's parent is an ordinary key, the record itself volatile while it exists.
  ASSERT_TRUE(machine.registry.HasKey(kRecordParent));
  EXPECT_FALSE(machine.registry.Find(kRecordParent)->isVolatile);
}

// A run that finds a record of an ended run first puts each service named there back
// into the state recorded for it, whatever the ended run left it in, then removes the
// record, and only then begins its own switch.
TEST_F(AirtoggleProgram, RecordOfAnEndedRunPutsEachServiceBackFirst) {
  struct Case {
    const char* service;
    DWORD recorded;
    DWORD found;
    Strings putBack;  // what the run does before its own record
  };
  const Case cases[] = {
      {"WZCSVC", SERVICE_RUNNING, SERVICE_STOPPED, {"StartService WZCSVC", "Service WZCSVC running"}},
      {"WZCSVC", SERVICE_RUNNING, SERVICE_STOP_PENDING,
       {"Service WZCSVC stopped", "StartService WZCSVC", "Service WZCSVC running"}},
      {"WZCSVC", SERVICE_STOPPED, SERVICE_RUNNING, {"ControlService WZCSVC stop", "Service WZCSVC stopped"}},
      {"WZCSVC", SERVICE_STOPPED, SERVICE_START_PENDING,
       {"Service WZCSVC running", "ControlService WZCSVC stop", "Service WZCSVC stopped"}},
      {"WZCSVC", SERVICE_RUNNING, SERVICE_RUNNING, {}},
      {"KVX", SERVICE_RUNNING, SERVICE_STOPPED, {"StartService KVX", "Service KVX running"}},
      {"KVX", SERVICE_RUNNING, SERVICE_STOP_PENDING, {"Service KVX stopped", "StartService KVX", "Service KVX running"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.service) + " recorded " + std::to_string(c.recorded) + " found " +
                 std::to_string(c.found));
    machine.services = sim::ServiceManager();
    sim::Service& wzc = ZeroConfig(SERVICE_STOPPED);
    sim::Service& kvx = Vendor(SERVICE_STOPPED);
    sim::Service& ended = std::string(c.service) == "KVX" ? kvx : wzc;
    ended.state = c.found;
    ended.pendingLeft = 1;  // the ended run's request, still under way
    machine.registry.Create(kRecord, true);
    machine.registry.SetDword(kRecord, c.service, c.recorded);
    std::size_t before = StoryWithRecord().size();
    Run(Line("-Linkdesk"));
    Strings all = StoryWithRecord();
    Strings story(all.begin() + static_cast<long>(before), all.end());
    Strings expected = c.putBack;
    expected.push_back("record removed");
    expected.push_back("record begun");
    auto begun = std::find(story.begin(), story.end(), "record begun");
    ASSERT_NE(story.end(), begun);
    EXPECT_EQ(expected, Strings(story.begin(), begun + 1));
    // The run's own switch (-Linkdesk restarts the vendor service if it runs) leaves the
    // recorded state in place.
    EXPECT_EQ(c.recorded, ended.state);
    EXPECT_FALSE(machine.registry.HasKey(kRecord));
  }
}

// -installer ended between the stop and the start of the running service: the next
// -installer starts it again, then switches as the ended run meant to.
TEST_F(AirtoggleProgram, InstallerEndedWithTheServiceStoppedIsFinishedByTheNext) {
  sim::Service& wzc = ZeroConfig(SERVICE_STOPPED);
  machine.registry.Create(kRecord, true);
  machine.registry.SetDword(kRecord, "WZCSVC", SERVICE_RUNNING);
  SetFlags(kGuidA, 0x0000F002u);  // the ended run's rewrite; the mode is still 0
  Run(Line("-installer"));
  EXPECT_EQ(DWORD{SERVICE_RUNNING}, wzc.state);
  EXPECT_EQ(1u, RecordedMode());
  EXPECT_EQ(0x0000F002u, Flags(kGuidA));
  EXPECT_EQ(0x00818002u, Flags(kGuidB));
  EXPECT_FALSE(machine.registry.HasKey(kRecord));
}

// The 9x family has no services: no record is read, written or removed.
TEST_F(AirtoggleProgram, NineXFamilyKeepsNoRecord) {
  machine.kernel.version = sim::VersionInfo{4, 10, 2222, VER_PLATFORM_WIN32_WINDOWS, " A "};
  sim::Service& wzc = ZeroConfig(SERVICE_RUNNING);
  machine.registry.Create(kRecord, true);
  machine.registry.SetDword(kRecord, "WZCSVC", SERVICE_STOPPED);
  Run(Line("-installer"));
  EXPECT_EQ((Strings{"ControlService WZCSVC stop", "Service WZCSVC stopped", "01 ControlFlags=0x0000F002",
                     "02 ControlFlags=0x00818002", "StartService WZCSVC", "Service WZCSVC running",
                     "UseZeroConfig=1"}),
            StoryWithRecord());
  EXPECT_EQ(DWORD{SERVICE_RUNNING}, wzc.state);
  EXPECT_EQ(1u, machine.registry.Dword(kRecord, "WZCSVC"));  // left as it was
}

// -WZC hands the adapter to the zero-configuration service from either recorded mode,
// and a second -WZC keeps it there.
TEST_F(AirtoggleProgram, WzcTwiceLeavesTheAdapterWithZeroConfig) {
  for (std::uint32_t recorded : {0u, 1u}) {
    SCOPED_TRACE(recorded);
    SetRecordedMode(recorded);
    SetFlags(kGuidA, 0x00000002u);
    SetFlags(kGuidB, 0x00810002u);
    machine.services = sim::ServiceManager();
    sim::Service& wzc = ZeroConfig(SERVICE_RUNNING);
    for (int run = 0; run < 2; ++run) {
      Run(Line("-WZC"));
      EXPECT_EQ(1u, RecordedMode());
      EXPECT_EQ(0x00008002u, Flags(kGuidA));
      EXPECT_EQ(0x00818002u, Flags(kGuidB));
      EXPECT_EQ(0x0000F002u, Flags(kGuidC));
      EXPECT_EQ(DWORD{SERVICE_RUNNING}, wzc.state);
    }
  }
}

}  // namespace
}  // namespace airtoggle_test
