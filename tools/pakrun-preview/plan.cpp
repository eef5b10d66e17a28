#include "tools/pakrun-preview/plan.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "pakrun/pakrun.h"
#include "pakrun/run_and_wait.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/sim/machine.h"
#include "platform/sim/standins/standins.h"

namespace preview {

namespace {

using sim::Effect;
using sim::SameText;

// The run is read per started program by what its stand-in saw: which program it stood
// for, where in the log it ran, how far the DRIVERREG list had got (each entry Pakrun
// visits lists the present devices once), and the registry changes it made.
struct ProgramRun {
  std::string program;  // "setup", "inf_installer", "registry_editor"
  std::size_t firstEvent = 0;
  std::size_t driverListWalks = 0;
  std::vector<RegistryChange> changes;
  std::optional<std::string> script;  // the registry script the editor imported, as on disk
};

// The text of a file written through a stream, read before anything could delete it.
struct Recorder {
  std::vector<ProgramRun> runs;
  std::map<std::size_t, std::string> fileTexts;  // by the index of its OpenTextStream event

  // Reads every written file whose latest event is still its opening: the stream has been
  // closed by the time a program is started (Pakrun closes before it hands a file on).
  void ReadWrittenFiles(const sim::Machine& m) {
    const std::vector<sim::Event>& events = m.EventRecords();
    for (std::size_t i = 0; i < events.size(); ++i) {
      if (events[i].effect != Effect::kFileOpenedToWrite || fileTexts.count(i) != 0) continue;
      bool later = false;
      for (std::size_t j = i + 1; j < events.size() && !later; ++j) {
        const Effect effect = events[j].effect;
        later = (effect == Effect::kFileOpenedToWrite || effect == Effect::kFileDeleted ||
                 effect == Effect::kFileRenamed) &&
                SameText(events[j].subject, events[i].subject);
      }
      if (later) continue;
      if (auto text = m.files.Read(events[i].subject)) fileTexts[i] = *text;
    }
  }
};

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

bool ChangesRegistry(const sim::Event& event) {
  return event.effect == Effect::kValueSet || event.effect == Effect::kValueDeleted ||
         event.effect == Effect::kKeyDeleted;
}

// The change a registry event made: what it did and to which key and value, with the value
// as the machine holds it now.
RegistryChange ChangeOf(const sim::Machine& m, const sim::Event& event) {
  RegistryChange change;
  change.key = event.subject;
  change.name = event.valueName;
  if (event.effect == Effect::kValueSet) {
    change.action = "set";
    std::optional<sim::RegValue> value = m.registry.Value(event.subject, event.valueName);
    if (!value) return change;
    const std::vector<unsigned char>& data = value->data;
    switch (value->type) {
      case REG_SZ:
      case REG_EXPAND_SZ: {
        change.type = value->type == REG_SZ ? "REG_SZ" : "REG_EXPAND_SZ";
        std::string text(data.begin(), data.end());
        change.value = text.substr(0, text.find('\0'));
        break;
      }
      case REG_DWORD: {
        change.type = "REG_DWORD";
        std::uint32_t number = 0;
        if (data.size() >= 4) std::memcpy(&number, data.data(), 4);
        change.number = number;
        change.value = "dword:" + Hex(number);
        break;
      }
      case REG_MULTI_SZ: {
        change.type = "REG_MULTI_SZ";
        std::string text(data.begin(), data.end());
        while (!text.empty() && text.back() == '\0') text.pop_back();
        change.value = text;
        break;
      }
      default: {
        change.type = value->type == REG_BINARY ? "REG_BINARY"
                      : value->type == REG_NONE ? "REG_NONE"
                                                : "type " + std::to_string(value->type);
        std::string bytes;
        for (unsigned char byte : data) {
          char two[4];
          std::snprintf(two, sizeof two, "%02x", byte);
          bytes += (bytes.empty() ? "" : ",") + std::string(two);
        }
        change.value = "hex:" + bytes;
      }
    }
  } else {
    change.action = event.effect == Effect::kKeyDeleted ? "delete_key" : "delete_value";
    change.found = event.existed;
  }
  return change;
}

// `inner` in the place of a program, recording what it saw and did.
sim::ProgramHandler Recorded(const std::shared_ptr<Recorder>& recorder, const std::string& program,
                             sim::ProgramHandler inner) {
  return [recorder, program, inner](sim::Machine& m, const std::string& commandLine) -> unsigned {
    recorder->ReadWrittenFiles(m);
    ProgramRun run;
    run.program = program;
    run.firstEvent = m.EventRecords().size();
    run.driverListWalks = static_cast<std::size_t>(m.Calls("SetupDiGetClassDevsExA"));
    unsigned exitCode = inner ? inner(m, commandLine) : 0u;
    const std::vector<sim::Event>& events = m.EventRecords();
    for (std::size_t i = run.firstEvent; i < events.size(); ++i) {
      if (events[i].effect == Effect::kScriptImported) run.script = m.files.Read(events[i].subject);
      else if (ChangesRegistry(events[i])) run.changes.push_back(ChangeOf(m, events[i]));
    }
    recorder->runs.push_back(run);
    return exitCode;
  };
}

std::string FolderOf(const std::string& path) {
  std::size_t slash = path.rfind('\\');
  return slash == std::string::npos ? path : path.substr(0, slash);
}

std::vector<std::string> Parts(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  for (;;) {
    std::size_t slash = path.find('\\', at);
    parts.push_back(path.substr(at, slash == std::string::npos ? std::string::npos : slash - at));
    if (slash == std::string::npos) return parts;
    at = slash + 1;
  }
}

void SeedShortNames(sim::Machine& m, const std::string& folder, const std::string& shortFolder) {
  std::vector<std::string> longParts = Parts(folder);
  std::vector<std::string> shortParts = Parts(shortFolder);
  std::string path = longParts[0];
  for (std::size_t i = 1; i < longParts.size() && i < shortParts.size(); ++i) {
    path += "\\" + longParts[i];
    // A part given as it is has no short name of its own (a volume without 8.3 names):
    // it is seeded as its own short name, never replaced by one made up.
    m.files.SetShortName(path, shortParts[i]);
  }
}

std::string ProfileText(const std::string& settingsPath, const char* key, const char* defaultText) {
  char value[MAX_PATH] = {};
  GetPrivateProfileStringA("PARAMS", key, defaultText, value, sizeof value, settingsPath.c_str());
  return value;
}

// Steps of the run, read from the log in order.
class Reader {
 public:
  Reader(const sim::Machine& m, const Recorder& recorder, const MachineReport& machine)
      : m_(m), recorder_(recorder), machine_(machine) {}

