// Every byte the preview writes out passes through here. The settings file and the
// registry script are an author's bytes in an ANSI code page, and they reach a terminal,
// a build log or a program reading JSON or SARIF: a control byte must never act there (an
// escape sequence that clears the screen, a carriage return that overwrites a warning),
// and a byte of 0x80 and above is no UTF-8. Doing it in one place keeps the text, JSON and
// SARIF outputs the same in what they let through.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

namespace preview {

// Objects keep their members in the order written.
using Json = nlohmann::ordered_json;

namespace escape {

// For a terminal: every control byte but line feed and tab written \xNN.
inline std::string ForTerminal(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\n' && c != '\t') || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

// Bytes as a JSON string: each byte one code point, its Latin-1 reading, so that every
// byte of the ANSI text comes back unchanged (BytesOf).
inline Json JsonString(const std::string& bytes) {
  std::string utf8;
  utf8.reserve(bytes.size());
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      utf8 += c;
    } else {
      utf8 += static_cast<char>(0xC0 | (byte >> 6));
      utf8 += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return Json(std::move(utf8));
}

// The other way, for a reader of the JSON: code points up to U+00FF become their byte,
// others stay UTF-8.
inline std::string BytesOf(const std::string& utf8) {
  std::string bytes;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    auto lead = static_cast<unsigned char>(utf8[i]);
    if ((lead == 0xC2 || lead == 0xC3) && i + 1 < utf8.size()) {
      bytes += static_cast<char>(((lead & 0x03) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3F));
      ++i;
    } else {
      bytes += utf8[i];
    }
  }
  return bytes;
}

// A JSON document's text: indented by two blanks, ASCII only. Every control character
// other than line feed, carriage return and tab is written \u00XX, as every other code
// point outside printable ASCII is, so that each control byte has one written form
// (nlohmann-json writes backspace and form feed as \b and \f).
inline std::string JsonText(const Json& value) {
  const std::string dumped = value.dump(2, ' ', true);
  std::string text;
  text.reserve(dumped.size());
  bool inString = false;
  for (std::size_t i = 0; i < dumped.size(); ++i) {
    const char c = dumped[i];
    if (c == '"') inString = !inString;
    if (!inString || c != '\\' || i + 1 == dumped.size()) {
      text += c;
      continue;
    }
    const char escaped = dumped[++i];
    text += escaped == 'b' ? "\\u0008" : escaped == 'f' ? "\\u000c" : std::string{'\\', escaped};
  }
  return text;
}

// A path whose parts are separated by '/' as the path of a URI (SARIF's artifact
// locations): every byte other than a letter, a digit, '-', '.', '_', '~' and '/' written
// %XX, so that a blank, '#', '%', a ':' (which would read as a scheme) or a byte of a file
// name in UTF-8 reaches the reader unchanged.
inline std::string UriPath(const std::string& path) {
  std::string uri;
  for (char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
        c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
      uri += c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
      uri += escaped;
    }
  }
  return uri;
}

}  // namespace escape
}  // namespace preview
