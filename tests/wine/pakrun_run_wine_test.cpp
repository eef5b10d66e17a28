// Pakrun.exe for real: its settings file beside it in a folder whose name has blanks, a
// stand-in setup program that records the command line it got, the Driver Cache
// renames, the real INF installer and "regedit /s", and devices created through SetupAPI,
// with a SETUPAPI.DLL planted beside the program that must never be loaded.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "pakrun_scene.h"
#include "testbed/support/devices.h"
#include "support.h"

namespace {

constexpr char kNetClassGuid[] = "{4D36E972-E325-11CE-BFC1-08002BE10318}";
const std::string kClassRoot = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
const std::string kTestKey = "SOFTWARE\\PakrunRunWineTest";
// Where Wine takes this program's library load order from.
const std::string kDllOverrides = "Software\\Wine\\AppDefaults\\Pakrun.exe\\DllOverrides";

std::string WindowsDir() {
  char dir[MAX_PATH] = {};
  GetWindowsDirectoryA(dir, sizeof dir);
  return dir;
}

class PakrunRunWine : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = wt::ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    dir_ = base_ + "\\Vendor Setup";
    ASSERT_TRUE(wt::CopyFromBuild("Pakrun.exe", dir_ + "\\Pakrun.exe"));
    ASSERT_TRUE(wt::CopyFromBuild("setupstub.exe", dir_ + "\\Setup.exe"));
    ASSERT_TRUE(wt::CopyFromBuild("setupstub.exe", dir_ + "\\Netprep.exe"));
    char shortDir[MAX_PATH] = {};
    DWORD length = GetShortPathNameA(dir_.c_str(), shortDir, sizeof shortDir);
    ASSERT_TRUE(length > 0 && length < sizeof shortDir);
    shortDir_ = shortDir;
    ASSERT_EQ(std::string::npos, shortDir_.find(' ')) << shortDir_;
  }
  void TearDown() override {
    wt::SetReportedVersion("Pakrun.exe", "");
    wt::RegDeleteTree(HKEY_LOCAL_MACHINE, kTestKey);
    if (!deviceInstance_.empty()) {
      wt::RemoveDevice(deviceInstance_);
      wt::RegDeleteTree(HKEY_LOCAL_MACHINE, deviceClassKey_);
    }
  }

  void Settings(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    ASSERT_TRUE(wt::WriteFile(dir_ + "\\Pakrun.ini", text));
  }

  std::string PakrunCommand(const std::string& tail = "") const {
    return "\"" + dir_ + "\\Pakrun.exe\"" + (tail.empty() ? "" : " " + tail);
  }

  // The command lines a stand-in setup program recorded, one per run.
  std::vector<std::string> Recorded(const char* program) const {
    std::vector<std::string> lines;
    std::string text = wt::ReadFile(dir_ + "\\" + program + ".log");
    for (std::size_t at = 0; at < text.size();) {
      std::size_t end = text.find("\r\n", at);
      if (end == std::string::npos) end = text.size();
      lines.push_back(text.substr(at, end - at));
      at = end + 2;
    }
    return lines;
  }

  // A device of the settings' [DRIVERREG] list and one section per OS suffix, each writing
  // its own suffix as "Section" into the device's driver key.
  void SetUpDeviceSections() {
    const std::string id = "PCI\\VEN_1D4A&DEV_0303&SUBSYS_00031D4A";
    const std::string driver = std::string(kNetClassGuid) + "\\0043";
    deviceInstance_ = id + "&REV_01\\4&PAKRUN&0&00F0";
    deviceClassKey_ = kClassRoot + driver;
    wt::RemoveDevice(deviceInstance_);
    ASSERT_TRUE(wt::RegDeleteTree(HKEY_LOCAL_MACHINE, deviceClassKey_));
    ASSERT_TRUE(wt::CreateDevice(deviceInstance_, {id + "&REV_01", id}, driver));
    // A driver package's folder may carry a SETUPAPI.DLL of its own. It exports nothing,
    // so a program that took it would also miss every device call.
    ASSERT_TRUE(wt::CopyFromBuild("planted.dll", dir_ + "\\SETUPAPI.DLL"));
    std::vector<std::string> lines = {"[PARAMS]", "DRIVERREG=1", "[DRIVERREG]", "NIC=1", "DEV1=" + id};
    for (const char* suffix : {"_XP", "_2000", "_2003", "_ELSE"}) {
      lines.push_back("[DRIVERREG_" + id + suffix + "]");
      lines.push_back("ADDREG=1");
      lines.push_back("ADDREG1_ENTRYNAME=Section");
      lines.push_back("ADDREG1_FLAGS=0");
      lines.push_back(std::string("ADDREG1_VALUE=") + suffix);
    }
    Settings(lines);
  }

  // One run of Pakrun.exe under the reported version: the setup program runs (its
  // `runs`-th start), then the section of the version's suffix is applied: "_2000",
  // "_XP", "_2003" for Windows 2000, XP and 2003, "_ELSE" for 98 and Wine's default 7.
  void RunDeviceSection(const std::string& version, std::size_t runs) {
    static const struct {
      const char* version;
      const char* suffix;
    } kSuffixes[] = {{"win98", "_ELSE"}, {"win2k", "_2000"}, {"winxp", "_XP"},
                     {"win2003", "_2003"}, {"", "_ELSE"}};
    const char* expected = nullptr;
    for (const auto& entry : kSuffixes) {
      if (version == entry.version) expected = entry.suffix;
    }
    ASSERT_NE(nullptr, expected) << version;
    ASSERT_TRUE(wt::SetReportedVersion("Pakrun.exe", version));
    // The native load order that Windows XP uses for SETUPAPI.DLL, which is not a known
    // system library there: loaded by name, the copy beside the program would come first.
    // Set after the version, whose removal takes the program's whole key with it.
    ASSERT_TRUE(wt::RegSetString(HKEY_CURRENT_USER, kDllOverrides, "setupapi", "native,builtin"));
    ASSERT_TRUE(wt::RegSetString(HKEY_LOCAL_MACHINE, deviceClassKey_, "Section", "none"));
    EXPECT_EQ(1u, wt::Run(PakrunCommand()));
    EXPECT_FALSE(wt::FileExists(dir_ + "\\SETUPAPI.DLL.loaded"))
        << wt::ReadFile(dir_ + "\\SETUPAPI.DLL.loaded");
    std::vector<std::string> recorded = Recorded("Setup.exe");
    ASSERT_EQ(runs, recorded.size());
    EXPECT_EQ("\"" + dir_ + "\\Setup.exe\"", recorded.back());
    std::string text;
    EXPECT_TRUE(wt::RegGetString(HKEY_LOCAL_MACHINE, deviceClassKey_, "Section", &text));
    EXPECT_EQ(expected, text);
  }

  void DeviceSectionUnder(const std::string& version) {
    ASSERT_NO_FATAL_FAILURE(SetUpDeviceSections());
    RunDeviceSection(version, 1);
  }

  std::string base_;
  std::string dir_;
  std::string shortDir_;
  std::string deviceInstance_;
  std::string deviceClassKey_;
};

