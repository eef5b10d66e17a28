// Reading Pakrun's settings file.
#pragma once

// Reads a count key of `section`: 0 when the file, the section or the key is missing,
// and also when the value was written as a negative number (which the profile reader
// hands back as a huge unsigned value), so that a stray minus sign never turns into
// billions of entries.
unsigned ReadCount(const char* settingsPath, const char* section, const char* key);
