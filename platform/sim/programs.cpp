// Starting programs on the substitute machine and waiting for them.
#include <cstring>
#include <string>

#include "platform/programs.h"
#include "platform/sim/machine.h"

namespace sim {

namespace {

struct ThreadObject : HandleObject {
  const char* Kind() const override { return "thread"; }
  DWORD pid = 0;
};

// A handle on a named mutex; the name lives as long as a handle or another holder does.
struct MutexObject : HandleObject {
  ~MutexObject() override {
    if (--(*openMutexes)[name] == 0) openMutexes->erase(name);
  }
  const char* Kind() const override { return "mutex"; }
  std::string name;
  std::map<std::string, int>* openMutexes = nullptr;
};

std::string FileNameOf(const std::string& path) {
  auto slash = path.rfind('\\');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The program a command line starts: its first token, quoted or up to the first blank.
std::string FirstToken(const std::string& commandLine) {
  std::size_t start = commandLine.find_first_not_of(" \t");
  if (start == std::string::npos) return "";
  if (commandLine[start] == '"') {
    auto close = commandLine.find('"', start + 1);
    return commandLine.substr(start + 1, close == std::string::npos ? std::string::npos
                                                                    : close - start - 1);
  }
  auto end = commandLine.find_first_of(" \t", start);
  return commandLine.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool AllZeroAfterSize(const STARTUPINFOA& startup) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&startup);
  for (std::size_t i = sizeof startup.cb; i < sizeof startup; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

}  // namespace

const ProgramHandler* Programs::Resolve(const std::string& program,
                                        const std::vector<std::string>& searchFolders) const {
  if (program.find('\\') == std::string::npos) {
    for (const std::string& folder : searchFolders) {
      if (folder.empty()) continue;
      std::string base = folder.back() == '\\' ? folder + program : folder + "\\" + program;
      for (const std::string& candidate : {base, base + ".exe"}) {
        auto it = handlers_.find(candidate);
        if (it != handlers_.end()) return &it->second;
      }
    }
  }
  for (const std::string& candidate : {program, program + ".exe"}) {
    auto it = handlers_.find(candidate);
    if (it != handlers_.end()) return &it->second;
  }
  std::string name = FileNameOf(program);
  for (const auto& [registered, handler] : handlers_) {
    if (registered.find('\\') != std::string::npos) continue;
    if (SameText(registered, name) || SameText(registered + ".exe", name)) return &handler;
  }
  return nullptr;
}

}  // namespace sim

using sim::Current;
using sim::Failure;

BOOL WINAPI CreateProcessA(LPCSTR applicationName, LPSTR commandLine, LPSECURITY_ATTRIBUTES,
                           LPSECURITY_ATTRIBUTES, BOOL inheritHandles, DWORD creationFlags,
                           LPVOID environment, LPCSTR currentDirectory,
                           LPSTARTUPINFOA startupInfo, LPPROCESS_INFORMATION processInformation) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("CreateProcessA")) return FALSE;
  if (startupInfo == nullptr || processInformation == nullptr ||
      (applicationName == nullptr && commandLine == nullptr)) {
    m.Misuse("CreateProcessA without start-up information, process information or program");
    return Failure(ERROR_INVALID_PARAMETER, FALSE);
  }
  std::string line = commandLine == nullptr ? "" : commandLine;
  std::string program = applicationName != nullptr ? applicationName : sim::FirstToken(line);
  // A program given by name alone is searched for; an application name is taken as it is.
  const sim::ProgramHandler* handler = m.programs.Resolve(
      program, applicationName != nullptr ? std::vector<std::string>{}
                                          : m.kernel.ProgramSearchFolders());
  if (handler == nullptr) return Failure(ERROR_FILE_NOT_FOUND, FALSE);

  sim::ProgramStart start;
  start.commandLine = line;
  start.applicationNameGiven = applicationName != nullptr;
  if (applicationName != nullptr) start.applicationName = applicationName;
  start.inheritHandles = inheritHandles != FALSE;
  start.creationFlags = creationFlags;
  start.environmentGiven = environment != nullptr;
  start.currentDirectoryGiven = currentDirectory != nullptr;
  start.startupInfoSize = startupInfo->cb;
  start.startupInfoZeroed = sim::AllZeroAfterSize(*startupInfo);
  m.programs.started.push_back(start);

