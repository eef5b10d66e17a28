#include "tools/pakrun-preview/lint.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>

#include "pakrun/device_lists.h"
#include "pakrun/inf_files.h"
#include "pakrun/settings.h"
#include "platform/sim/text.h"

namespace preview {

namespace {

using sim::SameText;

constexpr char kDriverRegSection[] = "DRIVERREG";
constexpr char kDefaultId[] = "DEFAULT_ID";
constexpr const char* kAllSuffixes[] = {"_2000", "_XP", "_2003", "_ELSE"};
// The longest value of a MAX_PATH buffer that Pakrun takes as read whole (CMDEXE, CMDINI).
constexpr std::size_t kLongestName = 258;
// The longest path a MAX_PATH buffer holds (INF path, installer path).
constexpr std::size_t kLongestPath = 259;
// The longest value of an INF field that reaches the INF whole.
constexpr std::size_t kLongestField = kEntryFieldCapacity - 1;
// The longest hardware ID that Pakrun acts on (a longer one may have been cut).
constexpr std::size_t kLongestId = kDeviceIdCapacity - 2;

// What a numbered entry key feeds.
enum class Field { kId, kRoot, kSubkey, kName, kFlags, kValue };

struct Numbered {
  const char* prefix;    // "ADDREG"
  const char* suffix;    // "_FLAGS", or "" for "DEV<n>"
  const char* countKey;  // the count that bounds it
  Field field;
};

enum class Kind { kParams, kCleanup, kRefresh, kDriverReg, kStatic, kDevice };

struct Rules {
  std::vector<const char*> plain;
  std::vector<Numbered> numbered;
};

const char* const kSwitches[] = {"SWAPCMD", "CLEANUP", "RENAME", "REFRESH",
                                 "STATICREG", "DRIVERREG", "STATICREGFROMFILE"};

const Rules& RulesOf(Kind kind) {
  static const Rules kParams{{"SWAPCMD", "CLEANUP", "CMDEXE", "CMDINI", "RENAME", "REFRESH",
                              "STATICREG", "DRIVERREG", "STATICREGFROMFILE"},
                             {}};
  static const Rules kCleanup{{"CLEANCOUNT"}, {{"DEV", "", "CLEANCOUNT", Field::kId}}};
  static const Rules kRefresh{{"DETECTCOUNT"}, {{"DETECTDEV", "", "DETECTCOUNT", Field::kId}}};
  static const Rules kDriverRegList{{"NIC"}, {{"DEV", "", "NIC", Field::kId}}};
  static const Rules kStatic{{"ADDREG", "DELREG"},
                             {{"ADDREG", "_ROOT", "ADDREG", Field::kRoot},
                              {"ADDREG", "_SUBKEY", "ADDREG", Field::kSubkey},
                              {"ADDREG", "_ENTRYNAME", "ADDREG", Field::kName},
                              {"ADDREG", "_FLAGS", "ADDREG", Field::kFlags},
                              {"ADDREG", "_VALUE", "ADDREG", Field::kValue},
                              {"DELREG", "_ROOT", "DELREG", Field::kRoot},
                              {"DELREG", "_SUBKEY", "DELREG", Field::kSubkey},
                              {"DELREG", "_ENTRYNAME", "DELREG", Field::kName}}};
  static const Rules kDevice{{"ADDREG", "DELREG"},
                             {{"ADDREG", "_ENTRYNAME", "ADDREG", Field::kName},
                              {"ADDREG", "_FLAGS", "ADDREG", Field::kFlags},
                              {"ADDREG", "_VALUE", "ADDREG", Field::kValue},
                              {"DELREG", "_ENTRYNAME", "DELREG", Field::kName}}};
  switch (kind) {
    case Kind::kParams: return kParams;
    case Kind::kCleanup: return kCleanup;
    case Kind::kRefresh: return kRefresh;
    case Kind::kDriverReg: return kDriverRegList;
    case Kind::kStatic: return kStatic;
    case Kind::kDevice: return kDevice;
  }
  return kParams;
}

// GetPrivateProfileIntA's reading, as the substitute machine does it.
unsigned ProfileInt(const std::string& text, bool* whole) { return sim::ProfileNumber(text, whole); }

// ReadCount's rule, for a raw value.
unsigned Effective(unsigned raw) {
  if (raw > static_cast<unsigned>(INT_MAX)) return 0;
  return raw > kMaxListEntries ? kMaxListEntries : raw;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

// The entry number of `key` under `rule`: n for "<prefix><n><suffix>" with n written as
// Pakrun writes it (decimal from 1, no leading zeros); 0 when the key has the rule's
// shape but a number Pakrun never writes; none when it has another shape.
std::optional<unsigned> EntryNumber(const std::string& key, const Numbered& rule) {
  std::string prefix = rule.prefix;
  std::string suffix = rule.suffix;
  if (!StartsWithNoCase(key, prefix) || key.size() <= prefix.size() + suffix.size()) return std::nullopt;
  std::string digits = key.substr(prefix.size(), key.size() - prefix.size() - suffix.size());
  if (!SameText(key.substr(key.size() - suffix.size()), suffix)) return std::nullopt;
  if (digits.empty() || digits.size() > 10 ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  unsigned long long n = std::stoull(digits);
  if (digits[0] == '0' || n > UINT_MAX) return 0u;
  return static_cast<unsigned>(n);
}

std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      std::size_t above = row[j];
      bool same = SameText(std::string(1, a[i - 1]), std::string(1, b[j - 1]));
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string Nearest(const std::string& name, const std::vector<std::string>& candidates) {
  std::string best;
  std::size_t bestDistance = SIZE_MAX;
  for (const std::string& candidate : candidates) {
    std::size_t distance = EditDistance(name, candidate);
    if (distance < bestDistance) {
      best = candidate;
      bestDistance = distance;
    }
  }
  return best;
}

// "2, 4-6, 9", from numbers in increasing order.
std::string NumberList(const std::vector<unsigned>& numbers) {
  std::string out;
  for (std::size_t i = 0; i < numbers.size();) {
    std::size_t j = i;
    while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) ++j;
    if (!out.empty()) out += ", ";
    out += std::to_string(numbers[i]);
    if (j > i) out += "-" + std::to_string(numbers[j]);
    i = j + 1;
  }
  return out;
}

// A value that reaches the INF in double quotes: written in two pairs (""a, b"") in the
// settings file, whose reader drops the outer pair. Inside them commas, semicolons and
// blanks are the value's own.
bool InfQuoted(const std::string& value) {
  return value.size() >= 2 && value.front() == '"' && value.back() == '"' &&
         value.find('"', 1) == value.size() - 1;
}

// A percent sign that is not one of a pair ("%%" stands for one in an INF).
bool LonePercent(const std::string& value) {
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '%') continue;
    if (i + 1 < value.size() && value[i + 1] == '%') ++i;
    else return true;
  }
  return false;
}

class Linter {
 public:
  Linter(const LintInput& input, std::vector<Warning>* out)
      : in_(input), ini_(IniFile::Parse(input.settings)), out_(out) {}

