#include "platform/sim/machine.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace sim {
namespace {
Machine* current = nullptr;
}

void RegisterSystemLibraries(Machine& machine);  // proclist.cpp

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string Trim(const std::string& text) {
  auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::vector<std::string> TrimmedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(Trim(text.substr(start, end - start)));
    start = end + 1;
  }
  return lines;
}

std::optional<std::string> SectionName(const std::string& line) {
  if (line.empty() || line[0] != '[') return std::nullopt;
  auto close = line.find(']');
  return Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
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
      "CloseHandle", "LoadLibraryA", "GetProcAddress", "FreeLibrary", "GetVersionExA",
      "OpenProcess", "TerminateProcess", "CreateProcessA", "WaitForSingleObject",
      "CreateMutexA",
      // process lists
      "EnumProcesses", "EnumProcessModules", "GetModuleBaseNameA", "CreateToolhelp32Snapshot",
      "Process32First", "Process32Next", "Module32First", "Module32Next",
      // registry
      "RegOpenKeyExA", "RegCreateKeyA", "RegQueryValueExA", "RegSetValueExA", "RegEnumKeyA",
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

void Machine::Count(const char* operation) {
  if (TakesFaults(operation)) Refuse("Count (it must use Enter)", operation);
  ++totalCalls_;
  ++calls_[operation];
}

std::optional<DWORD> Machine::EnterStatus(const char* operation) {
  if (!TakesFaults(operation)) Refuse("Enter", operation);
  ++totalCalls_;
  int count = ++calls_[operation];
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
  auto it = calls_.find(operation);
  return it == calls_.end() ? 0 : it->second;
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

Library& Machine::AddLibrary(const std::string& name) {
  if (Library* existing = FindLibrary(name)) return *existing;
  libraries.push_back(std::make_unique<Library>());
  libraries.back()->name = name;
  return *libraries.back();
}

Library* Machine::FindLibrary(const std::string& name) {
  for (auto& library : libraries) {
    if (SameText(library->name, name)) return library.get();
  }
  return nullptr;
}

// A module handle is the library's index in a range of its own.
HMODULE Machine::ModuleOf(const Library& library) const {
  for (std::size_t i = 0; i < libraries.size(); ++i) {
    if (libraries[i].get() == &library)
      return reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x10000000u + i * 0x10000u));
  }
  return nullptr;
}

Library* Machine::LibraryOf(HMODULE module) {
  auto value = reinterpret_cast<std::uintptr_t>(module);
  if (value < 0x10000000u || (value - 0x10000000u) % 0x10000u != 0) return nullptr;
  std::size_t index = (value - 0x10000000u) / 0x10000u;
  return index < libraries.size() ? libraries[index].get() : nullptr;
}

int Machine::LoadedLibraryCount() const {
  int count = 0;
  for (const auto& library : libraries) count += library->references;
  return count;
}

Process& Machine::AddProcess(const std::string& exe) {
  Process process;
  process.pid = nextPid;
  nextPid += 4;
  process.exe = exe;
  process.modules = {Upper(exe), "KERNEL32.DLL"};
  processes.push_back(process);
  return processes.back();
}

Process* Machine::FindProcess(DWORD pid) {
  for (auto& process : processes) {
    if (process.pid == pid) return &process;
  }
  return nullptr;
}

bool Machine::Clean(std::string* report) const {
  std::string why;
  if (!handles_.empty()) why += "open handles:\n" + OpenHandleList();
  for (const auto& library : libraries) {
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
