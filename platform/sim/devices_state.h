// The substitute machine's device-installation database: installed devices with their
// class, instance ID, hardware-ID list (raw bytes as the property reports them, so that
// a malformed list can be seeded, and a list that changes between two reads scripted),
// driver key name, whether they are present now, and whether their removal fails.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace sim {

constexpr char kNetClassGuid[] = "{4D36E972-E325-11CE-BFC1-08002BE10318}";

struct Device {
  std::uint32_t devInst = 0;  // the device node, unique for the machine's lifetime
  std::string instanceId;
  // The device manager reports instance IDs in upper case. A test of a program's own
  // case rule may have one reported exactly as seeded, which no real machine does.
  bool instanceIdAsSeeded = false;
  std::string classGuid = kNetClassGuid;
  std::optional<std::vector<unsigned char>> hardwareIds;  // none: the property is missing
  // The property as it changes while a program reads it: after each read of the hardware
  // IDs, the first of these takes its place (as when the device is re-configured between
  // asking for the size and reading the list).
  std::vector<std::vector<unsigned char>> hardwareIdsLater;
  std::uint32_t hardwareIdError = 0;  // reading the hardware IDs fails with this error
  // The size a read of the hardware IDs asks for, where it is above the list's own: a list
  // larger than the program can allocate.
  std::uint32_t hardwareIdSizeAsked = 0;
  std::optional<std::string> driver;  // driver key name, such as "{...}\0001"
  bool driverUnterminated = false;    // stored without its terminator, as a registry text may be
  bool present = true;
  bool removeFails = false;
  bool appearsOnReenumerate = false;  // becomes present when the tree is re-enumerated
  bool removed = false;
};

class DeviceDatabase {
 public:
  // Adds an installed device; its hardware-ID list is the texts, each ended by a zero,
  // and a final zero.
  Device& Add(const std::string& instanceId, const std::vector<std::string>& hardwareIds,
              bool present = true);
  static std::vector<unsigned char> MultiSz(const std::vector<std::string>& texts);
  Device* Find(std::uint32_t devInst);
  Device* FindByInstanceId(const std::string& instanceId);
  bool Installed(const std::string& instanceId) { return FindByInstanceId(instanceId) != nullptr; }

  std::deque<Device> devices;  // references stay valid; removed ones are only marked
  int reenumerations = 0;

 private:
  static constexpr std::uint32_t kFirstDevInst = 0x10;
  std::uint32_t nextDevInst_ = kFirstDevInst;
};

}  // namespace sim
