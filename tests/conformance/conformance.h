// Shared base of the conformance cases. One source runs twice: natively on the
// substitute machine (a fresh machine per case, which must end with nothing left open)
// and for Windows against the real API under Wine. Each case seeds its state through
// the API itself; where the API has no way to seed something (a device, a service, a
// program to start), the helpers below do it, implemented once per build.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/kernel.h"

namespace conf {

// Scratch directory on drive C and scratch key below HKEY_CURRENT_USER; both start out
// empty for every case and are removed after it.
constexpr char kScratchDir[] = "C:\\CONFTEST";
constexpr char kScratchKey[] = "Software\\ConformanceScratch";
// File name of this test program, as the process table and the module lists give it.
constexpr char kOwnExe[] = "conformance_tests.exe";
// Every start of the stand-in program appends its command line and a line feed here.
constexpr char kStartLog[] = "C:\\CONFTEST\\started.txt";
// The program's resources (conformance.rc): a string, an accelerator table, a dialog.
constexpr unsigned kStringId = 100;
constexpr char kStringText[] = "Conformance text";
constexpr unsigned kAcceleratorsId = 200;

// True in the native build.
bool OnSubstituteMachine();

// A behaviour that Wine cannot show the way Windows has it. Printed and recorded as a
// test property, so that it is never a silent pass; the caller then checks what the
// build at hand really does.
void KnownDivergence(const std::string& reason);

namespace seed {
void Begin();
// Removes what the case left; false (with the reason) when something stayed open.
bool End(std::string* report);

void MakeDirectory(const std::string& path);
bool WriteBytes(const std::string& path, const std::string& bytes);
std::optional<std::string> ReadBytes(const std::string& path);
// A process environment variable, as the C runtime sees it.
void SetEnvironment(const std::string& name, const std::string& value);

// This process: its id, and the full path of its program file.
DWORD OwnProcessId();
std::string OwnExePath();

// Places the stand-in program at `path`. Started, it appends its command line to
// kStartLog; with the word "wait" on its command line it first waits 20 seconds.
bool InstallChild(const std::string& path);

// A device of the network class, registered but not started (not present).
bool AddDevice(const std::string& instanceId, const std::vector<std::string>& hardwareIds);
// A stopped service whose program does not exist.
bool AddService(const std::string& name);
// A stopped service that can be started and stopped; each takes about 300 ms, during
// which it reports the pending state.
bool AddStartableService(const std::string& name);
}  // namespace seed

class Conformance : public ::testing::Test {
 protected:
  void SetUp() override { seed::Begin(); }
  void TearDown() override {
    std::string report;
    EXPECT_TRUE(seed::End(&report)) << report;
  }
};

}  // namespace conf

// One fixture per family, so each suite carries its family's name in both builds.
#define CONFORMANCE_SUITE(name) \
  class name : public ::conf::Conformance {}
