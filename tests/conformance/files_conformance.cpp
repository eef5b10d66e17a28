// Files, text-mode streams, short names and the environment.
#include <cstring>
#include <string>

#include "common/text.h"
#include "conformance.h"
#include "platform/files.h"

namespace {

CONFORMANCE_SUITE(FilesConformance);

std::string Scratch(const std::string& name) { return std::string(conf::kScratchDir) + "\\" + name; }

TEST_F(FilesConformance, TextStreamStoresLineFeedAsCrLfAndAppends) {
  std::string path = Scratch("stream.txt");
  TextStream* stream = OpenTextStream(path.c_str(), "w");
  ASSERT_NE(stream, nullptr);
  WriteTextStream(stream, "a\nb%d\n", 7);
  EXPECT_TRUE(CloseTextStream(stream));
  stream = OpenTextStream(path.c_str(), "a");
  ASSERT_NE(stream, nullptr);
  WriteTextStream(stream, "c\n");
  EXPECT_TRUE(CloseTextStream(stream));
  EXPECT_EQ(conf::seed::ReadBytes(path).value_or("?"), "a\r\nb7\r\nc\r\n");
  stream = OpenTextStream(path.c_str(), "w");  // writing starts the file afresh
  ASSERT_NE(stream, nullptr);
  EXPECT_TRUE(CloseTextStream(stream));
  EXPECT_EQ(conf::seed::ReadBytes(path).value_or("?"), "");
}

TEST_F(FilesConformance, TextStreamInMissingDirectoryFails) {
  EXPECT_EQ(OpenTextStream(Scratch("missing\\file.txt").c_str(), "w"), nullptr);
}

// The bounded helper over the C runtime's formatting (on Windows msvcrt's own, which
// leaves a text that fills the buffer exactly without a terminator): a text of up to
// capacity - 1 characters fits, a longer one leaves the buffer empty.
TEST_F(FilesConformance, FormatTextFitsWholeOrLeavesTheBufferEmpty) {
  char buffer[8];
  for (const std::string text : {"", "1234567", "12345678", "123456789"}) {
    const bool fits = text.size() < sizeof buffer;
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(FormatText(buffer, sizeof buffer, "%s", text.c_str()), fits) << text;
    std::string expected = fits ? text : "";
    expected.resize(sizeof buffer, '\0');
    EXPECT_EQ(std::string(buffer, sizeof buffer), expected) << text;
  }
  EXPECT_TRUE(FormatText(buffer, sizeof buffer, "%.*s%u", 3, "abcdef", 1234u));
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string("abc1234\0", 8));
}

