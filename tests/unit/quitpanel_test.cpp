#include <optional>
#include <string>

#include "quitpanel/end_process.h"
#include "quitpanel/quitpanel.h"
#include "sim_test.h"

namespace {

// The closer never hands a process handle on to a child.
class QuitpanelTest : public SimTest {
 protected:
  void TearDown() override {
    ExpectEveryCall("OpenProcess", "inherit", "no");
    SimTest::TearDown();
  }
};

class QuitpanelNt : public QuitpanelTest {
 protected:
  void SetUp() override { machine.kernel.version = sim::VersionInfo{5, 1, 2600, VER_PLATFORM_WIN32_NT, "Service Pack 3"}; }
};

class Quitpanel9x : public QuitpanelTest {
 protected:
  void SetUp() override { machine.kernel.version = sim::VersionInfo{4, 10, 2222, VER_PLATFORM_WIN32_WINDOWS, " A "}; }
  // On the 9x family Toolhelp reports module names as the system stored them.
  sim::Process& AddWithModules(const std::string& exe, std::vector<std::string> modules) {
    sim::Process& p = machine.kernel.AddProcess(exe);
    p.modules = std::move(modules);
    return p;
  }
};

TEST_F(QuitpanelNt, EndsOnlyTheFirstOfTwoInstances) {
  machine.kernel.AddProcess("explorer.exe");
  sim::Process& first = machine.kernel.AddProcess("Linkdesk.exe");
  sim::Process& second = machine.kernel.AddProcess("Linkdesk.exe");
  EXPECT_EQ(kEnded, EndProcessByName("Linkdesk.exe"));
  EXPECT_FALSE(first.running);
  EXPECT_TRUE(second.running);
  EXPECT_EQ(0u, first.exitCode);
  EXPECT_EQ(1u, EventsStartingWith("TerminateProcess").size());
  // The NT family never touches Toolhelp.
  EXPECT_EQ(0, machine.Calls("CreateToolhelp32Snapshot"));
}

// A 32-bit closer on 64-bit Windows cannot read a 64-bit process's modules: it names the
// process by the last element of its image file instead, where PSAPI has that call. On
// a 32-bit system a process whose modules cannot be read stays "Unknown".
TEST_F(QuitpanelNt, UnderWow64A64BitProcessIsNamedByItsImageFile) {
  machine.Fail("EnumProcessModules", ERROR_PARTIAL_COPY);
  sim::Process& unread = machine.kernel.AddProcess("Linkdesk.exe");
  EXPECT_EQ(kNoMatch, EndProcessByName("Linkdesk.exe"));
  EXPECT_TRUE(unread.running);
  EXPECT_EQ(0, machine.Calls("GetProcessImageFileNameA"));
  machine.Mend("EnumProcessModules");
  unread.running = false;

  machine.kernel.wow64 = true;
  sim::Process& native = machine.kernel.AddProcess("Linkdesk.exe");
  native.sixtyFourBit = true;
  EXPECT_EQ(kEnded, EndProcessByName("LINKDESK.EXE"));
  EXPECT_FALSE(native.running);

  machine.kernel.FindLibrary("PSAPI.DLL")->exports.erase("GetProcessImageFileNameA");
  sim::Process& unnamed = machine.kernel.AddProcess("Linkdesk.exe");
  unnamed.sixtyFourBit = true;
  EXPECT_EQ(kNoMatch, EndProcessByName("Linkdesk.exe"));
  EXPECT_TRUE(unnamed.running);
}

TEST_F(QuitpanelNt, MatchingIgnoresLetterCaseButNotExtraOrMissingCharacters) {
  sim::Process& older = machine.kernel.AddProcess("Linkdesk.exe.old");
  sim::Process& shorter = machine.kernel.AddProcess("Linkdesk.ex");
  EXPECT_EQ(kNoMatch, EndProcessByName("Linkdesk.exe"));
  EXPECT_TRUE(older.running);
  EXPECT_TRUE(shorter.running);

  sim::Process& upper = machine.kernel.AddProcess("LINKDESK.EXE");
  sim::Process& lower = machine.kernel.AddProcess("linkdesk.exe");
  EXPECT_EQ(kEnded, EndProcessByName("Linkdesk.exe"));
  EXPECT_FALSE(upper.running);
  EXPECT_EQ(kEnded, EndProcessByName("lInKdEsK.ExE"));
  EXPECT_FALSE(lower.running);
}

TEST_F(QuitpanelNt, ProcessThatCannotBeQueriedIsComparedAsUnknown) {
  sim::Process& hidden = machine.kernel.AddProcess("Linkdesk.exe");
  hidden.refuseQuery = true;
  sim::Process& secondHidden = machine.kernel.AddProcess("system");
  secondHidden.refuseQuery = true;
  EXPECT_EQ(kNoMatch, EndProcessByName("Linkdesk.exe"));
  EXPECT_TRUE(hidden.running);

  // The first process that cannot be queried answers to "Unknown", in any case.
  EXPECT_EQ(kEnded, EndProcessByName("UNKNOWN"));
  EXPECT_FALSE(hidden.running);
  EXPECT_TRUE(secondHidden.running);
}

TEST_F(QuitpanelNt, ModuleListFailureAlsoLeavesTheNameUnknown) {
  sim::Process& p = machine.kernel.AddProcess("Linkdesk.exe");
  machine.Fail("EnumProcessModules", ERROR_PARTIAL_COPY);
  EXPECT_EQ(kNoMatch, EndProcessByName("Linkdesk.exe"));
  EXPECT_EQ(kEnded, EndProcessByName("unknown"));
  EXPECT_FALSE(p.running);
}

TEST_F(QuitpanelNt, OpeningOrEndingTheMatchFails) {
  sim::Process& refused = machine.kernel.AddProcess("Linkdesk.exe");
  refused.refuseTerminate = true;
  machine.kernel.AddProcess("Linkdesk.exe");
  // The walk stops at the first match even when it cannot be ended.
  EXPECT_EQ(kOpenForEndingFailed, EndProcessByName("Linkdesk.exe"));
  EXPECT_TRUE(EventsStartingWith("TerminateProcess").empty());

  sim::Process& stubborn = machine.kernel.AddProcess("Svcpilot.exe");
  stubborn.terminateFails = true;
  EXPECT_EQ(kTerminateFailed, EndProcessByName("Svcpilot.exe"));
  EXPECT_TRUE(stubborn.running);
}

TEST_F(QuitpanelNt, ProcessGoneBetweenListingAndOpening) {
  sim::Process& p = machine.kernel.AddProcess("Linkdesk.exe");
  machine.Fail("OpenProcess", ERROR_INVALID_PARAMETER, 2);  // the open for ending
  EXPECT_EQ(kOpenForEndingFailed, EndProcessByName("Linkdesk.exe"));
  EXPECT_TRUE(p.running);
  EXPECT_EQ(0, machine.Calls("TerminateProcess"));
}

TEST_F(QuitpanelNt, LibraryAndEntryPointFailures) {
  machine.kernel.AddProcess("Linkdesk.exe");
  machine.kernel.FindLibrary("PSAPI.DLL")->present = false;
  EXPECT_EQ(kPsapiMissing, EndProcessByName("Linkdesk.exe"));
  machine.kernel.FindLibrary("PSAPI.DLL")->present = true;

  for (const char* entry : {"EnumProcesses", "EnumProcessModules", "GetModuleBaseNameA"}) {
    SCOPED_TRACE(entry);
    sim::Library& psapi = *machine.kernel.FindLibrary("PSAPI.DLL");
    auto saved = psapi.exports;
    psapi.exports.erase(entry);
    EXPECT_EQ(kPsapiEntryMissing, EndProcessByName("Linkdesk.exe"));
    EXPECT_EQ(0, machine.kernel.LoadedLibraryCount());
    psapi.exports = saved;
  }

  machine.Fail("EnumProcesses", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(kEnumProcessesFailed, EndProcessByName("Linkdesk.exe"));
  EXPECT_TRUE(EventsStartingWith("TerminateProcess").empty());
}

TEST_F(QuitpanelNt, PsapiComesFromTheWholeSystemDirectoryOnly) {
  // Copies planted beside the program and in the current directory, which a load by
  // name would reach first, and system directories that are not whole.
  machine.kernel.self.modulePath = "C:\\Tools\\Quitpanel.exe";
  machine.kernel.currentDirectory = "C:\\Work";
  machine.kernel.AddLibrary("C:\\Tools\\PSAPI.DLL");
  machine.kernel.AddLibrary("C:\\Work\\PSAPI.DLL");
  struct Case {
    std::string systemDirectory;
    bool fails;
    int result;
    const char* loaded;
  } cases[] = {
      {"C:\\WINDOWS\\system32", false, kEnded, "C:\\WINDOWS\\system32\\PSAPI.DLL"},
      {"C:\\", false, kEnded, "C:\\PSAPI.DLL"},
      {"C:\\WINDOWS\\system32", true, kPsapiMissing, nullptr},
      {"C:\\" + std::string(MAX_PATH - 3, 's'), false, kPsapiMissing, nullptr},
      {"system32", false, kPsapiMissing, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.systemDirectory);
    machine.kernel.systemDirectory = c.systemDirectory;
    sim::Process& p = machine.kernel.AddProcess("Linkdesk.exe");
    if (c.fails) machine.Fail("GetSystemDirectoryA", ERROR_INVALID_PARAMETER);
    const int loadsBefore = machine.Calls("LoadLibraryExA");
    EXPECT_EQ(c.result, EndProcessByName("Linkdesk.exe"));
    machine.Mend("GetSystemDirectoryA");
    EXPECT_EQ(c.result != kEnded, p.running);
    EXPECT_EQ(c.loaded != nullptr ? 1 : 0, machine.Calls("LoadLibraryExA") - loadsBefore);
    if (c.loaded != nullptr) {
      EXPECT_EQ(c.loaded, machine.ArgumentsOf("LoadLibraryExA").back().at("name"));
      // Its own imports come from its folder too, not from the program's.
      EXPECT_EQ("altered search path", machine.ArgumentsOf("LoadLibraryExA").back().at("flags"));
    }
    p.running = false;
  }
}

TEST_F(QuitpanelNt, VersionFailureAndUnknownPlatforms) {
  sim::Process& p = machine.kernel.AddProcess("Linkdesk.exe");
  machine.Fail("GetVersionExA", ERROR_INVALID_PARAMETER, 1);
  EXPECT_EQ(kVersionUnknown, EndProcessByName("Linkdesk.exe"));
  EXPECT_TRUE(p.running);
  for (DWORD platform : {DWORD{VER_PLATFORM_WIN32s}, DWORD{3}, DWORD{0xFFFFFFFF}}) {
    machine.kernel.version.platformId = platform;
    EXPECT_EQ(kPlatformUnknown, EndProcessByName("Linkdesk.exe")) << platform;
  }
  EXPECT_EQ(0, machine.Calls("LoadLibraryA") + machine.Calls("LoadLibraryExA"));
}

TEST_F(QuitpanelNt, NameLengthIsCheckedBeforeAnyPlatformCall) {
  EXPECT_EQ(kBadName, EndProcessByName(""));
  EXPECT_EQ(kBadName, EndProcessByName(nullptr));
  EXPECT_EQ(kBadName, EndProcessByName(std::string(261, 'a').c_str()));
  EXPECT_EQ(kBadName, EndProcessByName(std::string(5000, 'a').c_str()));
  EXPECT_EQ(0, machine.TotalCalls());

  std::string longest(256, 'x');
  longest += ".exe";
  ASSERT_EQ(260u, longest.size());
  EXPECT_EQ(kNoMatch, EndProcessByName(longest.c_str()));
  EXPECT_GT(machine.TotalCalls(), 0);
}

TEST_F(QuitpanelNt, ListThatComesBackFullIsGrown) {
  for (int i = 0; i < 1200; ++i) machine.kernel.AddProcess("svchost.exe");
  sim::Process& late = machine.kernel.AddProcess("Linkdesk.exe");
  EXPECT_EQ(kEnded, EndProcessByName("Linkdesk.exe"));
  EXPECT_FALSE(late.running);
}

TEST_F(QuitpanelNt, FailedRetryKeepsTheListAlreadyTaken) {
  sim::Process& early = machine.kernel.AddProcess("Linkdesk.exe");
  for (int i = 0; i < 1200; ++i) machine.kernel.AddProcess("svchost.exe");
  sim::Process& late = machine.kernel.AddProcess("Svcpilot.exe");
  machine.Fail("EnumProcesses", ERROR_NOT_ENOUGH_MEMORY, 2);
  EXPECT_EQ(kEnded, EndProcessByName("Linkdesk.exe"));
  EXPECT_FALSE(early.running);
  machine.Fail("EnumProcesses", ERROR_NOT_ENOUGH_MEMORY, 4);
  // The second call's retry fails too: the first 1000 hold no match.
  EXPECT_EQ(kNoMatch, EndProcessByName("Svcpilot.exe"));
  EXPECT_TRUE(late.running);
}

TEST_F(Quitpanel9x, OnlyTheExactUpperCaseModuleNameMatches) {
  sim::Process& mixed = AddWithModules("Linkdesk.exe", {"Linkdesk.exe", "KERNEL32.DLL"});
  EXPECT_EQ(kNoMatch, EndProcessByName("Linkdesk.exe"));
  EXPECT_TRUE(mixed.running);

  sim::Process& upper = AddWithModules("LINKDESK.EXE", {"LINKDESK.EXE", "KERNEL32.DLL"});
  EXPECT_EQ(kEnded, EndProcessByName("linkdesk.exe"));
  EXPECT_FALSE(upper.running);
  EXPECT_TRUE(mixed.running);
  // The 9x family never touches PSAPI.
  EXPECT_EQ(0, machine.Calls("EnumProcesses"));
}

TEST_F(Quitpanel9x, ProcessHoldingAMatchingModuleIsEnded) {
  sim::Process& other = AddWithModules("HOST.EXE", {"HOST.EXE", "KERNEL32.DLL", "LINKDESK.EXE"});
  sim::Process& real = AddWithModules("LINKDESK.EXE", {"LINKDESK.EXE"});
  EXPECT_EQ(kEnded, EndProcessByName("Linkdesk.exe"));
  EXPECT_FALSE(other.running);
  EXPECT_TRUE(real.running);
}

TEST_F(Quitpanel9x, EndsOnlyTheFirstOfTwoInstances) {
  sim::Process& first = AddWithModules("LINKDESK.EXE", {"LINKDESK.EXE"});
  sim::Process& second = AddWithModules("LINKDESK.EXE", {"LINKDESK.EXE"});
  EXPECT_EQ(kEnded, EndProcessByName("Linkdesk.exe"));
  EXPECT_FALSE(first.running);
  EXPECT_TRUE(second.running);
}

TEST_F(Quitpanel9x, ModuleSnapshotFailureEndsTheSearchEvenWhenALaterProcessMatches) {
  AddWithModules("KERNEL32.DLL", {"KERNEL32.DLL"}).moduleSnapshotFails = true;
  sim::Process& target = AddWithModules("LINKDESK.EXE", {"LINKDESK.EXE"});
  EXPECT_EQ(kSnapshotFailed, EndProcessByName("Linkdesk.exe"));
  EXPECT_TRUE(target.running);
}

TEST_F(Quitpanel9x, SnapshotLibraryAndEntryPointFailures) {
  sim::Process& p = AddWithModules("LINKDESK.EXE", {"LINKDESK.EXE"});
  machine.Fail("CreateToolhelp32Snapshot", ERROR_NOT_ENOUGH_MEMORY, 1);
  EXPECT_EQ(kSnapshotFailed, EndProcessByName("Linkdesk.exe"));
  EXPECT_TRUE(p.running);
  EXPECT_EQ(0, machine.Calls("OpenProcess"));

  machine.kernel.FindLibrary("KERNEL32.DLL")->present = false;
  EXPECT_EQ(kKernelMissing, EndProcessByName("Linkdesk.exe"));
  machine.kernel.FindLibrary("KERNEL32.DLL")->present = true;

  for (const char* entry : {"CreateToolhelp32Snapshot", "Process32First", "Process32Next",
                            "Module32First", "Module32Next"}) {
    SCOPED_TRACE(entry);
    sim::Library& kernel = *machine.kernel.FindLibrary("KERNEL32.DLL");
    auto saved = kernel.exports;
    kernel.exports.erase(entry);
    EXPECT_EQ(kToolhelpEntryMissing, EndProcessByName("Linkdesk.exe"));
    EXPECT_EQ(0, machine.kernel.LoadedLibraryCount());
    kernel.exports = saved;
  }
  EXPECT_TRUE(EventsStartingWith("TerminateProcess").empty());
}

TEST_F(Quitpanel9x, OpeningOrEndingTheMatchFails) {
  sim::Process& refused = AddWithModules("LINKDESK.EXE", {"LINKDESK.EXE"});
  refused.refuseTerminate = true;
  EXPECT_EQ(kOpenForEndingFailed, EndProcessByName("Linkdesk.exe"));
  refused.refuseTerminate = false;
  refused.terminateFails = true;
  EXPECT_EQ(kTerminateFailed, EndProcessByName("Linkdesk.exe"));
  EXPECT_TRUE(refused.running);
}

TEST_F(QuitpanelNt, ProgramEndsTheUtilityThenTheSwitcherAndExitsZero) {
  sim::Process& pilot = machine.kernel.AddProcess("Svcpilot.exe");
  sim::Process& desk1 = machine.kernel.AddProcess("Linkdesk.exe");
  sim::Process& desk2 = machine.kernel.AddProcess("Linkdesk.exe");
  EXPECT_EQ(0, QuitpanelMain());
  EXPECT_FALSE(desk1.running);
  EXPECT_TRUE(desk2.running);
  EXPECT_FALSE(pilot.running);
  auto ended = EventsStartingWith("TerminateProcess");
  ASSERT_EQ(2u, ended.size());
  EXPECT_EQ(0u, ended[0].find("TerminateProcess Linkdesk.exe"));
  EXPECT_EQ(0u, ended[1].find("TerminateProcess Svcpilot.exe"));
}

TEST_F(QuitpanelNt, ProgramGoesOnToTheSwitcherWhateverTheFirstCallGave) {
  machine.kernel.AddProcess("Linkdesk.exe").refuseTerminate = true;
  sim::Process& pilot = machine.kernel.AddProcess("Svcpilot.exe");
  EXPECT_EQ(0, QuitpanelMain());
  EXPECT_FALSE(pilot.running);
}

TEST_F(QuitpanelNt, ProgramWithNothingRunningExitsZero) {
  machine.kernel.AddProcess("explorer.exe");
  EXPECT_EQ(0, QuitpanelMain());
  EXPECT_TRUE(EventsStartingWith("TerminateProcess").empty());
  EXPECT_EQ(2, machine.Calls("EnumProcesses"));
}

// A switcher in the middle of a switch (its record exists, in the view it writes it in)
// is given a bounded time to end by itself before it is ended; the vendor utility, or a
// switcher without a record, is ended at once.
TEST_F(QuitpanelNt, SwitcherInTheMiddleOfASwitchIsLetFinishBounded) {
  struct Case {
    const char* name;
    const char* record;          // where the switch record is, or none
    bool wow64;                  // the closer runs under WOW64
    std::optional<DWORD> endsIn;  // the switcher ends by itself after this long
    DWORD waited;                // the virtual time the closer let pass
    bool terminated;
  };
  const char* const kRecord32 = "HKLM\\SOFTWARE\\Korvell\\Airtoggle\\SwitchInProgress";
  const char* const kRecordUnderWow64 = "HKLM\\SOFTWARE\\Wow6432Node\\Korvell\\Airtoggle\\SwitchInProgress";
  const Case cases[] = {
      {"no record", nullptr, false, 3000, 0, true},
      {"ends by itself", kRecord32, false, 3000, 3000, false},
      {"never ends", kRecord32, false, std::nullopt, 20000, true},
      {"ends just too late", kRecord32, false, 20001, 20000, true},
      {"under WOW64, record in its view", kRecordUnderWow64, true, 5000, 5000, false},
      {"under WOW64, record in the other view", kRecord32, true, 5000, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    machine.registry.Remove(kRecord32);
    machine.registry.Remove(kRecordUnderWow64);
    if (c.record != nullptr) machine.registry.Create(c.record, true);
    machine.kernel.wow64 = c.wow64;
    sim::Process& desk = machine.kernel.AddProcess("Linkdesk.exe");
    sim::Process& pilot = machine.kernel.AddProcess("Svcpilot.exe");
    if (c.endsIn) pilot.endsAt = machine.now + *c.endsIn;
    const DWORD start = machine.now;
    const std::size_t terminatedBefore = EventsStartingWith("TerminateProcess Svcpilot.exe").size();
    EXPECT_EQ(0, QuitpanelMain());
    EXPECT_EQ(c.waited, machine.now - start);
    EXPECT_FALSE(desk.running);
    EXPECT_FALSE(pilot.running);
    EXPECT_EQ(c.terminated ? 1u : 0u,
              EventsStartingWith("TerminateProcess Svcpilot.exe").size() - terminatedBefore);
  }
  // Only the switcher was ever waited on.
  for (const std::string& wait : EventsStartingWith("WaitForSingleObject"))
    EXPECT_EQ("WaitForSingleObject Svcpilot.exe 20000", wait);
}

TEST_F(Quitpanel9x, ProgramEndsBothOnThe9xFamily) {
  sim::Process& desk = AddWithModules("LINKDESK.EXE", {"LINKDESK.EXE"});
  sim::Process& pilot = AddWithModules("SVCPILOT.EXE", {"SVCPILOT.EXE"});
  // The switcher records nothing on this family; a record found here is not waited on.
  machine.registry.Create("HKLM\\SOFTWARE\\Korvell\\Airtoggle\\SwitchInProgress", true);
  EXPECT_EQ(0, QuitpanelMain());
  EXPECT_FALSE(desk.running);
  EXPECT_FALSE(pilot.running);
  EXPECT_EQ(0, machine.Calls("WaitForSingleObject"));
}

}  // namespace
