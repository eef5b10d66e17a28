// The lists: counts, entries within them, hardware IDs, the per-device sections.
#include <climits>
#include <map>

#include "pakrun/device_lists.h"
#include "pakrun/settings.h"
#include "tools/pakrun-preview/checks.h"

namespace preview {

namespace {

using sim::SameText;

// The longest hardware ID that Pakrun acts on (a longer one may have been cut).
constexpr std::size_t kLongestId = kDeviceIdCapacity - 2;

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

std::string MissingReadsAs(const List& list) {
  if (list.kind == Kind::kDriverReg) return "read as DEFAULT_ID";
  if (list.kind == Kind::kCleanup || list.kind == Kind::kRefresh) return "read as an empty ID, which matches no device";
  if (list.countKey == "ADDREG") return "written as add lines of empty fields";
  if (list.kind == Kind::kStatic) return "written as delete lines without root, key or value name";
  return "left out (no value name)";
}

// The last entry present within the count, or 0.
unsigned LastPresent(const List& list) {
  unsigned last = 0;
  for (unsigned n : list.present) {
    if (n <= list.count) last = n;
  }
  return last;
}

void WarnCount(Context& c, const char* id, const List& list, const std::string& message) {
  c.Warn(id, list.section->name, list.countKey, message);
}

template <typename Visit>
void ForEachId(Context& c, Visit visit) {
  for (const EntryField& field : c.fields) {
    if (field.rule->field == Field::kId && field.value) visit(field);
  }
}

}  // namespace

void CountNotPlain(Context& c) {
  for (const List& list : c.lists) {
    if (list.text && !list.text->empty() && !list.whole)
      WarnCount(c, "PP201", list, "\"" + *list.text + "\" is not a plain number: Pakrun reads it as " + std::to_string(list.count));
  }
}

void CountNegative(Context& c) {
  for (const List& list : c.lists) {
    if (list.raw > static_cast<unsigned>(INT_MAX)) WarnCount(c, "PP202", list, "a negative count reads as 0: no entry is read");
  }
}

void CountAboveBound(Context& c) {
  for (const List& list : c.lists) {
    if (list.raw <= static_cast<unsigned>(INT_MAX) && list.raw > kMaxListEntries)
      WarnCount(c, "PP203", list,
                "count " + std::to_string(list.raw) + " is above the bound of " + std::to_string(kMaxListEntries) +
                    " entries: only entries 1 to " + std::to_string(kMaxListEntries) + " are read");
  }
}

void EntryAboveCount(Context& c) {
  for (const List& list : c.lists) {
    for (const IniFile::Key& key : list.section->keys) {
      for (const Numbered& rule : RulesOf(list.kind).numbered) {
        if (list.countKey != rule.countKey) continue;
        std::optional<unsigned> n = EntryNumber(key.name, rule);
        if (n && *n > list.count)
          c.WarnKey("PP204", *list.section, key,
                    "never read: " + list.countKey + " is " + std::to_string(list.count) +
                        (list.text ? "" : " (no " + list.countKey + " key)"),
                    Context::At::kName);
      }
    }
  }
}

void EntriesMissing(Context& c) {
  for (const List& list : c.lists) {
    std::vector<unsigned> gaps;
    const unsigned last = LastPresent(list);
    for (unsigned n = 1; n < last; ++n) {
      if (list.present.count(n) == 0) gaps.push_back(n);
    }
    if (!gaps.empty())
      WarnCount(c, "PP205", list,
                (gaps.size() == 1 ? "entry " : "entries ") + NumberList(gaps) +
                    (gaps.size() == 1 ? " is missing and is " : " are missing and are ") + MissingReadsAs(list));
  }
}

void CountPastEntries(Context& c) {
  for (const List& list : c.lists) {
    const unsigned last = LastPresent(list);
    if (list.count > last)
      WarnCount(c, "PP206", list,
                "count " + std::to_string(list.count) + " runs past the last entry present (" +
                    (last == 0 ? std::string("none") : std::to_string(last)) + "): " +
                    (list.count == last + 1 ? "entry " + std::to_string(list.count) + " is "
                                            : "entries " + std::to_string(last + 1) + "-" + std::to_string(list.count) + " are ") +
                    MissingReadsAs(list));
  }
}

void IdFillsBuffer(Context& c) {
  ForEachId(c, [&](const EntryField& field) {
    if (field.value->size() > kLongestId)
      c.Warn("PP207", field.list->section->name, field.key,
             "skipped: an ID of " + std::to_string(field.value->size()) + " characters fills its buffer (at most " +
                 std::to_string(kLongestId) + ")");
  });
}

void IdEmpty(Context& c) {
  ForEachId(c, [&](const EntryField& field) {
    if (field.value->empty())
      c.Warn("PP208", field.list->section->name, field.key, "an empty ID matches no device: the entry does nothing");
  });
}

void SectionNameTooLong(Context& c) {
  ForEachId(c, [&](const EntryField& field) {
    const std::string name = DeviceSectionName(*field.value, c.in.osSuffix);
    if (field.list->kind == Kind::kDriverReg && field.value->size() <= kLongestId && name.size() >= kDeviceIdCapacity)
      c.Warn("PP209", field.list->section->name, field.key,
             "skipped: the section name " + name.substr(0, 40) + "... does not fit in " +
                 std::to_string(kDeviceIdCapacity - 1) + " characters");
  });
}

void DeviceSectionMissing(Context& c) {
  if (!c.ini.SwitchOn("DRIVERREG")) return;
  for (const ListEntry& entry : VisitedEntries(c.ini, "DRIVERREG", c.in.osSuffix)) {
    const std::string name = DeviceSectionName(entry.id, c.in.osSuffix);
    if (c.ini.Find(name) == nullptr)
      c.Warn("PP210", "DRIVERREG", entry.key, "no section [" + name + "]: nothing is applied to this device on " + c.in.windowsLabel);
  }
}

// CLEANUP and REFRESH compare IDs letter case and all; Windows reports hardware IDs in
// upper case.
void IdLowerCase(Context& c) {
  for (const char* list : {"CLEANUP", "REFRESH"}) {
    if (!c.ini.SwitchOn(list)) continue;
    for (const ListEntry& entry : VisitedEntries(c.ini, list)) {
      if (entry.id.find_first_of("abcdefghijklmnopqrstuvwxyz") != std::string::npos)
        c.Warn("PP211", list, entry.key,
               "lower-case letters: " + std::string(list) +
                   " compares IDs letter case and all, and Windows reports hardware IDs in upper case, so this matches no device");
    }
  }
}

// The same device twice in DRIVERREG: its section goes twice to the first such adapter.
void DeviceTwice(Context& c) {
  if (!c.ini.SwitchOn("DRIVERREG")) return;
  std::map<std::string, std::string, sim::NoCaseLess> first;
  for (const ListEntry& entry : VisitedEntries(c.ini, "DRIVERREG", c.in.osSuffix)) {
    auto [at, inserted] = first.try_emplace(entry.id, entry.key);
    if (!inserted)
      c.Warn("PP212", "DRIVERREG", entry.key,
             "the same ID as " + at->second +
                 ": its section is applied twice to the first such adapter, and a second identical adapter gets nothing");
  }
}

}  // namespace preview