  std::vector<Step> Steps() {
    const std::vector<sim::Event>& events = m_.EventRecords();
    std::size_t started = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
      const sim::Event& event = events[i];
      if (InsideProgram(i)) continue;
      switch (event.effect) {
        case Effect::kMutexCreated:
          Add("mutex", {{"name", event.subject}, {"existed", event.existed ? "yes" : "no"}});
          break;
        case Effect::kDeviceRemoved:
          Add("remove_device", {{"instance_id", event.subject}, {"hardware_id", HardwareIdOf(event.subject)}});
          break;
        case Effect::kFileRenamed: Add("rename", {{"path", event.subject}, {"new_path", event.detail}}); break;
        case Effect::kProcessStarted: Started(i, &started); break;
        case Effect::kProcessWaitedFor:
          if (Step* start = LastStart()) start->Set("wait", event.detail);
          break;
        case Effect::kProcessExited:
          if (Step* start = LastStart()) start->code = event.number;
          break;
        case Effect::kDevicesReenumerated: Add("reenumerate", {}); break;
        case Effect::kFileOpenedToWrite: {
          Step& step = Add("write_file", {{"path", event.subject}});
          auto text = recorder_.fileTexts.find(i);
          if (text != recorder_.fileTexts.end()) step.Set("text", text->second);
          break;
        }
        case Effect::kFileDeleted: Add("delete_file", {{"path", event.subject}}); break;
        case Effect::kFileClosed: break;
        default:
          // Any other side effect is shown as the machine logged it.
          Add("other", {{"event", event.Text()}});
      }
    }
    return steps_;
  }
  const std::map<std::size_t, std::size_t>& WalksOfStart() const { return walksOfStart_; }

