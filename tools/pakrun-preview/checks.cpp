#include "tools/pakrun-preview/checks.h"

#include <climits>
#include <cstring>

#include "pakrun/device_lists.h"
#include "pakrun/settings.h"

namespace preview {

namespace {

struct Check {
  const char* id;
  const char* title;
  void (*run)(Context&);
};

// The registry: one row per warning the tool can give.
const Check kChecks[] = {
    {"PP001", "settings file in UTF-16", SettingsUtf16},
    {"PP002", "UTF-8 byte-order mark", Utf8Mark},
    {"PP003", "NUL byte in the settings file", NulByte},
    {"PP004", "unknown check named in a disable comment", UnknownDisabledCheck},
    {"PP101", "second section of a name", SecondSection},
    {"PP102", "section Pakrun never reads", UnknownSection},
    {"PP103", "second key of a name", SecondKey},
    {"PP104", "root or subkey in a per-device section", DeviceRootKey},
    {"PP105", "key Pakrun never reads", UnknownKey},
    {"PP201", "count that is not a plain number", CountNotPlain},
    {"PP202", "negative count", CountNegative},
    {"PP203", "count above the bound of the lists", CountAboveBound},
    {"PP204", "entry numbered above its count", EntryAboveCount},
    {"PP205", "entries missing below the count", EntriesMissing},
    {"PP206", "count past the last entry", CountPastEntries},
    {"PP207", "hardware ID that fills its buffer", IdFillsBuffer},
    {"PP208", "empty hardware ID", IdEmpty},
    {"PP209", "per-device section name too long", SectionNameTooLong},
    {"PP210", "per-device section missing", DeviceSectionMissing},
    {"PP211", "lower-case letters in a compared ID", IdLowerCase},
    {"PP212", "device listed twice in DRIVERREG", DeviceTwice},
    {"PP301", "delete entry without a value name", DeleteWithoutName},
    {"PP302", "entry without a root", EntryWithoutRoot},
    {"PP303", "quotes dropped by the settings reader", QuotesDropped},
    {"PP304", "INF field longer than its buffer", FieldTooLong},
    {"PP305", "double quote in a quoted INF field", QuoteInField},
    {"PP306", "lone percent sign", LonePercent},
    {"PP307", "comma that splits an INF field", CommaSplits},
    {"PP308", "semicolon that starts an INF comment", SemicolonComment},
    {"PP309", "trailing backslash in a value", TrailingBackslash},
    {"PP310", "HKR outside a device's install", HkrRoot},
    {"PP311", "root the INF installer does not know", UnknownRoot},
    {"PP312", "flags the INF installer cannot read", FlagsUnreadable},
    {"PP313", "unknown flag bits", FlagBitsUnknown},
    {"PP314", "unknown value type", ValueTypeUnknown},
    {"PP315", "REG_DWORD data that is no number", DwordData},
    {"PP401", "switch that is not 0 or 1", SwitchNotBinary},
    {"PP402", "setup program or INI name that fills its buffer", NameFillsBuffer},
    {"PP403", "INI name with a blank", IniNameBlank},
    {"PP404", "empty setup program name", SetupNameEmpty},
    {"PP405", "setup program given as a full path", SetupFullPath},
    {"PP406", "setup command line too long for its buffer", CommandLineTooLong},
    {"PP501", "registry script missing", ScriptMissing},
    {"PP502", "registry script without a header", ScriptHeader},
    {"PP503", "registry script in UTF-16", ScriptUtf16},
    {"PP504", "registry script of version 5", ScriptVersion5},
    {"PP505", "registry root regedit does not know", ScriptRoot},
    {"PP506", "script line regedit does not read", ScriptLine},
    {"PP507", "value data regedit refuses", ScriptData},
    {"PP601", "TEMP too long for the INF path", TempTooLong},
    {"PP602", "TEMP with a blank", TempBlank},
    {"PP603", "no SystemRoot for the INF installer", NoSystemRootForInf},
    {"PP604", "SystemRoot too long for the installer's path", SystemRootTooLong},
    {"PP605", "SystemRoot with a blank", SystemRootBlank},
    {"PP606", "no SystemRoot for the renames", NoSystemRootForRenames},
};

constexpr char kDirective[] = "pakrun-preview:";

// The ids of a comment line "; pakrun-preview: disable=ID[,ID...]" with the column of
// each; none when the line is no such comment.
std::vector<std::pair<std::string, int>> DirectiveIds(std::string_view line) {
  std::vector<std::pair<std::string, int>> ids;
  std::size_t at = line.find_first_not_of(" \t");
  if (at == std::string_view::npos || line[at] != ';') return ids;
  at = line.find_first_not_of(" \t", at + 1);
  if (at == std::string_view::npos || line.compare(at, sizeof kDirective - 1, kDirective) != 0) return ids;
  at = line.find_first_not_of(" \t", at + sizeof kDirective - 1);
  constexpr std::string_view kDisable = "disable=";
  if (at == std::string_view::npos || line.compare(at, kDisable.size(), kDisable) != 0) return ids;
  at += kDisable.size();
  while (at <= line.size()) {
    std::size_t comma = line.find(',', at);
    if (comma == std::string_view::npos) comma = line.size();
    std::string_view id = line.substr(at, comma - at);
    const std::size_t first = id.find_first_not_of(" \t\r");
    if (first != std::string_view::npos) {
      const std::size_t last = id.find_last_not_of(" \t\r");
      ids.emplace_back(std::string(id.substr(first, last - first + 1)), static_cast<int>(at + first) + 1);
    }
    at = comma + 1;
  }
  return ids;
}

}  // namespace

const std::vector<CheckInfo>& AllChecks() {
  static const std::vector<CheckInfo> kAll = [] {
    std::vector<CheckInfo> all;
    for (const Check& check : kChecks) all.push_back(CheckInfo{check.id, check.title});
    return all;
  }();
  return kAll;
}

const CheckInfo* FindCheck(const char* id) {
  for (const CheckInfo& check : AllChecks()) {
    if (std::strcmp(check.id, id) == 0) return &check;
  }
  return nullptr;
}

void RunChecks(Context& context) {
  for (const Check& check : kChecks) check.run(context);
}

const char* const kSwitches[7] = {"SWAPCMD", "CLEANUP", "RENAME", "REFRESH",
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

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && sim::SameText(text.substr(0, prefix.size()), prefix);
}

// n for "<prefix><n><suffix>" with n written as Pakrun writes it (decimal from 1, no
// leading zeros); 0 when the key has the rule's shape but a number Pakrun never writes;
// none when it has another shape.
std::optional<unsigned> EntryNumber(const std::string& key, const Numbered& rule) {
  const std::string prefix = rule.prefix;
  const std::string suffix = rule.suffix;
  if (!StartsWithNoCase(key, prefix) || key.size() <= prefix.size() + suffix.size()) return std::nullopt;
  const std::string digits = key.substr(prefix.size(), key.size() - prefix.size() - suffix.size());
  if (!sim::SameText(key.substr(key.size() - suffix.size()), suffix)) return std::nullopt;
  if (digits.empty() || digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  const unsigned long long n = std::stoull(digits);
  if (digits[0] == '0' || n > UINT_MAX) return 0u;
  return static_cast<unsigned>(n);
}

// ReadCount's rule for a raw value: a negative count is 0, a large one held to the bound.
unsigned EffectiveCount(unsigned raw) {
  if (raw > static_cast<unsigned>(INT_MAX)) return 0;
  return raw > kMaxListEntries ? kMaxListEntries : raw;
}

bool HexNumber(const std::string& text) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  return !digits.empty() && digits.size() <= (hex ? 8u : 10u) &&
         digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") == std::string::npos &&
         (hex || std::stoull(digits) <= 0xFFFFFFFFull);
}

Context::Context(const LintInput& input)
    : in(input), ini(IniFile::Parse(input.settings)), settingsText(IniFile::Text(input.settings)) {
  if (in.script) {
    const std::string& bytes = *in.script;
    scriptLines = sim::TrimmedLines(sim::HasUtf16LeMark(bytes) ? sim::AnsiOfUtf16(bytes.substr(2)) : bytes);
  }
  // The sections Pakrun reads: the fixed ones, and one per device of the DRIVERREG list
  // for each OS suffix.
  known = {{"PARAMS", Kind::kParams}, {"CLEANUP", Kind::kCleanup}, {"REFRESH", Kind::kRefresh},
           {"DRIVERREG", Kind::kDriverReg}, {"STATICREG", Kind::kStatic}};
  for (const char* suffix : {"_2000", "_XP", "_2003", "_ELSE"}) {
    for (const ListEntry& entry : VisitedEntries(ini, "DRIVERREG", suffix))
      known.emplace(DeviceSectionName(entry.id, suffix), Kind::kDevice);
  }
  for (const auto& [name, kind] : known) {
    const IniFile::Section* section = ini.Find(name);
    if (section == nullptr) continue;
    const Rules& rules = RulesOf(kind);
    for (const char* countKey : {"CLEANCOUNT", "DETECTCOUNT", "NIC", "ADDREG", "DELREG"}) {
      bool counts = false;
      for (const Numbered& rule : rules.numbered) counts = counts || std::string(rule.countKey) == countKey;
      if (!counts) continue;
      List list{section, kind, countKey, ini.Value(section->name, countKey), 0, true, 0, {}};
      if (list.text && !list.text->empty()) list.raw = sim::ProfileNumber(*list.text, &list.whole);
      list.count = EffectiveCount(list.raw);
      std::set<std::string, sim::NoCaseLess> seen;
      for (const IniFile::Key& key : section->keys) {
        if (!seen.insert(key.name).second) continue;  // a second key is never read
        for (const Numbered& rule : rules.numbered) {
          if (countKey != rule.countKey) continue;
          std::optional<unsigned> n = EntryNumber(key.name, rule);
          if (n && *n > 0) list.present.insert(*n);
        }
      }
      lists.push_back(std::move(list));
    }
  }
  for (const List& list : lists) {
    const Rules& rules = RulesOf(list.kind);
    for (unsigned n : list.present) {
      if (n > list.count) break;
      const std::string flags =
          ini.Value(list.section->name, list.countKey + std::to_string(n) + "_FLAGS").value_or("");
      for (const Numbered& rule : rules.numbered) {
        if (list.countKey != rule.countKey) continue;
        const std::string key = std::string(rule.prefix) + std::to_string(n) + rule.suffix;
        fields.push_back(EntryField{&list, n, &rule, key, ini.Value(list.section->name, key), flags});
      }
    }
  }
  // The disable comments: those before the first section hold for the whole file; any
  // other silences the line that follows it, comment lines passed over, so that directives
  // may stand one above the other, or with a comment giving the reason between. A blank
  // line ends that: what stands below it is not the line the directive was written for.
  bool beforeSections = true;
  int number = 0;
  std::size_t waiting = 0;  // the first directive whose target is not known yet
  for (std::string_view line : sim::ProfileLines(settingsText)) {
    ++number;
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
      waiting = directives.size();
      continue;
    }
    if (line[first] == ';') {
      for (auto& [id, column] : DirectiveIds(line)) directives.push_back(Directive{id, number, column, beforeSections, 0});
      continue;
    }
    if (line[first] == '[') beforeSections = false;
    for (; waiting < directives.size(); ++waiting) directives[waiting].target = number;
  }
}

