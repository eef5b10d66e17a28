// The registry of checks: every warning the linter can give comes from one row, with a
// stable id (never reused for another check), a one-line title and the function that runs
// it against the shared context. The ids are grouped by subject: PP0xx the file as a
// whole, PP1xx section and key names, PP2xx lists and counts, PP3xx the INF fields,
// PP4xx the setup program's start, PP5xx the registry script, PP6xx the machine.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/text.h"
#include "tools/pakrun-preview/lint.h"

namespace preview {

struct CheckInfo {
  const char* id;     // "PP105"
  const char* title;  // "key Pakrun never reads"
};

// Every check, in id order.
const std::vector<CheckInfo>& AllChecks();

// The row of `id`, or null.
const CheckInfo* FindCheck(const char* id);

// What a section is to Pakrun.
enum class Kind { kParams, kCleanup, kRefresh, kDriverReg, kStatic, kDevice };

// What a numbered entry key feeds.
enum class Field { kId, kRoot, kSubkey, kName, kFlags, kValue };

struct Numbered {
  const char* prefix;    // "ADDREG"
  const char* suffix;    // "_FLAGS", or "" for "DEV<n>"
  const char* countKey;  // the count that bounds it
  Field field;
};

// The keys of a kind of section: plain ones and numbered entries.
struct Rules {
  std::vector<const char*> plain;
  std::vector<Numbered> numbered;
};
const Rules& RulesOf(Kind kind);

// The seven switches of [PARAMS].
extern const char* const kSwitches[7];

// One list of a section Pakrun reads: a count key and the entries it bounds.
struct List {
  const IniFile::Section* section;
  Kind kind;
  std::string countKey;
  std::optional<std::string> text;  // the count's value, when the key is there
  unsigned raw = 0;                 // as GetPrivateProfileIntA reads it
  bool whole = true;                // nothing followed the number
  unsigned count = 0;               // what Pakrun uses
  std::set<unsigned> present;       // the entry numbers that have a key, 1 and up
};

// One field of an entry within its list's count, the entry present.
struct EntryField {
  const List* list;
  unsigned number;
  const Numbered* rule;
  std::string key;                   // "ADDREG3_VALUE"
  std::optional<std::string> value;  // none: no such key
  std::string flags;                 // the entry's _FLAGS value, or empty
};

// What every check reads: the input, the settings file read once with the place of each
// section, key and value, and the lists and entries Pakrun visits.
class Context {
 public:
  explicit Context(const LintInput& input);

  const LintInput& in;
  const IniFile ini;
  // The first section of each name that Pakrun reads, with its kind.
  std::map<std::string, Kind, sim::NoCaseLess> known;
  std::vector<List> lists;          // of the first section of each known name
  std::vector<EntryField> fields;   // of the entries present within each count
  std::string settingsText;         // as the profile functions read it
  // The registry script's lines as regedit reads them (a UTF-16 one in ANSI), trimmed;
  // empty without a script.
  std::vector<std::string> scriptLines;
  // Each id named by a comment line "; pakrun-preview: disable=ID[,ID...]": before the
  // first section it holds for the whole file, elsewhere for the line after it.
  struct Directive {
    std::string id;
    int line;    // of the comment
    int column;  // of the id
    bool wholeFile;
    int target;  // the line it silences: the next that is no comment; 0: none (a blank line came first)
  };
  std::vector<Directive> directives;

  // A warning about a key of the first section of that name: at its value (or its name),
  // or at the section's header when the key is missing, or at line 1 without the section.
  enum class At { kName, kValue };
  void Warn(const char* id, const std::string& section, const std::string& key, const std::string& message,
            At at = At::kValue);
  // About one section (a second one of a name among them) or one key of it.
  void WarnSection(const char* id, const IniFile::Section& section, const std::string& message);
  void WarnKey(const char* id, const IniFile::Section& section, const IniFile::Key& key,
               const std::string& message, At at);
  // About the settings file as a whole, or a place in it.
  void WarnFile(const char* id, const std::string& message, int line = 1, int column = 1);
  // About a line of the registry script.
  void WarnScript(const char* id, int line, const std::string& message);
  // About an option of the machine: where a machine file set it, or the settings file's
  // first line.
  void WarnOption(const char* id, const std::string& option, const std::string& message);

  // A warning at a place of its own.
  void Add(const char* id, const std::string& section, const std::string& key, const std::string& message,
           Place place);

  std::vector<Warning> warnings;
};

// Runs every check of the registry, in id order.
void RunChecks(Context& context);

// Helpers shared by the checks.
bool StartsWithNoCase(const std::string& text, const std::string& prefix);
std::optional<unsigned> EntryNumber(const std::string& key, const Numbered& rule);
unsigned EffectiveCount(unsigned raw);
bool HexNumber(const std::string& text);  // decimal or 0x hex, as the INF installer reads

// The checks, by subject.
// checks_files.cpp: the settings file as a whole, the registry script.
void UnknownDisabledCheck(Context& c);
void SettingsUtf16(Context& c);
void Utf8Mark(Context& c);
void NulByte(Context& c);
void ScriptMissing(Context& c);
void ScriptHeader(Context& c);
void ScriptUtf16(Context& c);
void ScriptVersion5(Context& c);
void ScriptRoot(Context& c);
void ScriptLine(Context& c);
void ScriptData(Context& c);
// checks_names.cpp
void SecondSection(Context& c);
void UnknownSection(Context& c);
void SecondKey(Context& c);
void DeviceRootKey(Context& c);
void UnknownKey(Context& c);
// checks_lists.cpp
void CountNotPlain(Context& c);
void CountNegative(Context& c);
void CountAboveBound(Context& c);
void EntryAboveCount(Context& c);
void EntriesMissing(Context& c);
void CountPastEntries(Context& c);
void IdFillsBuffer(Context& c);
void IdEmpty(Context& c);
void SectionNameTooLong(Context& c);
void DeviceSectionMissing(Context& c);
void IdLowerCase(Context& c);
void DeviceTwice(Context& c);
// checks_inf.cpp
void DeleteWithoutName(Context& c);
void EntryWithoutRoot(Context& c);
void QuotesDropped(Context& c);
void FieldTooLong(Context& c);
void QuoteInField(Context& c);
void LonePercent(Context& c);
void CommaSplits(Context& c);
void SemicolonComment(Context& c);
void TrailingBackslash(Context& c);
void HkrRoot(Context& c);
void UnknownRoot(Context& c);
void FlagsUnreadable(Context& c);
void FlagBitsUnknown(Context& c);
void ValueTypeUnknown(Context& c);
void DwordData(Context& c);
// checks_run.cpp: the setup program's start and the machine.
void SwitchNotBinary(Context& c);
void NameFillsBuffer(Context& c);
void IniNameBlank(Context& c);
void SetupNameEmpty(Context& c);
void SetupFullPath(Context& c);
void CommandLineTooLong(Context& c);
void TempTooLong(Context& c);
void TempBlank(Context& c);
void NoSystemRootForInf(Context& c);
void SystemRootTooLong(Context& c);
void SystemRootBlank(Context& c);
void NoSystemRootForRenames(Context& c);

}  // namespace preview
