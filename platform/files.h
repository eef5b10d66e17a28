// Files, paths, text-mode streams and the process environment.
//
// Deleting and renaming files, the program's own path, short path names and the lead
// bytes of the active code page are Win32. The stream that writes a text file and the
// environment lookup are C runtime services; they go through the thin wrappers below,
// with names of their own, so that on the substitute machine they act on its files and
// environment rather than on the host's.
#pragma once

#include "platform/kernel.h"

#if defined(_WIN32) && !defined(PLATFORM_SIM)
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

// A buffered stream of the C runtime. Opened in text mode, every "\n" written is
// stored as carriage return plus line feed.
typedef FILE TextStream;

inline TextStream* OpenTextStream(const char* path, const char* mode) {
  return std::fopen(path, mode);
}

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
inline void WriteTextStream(TextStream* stream, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  // The C runtime's own vfprintf (msvcrt.dll), not MinGW's, which std::vfprintf is with
  // MinGW's C++ headers and which brings floating-point formatting no program uses.
  __ms_vfprintf(stream, format, arguments);
  va_end(arguments);
}

// Flushes and releases the stream; false when the flush or the close failed. The
// stream is released either way.
inline bool CloseTextStream(TextStream* stream) { return std::fclose(stream) == 0; }

// The value of an environment variable of this process, or null when it is not set.
inline const char* EnvironmentValue(const char* name) { return std::getenv(name); }

#else

struct TextStream;  // a stream of the substitute machine

TextStream* OpenTextStream(const char* path, const char* mode);
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void WriteTextStream(TextStream* stream, const char* format, ...);
bool CloseTextStream(TextStream* stream);
const char* EnvironmentValue(const char* name);

BOOL WINAPI DeleteFileA(LPCSTR fileName);
BOOL WINAPI MoveFileA(LPCSTR existingFileName, LPCSTR newFileName);
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
DWORD WINAPI GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size);
BOOL WINAPI IsDBCSLeadByte(BYTE testChar);
#endif
