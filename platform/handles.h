// Small owners for the handle kinds, so that "released on every path" is structural.
// Releasing never disturbs the caller's last-error value.
#pragma once

#include "platform/kernel.h"

// Each handle kind is named by its traits: how it is released and which value is invalid.
template <class Traits>
class Owned {
 public:
  using Value = typename Traits::Value;

  Owned() = default;
  explicit Owned(Value value) : value_(value) {}
  ~Owned() { reset(); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& other) noexcept : value_(other.release()) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

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

  // Gives up ownership without releasing.
  Value release() {
    Value value = value_;
    value_ = Traits::Invalid();
    return value;
  }

  // For an out-parameter: releases what is held and lends the empty slot to be filled.
  Value* put() {
    reset();
    return &value_;
  }

 private:
  Value value_ = Traits::Invalid();
};

struct LibraryTraits {
  using Value = HMODULE;
  static Value Invalid() { return nullptr; }
  static void Release(Value v) { FreeLibrary(v); }
};

// Kernel handles that are invalid when NULL: processes, threads, mutexes.
struct NullHandleTraits {
  using Value = HANDLE;
  static Value Invalid() { return nullptr; }
  static void Release(Value v) { CloseHandle(v); }
};

// Kernel handles that are invalid as INVALID_HANDLE_VALUE: Toolhelp snapshots.
struct InvalidHandleValueTraits {
  using Value = HANDLE;
  static Value Invalid() { return INVALID_HANDLE_VALUE; }
  static void Release(Value v) { CloseHandle(v); }
};

using LibraryHandle = Owned<LibraryTraits>;
using ProcessHandle = Owned<NullHandleTraits>;
using SnapshotHandle = Owned<InvalidHandleValueTraits>;
