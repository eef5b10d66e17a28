// Pakrun's start-up and whole run sequence on the substitute machine.
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "pakrun/pakrun.h"
#include "pakrun_fixture.h"

namespace {

constexpr char kVendorDir[] = "C:\\Program Files\\Vendor Setup";
constexpr char kCache81[] = "C:\\WINDOWS\\Driver Cache\\tq3p81.inf";
constexpr char kCache8[] = "C:\\WINDOWS\\Driver Cache\\tq3p8.inf";

class RunSequence : public PakrunTest {
 protected:
  void SetUp() override {
    PakrunTest::SetUp();
    machine.kernel.self.modulePath = "C:\\Setup\\Pakrun.exe";
    machine.programs.Add("regedit", sim::RegistryEditor());
  }

  // Stand-ins for the setup programs of a directory; each notes what it saw.
  void AddSetupPrograms(const std::string& dir) {
    for (const char* name : {"Setup.exe", "Netprep.exe"}) {
      machine.programs.Add(dir + "\\" + name, [this](sim::Machine& m, const std::string&) {
        m.Log(sim::Event::Plain("Setup runs"));
        return 0u;
      });
    }
  }

  int Run(const std::string& tail = "") {
    return PakrunMain(
        ("\"" + machine.kernel.self.modulePath + "\"" + (tail.empty() ? "" : " " + tail)).c_str());
  }

  std::vector<std::string> Starts() const {
    std::vector<std::string> lines;
    for (const sim::ProgramStart& start : machine.programs.started) lines.push_back(start.commandLine);
    return lines;
  }

  // The events that show the steps, in order.
  std::vector<std::string> Steps() const {
    std::vector<std::string> steps;
    for (const std::string& event : machine.Events()) {
      for (const char* prefix : {"CreateMutex", "RemoveDevice", "MoveFile", "CreateProcess",
                                 "Setup runs", "Reenumerate", "Installer applies", "Regedit imports"}) {
        if (event.rfind(prefix, 0) == 0) steps.push_back(event);
      }
    }
    return steps;
  }

  // A machine on which every step has something to do, with all switches on.
  void EverythingToDo() {
    machine.devices.Add("PCI\\A\\stale", {kAdapterId}, false);
    sim::Device& adapter = machine.devices.Add("PCI\\A\\1", {"PCI\\VEN_1D4A&DEV_0302"}, true);
    adapter.driver = std::string(kGuid) + "\\0003";
    machine.files.Put(kCache81, "81");
    machine.files.Put(kCache8, "8");
    machine.files.Put("C:\\Setup\\Pakrun.reg",
                      Crlf({"REGEDIT4", "", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]", "\"Script\"=\"1\""}));
    Settings({"[PARAMS]", "SWAPCMD=0", "CLEANUP=1", "RENAME=1", "REFRESH=1", "STATICREG=1",
              "DRIVERREG=1", "STATICREGFROMFILE=1",
              "[CLEANUP]", "CLEANCOUNT=1", std::string("DEV1=") + kAdapterId,
              "[REFRESH]", "DETECTCOUNT=1", std::string("DETECTDEV1=") + kAdapterId,
              "[STATICREG]", "ADDREG=1", "ADDREG1_ROOT=HKLM", "ADDREG1_SUBKEY=SOFTWARE\\Vendor",
              "ADDREG1_ENTRYNAME=Static", "ADDREG1_FLAGS=0", "ADDREG1_VALUE=1",
              "[DRIVERREG]", "NIC=1", "DEV1=PCI\\VEN_1D4A&DEV_0302",
              "[DRIVERREG_PCI\\VEN_1D4A&DEV_0302_XP]", "ADDREG=1", "ADDREG1_ENTRYNAME=Driver",
              "ADDREG1_FLAGS=0", "ADDREG1_VALUE=1"});
  }

  std::vector<std::string> FollowUps() const {
    return {"Reenumerate",
            std::string("CreateProcess ") + kInstallerPath +
                " setupapi,InstallHinfSection DefaultInstall 132 " + kStaticInf,
            std::string("Installer applies ") + kStaticInf,
            "CreateProcess regedit /s \"C:\\Setup\\Pakrun.reg\"",
            "Regedit imports C:\\Setup\\Pakrun.reg",
            std::string("CreateProcess ") + kInstallerPath +
                " setupapi,InstallHinfSection DefaultInstall 132 " + kDriverInf,
            std::string("Installer applies ") + kDriverInf};
  }
};

