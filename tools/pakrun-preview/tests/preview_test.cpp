// pakrun-preview: its warnings, the plan it reads from Pakrun's run, the JSON, the
// comparison of Windows versions and the exit codes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tools/pakrun-preview/checks.h"
#include "tools/pakrun-preview/escape.h"
#include "tools/pakrun-preview/lint.h"
#include "tools/pakrun-preview/preview.h"

namespace {

using preview::Json;
using preview::LintInput;
using preview::Warning;

std::string Crlf(std::initializer_list<std::string> lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

LintInput In(const std::string& settings, std::optional<std::string> script = std::nullopt,
             const std::string& shortFolder = "C:\\Setup", bool shortFormMissing = false) {
  LintInput input;
  input.settings = settings;
  input.script = std::move(script);
  input.scriptName = "Pakrun.reg";
  input.osSuffix = "_XP";
  input.windowsLabel = "Windows XP";
  input.shortFolder = shortFolder;
  input.shortFormMissing = shortFormMissing;
  return input;
}

std::string Utf16(const std::string& text) {
  std::string wide = "\xFF\xFE";
  for (char c : text) wide += std::string(1, c) + '\0';
  return wide;
}

bool Has(const std::vector<Warning>& warnings, const std::string& section, const std::string& key,
         const std::string& fragment) {
  for (const Warning& warning : warnings) {
    if (warning.section == section && warning.key == key &&
        warning.message.find(fragment) != std::string::npos)
      return true;
  }
  return false;
}

std::string Text(std::size_t length) { return std::string(length, 'A'); }

// One warning: a file that draws it, and the nearest file that does not.
struct WarningCase {
  const char* name;
  LintInput bad;
  LintInput good;
  const char* section;
  const char* key;
  const char* fragment;
};

TEST(PreviewWarnings, EachWarningHasACaseThatDrawsItAndOneThatDoesNot) {
  const std::string device = "[DRIVERREG]\r\nNIC=1\r\nDEV1=PCI\\A\r\n";
  const std::string driverOn = "[PARAMS]\r\nDRIVERREG=1\r\n" + device;
  const std::string deviceSection = "[DRIVERREG_PCI\\A_XP]\r\nADDREG=1\r\nADDREG1_ENTRYNAME=x\r\n";
  auto add = [](const std::string& lines) { return In("[STATICREG]\r\nADDREG=1\r\nADDREG1_ROOT=HKLM\r\n" + lines); };
  auto del = [](const std::string& lines) { return In("[STATICREG]\r\nDELREG=1\r\nDELREG1_ROOT=HKLM\r\n" + lines); };
  const std::string scriptOn = Crlf({"[PARAMS]", "STATICREGFROMFILE=1"});
  // The machine's TEMP and SystemRoot, with the option SystemRoot came from.
  auto machine = [](const std::string& settings, const std::string& temp, const std::string& root,
                    const char* option = "--windir") {
    LintInput input = In(settings);
    input.temp = temp;
    input.systemRoot = root;
    input.systemRootOption = option;
    return input;
  };
  const std::string staticOn = Crlf({"[PARAMS]", "STATICREG=1"});
  const std::string windows = "C:\\WINDOWS";
  const std::vector<WarningCase> cases = {
      {"unknown key", In("[PARAMS]\r\nSWAPCMDD=1\r\n"), In("[PARAMS]\r\nSWAPCMD=1\r\n"), "PARAMS", "SWAPCMDD", "nearest known: SWAPCMD)"},
      {"misspelt entry key", add("ADDREG1_ENTRYNAM=x\r\n"), add("ADDREG1_ENTRYNAME=x\r\n"), "STATICREG", "ADDREG1_ENTRYNAM", "nearest known: ADDREG1_ENTRYNAME)"},
      {"number with a leading zero", In("[CLEANUP]\r\nCLEANCOUNT=1\r\nDEV01=x\r\n"), In("[CLEANUP]\r\nCLEANCOUNT=1\r\nDEV1=x\r\n"), "CLEANUP", "DEV01", "nearest known: DEV1)"},
      {"unknown section", In("[PARAM]\r\nSWAPCMD=1\r\n"), In("[PARAMS]\r\nSWAPCMD=1\r\n"), "PARAM", "", "nearest known: [PARAMS]"},
      {"section of an unlisted device", In(device + "[DRIVERREG_PCI\\B_XP]\r\n"), In(device + "[DRIVERREG_PCI\\A_XP]\r\n"), "DRIVERREG_PCI\\B_XP", "", "never reads this section"},
      {"root in a device section", In(driverOn + deviceSection + "ADDREG1_ROOT=HKLM\r\n"), In(driverOn + deviceSection), "DRIVERREG_PCI\\A_XP", "ADDREG1_ROOT", "never read in a per-device section"},
      {"second section", In("[PARAMS]\r\n[PARAMS]\r\n"), In("[PARAMS]\r\n"), "PARAMS", "", "second [PARAMS]"},
      {"second key", In("[PARAMS]\r\nSWAPCMD=1\r\nSWAPCMD=0\r\n"), In("[PARAMS]\r\nSWAPCMD=1\r\n"), "PARAMS", "SWAPCMD", "second SWAPCMD"},
      {"switch at 2", In("[PARAMS]\r\nCLEANUP=2\r\n"), In("[PARAMS]\r\nCLEANUP=1\r\n"), "PARAMS", "CLEANUP", "not 0 or 1: the switch is off"},
      {"switch at 01", In("[PARAMS]\r\nRENAME=01\r\n"), In("[PARAMS]\r\nRENAME=0\r\n"), "PARAMS", "RENAME", "not 0 or 1: the switch is on"},
      {"gap in a list", In("[CLEANUP]\r\nCLEANCOUNT=3\r\nDEV1=a\r\nDEV3=c\r\n"), In("[CLEANUP]\r\nCLEANCOUNT=3\r\nDEV1=a\r\nDEV2=b\r\nDEV3=c\r\n"), "CLEANUP", "CLEANCOUNT", "entry 2 is missing"},
      {"count past the entries", In("[REFRESH]\r\nDETECTCOUNT=3\r\nDETECTDEV1=a\r\nDETECTDEV2=b\r\n"), In("[REFRESH]\r\nDETECTCOUNT=2\r\nDETECTDEV1=a\r\nDETECTDEV2=b\r\n"), "REFRESH", "DETECTCOUNT", "runs past the last entry present (2): entry 3"},
      {"entry above the count", In("[DRIVERREG]\r\nNIC=1\r\nDEV1=a\r\nDEV2=b\r\n"), In("[DRIVERREG]\r\nNIC=2\r\nDEV1=a\r\nDEV2=b\r\n"), "DRIVERREG", "DEV2", "never read: NIC is 1"},
      {"count above the bound", In("[STATICREG]\r\nADDREG=1001\r\n"), In("[STATICREG]\r\nADDREG=0\r\n"), "STATICREG", "ADDREG", "above the bound of 1000"},
      {"negative count", In("[DRIVERREG]\r\nNIC=-1\r\n"), In("[DRIVERREG]\r\nNIC=0\r\n"), "DRIVERREG", "NIC", "negative count reads as 0"},
      {"count with words", In("[REFRESH]\r\nDETECTCOUNT=2 devices\r\nDETECTDEV1=a\r\nDETECTDEV2=b\r\n"), In("[REFRESH]\r\nDETECTCOUNT=2\r\nDETECTDEV1=a\r\nDETECTDEV2=b\r\n"), "REFRESH", "DETECTCOUNT", "reads it as 2"},
      {"ID that fills its buffer", In("[CLEANUP]\r\nCLEANCOUNT=1\r\nDEV1=" + Text(1023) + "\r\n"), In("[CLEANUP]\r\nCLEANCOUNT=1\r\nDEV1=" + Text(1022) + "\r\n"), "CLEANUP", "DEV1", "skipped: an ID of 1023"},
      {"empty ID", In("[CLEANUP]\r\nCLEANCOUNT=1\r\nDEV1=\r\n"), In("[CLEANUP]\r\nCLEANCOUNT=1\r\nDEV1=x\r\n"), "CLEANUP", "DEV1", "empty ID matches no device"},
      {"section name too long", In("[DRIVERREG]\r\nNIC=1\r\nDEV1=" + Text(1011) + "\r\n"), In("[DRIVERREG]\r\nNIC=1\r\nDEV1=" + Text(1010) + "\r\n"), "DRIVERREG", "DEV1", "does not fit in 1023"},
      {"field longer than its buffer holds", add("ADDREG1_VALUE=" + Text(260) + "\r\n"), add("ADDREG1_VALUE=" + Text(259) + "\r\n"), "STATICREG", "ADDREG1_VALUE", "left out of the INF"},
      {"comma in a text value", add("ADDREG1_FLAGS=0\r\nADDREG1_VALUE=a,b\r\n"), add("ADDREG1_FLAGS=0x00010000\r\nADDREG1_VALUE=a,b\r\n"), "STATICREG", "ADDREG1_VALUE", "comma splits"},
      {"semicolon", add("ADDREG1_VALUE=a;b\r\n"), add("ADDREG1_VALUE=a b\r\n"), "STATICREG", "ADDREG1_VALUE", "semicolon starts an INF comment"},
      {"trailing backslash", add("ADDREG1_VALUE=C:\\dir\\\r\n"), add("ADDREG1_VALUE=C:\\dir\r\n"), "STATICREG", "ADDREG1_VALUE", "trailing backslash"},
      {"double quote in a name", add("ADDREG1_ENTRYNAME=a\"b\r\n"), add("ADDREG1_ENTRYNAME=ab\r\n"), "STATICREG", "ADDREG1_ENTRYNAME", "double quote"},
      {"lone percent sign", add("ADDREG1_VALUE=50%\r\n"), add("ADDREG1_VALUE=50%%\r\n"), "STATICREG", "ADDREG1_VALUE", "percent sign"},
      {"quotes dropped", add("ADDREG1_FLAGS=0x00010000\r\nADDREG1_VALUE=\"a\",\"b\"\r\n"), add("ADDREG1_FLAGS=0x00010000\r\nADDREG1_VALUE=\"a\",b\r\n"), "STATICREG", "ADDREG1_VALUE", "drops the quotes"},
      {"static delete without a name", del("DELREG1_SUBKEY=S\r\n"), del("DELREG1_SUBKEY=S\r\nDELREG1_ENTRYNAME=x\r\n"), "STATICREG", "DELREG1_ENTRYNAME", "deletes the whole key"},
      {"device delete without a name", In(driverOn + "[DRIVERREG_PCI\\A_XP]\r\nDELREG=1\r\nDELREG1_ENTRYNAME=\r\n"), In(driverOn + "[DRIVERREG_PCI\\A_XP]\r\nDELREG=1\r\nDELREG1_ENTRYNAME=x\r\n"), "DRIVERREG_PCI\\A_XP", "DELREG1_ENTRYNAME", "is left out"},
      {"no root", In("[STATICREG]\r\nADDREG=1\r\nADDREG1_SUBKEY=S\r\n"), add("ADDREG1_SUBKEY=S\r\n"), "STATICREG", "ADDREG1_ROOT", "no root"},
      {"unknown root", In("[STATICREG]\r\nADDREG=1\r\nADDREG1_ROOT=HKEY_LOCAL_MACHINE\r\n"), add(""), "STATICREG", "ADDREG1_ROOT", "knows no root"},
      {"HKR", In("[STATICREG]\r\nADDREG=1\r\nADDREG1_ROOT=HKR\r\n"), In("[STATICREG]\r\nADDREG=1\r\nADDREG1_ROOT=hkcu\r\n"), "STATICREG", "ADDREG1_ROOT", "HKR names no key"},
      {"flags in words", add("ADDREG1_FLAGS=REG_DWORD\r\n"), add("ADDREG1_FLAGS=0x00010001\r\n"), "STATICREG", "ADDREG1_FLAGS", "no flags value"},
      {"unknown flag bits", add("ADDREG1_FLAGS=0x00000040\r\n"), add("ADDREG1_FLAGS=2\r\n"), "STATICREG", "ADDREG1_FLAGS", "bits the INF installer does not know"},
      {"unknown value type", add("ADDREG1_FLAGS=0x00030000\r\n"), add("ADDREG1_FLAGS=0x00020000\r\n"), "STATICREG", "ADDREG1_FLAGS", "no value type"},
      {"section missing for the version", In(driverOn), In(driverOn + deviceSection), "DRIVERREG", "DEV1", "no section [DRIVERREG_PCI\\A_XP]: nothing is applied to this device on Windows XP"},
      {"INI name with a blank", In("[PARAMS]\r\nSWAPCMD=1\r\nCMDINI=My Net.ini\r\n"), In("[PARAMS]\r\nSWAPCMD=1\r\nCMDINI=MyNet.ini\r\n"), "PARAMS", "CMDINI", "split in two"},
      {"setup name that fills its buffer", In("[PARAMS]\r\nSWAPCMD=1\r\nCMDEXE=" + Text(259) + "\r\n"), In("[PARAMS]\r\nSWAPCMD=1\r\nCMDEXE=" + Text(258) + "\r\n"), "PARAMS", "CMDEXE", "fills its buffer"},
      {"no registry script", In(scriptOn), In(scriptOn, Crlf({"REGEDIT4"})), "PARAMS", "STATICREGFROMFILE", "no registry script Pakrun.reg"},
      {"script header", In(scriptOn, Crlf({"REGEDIT 4", "[HKEY_LOCAL_MACHINE\\X]"})), In(scriptOn, Crlf({"REGEDIT4", "[HKEY_LOCAL_MACHINE\\X]"})), "PARAMS", "STATICREGFROMFILE", "does not begin with REGEDIT4"},
      {"UTF-16 script header", In(scriptOn, Utf16("Windows Registry Editor Version 4.00\r\n")), In(scriptOn, Crlf({"REGEDIT4"})), "PARAMS", "STATICREGFROMFILE", "does not begin with"},
      {"setup program as a full path, behind the long folder", In("[PARAMS]\r\nSWAPCMD=1\r\nCMDEXE=C:\\Tools\\Inst.exe\r\n", std::nullopt, "C:\\SETUP~1"), In("[PARAMS]\r\nSWAPCMD=1\r\nCMDEXE=Tools\\Inst.exe\r\n", std::nullopt, "C:\\SETUP~1"), "PARAMS", "CMDEXE", "\"C:\\Setup\\C:\\Tools\\Inst.exe\"), which names no program"},
      {"empty setup program", In("[PARAMS]\r\nSWAPCMD=1\r\nCMDEXE=\r\n"), In("[PARAMS]\r\nSWAPCMD=1\r\nCMDEXE=Inst.exe\r\n"), "PARAMS", "CMDEXE", "an empty name"},
      {"DWORD data in words", add("ADDREG1_FLAGS=0x00010001\r\nADDREG1_VALUE=twelve\r\n"), add("ADDREG1_FLAGS=0x00010001\r\nADDREG1_VALUE=0x0C\r\n"), "STATICREG", "ADDREG1_VALUE", "\"twelve\" is no number"},
      {"DWORD data with a comma", In(driverOn + "[DRIVERREG_PCI\\A_XP]\r\nADDREG=1\r\nADDREG1_ENTRYNAME=x\r\nADDREG1_FLAGS=65537\r\nADDREG1_VALUE=hello, world\r\n"), In(driverOn + "[DRIVERREG_PCI\\A_XP]\r\nADDREG=1\r\nADDREG1_ENTRYNAME=x\r\nADDREG1_FLAGS=65537\r\nADDREG1_VALUE=12\r\n"), "DRIVERREG_PCI\\A_XP", "ADDREG1_VALUE", "is no number"},
      {"lower-case ID in CLEANUP", In("[PARAMS]\r\nCLEANUP=1\r\n[CLEANUP]\r\nCLEANCOUNT=1\r\nDEV1=pci\\ven_1d4a\r\n"), In("[PARAMS]\r\nCLEANUP=1\r\n[CLEANUP]\r\nCLEANCOUNT=1\r\nDEV1=PCI\\VEN_1D4A\r\n"), "CLEANUP", "DEV1", "letter case and all"},
      {"lower-case ID in REFRESH", In("[PARAMS]\r\nREFRESH=1\r\n[REFRESH]\r\nDETECTCOUNT=1\r\nDETECTDEV1=PCI\\Ven_1D4A\r\n"), In("[PARAMS]\r\nREFRESH=1\r\n[REFRESH]\r\nDETECTCOUNT=1\r\nDETECTDEV1=PCI\\VEN_1D4A\r\n"), "REFRESH", "DETECTDEV1", "letter case and all"},
      {"device twice in DRIVERREG", In("[PARAMS]\r\nDRIVERREG=1\r\n[DRIVERREG]\r\nNIC=2\r\nDEV1=PCI\\A\r\nDEV2=pci\\a\r\n" + deviceSection), In("[PARAMS]\r\nDRIVERREG=1\r\n[DRIVERREG]\r\nNIC=2\r\nDEV1=PCI\\A\r\nDEV2=PCI\\B\r\n" + deviceSection + "[DRIVERREG_PCI\\B_XP]\r\nADDREG=1\r\nADDREG1_ENTRYNAME=x\r\n"), "DRIVERREG", "DEV2", "the same ID as DEV1"},
      {"UTF-16 settings file", In(Utf16("[PARAMS]\r\n")), In("[PARAMS]\r\n"), "", "", "the settings file is UTF-16"},
      {"UTF-8 mark before a section", In("\xEF\xBB\xBF[PARAMS]\r\nSWAPCMD=1\r\n"), In("[PARAMS]\r\nSWAPCMD=1\r\n"), "PARAMS", "", "the section is never read"},
      {"NUL byte in a value", In(std::string("[PARAMS]\r\nCMDEXE=In") + '\0' + "st.exe\r\n"), In("[PARAMS]\r\nCMDEXE=Inst.exe\r\n"), "", "", "NUL byte"},
      {"UTF-16 script", In(scriptOn, Utf16("REGEDIT4\r\n")), In(scriptOn, Crlf({"REGEDIT4"})), "PARAMS", "STATICREGFROMFILE", "is UTF-16"},
      {"version 5 script", In(scriptOn, Crlf({"Windows Registry Editor Version 5.00", "[HKEY_LOCAL_MACHINE\\X]"})), In(scriptOn, Crlf({"REGEDIT4", "[HKEY_LOCAL_MACHINE\\X]"})), "PARAMS", "STATICREGFROMFILE", "Windows 98 reads only REGEDIT4"},
      {"dword of ten digits", In(scriptOn, Crlf({"REGEDIT4", "[HKEY_LOCAL_MACHINE\\X]", "\"A\"=dword:1234567890"})), In(scriptOn, Crlf({"REGEDIT4", "[HKEY_LOCAL_MACHINE\\X]", "\"A\"=dword:12345678"})), "PARAMS", "STATICREGFROMFILE", "line 3: \"dword:1234567890\" is no dword"},
      {"hex data of letters", In(scriptOn, Crlf({"REGEDIT4", "[HKEY_LOCAL_MACHINE\\X]", "\"A\"=hex:zz"})), In(scriptOn, Crlf({"REGEDIT4", "[-HKEY_LOCAL_MACHINE\\X]", "[HKEY_LOCAL_MACHINE\\X]", "\"A\"=hex(7):41,00,\\", "  00,00", "\"B\"=-", "@=\"x\""})), "PARAMS", "STATICREGFROMFILE", "\"zz\" in hex: data is no byte"},
      {"script root abbreviated", In(scriptOn, Crlf({"REGEDIT4", "[-HKLM\\X]"})), In(scriptOn, Crlf({"REGEDIT4", "[-HKEY_USERS\\X]"})), "PARAMS", "STATICREGFROMFILE", "no root \"HKLM\": the key is not deleted"},
      {"TEMP with a blank", machine(staticOn, "C:\\My Temp", windows), machine(Crlf({"[PARAMS]", "STATICREG=0"}), "C:\\My Temp", windows), "", "--temp", "holds a blank: Pakrun puts the INF path unquoted"},
      {"TEMP too long for the INF path", machine(driverOn, "C:\\" + Text(240), windows), machine(driverOn + deviceSection, "C:\\" + Text(239), windows), "", "--temp", "TEMP is 243 characters: the INF path"},
      {"Windows folder with a blank", machine(staticOn, "C:\\TEMP", "C:\\My Windows"), machine(staticOn, "C:\\TEMP", "C:\\MYWIND~1"), "", "--windir", "rundll32 takes the part after the blank"},
      {"SystemRoot too long for the installer", machine(staticOn, "C:\\TEMP", "C:\\" + Text(235), "--system-root"), machine(staticOn, "C:\\TEMP", "C:\\" + Text(234), "--system-root"), "", "--system-root", "SystemRoot is 238 characters"},
      {"no SystemRoot", machine(staticOn, "C:\\TEMP", "", "--no-system-root"), machine(staticOn, "C:\\TEMP", windows), "", "--no-system-root", "starts no installer"},
      {"no SystemRoot for the renames", machine(Crlf({"[PARAMS]", "RENAME=1"}), "C:\\TEMP", "", "--no-system-root"), machine(Crlf({"[PARAMS]", "RENAME=0"}), "C:\\TEMP", "", "--no-system-root"), "", "--no-system-root", "RENAME renames nothing"},
      {"doubled quotes reach the INF", add("ADDREG1_VALUE=\"a, b;c\"\r\n"), add("ADDREG1_VALUE=\"\"a, b;c\"\"\r\n"), "STATICREG", "ADDREG1_VALUE", "drops the quotes"},
  };
  for (const WarningCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Warning> bad = preview::Lint(c.bad);
    std::vector<Warning> good = preview::Lint(c.good);
    EXPECT_TRUE(Has(bad, c.section, c.key, c.fragment));
    EXPECT_FALSE(Has(good, c.section, c.key, c.fragment));
    for (const Warning& warning : good) ADD_FAILURE() << "[" << warning.section << "] " << warning.key << ": " << warning.message;
  }
  // Where the short folder holds a blank Pakrun quotes the INI path, blanks of CMDINI
  // included, and the names CMDEXE and CMDINI matter only with SWAPCMD on: none of these
  // is a trap.
  for (const LintInput& quiet : {In("[PARAMS]\r\nSWAPCMD=1\r\nCMDINI=a b.ini\r\n", std::nullopt, "C:\\My Setup"),
                                 In("[PARAMS]\r\nSWAPCMD=0\r\nCMDEXE=C:\\Tools\\Inst.exe\r\nCMDINI=" + Text(259) + "\r\n")}) {
    for (const Warning& warning : preview::Lint(quiet)) ADD_FAILURE() << warning.id << ": " << warning.message;
  }
}

// A settings file with every step switched on; on Windows XP its one warning is the
// missing section of DEV2.
const std::string kEveryStep = Crlf({
    "[PARAMS]", "SWAPCMD=1", "CLEANUP=1", "RENAME=1", "REFRESH=1", "STATICREG=1", "DRIVERREG=1",
    "STATICREGFROMFILE=1",
    "[CLEANUP]", "CLEANCOUNT=1", "DEV1=PCI\\VEN_1D4A&DEV_0301",
    "[REFRESH]", "DETECTCOUNT=1", "DETECTDEV1=PCI\\VEN_1D4A&DEV_0309",
    "[STATICREG]", "ADDREG=1", "DELREG=1", "ADDREG1_ROOT=HKLM", "ADDREG1_SUBKEY=SOFTWARE\\Vendor",
    "ADDREG1_ENTRYNAME=Mode", "ADDREG1_FLAGS=0x00010001", "ADDREG1_VALUE=1", "DELREG1_ROOT=HKLM",
    "DELREG1_SUBKEY=SOFTWARE\\Vendor", "DELREG1_ENTRYNAME=Old",
    "[DRIVERREG]", "NIC=4", "DEV1=pci\\ven_1d4a&dev_0302", "DEV2=PCI\\VEN_1D4A&DEV_0303",
    "DEV3=PCI\\VEN_1D4A&DEV_0304", "DEV4=PCI\\VEN_1D4A&DEV_0305",
    "[DRIVERREG_pci\\ven_1d4a&dev_0302_XP]", "ADDREG=1", "ADDREG1_ENTRYNAME=Power", "ADDREG1_FLAGS=0",
    "ADDREG1_VALUE=low",
    "[DRIVERREG_PCI\\VEN_1D4A&DEV_0302_2000]", "ADDREG=1", "ADDREG1_ENTRYNAME=Power", "ADDREG1_FLAGS=0",
    "ADDREG1_VALUE=high",
    "[DRIVERREG_PCI\\VEN_1D4A&DEV_0304_XP]", "ADDREG=0",
    "[DRIVERREG_PCI\\VEN_1D4A&DEV_0305_XP]", "ADDREG=1", "ADDREG1_ENTRYNAME=Unused", "ADDREG1_FLAGS=0"});
// Sets two values, deletes one the static INF set and a key and a value that are not there.
const std::string kScript = Crlf({"REGEDIT4", "", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Script]",
                                  "\"Build\"=dword:00000007", "\"Name\"=\"Linkdesk\"",
                                  "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Gone]", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]",
                                  "\"Mode\"=-", "\"Never\"=-"});

