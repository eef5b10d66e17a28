// Registry: keys made and found without regard to letter case, value reads with their
// buffer rules, subkey enumeration order and its end, deletion.
#include <cstring>
#include <string>

#include "conformance.h"
#include "platform/registry.h"

namespace {

CONFORMANCE_SUITE(RegistryConformance);

// The scratch key, or a key below it, created (and opened with every right).
RegistryKey Create(const std::string& below = "") {
  RegistryKey key;
  std::string path = conf::kScratchKey + (below.empty() ? "" : "\\" + below);
  EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, path.c_str(), key.put()), ERROR_SUCCESS) << path;
  return key;
}

LSTATUS Open(const std::string& below, REGSAM access, RegistryKey* key) {
  std::string path = conf::kScratchKey + (below.empty() ? "" : "\\" + below);
  return RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, access, key->put());
}

void SetString(HKEY key, const char* name, const std::string& text, bool withTerminator = true) {
  ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>(text.size() + (withTerminator ? 1 : 0))),
            ERROR_SUCCESS);
}

TEST_F(RegistryConformance, CreateMakesEveryMissingLevelAndOpenFindsItInAnyCase) {
  Create("Alpha\\Beta\\Gamma");
  RegistryKey key;
  EXPECT_EQ(Open("ALPHA\\beta\\GaMmA", KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_TRUE(key.valid());
}

TEST_F(RegistryConformance, OpenOfMissingKeyIsFileNotFound) {
  Create();
  RegistryKey key;
  EXPECT_EQ(Open("Missing", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open("Missing\\Deeper", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryConformance, CreateOfExistingKeyOpensItWithItsValues) {
  {
    RegistryKey key = Create("Kept");
    SetString(key.get(), "Name", "value");
  }
  RegistryKey again = Create("KEPT");
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(again.get(), "name", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 6u);
}

// Value reads: the size reported, the result for each buffer size, the type.
TEST_F(RegistryConformance, QueryValueBufferRules) {
  RegistryKey key = Create();
  SetString(key.get(), "Text", "abcdef");
  DWORD number = 0x12345678;
  ASSERT_EQ(RegSetValueExA(key.get(), "Number", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&number), sizeof number),
            ERROR_SUCCESS);
  struct Case {
    const char* name;
    DWORD bufferSize;
    bool withBuffer;
    LSTATUS result;
    DWORD sizeAfter;
    DWORD type;
  } cases[] = {
      {"Text", 0, false, ERROR_SUCCESS, 7, REG_SZ},   // size only
      {"Text", 7, true, ERROR_SUCCESS, 7, REG_SZ},    // exact fit, terminator included
      {"Text", 6, true, ERROR_MORE_DATA, 7, REG_SZ},  // one short
      {"Text", 100, true, ERROR_SUCCESS, 7, REG_SZ},  // room to spare
      {"Number", 4, true, ERROR_SUCCESS, 4, REG_DWORD},
      {"Number", 3, true, ERROR_MORE_DATA, 4, REG_DWORD},
      {"NUMBER", 4, true, ERROR_SUCCESS, 4, REG_DWORD},  // names ignore case
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " buffer " + std::to_string(c.bufferSize));
    BYTE buffer[100];
    std::memset(buffer, 'x', sizeof buffer);
    DWORD size = c.bufferSize;
    DWORD type = 0xDEAD;
    EXPECT_EQ(RegQueryValueExA(key.get(), c.name, nullptr, &type, c.withBuffer ? buffer : nullptr,
                               &size),
              c.result);
    EXPECT_EQ(size, c.sizeAfter);
    EXPECT_EQ(type, c.type);
    if (c.result == ERROR_SUCCESS && c.withBuffer && c.type == REG_SZ) {
      EXPECT_STREQ(reinterpret_cast<char*>(buffer), "abcdef");
    }
    if (c.result == ERROR_SUCCESS && c.withBuffer && c.type == REG_DWORD) {
      DWORD read = 0;
      std::memcpy(&read, buffer, 4);
      EXPECT_EQ(read, number);
    }
  }
}

TEST_F(RegistryConformance, QueryOfMissingValueIsFileNotFound) {
  RegistryKey key = Create();
  DWORD size = 4;
  DWORD data = 0;
  EXPECT_EQ(RegQueryValueExA(key.get(), "Missing", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(&data), &size),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryConformance, DefaultValueIsTheEmptyName) {
  RegistryKey key = Create();
  SetString(key.get(), nullptr, "default");
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key.get(), "", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 8u);
}

TEST_F(RegistryConformance, AccessRightsOfTheOpenAreEnforced) {
  Create();
  RegistryKey readOnly;
  ASSERT_EQ(Open("", KEY_QUERY_VALUE, &readOnly), ERROR_SUCCESS);
  DWORD number = 1;
  EXPECT_EQ(RegSetValueExA(readOnly.get(), "N", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&number), sizeof number),
            ERROR_ACCESS_DENIED);
  RegistryKey writeOnly;
  ASSERT_EQ(Open("", KEY_SET_VALUE, &writeOnly), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(writeOnly.get(), "N", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&number), sizeof number),
            ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(writeOnly.get(), "N", nullptr, nullptr, nullptr, &size),
            ERROR_ACCESS_DENIED);
  char name[32];
  EXPECT_EQ(RegEnumKeyA(writeOnly.get(), 0, name, sizeof name), ERROR_ACCESS_DENIED);
}

// Subkeys come in the order of their upper-case names, each in its own letter case,
// whatever the order of creation; after the last comes ERROR_NO_MORE_ITEMS.
TEST_F(RegistryConformance, EnumKeyOrderAndEnd) {
  RegistryKey key = Create();
  for (const char* name : {"gamma", "Beta", "ALPHA", "delta2", "Delta1"}) Create(name);
  std::vector<std::string> seen;
  char name[64];
  DWORD index = 0;
  LSTATUS result;
  while ((result = RegEnumKeyA(key.get(), index, name, sizeof name)) == ERROR_SUCCESS) {
    seen.push_back(name);
    ++index;
  }
  EXPECT_EQ(result, ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(seen, (std::vector<std::string>{"ALPHA", "Beta", "Delta1", "delta2", "gamma"}));
  EXPECT_EQ(RegEnumKeyA(key.get(), 99, name, sizeof name), ERROR_NO_MORE_ITEMS);
}

// Windows orders subkeys by their upper-case names, so the underscore (between the
// upper- and the lower-case letters) comes after the letters.
TEST_F(RegistryConformance, EnumKeyComparesInUpperCase) {
  RegistryKey key = Create();
  for (const char* name : {"b", "_a", "A"}) Create(name);
  std::vector<std::string> seen;
  char name[64];
  for (DWORD i = 0; RegEnumKeyA(key.get(), i, name, sizeof name) == ERROR_SUCCESS; ++i)
    seen.push_back(name);
  if (conf::OnSubstituteMachine()) {
    EXPECT_EQ(seen, (std::vector<std::string>{"A", "b", "_a"}));
  } else {
    conf::KnownDivergence("Wine orders subkeys by their lower-case names: the underscore comes first");
    EXPECT_EQ(seen, (std::vector<std::string>{"_a", "A", "b"}));
  }
}

TEST_F(RegistryConformance, EnumKeyNameBufferRules) {
  RegistryKey key = Create();
  Create("Seven77");
  char name[16];
  EXPECT_EQ(RegEnumKeyA(key.get(), 0, name, 8), ERROR_SUCCESS);  // 7 letters and terminator
  EXPECT_STREQ(name, "Seven77");
  EXPECT_EQ(RegEnumKeyA(key.get(), 0, name, 7), ERROR_MORE_DATA);
  EXPECT_EQ(RegEnumKeyA(key.get(), 1, name, 7), ERROR_NO_MORE_ITEMS);
}

// The NT family refuses to delete a key that has subkeys. (The 9x family removes the
// whole subtree; Wine shows that only to a program it reports as win98, and this one
// runs as the prefix's default NT version.)
TEST_F(RegistryConformance, DeleteKeyRefusesKeyWithSubkeys) {
  RegistryKey key = Create();
  Create("Parent\\Child");
  EXPECT_EQ(RegDeleteKeyA(key.get(), "Parent"), ERROR_ACCESS_DENIED);
  RegistryKey child;
  EXPECT_EQ(Open("Parent\\Child", KEY_READ, &child), ERROR_SUCCESS);
}

TEST_F(RegistryConformance, DeleteKeyRemovesLeafInAnyCase) {
  RegistryKey key = Create();
  Create("Leaf");
  EXPECT_EQ(RegDeleteKeyA(key.get(), "LEAF"), ERROR_SUCCESS);
  RegistryKey gone;
  EXPECT_EQ(Open("Leaf", KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(key.get(), "Leaf"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryConformance, HandleOfDeletedKeyReportsKeyDeleted) {
  RegistryKey parent = Create();
  RegistryKey leaf = Create("Leaf");
  ASSERT_EQ(RegDeleteKeyA(parent.get(), "Leaf"), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(leaf.get(), "X", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  SetString(parent.get(), "still", "works");
}

// A volatile key (kept in memory only) can have only volatile keys below it; creating
// makes every missing level of the kind asked for; an existing key opens whatever the
// options and keeps its kind.
TEST_F(RegistryConformance, VolatileKeysAndTheirChildren) {
  RegistryKey scratch = Create();
  struct Step {
    const char* path;
    DWORD options;
    LSTATUS result;
    DWORD disposition;  // when it succeeds
  } steps[] = {
      {"Vol\\Deep", REG_OPTION_VOLATILE, ERROR_SUCCESS, REG_CREATED_NEW_KEY},
      {"Vol\\Plain", REG_OPTION_NON_VOLATILE, ERROR_CHILD_MUST_BE_VOLATILE, 0},  // "Vol" too is volatile
      {"Vol\\Deep\\Plain", REG_OPTION_NON_VOLATILE, ERROR_CHILD_MUST_BE_VOLATILE, 0},
      {"Vol\\Deep", REG_OPTION_NON_VOLATILE, ERROR_SUCCESS, REG_OPENED_EXISTING_KEY},
      {"Vol\\Deep\\More", REG_OPTION_VOLATILE, ERROR_SUCCESS, REG_CREATED_NEW_KEY},
      {"Plain", REG_OPTION_NON_VOLATILE, ERROR_SUCCESS, REG_CREATED_NEW_KEY},
      {"Plain", REG_OPTION_VOLATILE, ERROR_SUCCESS, REG_OPENED_EXISTING_KEY},
      {"Plain\\Child", REG_OPTION_NON_VOLATILE, ERROR_SUCCESS, REG_CREATED_NEW_KEY},  // still ordinary
      {"Plain\\Vol", REG_OPTION_VOLATILE, ERROR_SUCCESS, REG_CREATED_NEW_KEY},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(step.path) + " options " + std::to_string(step.options));
    RegistryKey key;
    DWORD disposition = 0;
    EXPECT_EQ(RegCreateKeyExA(scratch.get(), step.path, 0, nullptr, step.options, KEY_ALL_ACCESS, nullptr,
                              key.put(), &disposition),
              step.result);
    if (step.result != ERROR_SUCCESS) {
      EXPECT_FALSE(key.valid());
      continue;
    }
    EXPECT_EQ(disposition, step.disposition);
    SetString(key.get(), "Name", "value");
  }
  // RegCreateKeyA makes ordinary keys only.
  RegistryKey plain;
  EXPECT_EQ(RegCreateKeyA(scratch.get(), "Vol\\Other", plain.put()), ERROR_CHILD_MUST_BE_VOLATILE);
  // A volatile key without subkeys is deleted as any other; its values are read as any other.
  EXPECT_EQ(RegDeleteKeyA(scratch.get(), "Vol\\Deep\\More"), ERROR_SUCCESS);
  RegistryKey deep;
  ASSERT_EQ(Open("Vol\\Deep", KEY_READ, &deep), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(deep.get(), "Name", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 6u);
}

TEST_F(RegistryConformance, ClosingPredefinedRootSucceeds) {
  EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
}

}  // namespace
