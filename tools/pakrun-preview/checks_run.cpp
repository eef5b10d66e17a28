// The setup program's start, and the machine the run needs: TEMP and SystemRoot.
#include "pakrun/inf_files.h"
#include "pakrun/pakrun.h"
#include "pakrun/run_and_wait.h"
#include "platform/kernel.h"
#include "tools/pakrun-preview/checks.h"

namespace preview {

namespace {

// The longest value of a MAX_PATH buffer that Pakrun takes as read whole (CMDEXE, CMDINI).
constexpr std::size_t kLongestName = MAX_PATH - 2;
// The longest path a MAX_PATH buffer holds (INF path, installer path).
constexpr std::size_t kLongestPath = MAX_PATH - 1;
// The INF files' names are as long as each other.
constexpr std::size_t kInfName = sizeof kStaticInfName - 1;
static_assert(sizeof kStaticInfName == sizeof kDriverInfName);
constexpr char kInstaller[] = "\\System32\\rundll32.exe";

bool InfWritten(const Context& c) { return c.ini.SwitchOn("STATICREG") || c.ini.SwitchOn("DRIVERREG"); }

bool HasBlank(const std::string& text) { return text.find_first_of(" \t") != std::string::npos; }

}  // namespace

void SwitchNotBinary(Context& c) {
  if (c.ini.Find("PARAMS") == nullptr) return;
  for (const char* name : kSwitches) {
    std::optional<std::string> value = c.ini.Value("PARAMS", name);
    if (value && *value != "0" && *value != "1")
      c.Warn("PP401", "PARAMS", name, "\"" + *value + "\" is not 0 or 1: the switch is " + (c.ini.SwitchOn(name) ? "on" : "off"));
  }
}

// CMDEXE and CMDINI are read, and the setup program started by them, only with SWAPCMD on.
void NameFillsBuffer(Context& c) {
  if (!c.ini.SwitchOn("SWAPCMD")) return;
  for (const char* name : {"CMDEXE", "CMDINI"}) {
    std::optional<std::string> value = c.ini.Value("PARAMS", name);
    if (value && value->size() > kLongestName)
      c.Warn("PP402", "PARAMS", name,
             "a name of " + std::to_string(value->size()) + " characters fills its buffer: the setup program is not started");
  }
}

// Only a blank of CMDINI splits the INI path: where the short folder holds one, Pakrun
// quotes the path.
void IniNameBlank(Context& c) {
  if (!c.ini.SwitchOn("SWAPCMD") || HasBlank(c.in.shortFolder)) return;
  const std::string ini = c.ini.Text("PARAMS", "CMDINI", kDefaultCmdIni);
  if (HasBlank(ini)) c.Warn("PP403", "PARAMS", "CMDINI", "\"" + ini + "\" holds a blank: the setup program receives the INI path split in two");
}

// CMDEXE is a name in Pakrun's folder: a full path, or none, names no program.
void SetupNameEmpty(Context& c) {
  if (!c.ini.SwitchOn("SWAPCMD")) return;
  std::optional<std::string> exe = c.ini.Value("PARAMS", "CMDEXE");
  if (exe && exe->empty())
    c.Warn("PP404", "PARAMS", "CMDEXE", "an empty name: Pakrun starts its own folder, which is no program, and nothing runs");
}

void SetupFullPath(Context& c) {
  if (!c.ini.SwitchOn("SWAPCMD")) return;
  std::optional<std::string> exe = c.ini.Value("PARAMS", "CMDEXE");
  if (exe && ((exe->size() >= 2 && (*exe)[1] == ':') || (!exe->empty() && (*exe)[0] == '\\')))
    c.Warn("PP405", "PARAMS", "CMDEXE",
           "a full path: Pakrun puts its own folder in front of it (\"" + c.in.programFolder + "\\" + *exe +
               "\"), which names no program, and nothing runs");
}

// The setup command line is composed in the buffer the start takes; a line that does not
// fit is not cut but not started at all.
void CommandLineTooLong(Context& c) {
  if (c.in.tail.empty() || c.in.setupCommandFits || c.in.setupCommandLine.empty()) return;
  const std::string message = "with this tail the setup command line Pakrun composes is " +
                              std::to_string(c.in.setupCommandLine.size()) + " characters, more than the " +
                              std::to_string(kCommandLineCapacity - 1) +
                              " its buffer holds: the setup program would not be started at all";
  c.WarnOption("PP406", "--tail", message);
}

void TempTooLong(Context& c) {
  if (!InfWritten(c) || c.in.temp.size() + 1 + kInfName <= kLongestPath) return;
  c.WarnOption("PP601", "--temp",
               "TEMP is " + std::to_string(c.in.temp.size()) + " characters: the INF path (TEMP\\" + kStaticInfName + ") does not fit in " +
                   std::to_string(kLongestPath) +
                   " characters, so Pakrun writes no INF file and applies none of the [STATICREG] or per-device entries, without a word");
}

void TempBlank(Context& c) {
  const std::string& temp = c.in.temp;
  if (!InfWritten(c) || temp.size() + 1 + kInfName > kLongestPath || !HasBlank(temp)) return;
  c.WarnOption("PP602", "--temp",
               "TEMP \"" + temp + "\" holds a blank: Pakrun puts the INF path unquoted at the end of the installer's command line (... 132 " +
                   temp + "\\StaticAddDel.inf), where it is found only by an installer that takes the rest of the line as the path; give TEMP in its short (8.3) form");
}

void NoSystemRootForInf(Context& c) {
  if (InfWritten(c) && c.in.systemRoot.empty())
    c.WarnOption("PP603", c.in.systemRootOption,
                 "no SystemRoot (as on Windows 98 unless the installer sets one): Pakrun writes and deletes each INF file "
                 "but starts no installer, so nothing of [STATICREG] or the per-device sections is applied");
}

void SystemRootTooLong(Context& c) {
  const std::string& root = c.in.systemRoot;
  if (InfWritten(c) && !root.empty() && root.size() + sizeof kInstaller - 1 > kLongestPath)
    c.WarnOption("PP604", c.in.systemRootOption,
                 "SystemRoot is " + std::to_string(root.size()) + " characters: the installer's path does not fit in " +
                     std::to_string(kLongestPath) + " characters, so the INF files are written and deleted and none is applied");
}

void SystemRootBlank(Context& c) {
  const std::string& root = c.in.systemRoot;
  if (InfWritten(c) && !root.empty() && root.size() + sizeof kInstaller - 1 <= kLongestPath && HasBlank(root))
    c.WarnOption("PP605", c.in.systemRootOption,
                 "SystemRoot \"" + root + "\" holds a blank: the installer's command line begins with its path unquoted (" + root +
                     "\\System32\\rundll32.exe setupapi,...), so rundll32 takes the part after the blank for the library to load and no INF file is applied");
}

// The renames work below SystemRoot.
void NoSystemRootForRenames(Context& c) {
  if (c.in.systemRoot.empty() && c.ini.SwitchOn("RENAME"))
    c.WarnOption("PP606", c.in.systemRootOption, "no SystemRoot (as on Windows 98 unless the installer sets one): RENAME renames nothing");
}

}  // namespace preview
