// Runs cut short on the substitute machine: a program ended after its k-th operation,
// by TerminateProcess or by a power cut, and the whole-machine snapshots that compare two
// moments.
#include <cstring>
#include <optional>
#include <string>

#include "platform/files.h"
#include "platform/programs.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/sim/snapshot.h"
#include "sim_test.h"

namespace {

constexpr char kOut[] = "C:\\out.txt";
constexpr char kChild[] = "C:\\child.exe";

// Releases a service handle when it goes, as the programs' owners do.
struct ServiceOwner {
  SC_HANDLE handle;
  ~ServiceOwner() {
    if (handle != nullptr) CloseServiceHandle(handle);
  }
};

// Ten operations, each with an effect of its own: 1 open the manager, 2 open "Svc", 3 ask
// it to start (it stays start pending), 4 and 5 close both handles (the owners, at the end
// of their scope), 6 create a mutex, 7 open a text stream, 8 write 5000 characters to it
// in one call (a line feed after every 49), 9 start the child without waiting, 10 create
// a registry key. It ends holding the mutex, the stream and the child's handles.
void Program() {
  {
    ServiceOwner manager{OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT)};
    ServiceOwner service{OpenServiceA(manager.handle, "Svc", SERVICE_START)};
    StartServiceA(service.handle, 0, nullptr);
  }
  CreateMutexA(nullptr, FALSE, "Sweep");
  TextStream* stream = OpenTextStream(kOut, "wt");
  std::string text;
  for (int i = 0; i < 100; ++i) text += std::string(49, 'x') + "\n";
  WriteTextStream(stream, "%s", text.c_str());
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started;
  char line[] = "C:\\child.exe";
  CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started);
  HKEY key = nullptr;
  RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\After", &key);
}

struct Case {
  int after;
  sim::Ending how;
  bool cut;                   // ended before it ended by itself
  DWORD service;              // "Svc" afterwards
  std::optional<std::size_t> outBytes;  // the file's size, none: no file
  bool childRan;
  bool keyMade;
};

class RunEnded : public SimTest, public ::testing::WithParamInterface<Case> {};

TEST_P(RunEnded, NothingAfterTheOperationRunsAndTheProcessLeavesNothingOpen) {
  const Case& c = GetParam();
  machine.services.Add("Svc", SERVICE_STOPPED).startPendingPolls = 3;
  machine.services.Add("Auto", SERVICE_RUNNING);
  machine.files.AddDirectory("C:\\");
  machine.registry.Create("HKLM\\SOFTWARE");
  machine.registry.Create("HKLM\\SOFTWARE\\Record", true);
  machine.programs.Add(kChild, [](sim::Machine& m, const std::string&) {
    m.registry.SetDword("HKLM\\SOFTWARE\\Child", "Ran", 1);
    return 7u;
  });

  EXPECT_EQ(c.cut, machine.RunEndedAfter(c.after, c.how, Program));

  EXPECT_EQ(c.after, machine.ProgramOperations());
  EXPECT_FALSE(machine.BeingEnded());
  EXPECT_EQ(c.service, machine.services.Find("Svc")->state);
  // A service that starts with the system runs after a restart as before.
  EXPECT_EQ(DWORD{SERVICE_RUNNING}, machine.services.Find("Auto")->state);
  const std::optional<std::string> out = machine.files.Read(kOut);
  EXPECT_EQ(c.outBytes, out ? std::optional<std::size_t>(out->size()) : std::nullopt);
  EXPECT_EQ(c.childRan, machine.registry.HasKey("HKLM\\SOFTWARE\\Child"));
  EXPECT_EQ(c.keyMade, machine.registry.HasKey("HKLM\\SOFTWARE\\After"));
  // A volatile key lives until a restart.
  EXPECT_EQ(c.how == sim::Ending::kEnded, machine.registry.HasKey("HKLM\\SOFTWARE\\Record"));
  // Its mutex went with it, and the child, which ran or died, runs no more.
  EXPECT_FALSE(machine.kernel.self.MutexExists("Sweep"));
  for (const sim::Process& process : machine.kernel.processes) EXPECT_FALSE(process.running) << process.exe;
  EXPECT_TRUE(machine.files.openStreams.empty());
  // SimTest's TearDown: no handle left open, no library loaded, nothing misused.
}

