// Every program cut short at every step: for each situation, one uninterrupted run counts
// the program's operations; then, for every k from 1 to that count and from the same
// start, the program is ended after operation k (its process terminated, or the power
// cut), run once more uninterrupted with the same command line, and the machine must be
// whole. Prints, per situation and way of ending, the kill points and those not whole.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "airtoggle/airtoggle.h"
#include "airtoggle_fixture.h"
#include "airtoggle/resource.h"
#include "guide_examples.h"
#include "pakrun/pakrun.h"
#include "pakrun_fixture.h"
#include "platform/services.h"
#include "platform/sim/snapshot.h"
#include "quitpanel/quitpanel.h"
#include "scrubnet/scrubnet.h"
#include "scrubnet_fixture.h"

namespace {

// How the end state is judged.
enum class Whole {
  // The second run ends where an uninterrupted run ends; the only other difference
  // allowed is a further copy of a process the program ends, ended too.
  kAsUninterrupted,
  // The mode switcher: every service in the state the ended run found it in, the recorded
  // mode agreeing with every supported adapter's flags, and every interface record that
  // had no flags either still without or complete.
  kSwitchConsistent,
};

struct Situation {
  const char* name;
  std::function<void(sim::Machine&)> seed;
  std::function<void(sim::Machine&)> run;  // one run with the situation's command line
  Whole whole;
};

void PrintTo(const Situation& situation, std::ostream* os) { *os << situation.name; }

// --- the mode switcher ---------------------------------------------------------------

namespace at {
using airtoggle_test::kClassKey;
using airtoggle_test::kInterfaces;
using airtoggle_test::kRecord;
using airtoggle_test::kSettings;
using airtoggle_test::kSystemDirectory;
constexpr const char* kChipsetGuid = airtoggle_test::kGuidA;
constexpr const char* kOtherGuid = airtoggle_test::kGuidC;
constexpr std::uint32_t kManaged = 0x8000u;     // bit 15: the zero-configuration service manages it
constexpr std::uint32_t kOwnerBits = 0xF000u;   // bits 12-15: clear while the vendor utility does
constexpr std::uint32_t kVendorFlags = 0x00810002u;
constexpr std::uint32_t kZeroConfigFlags = 0x00818002u;

struct Start {
  std::optional<std::uint32_t> recordedMode;
  bool zeroConfigRunning = true;
  bool interfaceRecord = true;  // false: a fresh install, no record yet
};

// A Windows XP SP2 machine with one adapter of the chipset and one other, the vendor
// utility's service and the zero-configuration service (their starts and stops pending
// for a few polls, as real ones are), and the radio library's one adapter.
void Seed(sim::Machine& m, const Start& start) {
  m.kernel.systemDirectory = kSystemDirectory;
  m.kernel.version.csd = "Service Pack 2";
  m.desktop.strings[IDR_MAINFRAME] = "Airtoggle";
  m.desktop.accelerators.insert(IDR_MAINFRAME);
  if (start.recordedMode) m.registry.SetDword(kSettings, "UseZeroConfig", *start.recordedMode);
  const std::uint32_t flags = start.recordedMode == 1u ? kZeroConfigFlags : kVendorFlags;
  struct Adapter {
    const char* subkey;
    const char* id;
    const char* guid;
  };
  for (const Adapter& a : {Adapter{"0000", "PCI\\VEN_1D4A&DEV_3890", kChipsetGuid},
                           Adapter{"0001", "PCI\\VEN_8086&DEV_1229", kOtherGuid}}) {
    const std::string key = std::string(kClassKey) + "\\" + a.subkey;
    m.registry.SetString(key, "MatchingDeviceId", a.id);
    m.registry.SetString(key, "ComponentId", a.id);
    m.registry.SetString(key, "NetCfgInstanceId", a.guid);
    if (start.interfaceRecord) {
      m.registry.SetDword(std::string(kInterfaces) + "\\" + a.guid, "ControlFlags", flags);
      m.registry.SetDword(std::string(kInterfaces) + "\\" + a.guid, "LayoutVersion", 7);
    }
  }
  sim::Service& wzc = m.services.Add("WZCSVC", start.zeroConfigRunning ? SERVICE_RUNNING : SERVICE_STOPPED);
  wzc.stopPendingPolls = 2;
  wzc.startPendingPolls = 3;
  sim::Service& kvx = m.services.Add("KVX", SERVICE_RUNNING);
  kvx.stopPendingPolls = 1;
  kvx.startPendingPolls = 2;
  m.radio.adapters.push_back(sim::RadioAdapterState{"radio0", 101, false, false, false, false});
}

Situation Switch(const char* name, const char* option, Start start) {
  return Situation{name, [start](sim::Machine& m) { Seed(m, start); },
                   [option](sim::Machine& m) {
                     m.kernel.commandLine = std::string(kSystemDirectory) + "\\Svcpilot.exe " + option;
                     AirtoggleMain(nullptr);
                     m.desktop.ProcessEnded();
                   },
                   Whole::kSwitchConsistent};
}

bool Chipset(const std::string& id) {
  return id.rfind("PCI\\VEN_1D4A", 0) == 0 || id.rfind("pci\\ven_1d4a", 0) == 0;
}

// What keeps the switch's end state from being whole, one line each.
std::vector<std::string> SwitchProblems(const sim::Machine& m, const sim::Snapshot& found) {
  std::vector<std::string> problems;
  for (const auto& [key, service] : m.services.All()) {
    const auto was = found.entries.find("service " + service.name);
    const std::string now = sim::TakeSnapshot(m).entries.at("service " + service.name);
    if (was != found.entries.end() && was->second != now)
      problems.push_back(service.name + " found " + was->second + ", left " + now);
  }
  // The run after the ended one finishes the switch and removes its record.
  if (m.registry.HasKey(kRecord))
    problems.push_back("the switch record is left");
  const std::optional<std::uint32_t> mode = m.registry.Dword(kSettings, "UseZeroConfig");
  auto classKey = m.registry.Find(kClassKey);
  for (const auto& [name, adapter] : classKey->subkeys) {
    const std::string key = std::string(kClassKey) + "\\" + name;
    const std::string guid = m.registry.String(key, "NetCfgInstanceId").value_or("");
    const std::string record = std::string(kInterfaces) + "\\" + guid;
    const std::optional<std::uint32_t> flags = m.registry.Dword(record, "ControlFlags");
    if (flags && !m.registry.Dword(record, "LayoutVersion"))
      problems.push_back(guid + ": \"ControlFlags\" without \"LayoutVersion\"");
    if (!Chipset(m.registry.String(key, "MatchingDeviceId").value_or(""))) continue;
    if (!flags) {
      problems.push_back(guid + ": a supported adapter without \"ControlFlags\"");
      continue;
    }
    char text[120];
    if (mode == 1u && (*flags & kManaged) == 0) {
      std::snprintf(text, sizeof text, "mode 1 recorded, flags 0x%08X without bit 15", *flags);
      problems.push_back(text);
    } else if (mode == 0u && (*flags & kOwnerBits) != 0) {
      std::snprintf(text, sizeof text, "mode 0 recorded, flags 0x%08X with bits 12-15", *flags);
      problems.push_back(text);
    } else if (mode != 0u && mode != 1u) {
      problems.push_back("no recorded mode 0 or 1");
    }
  }
  return problems;
}

}  // namespace at

// --- the setup runner: the guide's machine lines and settings --------------------------

Situation Setup(const char* name, std::string machineBlock, std::string settings, std::string script) {
  auto command = std::make_shared<std::string>();
  return Situation{
      name,
      [=](sim::Machine& m) {
        m.kernel.environment["TEMP"] = "C:\\TEMP";
        m.kernel.environment["SystemRoot"] = "C:\\WINDOWS";
        m.files.AddDirectory("C:\\TEMP");
        m.files.AddDirectory("C:\\WINDOWS\\System32");
        *command = guide::SeedMachine(m, machineBlock);
        const std::string program = m.kernel.self.modulePath;
        const std::string stem = program.substr(0, program.rfind('.'));
        m.files.Put(stem + ".ini", guide::WithCrlf(settings));
        if (!script.empty()) m.files.Put(stem + ".reg", guide::WithCrlf(script));
        m.programs.Add(kInstallerPath, sim::InfInstaller());
        m.programs.Add(m.kernel.windowsDirectory + "\\regedit.exe", sim::RegistryEditor());
      },
      [command](sim::Machine&) { PakrunMain(command->c_str()); }, Whole::kAsUninterrupted};
}

// Every step on, on Windows XP: a stale device removed, the cached INF files renamed, the
// setup program, the re-enumeration that brings the new adapter, the static INF, the
// script and the adapter's own section.
Situation SetupEveryStep() {
  const std::string kDev0301 = "PCI\\VEN_1D4A&DEV_0301&SUBSYS_00011D4A";
  const std::string kDev0302 = "PCI\\VEN_1D4A&DEV_0302&SUBSYS_00021D4A";
  const std::string kClass = "{4D36E972-E325-11CE-BFC1-08002BE10318}";
  return Setup(
      "PakrunEveryStepXp",
      "program C:\\Drivers\\WLAN\\Pakrun.exe\n"
      "command \"C:\\Drivers\\WLAN\\Pakrun.exe\" /quiet\n"
      "windows XP\n"
      "file    C:\\Drivers\\WLAN\\Setup.exe\n"
      "file    C:\\WINDOWS\\Driver Cache\\tq3p81.inf\n"
      "file    C:\\WINDOWS\\Driver Cache\\tq3p8.inf\n"
      "device  absent  " + kDev0301 + "\\4&1F3C2B0&0&0008 " + kDev0301 + " " + kClass + "\\0004\n"
      "device  appears " + kDev0302 + "\\4&1F3C2B0&0&00E1 " + kDev0302 + " " + kClass + "\\0009\n",
      "[PARAMS]\nSWAPCMD=0\nCLEANUP=1\nRENAME=1\nREFRESH=1\nSTATICREG=1\nSTATICREGFROMFILE=1\nDRIVERREG=1\n\n"
      "[CLEANUP]\nCLEANCOUNT=1\nDEV1=" + kDev0301 + "\n\n"
      "[REFRESH]\nDETECTCOUNT=1\nDETECTDEV1=" + kDev0302 + "\n\n"
      "[STATICREG]\nADDREG=2\n"
      "ADDREG1_ROOT=HKLM\nADDREG1_SUBKEY=SOFTWARE\\Korvell\\Linkdesk\\Settings\nADDREG1_ENTRYNAME=UseZeroConfig\n"
      "ADDREG1_FLAGS=0x00010001\nADDREG1_VALUE=0\n"
      "ADDREG2_ROOT=HKLM\nADDREG2_SUBKEY=SOFTWARE\\Korvell\\Linkdesk\nADDREG2_ENTRYNAME=InstallDir\n"
      "ADDREG2_FLAGS=0\nADDREG2_VALUE=\"\"C:\\Program Files\\Korvell\\Linkdesk\"\"\n"
      "DELREG=1\nDELREG1_ROOT=HKLM\nDELREG1_SUBKEY=SOFTWARE\\Korvell\\Linkdesk\\Settings\nDELREG1_ENTRYNAME=LastProfile\n\n"
      "[DRIVERREG]\nNIC=1\nDEV1=" + kDev0302 + "\n\n"
      "[DRIVERREG_" + kDev0302 + "_XP]\nADDREG=2\n"
      "ADDREG1_ENTRYNAME=PowerSaveMode\nADDREG1_FLAGS=0\nADDREG1_VALUE=0\n"
      "ADDREG2_ENTRYNAME=RadioEnable\nADDREG2_FLAGS=0x00010001\nADDREG2_VALUE=1\n"
      "DELREG=1\nDELREG1_ENTRYNAME=ScanTimeout\n",
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Korvell\\Linkdesk\\Settings]\n\"AutoStart\"=dword:00000001\n");
}

