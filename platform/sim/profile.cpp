// Private profile (INI) files of the substitute machine, read from its file system.
#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/profile.h"
#include "platform/sim/machine.h"

using sim::Current;

namespace {

// Text without leading and trailing blanks, tabs and carriage returns (sim::Trim, in place).
std::string_view Trimmed(std::string_view text) {
  auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// A name or value as the caller sees it: text up to its first NUL byte, if any. A line is
// split and trimmed with its NUL bytes in it; what follows a NUL in a name or value is lost,
// as it is when the text is copied out as a C string (what Wine does; undocumented for
// Windows).
std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }


}  // namespace

// The sections and keys of a profile file's text, made in one pass: for the first section
// of each name, the first key of each name and its value. Names match without regard to
// case; a value in matching quotes loses them. Lines are those of sim::ProfileLines (each
// ends at CR LF, LF or a lone CR, as Windows reads them), looked at in place and trimmed;
// lines that are empty, begin with a semicolon or hold no equals sign are passed over. A run reads thousands of keys, each once from this index: the names and
// values are views into the index's own copy of the text, found through one open-addressed
// table of (section, key) pairs and one of section names, hashed without regard to case,
// so that neither making the index nor a lookup allocates per key.
struct sim::ProfileIndex {
  std::size_t size = 0;  // of the bytes it was made of
  bool nt = false;       // read as the NT family reads them
  std::string text;      // what the views below look at

  struct Slot {
    std::uint64_t hash = 0;
    std::uint32_t section = 0;  // the section's number, from 1; 0: a free slot
    std::string_view name;      // the key's (or, in `sections`, the section's) name
    std::string_view value;
  };
  std::vector<Slot> sections;  // section names; `section` is the section's number
  std::vector<Slot> keys;      // keys of the sections read
  std::uint32_t sectionCount = 0;

  // Where `name` of `section` (any section, in `sections`) is in `table`, or the free slot
  // where it goes.
  static std::size_t SlotOf(const std::vector<Slot>& table, std::uint64_t hash,
                            std::uint32_t section, std::string_view name, bool sectionTable);
};

namespace {

constexpr char Folded(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// FNV-1a over the letters in upper case: names that sim::SameText finds the same hash alike.
std::uint64_t FoldedHash(std::string_view name) {
  std::uint64_t hash = 1469598103934665603ull;
  for (char c : name) {
    hash ^= static_cast<unsigned char>(Folded(c));
    hash *= 1099511628211ull;
  }
  return hash;
}

std::uint64_t KeyHash(std::uint64_t nameHash, std::uint32_t section) {
  return nameHash ^ (static_cast<std::uint64_t>(section) * 0x9E3779B97F4A7C15ull);
}

}  // namespace

std::size_t sim::ProfileIndex::SlotOf(const std::vector<Slot>& table, std::uint64_t hash,
                                      std::uint32_t section, std::string_view name,
                                      bool sectionTable) {
  // The table is a power of two in size and never more than half full.
  const std::size_t mask = table.size() - 1;
  for (std::size_t i = static_cast<std::size_t>(hash) & mask;; i = (i + 1) & mask) {
    const Slot& slot = table[i];
    if (slot.section == 0) return i;
    if (slot.hash == hash && (sectionTable || slot.section == section) &&
        sim::SameText(slot.name, name))
      return i;
  }
}

namespace {

std::size_t TableSize(std::size_t entries) {
  std::size_t size = 8;
  while (size < 2 * entries + 2) size *= 2;
  return size;
}

std::shared_ptr<sim::ProfileIndex> IndexOf(std::string text) {
  auto index = std::make_shared<sim::ProfileIndex>();
  index->text = std::move(text);
  const std::string_view all = index->text;
  const std::vector<std::string_view> lines = sim::ProfileLines(all);
  // At most one section or key per line.
  index->sections.resize(TableSize(lines.size()));
  index->keys.resize(TableSize(lines.size()));
  std::uint32_t section = 0;  // 0: keys here are not read
  for (const std::string_view whole : lines) {
    const std::string_view line = Trimmed(whole);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      auto close = line.find(']');
      const std::string_view name = UpToNul(Trimmed(
          line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1)));
      const std::uint64_t hash = FoldedHash(name);
      sim::ProfileIndex::Slot& slot =
          index->sections[sim::ProfileIndex::SlotOf(index->sections, hash, 0, name, true)];
      // Only the first section of a name is read; a later one of the same name is not.
      if (slot.section != 0) {
        section = 0;
        continue;
      }
      section = ++index->sectionCount;
      slot = sim::ProfileIndex::Slot{hash, section, name, {}};
      continue;
    }
    if (section == 0) continue;
    auto equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    std::string_view value = UpToNul(Trimmed(line.substr(equals + 1)));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    const std::string_view name = UpToNul(Trimmed(line.substr(0, equals)));
    const std::uint64_t hash = KeyHash(FoldedHash(name), section);
    sim::ProfileIndex::Slot& slot =
        index->keys[sim::ProfileIndex::SlotOf(index->keys, hash, section, name, false)];
    // The first key of a name wins.
    if (slot.section == 0) slot = sim::ProfileIndex::Slot{hash, section, name, value};
  }
  return index;
}

