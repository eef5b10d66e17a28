// What the substitute machine keeps behind a handle.
#pragma once

namespace sim {

// An object behind a handle. Each family derives its own kinds.
struct HandleObject {
  virtual ~HandleObject() = default;
  virtual const char* Kind() const = 0;
  // Kernel objects are released with CloseHandle; others have closers of their own.
  virtual bool IsKernelObject() const { return true; }
};

}  // namespace sim
