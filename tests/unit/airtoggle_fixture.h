// A substitute machine set up as the mode switcher finds it: the vendor utility's
// settings, network adapters in the class key with their interface records, and the two
// services.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "airtoggle/airtoggle.h"
#include "airtoggle/frame.h"
#include "airtoggle/interface_flags.h"
#include "airtoggle/recorded_mode.h"
#include "airtoggle/sequences.h"
#include "airtoggle/service_control.h"
#include "airtoggle/vendor_signal.h"
#include "platform/registry.h"
#include "airtoggle/managers.h"
#include "airtoggle/resource.h"
#include "sim_test.h"

namespace airtoggle_test {

constexpr char kClassKey[] =
    "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr char kSettings[] = "HKLM\\SOFTWARE\\Korvell\\Linkdesk\\Settings";
constexpr char kInterfaces[] = "HKLM\\SOFTWARE\\Microsoft\\WZCSVC\\Parameters\\Interfaces";
constexpr char kGuidA[] = "{11111111-2222-3333-4444-555555555501}";
constexpr char kGuidB[] = "{11111111-2222-3333-4444-555555555502}";
constexpr char kGuidC[] = "{11111111-2222-3333-4444-555555555503}";
constexpr char kSystemDirectory[] = "C:\\WINDOWS\\system32";
// The record of a switch under way, and the mode switcher's key that holds it.
constexpr char kRecordParent[] = "HKLM\\SOFTWARE\\Korvell\\Airtoggle";
constexpr char kRecord[] = "HKLM\\SOFTWARE\\Korvell\\Airtoggle\\SwitchInProgress";

class AirtoggleTest : public SimTest {
 protected:
  AirtoggleTest() {
    machine.kernel.systemDirectory = kSystemDirectory;
    machine.desktop.strings[IDR_MAINFRAME] = "Airtoggle";
    machine.desktop.accelerators.insert(IDR_MAINFRAME);
    machine.kernel.version.csd = "Service Pack 2";
  }

  void SetRecordedMode(std::uint32_t value) { machine.registry.SetDword(kSettings, "UseZeroConfig", value); }
  std::optional<std::uint32_t> RecordedMode() const { return machine.registry.Dword(kSettings, "UseZeroConfig"); }

  // An adapter instance in the class key; its interface record gets `flags` unless none.
  void AddAdapter(const std::string& subkey, const std::string& matchingId, const std::string& guid,
                  std::optional<std::uint32_t> flags) {
    std::string key = std::string(kClassKey) + "\\" + subkey;
    machine.registry.SetString(key, "MatchingDeviceId", matchingId);
    machine.registry.SetString(key, "NetCfgInstanceId", guid);
    machine.registry.SetString(key, "ComponentId", matchingId);
    if (flags) SetFlags(guid, *flags);
  }
  void SetFlags(const std::string& guid, std::uint32_t flags) {
    machine.registry.SetDword(Interface(guid), "ControlFlags", flags);
  }
  std::optional<std::uint32_t> Flags(const std::string& guid) const {
    return machine.registry.Dword(Interface(guid), "ControlFlags");
  }
  std::optional<std::uint32_t> Layout(const std::string& guid) const {
    return machine.registry.Dword(Interface(guid), "LayoutVersion");
  }
  static std::string Interface(const std::string& guid) { return std::string(kInterfaces) + "\\" + guid; }

  sim::Service& ZeroConfig(std::uint32_t state) { return machine.services.Add("WZCSVC", state); }
  sim::Service& Vendor(std::uint32_t state) { return machine.services.Add("KVX", state); }

  // The run's effects on the adapter's managers in order: service requests and state
  // changes, registry writes, the settle wait and the radio library signal; with
  // `withRecord`, also the writes of the record of a switch under way (in either view),
  // which are left out otherwise.
  std::vector<std::string> Story(bool withRecord = false) const {
    std::vector<std::string> story;
    static const std::set<std::string> kinds = {"RegSetValue", "StartService", "ControlService",
                                                "Service",     "RegCreateKey", "SetControlOption",
                                                "RegDeleteKey"};
    for (const sim::Event& e : machine.EventRecords()) {
      bool settleWait = e.kind == "Sleep" && e.number == 4000;
      if (kinds.count(e.kind) == 0 && !settleWait) continue;
      if (OfRecord(e) && (!withRecord || e.subject.find("SwitchInProgress") == std::string::npos)) continue;
      story.push_back(Short(e));
    }
    return story;
  }
  std::vector<std::string> StoryWithRecord() const { return Story(true); }
  // The values written outside the record.
  std::vector<std::string> ValueWrites() const {
    std::vector<std::string> writes;
    for (const sim::Event& e : machine.EventRecords()) {
      if (e.kind == "RegSetValue" && !OfRecord(e)) writes.push_back(e.Text());
    }
    return writes;
  }
  static bool OfRecord(const sim::Event& e) {
    return e.subject.find("\\Korvell\\Airtoggle") != std::string::npos;
  }

  // A write of the recorded mode or of an interface record, shortened: "UseZeroConfig=1",
  // "01 ControlFlags=0x0000F002" (the interface by the last two digits of its GUID, a
  // DWORD in hexadecimal); the record's "record begun", "record WZCSVC=4", "record
  // removed"; any other event as its text.
  static std::string Short(const sim::Event& event) {
    if (OfRecord(event) && event.kind == "RegCreateKey") return "record begun";
    if (OfRecord(event) && event.kind == "RegDeleteKey") return "record removed";
    if (OfRecord(event) && event.kind == "RegSetValue")
      return "record " + event.valueName + "=" + (event.number ? std::to_string(*event.number) : event.detail);
    if (event.kind != "RegSetValue") return event.Text();
    if (event.subject == kSettings && event.valueName == "UseZeroConfig")
      return "UseZeroConfig=" + (event.number ? std::to_string(*event.number) : event.detail);
    std::string value = event.detail;
    if (event.number) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(*event.number));
      value = hex;
    }
    std::string interfaces = std::string(kInterfaces) + "\\";
    if (event.subject.rfind(interfaces, 0) == 0) {
      std::string guid = event.subject.substr(interfaces.size());  // "{...-555555555501}"
      return guid.substr(guid.size() - 3, 2) + " " + event.valueName + "=" + value;
    }
    return event.Text();
  }

  // Runs the program as started with `commandLine`.
  int Run(const std::string& commandLine) {
    machine.kernel.commandLine = commandLine;
    int exitCode = AirtoggleMain(nullptr);
    machine.desktop.ProcessEnded();
    return exitCode;
  }
  static std::string Line(const std::string& option) {
    return std::string(kSystemDirectory) + "\\Svcpilot.exe " + option;
  }
};

}  // namespace airtoggle_test