// Of the 5000 characters written, the C runtime had written out one full buffer of 4096,
// with its 81 line feeds as CR LF: 4177 bytes. A run ended after its last operation
// leaves the same.
const Case kCases[] = {
    {2, sim::Ending::kEnded, true, SERVICE_STOPPED, std::nullopt, false, false},
    {3, sim::Ending::kEnded, true, SERVICE_RUNNING, std::nullopt, false, false},
    {3, sim::Ending::kPowerCut, true, SERVICE_STOPPED, std::nullopt, false, false},
    {7, sim::Ending::kEnded, true, SERVICE_RUNNING, 0u, false, false},
    {8, sim::Ending::kPowerCut, true, SERVICE_STOPPED, 4177u, false, false},
    {9, sim::Ending::kEnded, true, SERVICE_RUNNING, 4177u, true, false},
    {9, sim::Ending::kPowerCut, true, SERVICE_STOPPED, 4177u, false, false},
    {10, sim::Ending::kEnded, false, SERVICE_RUNNING, 4177u, true, true},
};

INSTANTIATE_TEST_SUITE_P(Ending, RunEnded, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& param) {
                           return std::string(param.param.how == sim::Ending::kEnded ? "Ended" : "PowerCut") +
                                  "After" + std::to_string(param.param.after);
                         });

using RunCutShort = SimTest;

// Ended after the open, the next operation is the release an owner makes as its scope
// ends normally: a throw there would end the test program, so the release fails without
// effect and the program is ended at the operation after it.
TEST_F(RunCutShort, AReleaseInADestructorFailsAndTheNextOperationEndsTheProgram) {
  machine.services.Add("Svc", SERVICE_STOPPED);
  bool reachedTheMutex = false;
  EXPECT_TRUE(machine.RunEndedAfter(1, sim::Ending::kEnded, [&] {
    { ServiceOwner manager{OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT)}; }
    reachedTheMutex = true;
    CreateMutexA(nullptr, FALSE, "Sweep");
  }));
  EXPECT_TRUE(reachedTheMutex);
  EXPECT_EQ(std::vector<std::string>{"Ended process after 1 operations"}, machine.Events());
  EXPECT_EQ(0, machine.Calls("CreateMutexA"));
}

TEST_F(RunCutShort, SnapshotsListWhatWasAddedRemovedAndChanged) {
  machine.registry.SetDword("HKLM\\SOFTWARE\\A", "Kept", 1);
  machine.registry.SetDword("HKLM\\SOFTWARE\\A", "Changed", 1);
  machine.registry.SetDword("HKLM\\SOFTWARE\\A", "Gone", 1);
  machine.files.Put("C:\\f.txt", "a\r\n");
  machine.services.Add("Svc", SERVICE_RUNNING);
  machine.devices.Add("PCI\\VEN_1D4A\\1", {"PCI\\VEN_1D4A"});
  sim::Process& process = machine.kernel.AddProcess("Linkdesk.exe");
  const sim::Snapshot before = sim::TakeSnapshot(machine);
  EXPECT_TRUE(sim::Differences(before, sim::TakeSnapshot(machine)).empty());

  machine.registry.SetDword("HKLM\\SOFTWARE\\A", "Changed", 2);
  machine.registry.DeleteValue("HKLM\\SOFTWARE\\A", "Gone");
  machine.registry.SetString("HKLM\\SOFTWARE\\B", "New", "t");
  machine.files.Put("C:\\f.txt", "b\r\n");
  machine.services.Find("Svc")->state = SERVICE_STOP_PENDING;
  machine.devices.devices.front().present = false;
  process.running = false;
  // In the order of the entries' names.
  const std::vector<std::string> expected = {
      "~ device PCI\\VEN_1D4A\\1: present -> absent",
      "~ file C:\\f.txt: a\\x0D\\x0A -> b\\x0D\\x0A",
      "+ key HKLM\\SOFTWARE\\B",
      "- process " + std::to_string(process.pid) + " Linkdesk.exe = running",
      "~ service Svc: running -> stop pending",
      "~ value HKLM\\SOFTWARE\\A\\Changed: dword:1 -> dword:2",
      "- value HKLM\\SOFTWARE\\A\\Gone = dword:1",
      "+ value HKLM\\SOFTWARE\\B\\New = sz:\"t\\x00\"",
  };
  EXPECT_EQ(expected, sim::Differences(before, sim::TakeSnapshot(machine)));
}

}  // namespace
