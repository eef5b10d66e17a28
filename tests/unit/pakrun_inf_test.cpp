#include <string>

#include "pakrun/inf_files.h"
#include "pakrun/run_and_wait.h"
#include "pakrun/settings.h"
#include "pakrun_fixture.h"
#include "platform/programs.h"

namespace {

using InfFiles = PakrunTest;

const std::string kStaticCommand = std::string(kInstallerPath) +
                                   " setupapi,InstallHinfSection DefaultInstall 132 " + kStaticInf;

TEST_F(InfFiles, NothingToDoCreatesNoFileAndStartsNothing) {
  // Missing file, missing section, both counts 0, and counts written as negative numbers.
  EXPECT_EQ(1, ApplyStaticAddDel(kSettingsPath, "STATICREG"));
  Settings({"[OTHER]", "ADDREG=1"});
  EXPECT_EQ(1, ApplyStaticAddDel(kSettingsPath, "STATICREG"));
  Settings({"[STATICREG]", "ADDREG=0", "DELREG=0", "ADDREG1_ROOT=HKLM"});
  EXPECT_EQ(1, ApplyStaticAddDel(kSettingsPath, "STATICREG"));
  Settings({"[STATICREG]", "ADDREG=-1", "DELREG=-7"});
  EXPECT_EQ(1, ApplyStaticAddDel(kSettingsPath, "STATICREG"));
  EXPECT_EQ(0, machine.Calls("OpenTextStream"));
  EXPECT_EQ(0, machine.Calls("CreateProcessA"));
  EXPECT_FALSE(machine.files.Exists(kStaticInf));
}

TEST_F(InfFiles, AddOnlyIsWrittenAppliedWaitedForAndDeleted) {
  Settings({"[STATICREG]", "ADDREG=2",
            "ADDREG1_ROOT=HKLM", "ADDREG1_SUBKEY=SOFTWARE\\Vendor\\Linkdesk",
            "ADDREG1_ENTRYNAME=UseZeroConfig", "ADDREG1_FLAGS=0x00010001", "ADDREG1_VALUE=1",
            "ADDREG2_ROOT=HKCU", "ADDREG2_SUBKEY=Software\\Vendor", "ADDREG2_ENTRYNAME=Mode",
            "ADDREG2_FLAGS=0", "ADDREG2_VALUE=Auto"});
  EXPECT_EQ(1, ApplyStaticAddDel(kSettingsPath, "STATICREG"));

  ASSERT_EQ(1u, installed.size());
  EXPECT_EQ(Crlf({"[Version]", "signature=\"$CHICAGO$\"", "", "[DefaultInstall]",
                  "AddReg = Add.reg", "", "[Add.reg]",
                  "HKLM, \"SOFTWARE\\Vendor\\Linkdesk\",\"UseZeroConfig\",0x00010001,1",
                  "HKCU, \"Software\\Vendor\",\"Mode\",0,Auto"}),
            installed[0]);
  ASSERT_EQ(1u, machine.programs.started.size());
  const sim::ProgramStart& start = machine.programs.started[0];
  EXPECT_EQ(kStaticCommand, start.commandLine);
  EXPECT_EQ(kInstallerPath, start.applicationName);
  EXPECT_FALSE(start.inheritHandles);
  EXPECT_EQ(0u, start.creationFlags);
  EXPECT_FALSE(start.environmentGiven);
  EXPECT_FALSE(start.currentDirectoryGiven);
  EXPECT_EQ(sizeof(STARTUPINFOA), start.startupInfoSize);
  EXPECT_TRUE(start.startupInfoZeroed);

  // Written and closed, then started, waited for without limit, then deleted.
  std::vector<std::string> order;
  for (const std::string& event : machine.Events()) {
    if (event.rfind("Installer sets", 0) != 0) order.push_back(event);
  }
  EXPECT_EQ((std::vector<std::string>{
                std::string("OpenTextStream ") + kStaticInf + " wt",
                std::string("CloseTextStream ") + kStaticInf, "CreateProcess " + kStaticCommand,
                "WaitForSingleObject rundll32.exe INFINITE",
                std::string("Installer applies ") + kStaticInf, "Exited rundll32.exe 0",
                std::string("DeleteFile ") + kStaticInf}),
            order);
  EXPECT_FALSE(machine.files.Exists(kStaticInf));
  EXPECT_EQ(1u, machine.registry.Dword("HKLM\\SOFTWARE\\Vendor\\Linkdesk", "UseZeroConfig"));
  EXPECT_EQ("Auto", machine.registry.String("HKCU\\Software\\Vendor", "Mode"));
}

TEST_F(InfFiles, DeleteOnlyHasNoAddSection) {
  machine.registry.SetDword("HKLM\\SOFTWARE\\Vendor", "Stale", 7);
  machine.registry.SetDword("HKLM\\SOFTWARE\\Vendor", "Kept", 8);
  Settings({"[STATICREG]", "DELREG=1", "DELREG1_ROOT=HKLM", "DELREG1_SUBKEY=SOFTWARE\\Vendor",
            "DELREG1_ENTRYNAME=Stale"});
  EXPECT_EQ(1, ApplyStaticAddDel(kSettingsPath, "STATICREG"));
  ASSERT_EQ(1u, installed.size());
  EXPECT_EQ(Crlf({"[Version]", "signature=\"$CHICAGO$\"", "", "[DefaultInstall]",
                  "DelReg = Del.reg", "", "[Del.reg]", "HKLM, \"SOFTWARE\\Vendor\",\"Stale\""}),
            installed[0]);
  EXPECT_FALSE(machine.registry.Value("HKLM\\SOFTWARE\\Vendor", "Stale"));
  EXPECT_EQ(8u, machine.registry.Dword("HKLM\\SOFTWARE\\Vendor", "Kept"));
}

TEST_F(InfFiles, AddAndDeleteEntriesInNumberOrderWithMissingOnesEmptyAndExtraOnesIgnored) {
  Settings({"[STATICREG]", "ADDREG=3", "DELREG=1",
            "ADDREG3_ROOT=HKLM", "ADDREG3_SUBKEY=S3", "ADDREG3_ENTRYNAME=N3",
            "ADDREG3_FLAGS=0", "ADDREG3_VALUE=V3",
            "ADDREG1_ROOT=HKLM", "ADDREG1_SUBKEY=S1", "ADDREG1_ENTRYNAME=N1",
            "ADDREG1_FLAGS=0x00010001", "ADDREG1_VALUE=0x10",
            "ADDREG4_ROOT=HKLM", "ADDREG4_SUBKEY=S4", "ADDREG4_ENTRYNAME=N4",
            "DELREG1_ROOT=HKLM", "DELREG1_SUBKEY=S1", "DELREG1_ENTRYNAME=Old",
            "DELREG2_ROOT=HKLM", "DELREG2_SUBKEY=S2", "DELREG2_ENTRYNAME=Old"});
  EXPECT_EQ(1, ApplyStaticAddDel(kSettingsPath, "STATICREG"));
  ASSERT_EQ(1u, installed.size());
  EXPECT_EQ(Crlf({"[Version]", "signature=\"$CHICAGO$\"", "", "[DefaultInstall]",
                  "AddReg = Add.reg", "DelReg = Del.reg", "", "[Add.reg]",
                  "HKLM, \"S1\",\"N1\",0x00010001,0x10", ", \"\",\"\",,", "HKLM, \"S3\",\"N3\",0,V3",
                  "", "[Del.reg]", "HKLM, \"S1\",\"Old\""}),
            installed[0]);
  EXPECT_EQ(16u, machine.registry.Dword("HKLM\\S1", "N1"));
  EXPECT_FALSE(machine.registry.HasKey("HKLM\\S4"));
}

TEST_F(InfFiles, TextsAreCopiedUnchanged) {
  Settings({"[STATICREG]", "ADDREG=1", "ADDREG1_ROOT=HKLM", "ADDREG1_SUBKEY=A,B",
            "ADDREG1_ENTRYNAME=Na\"me", "ADDREG1_FLAGS=0x00010000", "ADDREG1_VALUE=one,\"two\""});
  EXPECT_EQ(1, ApplyStaticAddDel(kSettingsPath, "STATICREG"));
  ASSERT_EQ(1u, installed.size());
  EXPECT_NE(std::string::npos,
            installed[0].find("\r\nHKLM, \"A,B\",\"Na\"me\",0x00010000,one,\"two\"\r\n"));
}

TEST_F(InfFiles, AnEntryWithAFieldLongerThanItsBufferIsLeftOutAndTheOthersStay) {
  // A field holds 259 characters: a value of 259 is written whole, one of 260 would be cut
  // and leaves its entry out. Entry 1 of each kind carries the long field, entry 2 is plain.
  const std::string classKey = std::string(kNetClass) + "\\0001";
  struct Case {
    bool driver;
    const char* key;
    std::size_t length;
    bool kept;
  } cases[] = {
      {false, "DELREG1_SUBKEY", 300, false}, {false, "DELREG1_SUBKEY", 260, false},
      {false, "DELREG1_SUBKEY", 259, true},  {false, "DELREG1_SUBKEY", 258, true},
      {false, "DELREG1_ROOT", 260, false},   {false, "DELREG1_ENTRYNAME", 300, false},
      {false, "ADDREG1_ROOT", 260, false},   {false, "ADDREG1_SUBKEY", 300, false},
      {false, "ADDREG1_ENTRYNAME", 260, false}, {false, "ADDREG1_ENTRYNAME", 259, true},
      {false, "ADDREG1_FLAGS", 260, false},  {false, "ADDREG1_VALUE", 300, false},
      {false, "ADDREG1_VALUE", 260, false},  {false, "ADDREG1_VALUE", 259, true},
      {false, "ADDREG1_VALUE", 258, true},   {true, "ADDREG1_ENTRYNAME", 260, false},
      {true, "ADDREG1_FLAGS", 300, false},   {true, "ADDREG1_VALUE", 260, false},
      {true, "ADDREG1_VALUE", 259, true},    {true, "ADDREG1_VALUE", 258, true},
      {true, "DELREG1_ENTRYNAME", 300, false}, {true, "DELREG1_ENTRYNAME", 260, false},
      {true, "DELREG1_ENTRYNAME", 259, true},
      {true, "ADDREG1_SUBKEY", 300, true},  // not read in the driver variant
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.driver ? "driver " : "static ") + c.key + " " +
                 std::to_string(c.length));
    installed.clear();
    // Each field holds its own key's name (a root: HKLM), the case's field the long text.
    auto value = [&](const std::string& key) {
      if (key == c.key) return std::string(c.length, 'x');
      return key.find("_ROOT") != std::string::npos ? std::string("HKLM") : key;
    };
    std::vector<std::string> addLines;
    std::vector<std::string> delLines;
    std::string text = "[S]\r\nADDREG=2\r\nDELREG=2\r\n";
    for (const std::string n : {"1", "2"}) {
      for (const char* suffix : {"_ROOT", "_SUBKEY", "_ENTRYNAME", "_FLAGS", "_VALUE"}) {
        text += "ADDREG" + n + suffix + "=" + value("ADDREG" + n + suffix) + "\r\n";
        text += "DELREG" + n + suffix + "=" + value("DELREG" + n + suffix) + "\r\n";
      }
      auto key = [&](const std::string& entry) {
        return c.driver ? "HKLM, \"" + classKey + "\""
                        : value(entry + "_ROOT") + ", \"" + value(entry + "_SUBKEY") + "\"";
      };
      addLines.push_back(key("ADDREG" + n) + ",\"" + value("ADDREG" + n + "_ENTRYNAME") + "\"," +
                         value("ADDREG" + n + "_FLAGS") + "," + value("ADDREG" + n + "_VALUE"));
      delLines.push_back(key("DELREG" + n) + ",\"" + value("DELREG" + n + "_ENTRYNAME") + "\"");
    }
    if (!c.kept) {
      std::vector<std::string>& lines = c.key[0] == 'A' ? addLines : delLines;
      lines.erase(lines.begin());
    }
    machine.files.Put(kSettingsPath, text);
    EXPECT_EQ(1, c.driver ? ApplyDriverAddDel(kSettingsPath, "S", classKey.c_str())
                          : ApplyStaticAddDel(kSettingsPath, "S"));
    std::string expected = Crlf({"[Version]", "signature=\"$CHICAGO$\"", "", "[DefaultInstall]",
                                 "AddReg = Add.reg", "DelReg = Del.reg", "", "[Add.reg]"});
    for (const std::string& line : addLines) expected += line + "\r\n";
    expected += "\r\n[Del.reg]\r\n";
    for (const std::string& line : delLines) expected += line + "\r\n";
    ASSERT_EQ(1u, installed.size());
    EXPECT_EQ(expected, installed[0]);
  }

  // A subkey cut to 260 characters with no value name would delete the cut key's subtree.
  const std::string subkey = "SOFTWARE\\" + std::string(291, 'k');
  machine.registry.SetString("HKLM\\" + subkey.substr(0, 260), "Kept", "x");
  Settings({"[STATICREG]", "DELREG=1", "DELREG1_ROOT=HKLM", "DELREG1_SUBKEY=" + subkey});
  installed.clear();
  EXPECT_EQ(1, ApplyStaticAddDel(kSettingsPath, "STATICREG"));
  ASSERT_EQ(1u, installed.size());
  EXPECT_EQ(Crlf({"[Version]", "signature=\"$CHICAGO$\"", "", "[DefaultInstall]",
                  "DelReg = Del.reg", "", "[Del.reg]"}),
            installed[0]);
  EXPECT_EQ("x", machine.registry.String("HKLM\\" + subkey.substr(0, 260), "Kept"));
}

