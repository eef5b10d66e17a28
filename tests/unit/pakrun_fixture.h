// A substitute machine set up as Pakrun finds Windows: TEMP and SystemRoot set, their
// directories present, the INF installer in place, and a settings file to fill.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "sim_test.h"

constexpr char kSettingsPath[] = "C:\\Setup\\Pakrun.ini";
constexpr char kInstallerPath[] = "C:\\WINDOWS\\System32\\rundll32.exe";
constexpr char kStaticInf[] = "C:\\TEMP\\StaticAddDel.inf";
constexpr char kDriverInf[] = "C:\\TEMP\\DriverAddDel.inf";
constexpr char kNetClass[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
// The adapter's hardware ID and the network class's GUID.
constexpr char kAdapterId[] = "PCI\\VEN_1D4A&DEV_0301&SUBSYS_00011D4A";
constexpr char kGuid[] = "{4D36E972-E325-11CE-BFC1-08002BE10318}";

class PakrunTest : public SimTest {
 protected:
  // The runner's own rules: a mutex that only names the instance (no security attributes,
  // not owned), and the devices of this machine only.
  void TearDown() override {
    ExpectEveryCall("CreateMutexA", "attributes", "none");
    ExpectEveryCall("CreateMutexA", "owned", "no");
    ExpectEveryCall("SetupDiGetClassDevsExA", "machine", "local");
    SimTest::TearDown();
  }

  void SetUp() override {
    machine.kernel.environment["TEMP"] = "C:\\TEMP";
    machine.kernel.environment["SystemRoot"] = "C:\\WINDOWS";
    machine.files.AddDirectory("C:\\TEMP");
    machine.files.AddDirectory("C:\\WINDOWS\\System32");
    machine.files.AddDirectory("C:\\Setup");
    AddInstaller();
  }

  // The INF installer, which also keeps the text of each INF it was given.
  void AddInstaller() {
    machine.programs.Add(kInstallerPath, [this](sim::Machine& m, const std::string& line) {
      std::string path = line.substr(line.rfind(' ') + 1);
      installed.push_back(m.files.Read(path).value_or("<missing>"));
      return sim::InfInstaller()(m, line);
    });
  }

  // Writes the settings file, one line per text, lines ended by CRLF.
  void Settings(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    machine.files.Put(kSettingsPath, text);
  }

  static std::string Crlf(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
  }

  std::vector<std::string> installed;  // text of every INF the installer was given
};