  void Run() {
    KnownSections();
    std::set<std::string, sim::NoCaseLess> seen;
    for (const IniFile::Section& section : ini_.sections) {
      if (!seen.insert(section.name).second) {
        Warn(section.name, "", "a second [" + section.name + "] section is never read: only the first counts");
        continue;
      }
      auto kind = known_.find(section.name);
      if (kind == known_.end()) {
        std::vector<std::string> names;
        for (const auto& entry : known_) names.push_back(entry.first);
        Warn(section.name, "", "Pakrun never reads this section (nearest known: [" +
                                   Nearest(section.name, names) + "])");
        continue;
      }
      CheckSection(section, kind->second);
    }
    CheckParams();
    CheckDeviceSections();
    CheckScript();
  }

 private:
  void Warn(const std::string& section, const std::string& key, const std::string& message) {
    out_->push_back(Warning{section, key, message, "", "", 1, 1});
  }

  // The sections Pakrun reads: the fixed ones, and one per device of the DRIVERREG list
  // for each OS suffix.
  void KnownSections() {
    known_ = {{"PARAMS", Kind::kParams}, {"CLEANUP", Kind::kCleanup}, {"REFRESH", Kind::kRefresh},
              {kDriverRegSection, Kind::kDriverReg}, {"STATICREG", Kind::kStatic}};
    for (const char* suffix : kAllSuffixes) {
      for (const ListEntry& entry : VisitedEntries(ini_, kDriverRegSection, suffix))
        known_.emplace(DeviceSectionName(entry.id, suffix), Kind::kDevice);
    }
  }

  void CheckSection(const IniFile::Section& section, Kind kind) {
    const Rules& rules = RulesOf(kind);
    // Entry numbers present per count key.
    std::map<std::string, std::set<unsigned>> present;
    std::set<std::string, sim::NoCaseLess> keysSeen;
    for (const IniFile::Key& key : section.keys) {
      if (!keysSeen.insert(key.name).second) {
        Warn(section.name, key.name, "a second " + key.name + " is never read: only the first counts");
        continue;
      }
      bool plain = false;
      for (const char* name : rules.plain) plain = plain || SameText(key.name, name);
      if (plain) continue;
      std::optional<unsigned> number;
      const Numbered* matched = nullptr;
      for (const Numbered& rule : rules.numbered) {
        if ((number = EntryNumber(key.name, rule))) {
          matched = &rule;
          break;
        }
      }
      if (matched != nullptr && *number > 0) {
        present[matched->countKey].insert(*number);
        continue;
      }
      if (kind == Kind::kDevice && (EntryNumber(key.name, {"ADDREG", "_ROOT", "", Field::kRoot}) ||
                                    EntryNumber(key.name, {"ADDREG", "_SUBKEY", "", Field::kSubkey}) ||
                                    EntryNumber(key.name, {"DELREG", "_ROOT", "", Field::kRoot}) ||
                                    EntryNumber(key.name, {"DELREG", "_SUBKEY", "", Field::kSubkey}))) {
        Warn(section.name, key.name, "never read in a per-device section: every entry goes to the device's driver key");
        continue;
      }
      Warn(section.name, key.name,
           "Pakrun never reads this key (nearest known: " + Nearest(key.name, Candidates(rules, key.name)) + ")");
    }
    for (const char* countKey : {"CLEANCOUNT", "DETECTCOUNT", "NIC", "ADDREG", "DELREG"}) {
      bool counts = false;
      for (const Numbered& rule : rules.numbered) counts = counts || std::string(rule.countKey) == countKey;
      if (counts) CheckList(section, kind, rules, countKey, present[countKey]);
    }
  }

