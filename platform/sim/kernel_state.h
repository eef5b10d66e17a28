// The substitute machine's kernel: its version, the libraries it can load, the processes
// that run, and what it knows about the process that runs the program code (the path of
// its program file, the lead bytes of its active ANSI code page, the named mutexes of
// the session, its own handles and those other processes hold, and its environment).
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/kernel.h"
#include "platform/sim/handle_object.h"
#include "platform/sim/text.h"

namespace sim {

struct VersionInfo {
  DWORD major = 5;
  DWORD minor = 1;
  DWORD build = 2600;
  DWORD platformId = VER_PLATFORM_WIN32_NT;
  std::string csd = "Service Pack 3";
};

// A loadable library: its exports can be removed one by one, or the whole library.
struct Library {
  std::string name;
  bool present = true;
  std::map<std::string, FARPROC> exports;
  int references = 0;
  // Loaded in every process (kernel32): GetModuleHandleA finds it without a load.
  bool pinned = false;
};

struct Process {
  DWORD pid = 0;
  std::string exe;                   // executable file name, without directory
  std::vector<std::string> modules;  // module names as the 9x Toolhelp reports them
  bool refuseQuery = false;          // OpenProcess for querying is refused
  bool refuseTerminate = false;      // OpenProcess with PROCESS_TERMINATE is refused
  bool terminateFails = false;       // TerminateProcess fails
  bool moduleSnapshotFails = false;  // its module snapshot cannot be taken
  bool sixtyFourBit = false;         // a 64-bit process: a WOW64 caller cannot read its modules
  bool running = true;
  UINT exitCode = 0;
  // A running process that this program did not start ends by itself, with exit code 0,
  // at this virtual time, as far as a wait on it can see; none: it runs until it is ended.
  std::optional<DWORD> endsAt;
};

struct ProcessState {
  // Full path of the running program file; empty: GetModuleFileNameA fails.
  std::string modulePath;

  // Lead-byte ranges (first, last) of the active code page; none in a single-byte one.
  std::vector<std::pair<unsigned char, unsigned char>> leadByteRanges;
  // Japanese (Shift-JIS, code page 932), whose second bytes include 0x5C, the backslash.
  void UseShiftJis() { leadByteRanges = {{0x81, 0x9F}, {0xE0, 0xFC}}; }

  // Mutex names are compared exactly, letter case included, as the object manager does.
  std::set<std::string> mutexesHeldElsewhere;  // held by another process
  std::map<std::string, int> openMutexes;      // name -> handles open in this process
  bool MutexExists(const std::string& name) const {
    auto it = openMutexes.find(name);
    return mutexesHeldElsewhere.count(name) != 0 || (it != openMutexes.end() && it->second > 0);
  }
};

// Environment variables; names are compared without regard to letter case.
using Environment = std::map<std::string, std::string, NoCaseLess>;

// The kernel's own state: what GetVersionExA reports, the libraries LoadLibraryA can
// load, the processes that run, the command line and the directories the test sets,
// and the process that runs the program code with its environment. (Some operations on
// the last two belong to other families' headers and are implemented with them:
// GetModuleFileNameA, IsDBCSLeadByte and EnvironmentValue in files.cpp, CreateMutexA in
// programs.cpp.)
struct KernelState {
  VersionInfo version;
  // The program code runs as a 32-bit process on 64-bit Windows (WOW64): IsWow64Process
  // says so, HKLM\SOFTWARE is the 32-bit view unless KEY_WOW64_64KEY asks for the other,
  // device removal fails with ERROR_IN_WOW64 and 64-bit processes' modules cannot be read.
  bool wow64 = false;

  Library& AddLibrary(const std::string& name);
  Library* FindLibrary(const std::string& name);
  Library* LibraryOf(HMODULE module);
  HMODULE ModuleOf(const Library& library) const;
  int LoadedLibraryCount() const;
  std::vector<std::unique_ptr<Library>> libraries;

  Process& AddProcess(const std::string& exe);
  Process* FindProcess(DWORD pid);
  std::deque<Process> processes;  // references stay valid as processes are added
  DWORD nextPid = 0x100;

  std::string commandLine;

  // The Windows and the system directory, as the platform reports them, and the current
  // directory of the process that runs the program code.
  std::string windowsDirectory = "C:\\WINDOWS";
  std::string systemDirectory = "C:\\WINDOWS\\system32";
  std::string currentDirectory = "C:\\";

  // The folders searched, in order, for a program or library named without a directory:
  // the running program's own folder, the current directory, the system directory and
  // the Windows directory for a program; the program's folder, the system and the Windows
  // directory, then the current directory, for a library that is not a known system one.
  std::vector<std::string> ProgramSearchFolders() const;
  std::vector<std::string> LibrarySearchFolders() const;

  // The library LoadLibraryA would load for `fileName`, or null. A library added under a
  // bare name is the system's own, in the system directory; one added under a full path
  // is that file (such as a copy planted beside the program). A full path names exactly
  // one file; a bare name is searched for in LibrarySearchFolders.
  Library* Locate(const std::string& fileName);

  // The process that runs the program code: own path, code page, named mutexes.
  ProcessState self;
  // That process's environment variables.
  Environment environment;
};

// kernel32's IsWow64Process, exported by the machine's KERNEL32.DLL.
BOOL WINAPI IsWow64ProcessExport(HANDLE process, PBOOL wow64);

// A handle on a process, with the rights it was opened with.
struct ProcessObject : HandleObject {
  const char* Kind() const override { return "process"; }
  DWORD pid = 0;
  DWORD access = 0;
};

}  // namespace sim
