// The substitute machine: profile files and text-mode streams, as the setup runner relies on them.
#include <string>
#include <string_view>
#include <vector>

#include "pakrun_fixture.h"
#include "platform/devices.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/programs.h"
#include "platform/registry.h"
#include "platform/sim/text.h"
#include "pakrun/run_and_wait.h"

namespace {

using Profile = PakrunTest;


TEST_F(Profile, ProfileReadsFollowThePlatform) {
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

TEST_F(Profile, TextStreamsStoreCrlfAndAppendOrTruncate) {
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

// Encodings as each family reads them: a UTF-16LE file with its byte-order mark is read by
// the NT family and not by the 9x family; a UTF-8 byte-order mark is part of the first line
// on both, so a section header there is none.
TEST_F(Profile, EncodingsAreReadPerFamily) {
  const char* path = "C:\\TEMP\\c.ini";
  std::string wide = "\xFF\xFE";
  for (char c : std::string("[S]\r\nK=\xE9t\xE9\r\n")) wide += std::string(1, c) + '\0';
  struct Case {
    std::string bytes;
    DWORD platform;
    const char* expected;
  };
  const Case cases[] = {
      {wide, VER_PLATFORM_WIN32_NT, "\xE9t\xE9"},
      {wide, VER_PLATFORM_WIN32_WINDOWS, "none"},
      {"\xEF\xBB\xBF[S]\r\nK=1\r\n", VER_PLATFORM_WIN32_NT, "none"},
      {"\xEF\xBB\xBF[S]\r\nK=1\r\n", VER_PLATFORM_WIN32_WINDOWS, "none"},
      {"\xEF\xBB\xBF\r\n[S]\r\nK=1\r\n", VER_PLATFORM_WIN32_NT, "1"},
  };
  for (const Case& c : cases) {
    machine.kernel.version.platformId = c.platform;
    machine.files.Put(path, c.bytes);
    char value[8];
    GetPrivateProfileStringA("S", "K", "none", value, sizeof value, path);
    EXPECT_STREQ(c.expected, value) << c.platform << " " << c.bytes;
  }
}

// A profile file changed after it was read is read anew: replaced, appended to, or
// rewritten to the same size through a stream.
TEST_F(Profile, ChangedFileIsReadAnew) {
  const char* path = "C:\\TEMP\\b.ini";
  char value[8];
  auto read = [&] {
    GetPrivateProfileStringA("S", "K", "none", value, sizeof value, path);
    return std::string(value);
  };
  machine.files.Put(path, "[S]\r\n");
  EXPECT_EQ("none", read());
  TextStream* stream = OpenTextStream(path, "a");
  WriteTextStream(stream, "K=1\n");
  EXPECT_EQ("1", read());
  EXPECT_TRUE(CloseTextStream(stream));
  stream = OpenTextStream(path, "w");
  WriteTextStream(stream, "[S]\nK=2\n");
  EXPECT_TRUE(CloseTextStream(stream));
  EXPECT_EQ("2", read());
  machine.files.Put(path, "[S]\r\nK=3\r\n");
  EXPECT_EQ("3", read());
}

// Lines of a profile file end at CR LF, LF or a lone CR; line n is element n - 1, so an LF
// followed by a CR is two line ends with an empty line between.
TEST(ProfileLines, EndAtCrLfLfOrLoneCr) {
  using Lines = std::vector<std::string_view>;
  const struct {
    std::string_view text;
    Lines lines;
  } cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb\n", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"a\n\rb", {"a", "", "b"}},
      {"a\r\r\nb", {"a", "", "b"}},
      {" a \rb=c\r\n\r\n", {" a ", "b=c", ""}},
      {"\r", {""}},
  };
  for (const auto& c : cases) EXPECT_EQ(sim::ProfileLines(c.text), c.lines) << c.text;
}

}  // namespace
