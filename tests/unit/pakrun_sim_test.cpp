// The substitute machine's families that Pakrun relies on: profile files, text-mode
// streams, the environment, started programs and the INF installer.
#include <string>

#include "pakrun_fixture.h"
#include "platform/devices.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/programs.h"
#include "platform/registry.h"
#include "pakrun/run_and_wait.h"

namespace {

using SubstituteMachine = PakrunTest;

TEST_F(SubstituteMachine, ProfileReadsFollowThePlatform) {
  Settings({"[Params]", "  Swapcmd = 1 ", "EMPTY=", "QUOTED=\"a b\"", "NEG=-1", "HEX=0x1F",
            "TEXT=abc", "[PARAMS]", "LATER=1"});
  char buffer[8];
  EXPECT_EQ(1u, GetPrivateProfileIntA("PARAMS", "SWAPCMD", 0, kSettingsPath));
  EXPECT_EQ(0xFFFFFFFFu, GetPrivateProfileIntA("PARAMS", "NEG", 0, kSettingsPath));
  EXPECT_EQ(31u, GetPrivateProfileIntA("PARAMS", "HEX", 0, kSettingsPath));
  EXPECT_EQ(0u, GetPrivateProfileIntA("PARAMS", "TEXT", 5, kSettingsPath));
  EXPECT_EQ(5u, GetPrivateProfileIntA("PARAMS", "MISSING", 5, kSettingsPath));
  EXPECT_EQ(5u, GetPrivateProfileIntA("NOSECTION", "SWAPCMD", 5, "C:\\Setup\\none.ini"));

  // A present key with an empty value is empty text, not the default.
  EXPECT_EQ(0u, GetPrivateProfileStringA("PARAMS", "EMPTY", "dflt", buffer, sizeof buffer,
                                         kSettingsPath));
  EXPECT_STREQ("", buffer);
  EXPECT_EQ(4u, GetPrivateProfileStringA("PARAMS", "MISSING", "dflt", buffer, sizeof buffer,
                                         kSettingsPath));
  EXPECT_STREQ("dflt", buffer);
  GetPrivateProfileStringA("PARAMS", "LATER", "dflt", buffer, sizeof buffer, kSettingsPath);
  EXPECT_STREQ("dflt", buffer);  // only the first section of a name is read
  GetPrivateProfileStringA("PARAMS", "QUOTED", "", buffer, sizeof buffer, kSettingsPath);
  EXPECT_STREQ("a b", buffer);
  // Cut to the buffer.
  machine.files.Put(kSettingsPath, "[S]\r\nK=0123456789\r\n");
  EXPECT_EQ(7u, GetPrivateProfileStringA("S", "K", "", buffer, sizeof buffer, kSettingsPath));
  EXPECT_STREQ("0123456", buffer);
}

TEST_F(SubstituteMachine, TextStreamsStoreCrlfAndAppendOrTruncate) {
  machine.files.Put("C:\\TEMP\\a.txt", "old\r\n");
  TextStream* append = OpenTextStream("C:\\TEMP\\a.txt", "a+");
  ASSERT_NE(nullptr, append);
  WriteTextStream(append, "x=%d\n\n", 5);
  // An open file cannot be deleted.
  EXPECT_FALSE(DeleteFileA("C:\\TEMP\\a.txt"));
  EXPECT_TRUE(CloseTextStream(append));
  EXPECT_EQ("old\r\nx=5\r\n\r\n", machine.files.Read("C:\\TEMP\\a.txt"));

  TextStream* fresh = OpenTextStream("C:\\TEMP\\a.txt", "wt");
  ASSERT_NE(nullptr, fresh);
  WriteTextStream(fresh, "new\n");
  machine.files.failCloseOf.insert("c:\\temp\\A.TXT");
  EXPECT_FALSE(CloseTextStream(fresh));
  EXPECT_EQ("new\r\n", machine.files.Read("C:\\TEMP\\a.txt"));

  EXPECT_EQ(nullptr, OpenTextStream("C:\\NoSuchDir\\a.txt", "a+"));
  EXPECT_TRUE(DeleteFileA("C:\\TEMP\\A.TXT"));
  EXPECT_FALSE(DeleteFileA("C:\\TEMP\\a.txt"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_STREQ("C:\\TEMP", EnvironmentValue("temp"));
  EXPECT_EQ(nullptr, EnvironmentValue("NOT_SET"));
}

TEST_F(SubstituteMachine, InstallerAppliesTheValueFormsOfAnInf) {
  machine.registry.SetString("HKLM\\K", "Gone", "x");
  machine.registry.SetString("HKLM\\K", "Kept", "old");
  machine.registry.SetString("HKLM\\Whole\\Sub", "V", "x");
  machine.files.Put("C:\\TEMP\\t.inf",
                    Crlf({"[Version]", "signature=\"$CHICAGO$\"", "", "[DefaultInstall]",
                          "AddReg = Add.reg", "DelReg = Del.reg", "", "[Add.reg]",
                          "HKLM, \"K\",\"Dword\",0x00010001,0x20",
                          "HKLM, \"K\",\"Sz\",0,text with blanks",
                          "HKLM, \"K\",\"Quoted\",0,\"a,b\"",
                          "HKLM, \"K\",\"Expand\",0x00020000,%SystemRoot%",
                          "HKLM, \"K\",\"Multi\",0x00010000,one,two",
                          "HKLM, \"K\",\"Bin\",1,0a,ff",
                          "HKLM, \"K\",\"Kept\",2,new",
                          "HKLM, \"K\",\"Empty\",0",
                          ", \"\",\"\",,",
                          "HKR, \"K\",\"Relative\",0,x",
                          "", "[Del.reg]", "HKLM, \"K\",\"Gone\"", "HKLM, \"Whole\",\"\""}));
  EXPECT_EQ(0u, sim::InfInstaller()(machine,
                                    "rundll32.exe setupapi,InstallHinfSection DefaultInstall 132 "
                                    "C:\\TEMP\\t.inf"));
  EXPECT_EQ(0x20u, machine.registry.Dword("HKLM\\K", "Dword"));
  EXPECT_EQ("text with blanks", machine.registry.String("HKLM\\K", "Sz"));
  EXPECT_EQ("a,b", machine.registry.String("HKLM\\K", "Quoted"));
  EXPECT_EQ(static_cast<std::uint32_t>(REG_EXPAND_SZ),
            machine.registry.Value("HKLM\\K", "Expand")->type);
  EXPECT_EQ((std::vector<unsigned char>{'o', 'n', 'e', 0, 't', 'w', 'o', 0, 0}),
            machine.registry.Value("HKLM\\K", "Multi")->data);
  EXPECT_EQ((std::vector<unsigned char>{0x0a, 0xff}), machine.registry.Value("HKLM\\K", "Bin")->data);
  EXPECT_EQ("old", machine.registry.String("HKLM\\K", "Kept"));
  EXPECT_EQ("", machine.registry.String("HKLM\\K", "Empty"));
  EXPECT_FALSE(machine.registry.Value("HKLM\\K", "Relative"));
  EXPECT_FALSE(machine.registry.Value("HKLM\\K", "Gone"));
  // A delete line without a value name takes the whole key.
  EXPECT_FALSE(machine.registry.HasKey("HKLM\\Whole"));

  // A missing INF changes nothing and still ends with 0.
  EXPECT_EQ(0u, sim::InfInstaller()(machine,
                                    "rundll32.exe setupapi,InstallHinfSection DefaultInstall 132 "
                                    "C:\\TEMP\\none.inf"));
}

TEST_F(SubstituteMachine, ProgramsRunWhenWaitedForAndUnknownOnesDoNotStart) {
  std::string seen;
  machine.programs.Add("Setup.exe", [&seen](sim::Machine&, const std::string& line) {
    seen = line;
    return 7u;
  });
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  char line[] = "\"C:\\Some Dir\\SETUP.EXE\" /x";
  ASSERT_TRUE(CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &info));
  EXPECT_EQ("", seen);  // still running
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(info.hProcess, INFINITE));
  EXPECT_EQ(line, seen);
  EXPECT_EQ(7u, machine.kernel.FindProcess(info.dwProcessId)->exitCode);
  EXPECT_TRUE(CloseHandle(info.hThread));
  EXPECT_TRUE(CloseHandle(info.hProcess));

  char missing[] = "C:\\Nowhere\\other.exe";
  EXPECT_FALSE(CreateProcessA(nullptr, missing, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &info));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST_F(SubstituteMachine, DeviceDatabaseListsByClassAndPresenceAndReportsSizes) {
  sim::Device& adapter =
      machine.devices.Add("PCI\\VEN_1D4A&DEV_0301\\1", {"PCI\\VEN_1D4A&DEV_0301"}, false);
  adapter.appearsOnReenumerate = true;
  sim::Device& disk = machine.devices.Add("IDE\\DISK\\1", {"IDE\\DISK"});
  disk.classGuid = "{4D36E967-E325-11CE-BFC1-08002BE10318}";
  const GUID net = {0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

  auto count = [](HDEVINFO list) {
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    DWORD n = 0;
    while (SetupDiEnumDeviceInfo(list, n, &data)) ++n;
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), GetLastError());
    return n;
  };
  DeviceInfoList all(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES));
  EXPECT_EQ(2u, count(all.get()));
  DeviceInfoList present(
      SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT));
  EXPECT_EQ(1u, count(present.get()));
  DeviceInfoList netOnly(SetupDiGetClassDevsA(&net, nullptr, nullptr, 0));
  EXPECT_EQ(1u, count(netOnly.get()));

  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  ASSERT_TRUE(SetupDiEnumDeviceInfo(netOnly.get(), 0, &data));
  char id[8];
  DWORD required = 0;
  EXPECT_FALSE(SetupDiGetDeviceInstanceIdA(netOnly.get(), &data, id, sizeof id, &required));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_EQ(sizeof("PCI\\VEN_1D4A&DEV_0301\\1"), required);
  EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(netOnly.get(), &data, SPDRP_DRIVER, nullptr,
                                                 nullptr, 0, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), GetLastError());

  DEVINST root = 0;
  EXPECT_EQ(static_cast<CONFIGRET>(CR_SUCCESS),
            CM_Locate_DevNodeA(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL));
  EXPECT_EQ(static_cast<CONFIGRET>(CR_SUCCESS), CM_Reenumerate_DevNode(root, CM_REENUMERATE_NORMAL));
  EXPECT_EQ(1, machine.devices.reenumerations);
  EXPECT_TRUE(adapter.present);
  machine.Fail("CM_Locate_DevNodeA", CR_FAILURE);
  EXPECT_EQ(static_cast<CONFIGRET>(CR_FAILURE),
            CM_Locate_DevNodeA(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL));
  EXPECT_EQ(0u, root);
}

