// JSON for the preview's output and for the tests that read it back (natively and in the
// Windows test programs), with nlohmann-json. Text is bytes: a byte of 0x80 and above is
// written as \u00XX, its Latin-1 reading, so that the output is ASCII and every byte of the
// ANSI text it describes comes back unchanged; reading turns \u0000 to \u00FF back into
// those bytes (and anything above into UTF-8).
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace json {

// Objects keep their members in the order written.
using Json = nlohmann::ordered_json;

// Bytes as the UTF-8 of their Latin-1 reading: every byte is one code point.
inline std::string FromBytes(const std::string& bytes) {
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
  return utf8;
}

// The other way: code points up to U+00FF become their byte, others stay UTF-8.
inline std::string ToBytes(const std::string& utf8) {
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

// A JSON string of bytes.
inline Json String(const std::string& bytes) { return Json(FromBytes(bytes)); }

// The text of a value: indented by two blanks, ASCII only. Every control character other
// than line feed, carriage return and tab is written \u00XX, as every other byte outside
// printable ASCII is (nlohmann-json writes backspace and form feed as \b and \f).
inline std::string Text(const Json& value) {
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

// A parsed value whose strings are bytes again. Objects keep their members in order.
struct Value {
  enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };
  Type type = Type::kNull;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Value> items;
  std::vector<std::pair<std::string, Value>> members;

  // The member `name`, or a null value when there is none (or this is no object).
  const Value& operator[](const std::string& name) const {
    for (const auto& [key, value] : members) {
      if (key == name) return value;
    }
    static const Value kNone;
    return kNone;
  }
  bool Has(const std::string& name) const {
    for (const auto& member : members) {
      if (member.first == name) return true;
    }
    return false;
  }
  bool IsNull() const { return type == Type::kNull; }

  static Value Of(const Json& json) {
    Value value;
    switch (json.type()) {
      case Json::value_t::boolean: value.type = Type::kBool; value.boolean = json.get<bool>(); break;
      case Json::value_t::number_integer:
      case Json::value_t::number_unsigned:
      case Json::value_t::number_float: value.type = Type::kNumber; value.number = json.get<double>(); break;
      case Json::value_t::string: value.type = Type::kString; value.text = ToBytes(json.get<std::string>()); break;
      case Json::value_t::array:
        value.type = Type::kArray;
        for (const Json& item : json) value.items.push_back(Of(item));
        break;
      case Json::value_t::object:
        value.type = Type::kObject;
        for (const auto& member : json.items()) value.members.emplace_back(ToBytes(member.key()), Of(member.value()));
        break;
      default: break;
    }
    return value;
  }
};

class Reader {
 public:
  // Parses `text` whole; false with the reason in `error` when it is no JSON.
  static bool Parse(const std::string& text, Value* value, std::string* error) {
    Json parsed = Json::parse(text, nullptr, false);
    if (parsed.is_discarded()) {
      if (error != nullptr) *error = "not JSON";
      return false;
    }
    *value = Value::Of(parsed);
    return true;
  }
};

}  // namespace json