TEST_F(RunSequence, WithoutSettingsFileOnlyTheSetupProgramRunsWithTheTail) {
  AddSetupPrograms("C:\\Setup");
  EXPECT_EQ(1, Run("/quiet  -x "));
  EXPECT_EQ((std::vector<std::string>{"CreateMutex Pakrun.exe",
                                      "CreateProcess \"C:\\Setup\\Setup.exe\" /quiet  -x ",
                                      "WaitForSingleObject Setup.exe INFINITE", "Setup runs",
                                      "Exited Setup.exe 0"}),
            machine.Events());
  EXPECT_EQ(1, Run());
  EXPECT_EQ("\"C:\\Setup\\Setup.exe\"", Starts().at(1));
  EXPECT_TRUE(machine.kernel.self.openMutexes.empty());
}

TEST_F(RunSequence, TheFourCommandLineFormsByteForByte) {
  machine.kernel.self.modulePath = std::string(kVendorDir) + "\\Pakrun.exe";
  machine.files.AddDirectory(kVendorDir);
  machine.files.SetShortName("C:\\Program Files", "PROGRA~1");
  machine.files.SetShortName(kVendorDir, "VENDOR~1");
  AddSetupPrograms(kVendorDir);
  const std::string ini = std::string(kVendorDir) + "\\Pakrun.ini";
  const std::string tail = "-s -f \"a b\"";

  machine.files.Put(ini, Crlf({"[PARAMS]", "SWAPCMD=1"}));
  EXPECT_EQ(1, Run(tail));
  EXPECT_EQ(1, Run());
  machine.files.Put(ini, Crlf({"[PARAMS]", "SWAPCMD=0", "CMDEXE=Other.exe"}));
  EXPECT_EQ(1, Run(tail));
  EXPECT_EQ(1, Run());
  // CMDINI is neither shortened nor quoted, so one with a blank splits.
  machine.files.Put(ini, Crlf({"[PARAMS]", "SWAPCMD=1", "CMDEXE=Netprep.exe", "CMDINI=My Net.ini"}));
  EXPECT_EQ(1, Run());
  EXPECT_EQ((std::vector<std::string>{
                "\"C:\\Program Files\\Vendor Setup\\Netprep.exe\" /INI C:\\PROGRA~1\\VENDOR~1\\Netprep.ini -s -f \"a b\"",
                "\"C:\\Program Files\\Vendor Setup\\Netprep.exe\" /INI C:\\PROGRA~1\\VENDOR~1\\Netprep.ini",
                "\"C:\\Program Files\\Vendor Setup\\Setup.exe\" -s -f \"a b\"",
                "\"C:\\Program Files\\Vendor Setup\\Setup.exe\"",
                "\"C:\\Program Files\\Vendor Setup\\Netprep.exe\" /INI C:\\PROGRA~1\\VENDOR~1\\My Net.ini"}),
            Starts());
}

TEST_F(RunSequence, TheTailFollowsTheProgramNameAsTheCRuntimeSplitsIt) {
  const struct {
    const char* commandLine;
    const char* tail;
  } cases[] = {
      {"", ""},
      {"Pakrun.exe", ""},
      {"\"C:\\A B\\Pakrun.exe\"   ", ""},
      {"Pakrun.exe  a  b ", "a  b "},
      {"\"C:\\A B\\Pakrun.exe\" -q \"x y\"", "-q \"x y\""},
      {"C:\\Setup\\Pakrun.exe\t-q", "-q"},
      {"\"C:\\x\\Pakrun.exe\"-s", "-s"},              // a quoted name ends at its quote
      {"\"C:\\x\\Pakrun.exe\"\"-s\" t", "\"-s\" t"},  // and the next quote is the tail's
      {"\"C:\\x\\Pakrun.exe", ""},                     // no closing quote: all name
      {"C:\\x\\Pa\"k r\"un.exe -s", "r\"un.exe -s"},   // an unquoted name ends at a blank
      {" -s", "-s"},                                   // an empty name
  };
  for (const auto& c : cases) EXPECT_STREQ(c.tail, CommandTail(c.commandLine)) << c.commandLine;
}

