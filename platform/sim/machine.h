// The substitute Windows machine: a small in-memory Windows that the platform
// declarations act on when the programs are built natively. A test creates a Machine
// (which becomes the current one), seeds it, runs program code and inspects the
// outcome: state, the ordered event log, call counts, open handles and loaded
// libraries.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/kernel.h"
#include "platform/sim/devices_state.h"
#include "platform/sim/files_state.h"
#include "platform/sim/handle_object.h"
#include "platform/sim/kernel_state.h"
#include "platform/sim/programs_state.h"
#include "platform/sim/registry_state.h"
#include "platform/sim/services_state.h"
#include "platform/sim/standins/radio_state.h"
#include "platform/sim/standins/standins.h"
#include "platform/sim/text.h"
#include "platform/sim/windowing_state.h"

namespace sim {

class Machine {
 public:
  Machine();
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // --- fault injection -------------------------------------------------------
  // Makes `operation` fail with `error`: on every call (nth == 0) or on its nth call
  // only (counting from 1). Only operations that honour a fault take one; any other
  // name aborts the test. Every fault set must fire before the machine is torn down
  // (Clean reports one that did not). A later fault on the same call wins.
  void Fail(const std::string& operation, DWORD error, int nth = 0);
  // Ends the faults set on `operation`: its later calls succeed again.
  void Mend(const std::string& operation);
  // Forgets every fault, fired or not (for tests of the bookkeeping itself).
  void ClearFaults() { faults_.clear(); }
  // Called on entry by each operation that honours faults: counts the call and reports
  // an injected fault, with the last error set to it.
  std::optional<DWORD> Enter(const char* operation);
  // The same, for operations that return their error code and leave the last error alone.
  std::optional<DWORD> EnterStatus(const char* operation);
  // Called on entry by operations that have no failure to report: counts the call only.
  void Count(const char* operation);
  // Whether `operation` honours injected faults.
  static bool TakesFaults(const std::string& operation);
  int Calls(const std::string& operation) const;
  int TotalCalls() const { return totalCalls_; }

  // --- event log of side effects, in order ---------------------------------------
  void Log(std::string event) { events_.push_back(std::move(event)); }
  const std::vector<std::string>& Events() const { return events_; }

  // --- misuse: releasing what is not held, using a closed handle, ... ------------
  void Misuse(std::string what) { misuse_.push_back(std::move(what)); }
  const std::vector<std::string>& Misuses() const { return misuse_; }
  void ClearMisuse() { misuse_.clear(); }

  // --- arguments whose choice is a rule of the programs, not of the API -------------
  // (a mutex without security attributes, a process handle that is not inherited, the
  // local machine's devices): recorded per call, for the programs' tests to assert.
  using Arguments = std::map<std::string, std::string>;
  void RecordArguments(const std::string& operation, Arguments arguments) {
    arguments_[operation].push_back(std::move(arguments));
  }
  std::vector<Arguments> ArgumentsOf(const std::string& operation) const {
    auto it = arguments_.find(operation);
    return it == arguments_.end() ? std::vector<Arguments>{} : it->second;
  }

  // --- handles -------------------------------------------------------------------
  HANDLE OpenHandle(std::unique_ptr<HandleObject> object);
  template <class T>
  T* Lookup(HANDLE handle) {
    auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == handles_.end() ? nullptr : dynamic_cast<T*>(it->second.get());
  }
  HandleObject* LookupAny(HANDLE handle);
  bool CloseHandleOf(HANDLE handle);
  std::size_t OpenHandleCount() const { return handles_.size(); }
  std::string OpenHandleList() const;

  // --- last error, clock -------------------------------------------------------------
  DWORD lastError = 0;
  DWORD now = 0;  // virtual milliseconds since start

  // --- kernel: version, libraries, processes, command line, directories -------------
  KernelState kernel;

  // --- registry ----------------------------------------------------------------------
  Registry registry;

  // --- files, environment, startable programs, devices --------------------------------
  FileSystem files;
  Environment environment;
  Programs programs;
  DeviceDatabase devices;
  // --- services, desktop, the vendor radio library ----------------------------------
  ServiceManager services;
  Desktop desktop;
  RadioLibrary radio;

  // --- the process running the program code: own path, code page, named mutexes ---------
  ProcessState self;

  // True when nothing stayed open or loaded and nothing was misused; `report` tells why not.
  bool Clean(std::string* report) const;

 private:
  struct Fault {
    std::string operation;
    DWORD error;
    int nth;  // 0: every call
    bool active = true;
    bool fired = false;
  };
  std::vector<Fault> faults_;  // in the order set
  std::map<std::string, int> calls_;
  int totalCalls_ = 0;
  std::vector<std::string> events_;
  std::vector<std::string> misuse_;
  std::map<std::string, std::vector<Arguments>> arguments_;
  std::map<std::uintptr_t, std::unique_ptr<HandleObject>> handles_;
  std::uintptr_t nextHandle_ = 0x1000;
};

// The machine the platform operations act on; aborts if there is none.
Machine& Current();

// Returns `result` after setting the machine's last error.
template <class T>
T Failure(DWORD error, T result) {
  Current().lastError = error;
  return result;
}

}  // namespace sim
