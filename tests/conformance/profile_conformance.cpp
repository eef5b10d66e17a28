// Private profile (INI) files, read as the setup runner reads its settings file.
#include <cstring>
#include <string>

#include "conformance.h"
#include "platform/files.h"
#include "platform/profile.h"

namespace {

CONFORMANCE_SUITE(ProfileConformance);

std::string Scratch(const std::string& name) { return std::string(conf::kScratchDir) + "\\" + name; }

// `text` followed by NULs up to `size` bytes: a whole name buffer.
std::string Padded(const char* text, std::size_t size) {
  std::string padded(text);
  padded.resize(size, '\0');
  return padded;
}

constexpr char kProfile[] =
    "; settings\r\n"
    "[Params]\r\n"
    "Number=42\r\n"
    "Negative=-5\r\n"
    "MinusOne=-1\r\n"
    "Plus=+8\r\n"
    "Hex=0x1F\r\n"
    "Text=abc\r\n"
    "Trailing=12abc\r\n"
    "Padded =   17   \r\n"
    "Empty=\r\n"
    "Blank=   \r\n"
    "Quoted=\"  in quotes  \"\r\n"
    "Single='single'\r\n"
    "Open=\"open\r\n"
    "Inner=a \"b\" c\r\n"
    "Spaced=  two  words  \r\n"
    "Twice=first\r\n"
    "Twice=second\r\n"
    ";Commented=1\r\n"
    "NoEquals\r\n"
    "Long=abcdefghij\r\n"
    "[Other]\r\n"
    "Number=7\r\n"
    "[PARAMS]\r\n"
    "Later=1\r\n";

class ProfileFile {
 public:
  explicit ProfileFile(const std::string& name) : path_(Scratch(name)) {
    EXPECT_TRUE(conf::seed::WriteBytes(path_, kProfile));
  }
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

TEST_F(ProfileConformance, IntValues) {
  ProfileFile file("int.ini");
  struct Case {
    const char* section;
    const char* key;
    UINT expected;
  } cases[] = {
      {"Params", "Number", 42},
      {"params", "NUMBER", 42},  // names ignore case
      {"Other", "Number", 7},
      {"Params", "Negative", static_cast<UINT>(-5)},
      {"Params", "MinusOne", 0xFFFFFFFFu},
      {"Params", "Plus", 8},
      {"Params", "Hex", 31},
      {"Params", "Text", 0},       // not a number
      {"Params", "Trailing", 12},  // the number up to the first other character
      {"Params", "Padded", 17},
      {"Params", "Empty", 99},   // empty value: the default
      {"Params", "Blank", 99},
      {"Params", "Missing", 99},
      {"Missing", "Number", 99},
      {"Params", "Commented", 99},
      {"Params", "Later", 99},  // a later section of the same name is not read
      {"Params", "Twice", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key);
    EXPECT_EQ(GetPrivateProfileIntA(c.section, c.key, 99, file.path()), c.expected);
  }
  EXPECT_EQ(GetPrivateProfileIntA("Params", "Number", 99, Scratch("missing.ini").c_str()), 99u);
  EXPECT_EQ(GetPrivateProfileIntA("Params", "Missing", -1, file.path()), 0xFFFFFFFFu);
}

TEST_F(ProfileConformance, StringValues) {
  ProfileFile file("string.ini");
  struct Case {
    const char* section;
    const char* key;
    const char* defaultText;
    const char* expected;
  } cases[] = {
      {"Params", "Text", "dflt", "abc"},
      {"PARAMS", "text", "dflt", "abc"},
      {"Params", "Padded", "dflt", "17"},  // blanks around the value go
      {"Params", "Spaced", "dflt", "two  words"},
      {"Params", "Quoted", "dflt", "  in quotes  "},  // matching quotes go, blanks in them stay
      {"Params", "Single", "dflt", "single"},
      {"Params", "Open", "dflt", "\"open"},
      {"Params", "Inner", "dflt", "a \"b\" c"},
      {"Params", "Empty", "dflt", ""},  // present but empty: empty, not the default
      {"Params", "Blank", "dflt", ""},
      {"Params", "Twice", "dflt", "first"},  // the first of duplicates
      {"Params", "Missing", "dflt", "dflt"},
      {"Missing", "Text", "dflt", "dflt"},
      {"Params", "NoEquals", "dflt", "dflt"},
      {"Params", "Commented", "dflt", "dflt"},
      {"Params", "Missing", "", ""},
      {"Params", "Missing", nullptr, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key);
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    DWORD length = GetPrivateProfileStringA(c.section, c.key, c.defaultText, buffer, sizeof buffer,
                                            file.path());
    EXPECT_STREQ(buffer, c.expected);
    EXPECT_EQ(length, std::strlen(c.expected));
  }
}

TEST_F(ProfileConformance, StringOfMissingFileIsTheDefault) {
  char buffer[16];
  EXPECT_EQ(GetPrivateProfileStringA("Params", "Text", "dflt", buffer, sizeof buffer,
                                     Scratch("missing.ini").c_str()),
            4u);
  EXPECT_STREQ(buffer, "dflt");
}

// A value longer than the buffer is cut to size - 1 and terminated; the result is the
// length copied. The default is cut the same way.
TEST_F(ProfileConformance, StringCutToBuffer) {
  ProfileFile file("cut.ini");
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(GetPrivateProfileStringA("Params", "Long", "", buffer, 5, file.path()), 4u);
  EXPECT_STREQ(buffer, "abcd");
  EXPECT_EQ(buffer[5], 'x');
  EXPECT_EQ(GetPrivateProfileStringA("Params", "Missing", "defaulted", buffer, 4, file.path()), 3u);
  EXPECT_STREQ(buffer, "def");
}

// Trailing blanks of the default are dropped.
TEST_F(ProfileConformance, DefaultLosesTrailingBlanks) {
  ProfileFile file("default.ini");
  char buffer[16];
  EXPECT_EQ(GetPrivateProfileStringA("Params", "Missing", " a b  ", buffer, sizeof buffer,
                                     file.path()),
            4u);
  EXPECT_STREQ(buffer, " a b");
}

// How files of other encodings are read on the NT family: a UTF-16LE file with its
// byte-order mark is read as text; a UTF-8 byte-order mark is no mark to Windows, so it
// stays part of the first line and a section header there is none.
TEST_F(ProfileConformance, EncodingsOnTheNtFamily) {
  std::string wide = "\xFF\xFE";
  for (char c : std::string("[S]\r\nK=v\xE9\r\n")) wide += std::string(1, c) + '\0';
  const std::string marked = "\xEF\xBB\xBF[S]\r\nK=v\r\n";
  auto read = [&](const std::string& name, const std::string& bytes, const char* key) {
    const std::string path = Scratch(name);
    EXPECT_TRUE(conf::seed::WriteBytes(path, bytes));
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    GetPrivateProfileStringA("S", key, "dflt", buffer, sizeof buffer, path.c_str());
    return std::string(buffer);
  };
  EXPECT_EQ(read("wide.ini", wide, "K"), "v\xE9");
  if (conf::OnSubstituteMachine()) {
    EXPECT_EQ(read("marked.ini", marked, "K"), "dflt");
  } else {
    conf::KnownDivergence("Wine reads past a UTF-8 byte-order mark; Windows reads it as part of the first line");
    EXPECT_EQ(read("marked.ini", marked, "K"), "v");
  }
}

// NUL bytes in an ANSI file. A file that ends in one (as the peer test's files do, written
// with their terminator) is read whole on Windows and Wine alike. Inside a line, a name or
// value ends at the NUL, and the lines around it are read. (The file is never called
// "nul.ini": that name is the NUL device, which swallows what is written and reads empty.)
TEST_F(ProfileConformance, NulBytesEndANameOrValue) {
  const std::string z(1, '\0');
  const std::string peer = "[s]\r\nname1=val1\r\nname2=\r\nname3\r\nname4=val4\r\n";
  struct Case {
    std::string bytes;
    const char* section;
    const char* key;
    const char* expected;
  } cases[] = {
      {peer + z, "s", "name1", "val1"},
      {peer + z, "s", "name2", ""},
      {peer + z, "s", "name3", "dflt"},
      {peer + z, "s", "name4", "val4"},
      {peer + z + z, "s", "name4", "val4"},
      {peer + z + "x", "s", "name4", "val4"},
      {"[s]\rname1=val1\rname4=val4\r" + z, "s", "name4", "val4"},
      {"[S]\r\nJ=1\r\nK=ab" + z + "cd\r\nL=x\r\n", "S", "J", "1"},
      {"[S]\r\nJ=1\r\nK=ab" + z + "cd\r\nL=x\r\n", "S", "K", "ab"},
      {"[S]\r\nJ=1\r\nK=ab" + z + "cd\r\nL=x\r\n", "S", "L", "x"},
      {"[S]\r\nK=ab " + z + "cd\r\n", "S", "K", "ab "},  // trimmed before the cut
      {"[S]\r\nK=\"ab" + z + "cd\"\r\n", "S", "K", "\"ab"},  // no closing quote left
      {"[S]\r\nK= " + z + "cd\r\n", "S", "K", ""},
      {"[S]\r\nK" + z + "=1\r\n", "S", "K", "1"},
      {"[S" + z + "]\r\nK=1\r\n", "S", "K", "1"},
      {"[S]\r\nJ=1\r\n" + z + "\r\nL=x\r\n", "S", "L", "x"},
  };
  const std::string path = Scratch("zero.ini");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key + " of " + std::to_string(c.bytes.size()) + " bytes");
    ASSERT_TRUE(conf::seed::WriteBytes(path, c.bytes));
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetPrivateProfileStringA(c.section, c.key, "dflt", buffer, sizeof buffer, path.c_str()),
              std::strlen(c.expected));
    EXPECT_STREQ(buffer, c.expected);
  }
  // An empty value before the NUL is empty: the integer is the default.
  ASSERT_TRUE(conf::seed::WriteBytes(path, "[S]\r\nK= " + z + "12\r\nN=12" + z + "34\r\n"));
  EXPECT_EQ(GetPrivateProfileIntA("S", "K", 99, path.c_str()), 99u);
  EXPECT_EQ(GetPrivateProfileIntA("S", "N", 99, path.c_str()), 12u);
}

}  // namespace