struct Result {
  int code;
  std::string out;
  std::string err;
};

// Writes the settings file (and its script) under `name` and runs the tool on it.
Result Preview(const std::string& name, const std::string& settings, const std::optional<std::string>& script,
               std::vector<std::string> options) {
  const std::string base = ::testing::TempDir() + "/" + name;
  std::ofstream(base + ".ini", std::ios::binary) << settings;
  std::remove((base + ".reg").c_str());
  if (script) std::ofstream(base + ".reg", std::ios::binary) << *script;
  options.insert(options.begin(), base + ".ini");
  std::ostringstream out;
  std::ostringstream err;
  int code = preview::PreviewMain(options, out, err);
  return Result{code, out.str(), err.str()};
}

// The output read with nlohmann-json; a member missing from a (non-const) object reads as
// null, whose Bytes are empty.
Json Parsed(const std::string& text) {
  Json value = Json::parse(text, nullptr, false);
  EXPECT_FALSE(value.is_discarded()) << text;
  return value;
}

// A string of the output as the bytes it stands for; empty for anything else.
std::string Bytes(const Json& value) {
  return value.is_string() ? preview::escape::BytesOf(value.get<std::string>()) : std::string();
}

const std::vector<std::string> kDevices = {
    "--present", "PCI\\VEN_1D4A&DEV_0302", "--present", "PCI\\VEN_1D4A&DEV_0303={4D36E972-E325-11CE-BFC1-08002BE10318}\\0009",
    "--present", "PCI\\VEN_1D4A&DEV_0304", "--absent", "PCI\\VEN_1D4A&DEV_0301"};