TEST_F(RunSequence, SwitchesAreOnOnlyAtExactlyOne) {
  AddSetupPrograms("C:\\Setup");
  EverythingToDo();
  const std::string rest = machine.files.Read(kSettingsPath)->substr(
      machine.files.Read(kSettingsPath)->find("[CLEANUP]"));
  struct Probe {
    const char* key;
    const char* operation;  // called only when the switch is on
  };
  for (const Probe& probe : {Probe{"SWAPCMD", "GetShortPathNameA"},
                             Probe{"CLEANUP", "SetupDiGetClassDevsA"},
                             Probe{"RENAME", "MoveFileA"},
                             Probe{"REFRESH", "CM_Locate_DevNodeA"},
                             Probe{"STATICREG", "OpenTextStream"},
                             Probe{"STATICREGFROMFILE", "WaitForSingleObject"},
                             Probe{"DRIVERREG", "SetupDiGetClassDevsExA"}}) {
    for (const std::string value : {"1", "0", "2", "-1", "on", ""}) {
      machine.files.Put(kSettingsPath, Crlf({"[PARAMS]", std::string(probe.key) + "=" + value}) + rest);
      machine.files.Put(kCache81, "81");
      machine.files.Remove("C:\\WINDOWS\\Driver Cache\\tq3p81.org");
      int before = machine.Calls(probe.operation);
      int waitsBefore = machine.Calls("WaitForSingleObject");
      EXPECT_EQ(1, Run());
      int calls = machine.Calls(probe.operation) - before;
      bool on = std::string(probe.operation) == "WaitForSingleObject"
                    ? machine.Calls("WaitForSingleObject") - waitsBefore > 1
                    : calls > 0;
      // SWAPCMD shows in the program started; the short directory is formed either way.
      if (std::string(probe.key) == "SWAPCMD")
        on = Starts().back().find("Netprep.exe") != std::string::npos;
      EXPECT_EQ(value == "1", on) << probe.key << "=" << value;
    }
  }
}

TEST_F(RunSequence, EveryStepRunsInItsFixedOrder) {
  AddSetupPrograms("C:\\Setup");
  EverythingToDo();
  EXPECT_EQ(1, Run("-tail"));
  std::vector<std::string> expected = {
      "CreateMutex Pakrun.exe", "RemoveDevice PCI\\A\\stale",
      std::string("MoveFile ") + kCache81 + " -> C:\\WINDOWS\\Driver Cache\\tq3p81.org",
      std::string("MoveFile ") + kCache8 + " -> C:\\WINDOWS\\Driver Cache\\tq3p8.org",
      "CreateProcess \"C:\\Setup\\Setup.exe\" -tail", "Setup runs"};
  for (const std::string& step : FollowUps()) expected.push_back(step);
  EXPECT_EQ(expected, Steps());
  EXPECT_EQ("1", machine.registry.String("HKLM\\SOFTWARE\\Vendor", "Static"));
  EXPECT_EQ("1", machine.registry.String("HKLM\\SOFTWARE\\Vendor", "Script"));
  EXPECT_EQ("1", machine.registry.String(std::string("HKLM\\") + kNetClass + "\\0003", "Driver"));
  EXPECT_EQ("81", machine.files.Read("C:\\WINDOWS\\Driver Cache\\tq3p81.org"));
  EXPECT_FALSE(machine.files.Exists(kCache8));
  EXPECT_TRUE(machine.kernel.self.openMutexes.empty());
}

// Under WOW64 the stale devices are not even looked for (their removal cannot work
// there); every other step runs as on a 32-bit system.
TEST_F(RunSequence, UnderWow64EveryStepRunsButTheDeviceRemoval) {
  AddSetupPrograms("C:\\Setup");
  EverythingToDo();
  machine.kernel.wow64 = true;
  EXPECT_EQ(1, Run("-tail"));
  std::vector<std::string> expected = {
      "CreateMutex Pakrun.exe",
      std::string("MoveFile ") + kCache81 + " -> C:\\WINDOWS\\Driver Cache\\tq3p81.org",
      std::string("MoveFile ") + kCache8 + " -> C:\\WINDOWS\\Driver Cache\\tq3p8.org",
      "CreateProcess \"C:\\Setup\\Setup.exe\" -tail", "Setup runs"};
  for (const std::string& step : FollowUps()) expected.push_back(step);
  EXPECT_EQ(expected, Steps());
  EXPECT_EQ(0, machine.Calls("SetupDiCallClassInstaller"));
  EXPECT_TRUE(machine.devices.Installed("PCI\\A\\stale"));
  // The registry editor of the system directory: the 32-bit one, like the INF installer.
  std::vector<std::string> editors;
  for (const sim::ProgramStart& start : machine.programs.started)
    if (start.commandLine.rfind("regedit ", 0) == 0) editors.push_back(start.applicationName);
  EXPECT_EQ(std::vector<std::string>{"C:\\WINDOWS\\system32\\regedit.exe"}, editors);
}

