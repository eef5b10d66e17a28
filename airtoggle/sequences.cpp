#include "airtoggle/sequences.h"

#include "airtoggle/interface_flags.h"
#include "airtoggle/managers.h"
#include "airtoggle/recorded_mode.h"
#include "airtoggle/service_control.h"
#include "airtoggle/switch_record.h"
#include "airtoggle/vendor_signal.h"
#include "common/text.h"

namespace {

// The option sequences that are more than one of the sequences below.
void RunAirtoggle(SwitchState& state) {
  ApplyInterfaceFlags(state, state.m_nTargetMode);
  WriteUseZeroConfig(1);
  RestartVendorService();
  Sleep(kVendorSettleMs);
  SignalVendorAdapter();
  CycleZeroConfigService(state);
}

void RunEnableLinkdesk(SwitchState& state) {
  ApplyInterfaceFlags(state, state.m_nTargetMode);
  WriteUseZeroConfig(0);
  RestartVendorService();
  CycleZeroConfigService(state);
}

void RunLinkdesk(SwitchState&) { RestartVendorService(); }

void RunWzc(SwitchState& state) {
  WriteUseZeroConfig(1);
  RestartVendorService();
  Sleep(kVendorSettleMs);
  SignalVendorAdapter();
  RestartZeroConfigService(state);
}

// One row per option: the command-line suffix after the system directory, and what it runs.
struct SwitchOption {
  const char* suffix;
  SwitchCommand command;
  void (*sequence)(SwitchState& state);
};

constexpr SwitchOption kOptions[] = {
    {"\\Svcpilot.exe -installer", SwitchCommand::kInstaller, CycleZeroConfigService},
    {"\\Svcpilot.exe -Airtoggle", SwitchCommand::kAirtoggle, RunAirtoggle},
    {"\\Svcpilot.exe -EnableLinkdesk", SwitchCommand::kEnableLinkdesk, RunEnableLinkdesk},
    {"\\Svcpilot.exe -WZC", SwitchCommand::kWzc, RunWzc},
    {"\\Svcpilot.exe -Linkdesk", SwitchCommand::kLinkdesk, RunLinkdesk},
};

}  // namespace

SwitchCommand MatchCommandLine(const char* commandLine, const char* systemDirectory) {
  if (commandLine == nullptr || systemDirectory == nullptr || *systemDirectory == '\0')
    return SwitchCommand::kNone;
  // Every comparison is made before the dispatch; the strings exclude each other.
  SwitchCommand matched = SwitchCommand::kNone;
  for (const SwitchOption& option : kOptions) {
    char expected[300];
    if (!FormatText(expected, sizeof expected, "%s%s", systemDirectory, option.suffix)) continue;
    if (SameText(commandLine, expected, LetterCase::kIgnored)) matched = option.command;
  }
  return matched;
}

void RunSwitch(SwitchCommand command, SwitchState& state) {
  for (const SwitchOption& option : kOptions) {
    if (option.command != command) continue;
    // What an ended run left is finished first; this run's own switch is recorded from
    // before its first change to its end.
    FinishEndedSwitch();
    BeginSwitchRecord();
    option.sequence(state);
    EndSwitchRecord();
  }
}

void RestartVendorService() {
  ServiceHandle manager = OpenManager();
  if (!manager) return;
  ServiceHandle status(OpenServiceA(manager.get(), kVendorService, SERVICE_QUERY_STATUS));
  DWORD current = 0;
  if (QueryState(status.get(), &current) && current == SERVICE_RUNNING) {
    NoteServiceState(kVendorService, current);
    StopAndWait(kVendorService, status.get());
    StartAndWait(kVendorService, status.get());
  }
}

void CycleZeroConfigService(SwitchState& state) {
  ServiceHandle manager = OpenManager();
  if (!manager) return;
  ServiceHandle status(OpenServiceA(manager.get(), kZeroConfigService, SERVICE_QUERY_STATUS));
  DWORD current = 0;
  if (QueryState(status.get(), &current)) {
    if (current == SERVICE_RUNNING || current == SERVICE_STOPPED) NoteServiceState(kZeroConfigService, current);
    if (current == SERVICE_RUNNING) {
      state.m_nZeroConfigWasRunning = 1;
      StopAndWait(kZeroConfigService, status.get());
      ApplyInterfaceFlags(state, state.m_nTargetMode);
      StartAndWait(kZeroConfigService, status.get());
    } else if (current == SERVICE_STOPPED) {
      // Run it twice with the new flags, then leave it stopped as it was found.
      state.m_nZeroConfigWasRunning = 0;
      ApplyInterfaceFlags(state, state.m_nTargetMode);
      StartAndWait(kZeroConfigService, status.get());
      StopAndWait(kZeroConfigService, status.get());
      ApplyInterfaceFlags(state, state.m_nTargetMode);
      StartAndWait(kZeroConfigService, status.get());
      StopAndWait(kZeroConfigService, status.get());
    }
  }
  // The service handles are closed before the mode is recorded, as the sequence ends.
  status.reset();
  manager.reset();
  WriteUseZeroConfig(state.m_nTargetMode);
}

void RestartZeroConfigService(SwitchState& state) {
  ServiceHandle manager = OpenManager();
  if (!manager) return;
  ServiceHandle status(OpenServiceA(manager.get(), kZeroConfigService, SERVICE_QUERY_STATUS));
  DWORD current = 0;
  if (QueryState(status.get(), &current) && current == SERVICE_RUNNING) {
    NoteServiceState(kZeroConfigService, current);
    state.m_nZeroConfigWasRunning = 1;
    StopAndWait(kZeroConfigService, status.get());
    // This option hands the adapter to the zero-configuration service and records 1,
    // whatever the recorded mode made the target: its flags must say the same.
    ApplyInterfaceFlags(state, kZeroConfigMode);
    StartAndWait(kZeroConfigService, status.get());
  }
  // The service handles are closed before the mode is recorded, as the sequence ends.
  status.reset();
  manager.reset();
  WriteUseZeroConfig(1);
}