  // The fixed keys and each numbered key with the number the unknown key carries (or 1).
  static std::vector<std::string> Candidates(const Rules& rules, const std::string& key) {
    std::vector<std::string> names(rules.plain.begin(), rules.plain.end());
    std::size_t digits = key.find_first_of("0123456789");
    unsigned n = 1;
    if (digits != std::string::npos) {
      std::size_t end = key.find_first_not_of("0123456789", digits);
      std::string run = key.substr(digits, end == std::string::npos ? std::string::npos : end - digits);
      if (run.size() <= 9 && std::stoul(run) > 0) n = static_cast<unsigned>(std::stoul(run));
    }
    for (const Numbered& rule : rules.numbered)
      names.push_back(std::string(rule.prefix) + std::to_string(n) + rule.suffix);
    return names;
  }

  void CheckList(const IniFile::Section& section, Kind kind, const Rules& rules,
                 const std::string& countKey, const std::set<unsigned>& present) {
    std::optional<std::string> text = ini_.Value(section.name, countKey);
    unsigned raw = 0;
    if (text && !text->empty()) {
      bool whole = false;
      raw = ProfileInt(*text, &whole);
      if (!whole)
        Warn(section.name, countKey, "\"" + *text + "\" is not a plain number: Pakrun reads it as " +
                                         std::to_string(Effective(raw)));
      if (raw > static_cast<unsigned>(INT_MAX))
        Warn(section.name, countKey, "a negative count reads as 0: no entry is read");
      else if (raw > kMaxListEntries)
        Warn(section.name, countKey, "count " + std::to_string(raw) + " is above the bound of " +
                                         std::to_string(kMaxListEntries) +
                                         " entries: only entries 1 to " +
                                         std::to_string(kMaxListEntries) + " are read");
    }
    const unsigned count = Effective(raw);

    // Keys numbered above the count are never read.
    for (const IniFile::Key& key : section.keys) {
      for (const Numbered& rule : rules.numbered) {
        if (countKey != rule.countKey) continue;
        std::optional<unsigned> n = EntryNumber(key.name, rule);
        if (n && *n > count)
          Warn(section.name, key.name, "never read: " + countKey + " is " + std::to_string(count) +
                                           (text ? "" : " (no " + countKey + " key)"));
      }
    }

    std::vector<unsigned> gaps;
    unsigned last = 0;
    for (unsigned n : present) {
      if (n <= count) last = n;
    }
    for (unsigned n = 1; n < last; ++n) {
      if (present.count(n) == 0) gaps.push_back(n);
    }
    const std::string reads = MissingReadsAs(kind, countKey);
    if (!gaps.empty())
      Warn(section.name, countKey, (gaps.size() == 1 ? "entry " : "entries ") + NumberList(gaps) +
                                       (gaps.size() == 1 ? " is missing and is " : " are missing and are ") + reads);
    if (count > last)
      Warn(section.name, countKey,
           "count " + std::to_string(count) + " runs past the last entry present (" +
               (last == 0 ? std::string("none") : std::to_string(last)) + "): " +
               (count == last + 1 ? "entry " + std::to_string(count) + " is "
                                  : "entries " + std::to_string(last + 1) + "-" + std::to_string(count) + " are ") +
               reads);

    for (unsigned n = 1; n <= count; ++n) {
      if (present.count(n) != 0) CheckEntry(section, kind, rules, countKey, n);
    }
  }

  static std::string MissingReadsAs(Kind kind, const std::string& countKey) {
    if (kind == Kind::kDriverReg) return "read as DEFAULT_ID";
    if (kind == Kind::kCleanup || kind == Kind::kRefresh) return "read as an empty ID, which matches no device";
    if (countKey == "ADDREG") return "written as add lines of empty fields";
    if (kind == Kind::kStatic) return "written as delete lines without root, key or value name";
    return "left out (no value name)";
  }

  void CheckEntry(const IniFile::Section& section, Kind kind, const Rules& rules,
                  const std::string& countKey, unsigned n) {
    std::string flagsKey = countKey + std::to_string(n) + "_FLAGS";
    std::optional<std::string> flags = ini_.Value(section.name, flagsKey);
    for (const Numbered& rule : rules.numbered) {
      if (countKey != rule.countKey) continue;
      std::string key = std::string(rule.prefix) + std::to_string(n) + rule.suffix;
      std::optional<std::string> value = ini_.Value(section.name, key);
      if (rule.field == Field::kName && countKey == "DELREG" && (!value || value->empty())) {
        Warn(section.name, key,
             kind == Kind::kStatic
                 ? "a delete entry without a value name deletes the whole key with everything below it"
                 : "a delete entry without a value name is left out (it would delete the whole driver key)");
        continue;
      }
      if (rule.field == Field::kRoot && (!value || value->empty())) {
        Warn(section.name, key, "no root: the INF installer skips the line");
        continue;
      }
      if (!value) continue;
      if (rule.field != Field::kId && Unquoted(section, key) && !InfQuoted(*value))
        Warn(section.name, key, "the settings reader drops the quotes around the value: the INF gets " + *value);
      if (rule.field == Field::kId) {
        CheckId(section.name, key, *value, kind);
      } else {
        CheckField(section.name, key, *value, rule.field, flags.value_or(""));
      }
    }
  }

