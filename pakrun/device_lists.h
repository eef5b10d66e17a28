// The three device lists of the settings file, each a section with a count key and
// numbered entries that name devices by hardware ID.
#pragma once

// Capacity of a hardware ID read from a list entry, and of a per-device section name,
// terminator included.
constexpr unsigned kDeviceIdCapacity = 1024;

// For each entry "DEV<n>" of `section` (count CLEANCOUNT): when no present device
// carries the ID, removes one device that does (an installed but absent one). Returns 1.
int CleanUpDevices(const char* settingsPath, const char* section);

// Searches every entry "DETECTDEV<n>" of `section` (count DETECTCOUNT). When none of the
// devices is present (also when the list is empty), asks Plug and Play to enumerate the
// device tree again. 1 when a listed device is present or the request succeeded, else 0.
int RefreshDevices(const char* settingsPath, const char* section);

// For each entry "DEV<n>" of section DRIVERREG (count NIC; a missing entry reads as
// "DEFAULT_ID"): applies section DRIVERREG_<ID><osSuffix> to the driver key of the first
// present device that carries the ID.
void ApplyDriverRegList(const char* settingsPath, const char* osSuffix);