void Context::Add(const char* id, const std::string& section, const std::string& key, const std::string& message,
                  Place place) {
  Warning warning;
  warning.section = section;
  warning.key = key;
  warning.message = message;
  warning.id = id;
  warning.file = std::move(place.file);
  warning.line = place.line;
  warning.column = place.column;
  warnings.push_back(std::move(warning));
}

void Context::Warn(const char* id, const std::string& section, const std::string& key, const std::string& message,
                   At at) {
  const IniFile::Section* found = ini.Find(section);
  const IniFile::Key* entry = found == nullptr || key.empty() ? nullptr : found->FindKey(key);
  Place place{in.settingsFile, 1, 1};
  if (entry != nullptr) place = Place{in.settingsFile, entry->line, at == At::kName ? entry->nameColumn : entry->valueColumn};
  else if (found != nullptr) place = Place{in.settingsFile, found->line, found->column};
  Add(id, section, key, message, place);
}

void Context::WarnSection(const char* id, const IniFile::Section& section, const std::string& message) {
  Add(id, section.name, "", message, Place{in.settingsFile, section.line, section.column});
}

void Context::WarnKey(const char* id, const IniFile::Section& section, const IniFile::Key& key,
                      const std::string& message, At at) {
  Add(id, section.name, key.name, message,
      Place{in.settingsFile, key.line, at == At::kName ? key.nameColumn : key.valueColumn});
}

void Context::WarnFile(const char* id, const std::string& message, int line, int column) {
  Add(id, "", "", message, Place{in.settingsFile, line, column});
}

void Context::WarnScript(const char* id, int line, const std::string& message) {
  const std::string& file = in.scriptSource.empty() ? in.scriptName : in.scriptSource;
  Add(id, "PARAMS", "STATICREGFROMFILE", message, Place{file, line, 1});
}

void Context::WarnOption(const char* id, const std::string& option, const std::string& message) {
  auto set = in.optionPlaces.find(option.rfind("--", 0) == 0 ? option.substr(2) : option);
  Add(id, "", option, message, set != in.optionPlaces.end() ? set->second : Place{in.settingsFile, 1, 1});
}

}  // namespace preview