// Every kind of line end in one file: CR LF, LF, a lone CR, and LF followed by CR (two
// line ends). A lone CR ends a line wherever it stands, inside a value as well.
TEST_F(ProfileConformance, LineEndsOfEveryKindInOneFile) {
  const std::string path = Scratch("mixed.ini");
  ASSERT_TRUE(conf::seed::WriteBytes(path, "[S]\rA=1\nB=2\r\nC=x\ry=z\n\rD=4\r\n[T]\rE=5"));
  struct Case {
    const char* section;
    const char* key;
    const char* expected;
  } cases[] = {
      {"S", "A", "1"}, {"S", "B", "2"}, {"S", "C", "x"}, {"S", "y", "z"},
      {"S", "D", "4"}, {"T", "E", "5"}, {"S", "E", "dflt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key);
    char buffer[16];
    EXPECT_EQ(GetPrivateProfileStringA(c.section, c.key, "dflt", buffer, sizeof buffer, path.c_str()),
              std::strlen(c.expected));
    EXPECT_STREQ(buffer, c.expected);
  }
  EXPECT_EQ(GetPrivateProfileIntA("S", "D", 9, path.c_str()), 4u);
}

// --- cases of Wine's conformance test of the profile functions -------------------------
// (dlls/kernel32/tests/profile.c, whose checks pass on Windows). Its inputs and Windows'
// answers, for the calls the setup runner makes: a section and a key always named, the
// settings file by its full path. Its files are seeded as bytes, in the form
// WritePrivateProfileStringA gives them where it wrote them.

// GetPrivateProfileIntA over one value of "[Test]\r\nProfileInt=<value>\r\n": a number
// too large for 32 bits wraps; a sign, then digits up to the first other character.
TEST_F(ProfileConformance, PeerIntValues) {
  struct Case {
    const char* value;  // null: no file at all
    INT defaultValue;
    UINT expected;
  } cases[] = {
      {nullptr, -1, 4294967295u},      {nullptr, 1, 1},
      {"-1", -1, 4294967295u},         {"-1", 1, 4294967295u},
      {"1", -1, 1},                    {"1", 1, 1},
      {"+1", -1, 1},                   {"+1", 1, 1},
      {"4294967296", -1, 0},           {"4294967296", 1, 0},
      {"4294967297", -1, 1},           {"4294967297", 1, 1},
      {"-4294967297", -1, 4294967295u}, {"-4294967297", 1, 4294967295u},
      {"42A94967297", -1, 42},         {"42A94967297", 1, 42},
      {"B4294967297", -1, 0},          {"B4294967297", 1, 0},
  };
  const std::string path = Scratch("testwine.ini");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.value != nullptr ? c.value : "(no file)") + ", default " +
                 std::to_string(c.defaultValue));
    if (c.value != nullptr) {
      ASSERT_TRUE(conf::seed::WriteBytes(path, std::string("[Test]\r\nProfileInt=") + c.value + "\r\n"));
    }
    EXPECT_EQ(GetPrivateProfileIntA("Test", "ProfileInt", c.defaultValue, path.c_str()), c.expected);
  }
}

