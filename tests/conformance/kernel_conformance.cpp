// Version information, the Windows and system directories, named mutexes, libraries
// loaded by name, and starting, waiting for, listing and ending processes.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "conformance.h"
#include "platform/files.h"
#include "platform/proclist.h"
#include "platform/programs.h"

namespace {

CONFORMANCE_SUITE(KernelConformance);
CONFORMANCE_SUITE(ProcessConformance);

TEST_F(KernelConformance, VersionAgreesWithVersionEx) {
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  DWORD version = GetVersion();
  EXPECT_EQ(version & 0xFFu, info.dwMajorVersion);
  EXPECT_EQ((version >> 8) & 0xFFu, info.dwMinorVersion);
  EXPECT_EQ(version & 0x80000000u, 0u);  // bit 31 clear in the NT family
  EXPECT_EQ(version >> 16, info.dwBuildNumber & 0x7FFFu);
}

TEST_F(KernelConformance, VersionExRefusesWrongSize) {
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info - 1;
  SetLastError(0);
  EXPECT_FALSE(GetVersionExA(&info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

// Length without terminator when it fits; otherwise the size needed, terminator
// included. The system directory lies below the Windows directory.
TEST_F(KernelConformance, DirectoryBufferRules) {
  using Getter = UINT(WINAPI*)(LPSTR, UINT);
  std::string windows;
  for (Getter get : {static_cast<Getter>(&GetWindowsDirectoryA),
                     static_cast<Getter>(&GetSystemDirectoryA)}) {
    char buffer[MAX_PATH];
    UINT length = get(buffer, sizeof buffer);
    ASSERT_GT(length, 3u);
    EXPECT_EQ(length, std::strlen(buffer));
    EXPECT_EQ(get(buffer, length), length + 1);
    EXPECT_EQ(get(nullptr, 0), length + 1);
    EXPECT_EQ(get(buffer, length + 1), length);
    if (windows.empty()) {
      windows = buffer;
    } else {
      EXPECT_EQ(std::string(buffer).rfind(windows + "\\", 0), 0u) << buffer;
    }
  }
}

// A second create of the same name gives a handle and ERROR_ALREADY_EXISTS; names are
// compared exactly; once every handle is closed the name is free again.
TEST_F(KernelConformance, NamedMutexExistence) {
  const char* name = "ConformanceSingleInstance";
  SetLastError(1234);
  MutexHandle first(CreateMutexA(nullptr, FALSE, name));
  ASSERT_TRUE(first.valid());
  EXPECT_EQ(GetLastError(), 0u);
  MutexHandle second(CreateMutexA(nullptr, FALSE, name));
  ASSERT_TRUE(second.valid());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  MutexHandle otherCase(CreateMutexA(nullptr, FALSE, "conformancesingleinstance"));
  ASSERT_TRUE(otherCase.valid());
  EXPECT_EQ(GetLastError(), 0u);
  first.reset();
  second.reset();
  MutexHandle again(CreateMutexA(nullptr, FALSE, name));
  ASSERT_TRUE(again.valid());
  EXPECT_EQ(GetLastError(), 0u);
}

TEST_F(KernelConformance, LibraryByNameAndItsEntryPoints) {
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA("conformance_missing.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  // By name, and by its full path in the system directory.
  char system[MAX_PATH] = {};
  UINT length = GetSystemDirectoryA(system, sizeof system);
  ASSERT_TRUE(length > 0 && length < sizeof system);
  const std::string fullPath = std::string(system) + "\\PSAPI.DLL";
  for (const char* name : {"PSAPI.DLL", "psapi.dll", "psapi", fullPath.c_str()}) {
    SCOPED_TRACE(name);
    LibraryHandle library(LoadLibraryA(name));
    ASSERT_TRUE(library.valid());
    EXPECT_NE(GetProcAddress(library.get(), "EnumProcesses"), nullptr);
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(library.get(), "enumprocesses"), nullptr);  // exact names
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  }
}

TEST_F(KernelConformance, OpenProcessOfUnknownIdIsInvalidParameter) {
  SetLastError(0);
  EXPECT_EQ(OpenProcess(PROCESS_TERMINATE, FALSE, 0x7FFFFFF0u), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// --- starting programs -------------------------------------------------------------

constexpr char kChildDir[] = "C:\\CONFTEST\\With Blank";
constexpr char kChild[] = "C:\\CONFTEST\\With Blank\\child prog.exe";

bool Start(std::string commandLine, PROCESS_INFORMATION* process) {
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  std::memset(process, 0, sizeof *process);
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, process) != FALSE;
}

// A quoted path with a blank starts that program with the command line as given; the
// wait returns once it has done its work.
TEST_F(ProcessConformance, QuotedPathStartsProgramAndWaitSeesItsWork) {
  conf::seed::MakeDirectory(kChildDir);
  ASSERT_TRUE(conf::seed::InstallChild(kChild));
  std::string line = std::string("\"") + kChild + "\" /s \"C:\\x y.reg\"";
  PROCESS_INFORMATION process;
  ASSERT_TRUE(Start(line, &process));
  ProcessHandle processHandle(process.hProcess);
  ProcessHandle threadHandle(process.hThread);
  EXPECT_NE(process.dwProcessId, 0u);
  EXPECT_EQ(WaitForSingleObject(process.hProcess, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(conf::seed::ReadBytes(conf::kStartLog).value_or("?"), line + "\n");
}

TEST_F(ProcessConformance, MissingProgramIsFileNotFound) {
  PROCESS_INFORMATION process;
  SetLastError(0);
  EXPECT_FALSE(Start("\"C:\\CONFTEST\\missing.exe\" /x", &process));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// An ended program does no more work; the wait for it returns at once.
TEST_F(ProcessConformance, TerminatedProgramDoesNoMoreWork) {
  conf::seed::MakeDirectory(kChildDir);
  ASSERT_TRUE(conf::seed::InstallChild(kChild));
  PROCESS_INFORMATION process;
  ASSERT_TRUE(Start(std::string("\"") + kChild + "\" wait", &process));
  ProcessHandle processHandle(process.hProcess);
  ProcessHandle threadHandle(process.hThread);
  ProcessHandle ender(OpenProcess(PROCESS_TERMINATE, FALSE, process.dwProcessId));
  ASSERT_TRUE(ender.valid());
  EXPECT_TRUE(TerminateProcess(ender.get(), 7));
  EXPECT_EQ(WaitForSingleObject(process.hProcess, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_FALSE(conf::seed::ReadBytes(conf::kStartLog));
}

TEST_F(ProcessConformance, TerminateNeedsTheRight) {
  ProcessHandle query(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, conf::seed::OwnProcessId()));
  ASSERT_TRUE(query.valid());
  SetLastError(0);
  EXPECT_FALSE(TerminateProcess(query.get(), 1));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// --- process listing -----------------------------------------------------------------

TEST_F(ProcessConformance, RecordSizes) {
#if defined(_WIN64) || (!defined(_WIN32) && UINTPTR_MAX > 0xFFFFFFFFu)
  // 64-bit: pointer-sized members and their alignment widen both records.
  EXPECT_EQ(sizeof(PROCESSENTRY32), 304u);
  EXPECT_EQ(sizeof(MODULEENTRY32), 568u);
#else
  EXPECT_EQ(sizeof(PROCESSENTRY32), 296u);
  EXPECT_EQ(sizeof(MODULEENTRY32), 548u);
#endif
}

struct Psapi {
  LibraryHandle library{LoadLibraryA("PSAPI.DLL")};
  EnumProcessesFn enumProcesses = EntryPoint<EnumProcessesFn>(library.get(), "EnumProcesses");
  EnumProcessModulesFn enumModules =
      EntryPoint<EnumProcessModulesFn>(library.get(), "EnumProcessModules");
  GetModuleBaseNameAFn baseName = EntryPoint<GetModuleBaseNameAFn>(library.get(), "GetModuleBaseNameA");
};

TEST_F(ProcessConformance, EnumProcessesListsOwnProcessAndFillsSmallBuffer) {
  Psapi psapi;
  ASSERT_TRUE(psapi.enumProcesses && psapi.enumModules && psapi.baseName);
  DWORD ids[1024];
  DWORD bytes = 0;
  ASSERT_TRUE(psapi.enumProcesses(ids, sizeof ids, &bytes));
  EXPECT_EQ(bytes % sizeof(DWORD), 0u);
  DWORD count = static_cast<DWORD>(bytes / sizeof(DWORD));
  EXPECT_NE(std::find(ids, ids + count, conf::seed::OwnProcessId()), ids + count);
  DWORD one[1];
  ASSERT_TRUE(psapi.enumProcesses(one, sizeof one, &bytes));  // no error when it is full
  EXPECT_EQ(bytes, sizeof one);
}

TEST_F(ProcessConformance, FirstModuleIsTheExecutableWithItsOnDiskCase) {
  Psapi psapi;
  ASSERT_TRUE(psapi.enumModules && psapi.baseName);
  ProcessHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                                    conf::seed::OwnProcessId()));
  ASSERT_TRUE(process.valid());
  HMODULE first = nullptr;
  DWORD needed = 0;
  // Room for one handle: that one is filled, the size of all is reported.
  ASSERT_TRUE(psapi.enumModules(process.get(), &first, sizeof first, &needed));
  EXPECT_GT(needed, sizeof first);
  EXPECT_EQ(needed % sizeof(HMODULE), 0u);
  char name[MAX_PATH];
  DWORD length = psapi.baseName(process.get(), first, name, sizeof name);
  EXPECT_EQ(length, std::strlen(conf::kOwnExe));
  EXPECT_STREQ(name, conf::kOwnExe);
  std::memset(name, 'x', sizeof name);
  // Too small a buffer: filled with the start of the name, without terminator.
  EXPECT_EQ(psapi.baseName(process.get(), first, name, 5), 5u);
  EXPECT_EQ(std::string(name, 6), std::string(conf::kOwnExe, 5) + 'x');
}

TEST_F(ProcessConformance, EnumProcessModulesNeedsQueryAndReadRights) {
  Psapi psapi;
  ASSERT_TRUE(psapi.enumModules);
  ProcessHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, conf::seed::OwnProcessId()));
  ASSERT_TRUE(process.valid());
  HMODULE modules[8];
  DWORD needed = 0;
  SetLastError(0);
  EXPECT_FALSE(psapi.enumModules(process.get(), modules, sizeof modules, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

struct Toolhelp {
  LibraryHandle library{LoadLibraryA("Kernel32.DLL")};
  CreateToolhelp32SnapshotFn snapshot =
      EntryPoint<CreateToolhelp32SnapshotFn>(library.get(), "CreateToolhelp32Snapshot");
  Process32FirstFn processFirst = EntryPoint<Process32FirstFn>(library.get(), "Process32First");
  Process32NextFn processNext = EntryPoint<Process32NextFn>(library.get(), "Process32Next");
  Module32FirstFn moduleFirst = EntryPoint<Module32FirstFn>(library.get(), "Module32First");
  Module32NextFn moduleNext = EntryPoint<Module32NextFn>(library.get(), "Module32Next");
};

TEST_F(ProcessConformance, ToolhelpWalkFindsOwnProcessAndEnds) {
  Toolhelp toolhelp;
  ASSERT_TRUE(toolhelp.snapshot && toolhelp.processFirst && toolhelp.processNext);
  SnapshotHandle snapshot(toolhelp.snapshot(TH32CS_SNAPPROCESS, 0));
  ASSERT_TRUE(snapshot.valid());
  PROCESSENTRY32 entry;
  std::memset(&entry, 0, sizeof entry);
  entry.dwSize = sizeof entry;
  bool foundSelf = false;
  int count = 0;
  for (BOOL more = toolhelp.processFirst(snapshot.get(), &entry); more;
       more = toolhelp.processNext(snapshot.get(), &entry)) {
    ++count;
    if (entry.th32ProcessID == conf::seed::OwnProcessId()) {
      foundSelf = true;
      EXPECT_STREQ(entry.szExeFile, conf::kOwnExe);
    }
  }
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(foundSelf);
  EXPECT_GE(count, 1);
  // First starts the walk over.
  EXPECT_TRUE(toolhelp.processFirst(snapshot.get(), &entry));
}

TEST_F(ProcessConformance, ToolhelpModuleWalkOfOwnProcessStartsWithExecutable) {
  Toolhelp toolhelp;
  ASSERT_TRUE(toolhelp.snapshot && toolhelp.moduleFirst && toolhelp.moduleNext);
  SnapshotHandle snapshot(toolhelp.snapshot(TH32CS_SNAPMODULE, conf::seed::OwnProcessId()));
  ASSERT_TRUE(snapshot.valid());
  MODULEENTRY32 entry;
  std::memset(&entry, 0, sizeof entry);
  entry.dwSize = sizeof entry;
  ASSERT_TRUE(toolhelp.moduleFirst(snapshot.get(), &entry));
  EXPECT_STREQ(entry.szModule, conf::kOwnExe);
  EXPECT_EQ(entry.th32ProcessID, conf::seed::OwnProcessId());
  int count = 1;
  while (toolhelp.moduleNext(snapshot.get(), &entry)) ++count;
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_GE(count, 2);
}

// A record whose size field is too small is refused.
TEST_F(ProcessConformance, ToolhelpRefusesShortRecord) {
  Toolhelp toolhelp;
  ASSERT_TRUE(toolhelp.snapshot && toolhelp.processFirst);
  SnapshotHandle snapshot(toolhelp.snapshot(TH32CS_SNAPPROCESS, 0));
  ASSERT_TRUE(snapshot.valid());
  PROCESSENTRY32 entry;
  std::memset(&entry, 0, sizeof entry);
  entry.dwSize = sizeof entry - 4;
  EXPECT_FALSE(toolhelp.processFirst(snapshot.get(), &entry));
}

}  // namespace
