// Registry changes applied through generated INF files and the platform's INF installer.
#pragma once

// Capacity of each value read from an entry of the settings file, terminator included. A
// value of up to 259 characters is written whole; an entry with a longer value is left out
// of the INF, never written cut.
constexpr unsigned kEntryFieldCapacity = 260;

// The names of the INF files written in the TEMP directory.
constexpr char kStaticInfName[] = "StaticAddDel.inf";
constexpr char kDriverInfName[] = "DriverAddDel.inf";

// Writes "StaticAddDel.inf" in the TEMP directory from the numbered ADDREG and DELREG
// entries of `section` (each naming its own root and subkey), has the INF installer
// apply it, waits for it and deletes the file. Returns 1 when there was nothing to do or
// the file was handed to the installer, 0 when the file could not be written.
int ApplyStaticAddDel(const char* settingsPath, const char* section);

// The same with "DriverAddDel.inf" for one device's driver key: every entry goes to
// HKLM\`classKeyPath`; the entries name only the values. A delete entry without a value
// name is left out: the installer would take such a line for the whole driver key.
int ApplyDriverAddDel(const char* settingsPath, const char* section, const char* classKeyPath);
