// The programs on a 64-bit system, in the suite's 64-bit prefix: system32 is the 64-bit
// folder and HKLM\SOFTWARE the 64-bit view; a 32-bit program gets SysWOW64 and
// Wow6432Node for them. Wow64X86Wine starts the shipped 32-bit files (TOOLS_SHIPPED32_DIR)
// byte for byte under WOW64; Wow64X64Wine starts this build's x86_64 programs. The test
// program itself is 64-bit: its own view is the 64-bit one.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "airtoggle/managers.h"
#include "airtoggle_scene.h"
#include "pakrun_scene.h"
#include "scrubnet_scene.h"
#include "support.h"
#include "testbed/support/devices.h"
#include "testbed/support/services.h"

namespace {

enum class Bits { k32, k64 };

const std::string kPakrunKey = "SOFTWARE\\PakrunWow64WineTest";

std::string Wow64Dir() {
  char path[MAX_PATH] = {};
  UINT length = GetSystemWow64DirectoryA(path, sizeof path);
  return std::string(path, length < sizeof path ? length : 0);
}

// Copies a program of the given build to `target`: the shipped 32-bit file, or this
// build's own, and checks that it is of that build.
void CopyProgram(const std::string& name, Bits bits, const std::string& target) {
  std::string source = wt::SourceOf(name);
  if (bits == Bits::k32) {
    char dir[MAX_PATH] = {};
    DWORD length = GetEnvironmentVariableA("TOOLS_SHIPPED32_DIR", dir, sizeof dir);
    ASSERT_TRUE(length > 0 && length < sizeof dir) << "TOOLS_SHIPPED32_DIR is not set";
    source = std::string(dir) + "\\" + name;
  }
  ASSERT_TRUE(wt::MakeDirs(target.substr(0, target.find_last_of('\\'))));
  ASSERT_TRUE(CopyFileA(source.c_str(), target.c_str(), FALSE)) << source << " (error " << GetLastError() << ")";
  DWORD type = 0;
  ASSERT_TRUE(GetBinaryTypeA(target.c_str(), &type)) << target;
  const DWORD expected = bits == Bits::k32 ? DWORD{SCS_32BIT_BINARY} : DWORD{SCS_64BIT_BINARY};
  ASSERT_EQ(expected, type) << target;
}

class Wow64Wine : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = wt::ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    wow64_ = Wow64Dir();
    ASSERT_FALSE(wow64_.empty()) << "no SysWOW64: the prefix is not a 64-bit one";
  }

  void TearDown() override {
    if (scrubnetSeeded_) scrubnet_.Clear();
    if (airtoggleSeeded_) {
      airtoggle_.Clear();
      wt::RegDeleteTree(HKEY_LOCAL_MACHINE, kInterfacesKey, KEY_WOW64_32KEY);
    }
    for (const char* file : {"\\drivers\\kv7403.sys", "\\Svcpilot.exe", "\\radioapi.dll"})
      DeleteFileA((wow64_ + file).c_str());
    for (REGSAM view : {REGSAM{KEY_WOW64_32KEY}, REGSAM{KEY_WOW64_64KEY}}) wt::RegDeleteTree(HKEY_LOCAL_MACHINE, kPakrunKey, view);
  }

  // One run of Scrubnet.exe over the chipset's driver as installed: its devices, a
  // matching driver key (oem70) and another vendor's (oem72) with their INF, PNF and CAT
  // files, the driver file in system32\drivers and a 32-bit twin in SysWOW64\drivers,
  // where a 32-bit program's deletions of system32 files land.
  void ScrubnetRun(Bits bits) {
    ASSERT_NO_FATAL_FAILURE(CopyProgram("Scrubnet.exe", bits, dir_ + "\\Scrubnet.exe"));
    scrubnetSeeded_ = true;
    ASSERT_NO_FATAL_FAILURE(scrubnet_.Seed());
    ASSERT_NO_FATAL_FAILURE(scrubnet_.DriverKey(wt::kNtClassKey, "0070", "ComponentId",
                                                "PCI\\VEN_1D4A&DEV_7403&SUBSYS_00011D4A", "oem70"));
    ASSERT_NO_FATAL_FAILURE(scrubnet_.DriverKey(wt::kNtClassKey, "0072", "ComponentId",
                                                "PCI\\VEN_8086&DEV_1229", "oem72"));
    const std::string twin = wow64_ + "\\drivers\\kv7403.sys";
    ASSERT_TRUE(wt::WriteFile(twin, "x"));

    EXPECT_EQ(0u, wt::Run("\"" + dir_ + "\\Scrubnet.exe\"", dir_));

    const bool removes = bits == Bits::k64;
    for (const std::string& id : wt::kChipsetDevices) EXPECT_EQ(!removes, wt::DeviceInstalled(id)) << id;
    EXPECT_TRUE(wt::DeviceInstalled(wt::kOtherDevice));
    for (const std::string& path : scrubnet_.InstalledInf("oem70")) EXPECT_EQ(!removes, wt::FileExists(path)) << path;
    for (const std::string& path : scrubnet_.InstalledInf("oem72")) EXPECT_TRUE(wt::FileExists(path)) << path;
    EXPECT_EQ(!removes, wt::FileExists(scrubnet_.NtDriver())) << scrubnet_.NtDriver();
    if (!removes) {
      EXPECT_TRUE(wt::FileExists(twin)) << twin;
    }
    for (const std::string& path : scrubnet_.NineXCopies()) EXPECT_TRUE(wt::FileExists(path)) << path;
    for (const char* sub : {"0070", "0072"})
      EXPECT_TRUE(wt::RegKeyExists(HKEY_LOCAL_MACHINE, wt::kNtClassKey + "\\" + sub + "\\Ndi\\Params")) << sub;
  }

  // One run of Pakrun.exe with a static section and a registry script (and no setup
  // program), with "Obsolete" (which the section deletes) in both views: the run changes
  // its own view only.
  void PakrunRun(Bits bits) {
    const REGSAM own = bits == Bits::k32 ? REGSAM{KEY_WOW64_32KEY} : REGSAM{KEY_WOW64_64KEY};
    const REGSAM other = bits == Bits::k32 ? REGSAM{KEY_WOW64_64KEY} : REGSAM{KEY_WOW64_32KEY};
    const std::string dir = dir_ + "\\Vendor Setup";
    ASSERT_NO_FATAL_FAILURE(CopyProgram("Pakrun.exe", bits, dir + "\\Pakrun.exe"));
    std::string settings;
    for (const std::string& line : wt::StaticSectionSettings(kPakrunKey)) settings += line + "\r\n";
    ASSERT_TRUE(wt::WriteFile(dir + "\\Pakrun.ini", settings));
    ASSERT_TRUE(wt::WriteFile(dir + "\\Pakrun.reg", wt::RegistryScript(kPakrunKey)));
    for (REGSAM view : {own, other}) {
      ASSERT_TRUE(wt::RegDeleteTree(HKEY_LOCAL_MACHINE, kPakrunKey, view));
      ASSERT_TRUE(wt::RegSetString(HKEY_LOCAL_MACHINE, kPakrunKey, "Obsolete", "old", view));
    }

    EXPECT_EQ(1u, wt::Run("\"" + dir + "\\Pakrun.exe\"", dir));

    wt::ExpectStaticSectionAndScriptApplied(kPakrunKey, own);
    std::string text;
    DWORD number = 0;
    EXPECT_TRUE(wt::RegGetString(HKEY_LOCAL_MACHINE, kPakrunKey, "Obsolete", &text, other));
    EXPECT_FALSE(wt::RegGetDword(HKEY_LOCAL_MACHINE, kPakrunKey, "UseZeroConfig", &number, other));
    EXPECT_FALSE(wt::RegKeyExists(HKEY_LOCAL_MACHINE, kPakrunKey + "\\Script", other));
  }

  std::string dir_;
  std::string wow64_;
  wt::ScrubnetScene scrubnet_;
  bool scrubnetSeeded_ = false;
  wt::AirtoggleScene airtoggle_;
  bool airtoggleSeeded_ = false;
};

