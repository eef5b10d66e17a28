// The prefix tests that decide what belongs to the chipset. Each looks at the first
// characters of a text only; a shorter text never matches.
#pragma once

#include <cstddef>

enum class LetterCase { kExact, kIgnored };

// True when `text` begins with the first `length` characters of `prefix`. With letter
// case ignored only the ASCII letters A-Z and a-z pair up; every other byte must be equal.
inline bool BeginsWith(const char* text, const char* prefix, std::size_t length,
                       LetterCase letterCase) {
  for (std::size_t i = 0; i < length; ++i) {
    char a = text[i];
    char b = prefix[i];
    if (a == '\0') return false;  // shorter than the prefix
    if (letterCase == LetterCase::kIgnored) {
      if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
      if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
    }
    if (a != b) return false;
  }
  return true;
}
