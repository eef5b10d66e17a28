#include "tools/pakrun-preview/preview.h"

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <iterator>
#include <map>
#include <optional>

#include <CLI/CLI.hpp>

#include "tools/pakrun-preview/checks.h"
#include "tools/pakrun-preview/escape.h"
#include "tools/pakrun-preview/lint.h"
#include "tools/pakrun-preview/plan.h"
#include "tools/pakrun-preview/report.h"
#include "platform/sim/text.h"

namespace preview {

namespace {

constexpr char kUsageHead[] = R"(Usage: pakrun-preview SETTINGS-FILE [options]

Runs Pakrun's own run sequence on a substitute Windows machine and prints what it
would do there with SETTINGS-FILE as its Pakrun.ini: the mutex, device removals and
re-enumeration, renames, every command line it starts (byte for byte), every INF file
it writes (its full text), the registry script import with the values it sets, and
the per-device sections applied or missing; then warnings about the settings file.
The registry script is the file beside SETTINGS-FILE with its base name and ".reg".

Options (defaults in brackets):
)";

constexpr char kUsageTail[] = R"(
The settings file and the script must each be a regular file of at most 16 MiB.

Exit codes: 0 shown; 1 shown with warnings under --strict; 2 the settings file or the
script could not be read (missing, a directory, a device or pipe, above 16 MiB), or the
options are wrong.
)";

struct Options {
  std::string settingsFile;
  MachineOptions machine;
  std::string windows = "xp";
  std::string format = "text";
  bool strict = false;
  bool help = false;
  bool noShortName = false;
  bool listChecks = false;
  std::vector<std::string> disabled;
  // Where a machine file set an option, by its name without "--".
  std::map<std::string, Place> places;
};

// Every option, declared once: its name (without "--"), what it takes, its lines in the
// usage, whether a machine file may give it, and where its value goes. The command line,
// the machine file, the CLI11 declarations and the usage are all read from this table.
enum class Takes { kValue, kValues, kFlag, kPresentDevice, kAbsentDevice, kDeviceOnRefresh, kMachineFile };
struct OptionRow {
  const char* name;
  Takes takes;
  const char* argument;  // the value's name in the usage; empty for a flag
  const char* help;      // its lines in the usage, separated by '\n'
  bool inMachineFile;
  std::string& (*text)(Options&);  // a value's place (kValue)
  bool& (*flag)(Options&);         // a flag's place (kFlag)
  std::vector<std::string>& (*texts)(Options&) = nullptr;  // a repeatable value's (kValues)
};

