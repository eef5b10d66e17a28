// One run of Pakrun's own code (PakrunMain) on a substitute machine seeded from the
// preview's options, and the plan read from what the run did: the machine's ordered
// event log, the command lines CreateProcessA was given, and what the stand-in programs
// saw and changed while they ran.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/pakrun-preview/lint.h"

namespace preview {

struct WindowsVersion {
  const char* name;   // as given to --windows: "2000", "xp", "2003", "98", "other"
  const char* label;  // "Windows XP"
  unsigned platformId;
  unsigned major;
  unsigned minor;
  unsigned build;
  const char* servicePack;
};

// The versions --windows names, in the order "all" previews them.
const std::vector<WindowsVersion>& WindowsVersions();
const WindowsVersion* FindWindows(const std::string& name);

struct DeviceOption {
  std::vector<std::string> hardwareIds;  // the device's whole list, as Device Manager shows it
  std::string driverKey;  // present devices: the driver key name; empty: made up
  bool present = true;
  bool appearsOnRefresh = false;  // not present until the device tree is re-enumerated
};

struct MachineOptions {
  std::string program = "C:\\Setup\\Pakrun.exe";
  std::string shortDir;    // empty: the file system's own short form of the folder
  std::string windir = "C:\\WINDOWS";
  std::string systemRoot;  // empty: the Windows folder
  bool noSystemRoot = false;  // the environment has no SystemRoot at all
  std::string temp = "C:\\TEMP";
  std::string tail;
  std::vector<DeviceOption> devices;
};

// A registry change a stand-in program made while it ran (the INF installer, the
// registry editor), with the value as it stood right after the program ended.
struct RegistryChange {
  std::string action;  // "set", "delete_value", "delete_key"
  std::string key;
  std::string name;
  std::string type;    // "REG_SZ", "REG_DWORD", ... (set only)
  std::string value;   // the text, "dword:0000000a", the strings joined by "\0", or hex
  std::optional<std::uint32_t> number;  // REG_DWORD
  bool found = true;   // deletions: false when the machine held nothing to delete
};

struct Step {
  std::string kind;
  // The step's texts in the order they are shown: "name" of a mutex, "instance_id",
  // "command_line", "script_text" (the registry script the editor imported), "path",
  // "text", "section", "status", ...
  std::vector<std::pair<std::string, std::string>> texts;
  std::optional<std::int64_t> code;  // a started program's exit code; Pakrun's own at "exit"
  std::vector<RegistryChange> changes;
  std::vector<SettingsRef> settings;  // the keys it came from, where known

  std::string Get(const std::string& name) const;
  bool Has(const std::string& name) const;
  void Set(const std::string& name, const std::string& value);
};

struct SeededDevice {
  std::string hardwareId;  // the first of its hardware IDs
  std::string instanceId;
  bool present = true;
  std::string driverKey;
  std::vector<std::string> hardwareIds;
  bool appearsOnRefresh = false;
  bool presentAtEnd = false;  // present when the run ended (after any re-enumeration)
};

// The device's hardware IDs as the output shows them: "A, B, C".
std::string JoinedIds(const SeededDevice& device);

// What the machine was, as the run found it; every default the preview chose is here.
struct MachineReport {
  std::string windows;  // "xp"
  std::string label;
  std::string version;  // "5.1.2600 Service Pack 3, NT platform"
  std::string osSuffix;
  std::string program;
  std::string commandLine;
  std::string tail;
  std::string shortFolder;
  bool shortFormMissing = false;
  std::string settingsPath;
  std::string scriptPath;
  bool scriptPresent = false;
  std::string windowsDirectory;
  std::string systemRoot;  // empty: the environment has none
  std::string temp;
  // The setup command line Pakrun composes, whole (empty when a path in it does not fit),
  // and whether it fits the buffer Pakrun composes and starts it in.
  std::string setupCommandLine;
  bool setupCommandFits = true;
  std::vector<SeededDevice> devices;
  std::vector<std::string> assumedFiles;     // placed on the machine so their steps show
  std::vector<std::string> assumedPrograms;  // stand-ins that may be started
};

struct Plan {
  MachineReport machine;
  std::vector<Step> steps;
  std::vector<std::string> notes;  // what the preview could not show
  std::vector<Warning> warnings;
};

// Runs Pakrun on a fresh machine for `windows` and reads the plan from the run.
Plan RunPlan(const MachineOptions& options, const WindowsVersion& windows,
             const std::string& settings, const std::optional<std::string>& script);

}  // namespace preview