TEST_F(InfFiles, DriverVariantUsesHklmAndTheClassKeyAndIgnoresRootAndSubkey) {
  const std::string classKey = std::string(kNetClass) + "\\0001";
  machine.registry.SetString("HKLM\\" + classKey, "Obsolete", "x");
  Settings({"[DRIVERREG_PCI\\VEN_1D4A_XP]", "ADDREG=1", "DELREG=1",
            "ADDREG1_ROOT=HKCU", "ADDREG1_SUBKEY=Elsewhere", "ADDREG1_ENTRYNAME=PowerSave",
            "ADDREG1_FLAGS=0x00010001", "ADDREG1_VALUE=0",
            "DELREG1_ROOT=HKCU", "DELREG1_SUBKEY=Elsewhere", "DELREG1_ENTRYNAME=Obsolete"});
  EXPECT_EQ(1, ApplyDriverAddDel(kSettingsPath, "DRIVERREG_PCI\\VEN_1D4A_XP", classKey.c_str()));
  ASSERT_EQ(1u, installed.size());
  EXPECT_EQ(Crlf({"[Version]", "signature=\"$CHICAGO$\"", "", "[DefaultInstall]",
                  "AddReg = Add.reg", "DelReg = Del.reg", "", "[Add.reg]",
                  "HKLM, \"" + classKey + "\",\"PowerSave\",0x00010001,0", "", "[Del.reg]",
                  "HKLM, \"" + classKey + "\",\"Obsolete\""}),
            installed[0]);
  EXPECT_EQ(std::string(kInstallerPath) + " setupapi,InstallHinfSection DefaultInstall 132 " +
                kDriverInf,
            machine.programs.started.at(0).commandLine);
  EXPECT_EQ(0u, machine.registry.Dword("HKLM\\" + classKey, "PowerSave"));
  EXPECT_FALSE(machine.registry.Value("HKLM\\" + classKey, "Obsolete"));
  EXPECT_FALSE(machine.registry.HasKey("HKCU\\Elsewhere"));
  EXPECT_FALSE(machine.files.Exists(kDriverInf));
}