// The guide's example 3, on Windows 2000, as the guide gives it.
Situation SetupGuideExample3() {
  for (const guide::Example& example : guide::ReadGuide()) {
    if (example.name == "example-3")
      return Setup("PakrunGuideExample3Win2000", example.Part("machine"), example.Part("Pakrun.ini"),
                   example.Part("Pakrun.reg"));
  }
  ADD_FAILURE() << "the guide has no example-3";
  return Situation{"PakrunGuideExample3Missing", [](sim::Machine&) {}, [](sim::Machine&) {},
                   Whole::kAsUninterrupted};
}

// --- the driver remover --------------------------------------------------------------

const std::string kChipsetA = "PCI\\VEN_1D4A&DEV_7403&SUBSYS_00011D4A&REV_01\\4&2A5F3C1E&0&20F0";
const std::string kChipsetB = "PCI\\VEN_1D4A&DEV_7404&SUBSYS_00011D4A&REV_01\\4&2A5F3C1E&0&28F0";
const std::string kOtherNic = "PCI\\VEN_8086&DEV_1229&SUBSYS_00018086&REV_08\\3&61AAA01&0&40";

// Two adapters of the chipset and another network adapter, with their driver keys, their
// installed INF, PNF and CAT files, every fixed-name copy and the enumeration keys.
void SeedRemover(sim::Machine& m, bool nineX) {
  m.kernel.version = nineX ? sim::VersionInfo{4, 10, 2222, VER_PLATFORM_WIN32_WINDOWS, " A "}
                           : sim::VersionInfo{5, 1, 2600, VER_PLATFORM_WIN32_NT, "Service Pack 3"};
  const std::string w = m.kernel.windowsDirectory;
  const std::string s = m.kernel.systemDirectory;
  struct Key {
    const char* sub;
    const char* id;
    const char* inf;
  };
  for (const Key& k : {Key{"0000", "PCI\\VEN_1D4A&DEV_7403&SUBSYS_00011D4A", "oem12.inf"},
                       Key{"0001", "PCI\\VEN_8086&DEV_1229", "oem13.inf"},
                       Key{"0002", "pci\\ven_1d4a&dev_7404", "oem14.inf"}}) {
    const std::string path = std::string(nineX ? k9xClassKey : kNtClassKey) + "\\" + k.sub;
    m.registry.SetString(path, nineX ? "MatchingDeviceId" : "ComponentId", k.id);
    m.registry.SetString(path, "InfPath", k.inf);
    m.registry.SetString(path + "\\Ndi", "Service", "KV7403");
    const std::string base = std::string(k.inf).substr(0, 5);
    for (const std::string& file : {w + "\\inf\\" + base + ".inf", w + "\\inf\\" + base + ".PNF",
                                    s + kCatRoot + base + ".CAT"})
      m.files.Put(file, "x");
  }
  for (const std::string& file :
       {w + "\\system32\\drivers\\kv7403.sys", w + "\\system32\\drivers\\kv74039x.sys",
        w + "\\OPTIONS\\INSTALL\\kv74039x.sys", w + "\\inf\\other\\KorvellNET7403.inf",
        w + "\\inf\\net7403.inf", w + "\\inf\\internet\\KorvellNET7403.inf"})
    m.files.Put(file, "x");
  for (const std::string& device : {kChipsetA, kChipsetB, kOtherNic})
    m.devices.Add(device, {device.substr(0, device.rfind('\\'))});
  for (const char* name : {"VEN_1D4A&DEV_7403&SUBSYS_00011D4A&REV_01", "VEN_1D4A&DEV_7404&SUBSYS_00011D4A&REV_01",
                           "VEN_8086&DEV_1229&SUBSYS_00018086&REV_08"})
    m.registry.SetString(std::string(kEnumPciKey) + "\\" + name + "\\3&13c0b0c5&0&40", "Driver", "Net\\0000");
}

