// The programs' own small helpers, not Win32.
// Bounded text composition into fixed, zero-filled character buffers. A text that does
// not fit is never cut into a different one: the call reports it and leaves the buffer
// empty, and the caller skips the step that needed it.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>

// Copies `source` into `buffer`; false (and an empty buffer) when it does not fit.
inline bool CopyText(char* buffer, std::size_t capacity, const char* source) {
  std::memset(buffer, 0, capacity);
  std::size_t length = std::strlen(source);
  if (length >= capacity) return false;
  std::memcpy(buffer, source, length);
  return true;
}

// Formats into `buffer`; false (and an empty buffer) when the result does not fit.
#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
inline bool FormatText(char* buffer, std::size_t capacity, const char* format, ...) {
  std::memset(buffer, 0, capacity);
  va_list arguments;
  va_start(arguments, format);
  int written = std::vsnprintf(buffer, capacity, format, arguments);
  va_end(arguments);
  if (written < 0 || static_cast<std::size_t>(written) >= capacity) {
    std::memset(buffer, 0, capacity);
    return false;
  }
  return true;
}

// Turns ASCII letters a-z into A-Z in place; every other byte stays as it is.
inline void UpperAscii(char* text) {
  for (; *text != '\0'; ++text) {
    if (*text >= 'a' && *text <= 'z') *text = static_cast<char>(*text - 'a' + 'A');
  }
}
