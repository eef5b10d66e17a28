// What the integration tests and the demo driver both do inside a Wine prefix: copies of
// the programs into drive C, child processes with bounded waits (a child still running at
// its bound is ended), registry and file seeding, and the Windows version Wine reports to
// one program. Nothing here depends on GoogleTest; callers report problems their own way.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace wt {

// Bound of a program run that should end by itself.
constexpr DWORD kRunBoundMs = 30000;
// Bound of a wait for a state a child reaches soon after starting.
constexpr DWORD kSettleBoundMs = 10000;
// Exit code reported for a child that had to be ended at its bound.
constexpr DWORD kTimedOut = 0xFFFFFFFFu;

// The directory of the running program (the build's bin directory).
std::string BuildDir();
// Creates `path` and any missing directory above it.
bool MakeDirs(const std::string& path);
// Where a program or stand-in comes from: the four shipped programs from TOOLS_SHIPPED_DIR
// when it is set (the 32-bit suite starts the very files the release carries), everything
// else from the build directory.
std::string SourceOf(const std::string& fileName);
// Copies SourceOf(fileName) to `target` (full path), creating directories.
bool CopyFromBuild(const std::string& fileName, const std::string& target);
// A fresh, empty scratch directory C:\tests\<name>.
std::string ScratchDir(const std::string& name);
// Removes a directory with everything in it; read-only files too.
void RemoveTree(const std::string& dir);

// A started program; ended on destruction if still running.
class Child {
 public:
  Child() = default;
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Starts `commandLine` exactly as given (no handles inherited); `application`, when
  // given, is the file that runs, whatever the command line names.
  bool Start(const std::string& commandLine, const std::string& workDir = "",
             const std::string& application = "");
  // Waits at most `boundMs` for the end; at the bound the child is ended and false returned.
  bool WaitExit(DWORD boundMs, DWORD* exitCode);
  bool Running() const;
  DWORD ExitCode() const;
  DWORD Pid() const { return pid_; }
  HANDLE Handle() const { return process_; }
  void Kill();

 private:
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
};

// How a bounded run ended.
struct RunResult {
  bool started = false;   // false: CreateProcess failed with `error`
  bool ended = false;     // true: still running at the bound, so it was ended
  DWORD exitCode = kTimedOut;
  DWORD error = 0;
};
// Runs a program to its end within `boundMs`; a child still running then is ended.
RunResult RunBounded(const std::string& commandLine, const std::string& workDir = "",
                     DWORD boundMs = kRunBoundMs, const std::string& application = "");

// Polls `condition` every 20 ms until it holds or `boundMs` passed.
template <class Condition>
bool WaitUntil(Condition condition, DWORD boundMs) {
  for (DWORD waited = 0;; waited += 20) {
    if (condition()) return true;
    if (waited >= boundMs) return false;
    Sleep(20);
  }
}

// The Windows version Wine reports to one executable ("win98", "winxp", "win2k", ...),
// set under HKCU\Software\Wine\AppDefaults; an empty version removes the setting.
bool SetReportedVersion(const std::string& exeName, const std::string& version);

// True once the process has its module list (it is fully started).
bool ModulesListed(DWORD pid);

// Registry helpers for seeding and inspection. `view` is 0 (the caller's own view) or, on
// a 64-bit system, KEY_WOW64_32KEY or KEY_WOW64_64KEY.
bool RegSetDword(HKEY root, const std::string& path, const std::string& name, DWORD value,
                 REGSAM view = 0);
bool RegSetString(HKEY root, const std::string& path, const std::string& name,
                  const std::string& value, REGSAM view = 0);
bool RegGetDword(HKEY root, const std::string& path, const std::string& name, DWORD* value,
                 REGSAM view = 0);
bool RegGetString(HKEY root, const std::string& path, const std::string& name, std::string* value,
                  REGSAM view = 0);
bool RegKeyExists(HKEY root, const std::string& path, REGSAM view = 0);
// Deletes a key with everything below it; true also when it did not exist.
bool RegDeleteTree(HKEY root, const std::string& path, REGSAM view = 0);

// The Windows and system directories of the prefix; empty if they cannot be had.
std::string WindowsDir();
std::string SystemDir();

bool FileExists(const std::string& path);
std::string ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::string& content);

}  // namespace wt
