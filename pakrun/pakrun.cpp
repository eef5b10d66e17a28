#include "pakrun/pakrun.h"

#include <cstring>

#include "pakrun/device_lists.h"
#include "pakrun/inf_files.h"
#include "pakrun/run_and_wait.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/programs.h"
#include "common/system.h"
#include "common/text.h"

namespace {

constexpr int kExitCode = 1;
constexpr char kParams[] = "PARAMS";
constexpr char kDefaultSetup[] = "Setup.exe";
constexpr char kDefaultCmdExe[] = "Netprep.exe";
constexpr char kRegeditCommand[] = "regedit /s \"%s\"";
constexpr char kRegeditProgram[] = "regedit.exe";
constexpr char kWindowsDirectoryVariable[] = "SystemRoot";

// Cached OEM INF files below the Windows directory, each renamed to ".org".
struct CachedInf {
  const char* from;
  const char* to;
};
constexpr CachedInf kCachedInfs[] = {
    {"\\Driver Cache\\tq3p81.inf", "\\Driver Cache\\tq3p81.org"},
    {"\\Driver Cache\\tq3p8.inf", "\\Driver Cache\\tq3p8.org"},
};

// Finds the last backslash of `path`, and the last "." after it, stepping over both
// bytes of every double-byte character so that a second byte is never taken for either.
void FindSeparators(const char* path, const char** lastBackslash, const char** lastDot) {
  *lastBackslash = nullptr;
  *lastDot = nullptr;
  for (const char* at = path; *at != '\0'; ++at) {
    if (IsDBCSLeadByte(static_cast<BYTE>(*at))) {
      if (at[1] == '\0') break;
      ++at;
    } else if (*at == '\\') {
      *lastBackslash = at;
      *lastDot = nullptr;  // a "." in a directory name is no extension
    } else if (*at == '.') {
      *lastDot = at;
    }
  }
}

// `path` with the text from `dot` on (or, without one, nothing) replaced by `extension`.
bool WithExtension(char* buffer, std::size_t capacity, const char* path, const char* dot,
                   const char* extension) {
  int stem = static_cast<int>(dot == nullptr ? std::strlen(path) : static_cast<std::size_t>(dot - path));
  return FormatText(buffer, capacity, "%.*s%s", stem, path, extension);
}

// A switch is on only when its value is exactly 1.
bool Switch(const char* settingsPath, const char* key) {
  return GetPrivateProfileIntA(kParams, key, 0, settingsPath) == 1;
}

// Reads a name into a MAX_PATH buffer; false when it fills the buffer, as a value cut by
// the profile reader would.
bool ReadName(const char* settingsPath, const char* key, const char* defaultName, char* name) {
  return GetPrivateProfileStringA(kParams, key, defaultName, name, MAX_PATH, settingsPath) <
         MAX_PATH - 1;
}

// Renames the cached INF files below the Windows directory. Without the Windows
// directory there is nothing to rename: a path relative to the current drive would name
// other files.
void RenameCachedInfFiles() {
  const char* windows = EnvironmentValue(kWindowsDirectoryVariable);
  if (windows == nullptr || *windows == '\0') return;
  for (const CachedInf& inf : kCachedInfs) {
    char from[MAX_PATH];
    char to[MAX_PATH];
    if (FormatText(from, sizeof from, "%s%s", windows, inf.from) &&
        FormatText(to, sizeof to, "%s%s", windows, inf.to))
      MoveFileA(from, to);
  }
}

}  // namespace

void ReadParams(const char* settingsPath, RunParams* params) {
  params->swapCmd = Switch(settingsPath, "SWAPCMD");
  params->cleanUp = Switch(settingsPath, "CLEANUP");
  bool exeFits = ReadName(settingsPath, "CMDEXE", kDefaultCmdExe, params->cmdExe);
  bool iniFits = ReadName(settingsPath, "CMDINI", kDefaultCmdIni, params->cmdIni);
  params->namesFit = exeFits && iniFits;
  params->rename = Switch(settingsPath, "RENAME");
  params->refresh = Switch(settingsPath, "REFRESH");
  params->staticReg = Switch(settingsPath, "STATICREG");
  params->driverReg = Switch(settingsPath, "DRIVERREG");
  params->staticRegFromFile = Switch(settingsPath, "STATICREGFROMFILE");
}

bool ComposeSetupCommandLine(const StartupValues& values, const RunParams& params,
                             const char* tail, char* commandLine, std::size_t capacity) {
  std::memset(commandLine, 0, capacity);
  char setupPath[MAX_PATH];
  if (!params.swapCmd) {
    if (!FormatText(setupPath, sizeof setupPath, "%s\\%s", values.programDirectory, kDefaultSetup))
      return false;
    if (*tail != '\0') return FormatText(commandLine, capacity, "\"%s\" %s", setupPath, tail);
    return FormatText(commandLine, capacity, "\"%s\"", setupPath);
  }
  if (!params.namesFit) return false;
  char iniPath[MAX_PATH];
  if (!FormatText(setupPath, sizeof setupPath, "%s\\%s", values.programDirectory, params.cmdExe) ||
      !FormatText(iniPath, sizeof iniPath, "%s\\%s", values.shortProgramDirectory, params.cmdIni))
    return false;
  // The short form exists to keep the INI path one argument. Where it still holds a blank
  // (no short form, so the long directory stands in, or a volume without short names,
  // where the platform hands back the long one), the INI path is quoted instead.
  const char* quote = std::strpbrk(values.shortProgramDirectory, " \t") != nullptr ? "\"" : "";
  if (*tail != '\0')
    return FormatText(commandLine, capacity, "\"%s\" /INI %s%s%s %s", setupPath, quote, iniPath,
                      quote, tail);
  return FormatText(commandLine, capacity, "\"%s\" /INI %s%s%s", setupPath, quote, iniPath, quote);
}


