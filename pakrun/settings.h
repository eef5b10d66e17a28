// Reading Pakrun's settings file.
#pragma once

// The most entries any numbered list of the settings file is read to. Real files hold a
// few dozen; a count beyond this is a typo (ADDREG=2000000000 for 2), and reading it
// whole would write gigabytes of INF rows and search the device list billions of times.
constexpr unsigned kMaxListEntries = 1000;

// Reads a count key of `section`: 0 when the file, the section or the key is missing,
// and also when the value was written as a negative number (which the profile reader
// hands back as a huge unsigned value), so that a stray minus sign never turns into
// billions of entries. A larger count is held to kMaxListEntries: the entries up to the
// bound are still visited.
unsigned ReadCount(const char* settingsPath, const char* section, const char* key);
