// A small JSON writer and reader, enough for the preview's output and for the tests that
// read it back (natively and in the Windows test programs). Text is bytes: a byte of 0x80
// and above is written as \u00XX, its Latin-1 reading, so that the output is ASCII and
// every byte of the ANSI text it describes comes back unchanged; the reader turns \u0000
// to \u00FF back into those bytes (and anything above into UTF-8).
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace json {

inline std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (byte < 0x20 || byte >= 0x7F) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

// Writes one JSON value, indented by two blanks per level. Keys and values are called in
// document order; the writer places the commas.
class Writer {
 public:
  void BeginObject() { Open('{'); }
  void EndObject() { Close('}'); }
  void BeginArray() { Open('['); }
  void EndArray() { Close(']'); }
  void Key(const std::string& name) {
    Separate();
    out_ += Quote(name) + ": ";
    afterKey_ = true;
  }
  void String(const std::string& text) { Scalar(Quote(text)); }
  void Number(std::int64_t number) { Scalar(std::to_string(number)); }
  void Bool(bool value) { Scalar(value ? "true" : "false"); }
  void Null() { Scalar("null"); }
  // Shorthands for a key and its value.
  void Field(const std::string& name, const std::string& text) { Key(name); String(text); }
  void Field(const std::string& name, std::int64_t number) { Key(name); Number(number); }
  void Field(const std::string& name, const char* text) { Key(name); String(text); }
  const std::string& Text() const { return out_; }

 private:
  void Separate() {
    if (afterKey_) {
      afterKey_ = false;
      return;
    }
    if (!first_.empty()) {
      if (!first_.back()) out_ += ",";
      first_.back() = false;
      out_ += "\n" + std::string(2 * first_.size(), ' ');
    }
  }
  void Scalar(const std::string& text) {
    Separate();
    out_ += text;
  }
  void Open(char bracket) {
    Separate();
    out_ += bracket;
    first_.push_back(true);
  }
  void Close(char bracket) {
    bool empty = first_.back();
    first_.pop_back();
    if (!empty) out_ += "\n" + std::string(2 * first_.size(), ' ');
    out_ += bracket;
  }

  std::string out_;
  std::vector<bool> first_;  // per open container: nothing written in it yet
  bool afterKey_ = false;
};

// A parsed value. Objects keep their keys in order.
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
};

// Parses `text`; false (with `error` saying where) when it is no single JSON value.
class Reader {
 public:
  static bool Parse(const std::string& text, Value* value, std::string* error) {
    Reader reader(text);
    if (!reader.ParseValue(value, 0) || (reader.SkipBlanks(), reader.at_ != text.size())) {
      if (error != nullptr) *error = "JSON error at offset " + std::to_string(reader.at_);
      return false;
    }
    return true;
  }

 private:
  explicit Reader(const std::string& text) : text_(text) {}

  void SkipBlanks() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' ||
                                  text_[at_] == '\t'))
      ++at_;
  }
  bool Literal(const char* word) {
    std::string w(word);
    if (text_.compare(at_, w.size(), w) != 0) return false;
    at_ += w.size();
    return true;
  }
  static void AppendCodePoint(unsigned code, std::string* out) {
    if (code < 0x100) {
      *out += static_cast<char>(code);
    } else if (code < 0x800) {
      *out += static_cast<char>(0xC0 | (code >> 6));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      *out += static_cast<char>(0xE0 | (code >> 12));
      *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  bool ParseString(std::string* out) {
    if (at_ >= text_.size() || text_[at_] != '"') return false;
    for (++at_; at_ < text_.size(); ++at_) {
      char c = text_[at_];
      if (c == '"') {
        ++at_;
        return true;
      }
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (++at_ >= text_.size()) return false;
      switch (text_[at_]) {
        case 'n': *out += '\n'; break;
        case 'r': *out += '\r'; break;
        case 't': *out += '\t'; break;
        case 'b': *out += '\b'; break;
        case 'f': *out += '\f'; break;
        case 'u': {
          if (at_ + 4 >= text_.size()) return false;
          unsigned code = 0;
          for (int i = 1; i <= 4; ++i) {
            char h = text_[at_ + static_cast<std::size_t>(i)];
            unsigned digit = h >= '0' && h <= '9'   ? static_cast<unsigned>(h - '0')
                             : h >= 'a' && h <= 'f' ? static_cast<unsigned>(h - 'a' + 10)
                             : h >= 'A' && h <= 'F' ? static_cast<unsigned>(h - 'A' + 10)
                                                    : 16u;
            if (digit == 16u) return false;
            code = code * 16 + digit;
          }
          AppendCodePoint(code, out);
          at_ += 4;
          break;
        }
        default: *out += text_[at_];  // \" \\ \/
      }
    }
    return false;
  }
  bool ParseValue(Value* value, int depth) {
    if (depth > 64) return false;
    SkipBlanks();
    if (at_ >= text_.size()) return false;
    char c = text_[at_];
    if (c == '{') {
      value->type = Value::Type::kObject;
      ++at_;
      SkipBlanks();
      if (at_ < text_.size() && text_[at_] == '}') return ++at_, true;
      for (;;) {
        SkipBlanks();
        std::string key;
        if (!ParseString(&key)) return false;
        SkipBlanks();
        if (at_ >= text_.size() || text_[at_++] != ':') return false;
        Value member;
        if (!ParseValue(&member, depth + 1)) return false;
        value->members.emplace_back(std::move(key), std::move(member));
        SkipBlanks();
        if (at_ >= text_.size()) return false;
        if (text_[at_] == '}') return ++at_, true;
        if (text_[at_++] != ',') return false;
      }
    }
    if (c == '[') {
      value->type = Value::Type::kArray;
      ++at_;
      SkipBlanks();
      if (at_ < text_.size() && text_[at_] == ']') return ++at_, true;
      for (;;) {
        Value item;
        if (!ParseValue(&item, depth + 1)) return false;
        value->items.push_back(std::move(item));
        SkipBlanks();
        if (at_ >= text_.size()) return false;
        if (text_[at_] == ']') return ++at_, true;
        if (text_[at_++] != ',') return false;
      }
    }
    if (c == '"') {
      value->type = Value::Type::kString;
      return ParseString(&value->text);
    }
    if (Literal("true")) return value->type = Value::Type::kBool, value->boolean = true, true;
    if (Literal("false")) return value->type = Value::Type::kBool, true;
    if (Literal("null")) return true;
    std::size_t end = at_;
    while (end < text_.size() && std::string("+-.0123456789eE").find(text_[end]) != std::string::npos)
      ++end;
    if (end == at_) return false;
    value->type = Value::Type::kNumber;
    value->number = std::stod(text_.substr(at_, end - at_));
    at_ = end;
    return true;
  }

  const std::string& text_;
  std::size_t at_ = 0;
};

}  // namespace json
