// What the substitute machine keeps behind a handle.
#pragma once

namespace sim {

class Machine;

// An object behind a handle. Each family derives its own kinds.
struct HandleObject {
  virtual ~HandleObject() = default;
  virtual const char* Kind() const = 0;
  // Kernel objects are released with CloseHandle; others have closers of their own.
  virtual bool IsKernelObject() const { return true; }
  // The process that holds it ended without releasing it; the handle goes right after.
  virtual void Abandon(Machine&) {}
};

}  // namespace sim