const OptionRow kOptionRows[] = {
    {"machine", Takes::kMachineFile, "FILE",
     "the machine's options from FILE, one a line: option=value\n(without \"--\") or a flag; later options win",
     false, nullptr, nullptr},
    {"program", Takes::kValue, "PATH", "Windows path of Pakrun.exe [C:\\Setup\\Pakrun.exe]", true,
     [](Options& o) -> std::string& { return o.machine.program; }, nullptr},
    {"short-dir", Takes::kValue, "PATH",
     "short (8.3) form of its folder [the file system's own]; a\nfolder given as it is has no short name", true,
     [](Options& o) -> std::string& { return o.machine.shortDir; }, nullptr},
    {"no-short-name", Takes::kFlag, "",
     "the folder has no short names (the same as --short-dir\nequal to the folder)", true, nullptr,
     [](Options& o) -> bool& { return o.noShortName; }},
    {"windows", Takes::kValue, "VERSION", "2000, xp, 2003, 98, other (Windows 7) or all [xp]", true,
     [](Options& o) -> std::string& { return o.windows; }, nullptr},
    {"tail", Takes::kValue, "TEXT", "Pakrun's command-line tail, handed to the setup program [none]", true,
     [](Options& o) -> std::string& { return o.machine.tail; }, nullptr},
    {"present", Takes::kPresentDevice, "IDS[=KEY]",
     "a present device with this hardware-ID list (the IDs\nseparated by ',') and driver key name\n"
     "[{4D36E972-E325-11CE-BFC1-08002BE10318}\\0000, \\0001, ...]",
     true, nullptr, nullptr},
    {"absent", Takes::kAbsentDevice, "IDS", "an installed device that is not present", true, nullptr, nullptr},
    {"appears-on-refresh", Takes::kDeviceOnRefresh, "IDS[=KEY]",
     "an installed device that becomes present when the device\ntree is re-enumerated (all three are repeatable)",
     true, nullptr, nullptr},
    {"windir", Takes::kValue, "PATH", "the Windows folder (regedit.exe is taken from it) [C:\\WINDOWS]", true,
     [](Options& o) -> std::string& { return o.machine.windir; }, nullptr},
    {"system-root", Takes::kValue, "PATH", "the SystemRoot variable (INF installer, Driver Cache) [--windir]", true,
     [](Options& o) -> std::string& { return o.machine.systemRoot; }, nullptr},
    {"no-system-root", Takes::kFlag, "", "no SystemRoot variable (Windows 98 as it comes)", true, nullptr,
     [](Options& o) -> bool& { return o.machine.noSystemRoot; }},
    {"temp", Takes::kValue, "PATH", "the TEMP variable (where the INF files go) [C:\\TEMP]", true,
     [](Options& o) -> std::string& { return o.machine.temp; }, nullptr},
    {"format", Takes::kValue, "FORMAT", "text, json or sarif (SARIF 2.1.0) [text]", false,
     [](Options& o) -> std::string& { return o.format; }, nullptr},
    {"strict", Takes::kFlag, "", "exit with 1 when there is any warning (not counting those\nsilenced)", false,
     nullptr, [](Options& o) -> bool& { return o.strict; }},
    {"disable", Takes::kValues, "ID",
     "silence the check ID (repeatable; a comment line\n\"; pakrun-preview: disable=ID[,ID...]\" in the settings file\n"
     "silences them on the next line, or, before the first section,\nin the whole file)",
     false, nullptr, nullptr, [](Options& o) -> std::vector<std::string>& { return o.disabled; }},
    {"list-checks", Takes::kFlag, "", "every check's id and title, one a line", false, nullptr,
     [](Options& o) -> bool& { return o.listChecks; }},
    {"help", Takes::kFlag, "", "this text", false, nullptr, [](Options& o) -> bool& { return o.help; }},
};

// The name a word on the command line stands for when it is no option: the settings file.
constexpr char kSettingsFile[] = "settings-file";

const OptionRow* FindOption(const std::string& name) {
  for (const OptionRow& row : kOptionRows) {
    if (name == row.name) return &row;
  }
  return nullptr;
}

std::string Usage() {
  constexpr std::size_t kHelpColumn = 24;
  std::string text = kUsageHead;
  for (const OptionRow& row : kOptionRows) {
    std::string left = std::string("  --") + row.name + (*row.argument != '\0' ? std::string(" ") + row.argument : "");
    text += left.size() < kHelpColumn ? left + std::string(kHelpColumn - left.size(), ' ')
                                      : left + "\n" + std::string(kHelpColumn, ' ');
    for (const char* c = row.help; *c != '\0'; ++c) text += *c == '\n' ? "\n" + std::string(kHelpColumn, ' ') : std::string(1, *c);
    text += "\n";
  }
  return text + kUsageTail;
}

// What is read of the input files: a regular file of at most kMaxInputBytes. Pakrun reads
// settings files of a few kilobytes; anything this large is a mistake, and a device file
// such as /dev/zero, a pipe or a directory would never end or cannot be read at all.
enum class Input { kRead, kMissing, kUnusable };

Input ReadInput(const std::string& path, const char* what, std::string* bytes, std::string* problem) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::status(fs::u8path(path), error);
  if (status.type() == fs::file_type::not_found) return Input::kMissing;
  auto fail = [&](const std::string& why) {
    *problem = std::string(what) + " " + path + ": " + why;
    return Input::kUnusable;
  };
  if (error) return fail("cannot be read (" + error.message() + ")");
  if (fs::is_directory(status)) return fail("is a directory, not a file");
  if (!fs::is_regular_file(status))
    return fail("is not a regular file (a device, pipe or socket), so it is not read");
  std::ifstream file(fs::u8path(path), std::ios::binary);
  if (!file) return fail("cannot be read");
  // Read to one byte past the bound: a file that grows while it is read is caught too.
  bytes->clear();
  char buffer[65536];
  while (file && bytes->size() <= kMaxInputBytes) {
    file.read(buffer, sizeof buffer);
    bytes->append(buffer, static_cast<std::size_t>(file.gcount()));
  }
  if (file.bad()) return fail("cannot be read");
  if (bytes->size() > kMaxInputBytes)
    return fail("is larger than " + std::to_string(kMaxInputBytes / (1024 * 1024)) +
                " MiB, the most this tool reads");
  return Input::kRead;
}