std::vector<std::string> With(std::vector<std::string> options, const std::vector<std::string>& more) {
  options.insert(options.end(), more.begin(), more.end());
  return options;
}

TEST(PreviewPlan, EveryStepInRunOrderWithItsCommandLinesTextsAndKeys) {
  Result result = Preview("every", kEveryStep, kScript,
                          With(kDevices, {"--program", "C:\\Program Files\\Vendor Setup\\Pakrun.exe",
                                          "--short-dir", "C:\\PROGRA~1\\VENDOR~1", "--tail", "-s \"a b\"",
                                          "--format", "json"}));
  ASSERT_EQ(0, result.code) << result.err;
  Json plan = Parsed(result.out);
  ASSERT_TRUE(plan.is_object());
  for (const char* member : {"machine", "steps", "notes", "warnings"}) EXPECT_TRUE(plan.contains(member)) << member;
  ASSERT_EQ(1u, plan["warnings"].size());
  EXPECT_EQ("DEV2", Bytes(plan["warnings"][0]["key"]));
  EXPECT_EQ("DRIVERREG", Bytes(plan["warnings"][0]["section"]));
  EXPECT_TRUE(plan["notes"].empty());
  EXPECT_EQ("_XP", Bytes(plan["machine"]["os_suffix"]));

  std::vector<std::string> kinds;
  Json& steps = plan["steps"];
  for (Json& step : steps) {
    kinds.push_back(Bytes(step["kind"]));
    EXPECT_TRUE(step["settings"].is_array()) << step["kind"];
    if (Bytes(step["kind"]) == "start") {
      EXPECT_FALSE(Bytes(step["command_line"]).empty());
    }
    if (Bytes(step["kind"]) == "write_file") {
      EXPECT_TRUE(step.contains("path") && step.contains("text"));
    }
  }
  EXPECT_EQ((std::vector<std::string>{"mutex", "remove_device", "rename", "rename", "start", "reenumerate",
                                      "write_file", "start", "delete_file", "start", "driver_section",
                                      "write_file", "start", "delete_file", "driver_section", "driver_section",
                                      "driver_section", "exit"}),
            kinds);
  ASSERT_EQ(18u, steps.size());
  EXPECT_EQ("Pakrun.exe", Bytes(steps[0]["name"]));
  EXPECT_EQ("PCI\\VEN_1D4A&DEV_0301", Bytes(steps[1]["hardware_id"]));
  EXPECT_EQ("DEV1", Bytes(steps[1]["settings"].at(1)["key"]));
  EXPECT_EQ("C:\\WINDOWS\\Driver Cache\\tq3p8.org", Bytes(steps[3]["new_path"]));
  EXPECT_EQ("\"C:\\Program Files\\Vendor Setup\\Netprep.exe\" /INI C:\\PROGRA~1\\VENDOR~1\\Netprep.ini -s \"a b\"",
            Bytes(steps[4]["command_line"]));
  EXPECT_EQ("setup", Bytes(steps[4]["program"]));
  EXPECT_EQ("PCI\\VEN_1D4A&DEV_0309", Bytes(steps[5]["none_present"]));
  EXPECT_EQ("C:\\TEMP\\StaticAddDel.inf", Bytes(steps[6]["path"]));
  EXPECT_EQ(Crlf({"[Version]", "signature=\"$CHICAGO$\"", "", "[DefaultInstall]", "AddReg = Add.reg",
                  "DelReg = Del.reg", "", "[Add.reg]", "HKLM, \"SOFTWARE\\Vendor\",\"Mode\",0x00010001,1", "",
                  "[Del.reg]", "HKLM, \"SOFTWARE\\Vendor\",\"Old\""}),
            Bytes(steps[6]["text"]));
  EXPECT_EQ("C:\\WINDOWS\\System32\\rundll32.exe setupapi,InstallHinfSection DefaultInstall 132 C:\\TEMP\\StaticAddDel.inf",
            Bytes(steps[7]["command_line"]));
  EXPECT_EQ("Mode", Bytes(steps[7]["changes"].at(0)["name"]));
  EXPECT_EQ(1, steps[7]["changes"].at(0)["number"]);
  EXPECT_EQ("regedit /s \"C:\\Program Files\\Vendor Setup\\Pakrun.reg\"", Bytes(steps[9]["command_line"]));
  EXPECT_EQ("C:\\WINDOWS\\regedit.exe", Bytes(steps[9]["application_name"]));
  EXPECT_EQ(kScript, Bytes(steps[9]["script_text"]));
  Json& changes = steps[9]["changes"];
  ASSERT_EQ(5u, changes.size());
  EXPECT_EQ("REG_DWORD", Bytes(changes[0]["type"]));
  EXPECT_EQ(7, changes[0]["number"]);
  EXPECT_EQ("Linkdesk", Bytes(changes[1]["value"]));
  // Each deletion, in script order, and whether the machine held it.
  const std::vector<std::vector<std::string>> deletions = {{"delete_key", "HKLM\\SOFTWARE\\Vendor\\Gone", "false"},
                                                           {"delete_value", "HKLM\\SOFTWARE\\Vendor", "true"},
                                                           {"delete_value", "HKLM\\SOFTWARE\\Vendor", "false"}};
  for (std::size_t i = 0; i < deletions.size(); ++i) {
    Json& change = changes[2 + i];
    EXPECT_EQ(deletions[i], (std::vector<std::string>{Bytes(change["action"]), Bytes(change["key"]),
                                                      change["found"] == true ? "true" : "false"}));
    EXPECT_TRUE(change["found"].is_boolean());
    EXPECT_EQ(i != 0, change.contains("name"));
  }
  EXPECT_EQ("Never", Bytes(changes[4]["name"]));
  // The device sections: found without regard to case and applied; missing; empty; no device.
  EXPECT_EQ("DRIVERREG_pci\\ven_1d4a&dev_0302_XP", Bytes(steps[10]["section"]));
  EXPECT_EQ("applied", Bytes(steps[10]["status"]));
  EXPECT_NE(std::string::npos, Bytes(steps[11]["text"]).find(
                "HKLM, \"SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\0000\",\"Power\",0,low\r\n"));
  EXPECT_EQ("DRIVERREG_pci\\ven_1d4a&dev_0302_XP", Bytes(steps[12]["settings"].at(0)["section"]));
  EXPECT_EQ("missing", Bytes(steps[14]["status"]));
  EXPECT_EQ("{4D36E972-E325-11CE-BFC1-08002BE10318}\\0009", Bytes(steps[14]["driver_key"]));
  EXPECT_EQ("empty", Bytes(steps[15]["status"]));
  EXPECT_EQ("no_device", Bytes(steps[16]["status"]));
  EXPECT_EQ("DEV4", Bytes(steps[16]["settings"].at(1)["key"]));
  EXPECT_EQ(1, steps[17]["code"]);
}

