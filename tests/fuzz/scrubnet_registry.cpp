// Scrubnet against registry trees and folders of any content: driver keys under the
// network class key of either family (and the other family's, which must stay), with
// "ComponentId", "MatchingDeviceId", "InfPath" and "NetCfgInstanceId" of any type and
// size, keys that refuse opening or deleting, keys under Enum\PCI, files in the INF,
// catalog and driver folders, network devices; Windows and system directories that are
// drive roots, UNC paths, relative, too long, or end in a double-byte character.
// Checked after ScrubnetMain:
//   - every file deleted lies in the INF folder or the catalog folder (no deeper), or is
//     one of the fixed driver and INF copies of the family;
//   - no key is deleted on the NT family; on the 9x family only subtrees of direct
//     children of the 9x class key and of Enum\PCI; no value anywhere changes;
//   - exactly the files, keys and devices that the documented rules name are gone;
//   - each walk reads every subkey once (bounded enumeration calls); nothing stays open.
//
// Input: a byte for family, directories and code page; then records: class subkey (name,
// flags, values), Enum\PCI subkey, file (folder, name), network device.
#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/registry.h"
#include "platform/sim/machine.h"
#include "scrubnet/scrubnet.h"

namespace {

constexpr char kNtClass[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr char k9xClass[] = "SYSTEM\\CurrentControlSet\\Services\\Class\\Net";
constexpr char kEnumPci[] = "Enum\\PCI";
constexpr char kCatalog[] = "\\CatRoot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}";
constexpr char kOtherClassGuid[] = "{4D36E96C-E325-11CE-BFC1-08002BE10318}";
constexpr std::size_t kWindowsCapacity = 120;
constexpr std::size_t kCatalogCapacity = 300;
constexpr std::size_t kCatalogNameCapacity = 50;
constexpr std::size_t kClassNameCapacity = 120;
constexpr std::size_t kEnumNameCapacity = 200;
constexpr std::size_t kIdCapacity = 500;
constexpr std::size_t kInfPathCapacity = 120;

enum class Family { kNt, k98, k95, kOld };

struct Version {
  DWORD major, minor, build, platform;
};
constexpr Version kVersions[] = {{5, 1, 2600, VER_PLATFORM_WIN32_NT},
                                 {4, 10, 2222, VER_PLATFORM_WIN32_WINDOWS},
                                 {4, 0, 950, VER_PLATFORM_WIN32_WINDOWS},
                                 {3, 95, 0, VER_PLATFORM_WIN32_WINDOWS}};

// Windows directories: the usual one, a drive root, one ending in a double-byte character
// whose second byte is 0x5C, one with a trailing separator, a relative one, a UNC path,
// one of 102 characters (so that few file names still fit behind it), a short name.
const char* const kWindowsDirectories[] = {
    "C:\\WINDOWS",
    "C:\\",
    "C:\\\x83\x5C",
    "C:\\WINDOWS\\",
    "WINDOWS",
    "\\\\SERVER\\WIN",
    ("C:\\Long Windows Folder Name That Goes On And On Until It Nearly Fills The Buffer Of One "
     "Hundred Twenty"),
    "C:\\WIN~1"};

std::string Upper(std::string text) { return sim::Upper(std::move(text)); }

bool BeginsNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && sim::SameText(text.substr(0, prefix.size()), prefix);
}

class Scene {
 public:
  explicit Scene(sim::Machine& m) : m_(m) {}

  bool IsLead(unsigned char c) const {
    for (const auto& [first, last] : m_.kernel.self.leadByteRanges) {
      if (c >= first && c <= last) return true;
    }
    return false;
  }

  // A directory as the program keeps it: none when it does not fit, is not a full path
  // or holds a zero; without a trailing separator (one that is not a second byte).
  std::optional<std::string> Usable(const std::string& directory, std::size_t capacity) const {
    if (directory.empty() || directory.size() >= capacity) return std::nullopt;
    if (directory.find('\0') != std::string::npos) return std::nullopt;
    auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    bool drive = directory.size() >= 3 && letter(directory[0]) && directory[1] == ':' &&
                 directory[2] == '\\';
    bool unc = directory.size() >= 2 && directory[0] == '\\' && directory[1] == '\\';
    if (!drive && !unc) return std::nullopt;
    std::optional<std::size_t> last;
    for (std::size_t at = 0; at < directory.size(); ++at) {
      if (IsLead(static_cast<unsigned char>(directory[at]))) {
        if (at + 1 >= directory.size()) break;
        ++at;
      } else if (directory[at] == '\\') {
        last = at;
      }
    }
    std::string kept = directory;
    if (last && *last == directory.size() - 1) kept.pop_back();
    return kept;
  }