  sim::Process& process = m.kernel.AddProcess(sim::FileNameOf(program));
  m.programs.pending[process.pid] = {handler, line};
  m.Log(sim::Event::On("CreateProcess", line).Did(sim::Effect::kProcessStarted));

  auto processObject = std::make_unique<sim::ProcessObject>();
  processObject->pid = process.pid;
  processObject->access = PROCESS_ALL_ACCESS;
  auto threadObject = std::make_unique<sim::ThreadObject>();
  threadObject->pid = process.pid;
  processInformation->hProcess = m.OpenHandle(std::move(processObject));
  processInformation->hThread = m.OpenHandle(std::move(threadObject));
  processInformation->dwProcessId = process.pid;
  processInformation->dwThreadId = process.pid + 1;
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("WaitForSingleObject")) return WAIT_FAILED;
  auto* process = m.Lookup<sim::ProcessObject>(object);
  if (process == nullptr) {
    m.Misuse("WaitForSingleObject on a handle that is not an open process");
    return Failure(ERROR_INVALID_HANDLE, WAIT_FAILED);
  }
  if ((process->access & SYNCHRONIZE) == 0) return Failure(ERROR_ACCESS_DENIED, WAIT_FAILED);
  sim::Process* target = m.kernel.FindProcess(process->pid);
  std::string name = target != nullptr ? target->exe : "?";
  m.Log(sim::Event::On(
            "WaitForSingleObject", name,
            milliseconds == INFINITE ? std::string("INFINITE") : std::to_string(milliseconds))
            .WithNumber(milliseconds)
            .Did(sim::Effect::kProcessWaitedFor, true));
  auto pending = m.programs.pending.find(process->pid);
  // A program ended by TerminateProcess before the wait never does its work.
  if (pending != m.programs.pending.end() && target != nullptr && !target->running) {
    m.programs.pending.erase(pending);
  } else if (pending != m.programs.pending.end()) {
    auto [handler, line] = pending->second;
    m.programs.pending.erase(pending);
    unsigned exitCode = 0;
    {
      sim::Machine::StartedProgramRuns started(m);
      exitCode = (*handler)(m, line);
    }
    if (target != nullptr) {
      target->running = false;
      target->exitCode = exitCode;
    }
    m.Log(sim::Event::On("Exited", name, std::to_string(exitCode)).WithNumber(exitCode).Did(sim::Effect::kProcessExited, true));
  } else if (target != nullptr && target->running) {
    // A process this program did not start: it ends at its own time, if it has one, and
    // the wait lets the clock run until then or until the wait's bound.
    DWORD left = 0;
    if (target->endsAt && *target->endsAt > m.now) left = *target->endsAt - m.now;
    if (target->endsAt && (milliseconds == INFINITE || left <= milliseconds)) {
      m.now += left;
      target->running = false;
      target->exitCode = 0;
      m.Log(sim::Event::On("Exited", name, "0").WithNumber(0).Did(sim::Effect::kProcessExited, true));
      return WAIT_OBJECT_0;
    }
    if (milliseconds == INFINITE) {
      m.Misuse("WaitForSingleObject without a bound on a process that never ends");
      return Failure(ERROR_INVALID_PARAMETER, WAIT_FAILED);
    }
    m.now += milliseconds;
    return WAIT_TIMEOUT;
  }
  return WAIT_OBJECT_0;
}

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("CreateMutexA")) return nullptr;
  m.RecordArguments("CreateMutexA", {{"attributes", attributes != nullptr ? "given" : "none"},
                                     {"owned", initialOwner ? "yes" : "no"}});
  if (name == nullptr || *name == '\0') {
    m.Misuse("CreateMutexA without a name");
    return Failure(ERROR_INVALID_PARAMETER, HANDLE{});
  }
  bool existed = m.kernel.self.MutexExists(name);
  auto object = std::make_unique<sim::MutexObject>();
  object->name = name;
  object->openMutexes = &m.kernel.self.openMutexes;
  ++m.kernel.self.openMutexes[name];
  m.Log(sim::Event::On("CreateMutex", name, existed ? "(exists)" : "").Did(sim::Effect::kMutexCreated, existed));
  HANDLE handle = m.OpenHandle(std::move(object));
  m.lastError = existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
  return handle;
}