// A script as the editor of Windows 2000 and later saves it (version 5, UTF-16LE): imported
// on the NT family, not on 98; the JSON holds its bytes, the text its ANSI reading.
TEST(PreviewPlan, AUtf16ScriptIsImportedOnTheNtFamilyOnly) {
  const std::string script = Utf16(Crlf({"Windows Registry Editor Version 5.00", "",
                                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]", "\"A\"=\"x\""}));
  const std::string settings = Crlf({"[PARAMS]", "STATICREGFROMFILE=1"});
  Json all = Parsed(Preview("utf16script", settings, script, {"--windows", "all", "--format", "json"}).out);
  for (const char* windows : {"2000", "xp", "2003", "98", "other"}) {
    SCOPED_TRACE(windows);
    Json* start = nullptr;
    for (Json& step : all[windows]["steps"]) {
      if (Bytes(step["program"]) == "registry_editor") start = &step;
    }
    ASSERT_NE(nullptr, start);
    EXPECT_EQ(script, Bytes((*start)["script_text"]));
    EXPECT_EQ(std::string(windows) == "98" ? 0u : 1u, (*start)["changes"].size());
  }
  Result text = Preview("utf16script", settings, script, {});
  EXPECT_NE(std::string::npos, text.out.find("       script (UTF-16LE, shown as ANSI):\n"
                                             "       | Windows Registry Editor Version 5.00\n"))
      << text.out;
  EXPECT_NE(std::string::npos, text.out.find("sets HKLM\\SOFTWARE\\Vendor\\A = REG_SZ \"x\"")) << text.out;
}

TEST(PreviewPlan, AStartThatFailsIsANoteAndTheRunGoesOn) {
  // CMDEXE empty names the folder itself: nothing starts, and the run goes on.
  Result result = Preview("nostart", Crlf({"[PARAMS]", "SWAPCMD=1", "CMDEXE=", "REFRESH=1"}), std::nullopt, {"--format", "json"});
  ASSERT_EQ(0, result.code) << result.err;
  Json plan = Parsed(result.out);
  std::vector<std::string> kinds;
  for (Json& step : plan["steps"]) kinds.push_back(Bytes(step["kind"]));
  EXPECT_EQ((std::vector<std::string>{"mutex", "reenumerate", "exit"}), kinds);
  ASSERT_EQ(1u, plan["notes"].size());
  EXPECT_NE(std::string::npos, Bytes(plan["notes"][0]).find("1 program start(s) failed"));
}

TEST(PreviewJson, BytesAreEscapedAndReadBackUnchanged) {
  const std::string bytes = std::string("a\"b\\c\r\n\t\x01 ") + "\xE9\x7F\b\f\\b";
  const std::string quoted = preview::escape::JsonText(preview::escape::JsonString(bytes));
  EXPECT_EQ("\"a\\\"b\\\\c\\r\\n\\t\\u0001 \\u00e9\\u007f\\u0008\\u000c\\\\b\"", quoted);
  Json value = Parsed("[" + quoted + ", {\"k\": \"\\u20ac\"}]");
  ASSERT_EQ(2u, value.size());
  EXPECT_EQ(bytes, Bytes(value[0]));
  EXPECT_EQ("\xE2\x82\xAC", Bytes(value[1]["k"]));

  // A settings value in the ANSI code page comes out as ASCII JSON and back as its bytes.
  Result result = Preview("latin1", Crlf({"[PARAMS]", "STATICREG=1", "[STATICREG]", "ADDREG=1", "ADDREG1_ROOT=HKLM",
                                          "ADDREG1_SUBKEY=S", "ADDREG1_ENTRYNAME=Caf\xE9", "ADDREG1_FLAGS=0"}),
                          std::nullopt, {"--format", "json"});
  for (char c : result.out) ASSERT_LT(static_cast<unsigned char>(c), 0x80);
  Json plan = Parsed(result.out);
  EXPECT_NE(std::string::npos, Bytes(plan["steps"].at(2)["text"]).find("\"Caf\xE9\""));
}

TEST(PreviewVersions, AllShowsOnePlanPerVersionAndWhatDiffers) {
  Result result = Preview("all", kEveryStep, kScript, With(kDevices, {"--windows", "all", "--format", "json"}));
  ASSERT_EQ(0, result.code) << result.err;
  Json all = Parsed(result.out);
  std::vector<std::string> members;
  for (const auto& member : all.items()) members.push_back(member.key());
  EXPECT_EQ((std::vector<std::string>{"2000", "xp", "2003", "98", "other", "differences"}), members);
  const std::pair<const char*, const char*> suffixes[] = {{"2000", "_2000"}, {"xp", "_XP"}, {"2003", "_2003"}, {"98", "_ELSE"}, {"other", "_ELSE"}};
  for (const auto& [version, suffix] : suffixes) EXPECT_EQ(suffix, Bytes(all[version]["machine"]["os_suffix"])) << version;

  auto versionsOf = [&](const std::string& kind, const std::string& name, const std::string& value) {
    std::vector<std::string> versions;
    for (Json& difference : all["differences"]) {
      Json& step = difference["step"];
      if (Bytes(step["kind"]) != kind || Bytes(step[name]) != value) continue;
      for (Json& version : difference["versions"]) versions.push_back(Bytes(version));
    }
    return versions;
  };
  EXPECT_EQ(std::vector<std::string>{"xp"}, versionsOf("driver_section", "section", "DRIVERREG_pci\\ven_1d4a&dev_0302_XP"));
  EXPECT_EQ(std::vector<std::string>{"2000"}, versionsOf("driver_section", "section", "DRIVERREG_pci\\ven_1d4a&dev_0302_2000"));
  EXPECT_EQ((std::vector<std::string>{"98", "other"}), versionsOf("driver_section", "section", "DRIVERREG_pci\\ven_1d4a&dev_0302_ELSE"));
  // What every version does is no difference.
  EXPECT_TRUE(versionsOf("start", "program", "setup").empty());
  EXPECT_TRUE(versionsOf("mutex", "name", "Pakrun.exe").empty());
  bool warningDiffers = false;
  for (Json& difference : all["differences"]) {
    warningDiffers = warningDiffers || Bytes(difference["warning"]["message"]).find("Windows Server 2003") != std::string::npos;
  }
  EXPECT_TRUE(warningDiffers);

  Result text = Preview("alltext", kEveryStep, kScript, With(kDevices, {"--windows", "all"}));
  EXPECT_NE(std::string::npos, text.out.find("What differs between the versions:"));
  EXPECT_NE(std::string::npos, text.out.find("only in 98, other:"));
  EXPECT_NE(std::string::npos, text.out.find("on Windows 2000 (5.0.2195"));
}

