// The platform's INF installer on the substitute machine: rundll32 running setupapi's
// InstallHinfSection. It applies the DelReg and then the AddReg sections that the named
// install section lists, with the root names, flags and value forms of INF files:
// string, expandable string, multi-string, dword, binary and no-type values, the
// no-clobber, overwrite-only, append, key-only and delete-value flags, and DelReg lines
// that delete one value or, without a value name, the whole key.
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/sim/machine.h"

namespace sim {

namespace {

constexpr unsigned kBinValueType = 0x00000001;
constexpr unsigned kNoClobber = 0x00000002;
constexpr unsigned kDelVal = 0x00000004;
constexpr unsigned kAppend = 0x00000008;
constexpr unsigned kKeyOnly = 0x00000010;
constexpr unsigned kOverwriteOnly = 0x00000020;
constexpr unsigned kKeyOnlyCommon = 0x00002000;
constexpr unsigned kDelRegBit = 0x00008000;
constexpr unsigned kTypeMask = 0xFFFF0001;

// Splits a line into its comma-separated fields: blanks around a field go, double
// quotes group (two in a row stand for one), a semicolon outside quotes starts a comment.
// The fields go into `fields`, whose strings are used again: an INF of a thousand lines is
// split line by line into the same few.
void SplitFields(const std::string& line, std::vector<std::string>* fields) {
  std::size_t count = 0;
  auto next = [&]() -> std::string& {
    if (count == fields->size()) fields->emplace_back();
    std::string& field = (*fields)[count++];
    field.clear();
    return field;
  };
  std::string* field = &next();
  std::string pendingBlanks;
  bool quoted = false;
  bool any = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        *field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        *field += c;
      }
      continue;
    }
    if (c == ';') break;
    if (c == ',') {
      field = &next();
      pendingBlanks.clear();
      any = true;
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\r') {
      if (!field->empty()) pendingBlanks += c;
      continue;
    }
    *field += pendingBlanks;
    pendingBlanks.clear();
    if (c == '"') {
      quoted = true;
    } else {
      *field += c;
    }
    any = true;
  }
  // The field being read counts when the line held anything at all.
  if (!any && field->empty()) --count;
  fields->resize(count);
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  SplitFields(line, &fields);
  return fields;
}

struct Inf {
  // Section name (any case) -> lines, in order. Each line keeps its raw text too, for
  // "key = value" lines of the install section.
  std::map<std::string, std::vector<std::string>, NoCaseLess> sections;
};

Inf Parse(const std::string& text) {
  Inf inf;
  std::vector<std::string>* current = nullptr;
  for (const std::string& line : TrimmedLines(text)) {
    if (line.empty() || line[0] == ';') continue;
    if (auto name = SectionName(line)) {
      current = &inf.sections[*name];
      continue;
    }
    if (current != nullptr) current->push_back(line);
  }
  return inf;
}

// The section names listed by `directive` ("AddReg", "DelReg") in the install section.
std::vector<std::string> Listed(const Inf& inf, const std::string& install,
                                const std::string& directive) {
  std::vector<std::string> names;
  auto section = inf.sections.find(install);
  if (section == inf.sections.end()) return names;
  for (const std::string& line : section->second) {
    auto equals = line.find('=');
    if (equals == std::string::npos || !SameText(Trim(line.substr(0, equals)), directive)) continue;
    for (const std::string& name : Fields(line.substr(equals + 1))) {
      if (!name.empty()) names.push_back(name);
    }
  }
  return names;
}

std::string RootOf(const std::string& field) {
  for (const char* root : {"HKLM", "HKCU", "HKCR", "HKU"}) {
    if (SameText(field, root)) return root;
  }
  return "";  // HKR has no meaning for a default install; anything else is no root
}

unsigned IntField(const std::vector<std::string>& fields, std::size_t index) {
  if (index >= fields.size() || fields[index].empty()) return 0;
  return static_cast<unsigned>(std::strtoul(fields[index].c_str(), nullptr, 0));
}

const std::string& FieldOr(const std::vector<std::string>& fields, std::size_t index) {
  static const std::string none;
  return index < fields.size() ? fields[index] : none;
}

void SetValue(Machine& m, const std::shared_ptr<RegKey>& key, const std::string& name,
              std::uint32_t type, std::vector<unsigned char> data) {
  m.Log(Event::OnValue("Installer sets", Registry::PathOf(*key), name).Did(Effect::kValueSet));
  key->values[name] = RegValue{type, std::move(data)};
}

void DeleteValueOrKey(Machine& m, const std::shared_ptr<RegKey>& key, const std::string& name,
                      unsigned flags) {
  if (!name.empty() && (flags & kKeyOnlyCommon) == 0) {
    if (key->values.erase(name) != 0)
      m.Log(Event::OnValue("Installer deletes", Registry::PathOf(*key), name).Did(Effect::kValueDeleted, true));
    return;
  }
  std::string path = Registry::PathOf(*key);
  if (m.registry.Remove(path)) m.Log(Event::On("Installer deletes key", path).Did(Effect::kKeyDeleted, true));
}