TEST_F(RunSequence, FollowUpStepsRunWhenTheSetupProgramIsMissing) {
  EverythingToDo();  // no setup program in the directory
  EXPECT_EQ(1, Run());
  std::vector<std::string> steps = Steps();
  ASSERT_GE(steps.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(steps.begin() + 4, steps.end()), FollowUps());
  EXPECT_EQ(3, machine.Calls("WaitForSingleObject"));  // the installer twice and regedit
  EXPECT_EQ(3u, Starts().size());

  // CMDEXE present but empty: the setup path is the directory and a backslash.
  AddSetupPrograms("C:\\Setup");
  Settings({"[PARAMS]", "SWAPCMD=1", "CMDEXE=", "REFRESH=1"});
  int starts = machine.Calls("CreateProcessA");
  int reenumerations = machine.devices.reenumerations;
  EXPECT_EQ(1, Run());
  EXPECT_EQ(starts + 1, machine.Calls("CreateProcessA"));
  EXPECT_EQ(3u, Starts().size());  // the start failed
  EXPECT_EQ(reenumerations + 1, machine.devices.reenumerations);
}

TEST_F(RunSequence, SecondCopyEndsAtOnceWithoutReadingAnything) {
  AddSetupPrograms("C:\\Setup");
  EverythingToDo();
  machine.kernel.self.mutexesHeldElsewhere.insert("Pakrun.exe");
  EXPECT_EQ(1, Run("-x"));
  EXPECT_EQ((std::vector<std::string>{"CreateMutex Pakrun.exe (exists)"}), machine.Events());
  EXPECT_EQ(0, machine.Calls("GetPrivateProfileIntA"));
  EXPECT_EQ(0, machine.Calls("GetPrivateProfileStringA"));
  EXPECT_TRUE(Starts().empty());
  // The same file name in another directory is the same program.
  machine.kernel.self.modulePath = "D:\\Elsewhere\\Pakrun.exe";
  EXPECT_EQ(1, Run());
  EXPECT_TRUE(Starts().empty());

  // Other names (letter case counts) do not exclude each other.
  machine.kernel.self.modulePath = "C:\\Setup\\Pakrun.exe";
  machine.kernel.self.mutexesHeldElsewhere = {"PAKRUN.EXE", "Setup.exe"};
  EXPECT_EQ(1, Run());
  ASSERT_FALSE(Starts().empty());
  EXPECT_EQ("\"C:\\Setup\\Setup.exe\"", Starts()[0]);
}