TEST(PreviewExitCodes, ShownWarnedOrUnusable) {
  const std::string warned = Crlf({"[PARAMS]", "SWAPCMD=2"});
  const std::string clean = Crlf({"[PARAMS]", "SWAPCMD=1"});
  struct Case {
    std::string settings;
    std::vector<std::string> options;
    int code;
  };
  const std::vector<Case> cases = {
      {clean, {}, 0},
      {warned, {}, 0},
      {warned, {"--strict"}, 1},
      {clean, {"--strict"}, 0},
      {warned, {"--strict", "--windows", "all"}, 1},
      {clean, {"--help"}, 0},
      {clean, {"--windows", "95"}, 2},
      {clean, {"--format", "xml"}, 2},
      {clean, {"--frobnicate"}, 2},
      {clean, {"--tail"}, 2},
      {clean, {"--program", "Pakrun.exe"}, 2},
      {clean, {"--short-dir", "C:\\A\\B"}, 2},
      {clean, {"--present", "=x"}, 2},
      {clean, {"--strict=1"}, 2},
  };
  for (const Case& c : cases) {
    Result result = Preview("exit", c.settings, std::nullopt, c.options);
    std::string shown;
    for (const std::string& option : c.options) shown += option + " ";
    EXPECT_EQ(c.code, result.code) << shown << result.err;
    EXPECT_EQ(c.code == 2, !result.err.empty()) << shown;
  }
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(2, preview::PreviewMain({::testing::TempDir() + "/no-such.ini"}, out, err));
  EXPECT_NE(std::string::npos, err.str().find("cannot read the settings file"));
  EXPECT_EQ(2, preview::PreviewMain({}, out, err));
  EXPECT_EQ(2, preview::PreviewMain({"a.ini", "b.ini"}, out, err));
  // The reason is the one that applies; a value is taken whatever it looks like.
  const std::vector<std::pair<std::vector<std::string>, std::string>> reasons = {
      {{"--bogus"}, "unknown option --bogus"},
      {{"--tail"}, "--tail needs a value"},
      {{"--present", "=x"}, "--present needs a hardware ID"},
      {{"--absent", "PCI\\VEN_1D4A&DEV_0301;PCI\\VEN_1D4A"}, "separate the hardware IDs of a device with ','"},
      {{"--present", "PCI\\VEN_1D4A&DEV_0301,,PCI\\VEN_1D4A"}, "an empty hardware ID in the list"},
      {{"--appears-on-refresh", "PCI\\A="}, "empty driver key"},
      {{"--no-system-root=1"}, "--no-system-root takes no value"},
      {{"--system-root", "C:\\WINNT", "--no-system-root"}, "contradict"},
      {{"--short-dir", "C:\\SETUP~1", "--no-short-name"}, "contradict"},
  };
  for (const auto& [options, reason] : reasons) {
    Result result = Preview("reason", clean, std::nullopt, options);
    EXPECT_NE(std::string::npos, result.err.find(reason)) << result.err;
  }
  Result dashed = Preview("dashed", clean, std::nullopt, {"--tail", "-s", "--present", "--absent"});
  EXPECT_EQ(0, dashed.code) << dashed.err;
  EXPECT_NE(std::string::npos, dashed.out.find("\"C:\\Setup\\Pakrun.exe\" -s")) << dashed.out;
  EXPECT_NE(std::string::npos, dashed.out.find("device             --absent present")) << dashed.out;
}

// The machine as it is: a device's whole hardware-ID list, a device that appears only when
// the tree is re-enumerated, no SystemRoot, a folder without short names. Each case says
// what the output holds, or does not hold.
TEST(PreviewMachine, DescribedAsItIs) {
  const std::string driver = Crlf({"[PARAMS]", "DRIVERREG=1", "[DRIVERREG]", "NIC=1", "DEV1=PCI\\A",
                                   "[DRIVERREG_PCI\\A_XP]", "ADDREG=1", "ADDREG1_ENTRYNAME=x", "ADDREG1_VALUE=1"});
  const std::string refreshOn = Crlf({"[PARAMS]", "DRIVERREG=1", "REFRESH=1", "[REFRESH]", "DETECTCOUNT=1",
                                      "DETECTDEV1=PCI\\A", "[DRIVERREG]", "NIC=1", "DEV1=PCI\\A",
                                      "[DRIVERREG_PCI\\A_XP]", "ADDREG=1", "ADDREG1_ENTRYNAME=x", "ADDREG1_VALUE=1"});
  const std::string cleanup = Crlf({"[PARAMS]", "CLEANUP=1", "[CLEANUP]", "CLEANCOUNT=1", "DEV1=PCI\\A"});
  const std::string statics = Crlf({"[PARAMS]", "STATICREG=1", "RENAME=1", "[STATICREG]", "ADDREG=1", "ADDREG1_ROOT=HKLM",
                                    "ADDREG1_SUBKEY=S", "ADDREG1_ENTRYNAME=x", "ADDREG1_VALUE=1"});
  const std::string program = "C:\\Program Files\\My Setup\\Pakrun.exe";
  struct Case {
    const char* name;
    std::string settings;
    std::vector<std::string> options;
    const char* fragment;
    bool shown;
  };
  const std::vector<Case> cases = {
      {"an ID later in the list names the device", driver, {"--present", "PCI\\A&REV_01, PCI\\A"}, "_XP]: applied", true},
      {"a list is never one ID", driver, {"--present", "PCI\\A&REV_01,PCI\\A"}, "no present device carries", false},
      {"the list is shown", driver, {"--present", "PCI\\A&REV_01, PCI\\A"}, "device             PCI\\A&REV_01, PCI\\A present", true},
      {"removal matched by any ID of the list", cleanup, {"--absent", "PCI\\A&REV_01,PCI\\A"}, "from [PARAMS] CLEANUP, [CLEANUP] DEV1", true},
      {"appears when re-enumerated", refreshOn, {"--appears-on-refresh", "PCI\\B,PCI\\A"}, "_XP]: applied", true},
      {"without re-enumeration it stays away", driver, {"--appears-on-refresh", "PCI\\A"}, "no present device carries PCI\\A", true},
      {"an absent device stays away", refreshOn, {"--absent", "PCI\\A"}, "no present device carries PCI\\A", true},
      {"no SystemRoot: no installer", statics, {"--no-system-root"}, "rundll32.exe", false},
      {"no SystemRoot: named", statics, {"--no-system-root"}, "C:\\WINDOWS, no SystemRoot", true},
      {"no SystemRoot: warned", statics, {"--no-system-root"}, "--no-system-root: no SystemRoot (as on Windows 98", true},
      {"no SystemRoot: RENAME warned", statics, {"--no-system-root"}, "RENAME renames nothing", true},
      {"SystemRoot by default on 98 too", statics, {"--windows", "98"}, "SystemRoot C:\\WINDOWS", true},
      {"a machine warning names its option", statics, {"--temp", "C:\\My Temp"}, "machine.ini:1:1: warning: --temp: TEMP \"C:\\My Temp\" holds a blank", true},
      {"a TEMP too long: no INF written", statics, {"--temp", "C:\\" + Text(240)}, "StaticAddDel.inf\n", false},
      {"a TEMP just short enough: the INF written", statics, {"--temp", "C:\\" + Text(239)}, "StaticAddDel.inf\n", true},
      {"short names by default", cleanup, {"--program", program}, "short folder       C:\\PROGRA~1\\MYSETU~1", true},
      {"no short names", cleanup, {"--program", program, "--no-short-name"}, "short folder       C:\\Program Files\\My Setup\n", true},
      {"a short folder equal to the long one is kept", cleanup, {"--program", program, "--short-dir", "C:\\PROGRA~1\\My Setup"}, "short folder       C:\\PROGRA~1\\My Setup\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result result = Preview("machine", c.settings, std::nullopt, c.options);
    ASSERT_EQ(0, result.code) << result.err;
    EXPECT_EQ(c.shown, result.out.find(c.fragment) != std::string::npos) << result.out;
  }
}

// Input that is no settings file ends at once with exit 2 and a message naming it: a
// directory, a device that never ends, a pipe, a file above the bound, and a directory
// where the script is looked for. A file of exactly the bound is read.
TEST(PreviewExitCodes, InputThatIsNoFileEndsAtOnce) {
  namespace fs = std::filesystem;
  const std::string dir = ::testing::TempDir() + "/badinput";
  fs::remove_all(dir);
  fs::create_directories(dir + "/folder.ini");
  fs::create_directories(dir + "/script.reg");
  std::ofstream(dir + "/script.ini") << "[PARAMS]\r\n";
  const std::string pipe = dir + "/pipe.ini";
  ASSERT_EQ(0, mkfifo(pipe.c_str(), 0600));
  auto sized = [&](const std::string& name, std::size_t bytes) {
    std::ofstream file(dir + "/" + name, std::ios::binary);
    const std::string line = "; " + std::string(1021, 'x') + "\r\n";
    for (std::size_t i = 0; i < bytes / line.size(); ++i) file << line;
    file << std::string(bytes % line.size(), ';');
    return dir + "/" + name;
  };
  struct Case {
    std::string path;
    int code;
    std::string fragment;
  };
  const std::vector<Case> cases = {
      {dir + "/folder.ini", 2, "is a directory"},
      {"/dev/zero", 2, "is not a regular file"},
      {pipe, 2, "is not a regular file"},
      {sized("large.ini", preview::kMaxInputBytes + 1), 2, "is larger than 16 MiB"},
      {dir + "/script.ini", 2, "the registry script " + dir + "/script.reg: is a directory"},
      {sized("bound.ini", preview::kMaxInputBytes), 0, ""},
  };
  for (const Case& c : cases) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(c.code, preview::PreviewMain({c.path}, out, err)) << c.path << err.str();
    EXPECT_NE(std::string::npos, err.str().find(c.fragment)) << c.path << err.str();
    EXPECT_EQ(c.code == 2, out.str().empty()) << c.path;
  }
}

