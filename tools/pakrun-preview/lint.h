// What a package author should hear about a settings file before shipping it: keys that
// Pakrun never reads, switches and counts it reads otherwise than they look, entries and
// INF fields that would be skipped or change meaning, missing per-device sections, and a
// registry script the editor would refuse. Every warning comes from one check of the
// registry (checks.h) and points at its file, line and column. The file is read once, by
// the same rules as the profile functions (lines end at CR LF, LF or a lone CR; names
// without regard to case; the first section and the first key of duplicates; values
// trimmed and unquoted, ending at a NUL byte; a UTF-16 file read as the NT family reads
// it); the plan itself always comes from Pakrun's own run.
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
  bool suppressed = false;  // silenced by a disable comment or --disable
};

// A place in a file: the settings file, the registry script or a machine file.
struct Place {
  std::string file;
  int line = 1;
  int column = 1;
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
    int line = 0;           // 1-based line, and columns of the name and the value
    int nameColumn = 0;
    int valueColumn = 0;
  };
  struct Section {
    std::string name;
    int line = 0;    // of its header
    int column = 0;
    std::vector<Key> keys;
    // The first key of each name (letter case ignored), by its place in `keys`.
    std::map<std::string, std::size_t, sim::NoCaseLess> first;
    // The first key of that name, or null.
    const Key* FindKey(const std::string& key) const;
  };

  // A file that begins with the UTF-16LE byte-order mark is read as the NT family reads
  // it, one character a column.
  static IniFile Parse(const std::string& bytes);
  // The file's text as the profile functions read it (a UTF-16 file in ANSI).
  static std::string Text(const std::string& bytes);
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
  std::string programFolder = "C:\\Setup";  // Pakrun's folder, in front of the setup program
  std::string shortFolder;             // the short program folder the run formed
  bool shortFormMissing = false;       // the run stood the long folder in for it
  std::string temp = "C:\\TEMP";        // the TEMP variable (where the INF files go)
  std::string systemRoot = "C:\\WINDOWS";  // the SystemRoot variable; empty: none
  std::string systemRootOption = "--windir";  // the option it came from
  std::string settingsFile = "Pakrun.ini";  // as named on the command line
  std::string tail;                    // Pakrun's command-line tail
  // The setup command line Pakrun composes, whole, and whether it fits the buffer it is
  // composed in; empty when it cannot be composed at all (a path that does not fit).
  std::string setupCommandLine;
  bool setupCommandFits = true;
  // Where an option of the machine ("temp", "windir", "system-root", "no-system-root",
  // "tail") was set in a machine file; an option given on the command line has none, and
  // its warnings point at the settings file's first line.
  std::map<std::string, Place> optionPlaces;
  std::vector<std::string> disabled;   // check ids silenced by --disable
};

// Every warning, those silenced included (marked `suppressed`), in the order of their
// files and places.
std::vector<Warning> Lint(const LintInput& input);

}  // namespace preview