TEST_F(RunSequence, MutexThatCannotBeCreatedDoesNotStopTheRun) {
  AddSetupPrograms("C:\\Setup");
  machine.Fail("CreateMutexA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(1, Run());
  EXPECT_EQ((std::vector<std::string>{"\"C:\\Setup\\Setup.exe\""}), Starts());
}

TEST_F(RunSequence, WithoutItsOwnPathWholeTheProgramDoesNothing) {
  AddSetupPrograms("C:\\Setup");
  machine.kernel.self.modulePath.clear();
  EXPECT_EQ(1, PakrunMain("Pakrun.exe"));
  machine.kernel.self.modulePath = "C:\\" + std::string(250, 'd') + "\\Pakrun.exe";  // cut at 259
  EXPECT_EQ(1, PakrunMain("Pakrun.exe"));
  EXPECT_EQ(0, machine.Calls("CreateMutexA"));
  EXPECT_EQ(0, machine.Calls("GetPrivateProfileIntA"));
  EXPECT_TRUE(machine.Events().empty());
}

TEST_F(RunSequence, DoubleByteSecondBytesAreNeverSeparators) {
  AddSetupPrograms("C:\\Setup");
  // "Pak", a Shift-JIS character whose second byte is 0x5C, "run.exe".
  machine.kernel.self.modulePath = "C:\\Setup\\Pak\x95\\run.exe";
  machine.files.Put("C:\\Setup\\Pak\x95\\run.ini", Crlf({"[PARAMS]", "SWAPCMD=1"}));
  machine.kernel.self.UseShiftJis();
  EXPECT_EQ(1, Run());
  // In a single-byte code page the same bytes hold a backslash.
  machine.kernel.self.leadByteRanges.clear();
  EXPECT_EQ(1, Run());
  EXPECT_EQ((std::vector<std::string>{"CreateMutex Pak\x95\\run.exe", "CreateMutex run.exe"}),
            EventsStartingWith("CreateMutex"));
  EXPECT_EQ((std::vector<std::string>{"\"C:\\Setup\\Netprep.exe\" /INI C:\\Setup\\Netprep.ini"}),
            std::vector<std::string>{Starts().at(0)});
}

TEST_F(RunSequence, SettingsPathReplacesTheExtensionOfTheFileNameOnly) {
  machine.kernel.self.modulePath = "C:\\Setup.v2\\Pakrun";
  AddSetupPrograms("C:\\Setup.v2");
  machine.files.Put("C:\\Setup.v2\\Pakrun.ini", Crlf({"[PARAMS]", "SWAPCMD=1", "STATICREGFROMFILE=1"}));
  machine.files.Put("C:\\Setup.v2\\Pakrun.reg", Crlf({"REGEDIT4"}));
  EXPECT_EQ(1, Run());
  EXPECT_EQ((std::vector<std::string>{"\"C:\\Setup.v2\\Netprep.exe\" /INI C:\\Setup.v2\\Netprep.ini",
                                      "regedit /s \"C:\\Setup.v2\\Pakrun.reg\""}),
            Starts());
}

TEST_F(RunSequence, WithoutAShortDirectoryTheLongOneNamesTheIniFileAsOneArgument) {
  machine.kernel.self.modulePath = std::string(kVendorDir) + "\\Pakrun.exe";
  machine.files.AddDirectory(kVendorDir);
  AddSetupPrograms(kVendorDir);
  machine.files.Put(std::string(kVendorDir) + "\\Pakrun.ini", Crlf({"[PARAMS]", "SWAPCMD=1"}));
  machine.Fail("GetShortPathNameA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(1, Run());
  machine.Mend("GetShortPathNameA");
  // A volume without short names: the "short" form the platform gives is the long one.
  machine.files.SetShortName("C:\\Program Files", "Program Files");
  machine.files.SetShortName(kVendorDir, "Vendor Setup");
  EXPECT_EQ(1, Run());
  const std::string quoted =
      "\"C:\\Program Files\\Vendor Setup\\Netprep.exe\" /INI \"C:\\Program Files\\Vendor Setup\\Netprep.ini\"";
  EXPECT_EQ((std::vector<std::string>{quoted, quoted}), Starts());
}

TEST_F(RunSequence, WithoutAShortDirectoryABlankFreeOneStaysUnquoted) {
  machine.kernel.self.modulePath = "C:\\Setup\\Pakrun.exe";
  machine.files.AddDirectory("C:\\Setup");
  AddSetupPrograms("C:\\Setup");
  machine.files.Put("C:\\Setup\\Pakrun.ini", Crlf({"[PARAMS]", "SWAPCMD=1"}));
  machine.Fail("GetShortPathNameA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(1, Run());
  EXPECT_EQ((std::vector<std::string>{"\"C:\\Setup\\Netprep.exe\" /INI C:\\Setup\\Netprep.ini"}),
            Starts());
}

TEST_F(RunSequence, OsSuffixFollowsPlatformAndVersion) {
  struct Case {
    DWORD platform, major, minor;
    const char* suffix;
  };
  for (const Case& c : {Case{2, 5, 0, "_2000"}, Case{2, 5, 1, "_XP"}, Case{2, 5, 2, "_2003"},
                        Case{2, 6, 0, "_ELSE"}, Case{2, 4, 0, "_ELSE"}, Case{2, 5, 3, "_ELSE"},
                        Case{1, 4, 10, "_ELSE"}, Case{1, 5, 1, "_ELSE"}}) {
    machine.kernel.version.platformId = c.platform;
    machine.kernel.version.major = c.major;
    machine.kernel.version.minor = c.minor;
    EXPECT_STREQ(c.suffix, OsSuffix()) << c.platform << " " << c.major << "." << c.minor;
  }
  machine.Fail("GetVersionExA", ERROR_INVALID_PARAMETER);
  machine.kernel.version = sim::VersionInfo{};
  EXPECT_STREQ("_ELSE", OsSuffix());

  // In a run: Windows 2000 reads the "_2000" section.
  AddSetupPrograms("C:\\Setup");
  sim::Device& adapter = machine.devices.Add("PCI\\A\\1", {kAdapterId}, true);
  adapter.driver = std::string(kGuid) + "\\0001";
  Settings({"[PARAMS]", "DRIVERREG=1", "[DRIVERREG]", "NIC=1", std::string("DEV1=") + kAdapterId,
            std::string("[DRIVERREG_") + kAdapterId + "_2000]", "ADDREG=1",
            "ADDREG1_ENTRYNAME=W2k", "ADDREG1_FLAGS=0", "ADDREG1_VALUE=1",
            std::string("[DRIVERREG_") + kAdapterId + "_ELSE]", "ADDREG=1",
            "ADDREG1_ENTRYNAME=Else", "ADDREG1_FLAGS=0", "ADDREG1_VALUE=1"});
  machine.Mend("GetVersionExA");
  machine.kernel.version.minor = 0;
  EXPECT_EQ(1, Run());
  EXPECT_EQ("1", machine.registry.String(std::string("HKLM\\") + kNetClass + "\\0001", "W2k"));
  EXPECT_FALSE(machine.registry.Value(std::string("HKLM\\") + kNetClass + "\\0001", "Else"));
}

TEST_F(RunSequence, CachedInfRenamesFailOneByOne) {
  AddSetupPrograms("C:\\Setup");
  Settings({"[PARAMS]", "RENAME=1"});
  // The first ".org" is already there; the second source is there.
  machine.files.Put(kCache81, "new81");
  machine.files.Put("C:\\WINDOWS\\Driver Cache\\tq3p81.org", "old81");
  machine.files.Put(kCache8, "new8");
  EXPECT_EQ(1, Run());
  EXPECT_EQ("new81", machine.files.Read(kCache81));
  EXPECT_EQ("old81", machine.files.Read("C:\\WINDOWS\\Driver Cache\\tq3p81.org"));
  EXPECT_EQ("new8", machine.files.Read("C:\\WINDOWS\\Driver Cache\\tq3p8.org"));
  EXPECT_EQ(2, machine.Calls("MoveFileA"));

  // The first source missing: the second is still tried.
  machine.files.Remove(kCache81);
  machine.files.Put(kCache8, "again");
  machine.files.Remove("C:\\WINDOWS\\Driver Cache\\tq3p8.org");
  EXPECT_EQ(1, Run());
  EXPECT_EQ("again", machine.files.Read("C:\\WINDOWS\\Driver Cache\\tq3p8.org"));
  EXPECT_EQ(2u, Starts().size());
}

TEST_F(RunSequence, WithoutSystemRootOrRoomForThePathsNothingIsRenamed) {
  AddSetupPrograms("C:\\Setup");
  Settings({"[PARAMS]", "RENAME=1"});
  machine.files.Put("C:\\Driver Cache\\tq3p81.inf", "on the current drive");
  machine.kernel.environment.erase("SystemRoot");
  EXPECT_EQ(1, Run());
  machine.kernel.environment["SystemRoot"] = "";
  EXPECT_EQ(1, Run());
  machine.kernel.environment["SystemRoot"] = "C:\\" + std::string(240, 'w');
  machine.files.Put(machine.kernel.environment["SystemRoot"] + "\\Driver Cache\\tq3p8.inf", "x");
  EXPECT_EQ(1, Run());
  EXPECT_EQ(0, machine.Calls("MoveFileA"));
  EXPECT_TRUE(machine.files.Exists("C:\\Driver Cache\\tq3p81.inf"));
  EXPECT_EQ(3u, Starts().size());
}

TEST_F(RunSequence, TextsThatDoNotFitSkipTheirStepOnly) {
  AddSetupPrograms("C:\\Setup");
  Settings({"[PARAMS]", "REFRESH=1"});
  // The line is composed in the 1024 characters the start takes: the quoted
  // "C:\Setup\Setup.exe" (20), a blank and 1003 characters are one too many.
  EXPECT_EQ(1, Run(std::string(1003, 't')));
  EXPECT_EQ(1, Run(std::string(1002, 't')));
  ASSERT_EQ(1u, Starts().size());
  EXPECT_EQ(1023u, Starts()[0].size());
  EXPECT_EQ(2, machine.devices.reenumerations);

  // A CMDINI that does not fit the INI path, and a CMDEXE the profile reader cut.
  Settings({"[PARAMS]", "SWAPCMD=1", "CMDINI=" + std::string(251, 'i')});
  EXPECT_EQ(1, Run());
  Settings({"[PARAMS]", "SWAPCMD=1", "CMDEXE=" + std::string(300, 'e')});
  EXPECT_EQ(1, Run());
  EXPECT_EQ(1u, Starts().size());

  // A realistic long tail, 200 characters naming a response file and a log in the
  // program's 60-character folder, with SWAPCMD: the whole tail reaches the setup program.
  const std::string folder = "C:\\Program Files\\Korvell\\Wireless LAN Driver Package 2.4.1.0";
  ASSERT_EQ(60u, folder.size());
  std::string tail = "/s /f1\"" + folder + "\\setup.iss\" /f2\"" + folder + "\\install.log\"";
  tail += " /v\"/qn REBOOT=ReallySuppress\"";
  tail += std::string(200 - tail.size(), 'x');
  machine.kernel.self.modulePath = folder + "\\Pakrun.exe";
  AddSetupPrograms(folder);
  machine.files.Put(folder + "\\Pakrun.ini", Crlf({"[PARAMS]", "SWAPCMD=1"}));
  EXPECT_EQ(1, Run(tail));
  ASSERT_EQ(2u, Starts().size());
  const std::string started = Starts()[1];
  EXPECT_EQ(0u, started.find("\"" + folder + "\\Netprep.exe\" /INI ")) << started;
  EXPECT_EQ(" " + tail, started.substr(started.size() - tail.size() - 1)) << started;

  // A program path so long that the regedit command does not fit; the next step runs.
  const std::string dir = "C:\\" + std::string(235, 'p');
  machine.kernel.self.modulePath = dir + "\\Pakrun.exe";
  AddSetupPrograms(dir);
  machine.files.Put(dir + "\\Pakrun.ini", Crlf({"[PARAMS]", "STATICREGFROMFILE=1", "REFRESH=1"}));
  machine.files.Put(dir + "\\Pakrun.reg", Crlf({"REGEDIT4"}));
  EXPECT_EQ(1, Run());
  EXPECT_EQ(3u, Starts().size());
  EXPECT_EQ("\"" + dir + "\\Setup.exe\"", Starts()[2]);
  EXPECT_EQ(3, machine.devices.reenumerations);
}

TEST_F(RunSequence, RegistryEditorIsTheWindowsDirectorysWhateverIsPlanted) {
  // Copies planted in Pakrun's folder and in the current directory, which a search for
  // "regedit" by name would find first; each would note that it ran.
  machine.kernel.currentDirectory = "C:\\Work";
  for (const char* planted : {"C:\\Setup\\regedit.exe", "C:\\Work\\regedit.exe"}) {
    machine.programs.Add(planted, [](sim::Machine& m, const std::string&) {
      m.Log(sim::Event::Plain("Planted regedit runs"));
      return 0u;
    });
  }
  machine.files.Put("C:\\Setup\\Pakrun.reg", Crlf({"REGEDIT4"}));
  Settings({"[PARAMS]", "STATICREGFROMFILE=1", "REFRESH=1"});
  AddSetupPrograms("C:\\Setup");
  struct Case {
    std::string windows;
    bool fails;
    const char* started;  // null: the editor is not started
  } cases[] = {
      {"C:\\WINDOWS", false, "C:\\WINDOWS\\regedit.exe"},
      {"C:\\", false, "C:\\regedit.exe"},
      // Shift-JIS: 0x95 0x5C is one character, not a separator to keep from doubling.
      {"C:\\\x95\x5C", false, "C:\\\x95\x5C\\regedit.exe"},
      {"C:\\WINDOWS", true, nullptr},
      {"C:\\" + std::string(MAX_PATH - 3, 'w'), false, nullptr},
      {"WINDOWS", false, nullptr},
  };
  machine.kernel.self.UseShiftJis();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.windows);
    machine.kernel.windowsDirectory = c.windows;
    if (c.fails) machine.Fail("GetWindowsDirectoryA", ERROR_INVALID_PARAMETER);
    const std::size_t before = machine.programs.started.size();
    const int reenumerated = machine.devices.reenumerations;
    EXPECT_EQ(1, Run());
    machine.Mend("GetWindowsDirectoryA");
    EXPECT_EQ(reenumerated + 1, machine.devices.reenumerations);  // the next step still runs
    ASSERT_EQ(before + (c.started != nullptr ? 2 : 1), machine.programs.started.size());
    if (c.started == nullptr) continue;
    const sim::ProgramStart& editor = machine.programs.started.back();
    EXPECT_EQ(c.started, editor.applicationName);
    EXPECT_EQ("regedit /s \"C:\\Setup\\Pakrun.reg\"", editor.commandLine);
  }
  EXPECT_TRUE(EventsStartingWith("Planted").empty());
  EXPECT_EQ(3u, EventsStartingWith("Regedit imports C:\\Setup\\Pakrun.reg").size());
}

// A failure of any one platform operation, on every call, still ends with 1, leaves
// nothing open, never starts the setup program twice, and takes out only the steps that
// depend on that operation. `omitted` names those steps ("mutex", "remove", "move",
// "reenum"; "setup", "static", "regedit", "driver" for the program started and the same
// with "Ran" for it having run) and the values the run then does not write ("Static",
// "Script", "Driver"); `infsLeft` is a run that leaves its INF files behind.
struct RunFault {
  const char* operation;
  const char* omitted;
  bool infsLeft;
};

void PrintTo(const RunFault& f, std::ostream* os) {
  *os << f.operation << " omits \"" << f.omitted << "\"" << (f.infsLeft ? ", INFs left" : "");
}

class RunSequenceFaults : public RunSequence, public ::testing::WithParamInterface<RunFault> {};

TEST_P(RunSequenceFaults, EndWithOneReleaseEverythingAndSkipOnlyTheStepsThatNeedIt) {
  const RunFault& f = GetParam();
  AddSetupPrograms("C:\\Setup");
  EverythingToDo();
  machine.Fail(f.operation, ERROR_GEN_FAILURE);
  EXPECT_EQ(1, Run("-x"));
  EXPECT_TRUE(machine.kernel.self.openMutexes.empty());
  EXPECT_LE(EventsStartingWith("Setup runs").size(), 1u);

  const std::string omitted = std::string(" ") + f.omitted + " ";
  auto kept = [&](const char* token) {
    return omitted.find(std::string(" ") + token + " ") == std::string::npos;
  };
  const std::string installer = std::string("CreateProcess ") + kInstallerPath +
                                " setupapi,InstallHinfSection DefaultInstall 132 ";
  const std::pair<const char*, std::string> everyStep[] = {
      {"mutex", "CreateMutex Pakrun.exe"},
      {"remove", "RemoveDevice PCI\\A\\stale"},
      {"move", std::string("MoveFile ") + kCache81 + " -> C:\\WINDOWS\\Driver Cache\\tq3p81.org"},
      {"move", std::string("MoveFile ") + kCache8 + " -> C:\\WINDOWS\\Driver Cache\\tq3p8.org"},
      {"setup", "CreateProcess \"C:\\Setup\\Setup.exe\" -x"},
      {"setupRan", "Setup runs"},
      {"reenum", "Reenumerate"},
      {"static", installer + kStaticInf},
      {"staticRan", std::string("Installer applies ") + kStaticInf},
      {"regedit", "CreateProcess regedit /s \"C:\\Setup\\Pakrun.reg\""},
      {"regeditRan", "Regedit imports C:\\Setup\\Pakrun.reg"},
      {"driver", installer + kDriverInf},
      {"driverRan", std::string("Installer applies ") + kDriverInf}};
  std::vector<std::string> expected;
  for (const auto& [token, step] : everyStep) {
    if (kept(token)) expected.push_back(step);
  }
  EXPECT_EQ(expected, Steps());
  EXPECT_EQ(kept("Static"), machine.registry.Value("HKLM\\SOFTWARE\\Vendor", "Static").has_value());
  EXPECT_EQ(kept("Script"), machine.registry.Value("HKLM\\SOFTWARE\\Vendor", "Script").has_value());
  EXPECT_EQ(kept("Driver"),
            machine.registry.Value(std::string("HKLM\\") + kNetClass + "\\0003", "Driver").has_value());
  EXPECT_EQ(f.infsLeft, machine.files.Exists(kStaticInf));
  EXPECT_EQ(f.infsLeft, machine.files.Exists(kDriverInf));
}

constexpr char kEverything[] =
    "mutex remove move setup setupRan reenum static staticRan regedit regeditRan driver "
    "driverRan Static Script Driver";
constexpr char kNoDriverInf[] = "driver driverRan Driver";
constexpr char kNoInf[] = "static staticRan driver driverRan Static Driver";
const RunFault kRunFaults[] = {
    {"GetModuleFileNameA", kEverything, false},  // without its own path it does nothing
    {"GetShortPathNameA", "", false},  // the long directory serves
    {"GetVersionExA", kNoDriverInf, false},  // no section for an unknown Windows
    {"CreateMutexA", "mutex", false},
    {"GetPrivateProfileIntA",
     "remove move reenum static staticRan regedit regeditRan driver driverRan Static Script Driver",
     false},  // every switch reads as off
    {"GetPrivateProfileStringA", "remove driver driverRan Static Driver", false},  // no names
    {"SetupDiGetClassDevsA", "remove", false},
    {"SetupDiGetClassDevsExA", kNoDriverInf, false},
    {"SetupDiEnumDeviceInfo", "remove driver driverRan Driver", false},
    {"SetupDiGetDeviceRegistryPropertyA", "remove driver driverRan Driver", false},
    {"SetupDiGetDeviceInfoListDetailA", kNoDriverInf, false},
    {"SetupDiCallClassInstaller", "remove", false},
    {"CM_Locate_DevNodeA", "reenum", false},
    {"CM_Reenumerate_DevNode", "reenum", false},
    {"MoveFileA", "move", false},
    {"CreateProcessA",
     "setup setupRan static staticRan regedit regeditRan driver driverRan Static Script Driver", false},
    {"WaitForSingleObject", "setupRan staticRan regeditRan driverRan Static Script Driver", false},
    {"OpenTextStream", kNoInf, false},
    {"WriteTextStream", kNoInf, true},  // reported when the stream is closed
    {"CloseTextStream", kNoInf, true},  // neither applied nor deleted
    {"DeleteFileA", "", true},
};

INSTANTIATE_TEST_SUITE_P(EachOperation, RunSequenceFaults, ::testing::ValuesIn(kRunFaults),
                         [](const ::testing::TestParamInfo<RunFault>& param) {
                           return std::string(param.param.operation);
                         });

}  // namespace
