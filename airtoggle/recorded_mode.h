// The mode recorded in the vendor utility's settings, "UseZeroConfig".
#pragma once

#include "airtoggle/switch_state.h"

// Reads the recorded mode into m_dwUseZeroConfig and takes the other mode as the target;
// a mode that is missing, unreadable or neither 0 nor 1 leaves the target unknown.
void ReadRecordedMode(SwitchState& state);

// Records the mode. Only 0 and 1 are ever written; the settings key is opened, never
// created.
void WriteUseZeroConfig(int value);
