// Private profile (INI) files of the substitute machine, read from its file system.
#include <cctype>
#include <cstring>
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


// The value of `key` in `section` of a profile file's text, or none when the section or
// the key is missing. Names match without regard to case; the first of duplicates
// counts; a value in matching quotes loses them. The lines are those of sim::TrimmedLines,
// looked at in place: a run reads thousands of keys, each from the whole file.
std::optional<std::string> ProfileValue(const std::string& text, const std::string& section,
                                        const std::string& key) {
  bool inSection = false;
  bool sectionSeen = false;
  const std::string_view all(text);
  for (std::size_t start = 0; start < all.size();) {
    std::size_t end = all.find('\n', start);
    if (end == std::string_view::npos) end = all.size();
    const std::string_view line = Trimmed(all.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      auto close = line.find(']');
      std::string_view name = Trimmed(
          line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
      if (inSection) break;  // the first section of that name is the one read
      inSection = !sectionSeen && sim::SameText(name, section);
      sectionSeen = sectionSeen || inSection;
      continue;
    }
    if (!inSection) continue;
    auto equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    if (!sim::SameText(Trimmed(line.substr(0, equals)), key)) continue;
    std::string_view value = Trimmed(line.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    return std::string(value);
  }
  return std::nullopt;
}

std::optional<std::string> ReadProfile(sim::Machine& m, LPCSTR appName, LPCSTR keyName,
                                       LPCSTR fileName, const char* operation) {
  if (appName == nullptr || keyName == nullptr || fileName == nullptr) {
    m.Misuse(std::string(operation) + " without a section, key or file name");
    return std::nullopt;
  }
  const sim::File* file = m.files.Find(fileName);
  if (file == nullptr) return std::nullopt;
  return ProfileValue(file->bytes, appName, keyName);
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
  auto value = fault ? std::nullopt
                     : ReadProfile(m, appName, keyName, fileName, "GetPrivateProfileStringA");
  std::string text = value ? *value : (defaultText == nullptr ? "" : defaultText);
  // The default loses its trailing blanks.
  if (!value) text.erase(text.find_last_not_of(' ') + 1);
  // Cut to the buffer, as the platform does.
  std::size_t copied = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(returned, text.data(), copied);
  returned[copied] = '\0';
  return static_cast<DWORD>(copied);
}
