// A substitute machine as Scrubnet finds Windows: the Windows and system directories,
// the chipset's driver files, its driver keys and its devices, seeded per test.
#pragma once

#include <string>
#include <vector>

#include "sim_test.h"

constexpr char kW[] = "C:\\WINDOWS";
constexpr char kS[] = "C:\\WINDOWS\\system32";
constexpr char kNtClassKey[] =
    "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr char k9xClassKey[] = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Class\\Net";
constexpr char kEnumPciKey[] = "HKLM\\Enum\\PCI";
constexpr char kCatRoot[] = "\\CatRoot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\";

class ScrubnetTest : public SimTest {
 protected:
  void UseNt() { machine.kernel.version = sim::VersionInfo{5, 1, 2600, VER_PLATFORM_WIN32_NT, "Service Pack 3"}; }
  void Use9x() { machine.kernel.version = sim::VersionInfo{4, 10, 2222, VER_PLATFORM_WIN32_WINDOWS, " A "}; }

  void TearDown() override {
    // Whatever was deleted was deleted by a full path (on a drive or a share) that climbs
    // nowhere.
    for (const std::string& path : Deleted()) {
      const bool onDrive = path.size() > 3 && path[1] == ':' && path[2] == '\\';
      EXPECT_TRUE(onDrive || path.rfind("\\\\", 0) == 0) << "not a full path: " << path;
      EXPECT_EQ(std::string::npos, path.find("\\..")) << path;
    }
    SimTest::TearDown();
  }

  // Paths as the program builds them on the machine's directories.
  std::string Inf(const std::string& name) const { return machine.kernel.windowsDirectory + "\\inf\\" + name; }
  std::string Cat(const std::string& name) const { return machine.kernel.systemDirectory + kCatRoot + name; }
  std::string InfOther() const { return machine.kernel.windowsDirectory + "\\inf\\other\\KorvellNET7403.inf"; }
  std::string InfInternet() const {
    return machine.kernel.windowsDirectory + "\\inf\\internet\\KorvellNET7403.inf";
  }
  std::string ChipsetInf() const { return Inf("net7403.inf"); }
  std::string NtDriver() const { return machine.kernel.windowsDirectory + "\\system32\\drivers\\kv7403.sys"; }
  std::string Win9xDriver() const {
    return machine.kernel.windowsDirectory + "\\system32\\drivers\\kv74039x.sys";
  }
  std::string Win9xOptionsDriver() const {
    return machine.kernel.windowsDirectory + "\\OPTIONS\\INSTALL\\kv74039x.sys";
  }
  // The installed INF "oemN.inf", its PNF and its CAT.
  std::vector<std::string> InstalledInf(const std::string& base) const {
    return {Inf(base + ".inf"), Inf(base + ".PNF"), Cat(base + ".CAT")};
  }
  // Every fixed-name file either family may delete.
  std::vector<std::string> FixedFiles() const {
    return {NtDriver(), Win9xDriver(), Win9xOptionsDriver(), InfOther(), ChipsetInf(), InfInternet()};
  }

  void Put(const std::string& path) { machine.files.Put(path, "x"); }
  void Put(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) Put(path);
  }
  bool Has(const std::string& path) { return machine.files.Exists(path); }

  // A driver key `sub` below `classKey` with its identifying value (`idName`) and,
  // unless empty, its "InfPath".
  void DriverKey(const std::string& classKey, const std::string& sub, const std::string& idName,
                 const std::string& id, const std::string& infPath) {
    std::string path = classKey + "\\" + sub;
    machine.registry.SetString(path, idName, id);
    if (!infPath.empty()) machine.registry.SetString(path, "InfPath", infPath);
    // Driver keys have keys of their own below them.
    machine.registry.SetString(path + "\\Ndi", "Service", "KV7403");
  }
  void NtKey(const std::string& sub, const std::string& id, const std::string& infPath) {
    DriverKey(kNtClassKey, sub, "ComponentId", id, infPath);
  }
  void Key9x(const std::string& sub, const std::string& id, const std::string& infPath) {
    DriverKey(k9xClassKey, sub, "MatchingDeviceId", id, infPath);
  }
  void EnumKey(const std::string& name) {
    machine.registry.SetString(std::string(kEnumPciKey) + "\\" + name + "\\3&13c0b0c5&0&40",
                               "Driver", "Net\\0000");
  }
  bool HasKey(const std::string& path) { return machine.registry.HasKey(path); }

  sim::Device& NetDevice(const std::string& instanceId, bool present = true) {
    return machine.devices.Add(instanceId, {instanceId.substr(0, instanceId.rfind('\\'))}, present);
  }
  bool Installed(const std::string& instanceId) { return machine.devices.Installed(instanceId); }

  // Paths of the files deleted, in order.
  std::vector<std::string> Deleted() const {
    std::vector<std::string> paths;
    for (const sim::Event& event : machine.EventRecords()) {
      if (event.kind == "DeleteFile") paths.push_back(event.subject);
    }
    return paths;
  }
};