TEST_F(InfFiles, DriverDeleteEntryWithoutValueNameNeverDeletesTheDriverKey) {
  const std::string classKey = std::string(kNetClass) + "\\0001";
  machine.registry.SetString("HKLM\\" + classKey, "Obsolete", "x");
  machine.registry.SetString("HKLM\\" + classKey, "Stale", "y");
  machine.registry.SetString("HKLM\\" + classKey, "MatchingDeviceId", "pci\\ven_1d4a");
  // Entry 2 is a gap, entry 4 names no value: neither becomes a line.
  Settings({"[S]", "DELREG=4", "DELREG1_ENTRYNAME=Obsolete", "DELREG3_ENTRYNAME=Stale",
            "DELREG4_ENTRYNAME="});
  EXPECT_EQ(1, ApplyDriverAddDel(kSettingsPath, "S", classKey.c_str()));
  ASSERT_EQ(1u, installed.size());
  EXPECT_EQ(Crlf({"[Version]", "signature=\"$CHICAGO$\"", "", "[DefaultInstall]",
                  "DelReg = Del.reg", "", "[Del.reg]",
                  "HKLM, \"" + classKey + "\",\"Obsolete\"",
                  "HKLM, \"" + classKey + "\",\"Stale\""}),
            installed[0]);
  EXPECT_TRUE(machine.registry.HasKey("HKLM\\" + classKey));
  EXPECT_EQ("pci\\ven_1d4a", machine.registry.String("HKLM\\" + classKey, "MatchingDeviceId"));
  EXPECT_FALSE(machine.registry.Value("HKLM\\" + classKey, "Obsolete"));
  EXPECT_FALSE(machine.registry.Value("HKLM\\" + classKey, "Stale"));

  // The static variant names root and subkey itself: its lines stay as written.
  Settings({"[T]", "DELREG=1", "DELREG1_ROOT=HKLM", "DELREG1_SUBKEY=SOFTWARE\\Gone"});
  machine.registry.SetString("HKLM\\SOFTWARE\\Gone", "V", "x");
  EXPECT_EQ(1, ApplyStaticAddDel(kSettingsPath, "T"));
  ASSERT_EQ(2u, installed.size());
  EXPECT_NE(std::string::npos, installed[1].find("[Del.reg]\r\nHKLM, \"SOFTWARE\\Gone\",\"\"\r\n"));
  EXPECT_FALSE(machine.registry.HasKey("HKLM\\SOFTWARE\\Gone"));
}