Situation Remover(const char* name, bool nineX) {
  return Situation{name, [nineX](sim::Machine& m) { SeedRemover(m, nineX); },
                   [](sim::Machine&) { ScrubnetMain(); }, Whole::kAsUninterrupted};
}

// --- the utility closer --------------------------------------------------------------

// The utility and the switcher among other processes, once per logged-on session.
Situation Closer(const char* name, int sessions, bool nineX) {
  return Situation{
      name,
      [=](sim::Machine& m) {
        if (nineX) m.kernel.version = sim::VersionInfo{4, 10, 2222, VER_PLATFORM_WIN32_WINDOWS, " A "};
        for (int session = 0; session < sessions; ++session) {
          for (const char* exe : {"explorer.exe", "Linkdesk.exe", "svchost.exe", "Svcpilot.exe"})
            m.kernel.AddProcess(nineX ? sim::Upper(exe) : std::string(exe));
        }
      },
      [](sim::Machine&) { QuitpanelMain(); }, Whole::kAsUninterrupted};
}

// A further copy of what the closer ends, ended by the second run: harmless extra cleanup.
bool ExtraCleanup(const std::string& difference) {
  if (difference.rfind("- process ", 0) != 0) return false;
  const std::string exe = difference.substr(difference.find(' ', 10) + 1);
  return sim::SameText(exe, "Linkdesk.exe = running") || sim::SameText(exe, "Svcpilot.exe = running");
}

