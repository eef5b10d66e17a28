// Seeding on the substitute machine: a fresh machine per case, set up the way the
// Windows build finds its own prefix (a drive C with a Windows directory, this program
// running from a bin directory, itself in the process table).
#include <cstdio>
#include <memory>

#include "conformance.h"
#include "platform/services.h"
#include "platform/sim/machine.h"

namespace conf {

bool OnSubstituteMachine() { return true; }

void KnownDivergence(const std::string& reason) {
  std::printf("KNOWN DIVERGENCE: %s\n", reason.c_str());
  ::testing::Test::RecordProperty("known_divergence", reason);
}

namespace seed {
namespace {

constexpr char kOwnPath[] = "C:\\tests\\bin\\conformance_tests.exe";
std::unique_ptr<sim::Machine> machine;
DWORD ownPid = 0;

sim::Machine& M() { return *machine; }

}  // namespace

void Begin() {
  machine = std::make_unique<sim::Machine>();
  M().files.AddDirectory(M().kernel.systemDirectory);
  M().files.AddDirectory(kScratchDir);
  M().files.Put(kOwnPath, "MZ");
  M().kernel.self.modulePath = kOwnPath;
  M().kernel.commandLine = kOwnPath;
  M().desktop.strings[kStringId] = kStringText;
  M().desktop.accelerators.insert(kAcceleratorsId);
  sim::Process& self = M().kernel.AddProcess(kOwnExe);
  self.modules = {kOwnExe, "ntdll.dll", "KERNEL32.dll"};
  ownPid = self.pid;
}

bool End(std::string* report) {
  bool clean = M().Clean(report);
  machine.reset();
  return clean;
}

void MakeDirectory(const std::string& path) { M().files.AddDirectory(path); }

bool WriteBytes(const std::string& path, const std::string& bytes) {
  if (!M().files.HasDirectory(sim::FileSystem::DirectoryOf(path))) return false;
  M().files.Put(path, bytes);
  return true;
}

std::optional<std::string> ReadBytes(const std::string& path) { return M().files.Read(path); }

void SetEnvironment(const std::string& name, const std::string& value) {
  M().kernel.environment[name] = value;
}

DWORD OwnProcessId() { return ownPid; }
std::string OwnExePath() { return kOwnPath; }

bool InstallChild(const std::string& path) {
  if (!WriteBytes(path, "MZ")) return false;
  M().programs.Add(path, [](sim::Machine& m, const std::string& commandLine) {
    m.files.Put(kStartLog, m.files.Read(kStartLog).value_or("") + commandLine + "\n");
    return 0u;
  });
  return true;
}

bool AddDevice(const std::string& instanceId, const std::vector<std::string>& hardwareIds) {
  M().devices.Add(instanceId, hardwareIds, /*present=*/false);
  return true;
}

bool AddService(const std::string& name) {
  M().services.Add(name, SERVICE_STOPPED);
  return true;
}

bool AddStartableService(const std::string& name) {
  sim::Service& service = M().services.Add(name, SERVICE_STOPPED);
  service.startPendingPolls = 2;
  service.stopPendingPolls = 2;
  return true;
}

}  // namespace seed
}  // namespace conf