 private:
  // The program start logged at `event`; `started` counts the starts the machine kept.
  void Started(std::size_t event, std::size_t* started) {
    Step& step = Add("start", {{"program", "unknown"}, {"command_line", m_.EventRecords()[event].subject}});
    if (*started < m_.programs.started.size()) {
      const sim::ProgramStart& start = m_.programs.started[(*started)++];
      if (start.applicationNameGiven) step.Set("application_name", start.applicationName);
    }
    if (const ProgramRun* run = RunAfter(event)) {
      step.Set("program", run->program);
      if (run->script) step.Set("script_text", *run->script);
      step.changes = run->changes;
      walksOfStart_[steps_.size() - 1] = run->driverListWalks;
    }
  }
  Step& Add(const std::string& kind, std::vector<std::pair<std::string, std::string>> texts) {
    steps_.push_back(Step{kind, std::move(texts), std::nullopt, {}, {}});
    return steps_.back();
  }
  Step* LastStart() {
    for (auto it = steps_.rbegin(); it != steps_.rend(); ++it) {
      if (it->kind == "start") return &*it;
    }
    return nullptr;
  }
  // The program that ran for the start logged at `event`: the first to run after it and
  // before the next start.
  const ProgramRun* RunAfter(std::size_t event) const {
    const std::vector<sim::Event>& events = m_.EventRecords();
    std::size_t next = event + 1;
    while (next < events.size() && events[next].effect != Effect::kProcessStarted) ++next;
    for (const ProgramRun& run : recorder_.runs) {
      if (run.firstEvent > event && run.firstEvent <= next) return &run;
    }
    return nullptr;
  }
  // Events a stand-in program logged while it ran are its own changes, not steps.
  bool InsideProgram(std::size_t event) const {
    const std::vector<sim::Event>& events = m_.EventRecords();
    for (const ProgramRun& run : recorder_.runs) {
      if (event < run.firstEvent) continue;
      std::size_t end = run.firstEvent;
      while (end < events.size() && events[end].effect != Effect::kProcessExited) ++end;
      if (event < end) return true;
    }
    return false;
  }
  std::string HardwareIdOf(const std::string& instanceId) const {
    for (const SeededDevice& device : machine_.devices) {
      if (SameText(device.instanceId, instanceId)) return JoinedIds(device);
    }
    return "";
  }

