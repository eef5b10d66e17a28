#include "tools/pakrun-preview/lint.h"

#include <algorithm>
#include <map>
#include <set>

#include "pakrun/device_lists.h"
#include "pakrun/settings.h"
#include "platform/sim/text.h"
#include "tools/pakrun-preview/checks.h"

namespace preview {

namespace {

using sim::SameText;

constexpr char kDriverRegSection[] = "DRIVERREG";
constexpr char kDefaultId[] = "DEFAULT_ID";
// The longest hardware ID that Pakrun acts on (a longer one may have been cut).
constexpr std::size_t kLongestId = kDeviceIdCapacity - 2;

}  // namespace

std::string IniFile::Text(const std::string& bytes) {
  return sim::HasUtf16LeMark(bytes) ? sim::AnsiOfUtf16(bytes.substr(2)) : bytes;
}

IniFile IniFile::Parse(const std::string& bytes) {
  IniFile ini;
  const std::string text = Text(bytes);
  Section* current = nullptr;
  int number = 0;
  for (std::string_view whole : sim::ProfileLines(text)) {
    ++number;
    const std::size_t first = whole.find_first_not_of(" \t\r");
    if (first == std::string_view::npos || whole[first] == ';') continue;
    const std::size_t last = whole.find_last_not_of(" \t\r");
    const std::string line(whole.substr(first, last - first + 1));
    const int column = static_cast<int>(first) + 1;
    if (line[0] == '[') {
      const std::size_t close = line.find(']');
      std::string name = sim::Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      name = name.substr(0, name.find('\0'));
      ini.first_.try_emplace(name, ini.sections.size());
      ini.sections.push_back(Section{name, number, column, {}, {}});
      current = &ini.sections.back();
      continue;
    }
    const std::size_t equals = line.find('=');
    if (current == nullptr || equals == std::string::npos) continue;
    const std::size_t valueAt = line.find_first_not_of(" \t\r", equals + 1);
    std::string value = sim::Trim(line.substr(equals + 1));
    value = value.substr(0, value.find('\0'));
    const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
    if (quoted) value = value.substr(1, value.size() - 2);
    std::string name = sim::Trim(line.substr(0, equals));
    name = name.substr(0, name.find('\0'));
    current->first.try_emplace(name, current->keys.size());
    current->keys.push_back(Key{std::move(name), value, quoted, number, column,
                                column + static_cast<int>(valueAt == std::string::npos ? equals + 1 : valueAt)});
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
  return value && !value->empty() && sim::ProfileNumber(*value, nullptr) == 1;
}

unsigned IniFile::Count(const std::string& section, const std::string& key) const {
  std::optional<std::string> value = Value(section, key);
  return value && !value->empty() ? EffectiveCount(sim::ProfileNumber(*value, nullptr)) : 0u;
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

std::vector<Warning> Lint(const LintInput& input) {
  Context context(input);
  RunChecks(context);
  // Silenced: by --disable; by a disable comment before the first section, in the whole
  // settings file; by one elsewhere, on the line that follows it, comment lines passed over.
  // An unknown id silences nothing.
  std::set<std::string> everywhere(input.disabled.begin(), input.disabled.end());
  std::set<std::string> wholeFile;
  std::map<int, std::set<std::string>> onLine;
  for (const Context::Directive& directive : context.directives) {
    if (directive.wholeFile) wholeFile.insert(directive.id);
    else if (directive.target != 0) onLine[directive.target].insert(directive.id);
  }
  std::vector<Warning> warnings = std::move(context.warnings);
  for (Warning& warning : warnings) {
    const bool inSettings = warning.file == input.settingsFile;
    auto line = onLine.find(warning.line);
    warning.suppressed = everywhere.count(warning.id) != 0 ||
                         (inSettings && (wholeFile.count(warning.id) != 0 ||
                                         (line != onLine.end() && line->second.count(warning.id) != 0)));
  }
  // In the order of their places: the settings file first, then the script, then a
  // machine file; by line and column in each.
  auto rank = [&](const Warning& w) { return w.file == input.settingsFile ? 0 : w.file == input.scriptSource ? 1 : 2; };
  std::stable_sort(warnings.begin(), warnings.end(), [&](const Warning& a, const Warning& b) {
    if (rank(a) != rank(b)) return rank(a) < rank(b);
    if (a.file != b.file) return a.file < b.file;
    if (a.line != b.line) return a.line < b.line;
    return a.column < b.column;
  });
  return warnings;
}

}  // namespace preview
