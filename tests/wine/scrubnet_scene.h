// The chipset's driver as a machine has it installed, for runs of the driver remover: two
// chipset devices and one of another vendor, driver keys of both families with the INF,
// PNF and CAT files they name, Enum\PCI keys, and the fixed-name driver files and copies.
// Seeded and inspected with the test program's own view of system32 and HKLM\SOFTWARE.
#pragma once

#include <string>
#include <vector>

namespace wt {

using Strings = std::vector<std::string>;

inline const std::string kNtClassKey =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
inline const std::string k9xClassKey = "SYSTEM\\CurrentControlSet\\Services\\Class\\Net";
inline const std::string kEnumPciKey = "Enum\\PCI";
// The installed INF files the driver keys name: oem70 to oem72 from the NT class key,
// oem73 to oem75 from the 9x one.
inline const char* const kInfBases[] = {"oem70", "oem71", "oem72", "oem73", "oem74", "oem75"};

// Two adjacent chipset devices and one of another vendor, all in the network class.
inline const Strings kChipsetDevices = {
    "PCI\\VEN_1D4A&DEV_7403&SUBSYS_00011D4A&REV_01\\4&2A5F3C1E&0&00E1",
    "PCI\\VEN_1D4A&DEV_7404&SUBSYS_00011D4A&REV_01\\4&2A5F3C1E&0&00E2"};
inline const std::string kOtherDevice = "PCI\\VEN_8086&DEV_1229&SUBSYS_00018086&REV_08\\3&61AAA01&0&0040";

class ScrubnetScene {
 public:
  // The devices and every fixed-name file either family may delete, after clearing what
  // an earlier run left. Fails the running test (fatally) when a part cannot be made.
  void Seed();
  // Leaves no device, key or file of the scene behind for the next test.
  void Clear();

  std::string Inf(const std::string& name) const { return windows_ + "\\inf\\" + name; }
  std::string Cat(const std::string& name) const {
    return system_ + "\\CatRoot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\" + name;
  }
  std::string NtDriver() const { return windows_ + "\\system32\\drivers\\kv7403.sys"; }
  Strings NineXCopies() const;
  Strings FixedFiles() const;
  Strings InstalledInf(const std::string& base) const {
    return {Inf(base + ".inf"), Inf(base + ".PNF"), Cat(base + ".CAT")};
  }

  // A driver key with its identifying value, its "InfPath", a key below it, and the
  // installed INF files it names, the PNF written in lower case.
  void DriverKey(const std::string& classKey, const std::string& sub, const std::string& idName,
                 const std::string& id, const std::string& base);
  // The key Enum\PCI\<name>\4&2A5F3C1E&0&00E1 with a "Driver" value.
  void EnumKey(const std::string& name);

 protected:
  std::string windows_;
  std::string system_;
};

}  // namespace wt
