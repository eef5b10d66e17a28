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
#if defined(_WIN32)
  // The C runtime's own formatting: with MinGW's C++ headers std::vsnprintf is MinGW's
  // printf, whose floating-point formatting no program uses and which weighs about 24 KiB.
  // _vsnprintf returns -1 when the text is longer than the buffer, and the buffer's size
  // with no terminator when the text fills it exactly; both do not fit, as below.
  int written = _vsnprintf(buffer, capacity, format, arguments);
#else
  int written = std::vsnprintf(buffer, capacity, format, arguments);
#endif
  va_end(arguments);
  if (written < 0 || static_cast<std::size_t>(written) >= capacity) {
    std::memset(buffer, 0, capacity);
    return false;
  }
  return true;
}

// Letter case in the comparisons below: only the ASCII letters A-Z and a-z pair up;
// every other byte must be equal, whatever the code page.
enum class LetterCase { kExact, kIgnored };

// A-Z for a-z; every other byte as it is.
inline char UpperLetter(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Turns ASCII letters a-z into A-Z in place.
inline void UpperAscii(char* text) {
  for (; *text != '\0'; ++text) *text = UpperLetter(*text);
}

// True when the first `length` bytes of `a` and `b` are equal.
inline bool SameBytes(const char* a, const char* b, std::size_t length, LetterCase letterCase) {
  if (letterCase == LetterCase::kExact) return std::memcmp(a, b, length) == 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (UpperLetter(a[i]) != UpperLetter(b[i])) return false;
  }
  return true;
}

// True when the two texts are equal as a whole.
inline bool SameText(const char* a, const char* b, LetterCase letterCase) {
  std::size_t length = std::strlen(a);
  return length == std::strlen(b) && SameBytes(a, b, length, letterCase);
}

// True when `text` begins with the first `length` characters of `prefix`; a shorter text
// never matches.
inline bool BeginsWith(const char* text, const char* prefix, std::size_t length,
                       LetterCase letterCase) {
  return std::strlen(text) >= length && SameBytes(text, prefix, length, letterCase);
}