  // The INF name with its last three characters replaced; none when too short, when the
  // last three bytes are not three characters of their own, or when it does not fit.
  std::optional<std::string> Derive(const std::string& inf, const char* suffix,
                                    std::size_t capacity) const {
    if (inf.size() <= 3) return std::nullopt;
    for (std::size_t at = 0; at < inf.size(); ++at) {
      if (!IsLead(static_cast<unsigned char>(inf[at]))) continue;
      if (at + 1 >= inf.size() - 3) return std::nullopt;
      ++at;
    }
    if (inf.size() >= capacity) return std::nullopt;
    return inf.substr(0, inf.size() - 3) + suffix;
  }

  static bool IsBare(const std::string& name) {
    if (name.empty()) return false;
    bool dotsAndBlanks = true;
    for (char c : name) {
      if (c == '\\' || c == '/' || c == ':') return false;
      if (c != '.' && c != ' ') dotsAndBlanks = false;
    }
    return !dotsAndBlanks;
  }

  // A value read as a text into `capacity` bytes: whole, with a terminator, or not at all.
  static std::optional<std::string> Text(const sim::RegKey& key, const std::string& name,
                                         std::size_t capacity) {
    auto it = key.values.find(name);
    if (it == key.values.end()) return std::nullopt;
    const std::vector<unsigned char>& data = it->second.data;
    if (data.size() > capacity) return std::nullopt;
    std::string text(data.begin(), data.end());
    if (data.size() == capacity && text.find('\0') == std::string::npos) return std::nullopt;
    return text.substr(0, text.find('\0'));
  }

  void WindowsFile(const std::string& folder, const std::string& name) {
    if (!windows_) return;
    std::string path = *windows_ + folder + name;
    if (path.size() < kWindowsCapacity) attempts_.push_back(path);
  }
  void CatalogFile(const std::string& name) {
    if (!system_) return;
    std::string path = *system_ + kCatalog + "\\" + name;
    if (path.size() < kCatalogCapacity) attempts_.push_back(path);
  }
  void InstalledInf(const sim::RegKey& key) {
    auto inf = Text(key, "InfPath", kInfPathCapacity);
    if (!inf || !IsBare(*inf)) return;
    WindowsFile("\\inf\\", *inf);
    if (auto pnf = Derive(*inf, "PNF", kWindowsCapacity)) WindowsFile("\\inf\\", *pnf);
    if (auto cat = Derive(*inf, "CAT", kCatalogNameCapacity)) CatalogFile(*cat);
  }

  // The driver keys the walk of `classPath` acts on, in enumeration order.
  std::vector<std::shared_ptr<sim::RegKey>> ChipsetKeys(const std::string& classPath,
                                                        const char* idName) const {
    std::vector<std::shared_ptr<sim::RegKey>> keys;
    auto parent = m_.registry.Find("HKLM\\" + classPath);
    if (parent == nullptr) return keys;
    for (const auto& [name, key] : parent->subkeys) {
      if (key->name.size() + 1 > kClassNameCapacity) continue;
      if (classPath.size() + 1 + key->name.size() >= kClassNameCapacity) continue;
      if (key->refuseOpen) continue;
      auto id = Text(*key, idName, kIdCapacity);
      if (BeginsNoCase(id.value_or(""), "PCI\\VEN_1D4A")) keys.push_back(key);
    }
    return keys;
  }