// The script beside a settings file: its base name with ".reg".
std::string ScriptBeside(const std::string& settingsFile) {
  std::size_t slash = settingsFile.rfind('/');
  std::size_t dot = settingsFile.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return settingsFile + ".reg";
  return settingsFile.substr(0, dot) + ".reg";
}

bool AbsoluteWindowsPath(const std::string& path) {
  return path.size() >= 3 && path[1] == ':' && path[2] == '\\' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

std::size_t CountParts(const std::string& path) {
  std::size_t parts = 1;
  for (char c : path) parts += c == '\\' ? 1 : 0;
  return parts;
}

// Reads a machine file into words "--option=value" and "--flag": one option a line, written
// "option=value" or "flag", blanks around the name and the value dropped; empty lines and
// lines beginning with ';' or '#' are skipped. An empty result means it was good.
std::string MachineWords(const std::string& path, std::vector<std::string>* words,
                         std::map<std::string, Place>* places) {
  std::string bytes;
  std::string problem;
  switch (ReadInput(path, "the machine file", &bytes, &problem)) {
    case Input::kRead: break;
    case Input::kMissing: return "cannot read the machine file " + path + ": there is no such file";
    case Input::kUnusable: return problem;
  }
  std::size_t number = 0;
  for (std::size_t at = 0; at < bytes.size(); ++number) {
    const std::size_t start = at;
    std::size_t end = bytes.find('\n', at);
    const std::string line = sim::Trim(bytes.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end == std::string::npos ? bytes.size() : end + 1;
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    // Where the option's name begins, for a warning about the option.
    const Place here{path, static_cast<int>(number) + 1,
                     static_cast<int>(bytes.find_first_not_of(" \t\r", start) - start) + 1};
    const std::size_t equals = line.find('=');
    const std::string name = sim::Trim(line.substr(0, equals));
    const std::string where = "machine file " + path + " line " + std::to_string(number + 1) + ": ";
    const OptionRow* row = FindOption(name);
    const bool known = row != nullptr && row->inMachineFile;
    if (equals == std::string::npos) {
      if (!known || row->takes != Takes::kFlag)
        return where + "\"" + line + "\" is no flag a machine file may give (option=value for the others)";
      words->push_back("--" + name);
      (*places)[name] = here;
      continue;
    }
    if (known && row->takes == Takes::kFlag) return where + "\"" + name + "\" is a flag: write it without a value";
    if (!known) return where + "\"" + name + "\" is no option a machine file may set";
    words->push_back("--" + name + "=" + sim::Trim(line.substr(equals + 1)));
    (*places)[name] = here;
  }
  return "";
}

// Reads one device option's value, the device's whole hardware-ID list with an optional
// driver key, into `device`; an empty result means it was good.
std::string DeviceOf(const OptionRow& row, const std::string& value, DeviceOption* device) {
  const std::string option = std::string("--") + row.name;
  device->present = row.takes == Takes::kPresentDevice;
  device->appearsOnRefresh = row.takes == Takes::kDeviceOnRefresh;
  // An absent device is never given a driver key: its '=' belongs to the IDs.
  const std::size_t split = device->present || device->appearsOnRefresh ? value.find('=') : std::string::npos;
  const std::string list = value.substr(0, split);
  if (list.empty()) return option + " needs a hardware ID";
  if (list.find(';') != std::string::npos)
    return option + " " + list + ": separate the hardware IDs of a device with ',' (not ';')";
  for (std::size_t at = 0;;) {
    const std::size_t comma = list.find(',', at);
    const std::string id = sim::Trim(list.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
    if (id.empty()) return option + " " + list + ": an empty hardware ID in the list";
    device->hardwareIds.push_back(id);
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  if (split != std::string::npos) device->driverKey = value.substr(split + 1);
  if (split != std::string::npos && device->driverKey.empty()) return option + " " + value + ": empty driver key";
  return "";
}

// Parses the options; an empty result means they were good. The words are first brought
// to "--option=value" (a machine file to the words it holds, in its place), so that a value
// is never taken for an option whatever it looks like ("--tail -s"); CLI11 then reads them
// against the declarations of the table.
std::string Parse(const std::vector<std::string>& args, Options* options) {
  std::vector<std::string> words;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // A lone "--" or a word that is no option is the settings file's name.
    if (arg == "--" || arg.rfind("--", 0) != 0) {
      words.push_back(std::string("--") + kSettingsFile + "=" + arg);
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    const OptionRow* row = FindOption(name);
    if (row == nullptr) return "unknown option " + arg.substr(0, equals);
    // An option given on the command line after a machine file wins over its own, and its
    // warnings no longer point into that file.
    options->places.erase(name);
    if (row->takes == Takes::kFlag) {
      if (equals != std::string::npos) return "--" + name + " takes no value";
      words.push_back(arg);
      continue;
    }
    std::string value;
    if (equals != std::string::npos) value = arg.substr(equals + 1);
    else if (i + 1 == args.size()) return arg + " needs a value";
    else value = args[++i];
    // A machine file stands for its options, in its place: options after it on the
    // command line win over its own (a device adds one more).
    if (row->takes == Takes::kMachineFile) {
      std::string problem = MachineWords(value, &words, &options->places);
      if (!problem.empty()) return problem;
      continue;
    }
    words.push_back("--" + name + "=" + value);
  }

  CLI::App app("pakrun-preview");
  app.set_help_flag();  // --help prints the usage, as a flag of the table
  app.allow_windows_style_options(false);  // the same options on Windows as elsewhere
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  std::vector<std::string> files;
  app.add_option(std::string("--") + kSettingsFile, files)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  std::map<const CLI::Option*, const OptionRow*> devices;
  for (const OptionRow& row : kOptionRows) {
    const std::string flagName = std::string("--") + row.name;
    switch (row.takes) {
      case Takes::kValue: app.add_option(flagName, row.text(*options)); break;
      case Takes::kFlag: app.add_flag(flagName, row.flag(*options)); break;
      case Takes::kValues:
        app.add_option(flagName, row.texts(*options))->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        break;
      case Takes::kPresentDevice:
      case Takes::kAbsentDevice:
      case Takes::kDeviceOnRefresh:
        devices[app.add_option(flagName)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)] = &row;
        break;
      case Takes::kMachineFile: break;  // read above, in its place
    }
  }
  // CLI11 takes the words last first, and uses them up.
  std::reverse(words.begin(), words.end());
  try {
    app.parse(words);
  } catch (const CLI::ParseError& error) {
    return error.what();
  }
  if (files.size() > 1) return "more than one settings file: " + files[1];
  if (!files.empty()) options->settingsFile = files.front();
  // The devices in the order given, of every kind as they were mixed (the machine numbers
  // them in that order). A value is the device's whole hardware-ID list, the IDs
  // separated by commas: Windows allows no comma inside a device ID.
  MachineOptions& m = options->machine;
  std::map<const CLI::Option*, std::size_t> taken;
  for (const CLI::Option* option : app.parse_order()) {
    auto row = devices.find(option);
    if (row == devices.end()) continue;
    DeviceOption device;
    std::string problem = DeviceOf(*row->second, option->results().at(taken[option]++), &device);
    if (!problem.empty()) return problem;
    m.devices.push_back(device);
  }
  if (options->help || options->listChecks) return "";
  for (const std::string& id : options->disabled) {
    if (FindCheck(id.c_str()) == nullptr) return "--disable " + id + ": no such check (--list-checks lists them)";
  }
  if (options->settingsFile.empty()) return "no settings file given";
  for (const auto& [name, path] : {std::pair<const char*, const std::string&>{"--program", m.program},
                                   {"--windir", m.windir}, {"--temp", m.temp}}) {
    if (!AbsoluteWindowsPath(path)) return std::string(name) + " " + path + ": not a full Windows path (C:\\...)";
  }
  if (m.noSystemRoot && !m.systemRoot.empty()) return "--system-root and --no-system-root contradict each other";
  if (!m.systemRoot.empty() && !AbsoluteWindowsPath(m.systemRoot))
    return "--system-root " + m.systemRoot + ": not a full Windows path (C:\\...)";
  const std::string folder = m.program.substr(0, m.program.rfind('\\'));
  if (m.program.back() == '\\') return "--program " + m.program + ": names a folder, not Pakrun.exe";
  // A folder without short names: each part is its own short name.
  if (options->noShortName && !m.shortDir.empty() && !sim::SameText(m.shortDir, folder))
    return "--short-dir " + m.shortDir + " and --no-short-name contradict each other";
  if (options->noShortName) m.shortDir = folder;
  if (!m.shortDir.empty() && (CountParts(m.shortDir) != CountParts(folder) ||
                              m.shortDir.substr(0, 2) != folder.substr(0, 2)))
    return "--short-dir " + m.shortDir + " is not a short form of " + folder +
           " (the same drive and as many folders)";
  if (options->windows != "all" && FindWindows(options->windows) == nullptr)
    return "--windows " + options->windows + ": one of 2000, xp, 2003, 98, other, all";
  if (options->format != "text" && options->format != "json" && options->format != "sarif")
    return "--format " + options->format + ": text, json or sarif";
  return "";
}

}  // namespace

int PreviewMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options options;
  std::string problem = Parse(args, &options);
  if (!problem.empty()) {
    err << escape::ForTerminal("pakrun-preview: " + problem + "\n(pakrun-preview --help tells the usage)\n");
    return kUnusable;
  }
  if (options.help) {
    out << Usage();
    return kShown;
  }
  if (options.listChecks) {
    for (const CheckInfo& check : AllChecks()) out << check.id << "  " << check.title << "\n";
    return kShown;
  }
  std::string settings;
  switch (ReadInput(options.settingsFile, "the settings file", &settings, &problem)) {
    case Input::kRead: break;
    case Input::kMissing:
      problem = "cannot read the settings file " + options.settingsFile + ": there is no such file";
      [[fallthrough]];
    case Input::kUnusable:
      err << escape::ForTerminal("pakrun-preview: " + problem + "\n");
      return kUnusable;
  }
  std::string scriptBytes;
  std::optional<std::string> script;
  switch (ReadInput(ScriptBeside(options.settingsFile), "the registry script", &scriptBytes, &problem)) {
    case Input::kRead: script = scriptBytes; break;
    case Input::kMissing: break;
    case Input::kUnusable:
      err << escape::ForTerminal("pakrun-preview: " + problem + "\n");
      return kUnusable;
  }

  std::vector<WindowsVersion> versions;
  if (options.windows == "all") versions = WindowsVersions();
  else versions.push_back(*FindWindows(options.windows));

  std::vector<Plan> plans;
  bool warned = false;
  for (const WindowsVersion& windows : versions) {
    Plan plan = RunPlan(options.machine, windows, settings, script);
    LintInput lint;
    lint.settings = settings;
    lint.script = script;
    const std::string& scriptPath = plan.machine.scriptPath;
    lint.scriptName = scriptPath.substr(scriptPath.rfind('\\') + 1);
    lint.scriptSource = ScriptBeside(options.settingsFile);
    lint.osSuffix = plan.machine.osSuffix;
    lint.windowsLabel = windows.label;
    lint.programFolder = options.machine.program.substr(0, options.machine.program.rfind('\\'));
    lint.shortFolder = plan.machine.shortFolder;
    lint.shortFormMissing = plan.machine.shortFormMissing;
    lint.temp = plan.machine.temp;
    lint.systemRoot = plan.machine.systemRoot;
    lint.systemRootOption = options.machine.noSystemRoot          ? "--no-system-root"
                            : options.machine.systemRoot.empty() ? "--windir"
                                                                 : "--system-root";
    lint.settingsFile = options.settingsFile;
    lint.tail = options.machine.tail;
    lint.setupCommandLine = plan.machine.setupCommandLine;
    lint.setupCommandFits = plan.machine.setupCommandFits;
    lint.optionPlaces = options.places;
    lint.disabled = options.disabled;
    plan.warnings = Lint(lint);
    for (const Warning& warning : plan.warnings) warned = warned || !warning.suppressed;
    plans.push_back(std::move(plan));
  }
  if (options.format == "sarif") {
    // The working folder as the full form of "." less the ".": on Windows through the same
    // call as every other full path (GetFullPathNameW), no import of its own.
    std::error_code error;
    const std::filesystem::path working = std::filesystem::absolute(".", error).parent_path();
    out << SarifReport(plans, options.disabled, error ? std::string() : working.u8string());
  } else {
    out << (options.format == "json" ? JsonReport(plans, options.settingsFile)
                                     : TextReport(plans, options.settingsFile));
  }
  return options.strict && warned ? kWarned : kShown;
}

}  // namespace preview
