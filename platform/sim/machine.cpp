#include "platform/sim/machine.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string_view>
#include <map>
#include <set>
#include <unordered_map>
#include <vector>
#include <string>
#include <utility>

namespace sim {
namespace {
Machine* current = nullptr;
}

void RegisterSystemLibraries(Machine& machine);  // proclist.cpp

Event Event::Plain(std::string kind) { return Event(Form::kPlain, std::move(kind), {}, {}); }

Event Event::Count(std::string kind, std::int64_t number) {
  Event event(Form::kCount, std::move(kind), {}, std::to_string(number));
  event.number = number;
  return event;
}

Event Event::On(std::string kind, std::string subject, std::string detail) {
  return Event(Form::kOn, std::move(kind), std::move(subject), std::move(detail));
}

Event Event::Move(std::string kind, std::string from, std::string to) {
  return Event(Form::kMove, std::move(kind), std::move(from), std::move(to));
}

Event Event::Window(std::string kind, std::string className, std::string title) {
  return Event(Form::kWindow, std::move(kind), std::move(className), std::move(title));
}

Event Event::OnValue(std::string kind, std::string key, std::string valueName) {
  Event event(Form::kOnValue, std::move(kind), std::move(key), {});
  event.valueName = std::move(valueName);
  return event;
}

Event Event::ValueSet(std::string kind, std::string key, std::string valueName, std::string shown,
                      std::optional<std::int64_t> number) {
  Event event(Form::kValueSet, std::move(kind), std::move(key), std::move(shown));
  event.valueName = std::move(valueName);
  event.number = number;
  return event;
}

std::string Event::Text() const {
  switch (form_) {
    case Form::kPlain:
      return kind;
    case Form::kCount:
      return kind + " " + detail;
    case Form::kOn:
      return kind + " " + subject + (detail.empty() ? std::string() : " " + detail);
    case Form::kMove:
      return kind + " " + subject + " -> " + detail;
    case Form::kWindow:
      return kind + " " + subject + " \"" + detail + "\"";
    case Form::kOnValue:
      return kind + " " + subject + "\\" + valueName + (detail.empty() ? std::string() : " " + detail);
    case Form::kValueSet:
      return kind + " " + subject + "\\" + valueName + " = " + detail;
  }
  return kind;
}

Machine::Machine() {
  if (current != nullptr) {
    std::fprintf(stderr, "sim: a machine already exists\n");
    std::abort();
  }
  current = this;
  RegisterSystemLibraries(*this);
}

Machine::~Machine() { current = nullptr; }

Machine& Current() {
  if (current == nullptr) {
    std::fprintf(stderr, "sim: a platform operation ran with no machine\n");
    std::abort();
  }
  return *current;
}

namespace {

// Every operation that honours an injected fault with its documented failure result.
// Operations that cannot fail (or whose failure the platform never reports) only count
// their calls and are not here, so a test cannot be given a fault that means nothing.
const std::set<std::string>& FaultableOperations() {
  static const std::set<std::string> names = {
      // files, streams, profiles, directories
      "OpenTextStream", "WriteTextStream", "CloseTextStream", "DeleteFileA", "MoveFileA",
      "GetModuleFileNameA", "GetShortPathNameA", "GetPrivateProfileIntA",
      "GetPrivateProfileStringA", "GetWindowsDirectoryA", "GetSystemDirectoryA",
      // kernel
      "CloseHandle", "LoadLibraryA", "LoadLibraryExA", "GetProcAddress", "FreeLibrary", "GetVersionExA",
      "OpenProcess", "TerminateProcess", "CreateProcessA", "WaitForSingleObject",
      "CreateMutexA", "GetModuleHandleA", "IsWow64Process",
      // process lists
      "EnumProcesses", "EnumProcessModules", "GetModuleBaseNameA", "GetProcessImageFileNameA", "CreateToolhelp32Snapshot",
      "Process32First", "Process32Next", "Module32First", "Module32Next",
      // registry
      "RegOpenKeyExA", "RegCreateKeyA", "RegCreateKeyExA", "RegQueryValueExA", "RegSetValueExA", "RegEnumKeyA",
      "RegDeleteKeyA", "RegCloseKey",
      // devices
      "SetupDiGetClassDevsA", "SetupDiGetClassDevsExA", "SetupDiGetDeviceInfoListDetailA",
      "SetupDiEnumDeviceInfo", "SetupDiGetDeviceRegistryPropertyA", "SetupDiGetDeviceInstanceIdA",
      "SetupDiCallClassInstaller", "SetupDiDestroyDeviceInfoList", "CM_Locate_DevNodeA",
      "CM_Reenumerate_DevNode",
      // services
      "OpenSCManagerA", "OpenServiceA", "QueryServiceStatus", "StartServiceA", "ControlService",
      "CloseServiceHandle",
      // windows, messages, resources
      "RegisterClassA", "CreateWindowExA", "DestroyWindow", "FindWindowA", "UpdateWindow",
      "SetWindowLongPtrA", "GetWindowLongPtrA", "SetTimer", "KillTimer", "GetMessageA",
      "PostMessageA", "LoadStringA", "LoadAcceleratorsA", "DialogBoxParamA",
  };
  return names;
}

[[noreturn]] void Refuse(const char* what, const std::string& operation) {
  std::fprintf(stderr, "sim: %s: %s does not take injected faults\n", what, operation.c_str());
  std::abort();
}

}  // namespace

bool Machine::TakesFaults(const std::string& operation) {
  return FaultableOperations().count(operation) != 0;
}

void Machine::Fail(const std::string& operation, DWORD error, int nth) {
  if (!TakesFaults(operation)) Refuse("Fail", operation);
  if (nth < 0) {
    std::fprintf(stderr, "sim: Fail: %s call %d is no call\n", operation.c_str(), nth);
    std::abort();
  }
  faults_.push_back(Fault{operation, error, nth});
}

void Machine::Mend(const std::string& operation) {
  if (!TakesFaults(operation)) Refuse("Mend", operation);
  for (Fault& fault : faults_) {
    if (fault.operation == operation) fault.active = false;
  }
}

namespace {

// Every operation name a machine has counted, numbered once for the whole process: a
// machine keeps only its counts, by number, so that a fresh machine per fuzz input or test
// builds no names and no map nodes for the thirty-odd operations a run calls. Each name is
// found by the pointer the operations pass (a literal); the same name passed from another
// literal gets the same number.
struct OperationNumbers {
  std::map<std::string, std::size_t, std::less<>> byName;
  std::unordered_map<const char*, std::size_t> byPointer;
  std::vector<bool> takesFaults;  // by number
  // The last pointers looked up, by a hash of the pointer: most calls end here.
  struct Recent {
    const char* pointer = nullptr;
    std::size_t number = 0;
  };
  Recent recent[64];
};

OperationNumbers& Numbers() {
  static OperationNumbers numbers;
  return numbers;
}

std::size_t NumberOf(const char* operation) {
  OperationNumbers& numbers = Numbers();
  OperationNumbers::Recent& recent =
      numbers.recent[(reinterpret_cast<std::uintptr_t>(operation) >> 3) % 64];
  if (recent.pointer == operation) return recent.number;
  auto known = numbers.byPointer.find(operation);
  if (known == numbers.byPointer.end()) {
    auto named = numbers.byName.try_emplace(operation, numbers.takesFaults.size()).first;
    if (named->second == numbers.takesFaults.size())
      numbers.takesFaults.push_back(Machine::TakesFaults(named->first));
    known = numbers.byPointer.emplace(operation, named->second).first;
  }
  recent = OperationNumbers::Recent{operation, known->second};
  return known->second;
}

}  // namespace

Machine::Operation Machine::OperationOf(const char* operation) {
  const std::size_t number = NumberOf(operation);
  if (number >= calls_.size()) calls_.resize(Numbers().takesFaults.size() + 16, 0);
  return Operation{&calls_[number], Numbers().takesFaults[number]};
}

namespace {

// ERROR_PROCESS_ABORTED: what an operation of a process being ended fails with.
constexpr DWORD kProcessAborted = 1067;

// The operations that release what a program holds: its owners call them from their
// destructors, where a throw would end the test program itself.
bool Releases(const char* operation) {
  static const std::set<std::string, std::less<>> names = {
      "CloseHandle", "RegCloseKey", "CloseServiceHandle", "FreeLibrary",
      "SetupDiDestroyDeviceInfoList", "CloseTextStream", "DestroyWindow", "KillTimer"};
  return names.count(std::string_view(operation)) != 0;
}

}  // namespace

bool Machine::CountsTowardsTheEnd(const char* operation) {
  if (startedProgramsRunning_ > 0) return false;
  if (!cutShort_) {
    if (!endAfter_ || programOperations_ < *endAfter_) {
      ++programOperations_;
      return false;
    }
    cutShort_ = true;
  }
  // Nothing the program does from here on reaches the machine: the operation fails, and
  // where nothing is unwinding and it is not a release, the program is ended here.
  if (std::uncaught_exceptions() == 0 && !Releases(operation)) throw ProgramEnded{programOperations_};
  return true;
}

void Machine::EndAfter(int operations) {
  endAfter_ = programOperations_ + operations;
  cutShort_ = false;
}

void Machine::Count(const char* operation) {
  const Operation counted = OperationOf(operation);
  if (counted.takesFaults) Refuse("Count (it must use Enter)", operation);
  // An operation that cannot fail still ends the program; begun while the program unwinds
  // it runs, which only the radio library's and the message loop's calls could, and no
  // destructor makes them.
  CountsTowardsTheEnd(operation);
  ++totalCalls_;
  ++*counted.calls;
}

std::optional<DWORD> Machine::EnterStatus(const char* operation) {
  const Operation counted = OperationOf(operation);
  if (!counted.takesFaults) Refuse("Enter", operation);
  if (CountsTowardsTheEnd(operation)) return kProcessAborted;
  ++totalCalls_;
  int count = ++*counted.calls;
  // The latest active fault for this call wins; one shadowed by it has not fired.
  for (auto it = faults_.rbegin(); it != faults_.rend(); ++it) {
    if (it->active && it->operation == operation && (it->nth == 0 || it->nth == count)) {
      it->fired = true;
      return it->error;
    }
  }
  return std::nullopt;
}

std::optional<DWORD> Machine::Enter(const char* operation) {
  auto fault = EnterStatus(operation);
  if (fault) lastError = *fault;
  return fault;
}

int Machine::Calls(const std::string& operation) const {
  const OperationNumbers& numbers = Numbers();
  auto it = numbers.byName.find(operation);
  if (it == numbers.byName.end() || it->second >= calls_.size()) return 0;
  return calls_[it->second];
}

HANDLE Machine::OpenHandle(std::unique_ptr<HandleObject> object) {
  std::uintptr_t value = nextHandle_;
  nextHandle_ += 4;  // never reused, so a stale handle is always caught
  handles_[value] = std::move(object);
  return reinterpret_cast<HANDLE>(value);
}

HandleObject* Machine::LookupAny(HANDLE handle) {
  auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
  return it == handles_.end() ? nullptr : it->second.get();
}

bool Machine::CloseHandleOf(HANDLE handle) {
  return handles_.erase(reinterpret_cast<std::uintptr_t>(handle)) == 1;
}

std::string Machine::OpenHandleList() const {
  std::string list;
  for (const auto& [value, object] : handles_) {
    char line[64];
    std::snprintf(line, sizeof line, "%#llx %s\n", static_cast<unsigned long long>(value),
                  object->Kind());
    list += line;
  }
  return list;
}

void Machine::EndProcess(Ending how) {
  const int made = programOperations_;
  endAfter_.reset();
  cutShort_ = false;
  // What the process held goes with it, without a message to its windows: its handles
  // (with them its mutexes and what its streams had not flushed), its windows with their
  // timers, its window classes and message queue, and its loaded libraries.
  for (auto& [value, object] : handles_) object->Abandon(*this);
  handles_.clear();
  desktop.windows.clear();
  desktop.ProcessEnded();
  for (auto& library : kernel.libraries) library->references = 0;
  Log(Event::On("Ended", how == Ending::kPowerCut ? "power cut" : "process",
                "after " + std::to_string(made) + " operations")
          .WithNumber(made));
  if (how == Ending::kPowerCut) {
    Reboot();
    return;
  }
  // A start or stop the process asked for completes without it, and a program it started
  // and did not wait for runs to its end.
  services.CompletePending(*this);
  while (!programs.pending.empty()) {
    auto [pid, started] = *programs.pending.begin();
    programs.pending.erase(programs.pending.begin());
    Process* process = kernel.FindProcess(static_cast<DWORD>(pid));
    if (process != nullptr && !process->running) continue;  // ended before it ran
    unsigned exitCode = 0;
    {
      StartedProgramRuns runs(*this);
      exitCode = (*started.first)(*this, started.second);
    }
    if (process != nullptr) {
      process->running = false;
      process->exitCode = exitCode;
    }
    Log(Event::On("Exited", process != nullptr ? process->exe : "?", std::to_string(exitCode))
            .WithNumber(exitCode)
            .Did(Effect::kProcessExited, true));
  }
}

void Machine::Reboot() {
  Log(Event::Plain("Reboot"));
  // Programs started from the machine's processes die with the power, their work undone.
  for (auto& [pid, started] : programs.pending) {
    if (Process* process = kernel.FindProcess(static_cast<DWORD>(pid))) process->running = false;
  }
  programs.pending.clear();
  services.Restart(*this);
  // Volatile keys live only in memory: a restart starts without them.
  registry.RemoveVolatileKeys();
}

bool Machine::Clean(std::string* report) const {
  std::string why;
  if (!handles_.empty()) why += "open handles:\n" + OpenHandleList();
  for (const auto& library : kernel.libraries) {
    if (library->references != 0)
      why += "library still loaded: " + library->name + " x" +
             std::to_string(library->references) + "\n";
  }
  for (const auto& m : misuse_) why += "misuse: " + m + "\n";
  for (const Fault& fault : faults_) {
    if (fault.fired) continue;
    why += "fault never fired: " + fault.operation +
           (fault.nth == 0 ? std::string(" every call") : " call " + std::to_string(fault.nth)) +
           "\n";
  }
  if (report != nullptr) *report = why;
  return why.empty();
}

}  // namespace sim