  // What ScrubnetMain is to delete: files (in order), key paths, device instance IDs.
  void Predict(Family family) {
    windows_ = Usable(m_.kernel.windowsDirectory, kWindowsCapacity);
    system_ = Usable(m_.kernel.systemDirectory, kCatalogCapacity);
    if (family == Family::kOld) return;
    for (const sim::Device& device : m_.devices.devices) {
      std::string reported = Upper(device.instanceId);
      if (!device.present || device.classGuid != sim::kNetClassGuid || device.removeFails ||
          reported.size() + 1 > 260 || reported.compare(0, 12, "PCI\\VEN_1D4A") != 0)
        continue;
      removedDevices.push_back(device.devInst);
    }
    if (family == Family::kNt) {
      for (const auto& key : ChipsetKeys(kNtClass, "ComponentId")) {
        InstalledInf(*key);
        WindowsFile("\\system32\\drivers\\", "kv7403.sys");
      }
      return;
    }
    for (const auto& key : ChipsetKeys(k9xClass, "MatchingDeviceId")) {
      InstalledInf(*key);
      WindowsFile("\\inf\\other\\", "KorvellNET7403.inf");
      WindowsFile("\\inf\\", "net7403.inf");
      WindowsFile("\\inf\\internet\\", "KorvellNET7403.inf");
      WindowsFile("\\system32\\drivers\\", "kv74039x.sys");
      WindowsFile("\\OPTIONS\\INSTALL\\", "kv74039x.sys");
      if (!key->refuseWrite && !key->deleteLies) deletedKeys.push_back(sim::Registry::PathOf(*key));
    }
    if (auto enumKey = m_.registry.Find(std::string("HKLM\\") + kEnumPci)) {
      for (const auto& [name, key] : enumKey->subkeys) {
        if (key->name.size() + 1 > kEnumNameCapacity ||
            std::string(kEnumPci).size() + 1 + key->name.size() >= kEnumNameCapacity)
          continue;
        if (!BeginsNoCase(key->name, "VEN_1D4A") || key->refuseOpen || key->refuseWrite ||
            key->deleteLies)
          continue;
        deletedKeys.push_back(sim::Registry::PathOf(*key));
      }
    }
  }

  const std::vector<std::string>& Attempts() const { return attempts_; }
  const std::optional<std::string>& WindowsDirectory() const { return windows_; }
  const std::optional<std::string>& SystemDirectory() const { return system_; }

  std::vector<std::string> deletedKeys;
  std::vector<std::uint32_t> removedDevices;

