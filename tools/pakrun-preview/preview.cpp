#include "tools/pakrun-preview/preview.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

#include <CLI/CLI.hpp>

#include "tools/pakrun-preview/checks.h"
#include "tools/pakrun-preview/lint.h"
#include "tools/pakrun-preview/plan.h"
#include "tools/pakrun-preview/report.h"
#include "platform/sim/text.h"

namespace preview {

namespace {

constexpr char kUsage[] = R"(Usage: pakrun-preview SETTINGS-FILE [options]

Runs Pakrun's own run sequence on a substitute Windows machine and prints what it
would do there with SETTINGS-FILE as its Pakrun.ini: the mutex, device removals and
re-enumeration, renames, every command line it starts (byte for byte), every INF file
it writes (its full text), the registry script import with the values it sets, and
the per-device sections applied or missing; then warnings about the settings file.
The registry script is the file beside SETTINGS-FILE with its base name and ".reg".

Options (defaults in brackets):
  --machine FILE        the machine's options from FILE, one a line: option=value
                        (without "--") or a flag; later options win
  --program PATH        Windows path of Pakrun.exe [C:\Setup\Pakrun.exe]
  --short-dir PATH      short (8.3) form of its folder [the file system's own]; a
                        folder given as it is has no short name
  --no-short-name       the folder has no short names (the same as --short-dir
                        equal to the folder)
  --windows VERSION     2000, xp, 2003, 98, other (Windows 7) or all [xp]
  --tail TEXT           Pakrun's command-line tail, handed to the setup program [none]
  --present IDS[=KEY]   a present device with this hardware-ID list (the IDs
                        separated by ',') and driver key name
                        [{4D36E972-E325-11CE-BFC1-08002BE10318}\0000, \0001, ...]
  --absent IDS          an installed device that is not present
  --appears-on-refresh IDS[=KEY]
                        an installed device that becomes present when the device
                        tree is re-enumerated (all three are repeatable)
  --windir PATH         the Windows folder (regedit.exe is taken from it) [C:\WINDOWS]
  --system-root PATH    the SystemRoot variable (INF installer, Driver Cache) [--windir]
  --no-system-root      no SystemRoot variable (Windows 98 as it comes)
  --temp PATH           the TEMP variable (where the INF files go) [C:\TEMP]
  --format FORMAT       text or json [text]
  --strict              exit with 1 when there is any warning (not counting those
                        silenced)
  --disable ID          silence the check ID (repeatable; a comment line
                        "; pakrun-preview: disable=ID[,ID...]" in the settings file
                        silences them on the next line, or, before the first section,
                        in the whole file)
  --list-checks         every check's id and title, one a line
  --help                this text

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
  bool listChecks = false;
  std::vector<std::string> disabled;
  // Where a machine file set an option, by its name without "--".
  std::map<std::string, Place> places;
};

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

// The options that take a value. Written as "--option value", the value is the next word
// whatever it looks like (a tail of "-s" included), as it is written "--option=value".
constexpr const char* kValueOptions[] = {"--program", "--short-dir", "--windows", "--tail",
                                         "--present", "--absent", "--appears-on-refresh", "--windir",
                                         "--system-root", "--temp", "--format", "--disable"};

bool TakesValue(const std::string& option) {
  for (const char* name : kValueOptions) {
    if (option == name) return true;
  }
  return false;
}

// The device option a word "--option=value" gives, or none.
std::string DeviceOptionOf(const std::string& word) {
  for (const char* name : {"--present", "--absent", "--appears-on-refresh"}) {
    if (word.rfind(std::string(name) + "=", 0) == 0) return name;
  }
  return "";
}

// The options a machine file may set, without their "--": those that take a value, and
// the flags.
constexpr const char* kMachineValues[] = {"program", "short-dir", "windows", "tail", "present", "absent",
                                          "appears-on-refresh", "windir", "system-root", "temp"};
constexpr const char* kMachineFlags[] = {"no-short-name", "no-system-root"};

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
    bool known = false;
    if (equals == std::string::npos) {
      for (const char* flag : kMachineFlags) known = known || name == flag;
      if (!known) return where + "\"" + line + "\" is no flag a machine file may give (option=value for the others)";
      words->push_back("--" + name);
      (*places)[name] = here;
      continue;
    }
    for (const char* flag : kMachineFlags) {
      if (name == flag) return where + "\"" + name + "\" is a flag: write it without a value";
    }
    for (const char* option : kMachineValues) known = known || name == option;
    if (!known) return where + "\"" + name + "\" is no option a machine file may set";
    words->push_back("--" + name + "=" + sim::Trim(line.substr(equals + 1)));
    (*places)[name] = here;
  }
  return "";
}

