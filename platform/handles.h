// Small owners for the handle kinds, so that "released on every path" is structural.
// Releasing never disturbs the caller's last-error value.
#pragma once

#include "platform/kernel.h"

template <class Traits>
class Owned {
 public:
  using Value = typename Traits::Value;

  Owned() = default;
  explicit Owned(Value value) : value_(value) {}
  ~Owned() { reset(); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;

  Value get() const { return value_; }
  bool valid() const { return value_ != Traits::Invalid(); }
  explicit operator bool() const { return valid(); }

  // Releases what is held (if anything) and takes `value`.
  void reset(Value value = Traits::Invalid()) {
    if (valid()) {
      DWORD saved = GetLastError();
      Traits::Release(value_);
      SetLastError(saved);
    }
    value_ = value;
  }

 private:
  Value value_ = Traits::Invalid();
};

struct LibraryTraits {
  using Value = HMODULE;
  static Value Invalid() { return nullptr; }
  static void Release(Value v) { FreeLibrary(v); }
};

// Process and thread handles are invalid when NULL.
struct ProcessTraits {
  using Value = HANDLE;
  static Value Invalid() { return nullptr; }
  static void Release(Value v) { CloseHandle(v); }
};

// Toolhelp snapshots are invalid as INVALID_HANDLE_VALUE.
struct SnapshotTraits {
  using Value = HANDLE;
  static Value Invalid() { return INVALID_HANDLE_VALUE; }
  static void Release(Value v) { CloseHandle(v); }
};

using LibraryHandle = Owned<LibraryTraits>;
using ProcessHandle = Owned<ProcessTraits>;
using SnapshotHandle = Owned<SnapshotTraits>;
