// The substitute machine itself, where a program test would not notice it going wrong.
#include "platform/handles.h"
#include "platform/proclist.h"
#include "platform/registry.h"
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
  EXPECT_EQ(0, machine.kernel.LoadedLibraryCount());

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

TEST_F(Platform, FaultsThatNeverFireAreReportedAndUnknownNamesAreRefused) {
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

TEST_F(Platform, VersionWordCarriesTheFamilyInBit31) {
  machine.kernel.version = sim::VersionInfo{5, 1, 2600, VER_PLATFORM_WIN32_NT, ""};
  EXPECT_EQ(0x0A280105u, GetVersion());
  machine.kernel.version = sim::VersionInfo{4, 10, 2222, VER_PLATFORM_WIN32_WINDOWS, " A "};
  EXPECT_EQ(0x80000000u, GetVersion() & 0x80000000u);
  EXPECT_EQ(0x0A04u, GetVersion() & 0xFFFFu);
}

TEST_F(Platform, SnapshotWalkChecksRecordSizeAndEnds) {
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

using Registry = SimTest;
const char kSettings[] = "SOFTWARE\\Korvell\\Linkdesk\\Settings";

TEST_F(Registry, QueryReportsSizeTypeAndMoreData) {
  machine.registry.SetString("HKLM\\SOFTWARE\\Korvell\\Linkdesk\\Settings", "Name", "abcdef");
  RegistryKey key;
  HKEY opened = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\KORVELL\\linkdesk\\settings",
                                         0, KEY_READ, &opened));
  key.reset(opened);
  char small[4] = {'x', 'x', 'x', 'x'};
  DWORD size = sizeof small;
  DWORD type = 0;
  EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(key.get(), "name", nullptr, &type,
                                              reinterpret_cast<BYTE*>(small), &size));
  EXPECT_EQ(7u, size);
  char big[16] = {};
  size = sizeof big;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key.get(), "Name", nullptr, &type,
                                            reinterpret_cast<BYTE*>(big), &size));
  EXPECT_STREQ("abcdef", big);
  EXPECT_EQ(DWORD{REG_SZ}, type);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key.get(), "Other", nullptr, nullptr, nullptr, &size));
  // Opened for reading only: writing is refused.
  DWORD one = 1;
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExA(key.get(), "UseZeroConfig", 0, REG_DWORD,
                                                reinterpret_cast<BYTE*>(&one), 4));
}

TEST_F(Registry, SetCreateAndEnumerateInNameOrder) {
  HKEY created = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, "A\\b0002", &created));
  RegCloseKey(created);
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, "A\\B0001", &created));
  DWORD value = 7;
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(created, "V", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4));
  RegCloseKey(created);
  EXPECT_EQ(7u, machine.registry.Dword("HKLM\\a\\b0001", "v"));

  HKEY parent = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "A", 0, KEY_READ, &parent));
  char name[100];
  EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyA(parent, 0, name, sizeof name));
  EXPECT_STREQ("B0001", name);
  EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyA(parent, 1, name, sizeof name));
  EXPECT_STREQ("b0002", name);
  EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyA(parent, 1, name, 5));
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyA(parent, 2, name, sizeof name));
  RegCloseKey(parent);
  EXPECT_EQ(2u, EventsStartingWith("RegCreateKey").size());
  EXPECT_EQ(std::vector<std::string>{"RegSetValue HKLM\\A\\B0001\\V = dword:7"},
            EventsStartingWith("RegSetValue"));
}

TEST_F(Registry, DeleteFollowsTheReportedFamily) {
  machine.registry.Create("HKLM\\X\\Parent\\Child");
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "X\\Parent"));
  EXPECT_TRUE(machine.registry.HasKey("HKLM\\X\\Parent\\Child"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "X\\Parent\\Child"));

  machine.registry.Create("HKLM\\X\\Parent\\Child");
  machine.kernel.version.platformId = VER_PLATFORM_WIN32_WINDOWS;
  HKEY child = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "X\\Parent\\Child", 0, KEY_READ, &child));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "X\\PARENT"));
  EXPECT_FALSE(machine.registry.HasKey("HKLM\\X\\Parent"));
  EXPECT_TRUE(machine.registry.HasKey("HKLM\\X"));
  char name[10];
  EXPECT_EQ(ERROR_KEY_DELETED, RegEnumKeyA(child, 0, name, sizeof name));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "X\\Parent"));
  RegCloseKey(child);
}

TEST_F(Registry, RefusedKeysAndInjectedFaults) {
  machine.registry.Create("HKLM\\Locked")->refuseWrite = true;
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Locked", 0, KEY_ALL_ACCESS, &key));
  EXPECT_EQ(nullptr, key);
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Locked", 0, KEY_READ, &key));
  RegCloseKey(key);
  machine.Fail("RegOpenKeyExA", ERROR_GEN_FAILURE, 4);  // calls are counted from the start
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Locked", 0, KEY_READ, &key));
  RegCloseKey(key);
  EXPECT_EQ(ERROR_GEN_FAILURE, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Locked", 0, KEY_READ, &key));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettings, 0, KEY_READ, &key));
}

}  // namespace
