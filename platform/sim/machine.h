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
#include <string_view>
#include <unordered_map>
#include <utility>
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

// One side effect in the machine's log, in parts: what happened (`kind`: the operation or
// the stand-in's action, "RegSetValue", "Installer sets"), what it happened to (`subject`:
// a file, key or device path, a service, program, mutex, window or timer), the registry
// value within that key (`valueName`), the rest in words (`detail`), and the number the
// event carries when it has one (`number`). Text() is the line the log shows:
//
//   kind                    subject       valueName  detail                number
//   OpenTextStream          file                     mode ("wt")
//   CloseTextStream         file
//   DeleteFile              file
//   MoveFile                old path                 new path
//   RemoveDevice            instance ID
//   Reenumerate
//   RegCreateKey            key path                 "volatile" or none
//   RegSetValue             key path      name       "dword:7", ...        the DWORD
//   RegDeleteKey            key path
//   Sleep                                            milliseconds          milliseconds
//   TerminateProcess        executable               "<pid> exit <code>"   exit code
//   CreateProcess           command line
//   WaitForSingleObject     executable               "INFINITE" or ms      milliseconds
//   Exited                  executable               exit code             exit code
//   CreateMutex             mutex name               "(exists)" or none
//   StartService            service                  "with arguments"/none
//   ControlService          service                  "stop"
//   Service                 service                  "running", "stopped"
//   CreateWindow            window class             title (quoted)
//   DestroyWindow           window class             title (quoted)
//   ShowWindow              title                    "shown"
//   SetTimer                timer id                 elapse                elapse
//   KillTimer               timer id
//   WM_TIMER                timer id
//   PostQuitMessage                                  exit code             exit code
//   DialogBox               resource name
//   SetControlOption        adapter name             option                option
//   GetAdapter                                       index                 index
//   RadioLoadAPI
//   Installer sets          key path      name
//   Installer deletes       key path      name
//   Installer deletes key   key path
//   Installer applies       INF file
//   Regedit sets            key path      name
//   Regedit deletes         key path      name       "(not there)" or none
//   Regedit deletes key     key path                 "(not there)" or none
//   Regedit imports         script file
//   Ended                   "process" or "power cut" "after <n> operations"  n
//   Reboot
// What an event did, as a record: a reader of the log (the preview's plan) tells events
// apart by this, never by the words of `kind`. Events that change nothing a program's
// user would see (a timer, a window message) stay kNone.
enum class Effect {
  kNone,
  kKeyCreated,         // subject: the key
  kValueSet,           // subject: the key, valueName: the value
  kValueDeleted,       // subject: the key, valueName: the value
  kKeyDeleted,         // subject: the key
  kFileOpenedToWrite,  // subject: the file
  kFileClosed,         // subject: the file
  kFileDeleted,        // subject: the file
  kFileRenamed,        // subject: the old path, detail: the new one
  kDeviceRemoved,      // subject: the device's instance ID
  kDevicesReenumerated,
  kProcessStarted,     // subject: the command line
  kProcessWaitedFor,   // subject: the executable, detail: how long
  kProcessExited,      // subject: the executable, number: the exit code
  kProcessTerminated,  // subject: the executable, number: the exit code
  kMutexCreated,       // subject: the mutex name
  kServiceStarted,     // subject: the service
  kServiceControlled,  // subject: the service
  kInfApplied,         // subject: the INF file
  kScriptImported,     // subject: the registry script
};

class Event {
 public:
  // "<kind>"
  static Event Plain(std::string kind);
  // "<kind> <number>"
  static Event Count(std::string kind, std::int64_t number);
  // "<kind> <subject>", followed by " <detail>" when there is one.
  static Event On(std::string kind, std::string subject, std::string detail = std::string());
  // "<kind> <from> -> <to>"
  static Event Move(std::string kind, std::string from, std::string to);
  // "<kind> <class> \"<title>\""
  static Event Window(std::string kind, std::string className, std::string title);
  // "<kind> <key>\<valueName>"
  static Event OnValue(std::string kind, std::string key, std::string valueName);
  // "<kind> <key>\<valueName> = <shown>", with the DWORD written when it is one.
  static Event ValueSet(std::string kind, std::string key, std::string valueName, std::string shown,
                        std::optional<std::int64_t> number);
  // Adds the number the event carries.
  Event& WithNumber(std::int64_t value) {
    number = value;
    return *this;
  }
  // Adds what the event did; `existed` says whether what it acted on was there before
  // (a deletion that found something, a mutex that was already open).
  Event& Did(Effect what, bool wasThere = false) {
    effect = what;
    existed = wasThere;
    return *this;
  }

  std::string Text() const;

  std::string kind;
  std::string subject;
  std::string valueName;
  std::string detail;
  std::optional<std::int64_t> number;
  Effect effect = Effect::kNone;
  bool existed = false;

 private:
  enum class Form { kPlain, kCount, kOn, kMove, kWindow, kOnValue, kValueSet };
  Event(Form form, std::string what, std::string on, std::string rest)
      : kind(std::move(what)), subject(std::move(on)), detail(std::move(rest)), form_(form) {}
  Form form_;
};

// How a program's process is cut short (Machine::EndProcess).
enum class Ending {
  // Ended as TerminateProcess ends it: the process's handles, windows and mutexes go, and
  // what its C runtime streams had not yet flushed is lost; a service start or stop it
  // asked for completes by itself, and a program it started and had not waited for still
  // runs to its end.
  kEnded,
  // The same, and then the machine restarts (Machine::Reboot).
  kPowerCut,
};

