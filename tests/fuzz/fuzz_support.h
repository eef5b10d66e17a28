// What every fuzz target shares: reading the fuzz input field by field, stopping the run
// with a message when an invariant is broken, and the end-of-run check that nothing on the
// substitute machine stayed open, loaded or misused.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/sim/machine.h"

namespace fuzz {

// Prints the broken invariant and aborts, so that libFuzzer keeps the input as a crash.
[[noreturn]] __attribute__((format(printf, 1, 2))) inline void Violated(const char* format, ...) {
  std::fprintf(stderr, "\n==== INVARIANT VIOLATED: ");
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
  std::fprintf(stderr, "\n");
  std::abort();
}

// Whether FUZZ_TRACE is set: each run then prints what it did, for reading one input's run.
inline bool Tracing() {
  static const bool on = std::getenv("FUZZ_TRACE") != nullptr;
  return on;
}

__attribute__((format(printf, 1, 2))) inline void Trace(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
  std::fprintf(stderr, "\n");
}

// Prints what a run did when FUZZ_TRACE is set; otherwise its arguments (texts made
// printable byte by byte) are not even worked out.
#define FUZZ_TRACE(...)                                   \
  do {                                                    \
    if (::fuzz::Tracing()) ::fuzz::Trace(__VA_ARGS__);    \
  } while (0)

#define FUZZ_CHECK(condition, ...)                   \
  do {                                               \
    if (!(condition)) ::fuzz::Violated(__VA_ARGS__); \
  } while (0)

// Text with every byte outside printable ASCII written as \xNN, for messages.
inline std::string Shown(const std::string& text) {
  std::string shown;
  for (char byte : text) {
    const auto c = static_cast<unsigned char>(byte);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      shown += static_cast<char>(c);
    } else if (c == '\\') {
      shown += "\\\\";
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      shown += escaped;
    }
  }
  return shown;
}

// Nothing open, loaded or misused once the program code has returned.
inline void ExpectClean(const sim::Machine& machine) {
  std::string report;
  FUZZ_CHECK(machine.Clean(&report), "the machine is not clean:\n%s", report.c_str());
}

// The fuzz input read from the front: single bytes, and texts of any bytes behind a
// length. An input that runs out reads as zeros and empty texts, so every input decodes.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool Empty() const { return at_ >= size_; }
  std::uint8_t Byte() { return Empty() ? 0 : data_[at_++]; }
  // A number 0 .. bound-1 from one byte.
  unsigned Choice(unsigned bound) { return bound == 0 ? 0 : Byte() % bound; }
  bool Flag() { return (Byte() & 1) != 0; }
  std::uint32_t Dword() {
    std::uint32_t value = 0;
    for (int shift = 0; shift < 32; shift += 8)
      value |= static_cast<std::uint32_t>(Byte()) << shift;
    return value;
  }
  // `length` bytes, fewer when the input ends first.
  std::string Bytes(std::size_t length) {
    std::size_t available = size_ - at_ < length ? size_ - at_ : length;
    std::string bytes(reinterpret_cast<const char*>(data_ + at_), available);
    at_ += available;
    return bytes;
  }
  // A length byte (up to 255), then the text.
  std::string Text() { return Bytes(Byte()); }
  // A two-byte length, little end first, held to `limit`, then the text.
  std::string LongText(std::size_t limit) {
    std::size_t length = Byte();
    length |= static_cast<std::size_t>(Byte()) << 8;
    return Bytes(length % (limit + 1));
  }
  std::string Rest() { return Bytes(size_ - at_); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace fuzz