 private:
  sim::Machine& m_;
  std::optional<std::string> windows_;
  std::optional<std::string> system_;
  std::vector<std::string> attempts_;
};

// Every key below a root with its values, by full path.
using Snapshot = std::map<std::string, std::map<std::string, sim::RegValue, sim::NoCaseLess>>;
void Take(const sim::RegKey& key, Snapshot* snapshot) {
  (*snapshot)[sim::Registry::PathOf(key)] = key.values;
  for (const auto& [name, sub] : key.subkeys) Take(*sub, snapshot);
}
Snapshot TakeAll(const sim::Machine& m) {
  Snapshot snapshot;
  for (const char* root : {"HKLM", "HKCU", "HKCR", "HKU"}) Take(*m.registry.Root(root), &snapshot);
  return snapshot;
}

bool Below(const std::string& path, const std::string& parent) {
  return path.size() > parent.size() + 1 && sim::SameText(path.substr(0, parent.size()), parent) &&
         path[parent.size()] == '\\';
}

std::string Clean(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
  return text;
}

// Data of a value: the text, repeated (or padded) to a size near a buffer's edge.
std::vector<unsigned char> Data(const std::string& text, unsigned sizeChoice) {
  static constexpr std::size_t kSizes[] = {0, 119, 120, 121, 499, 500, 501, 50};
  std::string data = text;
  if (std::size_t target = kSizes[sizeChoice & 7]; target != 0) {
    std::string unit = text.empty() ? std::string("A") : text;
    data.clear();
    while (data.size() < target) data += unit;
    data.resize(target);
  }
  return std::vector<unsigned char>(data.begin(), data.end());
}

void Seed(sim::Machine& m, fuzz::Input& input, Family family, std::vector<std::string>* files,
          std::size_t* classChildren, std::size_t* enumChildren) {
  // The folders as the program builds them, so that a drive root gets no double separator.
  Scene scene(m);
  const std::string windows =
      scene.Usable(m.kernel.windowsDirectory, 1000).value_or(m.kernel.windowsDirectory);
  const std::string system =
      scene.Usable(m.kernel.systemDirectory, 1000).value_or(m.kernel.systemDirectory);
  const std::string folders[] = {windows + "\\inf\\",
                                 windows + "\\inf\\other\\",
                                 windows + "\\inf\\internet\\",
                                 windows + "\\system32\\drivers\\",
                                 windows + "\\OPTIONS\\INSTALL\\",
                                 system + kCatalog + "\\",
                                 windows + "\\",
                                 windows + "\\inf\\sub\\"};
  auto put = [&](const std::string& path) {
    m.files.Put(path, "x");
    files->push_back(m.files.LongPathOf(path));
  };
  for (const char* fixed :
       {"\\inf\\other\\KorvellNET7403.inf", "\\inf\\net7403.inf",
        "\\inf\\internet\\KorvellNET7403.inf", "\\system32\\drivers\\kv74039x.sys",
        "\\OPTIONS\\INSTALL\\kv74039x.sys", "\\system32\\drivers\\kv7403.sys"})
    put(windows + fixed);

  const std::string ownClass =
      std::string("HKLM\\") + (family == Family::kNt ? kNtClass : k9xClass);
  const std::string otherClass =
      std::string("HKLM\\") + (family == Family::kNt ? k9xClass : kNtClass);
  static const char* const kValueNames[] = {"ComponentId", "MatchingDeviceId", "InfPath",
                                            "NetCfgInstanceId"};
  for (int records = 0; records < 40 && !input.Empty(); ++records) {
    const std::uint8_t kind = input.Byte();
    switch (kind & 3) {
      case 0:
      case 1: {
        const bool enumKey = (kind & 3) == 1;
        std::string parent = enumKey      ? std::string("HKLM\\") + kEnumPci
                             : (kind & 4) ? otherClass
                                          : ownClass;
        std::string name = Clean(input.Text());
        auto key = name.empty() ? nullptr : m.registry.Create(parent + "\\" + name);
        if (key == nullptr) break;
        key->refuseOpen = (kind & 8) != 0;
        key->refuseWrite = (kind & 16) != 0;
        key->deleteLies = (kind & 32) != 0;
        // Driver and enumeration keys have keys of their own below them.
        if (auto below = m.registry.Create(key, "Ndi"))
          below->values["Service"] = sim::RegValue{REG_SZ, {'K', 0}};
        for (unsigned values = input.Choice(5); values > 0; --values) {
          std::uint8_t which = input.Byte();
          std::string valueName = which % 5 < 4 ? kValueNames[which % 5] : Clean(input.Text());
          std::uint8_t type = input.Byte();
          key->values[valueName] =
              sim::RegValue{static_cast<std::uint32_t>(type & 0x0F),
                            Data(input.Text(), static_cast<unsigned>(type >> 4))};
        }
        break;
      }
      case 2: {
        std::string name = Clean(input.Text());
        if (!name.empty()) put(folders[(kind >> 2) & 7] + name);
        break;
      }
      default: {
        sim::Device& device =
            m.devices.Add(Clean(input.Text()), {"PCI\\VEN_1D4A&DEV_0302"}, (kind & 4) != 0);
        if ((kind & 8) != 0) device.classGuid = kOtherClassGuid;
        device.removeFails = (kind & 16) != 0;
        break;
      }
    }
  }
  auto count = [&m](const std::string& path) {
    auto key = m.registry.Find(path);
    return key == nullptr ? std::size_t{0} : key->subkeys.size();
  };
  *classChildren = count(ownClass);
  *enumChildren = count(std::string("HKLM\\") + kEnumPci);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input input(data, size);
  const std::uint8_t setup = input.Byte();
  const auto family = static_cast<Family>(setup & 3);

  sim::Machine m;
  const Version& version = kVersions[setup & 3];
  m.kernel.version =
      sim::VersionInfo{version.major, version.minor, version.build, version.platform, ""};
  m.kernel.windowsDirectory = kWindowsDirectories[(setup >> 2) & 7];
  const std::string systems[] = {m.kernel.windowsDirectory + "\\system32", "C:\\WINNT\\System32",
                                 "", "C:\\" + std::string(290, 'S')};
  m.kernel.systemDirectory = systems[(setup >> 5) & 3];
  if ((setup & 0x80) != 0) m.kernel.self.UseShiftJis();

  std::vector<std::string> files;
  std::size_t classChildren = 0;
  std::size_t enumChildren = 0;
  Seed(m, input, family, &files, &classChildren, &enumChildren);

  Scene scene(m);
  scene.Predict(family);
  // The deletions replayed on a copy of the files: a short name can stand for another
  // file once the first of that name is gone.
  sim::FileSystem expectedFiles = m.files;
  for (const std::string& path : scene.Attempts()) {
    if (expectedFiles.Find(path) != nullptr) expectedFiles.Remove(path);
  }
  const Snapshot before = TakeAll(m);

  ScrubnetMain();
  fuzz::ExpectClean(m);

  // --- files: only in the folders Scrubnet owns, and exactly those named ---------------
  const std::string wd = scene.WindowsDirectory().value_or("<none>");
  const std::string sd = scene.SystemDirectory().value_or("<none>");
  std::vector<std::string> fixed;
  if (family == Family::kNt) {
    fixed = {wd + "\\system32\\drivers\\kv7403.sys"};
  } else if (family != Family::kOld) {
    fixed = {wd + "\\inf\\other\\KorvellNET7403.inf", wd + "\\inf\\internet\\KorvellNET7403.inf",
             wd + "\\system32\\drivers\\kv74039x.sys", wd + "\\OPTIONS\\INSTALL\\kv74039x.sys"};
  }
  for (const std::string& file : files) {
    if (m.files.Exists(file)) continue;
    FUZZ_TRACE("deleted %s", fuzz::Shown(file).c_str());
    std::string folder = sim::FileSystem::DirectoryOf(file);
    bool owned = sim::SameText(folder, wd + "\\inf") || sim::SameText(folder, sd + kCatalog) ||
                 std::any_of(fixed.begin(), fixed.end(),
                             [&file](const std::string& f) { return sim::SameText(f, file); });
    FUZZ_CHECK(owned, "%s deleted, outside the folders the driver removal owns (W=%s S=%s)",
               fuzz::Shown(file).c_str(), fuzz::Shown(wd).c_str(), fuzz::Shown(sd).c_str());
  }
  for (const std::string& file : files) {
    FUZZ_CHECK(m.files.Exists(file) == expectedFiles.Exists(file), "%s %s",
               fuzz::Shown(file).c_str(),
               m.files.Exists(file) ? "was not deleted" : "was deleted, not expected");
  }

  // --- keys: only below the 9x class key and Enum\PCI, exactly those named --------------
  const Snapshot after = TakeAll(m);
  std::vector<std::string> tops;  // the keys deleted whose parent stayed
  for (const auto& [path, values] : before) {
    auto now = after.find(path);
    if (now == after.end()) {
      if (after.count(sim::FileSystem::DirectoryOf(path)) != 0) tops.push_back(path);
      continue;
    }
    FUZZ_CHECK(now->second.size() == values.size() &&
                   std::equal(values.begin(), values.end(), now->second.begin(),
                              [](const auto& a, const auto& b) {
                                return a.first == b.first && a.second.type == b.second.type &&
                                       a.second.data == b.second.data;
                              }),
               "the values of %s changed", fuzz::Shown(path).c_str());
  }
  for (const auto& [path, values] : after) {
    FUZZ_CHECK(before.count(path) != 0, "key %s was created", fuzz::Shown(path).c_str());
  }
  for (const std::string& top : tops) {
    FUZZ_TRACE("deleted key %s", fuzz::Shown(top).c_str());
    std::string parent = sim::FileSystem::DirectoryOf(top);
    bool owned =
        family != Family::kNt && (sim::SameText(parent, std::string("HKLM\\") + k9xClass) ||
                                  sim::SameText(parent, std::string("HKLM\\") + kEnumPci));
    FUZZ_CHECK(owned, "key %s deleted, outside the keys the driver removal owns",
               fuzz::Shown(top).c_str());
    FUZZ_CHECK(Below(top, parent), "key %s is no subkey", fuzz::Shown(top).c_str());
  }
  std::vector<std::string> expectedTops = scene.deletedKeys;
  std::sort(tops.begin(), tops.end());
  std::sort(expectedTops.begin(), expectedTops.end());
  FUZZ_CHECK(tops == expectedTops, "%zu keys deleted, %zu expected (first expected: %s)",
             tops.size(), expectedTops.size(),
             expectedTops.empty() ? "-" : fuzz::Shown(expectedTops[0]).c_str());

  // --- devices ------------------------------------------------------------------------
  std::vector<std::uint32_t> removed;
  for (const sim::Device& device : m.devices.devices) {
    if (device.removed) removed.push_back(device.devInst);
  }
  FUZZ_CHECK(removed == scene.removedDevices, "%zu devices removed, %zu expected", removed.size(),
             scene.removedDevices.size());

  // --- bounded walks: each subkey read once, once more after its deletion, then the end --
  const int enumerations = m.Calls("RegEnumKeyA");
  const std::size_t bound =
      family == Family::kNt ? classChildren + 1 : 2 * (classChildren + enumChildren) + 2;
  FUZZ_CHECK(static_cast<std::size_t>(enumerations) <= bound,
             "%d subkey reads for %zu + %zu subkeys", enumerations, classChildren, enumChildren);
  FUZZ_CHECK(static_cast<std::size_t>(m.Calls("DeleteFileA")) <= 8 * classChildren,
             "%d file deletions for %zu driver keys", m.Calls("DeleteFileA"), classChildren);
  return 0;
}