// Thrown out of the operation that the program code was not to make: the one after the
// operation it is ended after (Machine::EndAfter). The caller of the program catches it
// and ends the process with Machine::EndProcess.
struct ProgramEnded {
  int operations = 0;  // the operations the program had made
};

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
  // an injected fault, with the last error set to it. `operation` is a string literal (the
  // operation's own name): its address is remembered for the whole process, here and in
  // EnterStatus and Count.
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
  void Log(Event event) {
    texts_.push_back(event.Text());
    events_.push_back(std::move(event));
  }
  // The log as its lines, and as records with their parts (the same events, in order).
  const std::vector<std::string>& Events() const { return texts_; }
  const std::vector<Event>& EventRecords() const { return events_; }

  // --- misuse: releasing what is not held, using a closed handle, ... ------------
  void Misuse(std::string what) { misuse_.push_back(std::move(what)); }
  const std::vector<std::string>& Misuses() const { return misuse_; }
  void ClearMisuse() { misuse_.clear(); }

  // --- arguments whose choice is a rule of the programs, not of the API -------------
  // (a mutex without security attributes, a process handle that is not inherited, the
  // local machine's devices): recorded per call, for the programs' tests to assert.
  using Arguments = std::map<std::string, std::string>;
  void RecordArguments(std::string_view operation, Arguments arguments) {
    auto it = arguments_.find(operation);
    if (it == arguments_.end()) it = arguments_.try_emplace(std::string(operation)).first;
    it->second.push_back(std::move(arguments));
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
  // and the process running the program code (`kernel.self`: own path, code page, named
  // mutexes; `kernel.environment`).
  KernelState kernel;

  // --- registry ----------------------------------------------------------------------
  Registry registry;

  // --- files, startable programs, devices ---------------------------------------------
  FileSystem files;
  Programs programs;
  DeviceDatabase devices;
  // --- services, desktop, the vendor radio library ----------------------------------
  ServiceManager services;
  Desktop desktop;
  RadioLibrary radio;

  // True when nothing stayed open or loaded and nothing was misused; `report` tells why not.
  bool Clean(std::string* report) const;

  // --- runs cut short ----------------------------------------------------------------
  // The operations the program code has made: calls of the platform and of the radio
  // library, not those a program it started makes while it waits for that one.
  int ProgramOperations() const { return programOperations_; }
  // Ends the program code once it has made `operations` operations (counted from now on
  // the machine's whole count, ProgramOperations): the next one it begins throws
  // ProgramEnded. Until EndProcess, every operation then fails at once with
  // ERROR_PROCESS_ABORTED and changes nothing, so that the destructors the throw runs
  // leave the machine as the operation count left it; one begun inside a destructor fails
  // so rather than throw, and the throw comes with the next one.
  void EndAfter(int operations);
  // Runs `program` (the program's entry point and what its runner does after it) ended
  // after `operations` operations: true when it was cut short, false when it ended by
  // itself first. Either way its process then ends as `how` says (EndProcess).
  template <class Program>
  bool RunEndedAfter(int operations, Ending how, Program&& program) {
    EndAfter(operations);
    try {
      program();
    } catch (const ProgramEnded&) {
    }
    // Also cut short where only releases followed, which failed without a throw.
    const bool cut = cutShort_;
    EndProcess(how);
    return cut;
  }
  // Ends the process that runs the program code, as `how` says.
  void EndProcess(Ending how);
  // A restart of the machine after a power cut: the programs the ended program started die
  // without running, services come back in the state their start type gives them, and
  // what a restart does not keep is dropped. Processes seeded by a test stand for programs
  // that start again with the system and the user's log-on, and keep running.
  void Reboot();
  // Whether the program code is being ended (between the throw and EndProcess).
  bool BeingEnded() const { return cutShort_; }

 private:
  struct Fault {
    std::string operation;
    DWORD error;
    int nth;  // 0: every call
    bool active = true;
    bool fired = false;
  };
  std::vector<Fault> faults_;  // in the order set
  // The calls of each operation, by the number the process gave its name (machine.cpp).
  std::vector<int> calls_;
  struct Operation {
    int* calls;
    bool takesFaults;
  };
  Operation OperationOf(const char* operation);
  // Counts one operation of the program code; true when it is to fail without effect
  // because the program is being ended (it throws ProgramEnded instead where it can).
  bool CountsTowardsTheEnd(const char* operation);
  int totalCalls_ = 0;
  int programOperations_ = 0;
  std::optional<int> endAfter_;  // the program code is ended after this many operations
  bool cutShort_ = false;
  int startedProgramsRunning_ = 0;  // handlers of started programs running (WaitForSingleObject)

 public:
  // Marks the span in which a started program's handler runs: its operations are not the
  // program code's.
  class StartedProgramRuns {
   public:
    explicit StartedProgramRuns(Machine& machine) : machine_(machine) { ++machine_.startedProgramsRunning_; }
    ~StartedProgramRuns() { --machine_.startedProgramsRunning_; }
    StartedProgramRuns(const StartedProgramRuns&) = delete;
    StartedProgramRuns& operator=(const StartedProgramRuns&) = delete;

   private:
    Machine& machine_;
  };

 private:
  std::vector<Event> events_;
  std::vector<std::string> texts_;  // the text of each event, kept alongside
  std::vector<std::string> misuse_;
  std::map<std::string, std::vector<Arguments>, std::less<>> arguments_;
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