TEST_F(PakrunRunWine, EachCommandLineFormReachesTheSetupProgram) {
  // A response file and a log in the program's folder: a line longer than MAX_PATH.
  std::string tail = "-s  -f \"a b\" /f1\"" + dir_ + "\\setup.iss\" /f2\"" + dir_ + "\\setup.log\"";
  while (tail.size() < 200 || tail.size() + dir_.size() < 280) tail += " /v";
  Settings({"[PARAMS]", "SWAPCMD=1"});
  EXPECT_EQ(1u, wt::Run(PakrunCommand(tail)));
  EXPECT_EQ(1u, wt::Run(PakrunCommand()));
  Settings({"[PARAMS]", "SWAPCMD=2", "CMDEXE=Missing.exe"});
  EXPECT_EQ(1u, wt::Run(PakrunCommand(tail)));
  EXPECT_EQ(1u, wt::Run(PakrunCommand()));
  ASSERT_TRUE(DeleteFileA((dir_ + "\\Pakrun.ini").c_str()));  // no settings at all
  EXPECT_EQ(1u, wt::Run(PakrunCommand("/q")));
  EXPECT_EQ(1u, wt::Run(PakrunCommand() + "-s"));  // a quoted name ends at its quote

  EXPECT_EQ((std::vector<std::string>{
                "\"" + dir_ + "\\Netprep.exe\" /INI " + shortDir_ + "\\Netprep.ini " + tail,
                "\"" + dir_ + "\\Netprep.exe\" /INI " + shortDir_ + "\\Netprep.ini"}),
            Recorded("Netprep.exe"));
  EXPECT_EQ((std::vector<std::string>{"\"" + dir_ + "\\Setup.exe\" " + tail,
                                      "\"" + dir_ + "\\Setup.exe\"",
                                      "\"" + dir_ + "\\Setup.exe\" /q",
                                      "\"" + dir_ + "\\Setup.exe\" -s"}),
            Recorded("Setup.exe"));
}

