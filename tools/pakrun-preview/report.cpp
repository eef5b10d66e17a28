#include "tools/pakrun-preview/report.h"

#include <map>

#include "tools/pakrun-preview/json.h"

namespace preview {

namespace {

std::string RefText(const std::vector<SettingsRef>& refs) {
  std::string text;
  for (const SettingsRef& ref : refs) {
    text += (text.empty() ? "" : ", ") + ("[" + ref.section + "]") + (ref.key.empty() ? "" : " " + ref.key);
  }
  return text;
}

std::string ChangeText(const RegistryChange& change) {
  if (change.action == "delete_key") return "deletes key " + change.key;
  if (change.action == "delete_value") return "deletes " + change.key + "\\" + change.name;
  std::string shown = change.value;
  if (change.type == "REG_SZ" || change.type == "REG_EXPAND_SZ") {
    shown = "\"" + change.value + "\"";
  } else if (change.type == "REG_MULTI_SZ") {
    shown.clear();
    for (std::size_t at = 0; at <= change.value.size();) {
      std::size_t end = change.value.find('\0', at);
      if (end == std::string::npos) end = change.value.size();
      shown += (shown.empty() ? "\"" : ", \"") + change.value.substr(at, end - at) + "\"";
      at = end + 1;
    }
  }
  return "sets " + change.key + "\\" + (change.name.empty() ? "(default)" : change.name) + " = " +
         (change.type.empty() ? "?" : change.type + " " + shown);
}

// A file's text as indented lines, line ends shown as they are stored.
std::string Indented(const std::string& text) {
  std::string out;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    bool crlf = !line.empty() && line.back() == '\r';
    if (crlf) line.pop_back();
    line += end == std::string::npos ? "  (no line end)" : crlf ? "" : "  (LF only)";
    out += "       |" + (line.empty() ? "" : " " + line) + "\n";
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return out;
}

std::string StepText(const Step& step) {
  const std::string& kind = step.kind;
  std::string line;
  if (kind == "mutex") {
    line = "take the single-instance mutex \"" + step.Get("name") + "\"" +
           (step.Get("existed") == "yes" ? " (it exists: the run ends here)" : "");
  } else if (kind == "remove_device") {
    line = "remove device " + step.Get("instance_id") + " (hardware ID " + step.Get("hardware_id") +
           ": installed, not present)";
  } else if (kind == "rename") {
    line = "rename " + step.Get("path") + " -> " + step.Get("new_path");
  } else if (kind == "start") {
    line = "start (" + step.Get("program") + "): " + step.Get("command_line");
    if (step.Has("application_name")) line += "\n       program file: " + step.Get("application_name");
    line += "\n       waits: " + (step.Has("wait") ? step.Get("wait") : std::string("no")) +
            (step.code ? ", exit code " + std::to_string(*step.code) : "");
    for (const RegistryChange& change : step.changes) line += "\n       " + ChangeText(change);
  } else if (kind == "reenumerate") {
    line = "re-enumerate the device tree: none present of " + step.Get("none_present");
  } else if (kind == "write_file") {
    line = "write " + step.Get("path") + "\n" +
           (step.Has("text") ? Indented(step.Get("text")) : "       (text not seen)\n");
    line.pop_back();
  } else if (kind == "delete_file") {
    line = "delete " + step.Get("path");
  } else if (kind == "driver_section") {
    const std::string status = step.Get("status");
    line = "section [" + step.Get("section") + "]: ";
    if (status == "applied") line += "applied to the driver key " + step.Get("driver_key");
    else if (status == "no_device") line += "not applied: no present device carries " + step.Get("hardware_id");
    else if (status == "missing") line += "MISSING: nothing is applied to the driver key " + step.Get("driver_key");
    else if (status == "empty") line += "present, with no ADDREG or DELREG entries: nothing to apply";
    else line += "not applied";
  } else if (kind == "exit") {
    line = "exit with code " + std::to_string(step.code.value_or(0));
  } else {
    line = kind + ": " + step.Get("event");
  }
  if (!step.settings.empty()) line += "\n       from " + RefText(step.settings);
  return line;
}

void WriteStep(json::Writer& w, const Step& step) {
  w.BeginObject();
  w.Field("kind", step.kind);
  for (const auto& [name, value] : step.texts) {
    if (name == "existed") {
      w.Key(name);
      w.Bool(value == "yes");
    } else {
      w.Field(name, value);
    }
  }
  if (step.code) w.Field(step.kind == "exit" ? "code" : "exit_code", *step.code);
  if (step.kind == "start") {
    w.Key("changes");
    w.BeginArray();
    for (const RegistryChange& change : step.changes) {
      w.BeginObject();
      w.Field("action", change.action);
      w.Field("key", change.key);
      if (change.action != "delete_key") w.Field("name", change.name);
      if (change.action == "set") {
        w.Field("type", change.type);
        w.Field("value", change.value);
        if (change.number) w.Field("number", static_cast<std::int64_t>(*change.number));
      }
      w.EndObject();
    }
    w.EndArray();
  }
  w.Key("settings");
  w.BeginArray();
  for (const SettingsRef& ref : step.settings) {
    w.BeginObject();
    w.Field("section", ref.section);
    w.Field("key", ref.key);
    w.EndObject();
  }
  w.EndArray();
  w.EndObject();
}

void WriteWarning(json::Writer& w, const Warning& warning) {
  w.BeginObject();
  w.Field("section", warning.section);
  w.Field("key", warning.key);
  w.Field("message", warning.message);
  w.EndObject();
}

void WritePlan(json::Writer& w, const Plan& plan, const std::string& settingsFile) {
  const MachineReport& m = plan.machine;
  w.BeginObject();
  w.Key("machine");
  w.BeginObject();
  w.Field("settings_file", settingsFile);
  w.Field("windows", m.windows);
  w.Field("label", m.label);
  w.Field("version", m.version);
  w.Field("os_suffix", m.osSuffix);
  w.Field("program", m.program);
  w.Field("command_line", m.commandLine);
  w.Field("tail", m.tail);
  w.Field("short_folder", m.shortFolder);
  w.Key("short_form_missing");
  w.Bool(m.shortFormMissing);
  w.Field("settings_path", m.settingsPath);
  w.Field("script_path", m.scriptPath);
  w.Key("script_present");
  w.Bool(m.scriptPresent);
  w.Field("windows_directory", m.windowsDirectory);
  w.Field("system_root", m.systemRoot);
  w.Field("temp", m.temp);
  w.Key("devices");
  w.BeginArray();
  for (const SeededDevice& device : m.devices) {
    w.BeginObject();
    w.Field("hardware_id", device.hardwareId);
    w.Field("instance_id", device.instanceId);
    w.Key("present");
    w.Bool(device.present);
    w.Field("driver_key", device.driverKey);
    w.EndObject();
  }
  w.EndArray();
  w.Key("assumed_files");
  w.BeginArray();
  for (const std::string& file : m.assumedFiles) w.String(file);
  w.EndArray();
  w.Key("assumed_programs");
  w.BeginArray();
  for (const std::string& program : m.assumedPrograms) w.String(program);
  w.EndArray();
  w.EndObject();
  w.Key("steps");
  w.BeginArray();
  for (const Step& step : plan.steps) WriteStep(w, step);
  w.EndArray();
  w.Key("notes");
  w.BeginArray();
  for (const std::string& note : plan.notes) w.String(note);
  w.EndArray();
  w.Key("warnings");
  w.BeginArray();
  for (const Warning& warning : plan.warnings) WriteWarning(w, warning);
  w.EndArray();
  w.EndObject();
}

std::string WarningSignature(const Warning& warning) {
  return warning.section + "\n" + warning.key + "\n" + warning.message;
}

}  // namespace

std::string StepSignature(const Step& step) {
  std::string signature = step.kind;
  for (const auto& [name, value] : step.texts) signature += "\n" + name + "=" + value;
  if (step.code) signature += "\ncode=" + std::to_string(*step.code);
  for (const RegistryChange& change : step.changes) signature += "\n" + ChangeText(change);
  return signature;
}

std::vector<Difference> Differences(const std::vector<Plan>& plans) {
  // Each step and warning, by its signature, in the order first seen, with the versions
  // that have it.
  std::vector<Difference> all;
  std::map<std::string, std::size_t> index;
  for (const Plan& plan : plans) {
    for (const Step& step : plan.steps) {
      auto [at, added] = index.emplace("s" + StepSignature(step), all.size());
      if (added) all.push_back(Difference{true, step, {}, {}});
      std::vector<std::string>& versions = all[at->second].versions;
      if (versions.empty() || versions.back() != plan.machine.windows) versions.push_back(plan.machine.windows);
    }
    for (const Warning& warning : plan.warnings) {
      auto [at, added] = index.emplace("w" + WarningSignature(warning), all.size());
      if (added) all.push_back(Difference{false, {}, warning, {}});
      std::vector<std::string>& versions = all[at->second].versions;
      if (versions.empty() || versions.back() != plan.machine.windows) versions.push_back(plan.machine.windows);
    }
  }
  std::vector<Difference> differing;
  for (const Difference& difference : all) {
    if (difference.versions.size() != plans.size()) differing.push_back(difference);
  }
  return differing;
}

std::string TextReport(const std::vector<Plan>& plans, const std::string& settingsFile) {
  std::string out;
  for (const Plan& plan : plans) {
    const MachineReport& m = plan.machine;
    out += "Pakrun preview of " + settingsFile + " on " + m.label + " (" + m.version +
           "; OS suffix " + m.osSuffix + ")\n";
    out += "  program            " + m.program + "\n";
    out += "  command line       " + m.commandLine + "\n";
    out += "  short folder       " + m.shortFolder + (m.shortFormMissing ? " (no short form)" : "") + "\n";
    out += "  settings file      " + m.settingsPath + "\n";
    out += "  registry script    " + m.scriptPath + (m.scriptPresent ? "" : " (none)") + "\n";
    out += "  Windows folder     " + m.windowsDirectory + ", SystemRoot " + m.systemRoot + "\n";
    out += "  TEMP               " + m.temp + "\n";
    if (m.devices.empty()) out += "  devices            none\n";
    for (const SeededDevice& device : m.devices) {
      out += "  device             " + device.hardwareId + (device.present ? " present, driver key " + device.driverKey : " installed, not present") + "\n";
    }
    for (const std::string& file : m.assumedFiles) out += "  assumed file       " + file + "\n";
    for (const std::string& program : m.assumedPrograms) out += "  assumed program    " + program + "\n";
    out += "\nPlan, in run order:\n";
    for (std::size_t i = 0; i < plan.steps.size(); ++i) {
      std::string number = std::to_string(i + 1) + ".";
      out += std::string(5 - std::min<std::size_t>(number.size(), 4), ' ') + number + " " +
             StepText(plan.steps[i]) + "\n";
    }
    for (const std::string& note : plan.notes) out += "  note: " + note + "\n";
    out += plan.warnings.empty() ? std::string("\nNo warnings.\n") : "\nWarnings:\n";
    for (const Warning& warning : plan.warnings) {
      out += "  [" + warning.section + "]" + (warning.key.empty() ? "" : " " + warning.key) + ": " +
             warning.message + "\n";
    }
    out += "\n";
  }
  if (plans.size() > 1) {
    std::vector<Difference> differences = Differences(plans);
    out += differences.empty() ? "The plans of all versions are the same.\n"
                               : "What differs between the versions:\n";
    for (const Difference& difference : differences) {
      std::string versions;
      for (const std::string& version : difference.versions) versions += (versions.empty() ? "" : ", ") + version;
      std::string what = difference.isStep
                             ? StepText(difference.step)
                             : "warning [" + difference.warning.section + "] " + difference.warning.key +
                                   ": " + difference.warning.message;
      out += "  only in " + versions + ":\n       " + what + "\n";
    }
  }
  return out;
}

std::string JsonReport(const std::vector<Plan>& plans, const std::string& settingsFile) {
  json::Writer w;
  if (plans.size() == 1) {
    WritePlan(w, plans[0], settingsFile);
    return w.Text() + "\n";
  }
  w.BeginObject();
  for (const Plan& plan : plans) {
    w.Key(plan.machine.windows);
    WritePlan(w, plan, settingsFile);
  }
  w.Key("differences");
  w.BeginArray();
  for (const Difference& difference : Differences(plans)) {
    w.BeginObject();
    w.Key("versions");
    w.BeginArray();
    for (const std::string& version : difference.versions) w.String(version);
    w.EndArray();
    if (difference.isStep) {
      w.Key("step");
      WriteStep(w, difference.step);
    } else {
      w.Key("warning");
      WriteWarning(w, difference.warning);
    }
    w.EndObject();
  }
  w.EndArray();
  w.EndObject();
  return w.Text() + "\n";
}

}  // namespace preview
