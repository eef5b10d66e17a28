// Private profile (INI) files of the substitute machine, read from its file system.
#include <cstring>
#include <optional>
#include <string>

#include "platform/profile.h"
#include "platform/sim/machine.h"

using sim::Current;

namespace {

// The value of `key` in `section` of a profile file's text, or none when the section or
// the key is missing. Names match without regard to case; the first of duplicates
// counts; a value in matching quotes loses them.
std::optional<std::string> ProfileValue(const std::string& text, const std::string& section,
                                        const std::string& key) {
  bool inSection = false;
  bool sectionSeen = false;
  for (const std::string& line : sim::TrimmedLines(text)) {
    if (line.empty() || line[0] == ';') continue;
    if (auto name = sim::SectionName(line)) {
      if (inSection) break;  // the first section of that name is the one read
      inSection = !sectionSeen && sim::SameText(*name, section);
      sectionSeen = sectionSeen || inSection;
      continue;
    }
    if (!inSection) continue;
    auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    if (!sim::SameText(sim::Trim(line.substr(0, equals)), key)) continue;
    std::string value = sim::Trim(line.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    return value;
  }
  return std::nullopt;
}

std::optional<std::string> ReadProfile(sim::Machine& m, LPCSTR appName, LPCSTR keyName,
                                       LPCSTR fileName, const char* operation) {
  if (appName == nullptr || keyName == nullptr || fileName == nullptr) {
    m.Misuse(std::string(operation) + " without a section, key or file name");
    return std::nullopt;
  }
  auto text = m.files.Read(fileName);
  if (!text) return std::nullopt;
  return ProfileValue(*text, appName, keyName);
}

}  // namespace

UINT WINAPI GetPrivateProfileIntA(LPCSTR appName, LPCSTR keyName, INT defaultValue,
                                  LPCSTR fileName) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("GetPrivateProfileIntA")) return static_cast<UINT>(defaultValue);
  auto value = ReadProfile(m, appName, keyName, fileName, "GetPrivateProfileIntA");
  if (!value || value->empty()) return static_cast<UINT>(defaultValue);
  // Optional sign, then decimal digits or "0x" and hexadecimal digits, up to the first
  // character that is not one; text that does not start with a number reads as 0.
  const std::string& text = *value;
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  unsigned base = 10;
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  UINT number = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
    else break;
    number = number * base + digit;
  }
  return negative ? 0u - number : number;
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
