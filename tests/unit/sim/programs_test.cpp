// The substitute machine: started programs, the INF installer and the registry editor, named mutexes, as the setup runner relies on them.
#include <string>

#include "pakrun_fixture.h"
#include "platform/devices.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/programs.h"
#include "platform/registry.h"
#include "pakrun/run_and_wait.h"

namespace {

using Programs = PakrunTest;


TEST_F(Programs, InstallerAppliesTheValueFormsOfAnInf) {
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

TEST_F(Programs, ProgramsRunWhenWaitedForAndUnknownOnesDoNotStart) {
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

TEST_F(Programs, NamedMutexesExistWhileAHandleOrAnotherHolderDoes) {
  machine.kernel.self.mutexesHeldElsewhere.insert("Held.exe");
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
  EXPECT_FALSE(machine.kernel.self.MutexExists("Pakrun.exe"));
  MutexHandle again(CreateMutexA(nullptr, FALSE, "Pakrun.exe"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
}

TEST_F(Programs, RegistryEditorImportsAScriptOnlyWhenSilent) {
  machine.programs.Add("regedit", sim::RegistryEditor());
  machine.registry.SetString("HKLM\\SOFTWARE\\Vendor", "Gone", "x");
  machine.registry.SetString("HKLM\\SOFTWARE\\Old\\Sub", "V", "x");
  machine.files.Put("C:\\Setup\\My Pakrun.reg",
                    Crlf({"REGEDIT4", "", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]",
                          "\"Text\"=\"a \\\"q\\\" \\\\ b\"", "\"Number\"=dword:0000001f",
                          "@=\"default\"", "\"Gone\"=-", "\"Bin\"=hex:01,02,\\", "  03",
                          "\"Multi\"=hex(7):61,00,62,00,00", "\"Never\"=-",
                          "\"Long\"=dword:1234567890", "\"Letters\"=hex:zz", "\"Odd\"=hex(7):6,,00", "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]",
                          "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]",
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
  // Data regedit refuses: no value, and the import goes on.
  for (const char* refused : {"Long", "Letters", "Odd"})
    EXPECT_FALSE(machine.registry.Value("HKLM\\SOFTWARE\\Vendor", refused)) << refused;
  EXPECT_EQ("on", machine.registry.String("HKCU\\Software\\Vendor", "Mode"));
  // Every deletion the script asks for is logged, marked when there was nothing to delete.
  std::vector<std::string> deletions;
  for (const std::string& event : machine.Events()) {
    if (event.rfind("Regedit deletes", 0) == 0) deletions.push_back(event);
  }
  EXPECT_EQ((std::vector<std::string>{"Regedit deletes HKLM\\SOFTWARE\\Vendor\\Gone",
                                      "Regedit deletes HKLM\\SOFTWARE\\Vendor\\Never (not there)",
                                      "Regedit deletes key HKLM\\SOFTWARE\\Old",
                                      "Regedit deletes key HKLM\\SOFTWARE\\Old (not there)"}),
            deletions);
}

// The file forms of a script, each on both families: the 9x editor reads ANSI REGEDIT4
// only; the NT editor also reads version 5 (ANSI or UTF-16LE with its byte-order mark,
// hex(7) data then UTF-16), and none reads UTF-16 without the mark.
TEST_F(Programs, RegistryEditorReadsTheFileFormsOfEachFamily) {
  const std::string v4 = "REGEDIT4";
  const std::string v5 = "Windows Registry Editor Version 5.00";
  const std::string multi4 = "hex(7):61,00,62,00,00";
  const std::string multi5 = "hex(7):61,00,00,00,62,00,00,00,00,00";
  auto utf16 = [](const std::string& text, bool mark) {
    std::string units = mark ? "\xFF\xFE" : "";
    for (char c : text) units += std::string{c, '\0'};
    return units;
  };
  struct Form {
    const char* name;
    std::string header;
    std::string multi;
    bool utf16;
    bool mark;
    bool readOnNt;
    bool readOn98;
  };
  const Form forms[] = {
      {"REGEDIT4, ANSI", v4, multi4, false, false, true, true},
      {"version 5, ANSI", v5, multi5, false, false, true, false},
      {"version 5, UTF-16LE", v5, multi5, true, true, true, false},
      {"REGEDIT4, UTF-16LE", v4, multi4, true, true, true, false},
      {"version 5, UTF-16LE without its mark", v5, multi5, true, false, false, false},
  };
  machine.programs.Add("regedit", sim::RegistryEditor());
  for (const Form& form : forms) {
    for (bool nt : {true, false}) {
      machine.kernel.version.platformId = nt ? VER_PLATFORM_WIN32_NT : VER_PLATFORM_WIN32_WINDOWS;
      const std::string key = std::string("HKLM\\SOFTWARE\\") + form.name + (nt ? " NT" : " 98");
      const std::string text = Crlf({form.header, "", "[HKEY_LOCAL_MACHINE" + key.substr(4) + "]",
                                     "\"Caf\xE9\"=\"x\"", "\"M\"=" + form.multi});
      machine.files.Put("C:\\Setup\\Pakrun.reg", form.utf16 ? utf16(text, form.mark) : text);
      RunAndWait("regedit /s \"C:\\Setup\\Pakrun.reg\"");
      const bool read = nt ? form.readOnNt : form.readOn98;
      EXPECT_EQ(read, machine.registry.HasKey(key)) << key;
      if (!read) continue;
      EXPECT_EQ("x", machine.registry.String(key, "Caf\xE9")) << key;
      auto value = machine.registry.Value(key, "M");
      ASSERT_TRUE(value) << key;
      EXPECT_EQ((std::vector<unsigned char>{'a', 0, 'b', 0, 0}), value->data) << key;
    }
  }
}

}  // namespace