// The SARIF log: every check a rule; one result per warning of the JSON, with its rule, its
// file as a URI (relative to the working folder where it lies within it, else absolute), its
// line and column; a silenced warning carries its suppression; with --windows all, one result
// for the versions that give it. (A real validator checks the log against the schema: the
// test preview.sarif.valid.)
TEST(PreviewSarif, OneResultPerWarningWithItsRuleAndPlace) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::u8path(::testing::TempDir() + "/sarif run");
  fs::create_directories(folder);
  std::ofstream(folder / "trap #1.ini", std::ios::binary)
      << Crlf({"[PARAMS]", "SWAPCMDD=1", "; pakrun-preview: disable=PP401", "CLEANUP=2", "RENAME=2"});
  const fs::path home = fs::current_path();
  const std::string absolute = (folder / "trap #1.ini").u8string();
  struct Case {
    fs::path working;
    std::vector<std::string> options;
    std::string uri;
    std::vector<std::string> silenced;  // "<id> <line> <kind>"
    std::size_t versions;
  };
  const std::vector<Case> cases = {
      {folder, {"trap #1.ini"}, "trap%20%231.ini", {"PP401 4 inSource"}, 1},
      {folder / "..", {absolute, "--disable", "PP105"}, "sarif%20run/trap%20%231.ini",
       {"PP105 2 external", "PP401 4 inSource"}, 1},
      {home, {absolute, "--windows", "all"}, "", {"PP401 4 inSource"}, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options.front() + " from " + c.working.u8string());
    fs::current_path(c.working);
    std::ostringstream out[2];
    std::ostringstream err;
    const int codes[2] = {preview::PreviewMain(With(c.options, {"--format", "sarif"}), out[0], err),
                          preview::PreviewMain(With(c.options, {"--format", "json", "--windows", "xp"}), out[1], err)};
    fs::current_path(home);
    ASSERT_EQ(0, codes[0]) << err.str();
    ASSERT_EQ(0, codes[1]) << err.str();
    Json log = Parsed(out[0].str());
    Json plan = Parsed(out[1].str());
    EXPECT_EQ("2.1.0", log["version"]);
    ASSERT_EQ(1u, log["runs"].size());
    Json& driver = log["runs"][0]["tool"]["driver"];
    EXPECT_EQ("pakrun-preview", driver["name"]);
    EXPECT_FALSE(Bytes(driver["version"]).empty());
    ASSERT_EQ(preview::AllChecks().size(), driver["rules"].size());
    for (std::size_t i = 0; i < preview::AllChecks().size(); ++i) {
      EXPECT_EQ(preview::AllChecks()[i].id, Bytes(driver["rules"][i]["id"]));
      EXPECT_EQ(preview::AllChecks()[i].title, Bytes(driver["rules"][i]["shortDescription"]["text"]));
      EXPECT_NE(std::string::npos, Bytes(driver["rules"][i]["help"]["text"]).find(preview::AllChecks()[i].id));
    }
    // Each warning and silenced warning of the JSON (one version) is one result.
    Json& results = log["runs"][0]["results"];
    const std::string uri = c.uri.empty() ? "file://" + preview::escape::UriPath(fs::u8path(absolute).lexically_normal().generic_u8string()) : c.uri;
    std::vector<std::string> silenced;
    std::size_t expected = 0;
    for (const char* list : {"warnings", "suppressed"}) {
      for (Json& warning : plan[list]) {
        ++expected;
        Json* found = nullptr;
        for (Json& result : results) {
          Json& region = result["locations"][0]["physicalLocation"]["region"];
          if (result["ruleId"] == warning["id"] && region["startLine"] == warning["line"] &&
              region["startColumn"] == warning["column"] && result["message"]["text"] == warning["message"])
            found = &result;
        }
        ASSERT_NE(nullptr, found) << warning;
        Json& result = *found;
        EXPECT_EQ("warning", result["level"]);
        EXPECT_EQ(uri, Bytes(result["locations"][0]["physicalLocation"]["artifactLocation"]["uri"]));
        EXPECT_EQ(result["ruleId"], driver["rules"][result["ruleIndex"].get<std::size_t>()]["id"]);
        EXPECT_EQ(c.versions, result["properties"]["windows"].size());
        EXPECT_EQ(std::string(list) == "suppressed", result.contains("suppressions")) << warning;
        if (result.contains("suppressions"))
          silenced.push_back(Bytes(result["ruleId"]) + " " + result["locations"][0]["physicalLocation"]["region"]["startLine"].dump() +
                             " " + Bytes(result["suppressions"][0]["kind"]));
      }
    }
    EXPECT_EQ(expected, results.size());
    EXPECT_EQ(c.silenced, silenced);
  }
}

// Control bytes of the file reach the terminal written out, never as themselves.
TEST(PreviewText, ControlBytesAreWrittenOut) {
  Result result = Preview("control", Crlf({"[PARAMS]", "SWAPCMD=1", "CMDEXE=a\x1B[2J\x7F\bb.exe"}), std::nullopt, {});
  ASSERT_EQ(0, result.code) << result.err;
  EXPECT_NE(std::string::npos, result.out.find("a\\x1B[2J\\x7F\\x08b.exe")) << result.out;
  EXPECT_EQ(std::string::npos, result.out.find_first_of("\x1B\b\x7F")) << result.out;
}

// The missing script is named as the tool looked for it, beside the settings file.
TEST(PreviewText, MissingScriptIsNamedWhereItWasLookedFor) {
  Result result = Preview("noscript", Crlf({"[PARAMS]", "STATICREGFROMFILE=1"}), std::nullopt, {});
  EXPECT_NE(std::string::npos, result.out.find("no registry script " + ::testing::TempDir() +
                                               "/noscript.reg beside the settings file (Pakrun looks for Pakrun.reg)"))
      << result.out;
}

// The guide's worked examples (blocks titled "example-<n>/<part>"), on the Windows version
// and program path each machine names, each pass --strict.
TEST(PreviewGuide, EveryExamplePassesStrict) {
  std::ifstream file(GUIDE_PATH, std::ios::binary);
  std::map<std::string, std::map<std::string, std::string>> examples;
  std::string line;
  std::string* block = nullptr;
  while (std::getline(file, line)) {
    const std::size_t title = line.find("title=\"example-");
    if (block == nullptr && line.rfind("```", 0) == 0 && title != std::string::npos) {
      const std::string name = line.substr(title + 7, line.rfind('"') - title - 7);
      block = &examples[name.substr(0, name.find('/'))][name.substr(name.find('/') + 1)];
    } else if (block != nullptr && line == "```") {
      block = nullptr;
    } else if (block != nullptr) {
      *block += line + "\r\n";
    }
  }
  ASSERT_GE(examples.size(), 3u);
  const std::map<std::string, std::string> versions = {
      {"98", "98"}, {"2000", "2000"}, {"XP", "xp"}, {"2003", "2003"}, {"7", "other"}};
  for (const auto& [name, parts] : examples) {
    std::vector<std::string> options = {"--strict"};
    std::istringstream machine(parts.at("machine"));
    for (std::string what, value; machine >> what && std::getline(machine, value);) {
      value = value.substr(value.find_first_not_of(' '));
      value.erase(value.find_last_not_of("\r") + 1);
      if (what == "program") options.insert(options.end(), {"--program", value});
      if (what == "windows") options.insert(options.end(), {"--windows", versions.at(value)});
    }
    auto script = parts.find("Pakrun.reg");
    Result result = Preview(name, parts.at("Pakrun.ini"),
                            script == parts.end() ? std::nullopt : std::optional<std::string>(script->second),
                            options);
    EXPECT_EQ(0, result.code) << name << "\n" << result.out << result.err;
    EXPECT_NE(std::string::npos, result.out.find("No warnings.")) << name << "\n" << result.out;
  }

  // The build pipeline's reviewed exception: under --strict, silenced by its directive;
  // without the directive, the warning on its line fails the build.
  std::ifstream again(GUIDE_PATH, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>());
  const std::string title = "```ini title=\"pipeline/Pakrun.ini\"\n";
  const std::size_t start = text.find(title);
  ASSERT_NE(std::string::npos, start);
  std::istringstream lines(text.substr(start + title.size(), text.find("\n```", start) - start - title.size()));
  std::string reviewed;
  std::string unreviewed;
  for (std::string row; std::getline(lines, row);) {
    reviewed += row + "\r\n";
    if (row.find("; pakrun-preview: disable=") == std::string::npos) unreviewed += row + "\r\n";
  }
  ASSERT_NE(reviewed, unreviewed);
  struct Case {
    const std::string& settings;
    int code;
    const char* fragment;
  };
  for (const Case& c : {Case{reviewed, 0, "1 suppressed"}, Case{unreviewed, 1, ".ini:4:1: warning: [PARAMS] BUILDTAG: "}}) {
    Result result = Preview("pipeline", c.settings, std::nullopt, {"--strict"});
    EXPECT_EQ(c.code, result.code) << result.out << result.err;
    EXPECT_NE(std::string::npos, result.out.find(c.fragment)) << result.out;
  }
}

