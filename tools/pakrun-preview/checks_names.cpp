// Section and key names: what Pakrun never reads.
#include <algorithm>
#include <cstdint>
#include <set>

#include "tools/pakrun-preview/checks.h"

namespace preview {

namespace {

using sim::SameText;

std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      const bool same = SameText(std::string_view(&a[i - 1], 1), std::string_view(&b[j - 1], 1));
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
    const std::size_t distance = EditDistance(name, candidate);
    if (distance < bestDistance) {
      best = candidate;
      bestDistance = distance;
    }
  }
  return best;
}

// The fixed keys and each numbered key with the number the unknown key carries (or 1).
std::vector<std::string> Candidates(const Rules& rules, const std::string& key) {
  std::vector<std::string> names(rules.plain.begin(), rules.plain.end());
  const std::size_t digits = key.find_first_of("0123456789");
  unsigned n = 1;
  if (digits != std::string::npos) {
    const std::size_t end = key.find_first_not_of("0123456789", digits);
    const std::string run = key.substr(digits, end == std::string::npos ? std::string::npos : end - digits);
    if (run.size() <= 9 && std::stoul(run) > 0) n = static_cast<unsigned>(std::stoul(run));
  }
  for (const Numbered& rule : rules.numbered) names.push_back(std::string(rule.prefix) + std::to_string(n) + rule.suffix);
  return names;
}

// What a key of a section Pakrun reads is to it.
enum class Shape { kRead, kDeviceRootOrSubkey, kUnknown };

Shape ShapeOf(Kind kind, const std::string& key) {
  const Rules& rules = RulesOf(kind);
  for (const char* name : rules.plain) {
    if (SameText(key, name)) return Shape::kRead;
  }
  for (const Numbered& rule : rules.numbered) {
    std::optional<unsigned> n = EntryNumber(key, rule);
    if (n) return *n > 0 ? Shape::kRead : Shape::kUnknown;
  }
  if (kind == Kind::kDevice) {
    for (const Numbered& rule : {Numbered{"ADDREG", "_ROOT", "", Field::kRoot}, Numbered{"ADDREG", "_SUBKEY", "", Field::kSubkey},
                                 Numbered{"DELREG", "_ROOT", "", Field::kRoot}, Numbered{"DELREG", "_SUBKEY", "", Field::kSubkey}}) {
      if (EntryNumber(key, rule)) return Shape::kDeviceRootOrSubkey;
    }
  }
  return Shape::kUnknown;
}

// Each first key of a name in the first section of each name Pakrun reads.
template <typename Visit>
void ForEachReadKey(const Context& c, Visit visit) {
  for (const auto& [name, kind] : c.known) {
    const IniFile::Section* section = c.ini.Find(name);
    if (section == nullptr) continue;
    for (const IniFile::Key& key : section->keys) {
      if (section->FindKey(key.name) == &key) visit(*section, kind, key);
    }
  }
}

}  // namespace

void SecondSection(Context& c) {
  for (const IniFile::Section& section : c.ini.sections) {
    if (c.ini.Find(section.name) != &section)
      c.WarnSection("PP101", section, "a second [" + section.name + "] section is never read: only the first counts");
  }
}

void UnknownSection(Context& c) {
  std::vector<std::string> names;
  for (const auto& entry : c.known) names.push_back(entry.first);
  for (const IniFile::Section& section : c.ini.sections) {
    if (c.ini.Find(section.name) == &section && c.known.count(section.name) == 0)
      c.WarnSection("PP102", section, "Pakrun never reads this section (nearest known: [" + Nearest(section.name, names) + "])");
  }
}

void SecondKey(Context& c) {
  for (const auto& [name, kind] : c.known) {
    const IniFile::Section* section = c.ini.Find(name);
    if (section == nullptr) continue;
    for (const IniFile::Key& key : section->keys) {
      if (section->FindKey(key.name) != &key)
        c.WarnKey("PP103", *section, key, "a second " + key.name + " is never read: only the first counts",
                  Context::At::kName);
    }
  }
}

void DeviceRootKey(Context& c) {
  ForEachReadKey(c, [&](const IniFile::Section& section, Kind kind, const IniFile::Key& key) {
    if (ShapeOf(kind, key.name) == Shape::kDeviceRootOrSubkey)
      c.WarnKey("PP104", section, key, "never read in a per-device section: every entry goes to the device's driver key",
                Context::At::kName);
  });
}

void UnknownKey(Context& c) {
  ForEachReadKey(c, [&](const IniFile::Section& section, Kind kind, const IniFile::Key& key) {
    if (ShapeOf(kind, key.name) == Shape::kUnknown)
      c.WarnKey("PP105", section, key,
                "Pakrun never reads this key (nearest known: " + Nearest(key.name, Candidates(RulesOf(kind), key.name)) + ")",
                Context::At::kName);
  });
}

}  // namespace preview
