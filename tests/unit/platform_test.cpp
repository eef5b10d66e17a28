// The substitute machine itself, where a program test would not notice it going wrong.
#include "platform/handles.h"
#include "platform/proclist.h"
#include "sim_test.h"

namespace {

using Platform = SimTest;

TEST_F(Platform, OwnerReleaseKeepsTheLastError) {
  HMODULE psapi = LoadLibraryA("psapi.dll");
  ASSERT_NE(nullptr, psapi);
  {
    LibraryHandle owner(psapi);
    SetLastError(ERROR_NO_MORE_ITEMS);
  }
  EXPECT_EQ(DWORD{ERROR_NO_MORE_ITEMS}, GetLastError());
  EXPECT_EQ(0, machine.LoadedLibraryCount());

  SnapshotHandle none(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(none.valid());
  ProcessHandle empty;
  EXPECT_FALSE(empty.valid());
}

TEST_F(Platform, ReleasingTwiceIsReportedAsMisuse) {
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

TEST_F(Platform, FaultsHitTheChosenCallOnly) {
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

TEST_F(Platform, VersionWordCarriesTheFamilyInBit31) {
  machine.version = sim::VersionInfo{5, 1, 2600, VER_PLATFORM_WIN32_NT, ""};
  EXPECT_EQ(0x0A280105u, GetVersion());
  machine.version = sim::VersionInfo{4, 10, 2222, VER_PLATFORM_WIN32_WINDOWS, " A "};
  EXPECT_EQ(0x80000000u, GetVersion() & 0x80000000u);
  EXPECT_EQ(0x0A04u, GetVersion() & 0xFFFFu);
}

TEST_F(Platform, SnapshotWalkChecksRecordSizeAndEnds) {
  machine.AddProcess("a.exe");
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