// A machine file: the guide's, read as the options it holds; options after it win; a line
// that is no machine option is refused with its number.
TEST(PreviewMachine, MachineFileHoldsTheOptions) {
  std::ifstream guide(GUIDE_PATH, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(guide)), std::istreambuf_iterator<char>());
  const std::string title = "```text title=\"preview-machine/laptop-xp.machine\"\n";
  const std::size_t start = text.find(title);
  ASSERT_NE(std::string::npos, start);
  const std::string machine = text.substr(start + title.size(), text.find("\n```", start + title.size()) - start - title.size() + 1);
  auto written = [](const std::string& name, const std::string& bytes) {
    const std::string path = ::testing::TempDir() + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  };
  const std::string laptop = written("laptop.machine", machine);
  const std::string settings = Crlf({"[PARAMS]", "CLEANUP=1", "[CLEANUP]", "CLEANCOUNT=1", "DEV1=PCI\\VEN_1D4A&DEV_0301&SUBSYS_00011D4A"});
  struct Case {
    std::vector<std::string> options;
    int code;
    const char* fragment;  // in the output, or for exit 2 in the message
  };
  const std::vector<Case> cases = {
      {{"--machine", laptop}, 0, "device             PCI\\VEN_1D4A&DEV_0302&SUBSYS_00021D4A&REV_01, PCI\\VEN_1D4A&DEV_0302&SUBSYS_00021D4A, PCI\\VEN_1D4A&DEV_0302 present"},
      {{"--machine", laptop}, 0, "\"C:\\Program Files\\Korvell\\WLAN Setup\\Setup.exe\" -s"},
      {{"--machine=" + laptop}, 0, "on Windows XP"},
      {{"--machine", laptop}, 0, "from [PARAMS] CLEANUP, [CLEANUP] DEV1"},
      {{"--machine", laptop, "--windows", "98"}, 0, "on Windows 98"},
      {{"--machine", written("flags.machine", "; none\r\n\r\nno-system-root\r\n  temp = C:\\T \r\n")}, 0, "C:\\WINDOWS, no SystemRoot"},
      {{"--machine", written("temp.machine", "temp = C:\\T \r\n")}, 0, "TEMP               C:\\T\n"},
      {{"--machine", written("bad.machine", "windows=xp\nformat=json\n")}, 2, "line 2: \"format\" is no option a machine file may set"},
      {{"--machine", written("flag.machine", "# flag\nstrict\n")}, 2, "line 2: \"strict\" is no flag"},
      {{"--machine", written("valued.machine", "no-short-name=1\n")}, 2, "line 1: \"no-short-name\" is a flag"},
      {{"--machine", ::testing::TempDir() + "/no-such.machine"}, 2, "cannot read the machine file"},
      {{"--machine", ::testing::TempDir()}, 2, "is a directory"},
      {{"--machine"}, 2, "--machine needs a value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options.back());
    Result result = Preview("machinefile", settings, std::nullopt, c.options);
    EXPECT_EQ(c.code, result.code) << result.err;
    EXPECT_NE(std::string::npos, (c.code == 2 ? result.err : result.out).find(c.fragment)) << result.out << result.err;
  }
}