TEST_F(SubstituteMachine, ModulePathShortPathsAndRenames) {
  char buffer[MAX_PATH];
  EXPECT_EQ(0u, GetModuleFileNameA(nullptr, buffer, sizeof buffer));  // no program path set
  machine.self.modulePath = "C:\\Program Files\\Vendor\\Pakrun.exe";
  EXPECT_EQ(machine.self.modulePath.size(), GetModuleFileNameA(nullptr, buffer, sizeof buffer));
  EXPECT_EQ(machine.self.modulePath, buffer);
  char small[8];
  EXPECT_EQ(8u, GetModuleFileNameA(nullptr, small, sizeof small));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_EQ("C:\\Progr", std::string(small, sizeof small));  // the whole buffer, no terminator

  machine.files.AddDirectory("C:\\Program Files\\Vendor");
  machine.files.SetShortName("C:\\Program Files", "PROGRA~1");
  EXPECT_EQ(18u, GetShortPathNameA("c:\\program files\\Vendor", buffer, sizeof buffer));
  EXPECT_STREQ("c:\\PROGRA~1\\Vendor", buffer);
  EXPECT_EQ(19u, GetShortPathNameA("C:\\Program Files\\Vendor", small, sizeof small));
  EXPECT_EQ(0u, GetShortPathNameA("C:\\Missing", buffer, sizeof buffer));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());

  machine.files.Put("C:\\WINDOWS\\a.inf", "a");
  machine.files.Put("C:\\WINDOWS\\b.org", "b");
  EXPECT_FALSE(MoveFileA("C:\\WINDOWS\\a.inf", "C:\\WINDOWS\\B.ORG"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  EXPECT_FALSE(MoveFileA("C:\\WINDOWS\\none.inf", "C:\\WINDOWS\\none.org"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_TRUE(MoveFileA("C:\\WINDOWS\\a.inf", "C:\\WINDOWS\\a.org"));
  EXPECT_FALSE(machine.files.Exists("C:\\WINDOWS\\a.inf"));
  EXPECT_EQ("a", machine.files.Read("C:\\WINDOWS\\a.org"));
  EXPECT_EQ("b", machine.files.Read("C:\\WINDOWS\\b.org"));

  EXPECT_FALSE(IsDBCSLeadByte(0x95));
  machine.self.UseShiftJis();
  EXPECT_TRUE(IsDBCSLeadByte(0x95));
  EXPECT_FALSE(IsDBCSLeadByte('\\'));
  EXPECT_FALSE(IsDBCSLeadByte(0xA0));
}

TEST_F(SubstituteMachine, NamedMutexesExistWhileAHandleOrAnotherHolderDoes) {
  machine.self.mutexesHeldElsewhere.insert("Held.exe");
  SetLastError(ERROR_ALREADY_EXISTS);
  MutexHandle first(CreateMutexA(nullptr, FALSE, "Pakrun.exe"));
  ASSERT_TRUE(first);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
  {
    MutexHandle second(CreateMutexA(nullptr, FALSE, "Pakrun.exe"));
    EXPECT_TRUE(second);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    // Names are compared with their letter case.
    MutexHandle otherCase(CreateMutexA(nullptr, FALSE, "PAKRUN.EXE"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
    MutexHandle held(CreateMutexA(nullptr, FALSE, "Held.exe"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  }
  first.reset();
  EXPECT_FALSE(machine.self.MutexExists("Pakrun.exe"));
  MutexHandle again(CreateMutexA(nullptr, FALSE, "Pakrun.exe"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
}

TEST_F(SubstituteMachine, RegistryEditorImportsAScriptOnlyWhenSilent) {
  machine.programs.Add("regedit", sim::RegistryEditor());
  machine.registry.SetString("HKLM\\SOFTWARE\\Vendor", "Gone", "x");
  machine.registry.SetString("HKLM\\SOFTWARE\\Old\\Sub", "V", "x");
  machine.files.Put("C:\\Setup\\My Pakrun.reg",
                    Crlf({"REGEDIT4", "", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]",
                          "\"Text\"=\"a \\\"q\\\" \\\\ b\"", "\"Number\"=dword:0000001f",
                          "@=\"default\"", "\"Gone\"=-", "\"Bin\"=hex:01,02,\\", "  03",
                          "\"Multi\"=hex(7):61,00,62,00,00", "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]",
                          "[HKEY_CURRENT_USER\\Software\\Vendor]", "\"Mode\"=\"on\""}));
  RunAndWait("regedit \"C:\\Setup\\My Pakrun.reg\"");
  EXPECT_FALSE(machine.registry.Value("HKLM\\SOFTWARE\\Vendor", "Text"));  // not silent
  RunAndWait("regedit /s \"C:\\Setup\\My Pakrun.reg\"");
  EXPECT_EQ("a \"q\" \\ b", machine.registry.String("HKLM\\SOFTWARE\\Vendor", "Text"));
  EXPECT_EQ(31u, machine.registry.Dword("HKLM\\SOFTWARE\\Vendor", "Number"));
  EXPECT_EQ("default", machine.registry.String("HKLM\\SOFTWARE\\Vendor", ""));
  EXPECT_FALSE(machine.registry.Value("HKLM\\SOFTWARE\\Vendor", "Gone"));
  EXPECT_EQ((std::vector<unsigned char>{1, 2, 3}),
            machine.registry.Value("HKLM\\SOFTWARE\\Vendor", "Bin")->data);
  EXPECT_EQ(static_cast<std::uint32_t>(REG_MULTI_SZ),
            machine.registry.Value("HKLM\\SOFTWARE\\Vendor", "Multi")->type);
  EXPECT_FALSE(machine.registry.HasKey("HKLM\\SOFTWARE\\Old"));
  EXPECT_EQ("on", machine.registry.String("HKCU\\Software\\Vendor", "Mode"));
}

}  // namespace