  static bool Unquoted(const IniFile::Section& section, const std::string& key) {
    const IniFile::Key* entry = section.FindKey(key);
    return entry != nullptr && entry->unquoted;
  }

  void CheckId(const std::string& section, const std::string& key, const std::string& id, Kind kind) {
    if (id.size() > kLongestId) {
      Warn(section, key, "skipped: an ID of " + std::to_string(id.size()) +
                             " characters fills its buffer (at most " + std::to_string(kLongestId) + ")");
      return;
    }
    if (id.empty()) Warn(section, key, "an empty ID matches no device: the entry does nothing");
    if (kind == Kind::kDriverReg && DeviceSectionName(id, in_.osSuffix).size() >= kDeviceIdCapacity)
      Warn(section, key, "skipped: the section name " + DeviceSectionName(id, in_.osSuffix).substr(0, 40) +
                             "... does not fit in " + std::to_string(kDeviceIdCapacity - 1) + " characters");
  }

  void CheckField(const std::string& section, const std::string& key, const std::string& value,
                  Field field, const std::string& flags) {
    // A value longer than the field holds would be cut: Pakrun leaves its entry out.
    if (value.size() > kLongestField)
      Warn(section, key, std::to_string(value.size()) + " characters do not fit the " +
                             std::to_string(kLongestField) +
                             " a field holds: the entry is left out of the INF");
    const bool quoted = field == Field::kSubkey || field == Field::kName;
    if (quoted && value.find('"') != std::string::npos)
      Warn(section, key, "a double quote ends the INF field's quotes early");
    if (LonePercent(value))
      Warn(section, key, "a percent sign starts an INF string substitution (%name%); write %% for one");
    if (!quoted && !InfQuoted(value)) {
      bool whole = false;
      unsigned flagBits = ProfileInt(flags, &whole);
      const bool listType = whole && ((flagBits & 0x00010000u) != 0 || (flagBits & 0xFFFF0001u) == 0x1u);
      if (value.find(',') != std::string::npos && !(field == Field::kValue && listType))
        Warn(section, key, "a comma splits the value into more INF fields");
      if (value.find(';') != std::string::npos)
        Warn(section, key, "a semicolon starts an INF comment: the rest of the line is dropped");
      if (field == Field::kValue && !value.empty() && value.back() == '\\')
        Warn(section, key, "a trailing backslash joins the next INF line to this one");
    }
    if (field == Field::kRoot) CheckRoot(section, key, value);
    if (field == Field::kFlags) CheckFlags(section, key, value);
  }

  void CheckRoot(const std::string& section, const std::string& key, const std::string& root) {
    for (const char* known : {"HKLM", "HKCU", "HKCR", "HKU"}) {
      if (SameText(root, known)) return;
    }
    if (SameText(root, "HKR"))
      Warn(section, key, "HKR names no key outside a device's own install: the line changes nothing");
    else
      Warn(section, key, "the INF installer knows no root \"" + root + "\" (HKLM, HKCU, HKCR, HKU)");
  }

  void CheckFlags(const std::string& section, const std::string& key, const std::string& text) {
    if (text.empty()) return;
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > (hex ? 8u : 10u) ||
        digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos ||
        (!hex && std::stoull(digits) > UINT32_MAX)) {
      Warn(section, key, "\"" + text + "\" is no flags value the INF installer reads (decimal or 0x hex)");
      return;
    }
    const auto flags = static_cast<std::uint32_t>(std::stoull(digits, nullptr, hex ? 16 : 10));
    // FLG_ADDREG_BINVALUETYPE, NOCLOBBER, DELVAL, APPEND, KEYONLY, OVERWRITEONLY, 64BITKEY,
    // KEYONLY_COMMON, 32BITKEY, DELREG_BIT; the type in the upper word.
    constexpr std::uint32_t kKnownBits = 0x1u | 0x2u | 0x4u | 0x8u | 0x10u | 0x20u | 0x1000u |
                                         0x2000u | 0x4000u | 0x8000u;
    char shown[16];
    std::snprintf(shown, sizeof shown, "0x%08X", flags);
    if ((flags & 0xFFFFu & ~kKnownBits) != 0)
      Warn(section, key, std::string("flags ") + shown + " hold bits the INF installer does not know");
    else if ((flags & 0x1u) == 0 && (flags >> 16) > 2)
      Warn(section, key, std::string("flags ") + shown + " name no value type the INF installer knows");
  }

