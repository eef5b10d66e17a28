// The switching sequences and the table of the options that start them.
#pragma once

#include "airtoggle/switch_state.h"

// Time the vendor service is given after its restart before its library is signalled.
constexpr DWORD kVendorSettleMs = 4000;

// The five switching options.
enum class SwitchCommand { kNone, kInstaller, kAirtoggle, kEnableLinkdesk, kLinkdesk, kWzc };

// Compares the whole command line with the system directory followed by each option's
// suffix, ignoring the case of A-Z only.
SwitchCommand MatchCommandLine(const char* commandLine, const char* systemDirectory);
// Runs the option's sequence; kNone runs nothing.
void RunSwitch(SwitchCommand command, SwitchState& state);

// The sequences the options are made of.
void CycleZeroConfigService(SwitchState& state);
void RestartZeroConfigService(SwitchState& state);
void RestartVendorService();
