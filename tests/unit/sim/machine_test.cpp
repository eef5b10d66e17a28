// The substitute machine itself: handle owners and misuse, fault injection, the version
// word, Toolhelp walks.
#include <functional>

#include "platform/devices.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/programs.h"
#include "platform/proclist.h"
#include "platform/registry.h"
#include "common/system.h"
#include "sim_test.h"

namespace {

using SimMachine = SimTest;

TEST_F(SimMachine, OwnerReleaseKeepsTheLastError) {
  HMODULE psapi = LoadLibraryA("psapi.dll");
  ASSERT_NE(nullptr, psapi);
  {
    LibraryHandle owner(psapi);
    SetLastError(ERROR_NO_MORE_ITEMS);
  }
  EXPECT_EQ(DWORD{ERROR_NO_MORE_ITEMS}, GetLastError());
  EXPECT_EQ(0, machine.kernel.LoadedLibraryCount());

  SnapshotHandle none(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(none.valid());
  ProcessHandle empty;
  EXPECT_FALSE(empty.valid());
}

TEST_F(SimMachine, ReleasingTwiceIsReportedAsMisuse) {
  HMODULE psapi = LoadLibraryA("PSAPI.DLL");
  EXPECT_TRUE(FreeLibrary(psapi));
  EXPECT_FALSE(FreeLibrary(psapi));
  EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(0x1234)));
  std::string report;
  EXPECT_FALSE(machine.Clean(&report));
  EXPECT_NE(std::string::npos, report.find("FreeLibrary"));
  EXPECT_NE(std::string::npos, report.find("CloseHandle"));
  machine.ClearMisuse();  // seen; the fixture checks the rest as usual
}

TEST_F(SimMachine, FaultsHitTheChosenCallOnly) {
  machine.Fail("GetVersionExA", ERROR_ACCESS_DENIED, 2);
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  EXPECT_TRUE(GetVersionExA(&info));
  EXPECT_FALSE(GetVersionExA(&info));
  EXPECT_EQ(DWORD{ERROR_ACCESS_DENIED}, GetLastError());
  EXPECT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(3, machine.Calls("GetVersionExA"));
  info.dwOSVersionInfoSize = 100;
  EXPECT_FALSE(GetVersionExA(&info));
}

TEST_F(SimMachine, FaultsThatNeverFireAreReportedAndUnknownNamesAreRefused) {
  machine.Fail("LoadLibraryA", ERROR_MOD_NOT_FOUND, 2);
  machine.Fail("LoadLibraryA", ERROR_ACCESS_DENIED, 2);  // the later fault wins the call
  machine.Fail("LoadLibraryA", ERROR_MOD_NOT_FOUND, 4);
  machine.Fail("RegCloseKey", ERROR_GEN_FAILURE);
  HMODULE first = LoadLibraryA("PSAPI.DLL");
  EXPECT_NE(nullptr, first);
  EXPECT_EQ(nullptr, LoadLibraryA("PSAPI.DLL"));
  EXPECT_EQ(DWORD{ERROR_ACCESS_DENIED}, GetLastError());
  FreeLibrary(first);
  machine.Mend("LoadLibraryA");
  for (int call = 3; call <= 4; ++call) EXPECT_TRUE(FreeLibrary(LoadLibraryA("PSAPI.DLL"))) << call;
  // Operations that return their error leave the last error alone.
  SetLastError(7);
  EXPECT_EQ(ERROR_GEN_FAILURE, RegCloseKey(HKEY_LOCAL_MACHINE));
  EXPECT_EQ(DWORD{7}, GetLastError());
  std::string report;
  EXPECT_FALSE(machine.Clean(&report));
  EXPECT_EQ("fault never fired: LoadLibraryA call 2\nfault never fired: LoadLibraryA call 4\n", report);
  machine.ClearFaults();  // seen; the fixture checks the rest as usual

  EXPECT_DEATH(machine.Fail("NoSuchOperation", 1), "NoSuchOperation does not take injected faults");
  // Calls that cannot fail are only counted, and take no fault either.
  EXPECT_DEATH(machine.Fail("GetVersion", 1), "GetVersion does not take injected faults");
  EXPECT_DEATH(machine.Fail("LoadLibraryA", 1, -1), "is no call");
}

TEST_F(SimMachine, VersionWordCarriesTheFamilyInBit31) {
  machine.kernel.version = sim::VersionInfo{5, 1, 2600, VER_PLATFORM_WIN32_NT, ""};
  EXPECT_EQ(0x0A280105u, GetVersion());
  machine.kernel.version = sim::VersionInfo{4, 10, 2222, VER_PLATFORM_WIN32_WINDOWS, " A "};
  EXPECT_EQ(0x80000000u, GetVersion() & 0x80000000u);
  EXPECT_EQ(0x0A04u, GetVersion() & 0xFFFFu);
}

