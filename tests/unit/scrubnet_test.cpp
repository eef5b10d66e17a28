// Scrubnet's run on the substitute machine: the family split and order of steps, the
// walks of the driver and enumeration keys, the device removal, failures passed over.
#include <ostream>
#include <string>
#include <vector>

#include "scrubnet/scrubnet.h"
#include "scrubnet_fixture.h"

namespace {

using Strings = std::vector<std::string>;

const std::string kChipsetDevice = "PCI\\VEN_1D4A&DEV_7403&SUBSYS_00011D4A&REV_01\\4&2A5F3C1E&0&20F0";
const std::string kOtherDevice = "PCI\\VEN_8086&DEV_1229&SUBSYS_00018086&REV_08\\3&61AAA01&0&40";

// --- the families and their order of steps --------------------------------------------

TEST_F(ScrubnetTest, NtFamilyRemovesMatchingFilesAndDevicesAndDeletesNoKey) {
  UseNt();
  NtKey("0000", "PCI\\VEN_1D4A&DEV_7403&SUBSYS_00011D4A", "oem12.inf");
  NtKey("0001", "pci\\ven_1d4a&dev_7404", "oem13.inf");
  NtKey("0002", "PCI\\VEN_8086&DEV_1229", "oem14.inf");
  Put(InstalledInf("oem12"));
  Put(InstalledInf("oem13"));
  Put(InstalledInf("oem14"));
  Put(FixedFiles());
  NetDevice(kChipsetDevice);
  NetDevice(kOtherDevice);
  EnumKey("VEN_1D4A&DEV_7403&SUBSYS_00011D4A&REV_01");

  EXPECT_EQ(0, ScrubnetMain());

  for (const std::string& path : InstalledInf("oem12")) EXPECT_FALSE(Has(path)) << path;
  for (const std::string& path : InstalledInf("oem13")) EXPECT_FALSE(Has(path)) << path;
  for (const std::string& path : InstalledInf("oem14")) EXPECT_TRUE(Has(path)) << path;
  EXPECT_FALSE(Has(NtDriver()));
  // The 9x family's copies are none of the NT family's business.
  for (const std::string& path : {Win9xDriver(), Win9xOptionsDriver(), InfOther(), ChipsetInf(),
                                  InfInternet()})
    EXPECT_TRUE(Has(path)) << path;
  EXPECT_FALSE(Installed(kChipsetDevice));
  EXPECT_TRUE(Installed(kOtherDevice));
  EXPECT_EQ(0, machine.Calls("RegDeleteKeyA"));
  EXPECT_TRUE(HasKey(std::string(kNtClassKey) + "\\0000"));
  EXPECT_TRUE(HasKey(std::string(kNtClassKey) + "\\0001"));
  EXPECT_TRUE(HasKey(std::string(kEnumPciKey) + "\\VEN_1D4A&DEV_7403&SUBSYS_00011D4A&REV_01"));
}

TEST_F(ScrubnetTest, NtFamilyReadsTheDriverKeysBeforeRemovingTheDevices) {
  UseNt();
  NtKey("0000", "PCI\\VEN_1D4A&DEV_7403", "oem12.inf");
  Put(InstalledInf("oem12"));
  Put(NtDriver());
  NetDevice(kChipsetDevice);

  ScrubnetMain();

  Strings expected = InstalledInf("oem12");
  expected.push_back(NtDriver());
  EXPECT_EQ(expected, Deleted());
  std::vector<std::string> events = machine.Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ("RemoveDevice " + kChipsetDevice, events.back());
  EXPECT_EQ(1u, EventsStartingWith("RemoveDevice").size());
}

TEST_F(ScrubnetTest, NineXFamilyRemovesDevicesFirstThenCleansEachKeyInOrder) {
  Use9x();
  Key9x("0000", "PCI\\VEN_1D4A&DEV_7403", "oem12.inf");
  Put(InstalledInf("oem12"));
  Put(FixedFiles());
  NetDevice(kChipsetDevice);
  EnumKey("VEN_1D4A&DEV_7403&SUBSYS_00011D4A&REV_01");

  EXPECT_EQ(0, ScrubnetMain());

  const std::string classSub = std::string(k9xClassKey) + "\\0000";
  Strings expected = {"RemoveDevice " + kChipsetDevice};
  for (const std::string& path : InstalledInf("oem12")) expected.push_back("DeleteFile " + path);
  for (const std::string& path :
       {InfOther(), ChipsetInf(), InfInternet(), Win9xDriver(), Win9xOptionsDriver()})
    expected.push_back("DeleteFile " + path);
  expected.push_back("RegDeleteKey " + classSub);
  expected.push_back("RegDeleteKey " + std::string(kEnumPciKey) +
                     "\\VEN_1D4A&DEV_7403&SUBSYS_00011D4A&REV_01");
  EXPECT_EQ(expected, machine.Events());
  // The NT driver file is none of the 9x family's business.
  EXPECT_TRUE(Has(NtDriver()));
  // The driver key went with the key below it.
  EXPECT_FALSE(HasKey(classSub));
  EXPECT_FALSE(HasKey(classSub + "\\Ndi"));
  EXPECT_TRUE(HasKey(k9xClassKey));
  EXPECT_TRUE(HasKey(kEnumPciKey));
}

TEST_F(ScrubnetTest, BitThirtyOneWithMajorVersionThreeDoesNothing) {
  machine.kernel.version = sim::VersionInfo{3, 95, 0, VER_PLATFORM_WIN32s, ""};
  Key9x("0000", "PCI\\VEN_1D4A&DEV_7403", "oem12.inf");
  NtKey("0000", "PCI\\VEN_1D4A&DEV_7403", "oem12.inf");
  EnumKey("VEN_1D4A&DEV_7403");
  Put(InstalledInf("oem12"));
  Put(FixedFiles());
  NetDevice(kChipsetDevice);

  EXPECT_EQ(0, ScrubnetMain());

  EXPECT_TRUE(machine.Events().empty());
  EXPECT_EQ(1, machine.TotalCalls()) << "only the version word is read";
  EXPECT_EQ(1, machine.Calls("GetVersion"));
}

// Under WOW64 a removal could only be half done (devices cannot be removed there, and
// system32 is the 32-bit copy): nothing is touched at all, and the exit code stays 0.
TEST_F(ScrubnetTest, UnderWow64NothingIsTouched) {
  UseNt();
  machine.kernel.wow64 = true;
  NtKey("0000", "PCI\\VEN_1D4A&DEV_7403&SUBSYS_00011D4A", "oem12.inf");
  Put(InstalledInf("oem12"));
  Put(FixedFiles());
  NetDevice(kChipsetDevice);

  EXPECT_EQ(0, ScrubnetMain());

  EXPECT_TRUE(machine.Events().empty());
  for (const char* operation : {"SetupDiGetClassDevsA", "RegOpenKeyExA", "DeleteFileA"})
    EXPECT_EQ(0, machine.Calls(operation)) << operation;
  EXPECT_TRUE(Installed(kChipsetDevice));
}

TEST_F(ScrubnetTest, MajorVersionFourIsTheNineXFamily) {
  machine.kernel.version = sim::VersionInfo{4, 0, 950, VER_PLATFORM_WIN32_WINDOWS, ""};
  Key9x("0000", "PCI\\VEN_1D4A&DEV_7403", "oem12.inf");
  EXPECT_EQ(0, ScrubnetMain());
  EXPECT_FALSE(HasKey(std::string(k9xClassKey) + "\\0000"));
}

TEST_F(ScrubnetTest, NoChipsetDeletesNothing) {
  for (bool nineX : {false, true}) {
    if (nineX) Use9x(); else UseNt();
    NtKey("0000", "PCI\\VEN_8086&DEV_1229", "oem14.inf");
    Key9x("0000", "PCI\\VEN_8086&DEV_1229", "oem14.inf");
    EnumKey("VEN_8086&DEV_1229");
    Put(InstalledInf("oem14"));
    Put(FixedFiles());
    NetDevice(kOtherDevice);
    EXPECT_EQ(0, ScrubnetMain());
    EXPECT_TRUE(machine.Events().empty()) << (nineX ? "9x" : "NT");
  }
}

// --- prefix tests ---------------------------------------------------------------------

TEST_F(ScrubnetTest, DeviceInstanceIdentifierMustBeginWithThePrefixInItsOwnCase) {
  UseNt();
  const Strings removed = {"PCI\\VEN_1D4A", "PCI\\VEN_1D4A&DEV_7403\\4&1&0&20F0",
                           "PCI\\VEN_1D4AB\\0"};
  const Strings kept = {"pci\\ven_1d4a&dev_7403\\4&1&0&30F0", "PCI\\VEN_1D4a&DEV_7403\\0",
                        "PCI\\VEN_1D4", "XPCI\\VEN_1D4A\\0", "PCI/VEN_1D4A&DEV_7403\\0"};
  for (const std::string& id : removed) machine.devices.Add(id, {"PCI\\VEN_1D4A"});
  for (const std::string& id : kept) machine.devices.Add(id, {"PCI\\VEN_1D4A"}).instanceIdAsSeeded = true;

  RemoveChipsetDevices();

  for (const std::string& id : removed) EXPECT_FALSE(Installed(id)) << id;
  for (const std::string& id : kept) EXPECT_TRUE(Installed(id)) << id;
  EXPECT_EQ(1, machine.Calls("SetupDiGetClassDevsA"));
  EXPECT_EQ(1, machine.Calls("SetupDiDestroyDeviceInfoList"));
}

TEST_F(ScrubnetTest, OnlyPresentNetworkDevicesAreRemoved) {
  UseNt();
  NetDevice("PCI\\VEN_1D4A&DEV_7403\\absent", false);
  sim::Device& otherClass = NetDevice("PCI\\VEN_1D4A&DEV_7403\\otherclass");
  otherClass.classGuid = "{4D36E97D-E325-11CE-BFC1-08002BE10318}";
  NetDevice("PCI\\VEN_1D4A&DEV_7403\\present");

  RemoveChipsetDevices();

  EXPECT_EQ(Strings{"RemoveDevice PCI\\VEN_1D4A&DEV_7403\\present"}, EventsStartingWith("RemoveDevice"));
}

TEST_F(ScrubnetTest, ComponentIdMatchesInAnyLetterCaseButOtherBytesExactly) {
  UseNt();
  // Each key names its own INF; the INFs deleted tell which keys matched.
  const std::vector<std::pair<std::string, bool>> ids = {
      {"PCI\\VEN_1D4A", true},            // exactly the prefix
      {"pci\\ven_1d4a&dev_7403", true},   // lower case
      {"Pci\\Ven_1d4A&DEV_7403", true},   // mixed case
      {"PCI\\VEN_1D4", false},            // one character short
      {"PCI|VEN_1D4A&DEV_7403", false},   // '|' is '\' with bit 5 set, not a letter
      {"PCI\\VEN\x7f" "1D4A&DEV_7403", false},  // likewise DEL for '_'
      {" PCI\\VEN_1D4A&DEV_7403", false},  // anything in front
      {"", false},
  };
  for (std::size_t i = 0; i < ids.size(); ++i) {
    std::string n = std::to_string(20 + i);
    NtKey("00" + n, ids[i].first, "oem" + n + ".inf");
    Put(Inf("oem" + n + ".inf"));
  }

  PurgeDriverKeysNt();

  for (std::size_t i = 0; i < ids.size(); ++i) {
    std::string inf = Inf("oem" + std::to_string(20 + i) + ".inf");
    EXPECT_EQ(ids[i].second, !Has(inf)) << '"' << ids[i].first << '"';
  }
}

TEST_F(ScrubnetTest, MatchingDeviceIdMatchesInAnyLetterCase) {
  Use9x();
  Key9x("0000", "pci\\ven_1d4a&dev_7403", "oem12.inf");
  Key9x("0001", "PCI\\VEN_1D4", "oem13.inf");
  Key9x("0002", "PCI\\VEN_1D4A", "oem14.inf");
  PurgeDriverKeys9x();
  EXPECT_FALSE(HasKey(std::string(k9xClassKey) + "\\0000"));
  EXPECT_TRUE(HasKey(std::string(k9xClassKey) + "\\0001"));
  EXPECT_FALSE(HasKey(std::string(k9xClassKey) + "\\0002"));
}

TEST_F(ScrubnetTest, EnumPciKeysBeginningWithTheVendorInAnyCaseAreDeletedWhole) {
  Use9x();
  const Strings deleted = {"VEN_1D4A", "VEN_1D4A&DEV_7403&SUBSYS_00011D4A&REV_01",
                           "ven_1d4a&dev_7404&subsys_00011d4a&rev_01", "Ven_1d4A&DEV_7405"};
  const Strings kept = {"VEN_1D4", "VEN_1D4&DEV_7403", "XVEN_1D4A&DEV_7403", "VEN-1D4A&DEV_7403",
                        "VEN_8086&DEV_1229&SUBSYS_00018086&REV_08"};
  for (const std::string& name : deleted) EnumKey(name);
  for (const std::string& name : kept) EnumKey(name);

  PurgeEnumPciKeys9x();

  for (const std::string& name : deleted)
    EXPECT_FALSE(HasKey(std::string(kEnumPciKey) + "\\" + name)) << name;
  for (const std::string& name : kept) {
    EXPECT_TRUE(HasKey(std::string(kEnumPciKey) + "\\" + name)) << name;
    EXPECT_TRUE(HasKey(std::string(kEnumPciKey) + "\\" + name + "\\3&13c0b0c5&0&40")) << name;
  }
  EXPECT_EQ(deleted.size(), EventsStartingWith("RegDeleteKey").size());
}

// --- deleting while walking -----------------------------------------------------------

TEST_F(ScrubnetTest, AdjacentMatchingNineXKeysAreBothCleanedAndDeleted) {
  Use9x();
  Key9x("0000", "PCI\\VEN_1D4A&DEV_7403", "oem10.inf");
  Key9x("0001", "PCI\\VEN_1D4A&DEV_7403", "oem11.inf");
  Key9x("0002", "PCI\\VEN_8086&DEV_1229", "oem12.inf");
  Key9x("0003", "PCI\\VEN_1D4A&DEV_7404", "oem13.inf");
  Key9x("0004", "PCI\\VEN_1D4A&DEV_7405", "oem14.inf");
  for (const char* base : {"oem10", "oem11", "oem12", "oem13", "oem14"}) Put(InstalledInf(base));

  PurgeDriverKeys9x();

  for (const char* sub : {"0000", "0001", "0003", "0004"})
    EXPECT_FALSE(HasKey(std::string(k9xClassKey) + "\\" + sub)) << sub;
  EXPECT_TRUE(HasKey(std::string(k9xClassKey) + "\\0002"));
  for (const char* base : {"oem10", "oem11", "oem13", "oem14"}) {
    for (const std::string& path : InstalledInf(base)) EXPECT_FALSE(Has(path)) << path;
  }
  for (const std::string& path : InstalledInf("oem12")) EXPECT_TRUE(Has(path)) << path;
  // Each subkey present at the start is visited once: the class key and five subkeys opened.
  EXPECT_EQ(6, machine.Calls("RegOpenKeyExA"));
  EXPECT_EQ(4, machine.Calls("RegDeleteKeyA"));
  EXPECT_EQ(4 * 8, machine.Calls("DeleteFileA"));  // 3 installed-INF and 5 fixed files per match
}

TEST_F(ScrubnetTest, AKeyThatCannotBeDeletedIsVisitedOnceAndTheWalkGoesOn) {
  Use9x();
  Key9x("0000", "PCI\\VEN_1D4A&DEV_7403", "oem10.inf");
  Key9x("0001", "PCI\\VEN_1D4A&DEV_7403", "oem11.inf");
  machine.Fail("RegDeleteKeyA", ERROR_ACCESS_DENIED, 1);
  EnumKey("VEN_1D4A&DEV_7403");
  EnumKey("VEN_1D4A&DEV_7404");

  PurgeDriverKeys9x();
  PurgeEnumPciKeys9x();

  EXPECT_TRUE(HasKey(std::string(k9xClassKey) + "\\0000"));
  EXPECT_FALSE(HasKey(std::string(k9xClassKey) + "\\0001"));
  EXPECT_FALSE(HasKey(std::string(kEnumPciKey) + "\\VEN_1D4A&DEV_7403"));
  EXPECT_FALSE(HasKey(std::string(kEnumPciKey) + "\\VEN_1D4A&DEV_7404"));
  EXPECT_EQ(4, machine.Calls("RegDeleteKeyA"));
}

TEST_F(ScrubnetTest, AKeyReportedDeletedThatStaysDoesNotHoldTheWalk) {
  Use9x();
  Key9x("0000", "PCI\\VEN_1D4A&DEV_7403", "oem10.inf");
  Key9x("0001", "PCI\\VEN_1D4A&DEV_7403", "oem11.inf");
  machine.registry.Find(std::string(k9xClassKey) + "\\0000")->deleteLies = true;
  EnumKey("VEN_1D4A&DEV_7403");
  EnumKey("VEN_1D4A&DEV_7404");
  machine.registry.Find(std::string(kEnumPciKey) + "\\VEN_1D4A&DEV_7403")->deleteLies = true;

  PurgeDriverKeys9x();
  PurgeEnumPciKeys9x();

  EXPECT_TRUE(HasKey(std::string(k9xClassKey) + "\\0000"));
  EXPECT_FALSE(HasKey(std::string(k9xClassKey) + "\\0001"));
  EXPECT_FALSE(HasKey(std::string(kEnumPciKey) + "\\VEN_1D4A&DEV_7404"));
  EXPECT_EQ(4, machine.Calls("RegDeleteKeyA"));
}

TEST_F(ScrubnetTest, SubkeyNamesTooLongForTheirBufferArePassedOver) {
  Use9x();
  // 120 characters do not fit a class subkey name buffer of 120; 200 not the Enum one.
  Key9x(std::string(120, '0'), "PCI\\VEN_1D4A&DEV_7403", "oem10.inf");
  Key9x("1", "PCI\\VEN_1D4A&DEV_7403", "oem11.inf");
  EnumKey("VEN_1D4A&A" + std::string(190, 'x'));  // walked before the next one
  EnumKey("VEN_1D4A&DEV_7403");

  PurgeDriverKeys9x();
  PurgeEnumPciKeys9x();

  EXPECT_TRUE(HasKey(std::string(k9xClassKey) + "\\" + std::string(120, '0')));
  EXPECT_FALSE(HasKey(std::string(k9xClassKey) + "\\1"));
  EXPECT_TRUE(HasKey(std::string(kEnumPciKey) + "\\VEN_1D4A&A" + std::string(190, 'x')));
  EXPECT_FALSE(HasKey(std::string(kEnumPciKey) + "\\VEN_1D4A&DEV_7403"));
}

TEST_F(ScrubnetTest, TwoDriverKeysWithTheSameInfPath) {
  Use9x();
  Key9x("0000", "PCI\\VEN_1D4A&DEV_7403", "oem12.inf");
  Key9x("0001", "PCI\\VEN_1D4A&DEV_7403", "oem12.inf");
  Put(InstalledInf("oem12"));
  PurgeDriverKeys9x();
  for (const std::string& path : InstalledInf("oem12")) EXPECT_FALSE(Has(path)) << path;
  EXPECT_EQ(3u, Deleted().size());
  EXPECT_EQ(2u, EventsStartingWith("RegDeleteKey").size());
}

// --- absent values, unopenable keys, failing devices ---------------------------------

TEST_F(ScrubnetTest, AbsentValuesAndUnopenableKeysArePassedOver) {
  UseNt();
  NtKey("0000", "PCI\\VEN_1D4A&DEV_7403", "oem10.inf");
  machine.registry.Find(std::string(kNtClassKey) + "\\0000")->refuseOpen = true;
  machine.registry.Create(std::string(kNtClassKey) + "\\0001");  // no values at all
  machine.registry.SetString(std::string(kNtClassKey) + "\\0002", "InfPath", "oem12.inf");
  NtKey("0003", "PCI\\VEN_1D4A&DEV_7403", "oem13.inf");
  for (const char* base : {"oem10", "oem12", "oem13"}) Put(InstalledInf(base));

  PurgeDriverKeysNt();

  for (const std::string& path : InstalledInf("oem10")) EXPECT_TRUE(Has(path)) << path;
  for (const std::string& path : InstalledInf("oem12")) EXPECT_TRUE(Has(path)) << path;
  for (const std::string& path : InstalledInf("oem13")) EXPECT_FALSE(Has(path)) << path;
}

TEST_F(ScrubnetTest, AbsentInfPathSkipsOnlyTheInstalledInf) {
  Use9x();
  Key9x("0000", "PCI\\VEN_1D4A&DEV_7403", "");
  Key9x("0001", "PCI\\VEN_1D4A&DEV_7403", "");
  machine.registry.SetString(std::string(k9xClassKey) + "\\0001", "InfPath", "");
  Put(FixedFiles());

  PurgeDriverKeys9x();

  Strings expected = {InfOther(), ChipsetInf(), InfInternet(), Win9xDriver(), Win9xOptionsDriver()};
  EXPECT_EQ(expected, Deleted());  // the second key finds them gone
  EXPECT_EQ(10, machine.Calls("DeleteFileA"));
  EXPECT_EQ(2u, EventsStartingWith("RegDeleteKey").size());

  UseNt();
  NtKey("0000", "PCI\\VEN_1D4A&DEV_7403", "");
  Put(NtDriver());
  PurgeDriverKeysNt();
  EXPECT_FALSE(Has(NtDriver()));
}

TEST_F(ScrubnetTest, IdentifiersTooLongForTheirBufferDoNotMatch) {
  UseNt();
  // With its terminator an identifier may take 500 bytes; a longer one is not read at all.
  NtKey("0000", "PCI\\VEN_1D4A" + std::string(487, 'x'), "oem10.inf");
  NtKey("0001", "PCI\\VEN_1D4A" + std::string(488, 'x'), "oem11.inf");
  Put(Inf("oem10.inf"));
  Put(Inf("oem11.inf"));
  PurgeDriverKeysNt();
  EXPECT_FALSE(Has(Inf("oem10.inf")));
  EXPECT_TRUE(Has(Inf("oem11.inf")));
}

TEST_F(ScrubnetTest, UnopenableClassKeysLeaveTheOtherStepsRunning) {
  Use9x();
  Key9x("0000", "PCI\\VEN_1D4A&DEV_7403", "oem12.inf");
  machine.registry.Find(k9xClassKey)->refuseOpen = true;
  EnumKey("VEN_1D4A&DEV_7403");
  NetDevice(kChipsetDevice);

  EXPECT_EQ(0, ScrubnetMain());

  EXPECT_FALSE(Installed(kChipsetDevice));
  EXPECT_TRUE(HasKey(std::string(k9xClassKey) + "\\0000"));
  EXPECT_FALSE(HasKey(std::string(kEnumPciKey) + "\\VEN_1D4A&DEV_7403"));
  EXPECT_TRUE(Deleted().empty());
}

TEST_F(ScrubnetTest, DeviceSetThatCannotBeBuiltLeavesTheFileAndKeyStepsRunning) {
  Use9x();
  machine.Fail("SetupDiGetClassDevsA", ERROR_INVALID_PARAMETER);
  NetDevice(kChipsetDevice);
  Key9x("0000", "PCI\\VEN_1D4A&DEV_7403", "oem12.inf");
  Put(InstalledInf("oem12"));
  EXPECT_EQ(0, ScrubnetMain());
  EXPECT_TRUE(Installed(kChipsetDevice));
  EXPECT_EQ(0, machine.Calls("SetupDiDestroyDeviceInfoList"));
  EXPECT_FALSE(HasKey(std::string(k9xClassKey) + "\\0000"));
  for (const std::string& path : InstalledInf("oem12")) EXPECT_FALSE(Has(path)) << path;
}

TEST_F(ScrubnetTest, DeviceWalkGoesOnPastUnreadableAndUnremovableDevices) {
  UseNt();
  NetDevice("PCI\\VEN_1D4A&DEV_7403\\first");
  NetDevice("PCI\\VEN_1D4A&DEV_7403\\second").removeFails = true;
  NetDevice("PCI\\VEN_1D4A&DEV_7403\\third");
  NetDevice("PCI\\VEN_1D4A&DEV_7403\\fourth");
  machine.Fail("SetupDiGetDeviceInstanceIdA", ERROR_INSUFFICIENT_BUFFER, 1);

  RemoveChipsetDevices();

  EXPECT_TRUE(Installed("PCI\\VEN_1D4A&DEV_7403\\first"));
  EXPECT_TRUE(Installed("PCI\\VEN_1D4A&DEV_7403\\second"));
  EXPECT_FALSE(Installed("PCI\\VEN_1D4A&DEV_7403\\third"));
  EXPECT_FALSE(Installed("PCI\\VEN_1D4A&DEV_7403\\fourth"));
  EXPECT_EQ(5, machine.Calls("SetupDiEnumDeviceInfo"));
  EXPECT_EQ(1, machine.Calls("SetupDiDestroyDeviceInfoList"));
}

// --- resources released on every path --------------------------------------------------

// A fault in one call of an operation the run makes, on either family: the run ends with
// 0, releases whatever it opened (the fixture checks at the end) and still does every
// step the fault does not reach. `spared` names what the fault leaves in place of all
// that a run without faults removes: installed INF files ("i10" oem10.inf, "p10" its
// PNF, "c10" its CAT; the same for oem12), the NT driver ("nt"), the 9x fixed files
// ("9x", "opt", "oth", "chip", "net"), the chipset devices ("d03", "d04"), the 9x
// driver keys ("k00", "k02") and enumeration keys ("e03", "e04").
struct FaultCase {
  const char* operation;
  int nth;  // 0: every call
  bool nineX;
  const char* spared;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
  *os << c.operation << " call " << c.nth << (c.nineX ? " 9x" : " NT") << " spares \"" << c.spared
      << "\"";
}

class ScrubnetFaults : public ScrubnetTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(ScrubnetFaults, ReleasesEverythingAndEndsWithZeroDoingWhatTheFaultDoesNotReach) {
  const FaultCase& c = GetParam();
  if (c.nineX) Use9x(); else UseNt();
  for (const char* classKey : {kNtClassKey, k9xClassKey}) {
    const char* idName = classKey == kNtClassKey ? "ComponentId" : "MatchingDeviceId";
    DriverKey(classKey, "0000", idName, "PCI\\VEN_1D4A&DEV_7403", "oem10.inf");
    DriverKey(classKey, "0001", idName, "PCI\\VEN_8086&DEV_1229", "oem11.inf");
    DriverKey(classKey, "0002", idName, "PCI\\VEN_1D4A&DEV_7404", "oem12.inf");
  }
  EnumKey("VEN_1D4A&DEV_7403");
  EnumKey("VEN_1D4A&DEV_7404");
  const std::string kSecondChipsetDevice = "PCI\\VEN_1D4A&DEV_7404\\1";
  NetDevice(kChipsetDevice);
  NetDevice(kOtherDevice);
  NetDevice(kSecondChipsetDevice);
  for (const char* base : {"oem10", "oem11", "oem12"}) Put(InstalledInf(base));
  Put(FixedFiles());
  machine.Fail(c.operation, c.operation[0] == 'R' ? ERROR_ACCESS_DENIED : ERROR_GEN_FAILURE, c.nth);