// A file with line feeds alone is read; a file rewritten to the same size is read anew;
// once it is gone the default comes back.
TEST_F(ProfileConformance, PeerIntOfRewrittenAndDeletedFile) {
  const std::string path = Scratch("winetest4.ini");
  ASSERT_TRUE(conf::seed::WriteBytes(path, "[Test]\nProfileInt=123\n"));
  EXPECT_EQ(GetPrivateProfileIntA("Test", "ProfileInt", 0, path.c_str()), 123u);
  ASSERT_TRUE(conf::seed::WriteBytes(path, "[Test]\nProfileInt=124\n"));
  EXPECT_EQ(GetPrivateProfileIntA("Test", "ProfileInt", 0, path.c_str()), 124u);
  ASSERT_TRUE(DeleteFileA(path.c_str()));
  EXPECT_EQ(GetPrivateProfileIntA("Test", "ProfileInt", 421, path.c_str()), 421u);
}

// GetPrivateProfileStringA over the same file with each kind of line end. Empty names
// are passed in writable buffers and must stay empty (the NT family faults on a read-only
// one); a default with trailing blanks is writable too (the 9x family cuts it in place).
TEST_F(ProfileConformance, PeerStringValuesWithEachLineEnd) {
  constexpr DWORD kWhole = 260;
  enum class File { kTest, kMissing, kEmptyPath };
  struct Case {
    const char* section;  // "": an empty writable name
    const char* key;
    const char* defaultText;  // copied to a writable buffer; null passed as null
    DWORD size;
    File file;
    const char* expected;  // null: the buffer is left as it was
    DWORD length;
  } cases[] = {
      {"", "name1", "default", kWhole, File::kTest, "default", 7},
      {"notasection", "name1", "default", kWhole, File::kTest, "default", 7},
      {"", "name1", nullptr, kWhole, File::kTest, "", 0},
      {"", "name1", "", kWhole, File::kTest, "", 0},
      {"", "name1", "default  ", kWhole, File::kTest, "default", 7},
      {"", "name1", "one two  ", kWhole, File::kTest, "one two", 7},
      {"", "name1", "one two", kWhole, File::kTest, "one two", 7},
      {"section1", "", "default", kWhole, File::kTest, "default", 7},
      {"section1", "notakey", "default", kWhole, File::kTest, "default", 7},
      {"section1", "", nullptr, kWhole, File::kTest, "", 0},
      {"section1", "", "", kWhole, File::kTest, "", 0},
      {"section1", "", "default  ", kWhole, File::kTest, "default", 7},
      {"section1", "name1", "default", kWhole, File::kEmptyPath, "default", 7},
      {"section1", "name1", "default", kWhole, File::kMissing, "default", 7},
      {"section1", "name1", "default", 0, File::kTest, nullptr, 0},
      {"section1", "name1", "default", 4, File::kTest, "val", 3},
      {"section1", "name1", "default", 5, File::kTest, "val1", 4},
      {"section1", "name4", "default", kWhole, File::kTest, "a", 1},
      {"section1", "name4", "default", 1, File::kTest, "", 0},
      {"section1", "name2", "default", kWhole, File::kTest, "val2", 4},  // quotes go
      {"section1", "NaMe1", "default", kWhole, File::kTest, "val1", 4},
      {"section1", "name1", "default", kWhole, File::kTest, "val1", 4},
      {"section2", "DoesntExist", "", kWhole, File::kTest, "", 0},  // a section without keys
  };
  const std::string path = Scratch("winetest.ini");
  const std::string missing = Scratch("nonexistent");
  for (const char* end : {"\r\n", "\r", "\n"}) {
    std::string text;
    for (const char* line : {"[section1]", "name1=val1", "name2=\"val2\"", "name3", "name4=a", "[section2]"})
      text += std::string(line) + end;
    ASSERT_TRUE(conf::seed::WriteBytes(path, text));
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(end[0] == '\n' ? "LF" : end[1] == '\n' ? "CR LF" : "CR") + ": [" +
                   c.section + "] " + c.key + ", size " + std::to_string(c.size));
      char section[kWhole] = {};
      char key[kWhole] = {};
      char defaultText[kWhole] = {};
      std::strcpy(section, c.section);
      std::strcpy(key, c.key);
      if (c.defaultText != nullptr) std::strcpy(defaultText, c.defaultText);
      char buffer[kWhole];
      std::memset(buffer, 0x0C, sizeof buffer);
      std::strcpy(buffer, "kumquat");
      const char* file = c.file == File::kTest ? path.c_str() : c.file == File::kMissing ? missing.c_str() : "";
      DWORD length = GetPrivateProfileStringA(section, key, c.defaultText != nullptr ? defaultText : nullptr,
                                              buffer, c.size, file);
      EXPECT_EQ(length, c.length);
      EXPECT_STREQ(buffer, c.expected != nullptr ? c.expected : "kumquat");
      EXPECT_EQ(std::string(section, kWhole), Padded(c.section, kWhole));
      EXPECT_EQ(std::string(key, kWhole), Padded(c.key, kWhole));
    }
  }
}

// The last error after a key is missing from a section without keys: Windows leaves it as
// it was (Windows 7: ERROR_FILE_NOT_FOUND); the substitute machine leaves it.
TEST_F(ProfileConformance, PeerLastErrorOfKeyMissingFromSectionWithoutKeys) {
  const std::string path = Scratch("winetest.ini");
  ASSERT_TRUE(conf::seed::WriteBytes(path, "[section1]\r\nname1=val1\r\n[section2]\r\n"));
  char buffer[16];
  SetLastError(0xDEADBEEF);
  EXPECT_EQ(GetPrivateProfileStringA("section2", "DoesntExist", "", buffer, sizeof buffer, path.c_str()), 0u);
  const DWORD error = GetLastError();
  if (conf::OnSubstituteMachine()) {
    EXPECT_EQ(error, 0xDEADBEEFu);  // one of Windows' two answers
  } else {
    conf::KnownDivergence("Wine sets the last error to 0 after a missing key; Windows leaves it or sets "
                          "ERROR_FILE_NOT_FOUND (the setup runner never reads it after a profile read)");
    EXPECT_EQ(error, 0u);
  }
}
