// Text helpers shared by the families of the substitute machine.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// Case-insensitive comparison of ASCII text, as Windows compares names and paths.
bool SameText(std::string_view a, std::string_view b);
std::string Upper(std::string text);
// Text without leading and trailing blanks, tabs and carriage returns.
std::string Trim(const std::string& text);
// The lines of a text file (LF or CRLF), each trimmed. A lone carriage return is no line
// end here (the stand-ins' INF and registry script files); profile files: ProfileLines.
std::vector<std::string> TrimmedLines(const std::string& text);
// The lines of a profile (INI) file as the profile functions read them: a line ends at
// CR LF, at LF or at a lone CR. The views look into `text` and are not trimmed; the n-th
// line of the file is element n - 1. A text that ends with a line end has no empty line
// after it.
std::vector<std::string_view> ProfileLines(std::string_view text);
// For a trimmed line "[name]" (closing bracket optional), the trimmed name.
std::optional<std::string> SectionName(const std::string& line);
// How GetPrivateProfileIntA reads a value: optional sign, then decimal digits or "0x" and
// hexadecimal digits, up to the first character that is not one (text that does not start
// with a number reads as 0); `whole`, when given, tells whether nothing else followed.
unsigned ProfileNumber(std::string_view text, bool* whole = nullptr);

// Whether a file's bytes begin with the UTF-16LE byte-order mark (FF FE).
bool HasUtf16LeMark(const std::string& bytes);
// The ANSI text of UTF-16LE code units (no byte-order mark), as the NT family reads such a
// file: a character of the code page's range is its byte, any other is "?"; an odd last
// byte is dropped.
std::string AnsiOfUtf16(const std::string& units);

// Orders names without regard to letter case, for maps and sets keyed by registry,
// file, environment or program names.
struct NoCaseLess {
  using is_transparent = void;  // a lookup by a name in place builds no string
  bool operator()(std::string_view a, std::string_view b) const;
};

}  // namespace sim