std::vector<Situation> Situations() {
  using at::Start;
  using at::Switch;
  return {
      Switch("SvcpilotInstallerFrom0", "-installer", Start{0u}),
      Switch("SvcpilotInstallerFrom1", "-installer", Start{1u}),
      Switch("SvcpilotInstallerZeroConfigStopped", "-installer", Start{0u, false}),
      Switch("SvcpilotInstallerFreshInstall", "-installer", Start{0u, true, false}),
      Switch("SvcpilotEnableLinkdeskFrom1", "-EnableLinkdesk", Start{1u}),
      Switch("SvcpilotAirtoggleFrom0", "-Airtoggle", Start{0u}),
      Switch("SvcpilotAirtoggleFrom1", "-Airtoggle", Start{1u}),
      Switch("SvcpilotWzcFrom0", "-WZC", Start{0u}),
      Switch("SvcpilotLinkdesk", "-Linkdesk", Start{0u}),
      SetupEveryStep(),
      SetupGuideExample3(),
      Remover("ScrubnetXp", false),
      Remover("Scrubnet98", true),
      Closer("QuitpanelXpOneSession", 1, false),
      Closer("QuitpanelXpTwoSessions", 2, false),
      Closer("Quitpanel98", 1, true),
  };
}

class KillSweep : public ::testing::TestWithParam<Situation> {
 protected:
  // Problems of the machine's end state: lines of the differences that are not allowed,
  // or of the switch's rules; and anything left open.
  static std::vector<std::string> Problems(const Situation& situation, const sim::Machine& m,
                                           const sim::Snapshot& found, const sim::Snapshot& uninterrupted) {
    std::vector<std::string> problems;
    if (situation.whole == Whole::kSwitchConsistent) {
      problems = at::SwitchProblems(m, found);
    } else {
      for (const std::string& difference : sim::Differences(uninterrupted, sim::TakeSnapshot(m))) {
        if (!ExtraCleanup(difference)) problems.push_back(difference);
      }
    }
    std::string report;
    if (!m.Clean(&report)) problems.push_back(report);
    return problems;
  }
};