  void CheckParams() {
    const IniFile::Section* params = ini_.Find("PARAMS");
    if (params == nullptr) return;
    for (const char* name : kSwitches) {
      std::optional<std::string> value = ini_.Value("PARAMS", name);
      if (value && *value != "0" && *value != "1")
        Warn("PARAMS", name, "\"" + *value + "\" is not 0 or 1: the switch is " +
                                 (ini_.SwitchOn(name) ? "on" : "off"));
    }
    for (const char* name : {"CMDEXE", "CMDINI"}) {
      std::optional<std::string> value = ini_.Value("PARAMS", name);
      if (value && value->size() > kLongestName)
        Warn("PARAMS", name, "a name of " + std::to_string(value->size()) +
                                 " characters fills its buffer: the setup program is not started");
    }
    if (ini_.SwitchOn("SWAPCMD")) {
      std::string ini = ini_.Text("PARAMS", "CMDINI", "Netprep.ini");
      if (ini.find_first_of(" \t") != std::string::npos)
        Warn("PARAMS", "CMDINI", "\"" + ini + "\" holds a blank: the setup program receives the INI path split in two");
      else if (!in_.shortFormMissing && in_.shortFolder.find_first_of(" \t") != std::string::npos)
        Warn("PARAMS", "CMDINI", "the short program folder \"" + in_.shortFolder +
                                     "\" holds a blank: the setup program receives the INI path split in two");
    }
  }

  void CheckDeviceSections() {
    if (!ini_.SwitchOn(kDriverRegSection)) return;
    for (const ListEntry& entry : VisitedEntries(ini_, kDriverRegSection, in_.osSuffix)) {
      std::string name = DeviceSectionName(entry.id, in_.osSuffix);
      if (ini_.Find(name) == nullptr)
        Warn(kDriverRegSection, entry.key, "no section [" + name + "]: nothing is applied to this device on " +
                                        in_.windowsLabel);
    }
  }

  void CheckScript() {
    if (!ini_.SwitchOn("STATICREGFROMFILE")) return;
    if (!in_.script) {
      const std::string& looked = in_.scriptSource.empty() ? in_.scriptName : in_.scriptSource;
      Warn("PARAMS", "STATICREGFROMFILE", "no registry script " + looked + " beside the settings file (Pakrun looks for " +
                                              in_.scriptName + "): regedit imports nothing");
      return;
    }
    std::string text = *in_.script;
    if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
        static_cast<unsigned char>(text[1]) == 0xFE) {
      // UTF-16 (little endian), as the editor of Windows 2000 and later saves: read the
      // first line's characters.
      std::string narrow;
      for (std::size_t i = 2; i + 1 < text.size() && text[i] != '\n'; i += 2) narrow += text[i];
      text = narrow;
    }
    std::string first = sim::Trim(text.substr(0, text.find('\n')));
    if (first != "REGEDIT4" && first != "Windows Registry Editor Version 5.00")
      Warn("PARAMS", "STATICREGFROMFILE",
           in_.scriptName + " does not begin with REGEDIT4 or Windows Registry Editor Version 5.00: "
                            "regedit imports nothing");
  }

  const LintInput& in_;
  IniFile ini_;
  std::vector<Warning>* out_;
  std::map<std::string, Kind, sim::NoCaseLess> known_;
};

}  // namespace

IniFile IniFile::Parse(const std::string& bytes) {
  IniFile ini;
  Section* current = nullptr;
  for (const std::string& line : sim::TrimmedLines(bytes)) {
    if (line.empty() || line[0] == ';') continue;
    if (auto name = sim::SectionName(line)) {
      ini.first_.try_emplace(*name, ini.sections.size());
      ini.sections.push_back(Section{*name, {}, {}});
      current = &ini.sections.back();
      continue;
    }
    auto equals = line.find('=');
    if (current == nullptr || equals == std::string::npos) continue;
    std::string value = sim::Trim(line.substr(equals + 1));
    const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                        value.back() == value.front();
    if (quoted) value = value.substr(1, value.size() - 2);
    std::string name = sim::Trim(line.substr(0, equals));
    current->first.try_emplace(name, current->keys.size());
    current->keys.push_back(Key{std::move(name), value, quoted});
  }
  return ini;
}

const IniFile::Key* IniFile::Section::FindKey(const std::string& key) const {
  auto at = first.find(key);
  return at == first.end() ? nullptr : &keys[at->second];
}

const IniFile::Section* IniFile::Find(const std::string& name) const {
  auto at = first_.find(name);
  return at == first_.end() ? nullptr : &sections[at->second];
}

std::optional<std::string> IniFile::Value(const std::string& section, const std::string& key) const {
  const Section* found = Find(section);
  const Key* entry = found == nullptr ? nullptr : found->FindKey(key);
  if (entry == nullptr) return std::nullopt;
  return entry->value;
}

bool IniFile::SwitchOn(const std::string& key) const {
  std::optional<std::string> value = Value("PARAMS", key);
  return value && !value->empty() && ProfileInt(*value, nullptr) == 1;
}

unsigned IniFile::Count(const std::string& section, const std::string& key) const {
  std::optional<std::string> value = Value(section, key);
  return value && !value->empty() ? Effective(ProfileInt(*value, nullptr)) : 0u;
}