TEST_F(InfFiles, TextLeftByAnInterruptedRunIsNotAppliedAgain) {
  machine.files.Put(kDriverInf, Crlf({"[Version]", "signature=\"$CHICAGO$\"", "",
                                      "[DefaultInstall]", "AddReg = Add.reg", "", "[Add.reg]",
                                      "HKLM, \"Stale\",\"Old\",0,1"}));
  Settings({"[S]", "ADDREG=1", "ADDREG1_ENTRYNAME=New", "ADDREG1_FLAGS=0", "ADDREG1_VALUE=2"});
  EXPECT_EQ(1, ApplyDriverAddDel(kSettingsPath, "S", "Key"));
  ASSERT_EQ(1u, installed.size());
  EXPECT_EQ(0u, installed[0].find("[Version]\r\n"));
  EXPECT_EQ(std::string::npos, installed[0].find("Stale"));
  EXPECT_FALSE(machine.registry.HasKey("HKLM\\Stale"));
  EXPECT_EQ("2", machine.registry.String("HKLM\\Key", "New"));
}

TEST_F(InfFiles, NegativeCountCountsAsZero) {
  Settings({"[S]", "ADDREG=-1", "DELREG=1", "DELREG1_ROOT=HKLM", "DELREG1_SUBKEY=K",
            "DELREG1_ENTRYNAME=V"});
  EXPECT_EQ(1, ApplyStaticAddDel(kSettingsPath, "S"));
  ASSERT_EQ(1u, installed.size());
  EXPECT_EQ(std::string::npos, installed[0].find("Add"));
  // Only the three keys of the one delete entry were read.
  EXPECT_EQ(3, machine.Calls("GetPrivateProfileStringA"));
}