// The README's worked example: its settings file, script and command, run, print what the
// README shows.
TEST(PreviewReadme, WorkedExampleIsWhatTheToolPrints) {
  std::ifstream file(PREVIEW_README, std::ios::binary);
  std::string readme((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::size_t at = readme.find("## Worked example");
  ASSERT_NE(std::string::npos, at);
  auto block = [&](const std::string& info) {
    std::size_t start = readme.find("```" + info + "\n", at);
    EXPECT_NE(std::string::npos, start) << info;
    if (start == std::string::npos) return std::string();
    start += info.size() + 4;
    std::size_t end = readme.find("```\n", start);
    at = end;
    return readme.substr(start, end - start);
  };
  const std::string settings = block("ini");
  // The script as a Windows editor saves it, with CR LF line ends (the plan shows its text).
  std::string script;
  for (char c : block("reg")) script += c == '\n' ? std::string("\r\n") : std::string(1, c);
  const std::string command = block("sh");
  const std::string shown = block("text");
  // The command's words; single quotes keep blanks and backslashes.
  std::vector<std::string> words;
  std::string word;
  bool quoted = false;
  for (char c : command) {
    if (c == '\'') quoted = !quoted;
    else if (!quoted && (c == ' ' || c == '\n')) {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  ASSERT_GE(words.size(), 2u);
  ASSERT_EQ("pakrun-preview", words[0]);
  ASSERT_EQ("Pakrun.ini", words[1]);
  Result result = Preview("readme", settings, script, std::vector<std::string>(words.begin() + 2, words.end()));
  ASSERT_EQ(0, result.code) << result.err;
  std::string out = result.out;
  const std::string path = ::testing::TempDir() + "/readme.ini";
  for (std::size_t place = out.find(path); place != std::string::npos; place = out.find(path, place))
    out.replace(place, path.size(), "Pakrun.ini");
  EXPECT_EQ(shown, out);
}

}  // namespace

namespace {

// The ids of a plan's "warnings" (or "suppressed"), in order.
std::vector<std::string> Ids(const Json& warnings) {
  std::vector<std::string> ids;
  for (const Json& warning : warnings) ids.push_back(Bytes(warning.at("id")));
  return ids;
}

// Each warning points at its file, line and column: the key's name or value, the section's
// header for a missing key, line 1 for the file as a whole or an option from the command
// line, the machine file's line for one set there; a UTF-16 file counted in characters.
TEST(PreviewPlaces, EachWarningPointsAtItsPlace) {
  const std::string scriptOn = Crlf({"[PARAMS]", "STATICREGFROMFILE=1"});
  LintInput temp = In(Crlf({"[PARAMS]", "STATICREG=1"}));
  temp.temp = "C:\\My Temp";
  LintInput tempInFile = temp;
  tempInFile.optionPlaces["temp"] = preview::Place{"laptop.txt", 4, 2};
  struct Case {
    const char* name;
    LintInput input;
    const char* id;
    const char* file;
    int line;
    int column;
  };
  const std::vector<Case> cases = {
      {"key name", In("[PARAMS]\r\nRENAME=1\r\n  SWAPCMDD=1\r\n"), "PP105", "Pakrun.ini", 3, 3},
      {"value", In("[STATICREG]\nADDREG=1\nADDREG1_ROOT=HKLM\nADDREG1_VALUE =  50%\n"), "PP306", "Pakrun.ini", 4, 18},
      {"missing key: its section", In("[PARAMS]\r\n\r\n[STATICREG]\r\nADDREG=1\r\nADDREG1_SUBKEY=S\r\n"), "PP302", "Pakrun.ini", 3, 1},
      {"lone CR line ends", In("[PARAMS]\rRENAME=1\rSWAPCMDD=1\r"), "PP105", "Pakrun.ini", 3, 1},
      {"UTF-16 in characters", In(Utf16("[PARAMS]\r\nRENAME=1\r\n  SWAPCMDD=1\r\n")), "PP105", "Pakrun.ini", 3, 3},
      {"UTF-16 file as a whole", In(Utf16("[PARAMS]\r\n")), "PP001", "Pakrun.ini", 1, 1},
      {"second section", In("[PARAMS]\n[CLEANUP]\n [PARAMS]\n"), "PP101", "Pakrun.ini", 3, 2},
      {"NUL byte", In(std::string("[PARAMS]\r\nCMDEXE=In") + '\0' + "st\r\n"), "PP003", "Pakrun.ini", 2, 10},
      {"unknown id in a comment", In("; pakrun-preview: disable=PP105, PPX\r\n[PARAMS]\r\n"), "PP004", "Pakrun.ini", 1, 34},
      {"script line", In(scriptOn, Crlf({"REGEDIT4", "[HKEY_LOCAL_MACHINE\\X]", "\"A\"=hex:zz"})), "PP507", "Pakrun.reg", 3, 1},
      {"option on the command line", temp, "PP602", "Pakrun.ini", 1, 1},
      {"option in a machine file", tempInFile, "PP602", "laptop.txt", 4, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LintInput input = c.input;
    input.settingsFile = "Pakrun.ini";
    input.scriptSource = "Pakrun.reg";
    int found = 0;
    for (const Warning& warning : preview::Lint(input)) {
      if (warning.id != c.id) continue;
      ++found;
      EXPECT_EQ(c.file, warning.file);
      EXPECT_EQ(c.line, warning.line);
      EXPECT_EQ(c.column, warning.column);
    }
    EXPECT_EQ(1, found);
  }
}

// The text output's compiler line and the JSON warning carry the same place, for the same
// file saved as ANSI and as UTF-16.
TEST(PreviewPlaces, TextAndJsonAgree) {
  const std::string text = "[PARAMS]\r\nRENAME=1\r\n\tSWAPCMDD=1\r\n";
  for (const std::string& settings : {text, Utf16(text)}) {
    Result shown = Preview("place", settings, std::nullopt, {"--strict"});
    Result json = Preview("place", settings, std::nullopt, {"--format", "json"});
    EXPECT_EQ(1, shown.code);
    Json plan = Parsed(json.out);
    Json* warning = nullptr;
    for (Json& item : plan["warnings"]) {
      if (Bytes(item["id"]) == "PP105") warning = &item;
    }
    ASSERT_NE(nullptr, warning) << json.out;
    const std::string file = ::testing::TempDir() + "/place.ini";
    EXPECT_EQ(file, Bytes((*warning)["file"]));
    EXPECT_EQ(3, (*warning)["line"]);
    EXPECT_EQ(2, (*warning)["column"]);
    EXPECT_NE(std::string::npos,
              shown.out.find("\n" + file + ":3:2: warning: [PARAMS] SWAPCMDD: Pakrun never reads this key (nearest known: SWAPCMD) [PP105]\n"))
        << shown.out;
  }
}

// A warning about an option points at the machine file's line that set it, unless the
// command line sets it again after the file.
TEST(PreviewPlaces, MachineOptionAtItsLine) {
  const std::string machine = ::testing::TempDir() + "/places.machine";
  std::ofstream(machine, std::ios::binary) << "windows=xp\r\n# TEMP of the laptop\r\n  temp=C:\\My Temp\r\n";
  const std::string settings = ::testing::TempDir() + "/machine-place.ini";
  struct Case {
    std::vector<std::string> options;
    std::string file;
    int line;
    int column;
  };
  const std::vector<Case> cases = {
      {{"--machine", machine}, machine, 3, 3},
      {{"--machine", machine, "--temp", "C:\\Other Temp"}, settings, 1, 1},
      {{"--temp", "C:\\Other Temp", "--machine", machine}, machine, 3, 3},
  };
  for (const Case& c : cases) {
    Result result = Preview("machine-place", Crlf({"[PARAMS]", "STATICREG=1"}), std::nullopt, With(c.options, {"--format", "json"}));
    ASSERT_EQ(0, result.code) << result.err;
    Json warnings = Parsed(result.out)["warnings"];
    ASSERT_EQ(1u, warnings.size()) << result.out;
    EXPECT_EQ("PP602", Bytes(warnings[0]["id"]));
    EXPECT_EQ(c.file, Bytes(warnings[0]["file"]));
    EXPECT_EQ(c.line, warnings[0]["line"]);
    EXPECT_EQ(c.column, warnings[0]["column"]);
  }
}

// Disable comments and --disable: which warnings are shown and which silenced, and what
// --strict makes of them.
TEST(PreviewSuppression, CommentsAndOptionSilenceExactlyTheirIds) {
  struct Case {
    const char* name;
    std::string settings;
    std::vector<std::string> options;
    std::vector<std::string> shown;
    std::vector<std::string> suppressed;
    int strictCode;
  };
  const std::string line = "; pakrun-preview: disable=PP105\r\n";
  const std::vector<Case> cases = {
      {"the next line only", "[PARAMS]\r\n" + line + "FOO=1\r\nBAR=1\r\n", {}, {"PP105"}, {"PP105"}, 1},
      {"the next line, nothing else found", "[PARAMS]\r\n" + line + "FOO=1\r\n", {}, {}, {"PP105"}, 0},
      {"before the first section: the whole file", line + "[PARAMS]\r\nFOO=1\r\nBAR=1\r\n", {}, {}, {"PP105", "PP105"}, 0},
      {"another id silences nothing here", "[PARAMS]\r\n; pakrun-preview: disable=PP401\r\nFOO=1\r\n", {}, {"PP105"}, {}, 1},
      {"two lines above is not the next line", "[PARAMS]\r\n" + line + "\r\nFOO=1\r\n", {}, {"PP105"}, {}, 1},
      {"stacked, with a reason between", "[PARAMS]\r\n; pakrun-preview: disable=PP401\r\n; a reviewed exception\r\n" + line + "RENAME=2\r\nFOO=1\r\n", {}, {"PP105"}, {"PP401"}, 1},
      {"lone CR line ends", "[PARAMS]\r; pakrun-preview: disable=PP105\rFOO=1\r", {}, {}, {"PP105"}, 0},
      {"several ids", "[PARAMS]\r\n; pakrun-preview: disable=PP401, PP105\r\nFOO=1\r\nRENAME=2\r\n", {}, {"PP401"}, {"PP105"}, 1},
      {"an unknown id draws its own warning", "; pakrun-preview: disable=PP10\r\n[PARAMS]\r\nFOO=1\r\n", {}, {"PP004", "PP105"}, {}, 1},
      {"--disable", "[PARAMS]\r\nFOO=1\r\nRENAME=2\r\n", {"--disable", "PP105"}, {"PP401"}, {"PP105"}, 1},
      {"--disable twice", "[PARAMS]\r\nFOO=1\r\nRENAME=2\r\n", {"--disable", "PP105", "--disable=PP401"}, {}, {"PP105", "PP401"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result json = Preview("silenced", c.settings, std::nullopt, With(c.options, {"--format", "json"}));
    ASSERT_EQ(0, json.code) << json.err;
    Json plan = Parsed(json.out);
    EXPECT_EQ(c.shown, Ids(plan["warnings"]));
    EXPECT_EQ(c.suppressed, Ids(plan["suppressed"]));
    EXPECT_EQ(c.suppressed.size(), plan["suppressed_count"].get<std::size_t>());
    Result strict = Preview("silenced", c.settings, std::nullopt, With(c.options, {"--strict"}));
    EXPECT_EQ(c.strictCode, strict.code) << strict.out;
    EXPECT_EQ(c.shown.empty(), strict.out.find(": warning: ") == std::string::npos) << strict.out;
  }
  Result unknown = Preview("silenced", "[PARAMS]\r\n", std::nullopt, {"--disable", "PP999"});
  EXPECT_EQ(2, unknown.code);
  EXPECT_NE(std::string::npos, unknown.err.find("--disable PP999: no such check")) << unknown.err;
}

// A tail that makes the setup command line longer than the 1023 characters its buffer
// holds: Pakrun starts no setup program, and the warning says so; one character less
// starts it and draws nothing.
TEST(PreviewWarnings, SetupCommandLineTooLongForItsBuffer) {
  // "C:\Setup\Setup.exe" quoted and a blank: 21 characters before the tail.
  for (const auto& [tail, fits] : {std::pair<std::size_t, bool>{1002, true}, {1003, false}}) {
    SCOPED_TRACE(tail);
    Result result = Preview("tail", "[PARAMS]\r\nRENAME=0\r\n", std::nullopt, {"--tail", Text(tail), "--format", "json"});
    ASSERT_EQ(0, result.code) << result.err;
    Json plan = Parsed(result.out);
    bool started = false;
    for (Json& step : plan["steps"]) started = started || Bytes(step["program"]) == "setup";
    EXPECT_EQ(fits, started);
    EXPECT_EQ(fits ? std::vector<std::string>{} : std::vector<std::string>{"PP406"}, Ids(plan["warnings"]));
    if (!fits) {
      EXPECT_NE(std::string::npos, Bytes(plan["warnings"][0]["message"]).find("1024 characters, more than the 1023 its buffer "
                                                                                  "holds: the setup program would not be started at all"));
    }
  }
}

// The manual: one page per check, and each page's examples previewed: the bad one draws
// exactly its id, the good one none. --list-checks lists the same ids.
TEST(PreviewManual, EveryCheckHasAPageWhoseExamplesHold) {
  std::ifstream file(PREVIEW_README, std::ios::binary);
  const std::string manual((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::size_t at = manual.find("\n## Checks\n");
  ASSERT_NE(std::string::npos, at);
  const std::size_t end = manual.find("\n## ", at + 1);
  const std::string part = manual.substr(at, end - at);

  std::ostringstream listed;
  std::ostringstream err;
  ASSERT_EQ(0, preview::PreviewMain({"--list-checks"}, listed, err));
  std::vector<std::string> ids;
  std::istringstream lines(listed.str());
  for (std::string line; std::getline(lines, line);) {
    ASSERT_GE(line.size(), 8u) << line;
    ids.push_back(line.substr(0, 5));
    EXPECT_EQ("  ", line.substr(5, 2)) << line;
  }
  ASSERT_EQ(preview::AllChecks().size(), ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    EXPECT_EQ(std::string(preview::AllChecks()[i].id), ids[i]);
    if (i > 0) {
      EXPECT_LT(ids[i - 1], ids[i]);  // in order, each once
    }
  }

  // The pages, by their headings "### ID: title".
  std::map<std::string, std::string> pages;
  for (std::size_t heading = part.find("\n### "); heading != std::string::npos;) {
    const std::size_t next = part.find("\n### ", heading + 1);
    const std::string page = part.substr(heading + 5, next == std::string::npos ? std::string::npos : next - heading - 5);
    const std::string id = page.substr(0, page.find(':'));
    EXPECT_TRUE(pages.emplace(id, page).second) << "a second page for " << id;
    heading = next;
  }
  for (const std::string& id : ids) EXPECT_EQ(1u, pages.count(id)) << "no page for " << id;
  for (const auto& [id, page] : pages) {
    SCOPED_TRACE(id);
    const preview::CheckInfo* check = preview::FindCheck(id.c_str());
    ASSERT_NE(nullptr, check) << "a page without a check";
    EXPECT_EQ(id + ": " + check->title, page.substr(0, page.find('\n')));
    // The examples: "Bad..." or "Good..." and the fenced blocks after it.
    for (const std::string label : {"\nBad", "\nGood"}) {
      const std::size_t from = page.find(label);
      ASSERT_NE(std::string::npos, from) << label;
      const std::size_t to = label == "\nBad" ? page.find("\nGood") : page.size();
      const std::string how = page.substr(from + 1, page.find('\n', from + 1) - from - 1);
      std::map<std::string, std::string> blocks;
      for (std::size_t fence = page.find("\n```", from); fence < to; fence = page.find("\n```", fence + 1)) {
        const std::size_t infoEnd = page.find('\n', fence + 4);
        const std::string info = page.substr(fence + 4, infoEnd - fence - 4);
        const std::size_t close = page.find("\n```\n", infoEnd);
        std::string body = page.substr(infoEnd + 1, close - infoEnd);
        // "@N" at a line's end: N letters A.
        std::string expanded;
        std::istringstream bodyLines(body);
        for (std::string line; std::getline(bodyLines, line);) {
          const std::size_t sign = line.rfind('@');
          if (sign != std::string::npos && sign + 1 < line.size() &&
              line.find_first_not_of("0123456789", sign + 1) == std::string::npos)
            line = line.substr(0, sign) + Text(std::stoul(line.substr(sign + 1)));
          expanded += line + (info == "machine" ? "\n" : "\r\n");
        }
        blocks[info] = expanded;
        fence = close;
      }
      ASSERT_EQ(1u, blocks.count("ini")) << how;
      std::string settings = blocks["ini"];
      std::optional<std::string> script;
      if (blocks.count("reg") != 0) script = blocks["reg"];
      // How the file is saved, where that is the trap.
      if (how.find("(UTF-16)") != std::string::npos) settings = Utf16(settings);
      if (how.find("byte-order mark") != std::string::npos) settings = "\xEF\xBB\xBF" + settings;
      if (how.find("NUL byte after `Inst`") != std::string::npos) settings.insert(settings.find("Inst") + 4, 1, '\0');
      if (how.find("script in UTF-16") != std::string::npos) script = Utf16(*script);
      std::vector<std::string> options = {"--format", "json"};
      if (blocks.count("machine") != 0) {
        const std::string machine = ::testing::TempDir() + "/manual-machine.txt";
        std::ofstream(machine, std::ios::binary) << blocks["machine"];
        options.insert(options.end(), {"--machine", machine});
      }
      Result result = Preview("manual", settings, script, options);
      ASSERT_EQ(0, result.code) << how << "\n" << result.err;
      const std::vector<std::string> drawn = Ids(Parsed(result.out)["warnings"]);
      EXPECT_EQ(label == "\nBad" ? std::vector<std::string>{id} : std::vector<std::string>{}, drawn) << how;
    }
  }
}

}  // namespace