  const sim::Machine& m_;
  const Recorder& recorder_;
  const MachineReport& machine_;
  std::vector<Step> steps_;
  std::map<std::size_t, std::size_t> walksOfStart_;
};

std::vector<SettingsRef> Refs(std::initializer_list<SettingsRef> refs) { return refs; }

// Whether one of the device's hardware IDs is `id`: exactly, as CLEANUP and REFRESH
// compare, or with the letter case ignored, as DRIVERREG does.
bool Carries(const SeededDevice& device, const std::string& id, bool exact) {
  for (const std::string& own : device.hardwareIds) {
    if (exact ? own == id : SameText(own, id)) return true;
  }
  return false;
}

const SeededDevice* DeviceOf(const MachineReport& machine, const std::string& instanceId) {
  for (const SeededDevice& device : machine.devices) {
    if (SameText(device.instanceId, instanceId)) return &device;
  }
  return nullptr;
}

// The step of a DRIVERREG entry that Pakrun visited: its section applied, or why not.
Step SectionStep(const IniFile& ini, const MachineReport& machine, const ListEntry& entry, bool applied) {
  const std::string name = DeviceSectionName(entry.id, machine.osSuffix);
  Step step{"driver_section", {{"section", name}, {"hardware_id", entry.id}}, std::nullopt, {},
            Refs({{"PARAMS", "DRIVERREG"}, {"DRIVERREG", entry.key}})};
  const SeededDevice* device = nullptr;
  for (const SeededDevice& seeded : machine.devices) {
    if (seeded.presentAtEnd && device == nullptr && Carries(seeded, entry.id, false)) device = &seeded;
  }
  if (applied) step.Set("status", "applied");
  else if (device == nullptr) step.Set("status", "no_device");
  else if (ini.Find(name) == nullptr) step.Set("status", "missing");
  else if (ini.Count(name, "ADDREG") == 0 && ini.Count(name, "DELREG") == 0) step.Set("status", "empty");
  else step.Set("status", "not_applied");
  if (device != nullptr) step.Set("driver_key", device->driverKey);
  return step;
}

// What the settings file says each step came from. `walksOfStart` holds, per started INF
// installer (by step index), how many DRIVERREG entries the run had visited by then.
void Annotate(std::vector<Step>& steps, const IniFile& ini, const MachineReport& machine,
              const std::map<std::size_t, std::size_t>& walksOfStart, std::size_t driverListWalks,
              std::vector<std::string>* notes) {
  for (Step& step : steps) {
    if (step.kind == "remove_device") {
      step.settings = Refs({{"PARAMS", "CLEANUP"}});
      const SeededDevice* removed = DeviceOf(machine, step.Get("instance_id"));
      for (const ListEntry& entry : VisitedEntries(ini, "CLEANUP")) {
        if (removed != nullptr && Carries(*removed, entry.id, true)) step.settings.push_back({"CLEANUP", entry.key});
      }
    } else if (step.kind == "rename") {
      step.settings = Refs({{"PARAMS", "RENAME"}});
    } else if (step.kind == "reenumerate") {
      step.settings = Refs({{"PARAMS", "REFRESH"}});
      std::string searched;
      for (const ListEntry& entry : VisitedEntries(ini, "REFRESH")) {
        step.settings.push_back({"REFRESH", entry.key});
        searched += (searched.empty() ? "" : ", ") + (entry.id.empty() ? std::string("(empty)") : entry.id);
      }
      step.Set("none_present", searched.empty() ? "(the list is empty)" : searched);
    } else if (step.kind == "start" && step.Get("program") == "setup") {
      step.settings = Refs({{"PARAMS", "SWAPCMD"}});
      if (ini.SwitchOn("SWAPCMD")) {
        step.settings.push_back({"PARAMS", "CMDEXE"});
        step.settings.push_back({"PARAMS", "CMDINI"});
      }
    } else if (step.kind == "start" && step.Get("program") == "registry_editor") {
      step.settings = Refs({{"PARAMS", "STATICREGFROMFILE"}});
    }
  }

  // A written INF, the installer started on it and its deletion belong to one list entry:
  // the static section, or the DRIVERREG entry whose visit it came in.
  std::vector<ListEntry> entries = VisitedEntries(ini, "DRIVERREG", machine.osSuffix);
  if (driverListWalks > entries.size()) {
    notes->push_back("the run visited " + std::to_string(driverListWalks) +
                     " DRIVERREG entries, the settings file lists " + std::to_string(entries.size()));
    driverListWalks = entries.size();
  }
  entries.resize(driverListWalks);
  std::vector<std::size_t> groupOfEntry(entries.size(), SIZE_MAX);  // its INF's first step
  for (std::size_t i = 0; i < steps.size(); ++i) {
    if (steps[i].kind != "write_file") continue;
    std::size_t start = i + 1;
    while (start < steps.size() && steps[start].kind != "write_file" &&
           !(steps[start].kind == "start" && steps[start].Get("program") == "inf_installer"))
      ++start;
    if (start == steps.size() || steps[start].kind != "start") continue;
    auto walks = walksOfStart.find(start);
    if (walks == walksOfStart.end()) continue;
    std::vector<SettingsRef> refs;
    if (walks->second == 0) {
      refs = Refs({{"PARAMS", "STATICREG"}, {"STATICREG", ""}});
    } else if (walks->second <= entries.size()) {
      refs = Refs({{DeviceSectionName(entries[walks->second - 1].id, machine.osSuffix), ""}});
      if (groupOfEntry[walks->second - 1] == SIZE_MAX) groupOfEntry[walks->second - 1] = i;
    }
    steps[i].settings = refs;
    steps[start].settings = refs;
    for (std::size_t j = start + 1; j < steps.size(); ++j) {
      if (steps[j].kind == "delete_file" && steps[j].Get("path") == steps[i].Get("path")) {
        steps[j].settings = refs;
        break;
      }
    }
  }

  // One step per DRIVERREG entry visited: before its INF when it had one, the others in
  // list order before the next entry's INF, or last.
  std::vector<Step> placed;
  std::size_t nextEntry = 0;
  auto placeUpTo = [&](std::size_t end) {
    for (; nextEntry < end; ++nextEntry) placed.push_back(SectionStep(ini, machine, entries[nextEntry],
                                                                      groupOfEntry[nextEntry] != SIZE_MAX));
  };
  for (std::size_t i = 0; i < steps.size(); ++i) {
    for (std::size_t e = nextEntry; e < entries.size(); ++e) {
      if (groupOfEntry[e] == i) placeUpTo(e + 1);
    }
    if (steps[i].kind == "exit") placeUpTo(entries.size());
    placed.push_back(steps[i]);
  }
  placeUpTo(entries.size());
  steps = placed;
}

}  // namespace

std::string JoinedIds(const SeededDevice& device) {
  std::string joined;
  for (const std::string& id : device.hardwareIds) joined += (joined.empty() ? "" : ", ") + id;
  return joined;
}