void AddValue(Machine& m, const std::shared_ptr<RegKey>& key, const std::vector<std::string>& fields,
              unsigned flags) {
  std::string name = FieldOr(fields, 2);
  if ((flags & (kDelRegBit | kDelVal)) != 0) {
    DeleteValueOrKey(m, key, name, flags);
    return;
  }
  if ((flags & (kKeyOnly | kKeyOnlyCommon)) != 0) return;
  bool exists = key->values.count(name) != 0;
  if (exists && (flags & kNoClobber) != 0) return;
  if (!exists && (flags & kOverwriteOnly) != 0) return;

  std::uint32_t type;
  switch (flags & kTypeMask) {
    case 0x00000000: type = REG_SZ; break;
    case 0x00010000: type = REG_MULTI_SZ; break;
    case 0x00020000: type = REG_EXPAND_SZ; break;
    case 0x00000001: type = REG_BINARY; break;
    case 0x00010001: type = REG_DWORD; break;
    case 0x00020001: type = REG_NONE; break;
    default: type = flags >> 16; break;
  }
  bool hasValue = fields.size() > 4;
  if ((flags & kBinValueType) == 0 || (type == REG_DWORD && fields.size() == 5)) {
    if (type == REG_MULTI_SZ) {
      std::vector<std::string> texts;
      for (std::size_t i = 4; i < fields.size(); ++i) texts.push_back(fields[i]);
      if ((flags & kAppend) != 0) {
        auto old = key->values.find(name);
        std::vector<std::string> merged;
        if (old != key->values.end() && old->second.type == REG_MULTI_SZ) {
          std::string all(old->second.data.begin(), old->second.data.end());
          for (std::size_t at = 0; at < all.size() && all[at] != '\0';) {
            std::string one = all.substr(at, all.find('\0', at) - at);
            merged.push_back(one);
            at += one.size() + 1;
          }
        }
        for (const std::string& text : texts) {
          bool found = false;
          for (const std::string& have : merged) found = found || SameText(have, text);
          if (!found) merged.push_back(text);
        }
        texts = merged;
      }
      std::vector<unsigned char> data;
      for (const std::string& text : texts) {
        data.insert(data.end(), text.begin(), text.end());
        data.push_back(0);
      }
      data.push_back(0);
      SetValue(m, key, name, type, std::move(data));
      return;
    }
    std::string text = FieldOr(fields, 4);
    if (type == REG_DWORD) {
      std::uint32_t number = hasValue && !text.empty()
                                 ? static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 0))
                                 : 0u;
      std::vector<unsigned char> data(4);
      std::memcpy(data.data(), &number, 4);
      SetValue(m, key, name, type, std::move(data));
      return;
    }
    std::vector<unsigned char> data(text.begin(), text.end());
    data.push_back(0);
    SetValue(m, key, name, type, std::move(data));
    return;
  }
  // Binary data: one hexadecimal byte per field from the fifth on.
  std::vector<unsigned char> data;
  for (std::size_t i = 4; i < fields.size(); ++i) {
    if (!fields[i].empty())
      data.push_back(static_cast<unsigned char>(std::strtoul(fields[i].c_str(), nullptr, 16)));
  }
  SetValue(m, key, name, type, std::move(data));
}

void ApplyLines(Machine& m, const std::vector<std::string>& lines, bool deleting) {
  std::vector<std::string> fields;
  for (const std::string& raw : lines) {
    SplitFields(raw, &fields);
    std::string root = RootOf(FieldOr(fields, 0));
    if (root.empty()) continue;
    std::string path = root;
    if (!FieldOr(fields, 1).empty()) path += "\\" + fields[1];
    unsigned flags = IntField(fields, 3);
    if (deleting) {
      if (flags == 0) flags = kDelRegBit;
      else if ((flags & kDelRegBit) == 0) continue;
    } else if ((flags & kDelRegBit) != 0) {
      continue;
    }
    std::shared_ptr<RegKey> key = deleting || (flags & kOverwriteOnly) != 0
                                      ? m.registry.Find(path)
                                      : m.registry.Create(path);
    if (key == nullptr) continue;
    AddValue(m, key, fields, flags);
  }
}

}  // namespace

ProgramHandler InfInstaller() {
  return [](Machine& m, const std::string& commandLine) -> unsigned {
    // "<program> setupapi,InstallHinfSection <section> <mode> <inf path>"
    std::vector<std::string> words;
    std::size_t at = 0;
    while (words.size() < 4) {
      std::size_t start = commandLine.find_first_not_of(' ', at);
      if (start == std::string::npos) return 0;
      std::size_t end = commandLine.find(' ', start);
      words.push_back(commandLine.substr(start, end == std::string::npos ? std::string::npos
                                                                         : end - start));
      if (end == std::string::npos) return 0;
      at = end;
    }
    std::size_t pathStart = commandLine.find_first_not_of(' ', at);
    if (pathStart == std::string::npos || !SameText(words[1], "setupapi,InstallHinfSection"))
      return 0;
    std::string infPath = commandLine.substr(pathStart);
    auto text = m.files.Read(infPath);
    if (!text) return 0;
    m.Log(Event::On("Installer applies", infPath).Did(Effect::kInfApplied, true));
    Inf inf = Parse(*text);
    for (const std::string& section : Listed(inf, words[2], "DelReg")) {
      auto lines = inf.sections.find(section);
      if (lines != inf.sections.end()) ApplyLines(m, lines->second, true);
    }
    for (const std::string& section : Listed(inf, words[2], "AddReg")) {
      auto lines = inf.sections.find(section);
      if (lines != inf.sections.end()) ApplyLines(m, lines->second, false);
    }
    return 0;
  };
}

}  // namespace sim
