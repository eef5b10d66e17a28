#include "airtoggle/interface_flags.h"

#include <cstring>

#include "airtoggle/managers.h"
#include "platform/registry.h"
#include "common/system.h"
#include "common/text.h"

namespace {

// The network adapter class key. The lower-case "b" is the mode switcher's own spelling,
// kept on purpose: registry names ignore letter case, so this is the very key the driver
// remover spells all in capitals.
constexpr char kNetworkClassKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002bE10318}";
constexpr char kMatchingDeviceIdValue[] = "MatchingDeviceId";
constexpr char kNetCfgInstanceIdValue[] = "NetCfgInstanceId";
// The chipset's hardware IDs begin with this, written all upper or all lower case.
constexpr char kChipsetUpper[] = "PCI\\VEN_1D4A";
constexpr char kChipsetLower[] = "pci\\ven_1d4a";
constexpr std::size_t kChipsetPrefixLength = sizeof kChipsetUpper - 1;

// Complete interface records, for an interface whose "ControlFlags" cannot be read.
struct CompleteRecord {
  DWORD layoutVersion;
  DWORD flagsVendor;          // mode 0
  DWORD flagsManagedRunning;  // mode 1, the service was running
  DWORD flagsManagedStopped;  // mode 1, the service was stopped
};
constexpr CompleteRecord kCompleteRecords[] = {
    {3, 0x00810002, 0x00918002, 0x00818002},  // no service pack
    {4, 0x00810002, 0x00918002, 0x00818002},  // service pack 1
    {6, 0x07810002, 0x07918002, 0x03818002},  // service pack 2, v.2149
    {7, 0x07810002, 0x07918002, 0x03818002},  // service pack 2
};

void WriteDword(HKEY key, const char* name, DWORD value) {
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void WriteCompleteRecord(const SwitchState& state, HKEY interfaceKey, int mode) {
  if (state.m_nServicePackLevel < 0 || state.m_nServicePackLevel > 3) return;
  if (mode != kVendorMode && mode != kZeroConfigMode) return;
  if (state.m_nZeroConfigWasRunning != 0 && state.m_nZeroConfigWasRunning != 1) return;
  const CompleteRecord& record = kCompleteRecords[state.m_nServicePackLevel];
  DWORD flags = record.flagsVendor;
  if (mode == kZeroConfigMode)
    flags = state.m_nZeroConfigWasRunning == 1 ? record.flagsManagedRunning : record.flagsManagedStopped;
  // "ControlFlags" last: a record that has it is complete, and a run ended between the two
  // writes leaves one without it, which the next run writes whole again.
  WriteDword(interfaceKey, kLayoutVersionValue, record.layoutVersion);
  WriteDword(interfaceKey, kControlFlagsValue, flags);
}

// `view` is the registry view of the interface records: they belong to the service, so
// a 32-bit process on 64-bit Windows asks for the 64-bit view (KEY_WOW64_64KEY, which
// Windows 2000 does not know and so is passed only there). The class key lies under
// HKLM\SYSTEM, which has one view.
void ApplyToAdapter(const SwitchState& state, const char* subkeyName, int mode, REGSAM view) {
  char adapterPath[200];
  if (!FormatText(adapterPath, sizeof adapterPath, "%s\\%s", kNetworkClassKey, subkeyName)) return;
  RegistryKey adapterKey;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, adapterPath, 0, KEY_ALL_ACCESS, adapterKey.put()) !=
      ERROR_SUCCESS)
    return;

  char matching[50];
  ReadRegistryText(adapterKey.get(), kMatchingDeviceIdValue, matching, sizeof matching);
  char prefix[kChipsetPrefixLength + 1] = {};
  std::memcpy(prefix, matching, kChipsetPrefixLength);
  if (std::strcmp(prefix, kChipsetUpper) != 0 && std::strcmp(prefix, kChipsetLower) != 0) return;

  char instanceId[50];
  // An empty identifier, or one with a backslash, names no record of its own: it would
  // steer the writes into the Interfaces key itself or into a key below another record.
  if (!ReadRegistryText(adapterKey.get(), kNetCfgInstanceIdValue, instanceId, sizeof instanceId) ||
      instanceId[0] == '\0' || std::strchr(instanceId, '\\') != nullptr)
    return;
  char interfacePath[100];
  if (!FormatText(interfacePath, sizeof interfacePath, "%s\\%s", kInterfacesKey, instanceId)) return;

  // Created if missing, then opened anew with the access the rewrite needs.
  {
    RegistryKey created;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, interfacePath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                    KEY_ALL_ACCESS | view, nullptr, created.put(), nullptr);
  }

  // An interface record that cannot be opened with full access is left alone.
  RegistryKey interfaceKey;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, interfacePath, 0, KEY_ALL_ACCESS | view,
                    interfaceKey.put()) != ERROR_SUCCESS)
    return;
  DWORD flags = 0;
  DWORD size = sizeof flags;
  if (RegQueryValueExA(interfaceKey.get(), kControlFlagsValue, nullptr, nullptr,
                       reinterpret_cast<LPBYTE>(&flags), &size) != ERROR_SUCCESS ||
      size != sizeof flags) {
    // Nothing to change bits of: write the complete record, or leave it.
    WriteCompleteRecord(state, interfaceKey.get(), mode);
    return;
  }
  if (mode == kVendorMode) {
    flags &= ~static_cast<DWORD>(kControlFlagOwnerBits);
  } else if (mode == kZeroConfigMode) {
    flags |= static_cast<DWORD>(kControlFlagManaged);
  } else {
    return;
  }
  WriteDword(interfaceKey.get(), kControlFlagsValue, flags);
}

}  // namespace

int ServicePackLevel(const char* csdVersion) {
  char head[50] = {};
  std::strncpy(head, csdVersion, 14);
  if (head[0] == '\0') return 0;
  if (std::strcmp(head, "Service Pack 1") == 0) return 1;
  if (std::strcmp(head, "Service Pack 2") == 0)
    return std::strcmp(csdVersion, "Service Pack 2, v.2149") == 0 ? 2 : 3;
  return kLevelUnknown;
}

void ReadServicePackLevel(SwitchState& state) {
  OSVERSIONINFOA version;
  if (!QueryVersion(&version)) return;
  int level = ServicePackLevel(version.szCSDVersion);
  if (level != kLevelUnknown) state.m_nServicePackLevel = level;
}

void ApplyInterfaceFlags(const SwitchState& state, int mode) {
  RegistryKey classKey;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kNetworkClassKey, 0, KEY_READ, classKey.put()) !=
      ERROR_SUCCESS)
    return;
  const REGSAM view = RunningUnderWow64() ? KEY_WOW64_64KEY : 0;
  // Every adapter instance, in the order of the class key's subkey indexes.
  for (DWORD index = 0;; ++index) {
    char name[100] = {};
    if (RegEnumKeyA(classKey.get(), index, name, sizeof name) != ERROR_SUCCESS) break;
    ApplyToAdapter(state, name, mode, view);
  }
}
