// Text helpers of the substitute machine: names and paths compared as Windows compares
// them, and the line and section parsing shared by the profile reader and the stand-ins.
#include "platform/sim/text.h"

#include <cctype>

namespace sim {

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

bool HasUtf16LeMark(const std::string& bytes) {
  return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
         static_cast<unsigned char>(bytes[1]) == 0xFE;
}

std::string AnsiOfUtf16(const std::string& units) {
  std::string text;
  text.reserve(units.size() / 2);
  for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
    const unsigned unit = static_cast<unsigned>(static_cast<unsigned char>(units[i])) |
                          (static_cast<unsigned>(static_cast<unsigned char>(units[i + 1])) << 8);
    text += unit < 0x100 ? static_cast<char>(unit) : '?';
  }
  return text;
}

std::string Trim(const std::string& text) {
  auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::vector<std::string> TrimmedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(Trim(text.substr(start, end - start)));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string_view> ProfileLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    // CR LF is one line end; a CR or an LF alone is one as well.
    start = end + (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
  }
  return lines;
}

std::optional<std::string> SectionName(const std::string& line) {
  if (line.empty() || line[0] != '[') return std::nullopt;
  auto close = line.find(']');
  return Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
}

bool NoCaseLess::operator()(std::string_view a, std::string_view b) const {
  // Upper(a) < Upper(b), without the two copies: every map and set lookup of a name
  // passes here, many times per platform call.
  auto upper = [](char c) {
    return static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  };
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    unsigned char x = upper(a[i]);
    unsigned char y = upper(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

unsigned ProfileNumber(std::string_view text, bool* whole) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  unsigned base = 10;
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  const std::size_t digitsFrom = i;
  unsigned number = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
    else break;
    number = number * base + digit;
  }
  if (whole != nullptr) *whole = i == text.size() && i > digitsFrom;
  return negative ? 0u - number : number;
}

}  // namespace sim
