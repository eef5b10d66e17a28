// Pakrun's settings file. The first input byte sets up the machine (Windows version,
// program folder, registry script, command tail, and whether TEMP, SystemRoot or the
// instance mutex get in the way); the rest is Pakrun.ini beside Pakrun.exe. After the
// whole run, the outcome is checked against what the settings file says, read back
// through the same profile functions on the same machine:
//   - every INF handed to the installer holds exactly the rows of the entries read (an
//     entry with a field that fills its buffer is left out, and the driver variant leaves
//     out delete rows without a value name), in order, and every
//     INF that should have been written was;
//   - the programs started are exactly those the run sequence composes, in its order;
//   - only absent devices carrying a CLEANUP ID are removed; the tree is re-enumerated
//     only when no DETECTDEV ID is present;
//   - every list is read to at most kMaxListEntries entries;
//   - nothing stays open, no INF stays in TEMP.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "pakrun/pakrun.h"
#include "pakrun/settings.h"
#include "platform/profile.h"
#include "platform/programs.h"
#include "platform/sim/standins/standins.h"

namespace {

constexpr char kGuid[] = "{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr char kClassRoot[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
constexpr char kTemp[] = "C:\\TEMP";
constexpr char kWindows[] = "C:\\WINDOWS";
constexpr char kInstaller[] = "C:\\WINDOWS\\System32\\rundll32.exe";
constexpr char kStaticInf[] = "C:\\TEMP\\StaticAddDel.inf";
constexpr char kDriverInf[] = "C:\\TEMP\\DriverAddDel.inf";
constexpr char kCached81[] = "C:\\WINDOWS\\Driver Cache\\tq3p81.inf";
constexpr char kCached8[] = "C:\\WINDOWS\\Driver Cache\\tq3p8.inf";
constexpr char kTail[] = "/S /v\"/qn REBOOT=R\"";
constexpr unsigned kFieldCapacity = 260;  // each INF field as the program reads it
constexpr unsigned kIdCapacity = 1024;    // a device ID of a list entry
constexpr unsigned kPathCapacity = 260;   // MAX_PATH
constexpr unsigned kLineCapacity = 1024;  // a command line, as the start takes it

struct Version {
  DWORD major, minor, build, platform;
  const char* csd;
  const char* suffix;
};
constexpr Version kVersions[] = {
    {4, 10, 2222, VER_PLATFORM_WIN32_WINDOWS, " A ", "_ELSE"},
    {5, 0, 2195, VER_PLATFORM_WIN32_NT, "Service Pack 4", "_2000"},
    {5, 1, 2600, VER_PLATFORM_WIN32_NT, "Service Pack 3", "_XP"},
    {5, 2, 3790, VER_PLATFORM_WIN32_NT, "Service Pack 2", "_2003"},
    {6, 0, 6002, VER_PLATFORM_WIN32_NT, "Service Pack 2", "_ELSE"},
    {5, 1, 2600, VER_PLATFORM_WIN32_NT, "Service Pack 2", "_XP"},
    {5, 0, 2195, VER_PLATFORM_WIN32_NT, "", "_2000"},
    {4, 90, 3000, VER_PLATFORM_WIN32_WINDOWS, " ", "_ELSE"},
};

// What stands in the way of the run (the top two bits of the first byte).
enum class Obstacle { kMutexHeld, kNone, kNoTemp, kNoSystemRoot };

struct Setup {
  const Version* version;
  std::string directory;  // Pakrun.exe's folder
  bool script;
  bool tail;
  Obstacle obstacle;
};

Setup Decode(std::uint8_t header) {
  Setup setup;
  setup.version = &kVersions[header & 7u];
  setup.directory = (header & 8u) != 0 ? "C:\\Program Files\\Vendor Setup" : "C:\\Setup";
  setup.script = (header & 16u) != 0;
  setup.tail = (header & 32u) != 0;
  setup.obstacle = static_cast<Obstacle>(header >> 6);
  return setup;
}

// A-Z and a-z alike, every other byte exact: the driver list's match rule.
bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    if (up(a[i]) != up(b[i])) return false;
  }
  return true;
}

