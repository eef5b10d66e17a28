// The walks of the registry: the network class key of either family and, on the 9x
// family, the PCI hardware-enumeration key.
#include <cstring>

#include "platform/registry.h"
#include "common/system.h"
#include "common/text.h"
#include "scrubnet/chipset.h"
#include "scrubnet/folders.h"
#include "scrubnet/scrubnet.h"

namespace {

// All below HKEY_LOCAL_MACHINE.
constexpr char kNtClassKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr char k9xClassKey[] = "SYSTEM\\CurrentControlSet\\Services\\Class\\Net";
constexpr char kEnumPciKey[] = "Enum\\PCI";

// Capacities, terminator included.
constexpr DWORD kClassSubkeyNameCapacity = 120;
constexpr DWORD kClassSubkeyPathCapacity = 120;
constexpr DWORD kEnumSubkeyNameCapacity = 200;
constexpr DWORD kEnumSubkeyPathCapacity = 200;
constexpr DWORD kIdCapacity = 500;
constexpr DWORD kInfPathCapacity = 120;

enum class Visit { kKept, kDeleted };

// Visits each subkey that `key` has when the walk starts exactly once, index 0 upwards.
// After a visit that deleted its subkey the same index is read again, since the subkeys
// after it have moved up by one. A name longer than `capacity` is passed over (no path
// to it would fit either) and the walk goes on; any other failure ends the walk.
// A subkey reported deleted that still stands at its index is passed over, so the walk
// ends even then.
constexpr DWORD kMaxWalkedName = 256;

template <class VisitSubkey>
void WalkSubkeys(HKEY key, char* name, DWORD capacity, VisitSubkey visit) {
  char deleted[kMaxWalkedName] = {};
  if (capacity > sizeof deleted) return;
  DWORD index = 0;
  for (;;) {
    std::memset(name, 0, capacity);
    LSTATUS status = RegEnumKeyA(key, index, name, capacity);
    if (status == ERROR_MORE_DATA) {
      ++index;
      continue;
    }
    if (status != ERROR_SUCCESS) return;
    if (deleted[0] != '\0' && std::strcmp(deleted, name) == 0) {
      deleted[0] = '\0';
      ++index;
      continue;
    }
    deleted[0] = '\0';
    if (visit(static_cast<const char*>(name)) == Visit::kDeleted) {
      std::memcpy(deleted, name, capacity);
    } else {
      ++index;
    }
  }
}

// Opens a key below HKEY_LOCAL_MACHINE for reading into `owner`.
bool OpenForReading(const char* path, RegistryKey* owner) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  owner->reset(key);
  return true;
}

// True when the value `idName` of the driver key at `path` begins with DeviceIdPrefix,
// letter case ignored; on a match `driverKey` holds the opened key.
bool IsChipsetDriverKey(const char* path, const char* idName, RegistryKey* driverKey) {
  if (!OpenForReading(path, driverKey)) return false;
  char id[kIdCapacity] = {};
  ReadRegistryText(driverKey->get(), idName, id, sizeof id);
  return BeginsWith(id, DeviceIdPrefix, kDeviceIdPrefixLength, LetterCase::kIgnored);
}

// Deletes the installed INF that the driver key's "InfPath" names, with its PNF and CAT.
void DeleteInfOfDriverKey(HKEY driverKey) {
  char infPath[kInfPathCapacity] = {};
  if (ReadRegistryText(driverKey, "InfPath", infPath, sizeof infPath)) DeleteInstalledInf(infPath);
}

}  // namespace

void PurgeDriverKeysNt() {
  RegistryKey classKey;
  if (!OpenForReading(kNtClassKey, &classKey)) return;
  char name[kClassSubkeyNameCapacity] = {};
  WalkSubkeys(classKey.get(), name, sizeof name, [](const char* subkey) {
    char path[kClassSubkeyPathCapacity] = {};
    if (!FormatText(path, sizeof path, "%s\\%s", kNtClassKey, subkey)) return Visit::kKept;
    RegistryKey driverKey;
    if (!IsChipsetDriverKey(path, "ComponentId", &driverKey)) return Visit::kKept;
    DeleteInfOfDriverKey(driverKey.get());
    DeleteInWindowsFolder(kDriverFolder, NtDriverFile);
    return Visit::kKept;
  });
}

void PurgeDriverKeys9x() {
  RegistryKey classKey;
  if (!OpenForReading(k9xClassKey, &classKey)) return;
  char name[kClassSubkeyNameCapacity] = {};
  WalkSubkeys(classKey.get(), name, sizeof name, [](const char* subkey) {
    char path[kClassSubkeyPathCapacity] = {};
    if (!FormatText(path, sizeof path, "%s\\%s", k9xClassKey, subkey)) return Visit::kKept;
    RegistryKey driverKey;
    if (!IsChipsetDriverKey(path, "MatchingDeviceId", &driverKey)) return Visit::kKept;
    DeleteInfOfDriverKey(driverKey.get());
    DeleteInWindowsFolder(kInfOtherFolder, VendorInfName);
    DeleteInWindowsFolder(kInfFolder, ChipsetInfName);
    DeleteInWindowsFolder(kInfInternetFolder, VendorInfName);
    DeleteInWindowsFolder(kDriverFolder, Win9xDriverFile);
    DeleteInWindowsFolder(kInstallOptionsFolder, Win9xDriverFile);
    // The 9x family removes the key with everything below it.
    bool deleted = RegDeleteKeyA(HKEY_LOCAL_MACHINE, path) == ERROR_SUCCESS;
    return deleted ? Visit::kDeleted : Visit::kKept;
  });
}

void PurgeEnumPciKeys9x() {
  RegistryKey enumKey;
  if (!OpenForReading(kEnumPciKey, &enumKey)) return;
  char name[kEnumSubkeyNameCapacity] = {};
  WalkSubkeys(enumKey.get(), name, sizeof name, [](const char* subkey) {
    if (!BeginsWith(subkey, EnumKeyPrefix, kEnumKeyPrefixLength, LetterCase::kIgnored))
      return Visit::kKept;
    char path[kEnumSubkeyPathCapacity] = {};
    if (!FormatText(path, sizeof path, "%s\\%s", kEnumPciKey, subkey)) return Visit::kKept;
    bool deleted = RegDeleteKeyA(HKEY_LOCAL_MACHINE, path) == ERROR_SUCCESS;
    return deleted ? Visit::kDeleted : Visit::kKept;
  });
}
