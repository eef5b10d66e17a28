// The signal to the vendor's radio library that the adapter's manager changes.
#pragma once

#include <cstdint>

// The vendor library's adapter count is believed up to this many adapters.
constexpr std::uint32_t kMaxRadioAdapters = 256;

void SignalVendorAdapter();