  EXPECT_EQ(0, ScrubnetMain());

  const std::string spared = std::string(" ") + c.spared + " ";
  auto isSpared = [&](const char* token) {
    return spared.find(std::string(" ") + token + " ") != std::string::npos;
  };
  Strings oem10 = InstalledInf("oem10"), oem12 = InstalledInf("oem12");
  struct Item {
    const char* token;
    bool removedByFamily;  // what a run without faults removes on this family
    bool present;
  };
  const bool nt = !c.nineX;
  const std::string classKey = c.nineX ? k9xClassKey : kNtClassKey;
  const std::string enumKey = std::string(kEnumPciKey) + "\\VEN_1D4A&DEV_7403";
  for (const Item& item : {
           Item{"i10", true, Has(oem10[0])}, Item{"p10", true, Has(oem10[1])},
           Item{"c10", true, Has(oem10[2])}, Item{"i12", true, Has(oem12[0])},
           Item{"p12", true, Has(oem12[1])}, Item{"c12", true, Has(oem12[2])},
           Item{"nt", nt, Has(NtDriver())}, Item{"9x", !nt, Has(Win9xDriver())},
           Item{"opt", !nt, Has(Win9xOptionsDriver())}, Item{"oth", !nt, Has(InfOther())},
           Item{"chip", !nt, Has(ChipsetInf())}, Item{"net", !nt, Has(InfInternet())},
           Item{"d03", true, Installed(kChipsetDevice)},
           Item{"d04", true, Installed(kSecondChipsetDevice)},
           Item{"k00", !nt, HasKey(classKey + "\\0000")}, Item{"k02", !nt, HasKey(classKey + "\\0002")},
           Item{"e03", !nt, HasKey(enumKey)},
           Item{"e04", !nt, HasKey(std::string(kEnumPciKey) + "\\VEN_1D4A&DEV_7404")}}) {
    EXPECT_EQ(!item.removedByFamily || isSpared(item.token), item.present) << item.token;
    if (!item.removedByFamily) {
      EXPECT_FALSE(isSpared(item.token)) << "never removed: " << item.token;
    }
  }
  // What does not match is never touched.
  for (const std::string& path : InstalledInf("oem11")) EXPECT_TRUE(Has(path)) << path;
  EXPECT_TRUE(Installed(kOtherDevice));
  EXPECT_TRUE(HasKey(classKey + "\\0001"));
}

// Every case's fault fires (the fixture fails one that does not): the NT family deletes
// no key, the run builds one device list, calls the class installer twice and asks for
// the system directory once per matching driver key.
const FaultCase kScrubnetFaultCases[] = {
    // NT family: driver keys 0000 and 0002 match, 0001 does not; then the devices.
    {"RegOpenKeyExA", 1, false, "i10 p10 c10 i12 p12 c12 nt"},  // the class key
    {"RegOpenKeyExA", 2, false, "i10 p10 c10"},
    {"RegOpenKeyExA", 3, false, ""},  // the key that does not match
    {"RegOpenKeyExA", 0, false, "i10 p10 c10 i12 p12 c12 nt"},
    {"RegEnumKeyA", 1, false, "i10 p10 c10 i12 p12 c12 nt"},
    {"RegEnumKeyA", 2, false, "i12 p12 c12"},
    {"RegEnumKeyA", 3, false, "i12 p12 c12"},
    {"RegEnumKeyA", 0, false, "i10 p10 c10 i12 p12 c12 nt"},
    {"RegQueryValueExA", 1, false, "i10 p10 c10"},  // the identifier of 0000
    {"RegQueryValueExA", 2, false, "i10 p10 c10"},  // its "InfPath"
    {"RegQueryValueExA", 3, false, ""},
    {"RegQueryValueExA", 0, false, "i10 p10 c10 i12 p12 c12 nt"},
    {"DeleteFileA", 1, false, "i10"},
    {"DeleteFileA", 2, false, "p10"},
    {"DeleteFileA", 3, false, "c10"},
    {"DeleteFileA", 0, false, "i10 p10 c10 i12 p12 c12 nt"},
    {"GetWindowsDirectoryA", 1, false, "i10"},
    {"GetWindowsDirectoryA", 2, false, "p10"},
    {"GetWindowsDirectoryA", 3, false, ""},  // the driver, deleted again for 0002
    {"GetWindowsDirectoryA", 0, false, "i10 p10 i12 p12 nt"},
    {"GetSystemDirectoryA", 1, false, "c10"},
    {"GetSystemDirectoryA", 2, false, "c12"},
    {"GetSystemDirectoryA", 0, false, "c10 c12"},
    {"SetupDiGetClassDevsA", 1, false, "d03 d04"},
    {"SetupDiGetClassDevsA", 0, false, "d03 d04"},
    {"SetupDiEnumDeviceInfo", 1, false, "d03 d04"},
    {"SetupDiEnumDeviceInfo", 2, false, "d04"},
    {"SetupDiEnumDeviceInfo", 3, false, "d04"},
    {"SetupDiEnumDeviceInfo", 0, false, "d03 d04"},
    {"SetupDiGetDeviceInstanceIdA", 1, false, "d03"},
    {"SetupDiGetDeviceInstanceIdA", 2, false, ""},  // the other maker's device
    {"SetupDiGetDeviceInstanceIdA", 3, false, "d04"},
    {"SetupDiGetDeviceInstanceIdA", 0, false, "d03 d04"},
    {"SetupDiCallClassInstaller", 1, false, "d03"},
    {"SetupDiCallClassInstaller", 2, false, "d04"},
    {"SetupDiCallClassInstaller", 0, false, "d03 d04"},
    // 9x family: the devices, then the driver keys (each match deletes its INF files,
    // the five fixed files and the key), then the enumeration keys.
    {"RegOpenKeyExA", 1, true, "i10 p10 c10 i12 p12 c12 9x opt oth chip net k00 k02"},
    {"RegOpenKeyExA", 2, true, "i10 p10 c10 k00"},
    {"RegOpenKeyExA", 3, true, ""},
    {"RegOpenKeyExA", 0, true, "i10 p10 c10 i12 p12 c12 9x opt oth chip net k00 k02 e03 e04"},
    {"RegEnumKeyA", 1, true, "i10 p10 c10 i12 p12 c12 9x opt oth chip net k00 k02"},
    {"RegEnumKeyA", 2, true, "i12 p12 c12 k02"},  // index 0 read again after 0000 went
    {"RegEnumKeyA", 3, true, "i12 p12 c12 k02"},
    {"RegEnumKeyA", 0, true, "i10 p10 c10 i12 p12 c12 9x opt oth chip net k00 k02 e03 e04"},
    {"RegQueryValueExA", 1, true, "i10 p10 c10 k00"},
    {"RegQueryValueExA", 2, true, "i10 p10 c10"},
    {"RegQueryValueExA", 3, true, ""},
    {"RegQueryValueExA", 0, true, "i10 p10 c10 i12 p12 c12 9x opt oth chip net k00 k02"},
    {"RegDeleteKeyA", 1, true, "k00"},
    {"RegDeleteKeyA", 2, true, "k02"},
    {"RegDeleteKeyA", 3, true, "e03"},
    {"RegDeleteKeyA", 0, true, "k00 k02 e03 e04"},
    {"DeleteFileA", 1, true, "i10"},
    {"DeleteFileA", 2, true, "p10"},
    {"DeleteFileA", 3, true, "c10"},
    {"DeleteFileA", 0, true, "i10 p10 c10 i12 p12 c12 9x opt oth chip net"},
    {"GetWindowsDirectoryA", 1, true, "i10"},
    {"GetWindowsDirectoryA", 2, true, "p10"},
    {"GetWindowsDirectoryA", 3, true, ""},  // a fixed file, deleted again for 0002
    {"GetWindowsDirectoryA", 0, true, "i10 p10 i12 p12 9x opt oth chip net"},
    {"GetSystemDirectoryA", 1, true, "c10"},
    {"GetSystemDirectoryA", 2, true, "c12"},
    {"GetSystemDirectoryA", 0, true, "c10 c12"},
    {"SetupDiGetClassDevsA", 1, true, "d03 d04"},
    {"SetupDiGetClassDevsA", 0, true, "d03 d04"},
    {"SetupDiEnumDeviceInfo", 1, true, "d03 d04"},
    {"SetupDiEnumDeviceInfo", 2, true, "d04"},
    {"SetupDiEnumDeviceInfo", 3, true, "d04"},
    {"SetupDiEnumDeviceInfo", 0, true, "d03 d04"},
    {"SetupDiGetDeviceInstanceIdA", 1, true, "d03"},
    {"SetupDiGetDeviceInstanceIdA", 2, true, ""},
    {"SetupDiGetDeviceInstanceIdA", 3, true, "d04"},
    {"SetupDiGetDeviceInstanceIdA", 0, true, "d03 d04"},
    {"SetupDiCallClassInstaller", 1, true, "d03"},
    {"SetupDiCallClassInstaller", 2, true, "d04"},
    {"SetupDiCallClassInstaller", 0, true, "d03 d04"},
};

INSTANTIATE_TEST_SUITE_P(EveryOperation, ScrubnetFaults, ::testing::ValuesIn(kScrubnetFaultCases),
                         [](const ::testing::TestParamInfo<FaultCase>& param) {
                           const FaultCase& c = param.param;
                           return std::string(c.operation) +
                                  (c.nth == 0 ? "_EveryCall" : "_Call" + std::to_string(c.nth)) +
                                  (c.nineX ? "_9x" : "_Nt");
                         });

}  // namespace
