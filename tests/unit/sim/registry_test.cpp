// The substitute machine's registry: sizes, types and ERROR_MORE_DATA, name order, the
// family's delete rule, refused keys.
#include "platform/registry.h"
#include "sim_test.h"

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

// A 32-bit process on 64-bit Windows: HKLM\SOFTWARE is its 32-bit view unless it asks for
// the 64-bit one; HKLM\SYSTEM has one view; elsewhere the view flag changes nothing.
TEST_F(Registry, Wow64ViewsOfSoftware) {
  machine.registry.SetDword("HKLM\\SOFTWARE\\Vendor", "V", 64);
  machine.registry.SetDword("HKLM\\SOFTWARE\\Wow6432Node\\Vendor", "V", 32);
  machine.registry.SetDword("HKLM\\SYSTEM\\Vendor", "V", 1);
  struct Case { bool wow64; const char* path; REGSAM view; std::uint32_t expected; };
  for (const Case& c : {Case{false, "SOFTWARE\\Vendor", 0, 64}, Case{false, "software\\Vendor", KEY_WOW64_64KEY, 64},
                        Case{true, "software\\Vendor", 0, 32}, Case{true, "SOFTWARE\\Vendor", KEY_WOW64_64KEY, 64},
                        Case{true, "SYSTEM\\Vendor", 0, 1}}) {
    machine.kernel.wow64 = c.wow64;
    RegistryKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, c.path, 0, KEY_READ | c.view, key.put()));
    DWORD value = 0;
    DWORD size = sizeof value;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key.get(), "V", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size));
    EXPECT_EQ(c.expected, value) << c.path << " wow64 " << c.wow64 << " view " << c.view;
  }
  // Keys are created in the view asked for, and what is opened below a key stays in its view.
  machine.kernel.wow64 = true;
  DWORD disposition = 0;
  RegistryKey created;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, created.put(), &disposition));
  EXPECT_EQ(1u, disposition);
  RegistryKey below;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(created.get(), "Below", below.put()));
  EXPECT_TRUE(machine.registry.HasKey("HKLM\\SOFTWARE\\New\\Below"));
  RegistryKey redirected;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", redirected.put()));
  EXPECT_TRUE(machine.registry.HasKey("HKLM\\SOFTWARE\\Wow6432Node\\New"));
  EXPECT_FALSE(machine.registry.HasKey("HKLM\\SOFTWARE\\Wow6432Node\\New\\Below"));
}

}  // namespace

namespace {

// A restart takes every volatile key with what is below it and leaves ordinary keys; a
// handle still open on a volatile key sees it deleted.
TEST_F(Registry, RestartRemovesVolatileKeysOnly) {
  machine.registry.SetDword("HKLM\\SOFTWARE\\Kept", "V", 1);
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kept\\Gone\\Below", 0, nullptr,
                                           REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr));
  RegistryKey below(key);
  EXPECT_TRUE(machine.registry.Find("HKLM\\SOFTWARE\\Kept\\Gone")->isVolatile);
  EXPECT_EQ((std::vector<std::string>{"RegCreateKey HKLM\\SOFTWARE\\Kept\\Gone\\Below volatile"}),
            EventsStartingWith("RegCreateKey"));
  machine.registry.Create("HKLM\\SOFTWARE\\Other");
  machine.registry.Create("HKLM\\SOFTWARE\\Other\\Gone2", true);
  EXPECT_EQ(2, machine.registry.RemoveVolatileKeys());
  EXPECT_TRUE(machine.registry.HasKey("HKLM\\SOFTWARE\\Kept"));
  EXPECT_TRUE(machine.registry.HasKey("HKLM\\SOFTWARE\\Other"));
  EXPECT_FALSE(machine.registry.HasKey("HKLM\\SOFTWARE\\Kept\\Gone"));
  EXPECT_FALSE(machine.registry.HasKey("HKLM\\SOFTWARE\\Other\\Gone2"));
  DWORD one = 1;
  EXPECT_EQ(ERROR_KEY_DELETED, RegSetValueExA(below.get(), "V", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4));
}

}  // namespace