// The index of a file's present content, kept with the file until it changes. The NT family
// reads a file that begins with the UTF-16LE byte-order mark as UTF-16; the 9x family reads
// every file as ANSI bytes. Neither knows a UTF-8 byte-order mark: it stays part of the
// first line, so a section header there is not one.
const sim::ProfileIndex& IndexOf(const sim::File& file, bool nt) {
  if (!file.profileIndex || file.profileIndex->size != file.bytes.size() || file.profileIndex->nt != nt) {
    const bool wide = nt && sim::HasUtf16LeMark(file.bytes);
    auto index = IndexOf(wide ? sim::AnsiOfUtf16(file.bytes.substr(2)) : file.bytes);
    index->size = file.bytes.size();
    index->nt = nt;
    file.profileIndex = std::move(index);
  }
  return *file.profileIndex;
}

// The value of `key` in `section` of a profile file, or none when the section or the key
// is missing. Looked up by the names in place; the value lives in the file's index.
std::optional<std::string_view> ProfileValue(const sim::File& file, bool nt,
                                             std::string_view section, std::string_view key) {
  const sim::ProfileIndex& index = IndexOf(file, nt);
  using Slot = sim::ProfileIndex::Slot;
  const Slot& inSection =
      index.sections[sim::ProfileIndex::SlotOf(index.sections, FoldedHash(section), 0, section, true)];
  if (inSection.section == 0) return std::nullopt;
  const std::uint32_t number = inSection.section;
  const Slot& value = index.keys[sim::ProfileIndex::SlotOf(
      index.keys, KeyHash(FoldedHash(key), number), number, key, false)];
  if (value.section == 0) return std::nullopt;
  return value.value;
}

std::optional<std::string_view> ReadProfile(sim::Machine& m, LPCSTR appName, LPCSTR keyName,
                                            LPCSTR fileName, const char* operation) {
  if (appName == nullptr || keyName == nullptr || fileName == nullptr) {
    m.Misuse(std::string(operation) + " without a section, key or file name");
    return std::nullopt;
  }
  const sim::File* file = m.files.Find(fileName);
  if (file == nullptr) return std::nullopt;
  return ProfileValue(*file, m.kernel.version.platformId == VER_PLATFORM_WIN32_NT, appName, keyName);
}

}  // namespace

UINT WINAPI GetPrivateProfileIntA(LPCSTR appName, LPCSTR keyName, INT defaultValue,
                                  LPCSTR fileName) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("GetPrivateProfileIntA")) return static_cast<UINT>(defaultValue);
  auto value = ReadProfile(m, appName, keyName, fileName, "GetPrivateProfileIntA");
  if (!value || value->empty()) return static_cast<UINT>(defaultValue);
  return sim::ProfileNumber(*value);
}

DWORD WINAPI GetPrivateProfileStringA(LPCSTR appName, LPCSTR keyName, LPCSTR defaultText,
                                      LPSTR returned, DWORD size, LPCSTR fileName) {
  sim::Machine& m = Current();
  // A fault is a file that cannot be read: the default is returned, as for a missing file.
  auto fault = m.Enter("GetPrivateProfileStringA");
  if (returned == nullptr || size == 0) return 0;
  std::optional<std::string_view> value;
  if (!fault) value = ReadProfile(m, appName, keyName, fileName, "GetPrivateProfileStringA");
  std::string_view text = value                  ? *value
                          : defaultText == nullptr ? std::string_view()
                                                   : std::string_view(defaultText);
  // The default loses its trailing blanks.
  if (!value) text = text.substr(0, text.find_last_not_of(' ') + 1);
  // Cut to the buffer, as the platform does.
  std::size_t copied = text.size() < size - 1 ? text.size() : size - 1;
  if (copied != 0) std::memcpy(returned, text.data(), copied);
  returned[copied] = '\0';
  return static_cast<DWORD>(copied);
}
