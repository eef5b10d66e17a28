// Removal of the chipset's present device instances through the class installer.
#include <cstring>

#include "platform/devices.h"
#include "scrubnet/chipset.h"
#include "common/text.h"
#include "scrubnet/scrubnet.h"

namespace {

// The network adapter setup class (GUID_DEVCLASS_NET).
const GUID kNetClass = {0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

constexpr DWORD kInstanceIdCapacity = 260;

}  // namespace

void RemoveChipsetDevices() {
  DeviceInfoList devices(SetupDiGetClassDevsA(&kNetClass, nullptr, nullptr, DIGCF_PRESENT));
  if (!devices) return;
  SP_DEVINFO_DATA member;
  // The index advances after every member, removed or not: the list keeps a removed
  // device's entry.
  for (DWORD index = 0;; ++index) {
    std::memset(&member, 0, sizeof member);
    member.cbSize = sizeof member;
    if (!SetupDiEnumDeviceInfo(devices.get(), index, &member)) break;
    char instanceId[kInstanceIdCapacity] = {};
    if (!SetupDiGetDeviceInstanceIdA(devices.get(), &member, instanceId, sizeof instanceId,
                                     nullptr))
      continue;
    if (BeginsWith(instanceId, DeviceIdPrefix, kDeviceIdPrefixLength, LetterCase::kExact))
      SetupDiCallClassInstaller(DIF_REMOVE, devices.get(), &member);
  }
}