// WOW64 is found only where kernel32 has IsWow64Process and it says so; a call that
// fails counts as no WOW64. kernel32 is asked without being loaded.
TEST_F(SimMachine, Wow64IsFoundOnlyWhereTheSystemSaysSo) {
  sim::Library& kernel = *machine.kernel.FindLibrary("KERNEL32.DLL");
  const FARPROC isWow64Process = kernel.exports.at("IsWow64Process");
  EXPECT_FALSE(RunningUnderWow64());
  machine.kernel.wow64 = true;
  EXPECT_TRUE(RunningUnderWow64());
  kernel.exports.erase("IsWow64Process");  // Windows 98, 2000, XP before SP2
  EXPECT_FALSE(RunningUnderWow64());
  kernel.exports["IsWow64Process"] = isWow64Process;
  machine.Fail("IsWow64Process", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(RunningUnderWow64());
  EXPECT_EQ(0, machine.Calls("LoadLibraryA"));
  EXPECT_EQ(0, machine.kernel.LoadedLibraryCount());
}

TEST_F(SimMachine, SnapshotWalkChecksRecordSizeAndEnds) {
  machine.kernel.AddProcess("a.exe");
  HMODULE kernel = LoadLibraryA("Kernel32.DLL");
  auto snap = EntryPoint<CreateToolhelp32SnapshotFn>(kernel, "CreateToolhelp32Snapshot");
  auto first = EntryPoint<Process32FirstFn>(kernel, "Process32First");
  auto next = EntryPoint<Process32NextFn>(kernel, "Process32Next");
  SnapshotHandle all(snap(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32 entry{};
  entry.dwSize = 10;
  EXPECT_FALSE(first(all.get(), &entry));
  EXPECT_EQ(DWORD{ERROR_BAD_LENGTH}, GetLastError());
  entry.dwSize = sizeof entry;
  EXPECT_TRUE(first(all.get(), &entry));
  EXPECT_STREQ("a.exe", entry.szExeFile);
  EXPECT_FALSE(next(all.get(), &entry));
  EXPECT_EQ(DWORD{ERROR_NO_MORE_FILES}, GetLastError());
  all.reset();
  FreeLibrary(kernel);
}

}  // namespace

namespace {

// Arguments whose choice is a rule of the programs are recorded, not refused, so that a
// program's tests can tell a wrong choice apart.
TEST_F(SimMachine, ArgumentsOfTheProgramsRulesAreRecorded) {
  sim::Process& process = machine.kernel.AddProcess("a.exe");
  CloseHandle(OpenProcess(PROCESS_TERMINATE, TRUE, process.pid));
  CloseHandle(CreateMutexA(nullptr, TRUE, "Named"));
  EXPECT_EQ(INVALID_HANDLE_VALUE,
            SetupDiGetClassDevsExA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES, nullptr, "OTHER",
                                   nullptr));
  ASSERT_EQ(1u, machine.ArgumentsOf("OpenProcess").size());
  EXPECT_EQ("yes", machine.ArgumentsOf("OpenProcess")[0].at("inherit"));
  EXPECT_EQ("yes", machine.ArgumentsOf("CreateMutexA")[0].at("owned"));
  EXPECT_EQ("none", machine.ArgumentsOf("CreateMutexA")[0].at("attributes"));
  EXPECT_EQ("OTHER", machine.ArgumentsOf("SetupDiGetClassDevsExA")[0].at("machine"));
  EXPECT_TRUE(machine.Misuses().empty());
}

// Each side effect is logged as a record of what it did, to what, and whether that was
// there before: what a reader of the log (the preview's plan) goes by, never the words.
TEST_F(SimMachine, EachSideEffectIsARecordOfWhatItDid) {
  machine.files.AddDirectory("C:\\T");
  HKEY key = nullptr;
  DWORD one = 1;
  TextStream* stream = nullptr;
  HANDLE mutexes[2] = {};
  struct Step {
    const char* what;
    std::function<void()> call;
    sim::Effect effect;
    bool existed;
    const char* subject;
  };
  using sim::Effect;
  const std::vector<Step> steps = {
      {"create a key", [&] { RegCreateKeyA(HKEY_LOCAL_MACHINE, "S", &key); }, Effect::kKeyCreated, false, "HKLM\\S"},
      {"set a value", [&] { RegSetValueExA(key, "V", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4); },
       Effect::kValueSet, false, "HKLM\\S"},
      {"delete the key", [&] { RegCloseKey(key); RegDeleteKeyA(HKEY_LOCAL_MACHINE, "S"); }, Effect::kKeyDeleted, true,
       "HKLM\\S"},
      {"open a file to write", [&] { stream = OpenTextStream("C:\\T\\a.inf", "wt"); }, Effect::kFileOpenedToWrite,
       false, "C:\\T\\a.inf"},
      {"close it", [&] { CloseTextStream(stream); }, Effect::kFileClosed, true, "C:\\T\\a.inf"},
      {"open it again", [&] { stream = OpenTextStream("C:\\T\\a.inf", "wt"); }, Effect::kFileOpenedToWrite, true,
       "C:\\T\\a.inf"},
      {"close it again", [&] { CloseTextStream(stream); }, Effect::kFileClosed, true, "C:\\T\\a.inf"},
      {"rename it", [&] { MoveFileA("C:\\T\\a.inf", "C:\\T\\b.inf"); }, Effect::kFileRenamed, true, "C:\\T\\a.inf"},
      {"delete it", [&] { DeleteFileA("C:\\T\\b.inf"); }, Effect::kFileDeleted, true, "C:\\T\\b.inf"},
      {"create a mutex", [&] { mutexes[0] = CreateMutexA(nullptr, FALSE, "M"); }, Effect::kMutexCreated, false, "M"},
      {"create it again", [&] { mutexes[1] = CreateMutexA(nullptr, FALSE, "M"); }, Effect::kMutexCreated, true, "M"},
  };
  for (const Step& step : steps) {
    const std::size_t before = machine.EventRecords().size();
    step.call();
    ASSERT_LT(before, machine.EventRecords().size()) << step.what;
    const sim::Event& event = machine.EventRecords().back();
    EXPECT_EQ(step.effect, event.effect) << step.what << ": " << event.Text();
    EXPECT_EQ(step.existed, event.existed) << step.what << ": " << event.Text();
    EXPECT_EQ(step.subject, event.subject) << step.what;
  }
  for (HANDLE mutex : mutexes) CloseHandle(mutex);
}

}  // namespace