TEST_F(InfFiles, HugeCountsWriteRowsUpToTheBoundOnly) {
  const std::string last = std::to_string(kMaxListEntries);
  const std::string beyond = std::to_string(kMaxListEntries + 1);
  Settings({"[S]", "ADDREG=2000000000", "DELREG=2000000000", "ADDREG" + last + "_ROOT=HKLM",
            "ADDREG" + beyond + "_ROOT=HKCU", "DELREG" + last + "_ENTRYNAME=Last",
            "DELREG" + beyond + "_ENTRYNAME=Beyond"});
  EXPECT_EQ(1, ApplyStaticAddDel(kSettingsPath, "S"));
  ASSERT_EQ(1u, installed.size());
  const std::string& inf = installed[0];
  std::size_t rows = 0;  // every row holds ", \"" once: after the root, before the subkey
  for (std::size_t at = inf.find(", \""); at != std::string::npos; at = inf.find(", \"", at + 1))
    ++rows;
  EXPECT_EQ(2 * kMaxListEntries, rows);
  EXPECT_NE(std::string::npos, inf.find("HKLM, \"\",\"\",,\r\n"));
  EXPECT_NE(std::string::npos, inf.find(", \"\",\"Last\"\r\n"));
  EXPECT_EQ(std::string::npos, inf.find("HKCU"));
  EXPECT_EQ(std::string::npos, inf.find("Beyond"));
}

