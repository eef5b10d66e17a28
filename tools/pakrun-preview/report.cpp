#include "tools/pakrun-preview/report.h"

#include <map>

#include "platform/sim/text.h"
#include "tools/pakrun-preview/escape.h"

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
  const std::string notThere = change.found ? "" : " (the preview machine holds none)";
  if (change.action == "delete_key") return "deletes key " + change.key + notThere;
  if (change.action == "delete_value")
    return "deletes " + change.key + "\\" + (change.name.empty() ? "(default)" : change.name) + notThere;
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

// "[SECTION] KEY", "[SECTION]" for a whole section, or the option a warning about the
// machine comes from ("--temp").
std::string WarningPlace(const Warning& warning) {
  if (warning.section.empty() && warning.key.rfind("--", 0) == 0) return warning.key;
  if (warning.section.empty() && warning.key.empty()) return "";  // the file as a whole
  return "[" + warning.section + "]" + (warning.key.empty() ? "" : " " + warning.key);
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
    if (step.Has("script_text")) {
      // A UTF-16 script is shown as the NT family's editor reads it (the JSON has its bytes).
      const std::string script = step.Get("script_text");
      const bool utf16 = sim::HasUtf16LeMark(script);
      line += std::string("\n       script") + (utf16 ? " (UTF-16LE, shown as ANSI)" : "") + ":\n" +
              Indented(utf16 ? sim::AnsiOfUtf16(script.substr(2)) : script);
      line.pop_back();
    }
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

Json StepJson(const Step& step) {
  Json out = Json::object();
  out["kind"] = escape::JsonString(step.kind);
  for (const auto& [name, value] : step.texts) {
    out[name] = name == "existed" ? Json(value == "yes") : escape::JsonString(value);
  }
  if (step.code) out[step.kind == "exit" ? "code" : "exit_code"] = static_cast<std::int64_t>(*step.code);
  if (step.kind == "start") {
    Json changes = Json::array();
    for (const RegistryChange& change : step.changes) {
      Json item = Json::object();
      item["action"] = escape::JsonString(change.action);
      item["key"] = escape::JsonString(change.key);
      if (change.action != "delete_key") item["name"] = escape::JsonString(change.name);
      if (change.action != "set") item["found"] = change.found;
      if (change.action == "set") {
        item["type"] = escape::JsonString(change.type);
        item["value"] = escape::JsonString(change.value);
        if (change.number) item["number"] = static_cast<std::int64_t>(*change.number);
      }
      changes.push_back(std::move(item));
    }
    out["changes"] = std::move(changes);
  }
  Json settings = Json::array();
  for (const SettingsRef& ref : step.settings) {
    settings.push_back(Json{{"section", escape::JsonString(ref.section)}, {"key", escape::JsonString(ref.key)}});
  }
  out["settings"] = std::move(settings);
  return out;
}

Json WarningJson(const Warning& warning) {
  return Json{{"id", escape::JsonString(warning.id)},
              {"file", escape::JsonString(warning.file)},
              {"line", static_cast<std::int64_t>(warning.line)},
              {"column", static_cast<std::int64_t>(warning.column)},
              {"section", escape::JsonString(warning.section)},
              {"key", escape::JsonString(warning.key)},
              {"message", escape::JsonString(warning.message)}};
}

// A warning in the compiler's form, which editors and build servers read:
// "FILE:LINE:COLUMN: warning: MESSAGE [ID]", the message led by the section and key.
std::string CompilerLine(const Warning& warning) {
  return warning.file + ":" + std::to_string(warning.line) + ":" + std::to_string(warning.column) +
         ": warning: " + (WarningPlace(warning).empty() ? "" : WarningPlace(warning) + ": ") + warning.message + " [" +
         warning.id + "]";
}

Json Strings(const std::vector<std::string>& texts) {
  Json out = Json::array();
  for (const std::string& text : texts) out.push_back(escape::JsonString(text));
  return out;
}

Json PlanJson(const Plan& plan, const std::string& settingsFile) {
  const MachineReport& m = plan.machine;
  Json machine = Json::object();
  machine["settings_file"] = escape::JsonString(settingsFile);
  machine["windows"] = escape::JsonString(m.windows);
  machine["label"] = escape::JsonString(m.label);
  machine["version"] = escape::JsonString(m.version);
  machine["os_suffix"] = escape::JsonString(m.osSuffix);
  machine["program"] = escape::JsonString(m.program);
  machine["command_line"] = escape::JsonString(m.commandLine);
  machine["tail"] = escape::JsonString(m.tail);
  machine["short_folder"] = escape::JsonString(m.shortFolder);
  machine["short_form_missing"] = m.shortFormMissing;
  machine["settings_path"] = escape::JsonString(m.settingsPath);
  machine["script_path"] = escape::JsonString(m.scriptPath);
  machine["script_present"] = m.scriptPresent;
  machine["windows_directory"] = escape::JsonString(m.windowsDirectory);
  machine["system_root"] = escape::JsonString(m.systemRoot);
  machine["temp"] = escape::JsonString(m.temp);
  Json devices = Json::array();
  for (const SeededDevice& device : m.devices) {
    Json item = Json::object();
    item["hardware_id"] = escape::JsonString(device.hardwareId);
    item["instance_id"] = escape::JsonString(device.instanceId);
    item["hardware_ids"] = Strings(device.hardwareIds);
    item["present"] = device.present;
    item["appears_on_refresh"] = device.appearsOnRefresh;
    item["driver_key"] = escape::JsonString(device.driverKey);
    devices.push_back(std::move(item));
  }
  machine["devices"] = std::move(devices);
  machine["assumed_files"] = Strings(m.assumedFiles);
  machine["assumed_programs"] = Strings(m.assumedPrograms);
  Json out = Json::object();
  out["machine"] = std::move(machine);
  Json steps = Json::array();
  for (const Step& step : plan.steps) steps.push_back(StepJson(step));
  out["steps"] = std::move(steps);
  out["notes"] = Strings(plan.notes);
  Json warnings = Json::array();
  Json suppressed = Json::array();
  for (const Warning& warning : plan.warnings)
    (warning.suppressed ? suppressed : warnings).push_back(WarningJson(warning));
  out["warnings"] = std::move(warnings);
  out["suppressed_count"] = static_cast<std::int64_t>(suppressed.size());
  out["suppressed"] = std::move(suppressed);
  return out;
}

std::string WarningSignature(const Warning& warning) {
  return warning.id + "\n" + warning.section + "\n" + warning.key + "\n" + warning.message;
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
      if (warning.suppressed) continue;
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
    out += "  Windows folder     " + m.windowsDirectory +
           (m.systemRoot.empty() ? std::string(", no SystemRoot") : ", SystemRoot " + m.systemRoot) + "\n";
    out += "  TEMP               " + m.temp + "\n";
    if (m.devices.empty()) out += "  devices            none\n";
    for (const SeededDevice& device : m.devices) {
      out += "  device             " + JoinedIds(device) +
             (device.present              ? " present, driver key " + device.driverKey
              : device.appearsOnRefresh ? " installed, not present, appears on re-enumeration, driver key " + device.driverKey
                                        : " installed, not present") +
             "\n";
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
    std::size_t suppressed = 0;
    for (const Warning& warning : plan.warnings) suppressed += warning.suppressed ? 1 : 0;
    out += plan.warnings.size() == suppressed ? std::string("\nNo warnings.\n") : "\nWarnings:\n";
    for (const Warning& warning : plan.warnings) {
      if (!warning.suppressed) out += CompilerLine(warning) + "\n";
    }
    if (suppressed > 0) out += std::to_string(suppressed) + " suppressed (--format json lists them).\n";
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
                             : "warning " + CompilerLine(difference.warning);
      out += "  only in " + versions + ":\n       " + what + "\n";
    }
  }
  return escape::ForTerminal(out);
}

std::string JsonReport(const std::vector<Plan>& plans, const std::string& settingsFile) {
  if (plans.size() == 1) return escape::JsonText(PlanJson(plans[0], settingsFile)) + "\n";
  Json out = Json::object();
  for (const Plan& plan : plans) out[plan.machine.windows] = PlanJson(plan, settingsFile);
  Json differences = Json::array();
  for (const Difference& difference : Differences(plans)) {
    Json item = Json::object();
    item["versions"] = Strings(difference.versions);
    if (difference.isStep) item["step"] = StepJson(difference.step);
    else item["warning"] = WarningJson(difference.warning);
    differences.push_back(std::move(item));
  }
  out["differences"] = std::move(differences);
  return escape::JsonText(out) + "\n";
}

}  // namespace preview
