// Scrubnet's file deletions on the substitute machine: the installed INF with its PNF and
// CAT, names taken from the registry, and directories or paths that do not fit.
#include <string>
#include <vector>

#include "platform/registry.h"
#include "scrubnet/scrubnet.h"
#include "scrubnet_fixture.h"

namespace {

using Strings = std::vector<std::string>;

TEST_F(ScrubnetTest, InstalledInfWithItsPnfAndCatalog) {
  // The platform matches file names without regard to case.
  Put(Inf("oem12.inf"));
  Put(Inf("oem12.pnf"));
  Put(Cat("OEM12.cat"));
  Put(Inf("oem12.cat"));
  Put(Cat("oem12.PNF"));
  Put(Inf("oem13.inf"));

  DeleteInstalledInf("oem12.inf");

  EXPECT_EQ((Strings{"C:\\WINDOWS\\inf\\oem12.inf", "C:\\WINDOWS\\inf\\oem12.PNF",
                     "C:\\WINDOWS\\system32\\CatRoot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\oem12.CAT"}),
            Deleted());
  EXPECT_FALSE(Has(Inf("oem12.pnf")));
  EXPECT_FALSE(Has(Cat("oem12.cat")));
  EXPECT_TRUE(Has(Inf("oem12.cat")));
  EXPECT_TRUE(Has(Cat("oem12.PNF")));
  EXPECT_TRUE(Has(Inf("oem13.inf")));

  // Done again, nothing is left to delete, and nothing is reported.
  DeleteInstalledInf("oem12.inf");
  EXPECT_EQ(3u, Deleted().size());
  EXPECT_EQ(6, machine.Calls("DeleteFileA"));
}

TEST_F(ScrubnetTest, InfPathThatIsNotABareFileNameDeletesNothing) {
  // What each value would reach if it were appended as it is.
  Put("C:\\WINDOWS\\win.ini");
  Put("C:\\WINDOWS\\system32\\drivers\\kv7403.sys");
  Put("C:\\boot.ini");
  Put(Inf("a\\b.inf"));
  Put(Inf("sub\\oem1.inf"));
  for (const char* value :
       {"..\\win.ini", "..\\system32\\drivers\\kv7403.sys", "C:\\boot.ini", "\\boot.ini",
        "a/b.inf", "sub\\oem1.inf", "C:oem1.inf", "oem1.inf:stream", ".", "..", "...", " . ",
        ""}) {
    DeleteInstalledInf(value);
  }
  EXPECT_EQ(0, machine.Calls("DeleteFileA"));
  EXPECT_EQ(0, machine.Calls("GetWindowsDirectoryA"));
}

TEST_F(ScrubnetTest, InfPathTooShortForAnExtensionDerivesNoPnfOrCatalog) {
  Put(Inf("inf"));
  Put(Inf("PNF"));
  Put(Cat("CAT"));
  Put(Inf("ab"));
  Put(Inf("x.in"));
  Put(Inf("xPNF"));
  Put(Cat("xCAT"));

  DeleteInstalledInf("inf");
  DeleteInstalledInf("ab");
  DeleteInstalledInf("x.in");  // four characters: one is left of the replaced three

  EXPECT_EQ((Strings{Inf("inf"), Inf("ab"), Inf("x.in"), Inf("xPNF"), Cat("xCAT")}), Deleted());
  EXPECT_TRUE(Has(Inf("PNF")));
  EXPECT_TRUE(Has(Cat("CAT")));
}

TEST_F(ScrubnetTest, CatalogNameMustFitFiftyCharacters) {
  const std::string fits = std::string(45, 'a') + ".inf";  // 49 characters
  const std::string tooLong = std::string(46, 'b') + ".inf";
  Put(InstalledInf(std::string(45, 'a')));
  Put(InstalledInf(std::string(46, 'b')));
  Put(Cat(std::string(46, 'b').substr(0, 45) + ".CA"));  // what cutting would name

  DeleteInstalledInf(fits.c_str());
  DeleteInstalledInf(tooLong.c_str());

  for (const std::string& path : InstalledInf(std::string(45, 'a'))) EXPECT_FALSE(Has(path)) << path;
  EXPECT_FALSE(Has(Inf(std::string(46, 'b') + ".inf")));
  EXPECT_FALSE(Has(Inf(std::string(46, 'b') + ".PNF")));
  EXPECT_TRUE(Has(Cat(std::string(46, 'b') + ".CAT")));
  EXPECT_EQ(5, machine.Calls("DeleteFileA"));
}

TEST_F(ScrubnetTest, PathOnTheWindowsDirectoryThatWouldNotFitIsSkippedNotCut) {
  // W of 105 characters: W\inf\oem12.inf takes 119 and fits a buffer of 120.
  machine.kernel.windowsDirectory = "C:\\" + std::string(102, 'w');
  Put(InstalledInf("oem12"));
  DeleteInstalledInf("oem12.inf");
  EXPECT_FALSE(Has(Inf("oem12.inf")));
  EXPECT_FALSE(Has(Inf("oem12.PNF")));

  // One more character and it does not; nor is a cut path deleted.
  machine.kernel.windowsDirectory = "C:\\" + std::string(103, 'w');
  Put(InstalledInf("oem12"));
  Put(Inf("oem12.in"));
  Put(Inf("oem12.PN"));
  DeleteInstalledInf("oem12.inf");
  EXPECT_TRUE(Has(Inf("oem12.inf")));
  EXPECT_TRUE(Has(Inf("oem12.in")));
  EXPECT_TRUE(Has(Inf("oem12.PN")));
  EXPECT_FALSE(Has(Cat("oem12.CAT")));  // the catalog folder is built on S
}

TEST_F(ScrubnetTest, WindowsDirectoryThatCannotBeUsedSkipsItsDeletions) {
  Use9x();
  Key9x("0000", "PCI\\VEN_1D4A&DEV_7403", "oem12.inf");
  Put(InstalledInf("oem12"));
  Put(FixedFiles());
  // What an empty directory would leave: paths relative to the current drive.
  Put("\\inf\\oem12.inf");
  Put("\\inf\\net7403.inf");
  Put("\\system32\\drivers\\kv74039x.sys");
  machine.Fail("GetWindowsDirectoryA", ERROR_GEN_FAILURE);

  PurgeDriverKeys9x();

  EXPECT_EQ(Strings{Cat("oem12.CAT")}, Deleted());
  EXPECT_FALSE(HasKey(std::string(k9xClassKey) + "\\0000"));
}

TEST_F(ScrubnetTest, WindowsDirectoryIsUsedOnlyAsAWholeFullPath) {
  // Drive letters at both ends of both ranges and a share are full paths; the bytes just
  // outside the ranges, one backslash, a relative path or one too long are not.
  const struct {
    std::string windows;
    bool used;
  } cases[] = {
      {"A:\\W", true},      {"Z:\\W", true},     {"a:\\W", true},
      {"z:\\W", true},      {"\\\\server\\share\\W", true},
      {"@:\\W", false},     {"[:\\W", false},    {"`:\\W", false},
      {"{:\\W", false},     {"\\W", false},      {"WINDOWS", false},
      {"C:WINDOWS", false}, {"", false},         {"C:\\" + std::string(117, 'w'), false},
  };
  for (const auto& c : cases) {
    machine.kernel.windowsDirectory = c.windows;
    Put(Inf("oem12.inf"));
    DeleteInstalledInf("oem12.inf");
    EXPECT_EQ(!c.used, Has(Inf("oem12.inf"))) << c.windows;
  }
}

TEST_F(ScrubnetTest, WindowsDirectoryEndingInABackslashOrInADoubleByteCharacter) {
  machine.kernel.windowsDirectory = "D:\\";
  Put("D:\\inf\\oem12.inf");
  Put("D:\\inf\\oem12.PNF");
  Put(Cat("oem12.CAT"));
  DeleteInstalledInf("oem12.inf");
  EXPECT_EQ((Strings{"D:\\inf\\oem12.inf", "D:\\inf\\oem12.PNF", Cat("oem12.CAT")}), Deleted());

  // In Shift-JIS 0x95 0x5C is one character: its second byte is no separator to drop,
  // which would leave "D:\\\x95" and another folder.
  machine.kernel.self.UseShiftJis();
  machine.kernel.windowsDirectory = "D:\\\x95\x5C";
  Put("D:\\\x95\x5C\\inf\\oem13.inf");
  Put("D:\\\x95\\inf\\oem13.inf");
  DeleteInstalledInf("oem13.inf");
  EXPECT_EQ("D:\\\x95\x5C\\inf\\oem13.inf", Deleted().back());
  EXPECT_TRUE(Has("D:\\\x95\\inf\\oem13.inf"));
}

TEST_F(ScrubnetTest, DerivedNamesNeverSplitADoubleByteCharacter) {
  machine.kernel.self.UseShiftJis();
  // Where a double-byte character lies against the last three bytes. Among them, no name
  // is derived and no deletion even tried: its first byte would join the suffix and name
  // another file (seeded here under that name).
  const struct {
    std::string inf;
    bool derives;
  } cases[] = {
      {"oem1.\x95\x41", false},  // the last two bytes
      {"oem1\x95\x41x", false},  // the first two of the last three
      {"oem\x95\x41nf", false},  // its second byte the first of the last three
      {"oe\x95\x41inf", true},   // just left of them
      {"\x95\x41x.inf", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.inf);
    const std::string stem = c.inf.substr(0, c.inf.size() - 3);
    Put({Inf(c.inf), Inf(stem + "PNF"), Cat(stem + "CAT")});
    const std::size_t deletedBefore = Deleted().size();
    const int triedBefore = machine.Calls("DeleteFileA");
    DeleteInstalledInf(c.inf.c_str());
    Strings deleted = Deleted();
    deleted.erase(deleted.begin(), deleted.begin() + static_cast<std::ptrdiff_t>(deletedBefore));
    const Strings expected = c.derives ? Strings{Inf(c.inf), Inf(stem + "PNF"), Cat(stem + "CAT")}
                                       : Strings{Inf(c.inf)};
    EXPECT_EQ(expected, deleted);
    EXPECT_EQ(c.derives ? 3 : 1, machine.Calls("DeleteFileA") - triedBefore);
  }
}

TEST_F(ScrubnetTest, SystemDirectoryThatCannotBeUsedSkipsOnlyTheCatalog) {
  Put(InstalledInf("oem12"));
  machine.kernel.systemDirectory = "C:\\" + std::string(297, 's');  // 300 with its terminator
  DeleteInstalledInf("oem12.inf");
  machine.Fail("GetSystemDirectoryA", ERROR_GEN_FAILURE);
  machine.kernel.systemDirectory = kS;
  DeleteInstalledInf("oem12.inf");
  EXPECT_EQ((Strings{Inf("oem12.inf"), Inf("oem12.PNF")}), Deleted());
  EXPECT_TRUE(Has(Cat("oem12.CAT")));
}

TEST_F(ScrubnetTest, CatalogPathMustFitThreeHundredCharacters) {
  // S\CatRoot\{...}\ adds 48 characters to S, the catalog name 40 more.
  const std::string catalog = std::string(36, 'c') + ".CAT";
  machine.kernel.systemDirectory = "C:\\" + std::string(208, 's');  // 211: 299 in all, fits
  Put(Cat(catalog));
  DeleteInstalledInf((std::string(36, 'c') + ".inf").c_str());
  EXPECT_FALSE(Has(Cat(catalog)));

  machine.kernel.systemDirectory = "C:\\" + std::string(209, 's');  // 300 in all, does not
  Put(Cat(catalog));
  DeleteInstalledInf((std::string(36, 'c') + ".inf").c_str());
  EXPECT_TRUE(Has(Cat(catalog)));
}

}  // namespace

namespace {

// Registry strings need not carry their terminator: one that fills the whole buffer
// without it is not taken as a name.
TEST_F(ScrubnetTest, InfPathWithoutTerminator) {
  UseNt();
  const std::string sub = std::string(kNtClassKey) + "\\0000";
  NtKey("0000", "PCI\\VEN_1D4A&DEV_7403", "");
  machine.registry.SetRaw(sub, "InfPath", REG_SZ, {'o', 'e', 'm', '1', '2', '.', 'i', 'n', 'f'});
  NtKey("0001", "PCI\\VEN_1D4A&DEV_7403", "");
  std::string full(116, 'a');
  full += ".inf";  // 120 characters
  machine.registry.SetRaw(std::string(kNtClassKey) + "\\0001", "InfPath", REG_SZ,
                          std::vector<unsigned char>(full.begin(), full.end()));
  Put(InstalledInf("oem12"));
  PurgeDriverKeysNt();
  for (const std::string& path : InstalledInf("oem12")) EXPECT_FALSE(Has(path)) << path;
  // The second key deletes only the driver file (already gone): nothing of its InfPath.
  EXPECT_EQ(3 + 1 + 1, machine.Calls("DeleteFileA"));
}

}  // namespace