TEST_P(KillSweep, EveryKillPointLeavesTheMachineWhole) {
  const Situation& situation = GetParam();
  int operations = 0;
  sim::Snapshot uninterrupted;
  {
    sim::Machine m;
    situation.seed(m);
    const sim::Snapshot found = sim::TakeSnapshot(m);
    situation.run(m);
    operations = m.ProgramOperations();
    uninterrupted = sim::TakeSnapshot(m);
    // The uninterrupted run itself is whole.
    const std::vector<std::string> problems = Problems(situation, m, found, uninterrupted);
    EXPECT_TRUE(problems.empty()) << problems.front();
  }
  ASSERT_GT(operations, 1);

  for (const sim::Ending how : {sim::Ending::kEnded, sim::Ending::kPowerCut}) {
    const char* model = how == sim::Ending::kEnded ? "ended" : "power cut";
    int notWhole = 0;
    int cut = 0;
    std::string first;
    for (int k = 1; k <= operations; ++k) {
      sim::Machine m;
      situation.seed(m);
      const sim::Snapshot found = sim::TakeSnapshot(m);
      cut += m.RunEndedAfter(k, how, [&] { situation.run(m); }) ? 1 : 0;
      situation.run(m);
      const std::vector<std::string> problems = Problems(situation, m, found, uninterrupted);
      if (problems.empty()) continue;
      ++notWhole;
      if (first.empty()) {
        first = "first at k = " + std::to_string(k) + ":";
        for (const std::string& problem : problems) first += "\n  " + problem;
      }
    }
    std::printf("[ sweep    ] %s, %s: %d kill points, %d not whole\n", situation.name, model, operations,
                notWhole);
    // Every kill point but the last cuts the run short: the count is the program's own.
    EXPECT_EQ(operations - 1, cut) << model;
    EXPECT_EQ(0, notWhole) << model << ", " << first;
  }
}

INSTANTIATE_TEST_SUITE_P(Programs, KillSweep, ::testing::ValuesIn(Situations()),
                         [](const ::testing::TestParamInfo<Situation>& param) { return std::string(param.param.name); });

}  // namespace