TEST_F(PakrunRunWine, SecondCopyEndsAtOnceWhileTheFirstWaitsForItsSetupProgram) {
  Settings({"[PARAMS]", "SWAPCMD=0"});
  const std::string hold = dir_ + "\\Setup.exe.hold";
  ASSERT_TRUE(wt::WriteFile(hold, ""));
  wt::Child first;
  ASSERT_TRUE(first.Start(PakrunCommand("first")));
  EXPECT_TRUE(wt::WaitUntil([this] { return Recorded("Setup.exe").size() == 1; }, wt::kSettleBoundMs));
  ASSERT_TRUE(first.Running());

  // A copy of the same file name from another folder is the same program.
  ASSERT_TRUE(wt::CopyFromBuild("Pakrun.exe", base_ + "\\other\\Pakrun.exe"));
  ASSERT_TRUE(wt::CopyFromBuild("setupstub.exe", base_ + "\\other\\Setup.exe"));
  DWORD before = GetTickCount();
  EXPECT_EQ(1u, wt::Run(PakrunCommand("second")));
  EXPECT_EQ(1u, wt::Run("\"" + base_ + "\\other\\Pakrun.exe\" third"));
  EXPECT_LT(GetTickCount() - before, 10000u);
  EXPECT_TRUE(first.Running());
  EXPECT_EQ(1u, Recorded("Setup.exe").size());
  EXPECT_FALSE(wt::FileExists(base_ + "\\other\\Setup.exe.log"));

  ASSERT_TRUE(DeleteFileA(hold.c_str()));
  DWORD code = 0;
  EXPECT_TRUE(first.WaitExit(wt::kRunBoundMs, &code));
  EXPECT_EQ(1u, code);
  // Once the first has ended, the next copy runs.
  EXPECT_EQ(1u, wt::Run(PakrunCommand("fourth")));
  EXPECT_EQ((std::vector<std::string>{"\"" + dir_ + "\\Setup.exe\" first",
                                      "\"" + dir_ + "\\Setup.exe\" fourth"}),
            Recorded("Setup.exe"));
}

TEST_F(PakrunRunWine, DriverCacheFilesAreRenamedUnlessTheOrgFileExists) {
  const std::string cache = WindowsDir() + "\\Driver Cache";
  const std::vector<std::string> names = {"tq3p81.inf", "tq3p81.org", "tq3p8.inf", "tq3p8.org"};
  for (const std::string& name : names) DeleteFileA((cache + "\\" + name).c_str());
  ASSERT_TRUE(wt::WriteFile(cache + "\\tq3p81.inf", "new81"));
  ASSERT_TRUE(wt::WriteFile(cache + "\\tq3p8.inf", "new8"));
  ASSERT_TRUE(wt::WriteFile(cache + "\\tq3p8.org", "old8"));
  Settings({"[PARAMS]", "RENAME=1"});

  EXPECT_EQ(1u, wt::Run(PakrunCommand()));

  EXPECT_FALSE(wt::FileExists(cache + "\\tq3p81.inf"));
  EXPECT_EQ("new81", wt::ReadFile(cache + "\\tq3p81.org"));
  EXPECT_EQ("new8", wt::ReadFile(cache + "\\tq3p8.inf"));  // refused: the ".org" is there
  EXPECT_EQ("old8", wt::ReadFile(cache + "\\tq3p8.org"));
  EXPECT_EQ(1u, Recorded("Setup.exe").size());
  for (const std::string& name : names) DeleteFileA((cache + "\\" + name).c_str());
}

TEST_F(PakrunRunWine, StaticSectionAndRegistryScriptAreAppliedForReal) {
  ASSERT_TRUE(wt::RegSetString(HKEY_LOCAL_MACHINE, kTestKey, "Obsolete", "old"));
  ASSERT_TRUE(wt::WriteFile(dir_ + "\\Pakrun.reg", wt::RegistryScript(kTestKey)));
  // The setup program is missing: the follow-up steps run all the same.
  ASSERT_TRUE(DeleteFileA((dir_ + "\\Setup.exe").c_str()));
  // Registry editors planted in Pakrun's folder and in the current directory, which a
  // search for "regedit" by name would find before the Windows directory's.
  const std::string cwd = base_ + "\\cwd";
  ASSERT_TRUE(wt::CopyFromBuild("setupstub.exe", dir_ + "\\regedit.exe"));
  ASSERT_TRUE(wt::CopyFromBuild("setupstub.exe", cwd + "\\regedit.exe"));
  Settings(wt::StaticSectionSettings(kTestKey));

  EXPECT_EQ(1u, wt::Run(PakrunCommand(), cwd));

  EXPECT_TRUE(Recorded("regedit.exe").empty()) << "the regedit.exe beside Pakrun was started";
  EXPECT_FALSE(wt::FileExists(cwd + "\\regedit.exe.log")) << "the current directory's regedit.exe was started";
  wt::ExpectStaticSectionAndScriptApplied(kTestKey);
  EXPECT_TRUE(Recorded("Setup.exe").empty());
}