class Wow64X86Wine : public Wow64Wine {};
class Wow64X64Wine : public Wow64Wine {};

TEST_F(Wow64X86Wine, ScrubnetLeavesDevicesFilesAndKeysAsTheyWere) { ScrubnetRun(Bits::k32); }
TEST_F(Wow64X64Wine, ScrubnetRemovesTheDevicesTheInstalledInfAndTheDriverFile) { ScrubnetRun(Bits::k64); }

TEST_F(Wow64X86Wine, PakrunAppliesItsStaticSectionAndScriptToThe32BitView) { PakrunRun(Bits::k32); }
TEST_F(Wow64X64Wine, PakrunAppliesItsStaticSectionAndScriptToThe64BitView) { PakrunRun(Bits::k64); }

TEST_F(Wow64X86Wine, SvcpilotWritesTheFlagsForThe64BitServiceAndItsModeIntoItsOwnView) {
  using Scene = wt::AirtoggleScene;
  airtoggleSeeded_ = true;
  // The 64-bit view: the interface records the 64-bit zero-configuration service reads,
  // and a recorded mode 0 that is not this program's. The 32-bit view: the recorded mode 0
  // that the 32-bit vendor utility shares with it, and no interface records.
  ASSERT_NO_FATAL_FAILURE(airtoggle_.Seed());
  ASSERT_TRUE(wt::RegDeleteTree(HKEY_LOCAL_MACHINE, kInterfacesKey, KEY_WOW64_32KEY));
  ASSERT_TRUE(wt::RegSetDword(HKEY_LOCAL_MACHINE, kVendorSettingsKey, kUseZeroConfigValue, 0, KEY_WOW64_32KEY));
  // Installed where a 32-bit program's system directory is, beside a 32-bit radioapi.dll,
  // and started as the vendor utility starts it: by the system directory the program is
  // told (system32), which for a 32-bit program is SysWOW64.
  const std::string program = wow64_ + "\\Svcpilot.exe";
  ASSERT_NO_FATAL_FAILURE(CopyProgram("Svcpilot.exe", Bits::k32, program));
  ASSERT_TRUE(CopyFileA((wt::BuildDir() + "\\x86\\radioapi.dll").c_str(), (wow64_ + "\\radioapi.dll").c_str(), FALSE));
  ASSERT_TRUE(wt::BringTo(kZeroConfigService, SERVICE_RUNNING));
  Scene::ClearRecords();

  EXPECT_EQ(0u, wt::Run(wt::SystemDir() + "\\Svcpilot.exe -installer", "", program));

  DWORD mode = 0xDEADBEEFu;
  EXPECT_TRUE(wt::RegGetDword(HKEY_LOCAL_MACHINE, kVendorSettingsKey, kUseZeroConfigValue, &mode, KEY_WOW64_32KEY));
  EXPECT_EQ(1u, mode);
  EXPECT_EQ(0u, Scene::RecordedMode()) << "the 64-bit view's recorded mode changed";
  EXPECT_EQ(0x00008002u, Scene::Flags(wt::kGuidA));
  EXPECT_EQ(0x00818002u, Scene::Flags(wt::kGuidB));
  EXPECT_EQ(0x0000F002u, Scene::Flags(wt::kGuidC));
  // The 64-bit service, restarted, found the new flags.
  EXPECT_EQ((Scene::Lines{"WZCSVC stop", Scene::StartWith(0x00008002u, 0x00818002u, 0x0000F002u)}),
            Scene::Journal());
  EXPECT_FALSE(wt::RegKeyExists(HKEY_LOCAL_MACHINE, kInterfacesKey, KEY_WOW64_32KEY))
      << "interface records written into the 32-bit view";
}

TEST_F(Wow64X86Wine, QuitpanelEndsA64BitLinkdeskAndSwitcher) {
  const std::string quitpanel = dir_ + "\\Quitpanel.exe";
  ASSERT_NO_FATAL_FAILURE(CopyProgram("Quitpanel.exe", Bits::k32, quitpanel));
  auto desk = wt::StartStandIn(dir_ + "\\desk\\Linkdesk.exe");
  auto pilot = wt::StartStandIn(dir_ + "\\pilot\\Svcpilot.exe");
  auto bystander = wt::StartStandIn(dir_ + "\\other\\Bystander.exe");
  DWORD type = 0;
  ASSERT_TRUE(GetBinaryTypeA((dir_ + "\\desk\\Linkdesk.exe").c_str(), &type));
  ASSERT_EQ(DWORD{SCS_64BIT_BINARY}, type);

  EXPECT_EQ(0u, wt::Run("\"" + quitpanel + "\"", dir_));

  EXPECT_TRUE(wt::EndedWithZero(*desk));
  EXPECT_TRUE(wt::EndedWithZero(*pilot));
  EXPECT_TRUE(bystander->Running());
}

}  // namespace