// Whether one of the device's hardware IDs (each ended by a zero, up to the first empty
// one) is `id`; the list is looked at in place, as this runs thousands of times a run.
bool Carries(const sim::Device& device, const std::string& id, bool ignoreCase) {
  const std::vector<unsigned char>& bytes = *device.hardwareIds;
  const char* text = reinterpret_cast<const char*>(bytes.data());
  for (std::size_t at = 0, i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != 0) continue;
    if (i == at) break;
    const std::string_view own(text + at, i - at);
    if (ignoreCase ? SameLetters(own, id) : own == id) return true;
    at = i + 1;
  }
  return false;
}

// Reads the settings file the way the documented rules say, through the machine's own
// profile functions.
class Settings {
 public:
  explicit Settings(std::string path) : path_(std::move(path)) {}

  unsigned Int(const char* section, const char* key) const {
    return GetPrivateProfileIntA(section, key, 0, path_.c_str());
  }
  // A count: 0 when written negative, held to kMaxListEntries.
  unsigned Count(const char* section, const char* key) const {
    unsigned count = Int(section, key);
    if (count > static_cast<unsigned>(INT_MAX)) return 0;
    return std::min(count, kMaxListEntries);
  }
  bool Switch(const char* key) const { return Int("PARAMS", key) == 1; }
  // The text read into a buffer of `capacity` (at most kIdCapacity) and its reported
  // length. The buffer is on the stack: a run reads thousands of fields.
  std::string Text(const char* section, const char* key, const char* fallback,
                   unsigned capacity, DWORD* length = nullptr) const {
    char buffer[kIdCapacity] = {};
    if (capacity > sizeof buffer) fuzz::Violated("a read of %u bytes", capacity);
    DWORD read =
        GetPrivateProfileStringA(section, key, fallback, buffer, capacity, path_.c_str());
    if (length != nullptr) *length = read;
    return std::string(buffer);
  }
  // Entry `n` of a list: the key `prefix`<n>`suffix`, made without printf or the heap
  // (a run names thousands of keys).
  struct Key {
    Key(const char* prefix, unsigned n, const char* suffix = "") {
      char digits[12];
      std::size_t count = 0;
      do {
        digits[count++] = static_cast<char>('0' + n % 10);
        n /= 10;
      } while (n != 0);
      std::size_t at = 0;
      auto put = [&](char c) {
        if (at + 1 >= sizeof text) fuzz::Violated("a key longer than %zu bytes", sizeof text);
        text[at++] = c;
      };
      for (const char* c = prefix; *c != '\0'; ++c) put(*c);
      while (count > 0) put(digits[--count]);
      for (const char* c = suffix; *c != '\0'; ++c) put(*c);
      text[at] = '\0';
    }
    const char* c_str() const { return text; }
    char text[64];
  };
  // A list entry's device ID; none when it fills the whole buffer (it may have been cut).
  std::optional<std::string> DeviceId(const char* section, const char* prefix, unsigned n,
                                      const char* fallback) const {
    DWORD length = 0;
    std::string id = Text(section, Key(prefix, n).c_str(), fallback, kIdCapacity, &length);
    if (length >= kIdCapacity - 1) return std::nullopt;
    return id;
  }

  // The INF that ApplyStaticAddDel (no class key) or ApplyDriverAddDel writes for
  // `section`, in the bytes the text-mode stream stores; none when both counts are 0.
  std::optional<std::string> Inf(const std::string& sectionName,
                                 const std::string& classKey) const {
    const char* section = sectionName.c_str();
    unsigned adds = Count(section, "ADDREG");
    unsigned deletes = Count(section, "DELREG");
    if (adds == 0 && deletes == 0) return std::nullopt;
    const bool driver = !classKey.empty();
    // An entry with a field longer than its buffer holds (read into one byte more, so that
    // a cut shows) is left out; the entries around it stay.
    bool whole = true;
    auto field = [&](const char* prefix, unsigned n, const char* suffix) {
      DWORD length = 0;
      std::string text =
          Text(section, Key(prefix, n, suffix).c_str(), "", kFieldCapacity + 1, &length);
      whole = whole && length < kFieldCapacity;
      return text;
    };
    std::string inf = "[Version]\r\nsignature=\"$CHICAGO$\"\r\n\r\n[DefaultInstall]\r\n";
    if (adds > 0) inf += "AddReg = Add.reg\r\n";
    if (deletes > 0) inf += "DelReg = Del.reg\r\n";
    if (adds > 0) {
      inf += "\r\n[Add.reg]\r\n";
      for (unsigned n = 1; n <= adds; ++n) {
        whole = true;
        std::string root = driver ? "HKLM" : field("ADDREG", n, "_ROOT");
        std::string subkey = driver ? classKey : field("ADDREG", n, "_SUBKEY");
        std::string name = field("ADDREG", n, "_ENTRYNAME");
        std::string flags = field("ADDREG", n, "_FLAGS");
        std::string value = field("ADDREG", n, "_VALUE");
        if (!whole) continue;
        inf.append(root).append(", \"").append(subkey).append("\",\"").append(name);
        inf.append("\",").append(flags).append(",").append(value).append("\r\n");
      }
    }
    if (deletes > 0) {
      inf += "\r\n[Del.reg]\r\n";
      for (unsigned n = 1; n <= deletes; ++n) {
        whole = true;
        std::string root = driver ? "HKLM" : field("DELREG", n, "_ROOT");
        std::string subkey = driver ? classKey : field("DELREG", n, "_SUBKEY");
        std::string name = field("DELREG", n, "_ENTRYNAME");
        if (!whole) continue;
        // A driver-key delete row without a value name would delete the whole key.
        if (driver && name.empty()) continue;
        inf.append(root).append(", \"").append(subkey).append("\",\"").append(name);
        inf.append("\"\r\n");
      }
    }
    return inf;
  }