TEST_F(InfFiles, FileThatCannotBeOpenedOrClosedIsNeverApplied) {
  Settings({"[S]", "ADDREG=1"});
  machine.Fail("OpenTextStream", 0, 1);
  EXPECT_EQ(0, ApplyStaticAddDel(kSettingsPath, "S"));
  EXPECT_EQ(0, machine.Calls("CreateProcessA"));
  EXPECT_FALSE(machine.files.Exists(kStaticInf));

  // Closing fails: the file stays, and nothing is started.
  machine.files.failCloseOf.insert(kStaticInf);
  EXPECT_EQ(0, ApplyStaticAddDel(kSettingsPath, "S"));
  EXPECT_EQ(0, machine.Calls("CreateProcessA"));
  EXPECT_EQ(0, machine.Calls("DeleteFileA"));
  EXPECT_TRUE(machine.files.Exists(kStaticInf));

  // A TEMP directory that does not exist.
  machine.kernel.environment["TEMP"] = "C:\\Gone";
  EXPECT_EQ(0, ApplyStaticAddDel(kSettingsPath, "S"));
  EXPECT_EQ(0, machine.Calls("CreateProcessA"));
}

TEST_F(InfFiles, InstallerThatCannotStartIsNotWaitedForAndTheFileStillGoes) {
  Settings({"[S]", "ADDREG=1"});
  machine.Fail("CreateProcessA", ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(1, ApplyStaticAddDel(kSettingsPath, "S"));
  EXPECT_EQ(0, machine.Calls("WaitForSingleObject"));
  EXPECT_EQ(1, machine.Calls("DeleteFileA"));
  EXPECT_FALSE(machine.files.Exists(kStaticInf));
}

TEST_F(InfFiles, MissingOrOverlongEnvironmentNeverYieldsAShortenedPath) {
  Settings({"[S]", "ADDREG=1"});
  // No TEMP: there is no file to write.
  machine.kernel.environment.erase("TEMP");
  EXPECT_EQ(0, ApplyStaticAddDel(kSettingsPath, "S"));
  // A TEMP whose INF path would exceed 259 characters, though the directory exists.
  std::string longTemp = "C:\\" + std::string(240, 't');
  machine.files.AddDirectory(longTemp);
  machine.kernel.environment["TEMP"] = longTemp;
  EXPECT_EQ(0, ApplyStaticAddDel(kSettingsPath, "S"));
  EXPECT_EQ(0, machine.Calls("OpenTextStream"));

  // No SystemRoot, or one too long for the installer path: nothing is started, the INF
  // is still removed.
  machine.kernel.environment["TEMP"] = "C:\\TEMP";
  machine.kernel.environment.erase("SystemRoot");
  EXPECT_EQ(1, ApplyStaticAddDel(kSettingsPath, "S"));
  machine.kernel.environment["SystemRoot"] = "C:\\" + std::string(240, 'w');
  EXPECT_EQ(1, ApplyStaticAddDel(kSettingsPath, "S"));
  EXPECT_EQ(0, machine.Calls("CreateProcessA"));
  EXPECT_EQ(2, machine.Calls("DeleteFileA"));
  EXPECT_FALSE(machine.files.Exists(kStaticInf));
}

using RunAndWaitTest = PakrunTest;

TEST_F(RunAndWaitTest, StartsWaitsAndReleasesBothHandles) {
  int runs = 0;
  machine.programs.Add("C:\\Setup\\Setup.exe", [&runs](sim::Machine&, const std::string&) {
    ++runs;
    return 3u;
  });
  EXPECT_EQ(1, RunAndWait("\"C:\\Setup\\Setup.exe\" /q"));
  EXPECT_EQ(1, runs);
  EXPECT_EQ(1, machine.Calls("WaitForSingleObject"));
  // Open-handle accounting at tear-down covers the process and thread handles.
}

TEST_F(RunAndWaitTest, ProgramThatCannotStartOrDoesNotFitIsNotWaitedFor) {
  EXPECT_EQ(0, RunAndWait("C:\\Setup\\Missing.exe"));
  machine.programs.Add("C:\\Setup\\Setup.exe", [](sim::Machine&, const std::string&) { return 0u; });
  std::string tooLong = "C:\\Setup\\Setup.exe " + std::string(kCommandLineCapacity, 'a');
  EXPECT_EQ(0, RunAndWait(tooLong.c_str()));
  EXPECT_EQ(1, machine.Calls("CreateProcessA"));
  EXPECT_EQ(0, machine.Calls("WaitForSingleObject"));
}

}  // namespace
