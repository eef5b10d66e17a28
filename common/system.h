// The programs' own helpers over the Win32 seam: what more than one program asks of the
// system in the same way, answered once.
#pragma once

#include <cstddef>

#include "platform/kernel.h"
#include "platform/registry.h"

// Reads a text value of `key` into `buffer` (`capacity` bytes, zero-filled). False, with
// the buffer empty, when the value is absent or unreadable, or when it would not fit with
// its terminator: a text is read whole or not at all, never cut into another one.
bool ReadRegistryText(HKEY key, const char* name, char* buffer, DWORD capacity);

// GetVersionExA into a zeroed OSVERSIONINFOA with its size set; the service-pack text is
// terminated within its field whatever the platform left there. False when the query fails.
bool QueryVersion(OSVERSIONINFOA* version);

// True for a 32-bit process on 64-bit Windows (WOW64), where system32 and
// HKLM\SOFTWARE are redirected to their 32-bit copies and devices cannot be removed.
// False for a 64-bit process, and on every Windows without WOW64.
bool RunningUnderWow64();

// The last byte of `path` that is a backslash in the active code page, or null: the
// second byte of a double-byte character can be 0x5C and is never taken for one.
const char* LastBackslash(const char* path);

// The directory whose program or library is meant, as the platform reports it.
enum class SystemFolder { kWindows, kSystem };

// `folder` + "\" + `fileName` into `buffer`: the full path of a program or library that
// must come from that folder and nowhere else (not the current directory, not the folder
// of the running program). False, with the buffer empty, when the directory cannot be
// obtained whole, is not an absolute path, or the path would not fit.
bool SystemFolderPath(SystemFolder folder, const char* fileName, char* buffer,
                      std::size_t capacity);