 private:
  std::string path_;
};

struct Installed {
  std::string path;
  std::string text;
};

struct Counts {
  int strings, ints, classDevs, classDevsEx, starts;
};

Counts CountsOf(const sim::Machine& m) {
  return Counts{m.Calls("GetPrivateProfileStringA"), m.Calls("GetPrivateProfileIntA"),
                m.Calls("SetupDiGetClassDevsA"), m.Calls("SetupDiGetClassDevsExA"),
                static_cast<int>(m.programs.started.size())};
}

void SeedDevices(sim::Machine& m) {
  const std::string guid = kGuid;
  sim::Device& adapter =
      m.devices.Add("PCI\\VEN_1D4A&DEV_0302\\4&1A2B&0&00E1",
                    {"PCI\\VEN_1D4A&DEV_0302&SUBSYS_00011D4A", "PCI\\VEN_1D4A&DEV_0302"});
  adapter.driver = guid + "\\0003";
  sim::Device& stale =
      m.devices.Add("PCI\\VEN_1D4A&DEV_0301\\3&0&0", {"PCI\\VEN_1D4A&DEV_0301"}, false);
  stale.driver = guid + "\\0001";
  sim::Device& other =
      m.devices.Add("PCI\\VEN_8086&DEV_1229\\3&1&0", {"PCI\\VEN_8086&DEV_1229", "PCI\\VEN_8086"});
  other.driver = guid + "\\0000";
  m.devices.Add("USB\\VID_1D4A&PID_0001\\1", {"USB\\VID_1D4A&PID_0001"});  // no driver
  sim::Device& late =
      m.devices.Add("PCI\\VEN_1D4A&DEV_0303\\NEW", {"PCI\\VEN_1D4A&DEV_0303"}, false);
  late.appearsOnReenumerate = true;
  late.driver = guid + "\\0004";
  sim::Device& second =
      m.devices.Add("PCI\\VEN_1D4A&DEV_0302\\4&1A2B&0&00E2", {"PCI\\VEN_1D4A&DEV_0302"});
  second.driver = guid + "\\0005";
}

