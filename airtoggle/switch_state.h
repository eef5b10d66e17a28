// What one run of the mode switcher knows and decides: the four members the frame window
// carries, shared with the sequences and the flag rewrite it starts.
#pragma once

#include "platform/kernel.h"

// Modes: who manages the adapter.
constexpr int kVendorMode = 0;      // the vendor utility
constexpr int kZeroConfigMode = 1;  // the zero-configuration service
// Stand-ins for "not known" in the members below; never written anywhere.
constexpr int kModeUnknown = -1;
constexpr int kLevelUnknown = -1;
constexpr int kStateUnknown = -1;

struct SwitchState {
  int m_nTargetMode = kModeUnknown;
  DWORD m_dwUseZeroConfig = 0;
  int m_nZeroConfigWasRunning = kStateUnknown;
  int m_nServicePackLevel = kLevelUnknown;
};