std::string IniFile::Text(const std::string& section, const std::string& key,
                          const std::string& defaultText) const {
  return Value(section, key).value_or(defaultText);
}

std::string DeviceSectionName(const std::string& id, const std::string& osSuffix) {
  return std::string(kDriverRegSection) + "_" + id + osSuffix;
}

std::vector<ListEntry> VisitedEntries(const IniFile& ini, const std::string& section,
                                      const std::string& osSuffix) {
  const bool driverReg = SameText(section, kDriverRegSection);
  const char* countKey = driverReg ? "NIC" : SameText(section, "REFRESH") ? "DETECTCOUNT" : "CLEANCOUNT";
  const char* prefix = SameText(section, "REFRESH") ? "DETECTDEV" : "DEV";
  std::vector<ListEntry> entries;
  const unsigned count = ini.Count(section, countKey);
  for (unsigned n = 1; n <= count; ++n) {
    std::string key = prefix + std::to_string(n);
    std::string id = ini.Text(section, key, driverReg ? kDefaultId : "");
    if (id.size() > kLongestId) continue;
    if (driverReg && DeviceSectionName(id, osSuffix).size() >= kDeviceIdCapacity) continue;
    entries.push_back(ListEntry{key, id});
  }
  return entries;
}

namespace {

// The traps below are each one named check of the table kChecks: a check reads the file
// (and what the run formed) and adds a warning naming the section and key.
struct Context {
  const LintInput& in;
  const IniFile& ini;
  std::vector<Warning>* out;
  void Warn(const std::string& section, const std::string& key, const std::string& message) const {
    out->push_back(Warning{section, key, message, "", "", 1, 1});
  }
};

bool Utf16Le(const std::string& bytes) {
  return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
         static_cast<unsigned char>(bytes[1]) == 0xFE;
}

bool Utf8Mark(const std::string& bytes) { return bytes.rfind("\xEF\xBB\xBF", 0) == 0; }

// How the INF installer reads a REG_DWORD's data: a decimal or 0x hexadecimal number.
bool DwordNumber(const std::string& text) {
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  std::string digits = hex ? text.substr(2) : text;
  return !digits.empty() && digits.size() <= (hex ? 8u : 10u) &&
         digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") == std::string::npos &&
         (hex || std::stoull(digits) <= UINT32_MAX);
}

// CMDEXE is a name in Pakrun's folder: a full path, or none, names no program.
void SetupProgramPath(const Context& c) {
  std::optional<std::string> exe = c.ini.Value("PARAMS", "CMDEXE");
  if (!exe) return;
  if (exe->empty())
    c.Warn("PARAMS", "CMDEXE", "an empty name: Pakrun starts its own folder, which is no program, and nothing runs");
  else if ((exe->size() >= 2 && (*exe)[1] == ':') || (*exe)[0] == '\\')
    c.Warn("PARAMS", "CMDEXE", "a full path: Pakrun puts its own folder in front of it (\"" + c.in.shortFolder +
                                   "\\" + *exe + "\"), which names no program, and nothing runs");
}

// REG_DWORD data the INF installer cannot read as a number.
void DwordData(const Context& c) {
  for (const IniFile::Section& section : c.ini.sections) {
    const bool device = StartsWithNoCase(section.name, "DRIVERREG_");
    if (!device && !SameText(section.name, "STATICREG")) continue;
    if (c.ini.Find(section.name) != &section) continue;  // a second section is never read
    const unsigned count = c.ini.Count(section.name, "ADDREG");
    for (unsigned n = 1; n <= count; ++n) {
      const std::string entry = "ADDREG" + std::to_string(n);
      std::optional<std::string> flags = c.ini.Value(section.name, entry + "_FLAGS");
      bool whole = false;
      if (!flags || (ProfileInt(*flags, &whole) & 0xFFFF0001u) != 0x00010001u || !whole) continue;
      std::string value = c.ini.Text(section.name, entry + "_VALUE", "");
      if (!value.empty() && !DwordNumber(value))
        c.Warn(section.name, entry + "_VALUE", "\"" + value + "\" is no number: the INF installer cannot write it as the REG_DWORD its flags name");
    }
  }
}

// CLEANUP and REFRESH compare IDs letter case and all; Windows reports hardware IDs in
// upper case.
void IdCase(const Context& c) {
  for (const char* list : {"CLEANUP", "REFRESH"}) {
    if (!c.ini.SwitchOn(list)) continue;
    for (const ListEntry& entry : VisitedEntries(c.ini, list)) {
      if (entry.id.find_first_of("abcdefghijklmnopqrstuvwxyz") != std::string::npos)
        c.Warn(list, entry.key, "lower-case letters: " + std::string(list) +
                                    " compares IDs letter case and all, and Windows reports hardware IDs in upper case, so this matches no device");
    }
  }
}

// The same device twice in DRIVERREG: its section goes twice to the first such adapter.
void DriverIdTwice(const Context& c) {
  if (!c.ini.SwitchOn(kDriverRegSection)) return;
  std::map<std::string, std::string, sim::NoCaseLess> first;
  for (const ListEntry& entry : VisitedEntries(c.ini, kDriverRegSection, c.in.osSuffix)) {
    auto [at, inserted] = first.try_emplace(entry.id, entry.key);
    if (!inserted)
      c.Warn(kDriverRegSection, entry.key, "the same ID as " + at->second +
                                               ": its section is applied twice to the first such adapter, and a second identical adapter gets nothing");
  }
}

// Encodings that some Windows reads otherwise than the author's editor shows.
void SettingsEncoding(const Context& c) {
  const std::string& bytes = c.in.settings;
  if (Utf16Le(bytes))
    c.Warn("", "", "the settings file is UTF-16 (\"Unicode\"): Windows 2000, XP and later read it, Windows 98 reads "
                   "no section of it; save it as ANSI");
  else if (Utf8Mark(bytes)) {
    const std::string first = sim::Trim(bytes.substr(3, bytes.find('\n') == std::string::npos ? std::string::npos : bytes.find('\n') - 3));
    if (auto name = sim::SectionName(first))
      c.Warn(*name, "", "the UTF-8 byte-order mark before this first line is read by Windows as part of it: "
                        "the section is never read (Wine reads past the mark); save the file as ANSI");
    else
      c.Warn("", "", "a UTF-8 byte-order mark begins the settings file: Windows reads it as part of the first line; "
                     "save the file as ANSI");
  }
  if (bytes.find('\0') != std::string::npos && !Utf16Le(bytes))
    c.Warn("", "", "the settings file holds a NUL byte: the preview ends the value there, Wine reads no key of such "
                   "a file at all, and Windows documents neither; remove it");
}

// The file forms regedit reads: Windows 98's only ANSI text beginning REGEDIT4; 2000 and
// later also "Windows Registry Editor Version 5.00", ANSI or UTF-16LE with its mark.
void ScriptForm(const Context& c) {
  if (!c.ini.SwitchOn("STATICREGFROMFILE") || !c.in.script) return;
  const std::string& bytes = *c.in.script;
  if (Utf16Le(bytes)) {
    c.Warn("PARAMS", "STATICREGFROMFILE",
           c.in.scriptName + " is UTF-16: the registry editor of Windows 98 does not read it and imports nothing "
                             "(2000 and later do); save it as ANSI with REGEDIT4");
    return;
  }
  if (sim::Trim(bytes.substr(0, bytes.find('\n'))) == "Windows Registry Editor Version 5.00")
    c.Warn("PARAMS", "STATICREGFROMFILE",
           c.in.scriptName + " begins with Windows Registry Editor Version 5.00: the registry editor of Windows 98 "
                             "reads only REGEDIT4 and imports nothing (2000 and later read both); begin it with REGEDIT4");
}

bool HexDigits(const std::string& text, std::size_t most) {
  return !text.empty() && text.size() <= most &&
         text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

// What regedit would refuse or read otherwise in a value's data; empty when it reads it.
std::string DataProblem(const std::string& data) {
  if (data == "-" || (data.size() >= 2 && data.front() == '"' && data.back() == '"')) return "";
  if (data.rfind("dword:", 0) == 0)
    return HexDigits(data.substr(6), 8) ? "" : "\"" + data + "\" is no dword: 1 to 8 hexadecimal digits";
  std::size_t colon = data.find(':');
  const std::string type = data.substr(0, colon);
  const bool hexType = type == "hex" || (type.rfind("hex(", 0) == 0 && type.back() == ')' &&
                                         HexDigits(type.substr(4, type.size() - 5), 8));
  if (colon == std::string::npos || !hexType) return "\"" + data + "\" is no data regedit reads (\"text\", dword:, hex:, -)";
  std::string bytes = data.substr(colon + 1);
  for (std::size_t at = 0; at < bytes.size();) {
    std::size_t comma = bytes.find(',', at);
    std::string byte = sim::Trim(bytes.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
    if (!HexDigits(byte, 2)) return "\"" + byte + "\" in " + type + ": data is no byte (two hexadecimal digits)";
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return "";
}

// Each line of the registry script that regedit would refuse or read otherwise: data, an
// unknown root, a line that is no key, value or comment.
void ScriptData(const Context& c) {
  if (!c.ini.SwitchOn("STATICREGFROMFILE") || !c.in.script) return;
  std::string text = *c.in.script;
  if (Utf16Le(text)) {
    std::string narrow;
    for (std::size_t i = 2; i + 1 < text.size(); i += 2) narrow += text[i + 1] == 0 ? text[i] : '?';
    text = narrow;
  }
  std::vector<std::string> lines = sim::TrimmedLines(text);
  if (lines.empty() || (lines[0] != "REGEDIT4" && lines[0] != "Windows Registry Editor Version 5.00")) return;
  auto warn = [&](std::size_t line, const std::string& what) {
    c.Warn("PARAMS", "STATICREGFROMFILE", c.in.scriptName + " line " + std::to_string(line + 1) + ": " + what);
  };
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::string line = lines[i];
    const std::size_t first = i;
    while (!line.empty() && line.back() == '\\' && i + 1 < lines.size()) line = line.substr(0, line.size() - 1) + lines[++i];
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      std::string key = line.substr(line[1] == '-' ? 2 : 1, line.find(']') == std::string::npos ? std::string::npos : line.find(']') - (line[1] == '-' ? 2 : 1));
      std::string root = key.substr(0, key.find('\\'));
      bool known = false;
      for (const char* name : {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT", "HKEY_USERS", "HKEY_CURRENT_CONFIG"})
        known = known || root == name;
      if (!known) warn(first, "regedit knows no root \"" + root + "\": the key is not " + (line[1] == '-' ? "deleted" : "written"));
      continue;
    }
    std::size_t equals = std::string::npos;
    if (line[0] == '@') {
      equals = line.find('=');
    } else if (line[0] == '"') {
      for (std::size_t at = 1; at < line.size(); ++at) {
        if (line[at] == '\\') ++at;
        else if (line[at] == '"') {
          equals = line.find_first_not_of(" \t", at + 1);
          break;
        }
      }
    }
    if (equals == std::string::npos || line[equals] != '=') {
      warn(first, "regedit reads no key, value or comment in \"" + line.substr(0, 40) + "\"");
      continue;
    }
    std::string problem = DataProblem(sim::Trim(line.substr(equals + 1)));
    if (!problem.empty()) warn(first, problem);
  }
}

// The INF path and the installer's path go on the installer's command line unquoted:
// "<SystemRoot>\\System32\\rundll32.exe setupapi,InstallHinfSection DefaultInstall 132
// <TEMP>\\<file>.inf". Only with STATICREG or DRIVERREG on is an INF written.
void InfPaths(const Context& c) {
  if (!c.ini.SwitchOn("STATICREG") && !c.ini.SwitchOn(kDriverRegSection)) return;
  const std::string& temp = c.in.temp;
  const std::string& root = c.in.systemRoot;
  // "StaticAddDel.inf" and "DriverAddDel.inf" are as long: TEMP, a backslash and 16 characters
  // must fit a MAX_PATH buffer.
  constexpr std::size_t kInfName = 16;
  if (temp.size() + 1 + kInfName > kLongestPath)
    c.Warn("", "--temp", "TEMP is " + std::to_string(temp.size()) + " characters: the INF path (TEMP\\StaticAddDel.inf) does not fit in " +
                             std::to_string(kLongestPath) + " characters, so Pakrun writes no INF file and applies none of the [STATICREG] or per-device entries, without a word");
  else if (temp.find_first_of(" \t") != std::string::npos)
    c.Warn("", "--temp", "TEMP \"" + temp + "\" holds a blank: Pakrun puts the INF path unquoted at the end of the installer's command line (... 132 " + temp +
                             "\\StaticAddDel.inf), where it is found only by an installer that takes the rest of the line as the path; give TEMP in its short (8.3) form");
  if (root.empty()) {
    c.Warn("", c.in.systemRootOption, "no SystemRoot (as on Windows 98 unless the installer sets one): Pakrun writes and deletes each INF file "
                                      "but starts no installer, so nothing of [STATICREG] or the per-device sections is applied");
    return;
  }
  // "\\System32\\rundll32.exe" is 22 characters.
  if (root.size() + 22 > kLongestPath)
    c.Warn("", c.in.systemRootOption, "SystemRoot is " + std::to_string(root.size()) + " characters: the installer's path does not fit in " +
                                          std::to_string(kLongestPath) + " characters, so the INF files are written and deleted and none is applied");
  else if (root.find_first_of(" \t") != std::string::npos)
    c.Warn("", c.in.systemRootOption, "SystemRoot \"" + root + "\" holds a blank: the installer's command line begins with its path unquoted (" + root +
                                          "\\System32\\rundll32.exe setupapi,...), so rundll32 takes the part after the blank for the library to load and no INF file is applied");
}

// The renames work below SystemRoot.
void RenameWithoutSystemRoot(const Context& c) {
  if (c.in.systemRoot.empty() && c.ini.SwitchOn("RENAME"))
    c.Warn("", c.in.systemRootOption, "no SystemRoot (as on Windows 98 unless the installer sets one): RENAME renames nothing");
}

struct Check {
  const char* name;
  void (*run)(const Context&);
};

const Check kChecks[] = {
    {"setup program path", SetupProgramPath},
    {"REG_DWORD data", DwordData},
    {"letter case of compared IDs", IdCase},
    {"device listed twice in DRIVERREG", DriverIdTwice},
    {"settings file encoding", SettingsEncoding},
    {"registry script form", ScriptForm},
    {"registry script data", ScriptData},
    {"TEMP and SystemRoot on the installer's command line", InfPaths},
    {"renames without SystemRoot", RenameWithoutSystemRoot},
};

}  // namespace

std::vector<Warning> Lint(const LintInput& input) {
  std::vector<Warning> warnings;
  // Names, switches, lists and INF fields, section by section.
  Linter(input, &warnings).Run();
  const IniFile ini = IniFile::Parse(input.settings);
  const Context context{input, ini, &warnings};
  for (const Check& check : kChecks) check.run(context);
  return warnings;
}

}  // namespace preview