std::string FirstToken(const std::string& line) {
  if (!line.empty() && line[0] == '"') return line.substr(1, line.find('"', 1) - 1);
  return line.substr(0, line.find(' '));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const Setup setup = Decode(data[0]);
  const std::string settingsText(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string program = setup.directory + "\\Pakrun.exe";
  const std::string settingsPath = setup.directory + "\\Pakrun.ini";
  const std::string scriptPath = setup.directory + "\\Pakrun.reg";

  sim::Machine m;
  m.kernel.version =
      sim::VersionInfo{setup.version->major, setup.version->minor, setup.version->build,
                       setup.version->platform, setup.version->csd};
  m.kernel.self.modulePath = program;
  if (setup.obstacle != Obstacle::kNoTemp) m.kernel.environment["TEMP"] = kTemp;
  if (setup.obstacle != Obstacle::kNoSystemRoot) m.kernel.environment["SystemRoot"] = kWindows;
  if (setup.obstacle == Obstacle::kMutexHeld)
    m.kernel.self.mutexesHeldElsewhere.insert("Pakrun.exe");
  m.files.AddDirectory(kTemp);
  m.files.AddDirectory("C:\\WINDOWS\\System32");
  m.files.Put(settingsPath, settingsText);
  m.files.Put(kCached81, "81");
  m.files.Put(kCached8, "8");
  if (setup.script)
    m.files.Put(scriptPath,
                "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\r\n\"Script\"=\"1\"\r\n");
  SeedDevices(m);
  std::vector<bool> presentAtStart;
  for (const sim::Device& device : m.devices.devices) presentAtStart.push_back(device.present);

  std::vector<Installed> installed;
  m.programs.Add(kInstaller, [&installed](sim::Machine& machine, const std::string& line) {
    std::string path = line.substr(line.rfind(' ') + 1);
    auto text = machine.files.Read(path);
    FUZZ_CHECK(text.has_value(), "the installer was given %s, which does not exist", path.c_str());
    installed.push_back(Installed{path, *text});
    return sim::InfInstaller()(machine, line);
  });
  m.programs.Add("regedit", sim::RegistryEditor());

  // The setup program the settings name; read before the run, so the counts of the run's
  // own reads start after these.
  Settings settings(settingsPath);
  const bool swap = settings.Switch("SWAPCMD");
  DWORD exeLength = 0;
  DWORD iniLength = 0;
  const std::string cmdExe =
      settings.Text("PARAMS", "CMDEXE", "Netprep.exe", kPathCapacity, &exeLength);
  const std::string cmdIni =
      settings.Text("PARAMS", "CMDINI", "Netprep.ini", kPathCapacity, &iniLength);
  const std::string setupPath = setup.directory + "\\" + (swap ? cmdExe : std::string("Setup.exe"));
  int setupRuns = 0;
  m.programs.Add(setupPath, [&setupRuns](sim::Machine&, const std::string&) {
    ++setupRuns;
    return 0u;
  });
  const Counts before = CountsOf(m);

  const std::string commandLine =
      "\"" + program + "\"" + (setup.tail ? std::string(" ") + kTail : "");
  PakrunMain(commandLine.c_str());

  const Counts after = CountsOf(m);
  fuzz::ExpectClean(m);

  // --- bounded work: every list read to kMaxListEntries at most -------------------------
  const long bound = kMaxListEntries;
  const long driverApplications = after.classDevsEx - before.classDevsEx;
  FUZZ_CHECK(driverApplications <= bound, "%ld driver-key applications", driverApplications);
  const long stringReads = after.strings - before.strings;
  // CMDEXE and CMDINI; CLEANUP, REFRESH and DRIVERREG entries; eight fields per static
  // entry and at most six per entry of each driver section applied.
  const long stringBound = 2 + 3 * bound + 8 * bound + 6 * bound * driverApplications;
  FUZZ_CHECK(stringReads <= stringBound, "%ld profile texts read (at most %ld)", stringReads,
             stringBound);
  const long classDevs = after.classDevs - before.classDevs;
  FUZZ_CHECK(classDevs <= 3 * bound, "%ld device lists built", classDevs);
  FUZZ_CHECK(after.starts - before.starts <= 3 + bound, "%d programs started",
             after.starts - before.starts);

  // --- the outcome the settings call for ------------------------------------------------
  std::vector<std::string> expectedStarts;
  std::vector<std::string> expectedInfs;
  std::vector<std::string> expectedRemovals;
  int expectedReenumerations = 0;
  int expectedSetupRuns = 0;
  const bool runs = setup.obstacle != Obstacle::kMutexHeld;
  const bool haveTemp = setup.obstacle != Obstacle::kNoTemp;
  const bool haveSystemRoot = setup.obstacle != Obstacle::kNoSystemRoot;
  const std::string suffix = setup.version->suffix;
  std::vector<bool> removed(m.devices.devices.size(), false);

  if (runs) {
    // Clean-up: an ID no present device carries removes the first device that does.
    if (settings.Switch("CLEANUP")) {
      const unsigned count = settings.Count("CLEANUP", "CLEANCOUNT");
      for (unsigned n = 1; n <= count; ++n) {
        auto id = settings.DeviceId("CLEANUP", "DEV", n, "");
        if (!id) continue;
        bool present = false;
        for (std::size_t d = 0; d < removed.size(); ++d) {
          const sim::Device& device = m.devices.devices[d];
          present = present || (!removed[d] && presentAtStart[d] && Carries(device, *id, false));
        }
        if (present) continue;
        for (std::size_t d = 0; d < removed.size(); ++d) {
          if (!removed[d] && Carries(m.devices.devices[d], *id, false)) {
            removed[d] = true;
            expectedRemovals.push_back(m.devices.devices[d].instanceId);
            break;
          }
        }
      }
    }

    // The setup program's line.
    std::string setupLine;
    bool composed = false;
    std::string tail = setup.tail ? std::string(" ") + kTail : "";
    if (!swap) {
      setupLine = "\"" + setupPath + "\"" + tail;
      composed = setupPath.size() < kPathCapacity && setupLine.size() < kLineCapacity;
    } else if (exeLength < kPathCapacity - 1 && iniLength < kPathCapacity - 1) {
      auto shortForm = m.files.ShortPathOf(setup.directory);
      bool missing = !shortForm || shortForm->size() >= kPathCapacity;
      std::string shortDirectory = missing ? setup.directory : *shortForm;
      std::string iniPath = shortDirectory + "\\" + cmdIni;
      std::string quote =
          missing && shortDirectory.find_first_of(" \t") != std::string::npos ? "\"" : "";
      setupLine = "\"" + setupPath + "\" /INI " + quote + iniPath + quote + tail;
      composed = setupPath.size() < kPathCapacity && iniPath.size() < kPathCapacity &&
                 setupLine.size() < kLineCapacity;
    }
    // A setup path with a quote in it names some other program, which is started only
    // when the machine has one of that name.
    if (composed && m.programs.Resolve(FirstToken(setupLine)) != nullptr) {
      expectedStarts.push_back(setupLine);
      if (FirstToken(setupLine) == setupPath) expectedSetupRuns = 1;
    }

    // Detection: the tree is enumerated again when no listed ID is present.
    if (settings.Switch("REFRESH")) {
      bool found = false;
      const unsigned count = settings.Count("REFRESH", "DETECTCOUNT");
      for (unsigned n = 1; n <= count; ++n) {
        auto id = settings.DeviceId("REFRESH", "DETECTDEV", n, "");
        if (!id) continue;
        for (std::size_t d = 0; d < removed.size(); ++d) {
          const sim::Device& device = m.devices.devices[d];
          found = found || (!removed[d] && presentAtStart[d] && Carries(device, *id, false));
        }
      }
      if (!found) expectedReenumerations = 1;
    }

    const std::string installerLine =
        std::string(kInstaller) + " setupapi,InstallHinfSection DefaultInstall 132 ";
    if (settings.Switch("STATICREG") && haveTemp) {
      if (auto inf = settings.Inf("STATICREG", "")) {
        if (haveSystemRoot) {
          expectedStarts.push_back(installerLine + kStaticInf);
          expectedInfs.push_back(*inf);
        }
      }
    }
    if (settings.Switch("STATICREGFROMFILE"))
      expectedStarts.push_back("regedit /s \"" + scriptPath + "\"");

    // Driver keys: each entry applies its section to the first present device carrying
    // the ID, letter case ignored.
    if (settings.Switch("DRIVERREG")) {
      std::map<std::string, std::optional<std::string>> infs;  // by section and class key
      const unsigned count = settings.Count("DRIVERREG", "NIC");
      for (unsigned n = 1; n <= count; ++n) {
        auto id = settings.DeviceId("DRIVERREG", "DEV", n, "DEFAULT_ID");
        if (!id) continue;
        std::string section = "DRIVERREG_" + *id + suffix;
        if (section.size() >= kIdCapacity) continue;
        const sim::Device* target = nullptr;
        for (std::size_t d = 0; d < removed.size() && target == nullptr; ++d) {
          const sim::Device& device = m.devices.devices[d];
          bool presentNow =
              !removed[d] &&
              (presentAtStart[d] || (device.appearsOnReenumerate && expectedReenumerations == 1));
          if (presentNow && Carries(device, *id, true)) target = &device;
        }
        if (target == nullptr || !target->driver || target->driver->empty()) continue;
        std::string classKey = kClassRoot + *target->driver;
        if (classKey.size() >= kPathCapacity || !haveTemp) continue;
        auto cached = infs.find(section + '\n' + classKey);
        if (cached == infs.end())
          cached = infs.emplace(section + '\n' + classKey, settings.Inf(section, classKey)).first;
        if (!cached->second || !haveSystemRoot) continue;
        expectedStarts.push_back(installerLine + kDriverInf);
        expectedInfs.push_back(*cached->second);
      }
    }
  }

  // --- compare ------------------------------------------------------------------------
  for (const sim::ProgramStart& start : m.programs.started)
    FUZZ_TRACE("started %s", fuzz::Shown(start.commandLine).c_str());
  for (const Installed& inf : installed)
    FUZZ_TRACE("INF %s\n%s", inf.path.c_str(), inf.text.c_str());
  FUZZ_TRACE("removed %zu, re-enumerated %d", expectedRemovals.size(), m.devices.reenumerations);
  for (const sim::ProgramStart& start : m.programs.started) {
    FUZZ_CHECK(!start.inheritHandles && start.creationFlags == 0 && !start.environmentGiven &&
                   !start.currentDirectoryGiven && start.startupInfoZeroed &&
                   start.startupInfoSize == sizeof(STARTUPINFOA),
               "%s started with more than a zeroed STARTUPINFOA", start.commandLine.c_str());
  }
  FUZZ_CHECK(m.programs.started.size() == expectedStarts.size(),
             "%zu programs started, %zu expected (first expected: %s)", m.programs.started.size(),
             expectedStarts.size(),
             expectedStarts.empty() ? "-" : fuzz::Shown(expectedStarts[0]).c_str());
  for (std::size_t i = 0; i < expectedStarts.size(); ++i) {
    FUZZ_CHECK(m.programs.started[i].commandLine == expectedStarts[i],
               "start %zu was\n  %s\nexpected\n  %s", i,
               fuzz::Shown(m.programs.started[i].commandLine).c_str(),
               fuzz::Shown(expectedStarts[i]).c_str());
  }
  FUZZ_CHECK(setupRuns == expectedSetupRuns, "the setup program ran %d times", setupRuns);
  FUZZ_CHECK(installed.size() == expectedInfs.size(), "%zu INF files installed, %zu expected",
             installed.size(), expectedInfs.size());
  for (std::size_t i = 0; i < expectedInfs.size(); ++i) {
    FUZZ_CHECK(installed[i].text == expectedInfs[i], "INF %zu (%s) holds\n%s\nexpected\n%s", i,
               installed[i].path.c_str(), fuzz::Shown(installed[i].text).c_str(),
               fuzz::Shown(expectedInfs[i]).c_str());
  }

  std::vector<std::string> removals;
  for (const sim::Device& device : m.devices.devices) {
    if (device.removed) removals.push_back(device.instanceId);
  }
  std::sort(removals.begin(), removals.end());
  std::sort(expectedRemovals.begin(), expectedRemovals.end());
  FUZZ_CHECK(removals == expectedRemovals, "%zu devices removed, %zu expected (first: %s)",
             removals.size(), expectedRemovals.size(),
             removals.empty() ? "-" : removals[0].c_str());
  FUZZ_CHECK(m.devices.reenumerations == expectedReenumerations, "%d re-enumerations, %d expected",
             m.devices.reenumerations, expectedReenumerations);

  FUZZ_CHECK(!m.files.Exists(kStaticInf) && !m.files.Exists(kDriverInf), "an INF stayed in TEMP");
  const bool renamed = runs && haveSystemRoot && settings.Switch("RENAME");
  FUZZ_CHECK(m.files.Exists(kCached81) != renamed && m.files.Exists(kCached8) != renamed &&
                 m.files.Exists("C:\\WINDOWS\\Driver Cache\\tq3p81.org") == renamed &&
                 m.files.Exists("C:\\WINDOWS\\Driver Cache\\tq3p8.org") == renamed,
             "the cached INF files were %srenamed", renamed ? "not " : "");
  FUZZ_CHECK(m.files.Read(settingsPath) == settingsText, "the settings file changed");
  for (const auto& arguments : m.ArgumentsOf("CreateMutexA")) {
    FUZZ_CHECK(arguments.at("attributes") == "none" && arguments.at("owned") == "no",
               "the instance mutex was made with attributes or owned");
  }
  for (const auto& arguments : m.ArgumentsOf("SetupDiGetClassDevsExA")) {
    FUZZ_CHECK(arguments.at("machine") == "local", "devices of another machine were listed");
  }
  return 0;
}