const char* OsSuffix() {
  OSVERSIONINFOA version;
  if (!QueryVersion(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT ||
      version.dwMajorVersion != 5)
    return "_ELSE";
  switch (version.dwMinorVersion) {
    case 0: return "_2000";
    case 1: return "_XP";
    case 2: return "_2003";
    default: return "_ELSE";
  }
}

bool FormStartupValues(StartupValues* values) {
  std::memset(values, 0, sizeof *values);
  values->osSuffix = OsSuffix();
  DWORD length = GetModuleFileNameA(nullptr, values->programPath, sizeof values->programPath);
  if (length == 0 || length >= sizeof values->programPath) {
    std::memset(values->programPath, 0, sizeof values->programPath);
    return false;
  }

  const char* lastBackslash = nullptr;
  const char* lastDot = nullptr;
  FindSeparators(values->programPath, &lastBackslash, &lastDot);
  if (lastBackslash == nullptr) {
    CopyText(values->programDirectory, sizeof values->programDirectory, values->programPath);
    CopyText(values->programFileName, sizeof values->programFileName, values->programPath);
  } else {
    int directory = static_cast<int>(lastBackslash - values->programPath);
    FormatText(values->programDirectory, sizeof values->programDirectory, "%.*s", directory,
               values->programPath);
    CopyText(values->programFileName, sizeof values->programFileName, lastBackslash + 1);
  }
  WithExtension(values->settingsPath, sizeof values->settingsPath, values->programPath, lastDot,
                ".ini");
  WithExtension(values->scriptPath, sizeof values->scriptPath, values->programPath, lastDot,
                ".reg");

  // Without a short form the long directory stands in: the setup program is still
  // given its settings file, in the one directory there is.
  DWORD shortLength = GetShortPathNameA(values->programDirectory, values->shortProgramDirectory,
                                        sizeof values->shortProgramDirectory);
  values->shortFormMissing = shortLength == 0 || shortLength >= sizeof values->shortProgramDirectory;
  if (values->shortFormMissing)
    CopyText(values->shortProgramDirectory, sizeof values->shortProgramDirectory,
             values->programDirectory);
  return true;
}

const char* CommandTail(const char* commandLine) {
  // The program name as the C runtime splits it off for the program's own arguments: a
  // quoted name ends at its closing quote, whatever follows it; an unquoted one at the
  // first blank or tab.
  const char* at = commandLine;
  if (*at == '"') {
    ++at;
    while (*at != '\0' && *at != '"') ++at;
    if (*at == '"') ++at;
  } else {
    while (*at != '\0' && *at != ' ' && *at != '\t') ++at;
  }
  while (*at == ' ' || *at == '\t') ++at;
  return at;
}

int PakrunMain(const char* commandLine) {
  StartupValues values;
  if (!FormStartupValues(&values)) return kExitCode;

  // The mutex stays held until the run ends; only its existence counts, so a failure to
  // create it for another reason does not stop the run.
  SetLastError(ERROR_SUCCESS);
  MutexHandle mutex(CreateMutexA(nullptr, FALSE, values.programFileName));
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) return kExitCode;

  // Without a settings path every key keeps its default, as with a missing file.
  RunParams params;
  const bool haveSettings = values.settingsPath[0] != '\0';
  if (haveSettings) {
    ReadParams(values.settingsPath, &params);
  } else {
    CopyText(params.cmdExe, sizeof params.cmdExe, kDefaultCmdExe);
    CopyText(params.cmdIni, sizeof params.cmdIni, kDefaultCmdIni);
  }

  // A 32-bit process cannot remove devices on 64-bit Windows: the removals are not tried.
  if (params.cleanUp && !RunningUnderWow64()) CleanUpDevices(values.settingsPath, "CLEANUP");

  // Composed in the buffer the start itself takes, so that every line RunAndWait could
  // start is started: a long tail (a response file and a log in a long folder) fits there.
  char setupCommand[kCommandLineCapacity];
  const bool composed = ComposeSetupCommandLine(values, params, CommandTail(commandLine),
                                                setupCommand, sizeof setupCommand);
  if (params.rename) RenameCachedInfFiles();
  if (composed) RunAndWait(setupCommand);

  if (params.refresh) RefreshDevices(values.settingsPath, "REFRESH");
  if (params.staticReg) ApplyStaticAddDel(values.settingsPath, "STATICREG");
  if (params.staticRegFromFile && values.scriptPath[0] != '\0') {
    // The editor receives the command line it always did, but the program started is the
    // one in the Windows directory: searched for by name, a regedit.exe in this program's
    // folder or the current directory would be found first and run with our rights.
    // Under WOW64 the Windows directory's editor is the 64-bit one, which would import
    // into the other registry view than the INF installer (the system directory's, so the
    // 32-bit one there): the system directory's editor is the 32-bit one.
    const SystemFolder editorFolder = RunningUnderWow64() ? SystemFolder::kSystem : SystemFolder::kWindows;
    char regedit[MAX_PATH];
    char regeditCommand[MAX_PATH];
    if (SystemFolderPath(editorFolder, kRegeditProgram, regedit, sizeof regedit) &&
        FormatText(regeditCommand, sizeof regeditCommand, kRegeditCommand, values.scriptPath))
      RunAndWait(regeditCommand, regedit);
  }
  if (params.driverReg) ApplyDriverRegList(values.settingsPath, values.osSuffix);
  return kExitCode;
}