TEST_F(FilesConformance, DeleteFileResults) {
  ASSERT_TRUE(conf::seed::WriteBytes(Scratch("Victim.txt"), "x"));
  EXPECT_TRUE(DeleteFileA(Scratch("VICTIM.TXT").c_str()));  // paths ignore case
  EXPECT_FALSE(conf::seed::ReadBytes(Scratch("Victim.txt")));
  SetLastError(0);
  EXPECT_FALSE(DeleteFileA(Scratch("Victim.txt").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  SetLastError(0);
  EXPECT_FALSE(DeleteFileA(Scratch("NoDir\\Victim.txt").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(FilesConformance, DeleteFileOfOpenStreamIsRefused) {
  std::string path = Scratch("open.txt");
  TextStream* stream = OpenTextStream(path.c_str(), "w");
  ASSERT_NE(stream, nullptr);
  SetLastError(0);
  EXPECT_FALSE(DeleteFileA(path.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(CloseTextStream(stream));
  EXPECT_TRUE(DeleteFileA(path.c_str()));
}

TEST_F(FilesConformance, MoveFileResults) {
  std::string from = Scratch("a.inf");
  std::string to = Scratch("a.org");
  ASSERT_TRUE(conf::seed::WriteBytes(from, "first"));
  ASSERT_TRUE(conf::seed::WriteBytes(to, "second"));
  struct Case {
    std::string from, to;
    DWORD error;
  } refused[] = {
      {from, to, ERROR_ALREADY_EXISTS},  // onto an existing file: nothing moves
      {Scratch("none.inf"), Scratch("none.org"), ERROR_FILE_NOT_FOUND},
      {from, Scratch("nodir\\a.org"), ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.from + " -> " + c.to);
    SetLastError(0);
    EXPECT_FALSE(MoveFileA(c.from.c_str(), c.to.c_str()));
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_EQ(conf::seed::ReadBytes(from).value_or("?"), "first");
  EXPECT_EQ(conf::seed::ReadBytes(to).value_or("?"), "second");
  ASSERT_TRUE(DeleteFileA(to.c_str()));
  EXPECT_TRUE(MoveFileA(Scratch("A.INF").c_str(), to.c_str()));
  EXPECT_FALSE(conf::seed::ReadBytes(from));
  EXPECT_EQ(conf::seed::ReadBytes(to).value_or("?"), "first");
}

// An 8.3 path is its own short form. The result is its length without the terminator;
// a buffer too small gets the size needed, terminator included, and a missing file 0.
TEST_F(FilesConformance, ShortPathNameBufferRules) {
  std::string path = Scratch("SHORT.TXT");
  ASSERT_TRUE(conf::seed::WriteBytes(path, ""));
  char buffer[MAX_PATH];
  DWORD length = static_cast<DWORD>(path.size());
  EXPECT_EQ(GetShortPathNameA(path.c_str(), buffer, sizeof buffer), length);
  EXPECT_EQ(std::string(buffer), path);
  EXPECT_EQ(GetShortPathNameA(path.c_str(), buffer, length), length + 1);
  EXPECT_EQ(GetShortPathNameA(path.c_str(), nullptr, 0), length + 1);
  SetLastError(0);
  EXPECT_EQ(GetShortPathNameA(Scratch("MISSING.TXT").c_str(), buffer, sizeof buffer), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

bool Is83(const std::string& name) {
  auto dot = name.find('.');
  std::string base = name.substr(0, dot);
  std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  return !base.empty() && base.size() <= 8 && ext.size() <= 3 &&
         ext.find('.') == std::string::npos && name.find(' ') == std::string::npos;
}

// A long name (blanks, more than eight letters) has a short form of its own: 8.3 parts,
// no blank, and the short form names the same file.
TEST_F(FilesConformance, ShortPathNameOfLongName) {
  conf::seed::MakeDirectory(Scratch("Program Files"));
  std::string path = Scratch("Program Files\\Long File Name.inf");
  ASSERT_TRUE(conf::seed::WriteBytes(path, "long"));
  char buffer[MAX_PATH];
  DWORD length = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
  ASSERT_GT(length, 0u);
  std::string shortPath(buffer, length);
  ASSERT_EQ(shortPath.rfind(std::string(conf::kScratchDir) + "\\", 0), 0u) << shortPath;
  std::string rest = shortPath.substr(std::strlen(conf::kScratchDir) + 1);
  auto slash = rest.find('\\');
  ASSERT_NE(slash, std::string::npos) << shortPath;
  EXPECT_TRUE(Is83(rest.substr(0, slash))) << shortPath;
  EXPECT_TRUE(Is83(rest.substr(slash + 1))) << shortPath;
  EXPECT_EQ(conf::seed::ReadBytes(shortPath).value_or("?"), "long");
  EXPECT_EQ(GetShortPathNameA(shortPath.c_str(), buffer, sizeof buffer), length);
}

TEST_F(FilesConformance, ModuleFileNameOfOwnProgram) {
  std::string own = conf::seed::OwnExePath();
  char buffer[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  EXPECT_EQ(length, own.size());
  EXPECT_EQ(std::string(buffer), own);
  std::string tail = std::string("\\") + conf::kOwnExe;
  EXPECT_TRUE(own.size() > tail.size() &&
              own.compare(own.size() - tail.size(), tail.size(), tail) == 0)
      << own;
}

// Too small a buffer: the path fills the whole buffer without terminator, the buffer's
// size is returned and ERROR_INSUFFICIENT_BUFFER set (Windows XP sets no error).
TEST_F(FilesConformance, ModuleFileNameCutToBuffer) {
  std::string own = conf::seed::OwnExePath();
  char buffer[MAX_PATH];
  std::memset(buffer, 'x', sizeof buffer);
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, 6), 6u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::string(buffer, 6), own.substr(0, 6));
  EXPECT_EQ(buffer[6], 'x');
}

TEST_F(FilesConformance, EnvironmentNamesIgnoreCase) {
  conf::seed::SetEnvironment("CONF_VARIABLE", "C:\\Temp Dir");
  const char* value = EnvironmentValue("conf_variable");
  ASSERT_NE(value, nullptr);
  EXPECT_STREQ(value, "C:\\Temp Dir");
  EXPECT_EQ(EnvironmentValue("CONF_NOT_SET"), nullptr);
}

TEST_F(FilesConformance, SingleByteCodePageHasNoLeadBytes) {
  for (int c : {0x41, 0x5C, 0x81, 0x9F, 0xE0, 0xFC}) EXPECT_FALSE(IsDBCSLeadByte(static_cast<BYTE>(c))) << c;
}

}  // namespace
