// The mode switcher's rewrite of the zero-configuration service's "ControlFlags" against
// adapter keys and interface records of any content: "MatchingDeviceId" and
// "NetCfgInstanceId" of any type and size, records whose flags are missing, short, long
// or of another type, keys that refuse opening or writing, several adapters sharing one
// record, subkey names too long to enumerate; the mode recorded by the vendor utility
// read first (or a mode given directly), the service-pack level and the service's state
// as the start-up found them, and the mode recorded afterwards. Checked against a model of
// the documented rewrite applied to a copy of the registry:
//   - only interface records of supported adapters change; there only "ControlFlags"
//     (bits 12 to 15, or the complete record's values where the flags could not be read)
//     and "LayoutVersion" (with a complete record); "UseZeroConfig" only as recorded;
//   - no other value, anywhere, changes, and no key but an interface record is created;
//   - the final registry is exactly the model's; nothing stays open.
//
// Input: a byte for the mode source, level, service state and recording; the recorded
// mode's value; then records: adapter (name, ids, interface record) or stray value.
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "airtoggle/interface_flags.h"
#include "airtoggle/managers.h"
#include "airtoggle/recorded_mode.h"
#include "fuzz_support.h"
#include "platform/registry.h"

namespace {

constexpr char kClassKey[] =
    "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr char kInterfaces[] = "HKLM\\SOFTWARE\\Microsoft\\WZCSVC\\Parameters\\Interfaces";
constexpr char kSettings[] = "HKLM\\SOFTWARE\\Korvell\\Linkdesk\\Settings";
constexpr char kMatchingDeviceIdValue[] = "MatchingDeviceId";
constexpr char kNetCfgInstanceIdValue[] = "NetCfgInstanceId";
constexpr std::size_t kNameCapacity = 100;  // subkey names as the rewrite enumerates them
constexpr std::size_t kIdCapacity = 50;     // "MatchingDeviceId", "NetCfgInstanceId"
const char* const kGuids[] = {"{11111111-2222-3333-4444-555555555501}",
                              "{11111111-2222-3333-4444-555555555502}",
                              "{11111111-2222-3333-4444-555555555503}"};
const char* const kMatchingIds[] = {"PCI\\VEN_1D4A&DEV_3890&SUBSYS_00011D4A",
                                    "pci\\ven_1d4a&dev_3890",
                                    "Pci\\Ven_1d4a&Dev_3890",
                                    "PCI\\VEN_8086&DEV_1229",
                                    "PCI\\VEN_1D4A",
                                    "PCI\\VEN_1D4"};

struct CompleteRecord {
  std::uint32_t layout, vendor, managedRunning, managedStopped;
};
constexpr CompleteRecord kCompleteRecords[] = {{3, 0x00810002, 0x00918002, 0x00818002},
                                               {4, 0x00810002, 0x00918002, 0x00818002},
                                               {6, 0x07810002, 0x07918002, 0x03818002},
                                               {7, 0x07810002, 0x07918002, 0x03818002}};

using Values = std::map<std::string, sim::RegValue, sim::NoCaseLess>;
struct KeyState {
  Values values;
  bool refuseOpen = false;
  bool refuseWrite = false;
};
using Snapshot = std::map<std::string, KeyState, sim::NoCaseLess>;

void Take(const sim::RegKey& key, Snapshot* snapshot) {
  (*snapshot)[sim::Registry::PathOf(key)] = KeyState{key.values, key.refuseOpen, key.refuseWrite};
  for (const auto& [name, sub] : key.subkeys) Take(*sub, snapshot);
}
Snapshot TakeAll(const sim::Machine& m) {
  Snapshot snapshot;
  for (const char* root : {"HKLM", "HKCU", "HKCR", "HKU"}) Take(*m.registry.Root(root), &snapshot);
  return snapshot;
}

sim::RegValue Dword(std::uint32_t value) {
  sim::RegValue result{REG_DWORD, std::vector<unsigned char>(4)};
  std::memcpy(result.data.data(), &value, 4);
  return result;
}

// A value read as a text into a 50-byte buffer: whole, with a terminator, or empty.
std::optional<std::string> Text(const Values& values, const char* name) {
  auto it = values.find(name);
  if (it == values.end() || it->second.data.size() > kIdCapacity) return std::nullopt;
  std::string text(it->second.data.begin(), it->second.data.end());
  if (text.size() == kIdCapacity && text.find('\0') == std::string::npos) return std::nullopt;
  return text.substr(0, text.find('\0'));
}

std::string Clean(std::string text) {
  std::string kept;
  for (char c : text) {
    if (c != '\0') kept += c;
  }
  return kept;
}

sim::RegValue RawValue(fuzz::Input& input) {
  std::uint8_t type = input.Byte();
  std::string data = input.Text();
  return sim::RegValue{type, std::vector<unsigned char>(data.begin(), data.end())};
}

// The documented rewrite, applied to `model` (a snapshot of the registry before it).
class Model {
 public:
  explicit Model(Snapshot snapshot) : keys_(std::move(snapshot)) {}

