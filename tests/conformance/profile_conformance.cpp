// Private profile (INI) files, read as the setup runner reads its settings file.
#include <cstring>
#include <string>

#include "conformance.h"
#include "platform/files.h"
#include "platform/profile.h"

namespace {

CONFORMANCE_SUITE(ProfileConformance);

std::string Scratch(const std::string& name) { return std::string(conf::kScratchDir) + "\\" + name; }

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
// stays part of the first line and a section header there is none. A NUL byte: see below.
TEST_F(ProfileConformance, EncodingsAndNulOnTheNtFamily) {
  std::string wide = "\xFF\xFE";
  for (char c : std::string("[S]\r\nK=v\xE9\r\n")) wide += std::string(1, c) + '\0';
  const std::string marked = "\xEF\xBB\xBF[S]\r\nK=v\r\n";
  const std::string nul = std::string("[S]\r\nJ=1\r\nK=ab") + '\0' + "cd\r\nL=x\r\n";
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
    EXPECT_EQ(read("nul.ini", nul, "J"), "1");
    EXPECT_EQ(read("nul.ini", nul, "K"), "ab");
    EXPECT_EQ(read("nul.ini", nul, "L"), "x");
  } else {
    conf::KnownDivergence("Wine reads no key at all of an ANSI file that holds a NUL byte; the substitute "
                          "machine ends the value at the NUL, and what Windows does is not documented");
    for (const char* key : {"J", "K", "L"}) EXPECT_EQ(read("nul.ini", nul, key), "dflt") << key;
  }
  if (conf::OnSubstituteMachine()) {
    EXPECT_EQ(read("marked.ini", marked, "K"), "dflt");
  } else {
    conf::KnownDivergence("Wine reads past a UTF-8 byte-order mark; Windows reads it as part of the first line");
    EXPECT_EQ(read("marked.ini", marked, "K"), "v");
  }
}

}  // namespace
