#include "platform/sim/machine.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

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

void Machine::Fail(const std::string& operation, DWORD error, int nth) {
  faults_[operation] = {error, nth};
}

std::optional<DWORD> Machine::Enter(const char* operation) {
  ++totalCalls_;
  int count = ++calls_[operation];
  auto it = faults_.find(operation);
  if (it == faults_.end()) return std::nullopt;
  if (it->second.second == 0 || it->second.second == count) {
    lastError = it->second.first;
    return it->second.first;
  }
  return std::nullopt;
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
  if (report != nullptr) *report = why;
  return why.empty();
}

}  // namespace sim
