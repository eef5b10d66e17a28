// The zero-configuration service's "ControlFlags" of every supported adapter's interface
// record, and the service-pack level that chooses a complete record.
#pragma once

#include "airtoggle/switch_state.h"

// The service-pack level 0-3 of a service-pack text, or kLevelUnknown.
int ServicePackLevel(const char* csdVersion);
// Sets m_nServicePackLevel from the running system's service-pack text, when known.
void ReadServicePackLevel(SwitchState& state);

// Hands every supported adapter's interface record to `mode`; a record without readable
// "ControlFlags" gets the complete record of m_nServicePackLevel and
// m_nZeroConfigWasRunning, when those are known.
void ApplyInterfaceFlags(const SwitchState& state, int mode);