TEST_F(PakrunRunWine, CountsMistypedAsBillionsEndWithinMinutes) {
  // Every list with a count of 2000000000 (a typo for 2): each is read to its first 1000
  // entries, so the run ends within its bound (about 15 s on an idle machine, where all
  // the entries would take days) and the entry that is there applies. The bound leaves
  // room for a loaded machine: it tells a bounded read from an unbounded one, not speed.
  Settings({"[PARAMS]", "CLEANUP=1", "REFRESH=1", "STATICREG=1", "DRIVERREG=1",
            "[CLEANUP]", "CLEANCOUNT=2000000000", "[REFRESH]", "DETECTCOUNT=2000000000",
            "[DRIVERREG]", "NIC=2000000000",
            "[STATICREG]", "ADDREG=2000000000", "DELREG=2000000000",
            "ADDREG1_ROOT=HKLM", "ADDREG1_SUBKEY=" + kTestKey, "ADDREG1_ENTRYNAME=UseZeroConfig",
            "ADDREG1_FLAGS=0x00010001", "ADDREG1_VALUE=1"});
  const DWORD start = GetTickCount();
  wt::RunResult run = wt::RunBounded(PakrunCommand(), "", 150000);
  std::printf("Pakrun with five counts of 2000000000 ran %lu ms\n",
              static_cast<unsigned long>(GetTickCount() - start));
  ASSERT_TRUE(run.started);
  EXPECT_FALSE(run.ended) << "still running at the bound";
  EXPECT_EQ(1u, run.exitCode);
  DWORD number = 0;
  EXPECT_TRUE(wt::RegGetDword(HKEY_LOCAL_MACHINE, kTestKey, "UseZeroConfig", &number));
  EXPECT_EQ(1u, number);
  EXPECT_EQ(1u, Recorded("Setup.exe").size());
}

TEST_F(PakrunRunWine, DeviceSectionFollowsTheReportedWindowsVersion) {
  ASSERT_NO_FATAL_FAILURE(SetUpDeviceSections());
  std::size_t runs = 0;
  for (const char* version : {"winxp", "win2k", "win2003", "win98", ""}) {
    SCOPED_TRACE(version);
    RunDeviceSection(version, ++runs);
  }
  EXPECT_EQ(5u, Recorded("Setup.exe").size());
}

TEST_F(PakrunRunWine, WithoutTheSystemsSetupApiTheDeviceStepsFindNoDevice) {
  // No SETUPAPI.DLL can be loaded at all: the system's copy is not to be had, and the one
  // beside the program must not stand in for it. The run goes on as on a machine without
  // the device: the setup program runs, no device section is applied, the same exit code.
  ASSERT_NO_FATAL_FAILURE(SetUpDeviceSections());
  ASSERT_TRUE(wt::RegSetString(HKEY_CURRENT_USER, kDllOverrides, "setupapi", ""));
  ASSERT_TRUE(wt::RegSetString(HKEY_LOCAL_MACHINE, deviceClassKey_, "Section", "none"));
  EXPECT_EQ(1u, wt::Run(PakrunCommand()));
  EXPECT_FALSE(wt::FileExists(dir_ + "\\SETUPAPI.DLL.loaded"))
      << wt::ReadFile(dir_ + "\\SETUPAPI.DLL.loaded");
  EXPECT_EQ(1u, Recorded("Setup.exe").size());
  std::string text;
  EXPECT_TRUE(wt::RegGetString(HKEY_LOCAL_MACHINE, deviceClassKey_, "Section", &text));
  EXPECT_EQ("none", text);
}

TEST_F(PakrunRunWine, Matrix_win98) { DeviceSectionUnder("win98"); }
TEST_F(PakrunRunWine, Matrix_win2k) { DeviceSectionUnder("win2k"); }
TEST_F(PakrunRunWine, Matrix_winxp) { DeviceSectionUnder("winxp"); }
TEST_F(PakrunRunWine, Matrix_win2003) { DeviceSectionUnder("win2003"); }
TEST_F(PakrunRunWine, Matrix_default) { DeviceSectionUnder(""); }

}  // namespace
