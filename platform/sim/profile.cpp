// Private profile (INI) files of the substitute machine, read from its file system.
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

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


}  // namespace

// The sections and keys of a profile file's text, made in one pass: for the first section
// of each name, the first key of each name and its value. Names match without regard to
// case; a value in matching quotes loses them. Lines are those of sim::TrimmedLines, looked
// at in place; lines that are empty, begin with a semicolon or hold no equals sign are
// passed over. A run reads thousands of keys, each once from this index.
struct sim::ProfileIndex {
  std::size_t size = 0;  // of the bytes it was made of
  bool nt = false;       // read as the NT family reads them
  std::map<std::string, std::map<std::string, std::string, sim::NoCaseLess>, sim::NoCaseLess>
      sections;
};

namespace {

std::shared_ptr<sim::ProfileIndex> IndexOf(std::string_view all) {
  auto index = std::make_shared<sim::ProfileIndex>();
  std::map<std::string, std::string, sim::NoCaseLess>* keys = nullptr;  // none: not read
  for (std::size_t start = 0; start < all.size();) {
    std::size_t end = all.find('\n', start);
    if (end == std::string_view::npos) end = all.size();
    const std::string_view line = Trimmed(all.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      auto close = line.find(']');
      std::string name(Trimmed(
          line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1)));
      // Only the first section of a name is read; a later one of the same name is not.
      auto [it, inserted] = index->sections.try_emplace(std::move(name));
      keys = inserted ? &it->second : nullptr;
      continue;
    }
    if (keys == nullptr) continue;
    auto equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    std::string_view value = Trimmed(line.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    keys->try_emplace(std::string(Trimmed(line.substr(0, equals))), value);
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
    auto index = wide ? IndexOf(std::string_view(sim::AnsiOfUtf16(file.bytes.substr(2)))) : IndexOf(std::string_view(file.bytes));
    index->size = file.bytes.size();
    index->nt = nt;
    file.profileIndex = std::move(index);
  }
  return *file.profileIndex;
}

// The value of `key` in `section` of a profile file, or null when the section or the key
// is missing. Looked up by the names in place; the value lives in the file's index.
const std::string* ProfileValue(const sim::File& file, bool nt, std::string_view section,
                                std::string_view key) {
  const sim::ProfileIndex& index = IndexOf(file, nt);
  auto inSection = index.sections.find(section);
  if (inSection == index.sections.end()) return nullptr;
  auto value = inSection->second.find(key);
  if (value == inSection->second.end()) return nullptr;
  return &value->second;
}

const std::string* ReadProfile(sim::Machine& m, LPCSTR appName, LPCSTR keyName, LPCSTR fileName,
                               const char* operation) {
  if (appName == nullptr || keyName == nullptr || fileName == nullptr) {
    m.Misuse(std::string(operation) + " without a section, key or file name");
    return nullptr;
  }
  const sim::File* file = m.files.Find(fileName);
  if (file == nullptr) return nullptr;
  return ProfileValue(*file, m.kernel.version.platformId == VER_PLATFORM_WIN32_NT, appName, keyName);
}

}  // namespace

UINT WINAPI GetPrivateProfileIntA(LPCSTR appName, LPCSTR keyName, INT defaultValue,
                                  LPCSTR fileName) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("GetPrivateProfileIntA")) return static_cast<UINT>(defaultValue);
  const std::string* value = ReadProfile(m, appName, keyName, fileName, "GetPrivateProfileIntA");
  if (value == nullptr || value->empty()) return static_cast<UINT>(defaultValue);
  return sim::ProfileNumber(*value);
}

DWORD WINAPI GetPrivateProfileStringA(LPCSTR appName, LPCSTR keyName, LPCSTR defaultText,
                                      LPSTR returned, DWORD size, LPCSTR fileName) {
  sim::Machine& m = Current();
  // A fault is a file that cannot be read: the default is returned, as for a missing file.
  auto fault = m.Enter("GetPrivateProfileStringA");
  if (returned == nullptr || size == 0) return 0;
  const std::string* value =
      fault ? nullptr : ReadProfile(m, appName, keyName, fileName, "GetPrivateProfileStringA");
  std::string_view text = value != nullptr ? std::string_view(*value)
                          : defaultText == nullptr ? std::string_view()
                                                   : std::string_view(defaultText);
  // The default loses its trailing blanks.
  if (value == nullptr) text = text.substr(0, text.find_last_not_of(' ') + 1);
  // Cut to the buffer, as the platform does.
  std::size_t copied = text.size() < size - 1 ? text.size() : size - 1;
  if (copied != 0) std::memcpy(returned, text.data(), copied);
  returned[copied] = '\0';
  return static_cast<DWORD>(copied);
}