std::string Step::Get(const std::string& name) const {
  for (const auto& [key, value] : texts) {
    if (key == name) return value;
  }
  return "";
}

bool Step::Has(const std::string& name) const {
  for (const auto& text : texts) {
    if (text.first == name) return true;
  }
  return false;
}

void Step::Set(const std::string& name, const std::string& value) {
  for (auto& text : texts) {
    if (text.first == name) {
      text.second = value;
      return;
    }
  }
  texts.emplace_back(name, value);
}

const std::vector<WindowsVersion>& WindowsVersions() {
  static const std::vector<WindowsVersion> kVersions = {
      {"2000", "Windows 2000", VER_PLATFORM_WIN32_NT, 5, 0, 2195, "Service Pack 4"},
      {"xp", "Windows XP", VER_PLATFORM_WIN32_NT, 5, 1, 2600, "Service Pack 3"},
      {"2003", "Windows Server 2003", VER_PLATFORM_WIN32_NT, 5, 2, 3790, "Service Pack 2"},
      {"98", "Windows 98", VER_PLATFORM_WIN32_WINDOWS, 4, 10, 2222, " A "},
      {"other", "Windows 7", VER_PLATFORM_WIN32_NT, 6, 1, 7601, "Service Pack 1"},
  };
  return kVersions;
}

const WindowsVersion* FindWindows(const std::string& name) {
  for (const WindowsVersion& version : WindowsVersions()) {
    if (SameText(version.name, name)) return &version;
  }
  return nullptr;
}