  int ReadRecordedMode() const {
    auto settings = keys_.find(kSettings);
    if (settings == keys_.end() || settings->second.refuseOpen) return kModeUnknown;
    auto value = settings->second.values.find(kUseZeroConfigValue);
    if (value == settings->second.values.end() || value->second.data.size() > 4)
      return kModeUnknown;
    std::uint32_t recorded = 0;
    if (!value->second.data.empty())
      std::memcpy(&recorded, value->second.data.data(), value->second.data.size());
    return recorded == 0 ? kZeroConfigMode : recorded == 1 ? kVendorMode : kModeUnknown;
  }

  void WriteUseZeroConfig(int mode) {
    if (mode != kVendorMode && mode != kZeroConfigMode) return;
    auto settings = keys_.find(kSettings);
    if (settings == keys_.end() || settings->second.refuseOpen || settings->second.refuseWrite)
      return;
    settings->second.values[kUseZeroConfigValue] = Dword(static_cast<std::uint32_t>(mode));
  }

  // The adapters in enumeration order, up to the first name that does not fit.
  void Apply(const std::vector<std::string>& subkeys, const SwitchState& state, int mode) {
    auto classKey = keys_.find(kClassKey);
    if (classKey == keys_.end() || classKey->second.refuseOpen) return;
    for (const std::string& name : subkeys) {
      if (name.size() + 1 > kNameCapacity) return;
      ApplyToAdapter(std::string(kClassKey) + "\\" + name, state, mode);
    }
  }

  const Snapshot& keys() const { return keys_; }
  // Interface records of supported adapters, as the rewrite named them.
  std::vector<std::string> records;

 private:
  void ApplyToAdapter(const std::string& path, const SwitchState& state, int mode) {
    auto adapter = keys_.find(path);
    if (adapter == keys_.end() || adapter->second.refuseOpen || adapter->second.refuseWrite) return;
    std::string matching = Text(adapter->second.values, kMatchingDeviceIdValue).value_or("");
    if (matching.size() < 12) return;
    matching.resize(12);
    if (matching != "PCI\\VEN_1D4A" && matching != "pci\\ven_1d4a") return;
    auto id = Text(adapter->second.values, kNetCfgInstanceIdValue);
    if (!id || id->empty() || id->find('\\') != std::string::npos) return;

    const std::string record = std::string(kInterfaces) + "\\" + *id;
    records.push_back(record);
    auto key = keys_.find(record);
    if (key == keys_.end()) {
      // Created with every missing key above it.
      for (std::size_t at = record.find('\\'); at != std::string::npos;
           at = record.find('\\', at + 1))
        keys_.emplace(record.substr(0, at), KeyState{});
      key = keys_.emplace(record, KeyState{}).first;
    }
    if (key->second.refuseOpen || key->second.refuseWrite) return;
    Values& values = key->second.values;
    auto flags = values.find(kControlFlagsValue);
    if (flags == values.end() || flags->second.data.size() != 4) {
      if (state.m_nServicePackLevel < 0 || state.m_nServicePackLevel > 3) return;
      if (mode != kVendorMode && mode != kZeroConfigMode) return;
      if (state.m_nZeroConfigWasRunning != 0 && state.m_nZeroConfigWasRunning != 1) return;
      const CompleteRecord& complete = kCompleteRecords[state.m_nServicePackLevel];
      std::uint32_t written = mode == kVendorMode                  ? complete.vendor
                              : state.m_nZeroConfigWasRunning == 1 ? complete.managedRunning
                                                                   : complete.managedStopped;
      values[kControlFlagsValue] = Dword(written);
      values[kLayoutVersionValue] = Dword(complete.layout);
      return;
    }
    std::uint32_t bits = 0;
    std::memcpy(&bits, flags->second.data.data(), 4);
    if (mode == kVendorMode) {
      bits &= ~0x0000F000u;
    } else if (mode == kZeroConfigMode) {
      bits |= 0x00008000u;
    } else {
      return;
    }
    flags->second = Dword(bits);
  }

