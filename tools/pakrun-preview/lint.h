// What a package author should hear about a settings file before shipping it: keys that
// Pakrun never reads, switches and counts it reads otherwise than they look, entries and
// INF fields that would be skipped or change meaning, missing per-device sections, and a
// registry script the editor would refuse. These describe the file, with a small INI
// reader of their own (the same rules as the profile reader: names without regard to
// case, the first section and the first key of duplicates, values trimmed and unquoted);
// the plan itself always comes from Pakrun's own run.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/text.h"

namespace preview {

struct Warning {
  std::string section;
  std::string key;  // empty for a whole section
  std::string message;
  std::string id;    // the check's id ("PP105")
  std::string file;  // the file it points into, as named on the command line
  int line = 1;      // 1-based, of the key, value or section it is about
  int column = 1;    // 1-based, in characters
};

// A key of the settings file that a step came from.
struct SettingsRef {
  std::string section;
  std::string key;  // empty: the section as a whole
};

class IniFile {
 public:
  struct Key {
    std::string name;
    std::string value;  // trimmed, matching quotes dropped
    bool unquoted = false;  // the quotes around the value were dropped
  };
  struct Section {
    std::string name;
    std::vector<Key> keys;
    // The first key of each name (letter case ignored), by its place in `keys`.
    std::map<std::string, std::size_t, sim::NoCaseLess> first;
    // The first key of that name, or null.
    const Key* FindKey(const std::string& key) const;
  };

  static IniFile Parse(const std::string& bytes);
  // The first section of that name (letter case ignored), or null.
  const Section* Find(const std::string& name) const;
  // The first key of that name in the first such section, or none.
  std::optional<std::string> Value(const std::string& section, const std::string& key) const;
  // What Pakrun makes of them: a switch is on at exactly 1; a count is 0 when missing or
  // negative and held to the bound of the lists; a text entry takes its default.
  bool SwitchOn(const std::string& key) const;
  unsigned Count(const std::string& section, const std::string& key) const;
  std::string Text(const std::string& section, const std::string& key,
                   const std::string& defaultText) const;

  std::vector<Section> sections;  // in file order, duplicates included

 private:
  // The first section of each name, by its place in `sections`: a file of thousands of
  // keys is looked up thousands of times.
  std::map<std::string, std::size_t, sim::NoCaseLess> first_;
};

// The hardware IDs of a device list that Pakrun visits, in order, with their keys: the
// entries 1 to the count, a missing one as the list's default, and without the entries
// that it skips (an ID that fills its buffer; for DRIVERREG also a section name that would
// not fit, which needs the OS suffix).
struct ListEntry {
  std::string key;  // "DEV3"
  std::string id;
};
std::vector<ListEntry> VisitedEntries(const IniFile& ini, const std::string& section,
                                      const std::string& osSuffix = "");

// The per-device section name for `id` ("DRIVERREG_<id><suffix>").
std::string DeviceSectionName(const std::string& id, const std::string& osSuffix);

struct LintInput {
  std::string settings;                // the settings file's bytes
  std::optional<std::string> script;   // the registry script's bytes, when there is one
  std::string scriptName;              // its file name on the machine, for the messages
  std::string scriptSource;            // where the tool looked for it (empty: scriptName)
  std::string osSuffix;                // of the Windows version previewed
  std::string windowsLabel;            // "Windows XP"
  std::string shortFolder;             // the short program folder the run formed
  bool shortFormMissing = false;       // the run stood the long folder in for it
  std::string temp = "C:\\TEMP";        // the TEMP variable (where the INF files go)
  std::string systemRoot = "C:\\WINDOWS";  // the SystemRoot variable; empty: none
  std::string systemRootOption = "--windir";  // the option it came from
};

std::vector<Warning> Lint(const LintInput& input);

}  // namespace preview