Plan RunPlan(const MachineOptions& options, const WindowsVersion& windows,
             const std::string& settings, const std::optional<std::string>& script) {
  Plan plan;
  MachineReport& report = plan.machine;
  sim::Machine m;
  m.kernel.version.platformId = windows.platformId;
  m.kernel.version.major = windows.major;
  m.kernel.version.minor = windows.minor;
  m.kernel.version.build = windows.build;
  m.kernel.version.csd = windows.servicePack;

  const std::string systemRoot = options.noSystemRoot      ? ""
                                 : options.systemRoot.empty() ? options.windir
                                                              : options.systemRoot;
  m.kernel.windowsDirectory = options.windir;
  m.kernel.systemDirectory = options.windir + "\\System32";
  if (!options.noSystemRoot) m.kernel.environment["SystemRoot"] = systemRoot;
  m.kernel.environment["windir"] = options.windir;
  m.kernel.environment["TEMP"] = options.temp;
  m.files.AddDirectory(m.kernel.systemDirectory);
  if (!systemRoot.empty()) m.files.AddDirectory(systemRoot + "\\System32");
  m.files.AddDirectory(options.temp);
  const std::string folder = FolderOf(options.program);
  m.files.AddDirectory(folder);
  if (!options.shortDir.empty()) SeedShortNames(m, folder, options.shortDir);
  m.kernel.self.modulePath = options.program;
  const std::string commandLine = "\"" + options.program + "\"" + (options.tail.empty() ? "" : " " + options.tail);
  m.kernel.commandLine = commandLine;

  // Where Pakrun looks for its files, and the OS suffix, as Pakrun forms them.
  StartupValues values;
  FormStartupValues(&values);
  report.windows = windows.name;
  report.label = windows.label;
  report.version = std::to_string(windows.major) + "." + std::to_string(windows.minor) + "." +
                   std::to_string(windows.build) + " " + windows.servicePack +
                   (windows.platformId == VER_PLATFORM_WIN32_NT ? ", NT family" : ", 9x family");
  report.osSuffix = OsSuffix();
  report.program = options.program;
  report.commandLine = commandLine;
  report.tail = options.tail;
  report.shortFolder = values.shortProgramDirectory;
  report.shortFormMissing = values.shortFormMissing;
  report.settingsPath = values.settingsPath;
  report.scriptPath = values.scriptPath;
  report.scriptPresent = script.has_value() && values.scriptPath[0] != '\0';
  report.windowsDirectory = options.windir;
  report.systemRoot = systemRoot;
  report.temp = options.temp;
  if (values.settingsPath[0] != '\0') m.files.Put(values.settingsPath, settings);
  else plan.notes.push_back("the settings path does not fit in 259 characters: Pakrun reads no settings");
  if (report.scriptPresent) m.files.Put(values.scriptPath, *script);

  // The cached INF files and the setup program are there, so that their steps show.
  for (const char* name : {"tq3p81.inf", "tq3p8.inf"}) {
    if (systemRoot.empty()) break;  // without SystemRoot there is no place Pakrun looks
    std::string path = systemRoot + "\\Driver Cache\\" + name;
    m.files.Put(path, "");
    report.assumedFiles.push_back(path);
  }
  auto recorder = std::make_shared<Recorder>();
  std::set<std::string, sim::NoCaseLess> setupPrograms = {folder + "\\Setup.exe"};
  const std::string cmdExe = ProfileText(values.settingsPath, "CMDEXE", "Netprep.exe");
  if (!cmdExe.empty() && cmdExe.back() != '\\') setupPrograms.insert(folder + "\\" + cmdExe);
  for (const std::string& path : setupPrograms) {
    m.programs.Add(path, Recorded(recorder, "setup", nullptr));
    report.assumedPrograms.push_back(path + " (setup program; changes nothing)");
  }
  if (!systemRoot.empty()) {
    const std::string installer = systemRoot + "\\System32\\rundll32.exe";
    m.programs.Add(installer, Recorded(recorder, "inf_installer", sim::InfInstaller()));
    report.assumedPrograms.push_back(installer + " (INF installer)");
  }
  const std::string regedit = options.windir + "\\regedit.exe";
  m.programs.Add(regedit, Recorded(recorder, "registry_editor", sim::RegistryEditor()));
  report.assumedPrograms.push_back(regedit + " (registry editor)");

  unsigned driverNumber = 0;
  for (std::size_t i = 0; i < options.devices.size(); ++i) {
    const DeviceOption& option = options.devices[i];
    const std::string& first = option.hardwareIds.front();
    SeededDevice seeded{first, first + "\\PREVIEW&" + std::to_string(i + 1), option.present, "",
                        option.hardwareIds, option.appearsOnRefresh, false};
    sim::Device& device = m.devices.Add(seeded.instanceId, option.hardwareIds, option.present);
    device.appearsOnReenumerate = option.appearsOnRefresh;
    seeded.instanceId = device.instanceId;
    if (option.present || option.appearsOnRefresh) {
      char number[8];
      std::snprintf(number, sizeof number, "%04u", driverNumber++);
      seeded.driverKey = option.driverKey.empty() ? std::string(sim::kNetClassGuid) + "\\" + number
                                                  : option.driverKey;
      device.driver = seeded.driverKey;
    }
    report.devices.push_back(seeded);
  }

  const int exitCode = PakrunMain(commandLine.c_str());
  // The setup command line as Pakrun composes it from the settings on this machine: in a
  // buffer large enough for any line, and in the one Pakrun uses.
  if (values.settingsPath[0] != '\0') {
    RunParams params;
    ReadParams(values.settingsPath, &params);
    std::vector<char> whole(kCommandLineCapacity + options.tail.size() + 3 * MAX_PATH);
    std::vector<char> fitted(kCommandLineCapacity);
    const char* tail = CommandTail(commandLine.c_str());
    if (ComposeSetupCommandLine(values, params, tail, whole.data(), whole.size())) {
      report.setupCommandLine = whole.data();
      report.setupCommandFits = ComposeSetupCommandLine(values, params, tail, fitted.data(), fitted.size());
    }
  }
  recorder->ReadWrittenFiles(m);
  for (SeededDevice& seeded : report.devices) {
    const sim::Device* device = m.devices.FindByInstanceId(seeded.instanceId);
    seeded.presentAtEnd = device != nullptr && device->present;
  }

  Reader reader(m, *recorder, report);
  plan.steps = reader.Steps();
  plan.steps.push_back(Step{"exit", {}, exitCode, {}, {}});
  const std::size_t walks = static_cast<std::size_t>(m.Calls("SetupDiGetClassDevsExA"));
  Annotate(plan.steps, IniFile::Parse(settings), report, reader.WalksOfStart(), walks, &plan.notes);

  const int failedStarts = m.Calls("CreateProcessA") - static_cast<int>(m.programs.started.size());
  if (failedStarts > 0)
    plan.notes.push_back(std::to_string(failedStarts) +
                         " program start(s) failed: the program named is not on the preview machine");
  for (const Step& step : plan.steps) {
    if (step.kind == "write_file" && !step.Has("text"))
      plan.notes.push_back("the text of " + step.Get("path") + " was gone before it could be read");
  }
  return plan;
}

}  // namespace preview
