// The entries of [STATICREG] and the per-device sections, as they reach the INF file.
#include <cstdint>
#include <cstdio>

#include "pakrun/inf_files.h"
#include "tools/pakrun-preview/checks.h"

namespace preview {

namespace {

using sim::SameText;

// The longest value of an INF field that reaches the INF whole.
constexpr std::size_t kLongestField = kEntryFieldCapacity - 1;

// A value that reaches the INF in double quotes: written in two pairs (""a, b"") in the
// settings file, whose reader drops the outer pair. Inside them commas, semicolons and
// blanks are the value's own.
bool InfQuoted(const std::string& value) {
  return value.size() >= 2 && value.front() == '"' && value.back() == '"' && value.find('"', 1) == value.size() - 1;
}

// Each field of an entry present within its count that has a value, but IDs.
template <typename Visit>
void ForEachValue(Context& c, Visit visit) {
  for (const EntryField& field : c.fields) {
    if (field.rule->field != Field::kId && field.value) visit(field, *field.value);
  }
}

// A value written as it is into the INF line (not between quotes of its own).
bool Bare(const EntryField& field, const std::string& value) {
  const bool quotedField = field.rule->field == Field::kSubkey || field.rule->field == Field::kName;
  return !quotedField && !InfQuoted(value);
}

void Warn(Context& c, const char* id, const EntryField& field, const std::string& message) {
  c.Warn(id, field.list->section->name, field.key, message);
}

// The flags as the INF installer reads them; none when it cannot.
std::optional<std::uint32_t> InfFlags(const std::string& text) {
  if (!HexNumber(text)) return std::nullopt;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  return static_cast<std::uint32_t>(std::stoull(hex ? text.substr(2) : text, nullptr, hex ? 16 : 10));
}

std::string Shown(std::uint32_t flags) {
  char shown[16];
  std::snprintf(shown, sizeof shown, "0x%08X", flags);
  return shown;
}

}  // namespace

void DeleteWithoutName(Context& c) {
  for (const EntryField& field : c.fields) {
    if (field.rule->field == Field::kName && field.list->countKey == "DELREG" && (!field.value || field.value->empty()))
      Warn(c, "PP301", field,
           field.list->kind == Kind::kStatic
               ? "a delete entry without a value name deletes the whole key with everything below it"
               : "a delete entry without a value name is left out (it would delete the whole driver key)");
  }
}

void EntryWithoutRoot(Context& c) {
  for (const EntryField& field : c.fields) {
    if (field.rule->field == Field::kRoot && (!field.value || field.value->empty()))
      Warn(c, "PP302", field, "no root: the INF installer skips the line");
  }
}

void QuotesDropped(Context& c) {
  ForEachValue(c, [&](const EntryField& field, const std::string& value) {
    const IniFile::Key* key = field.list->section->FindKey(field.key);
    if (key != nullptr && key->unquoted && !InfQuoted(value))
      Warn(c, "PP303", field, "the settings reader drops the quotes around the value: the INF gets " + value);
  });
}

void FieldTooLong(Context& c) {
  ForEachValue(c, [&](const EntryField& field, const std::string& value) {
    if (value.size() > kLongestField)
      Warn(c, "PP304", field,
           std::to_string(value.size()) + " characters do not fit the " + std::to_string(kLongestField) +
               " a field holds: the entry is left out of the INF");
  });
}

void QuoteInField(Context& c) {
  ForEachValue(c, [&](const EntryField& field, const std::string& value) {
    const bool quotedField = field.rule->field == Field::kSubkey || field.rule->field == Field::kName;
    if (quotedField && value.find('"') != std::string::npos) Warn(c, "PP305", field, "a double quote ends the INF field's quotes early");
  });
}

void LonePercent(Context& c) {
  ForEachValue(c, [&](const EntryField& field, const std::string& value) {
    for (std::size_t i = 0; i < value.size(); ++i) {
      if (value[i] != '%') continue;
      if (i + 1 < value.size() && value[i + 1] == '%') {
        ++i;
        continue;
      }
      Warn(c, "PP306", field, "a percent sign starts an INF string substitution (%name%); write %% for one");
      return;
    }
  });
}

void CommaSplits(Context& c) {
  ForEachValue(c, [&](const EntryField& field, const std::string& value) {
    if (!Bare(field, value) || value.find(',') == std::string::npos) return;
    // A list type (REG_MULTI_SZ, or REG_BINARY's bytes) takes its items comma-separated.
    bool whole = false;
    const unsigned bits = sim::ProfileNumber(field.flags, &whole);
    const bool listType = whole && ((bits & 0x00010000u) != 0 || (bits & 0xFFFF0001u) == 0x1u);
    if (!(field.rule->field == Field::kValue && listType)) Warn(c, "PP307", field, "a comma splits the value into more INF fields");
  });
}

void SemicolonComment(Context& c) {
  ForEachValue(c, [&](const EntryField& field, const std::string& value) {
    if (Bare(field, value) && value.find(';') != std::string::npos)
      Warn(c, "PP308", field, "a semicolon starts an INF comment: the rest of the line is dropped");
  });
}

void TrailingBackslash(Context& c) {
  ForEachValue(c, [&](const EntryField& field, const std::string& value) {
    if (Bare(field, value) && field.rule->field == Field::kValue && !value.empty() && value.back() == '\\')
      Warn(c, "PP309", field, "a trailing backslash joins the next INF line to this one");
  });
}

void HkrRoot(Context& c) {
  ForEachValue(c, [&](const EntryField& field, const std::string& value) {
    if (field.rule->field == Field::kRoot && SameText(value, "HKR"))
      Warn(c, "PP310", field, "HKR names no key outside a device's own install: the line changes nothing");
  });
}

void UnknownRoot(Context& c) {
  ForEachValue(c, [&](const EntryField& field, const std::string& value) {
    if (field.rule->field != Field::kRoot || value.empty()) return;
    for (const char* known : {"HKLM", "HKCU", "HKCR", "HKU", "HKR"}) {
      if (SameText(value, known)) return;
    }
    Warn(c, "PP311", field, "the INF installer knows no root \"" + value + "\" (HKLM, HKCU, HKCR, HKU)");
  });
}

void FlagsUnreadable(Context& c) {
  ForEachValue(c, [&](const EntryField& field, const std::string& value) {
    if (field.rule->field == Field::kFlags && !value.empty() && !InfFlags(value))
      Warn(c, "PP312", field, "\"" + value + "\" is no flags value the INF installer reads (decimal or 0x hex)");
  });
}

// FLG_ADDREG_BINVALUETYPE, NOCLOBBER, DELVAL, APPEND, KEYONLY, OVERWRITEONLY, 64BITKEY,
// KEYONLY_COMMON, 32BITKEY, DELREG_BIT; the type in the upper word.
constexpr std::uint32_t kKnownBits = 0x1u | 0x2u | 0x4u | 0x8u | 0x10u | 0x20u | 0x1000u | 0x2000u | 0x4000u | 0x8000u;

void FlagBitsUnknown(Context& c) {
  ForEachValue(c, [&](const EntryField& field, const std::string& value) {
    if (field.rule->field != Field::kFlags) return;
    std::optional<std::uint32_t> flags = InfFlags(value);
    if (flags && (*flags & 0xFFFFu & ~kKnownBits) != 0)
      Warn(c, "PP313", field, "flags " + Shown(*flags) + " hold bits the INF installer does not know");
  });
}

void ValueTypeUnknown(Context& c) {
  ForEachValue(c, [&](const EntryField& field, const std::string& value) {
    if (field.rule->field != Field::kFlags) return;
    std::optional<std::uint32_t> flags = InfFlags(value);
    if (flags && (*flags & 0xFFFFu & ~kKnownBits) == 0 && (*flags & 0x1u) == 0 && (*flags >> 16) > 2)
      Warn(c, "PP314", field, "flags " + Shown(*flags) + " name no value type the INF installer knows");
  });
}

// REG_DWORD data the INF installer cannot read as a number.
void DwordData(Context& c) {
  for (const EntryField& field : c.fields) {
    if (field.rule->field != Field::kValue || field.list->countKey != "ADDREG") continue;
    bool whole = false;
    if (field.flags.empty() || (sim::ProfileNumber(field.flags, &whole) & 0xFFFF0001u) != 0x00010001u || !whole) continue;
    const std::string value = field.value.value_or("");
    if (!value.empty() && !HexNumber(value))
      Warn(c, "PP315", field, "\"" + value + "\" is no number: the INF installer cannot write it as the REG_DWORD its flags name");
  }
}

}  // namespace preview