// Parses the options; an empty result means they were good. CLI11 reads them; the words
// are first joined to "--option=value" so that a value is never taken for an option.
std::string Parse(const std::vector<std::string>& args, Options* options) {
  std::vector<std::string> words;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const std::string name = arg.substr(0, arg.find('='));
    // A machine file stands for its options, in its place: options after it on the
    // command line win over its own (a device adds one more).
    if (name == "--machine") {
      if (arg == name && i + 1 == args.size()) return arg + " needs a value";
      const std::string path = arg == name ? args[++i] : arg.substr(name.size() + 1);
      std::string problem = MachineWords(path, &words, &options->places);
      if (!problem.empty()) return problem;
      continue;
    }
    // An option given on the command line after a machine file wins over its own.
    if (name.rfind("--", 0) == 0) options->places.erase(name.substr(2));
    for (const char* flag : {"--help", "--strict", "--no-system-root", "--no-short-name", "--list-checks"}) {
      if (name == flag && name != arg) return name + " takes no value";
    }
    if (!TakesValue(arg)) {
      // A lone "--" or a word that is no option is the settings file's name.
      words.push_back(arg == "--" || arg.rfind("--", 0) != 0 ? "--settings-file=" + arg : arg);
      continue;
    }
    if (i + 1 == args.size()) return arg + " needs a value";
    words.push_back(arg + "=" + args[++i]);
  }

  CLI::App app("pakrun-preview");
  app.set_help_flag();  // --help prints the usage below, as a flag of our own
  app.allow_windows_style_options(false);  // the same options on Windows as elsewhere
  app.allow_extras();
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  MachineOptions& m = options->machine;
  std::vector<std::string> files;
  bool noShortName = false;
  app.add_option("--settings-file", files)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--program", m.program);
  app.add_option("--short-dir", m.shortDir);
  app.add_option("--windows", options->windows);
  app.add_option("--tail", m.tail);
  app.add_flag("--no-system-root", m.noSystemRoot);
  app.add_flag("--no-short-name", noShortName);
  app.add_option("--windir", m.windir);
  app.add_option("--system-root", m.systemRoot);
  app.add_option("--temp", m.temp);
  app.add_option("--format", options->format);
  app.add_flag("--strict", options->strict);
  app.add_flag("--help", options->help);
  app.add_flag("--list-checks", options->listChecks);
  app.add_option("--disable", options->disabled)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  // CLI11 takes the words last first, and uses them up. The device options are read
  // from `words` below, in the order given, and are not handed to it.
  std::vector<std::string> reversed;
  for (auto word = words.rbegin(); word != words.rend(); ++word) {
    if (DeviceOptionOf(*word).empty()) reversed.push_back(*word);
  }
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    return error.what();
  }
  if (!app.remaining().empty()) return "unknown option " + app.remaining().front();
  if (files.size() > 1) return "more than one settings file: " + files[1];
  if (!files.empty()) options->settingsFile = files.front();
  // The devices in the order given, of every kind as they were mixed (the machine numbers
  // them in that order). A value is the device's whole hardware-ID list, the IDs
  // separated by commas: Windows allows no comma inside a device ID.
  for (const std::string& word : words) {
    const std::string option = DeviceOptionOf(word);
    if (option.empty()) continue;
    const std::string value = word.substr(option.size() + 1);
    DeviceOption device;
    device.present = option == "--present";
    device.appearsOnRefresh = option == "--appears-on-refresh";
    std::size_t split = option != "--absent" ? value.find('=') : std::string::npos;
    const std::string list = value.substr(0, split);
    if (list.empty()) return option + " needs a hardware ID";
    if (list.find(';') != std::string::npos)
      return option + " " + list + ": separate the hardware IDs of a device with ',' (not ';')";
    for (std::size_t at = 0;;) {
      const std::size_t comma = list.find(',', at);
      const std::string id = sim::Trim(list.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
      if (id.empty()) return option + " " + list + ": an empty hardware ID in the list";
      device.hardwareIds.push_back(id);
      if (comma == std::string::npos) break;
      at = comma + 1;
    }
    if (split != std::string::npos) device.driverKey = value.substr(split + 1);
    if (split != std::string::npos && device.driverKey.empty()) return option + " " + value + ": empty driver key";
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
  if (noShortName && !m.shortDir.empty() && !sim::SameText(m.shortDir, folder))
    return "--short-dir " + m.shortDir + " and --no-short-name contradict each other";
  if (noShortName) m.shortDir = folder;
  if (!m.shortDir.empty() && (CountParts(m.shortDir) != CountParts(folder) ||
                              m.shortDir.substr(0, 2) != folder.substr(0, 2)))
    return "--short-dir " + m.shortDir + " is not a short form of " + folder +
           " (the same drive and as many folders)";
  if (options->windows != "all" && FindWindows(options->windows) == nullptr)
    return "--windows " + options->windows + ": one of 2000, xp, 2003, 98, other, all";
  if (options->format != "text" && options->format != "json")
    return "--format " + options->format + ": text or json";
  return "";
}

}  // namespace

int PreviewMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options options;
  std::string problem = Parse(args, &options);
  if (!problem.empty()) {
    err << "pakrun-preview: " << problem << "\n(pakrun-preview --help tells the usage)\n";
    return kUnusable;
  }
  if (options.help) {
    out << kUsage;
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
      err << "pakrun-preview: " << problem << "\n";
      return kUnusable;
  }
  std::string scriptBytes;
  std::optional<std::string> script;
  switch (ReadInput(ScriptBeside(options.settingsFile), "the registry script", &scriptBytes, &problem)) {
    case Input::kRead: script = scriptBytes; break;
    case Input::kMissing: break;
    case Input::kUnusable:
      err << "pakrun-preview: " << problem << "\n";
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
  out << (options.format == "json" ? JsonReport(plans, options.settingsFile)
                                   : TextReport(plans, options.settingsFile));
  return options.strict && warned ? kWarned : kShown;
}

}  // namespace preview