  Snapshot keys_;
};

bool SameValue(const sim::RegValue& a, const sim::RegValue& b) {
  return a.type == b.type && a.data == b.data;
}

std::string Describe(const std::optional<sim::RegValue>& value) {
  if (!value) return "none";
  std::string text = "type " + std::to_string(value->type) + ":";
  for (unsigned char c : value->data) {
    char hex[4];
    std::snprintf(hex, sizeof hex, " %02X", c);
    text += hex;
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input input(data, size);
  const std::uint8_t setup = input.Byte();
  static constexpr int kLevels[] = {kLevelUnknown, 0, 1, 2, 3, 4, -2, 3};
  static constexpr int kStates[] = {kStateUnknown, 0, 1, 2};
  SwitchState state;
  state.m_nServicePackLevel = kLevels[(setup >> 2) & 7];
  state.m_nZeroConfigWasRunning = kStates[(setup >> 5) & 3];
  const unsigned modeSource = setup & 3;
  int mode = modeSource == 1 ? kVendorMode : modeSource == 2 ? kZeroConfigMode : kModeUnknown;
  if (modeSource == 3) mode = static_cast<int>(input.Dword());
  const bool record = (setup & 0x80) != 0;

  sim::Machine m;
  // The vendor utility's settings: none, the key alone, or the key with a value.
  switch (input.Choice(4)) {
    case 0:
      break;
    case 1:
      m.registry.Create(kSettings);
      break;
    case 2:
      m.registry.SetDword(kSettings, kUseZeroConfigValue, input.Choice(3));
      break;
    default:
      m.registry.Create(kSettings)->values[kUseZeroConfigValue] = RawValue(input);
      break;
  }

  for (int records = 0; records < 24 && !input.Empty(); ++records) {
    const std::uint8_t kind = input.Byte();
    if ((kind & 1) != 0) {
      // A stray value elsewhere: beside the adapters, in a record, in the settings.
      const std::string places[] = {kClassKey,
                                    std::string(kInterfaces) + "\\" + kGuids[input.Choice(3)],
                                    kSettings, std::string(kClassKey) + "\\0000", kInterfaces};
      std::string where = places[(kind >> 1) % 5];
      std::string name = Clean(input.Text());
      m.registry.Create(where)->values[name] = RawValue(input);
      continue;
    }
    std::string name = Clean(input.Text());
    auto adapter = name.empty() ? nullptr : m.registry.Create(std::string(kClassKey) + "\\" + name);
    if (adapter == nullptr) continue;
    adapter->refuseWrite = (kind & 2) != 0;
    adapter->refuseOpen = (kind & 4) != 0;
    std::uint8_t matching = input.Byte();
    if (matching % 8 == 7) {
      adapter->values[kMatchingDeviceIdValue] = RawValue(input);
    } else if (matching % 8 != 6) {
      std::string text = kMatchingIds[matching % 8];
      adapter->values[kMatchingDeviceIdValue] =
          sim::RegValue{REG_SZ, std::vector<unsigned char>(text.begin(), text.end() + 1)};
    }
    std::uint8_t guid = input.Byte();
    std::string id;
    if (guid % 5 == 4) {
      adapter->values[kNetCfgInstanceIdValue] = RawValue(input);
      id = Text(adapter->values, kNetCfgInstanceIdValue).value_or("");
    } else if (guid % 5 != 3) {
      id = kGuids[guid % 5];
      adapter->values[kNetCfgInstanceIdValue] =
          sim::RegValue{REG_SZ, std::vector<unsigned char>(id.begin(), id.end() + 1)};
    }
    // Its interface record: none, flags as a DWORD, flags of any type and size, or a
    // record without flags; possibly refusing to be opened for writing.
    std::uint8_t interface = input.Byte();
    if (id.empty() || id.find('\\') != std::string::npos || interface % 4 == 0) continue;
    auto recordKey = m.registry.Create(std::string(kInterfaces) + "\\" + id);
    if (recordKey == nullptr) continue;
    if (interface % 4 == 1) recordKey->values[kControlFlagsValue] = Dword(input.Dword());
    if (interface % 4 == 2) recordKey->values[kControlFlagsValue] = RawValue(input);
    if (interface % 4 == 3) recordKey->values[kLayoutVersionValue] = Dword(interface);
    recordKey->refuseWrite = (interface & 0x80) != 0;
    recordKey->refuseOpen = (interface & 0x40) != 0;
  }

  Model model(TakeAll(m));
  std::vector<std::string> subkeys;
  if (auto classKey = m.registry.Find(kClassKey)) {
    for (const auto& [name, key] : classKey->subkeys) subkeys.push_back(key->name);
  }
  const Snapshot before = TakeAll(m);

  if (modeSource == 0) {
    ReadRecordedMode(state);
    const int expectedTarget = model.ReadRecordedMode();
    FUZZ_CHECK(state.m_nTargetMode == expectedTarget,
               "recorded mode read as target %d, expected %d", state.m_nTargetMode, expectedTarget);
    mode = state.m_nTargetMode;
  }
  ApplyInterfaceFlags(state, mode);
  model.Apply(subkeys, state, mode);
  if (record) {
    WriteUseZeroConfig(mode);
    model.WriteUseZeroConfig(mode);
  }
  fuzz::ExpectClean(m);
  const Snapshot after = TakeAll(m);
  FUZZ_TRACE("mode %d level %d running %d: %zu records", mode, state.m_nServicePackLevel,
              state.m_nZeroConfigWasRunning, model.records.size());

  // --- what may change at all -------------------------------------------------------------
  auto isRecord = [&model](const std::string& path) {
    for (const std::string& named : model.records) {
      if (sim::SameText(named, path)) return true;
    }
    return false;
  };
  for (const auto& [path, key] : after) {
    auto old = before.find(path);
    if (old == before.end()) {
      bool aboveRecord = false;
      for (const std::string& named : model.records) {
        aboveRecord = aboveRecord || (named.size() > path.size() && named[path.size()] == '\\' &&
                                      sim::SameText(named.substr(0, path.size()), path));
      }
      FUZZ_CHECK(isRecord(path) || aboveRecord, "key %s created, no interface record",
                 fuzz::Shown(path).c_str());
      continue;
    }
    for (const auto& [name, value] : key.values) {
      auto was = old->second.values.find(name);
      bool same = was != old->second.values.end() && SameValue(was->second, value);
      if (same) continue;
      FUZZ_TRACE(
          "%s\\%s: %s -> %s", path.c_str(), name.c_str(),
          Describe(was == old->second.values.end() ? std::nullopt : std::optional(was->second))
              .c_str(),
          Describe(value).c_str());
      bool flags = isRecord(path) && sim::SameText(name, kControlFlagsValue);
      bool layout = isRecord(path) && sim::SameText(name, kLayoutVersionValue);
      bool recorded =
          record && sim::SameText(path, kSettings) && sim::SameText(name, kUseZeroConfigValue);
      FUZZ_CHECK(flags || layout || recorded, "%s\\%s changed", fuzz::Shown(path).c_str(),
                 fuzz::Shown(name).c_str());
      FUZZ_CHECK(value.type == REG_DWORD && value.data.size() == 4, "%s\\%s written as %s",
                 fuzz::Shown(path).c_str(), name.c_str(), Describe(value).c_str());
      if (flags && was != old->second.values.end() && was->second.data.size() == 4) {
        std::uint32_t oldBits = 0;
        std::uint32_t newBits = 0;
        std::memcpy(&oldBits, was->second.data.data(), 4);
        std::memcpy(&newBits, value.data.data(), 4);
        FUZZ_CHECK(((oldBits ^ newBits) & ~0x0000F000u) == 0, "%s flags 0x%08X became 0x%08X",
                   fuzz::Shown(path).c_str(), oldBits, newBits);
      }
    }
    for (const auto& [name, value] : old->second.values) {
      FUZZ_CHECK(key.values.count(name) != 0, "%s\\%s deleted", fuzz::Shown(path).c_str(),
                 name.c_str());
    }
  }
  for (const auto& [path, key] : before) {
    FUZZ_CHECK(after.count(path) != 0, "key %s deleted", fuzz::Shown(path).c_str());
  }

  // --- and exactly what the model did ------------------------------------------------------
  const Snapshot& expected = model.keys();
  FUZZ_CHECK(after.size() == expected.size(), "%zu keys, %zu expected", after.size(),
             expected.size());
  for (const auto& [path, key] : expected) {
    auto actual = after.find(path);
    FUZZ_CHECK(actual != after.end(), "key %s missing", fuzz::Shown(path).c_str());
    for (const auto& [name, value] : key.values) {
      auto got = actual->second.values.find(name);
      FUZZ_CHECK(
          got != actual->second.values.end() && SameValue(got->second, value),
          "%s\\%s is %s, expected %s", fuzz::Shown(path).c_str(), fuzz::Shown(name).c_str(),
          Describe(got == actual->second.values.end() ? std::nullopt : std::optional(got->second))
              .c_str(),
          Describe(value).c_str());
    }
    FUZZ_CHECK(actual->second.values.size() == key.values.size(), "%s has %zu values, expected %zu",
               fuzz::Shown(path).c_str(), actual->second.values.size(), key.values.size());
  }
  return 0;
}
