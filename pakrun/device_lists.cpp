#include "pakrun/device_lists.h"

#include "pakrun/device_search.h"
#include "pakrun/settings.h"
#include "platform/devices.h"
#include "platform/profile.h"
#include "common/text.h"

namespace {

constexpr char kDriverRegSection[] = "DRIVERREG";
constexpr char kDefaultId[] = "DEFAULT_ID";
constexpr unsigned kKeyCapacity = 24;  // "DETECTDEV4294967295" and its terminator

// Reads entry `prefix`<n> of `section` into `id` (kDeviceIdCapacity characters). False
// when the value fills the whole buffer: it may have been cut by the profile reader,
// and a shortened ID is never acted on (no hardware ID is that long).
bool ReadDeviceId(const char* settingsPath, const char* section, const char* prefix, unsigned n,
                  const char* defaultId, char* id) {
  char key[kKeyCapacity];
  if (!FormatText(key, sizeof key, "%s%u", prefix, n)) return false;
  DWORD length = GetPrivateProfileStringA(section, key, defaultId, id, kDeviceIdCapacity,
                                          settingsPath);
  return length < kDeviceIdCapacity - 1;
}

}  // namespace

int CleanUpDevices(const char* settingsPath, const char* section) {
  const unsigned count = ReadCount(settingsPath, section, "CLEANCOUNT");
  for (unsigned n = 1; n <= count; ++n) {
    char id[kDeviceIdCapacity] = {};
    if (!ReadDeviceId(settingsPath, section, "DEV", n, "", id)) continue;
    // A device in use is never touched, whatever stale copies of it exist.
    if (!FindPresentDevice(id)) RemoveDeviceByHardwareId(id);
  }
  return 1;
}

int RefreshDevices(const char* settingsPath, const char* section) {
  bool found = false;
  const unsigned count = ReadCount(settingsPath, section, "DETECTCOUNT");
  for (unsigned n = 1; n <= count; ++n) {
    char id[kDeviceIdCapacity] = {};
    if (!ReadDeviceId(settingsPath, section, "DETECTDEV", n, "", id)) continue;
    if (FindPresentDevice(id)) found = true;
  }
  if (found) return 1;

  DEVINST root = 0;
  if (CM_Locate_DevNodeA(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS) return 0;
  return CM_Reenumerate_DevNode(root, CM_REENUMERATE_NORMAL) == CR_SUCCESS ? 1 : 0;
}

void ApplyDriverRegList(const char* settingsPath, const char* osSuffix) {
  const unsigned count = ReadCount(settingsPath, kDriverRegSection, "NIC");
  for (unsigned n = 1; n <= count; ++n) {
    char id[kDeviceIdCapacity] = {};
    if (!ReadDeviceId(settingsPath, kDriverRegSection, "DEV", n, kDefaultId, id)) continue;
    // A name that does not fit is skipped, never shortened into another section's.
    char section[kDeviceIdCapacity];
    if (!FormatText(section, sizeof section, "%s_%s%s", kDriverRegSection, id, osSuffix)) continue;
    ApplyDriverAddDelForDevice(settingsPath, section, id);
  }
}
