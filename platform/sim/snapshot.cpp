#include "platform/sim/snapshot.h"

#include <cstdio>
#include <cstring>

#include "platform/registry.h"
#include "platform/services.h"
#include "platform/sim/machine.h"

namespace sim {
namespace {

std::string Escaped(const std::string& bytes) {
  std::string text;
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '\\') {
      text += c;
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", byte);
      text += escape;
    }
  }
  return text;
}

std::string ValueText(const RegValue& value) {
  if (value.type == REG_DWORD && value.data.size() == 4) {
    std::uint32_t number;
    std::memcpy(&number, value.data.data(), 4);
    return "dword:" + std::to_string(number);
  }
  std::string bytes(value.data.begin(), value.data.end());
  if (value.type == REG_SZ) return "sz:\"" + Escaped(bytes) + "\"";
  return "type" + std::to_string(value.type) + ":" + Escaped(bytes);
}

void AddKey(const RegKey& key, const std::string& path, Snapshot& snapshot) {
  snapshot.entries["key " + path] = "";
  for (const auto& [name, value] : key.values) snapshot.entries["value " + path + "\\" + name] = ValueText(value);
  for (const auto& [name, subkey] : key.subkeys) {
    if (!subkey->deleted) AddKey(*subkey, path + "\\" + subkey->name, snapshot);
  }
}

std::string StateText(std::uint32_t state) {
  switch (state) {
    case SERVICE_STOPPED: return "stopped";
    case SERVICE_START_PENDING: return "start pending";
    case SERVICE_STOP_PENDING: return "stop pending";
    case SERVICE_RUNNING: return "running";
    case SERVICE_CONTINUE_PENDING: return "continue pending";
    case SERVICE_PAUSE_PENDING: return "pause pending";
    case SERVICE_PAUSED: return "paused";
  }
  return "state " + std::to_string(state);
}

}  // namespace

Snapshot TakeSnapshot(const Machine& machine) {
  Snapshot snapshot;
  for (const char* root : {"HKCR", "HKCU", "HKLM", "HKU"}) AddKey(*machine.registry.Root(root), root, snapshot);
  for (const std::string& directory : machine.files.AllDirectories()) snapshot.entries["directory " + directory] = "";
  for (const auto& [path, file] : machine.files.AllFiles())
    snapshot.entries["file " + path] = (file.readOnly ? "read-only: " : "") + Escaped(file.bytes);
  for (const auto& [key, service] : machine.services.All()) snapshot.entries["service " + service.name] = StateText(service.state);
  for (const Device& device : machine.devices.devices) {
    if (!device.removed) snapshot.entries["device " + device.instanceId] = device.present ? "present" : "absent";
  }
  for (const Process& process : machine.kernel.processes) {
    if (process.running) snapshot.entries["process " + std::to_string(process.pid) + " " + process.exe] = "running";
  }
  return snapshot;
}

std::vector<std::string> Differences(const Snapshot& before, const Snapshot& after) {
  std::vector<std::string> lines;
  auto b = before.entries.begin();
  auto a = after.entries.begin();
  while (b != before.entries.end() || a != after.entries.end()) {
    if (a == after.entries.end() || (b != before.entries.end() && b->first < a->first)) {
      lines.push_back("- " + b->first + (b->second.empty() ? "" : " = " + b->second));
      ++b;
    } else if (b == before.entries.end() || a->first < b->first) {
      lines.push_back("+ " + a->first + (a->second.empty() ? "" : " = " + a->second));
      ++a;
    } else {
      if (a->second != b->second) lines.push_back("~ " + a->first + ": " + b->second + " -> " + a->second);
      ++a;
      ++b;
    }
  }
  return lines;
}

}  // namespace sim
