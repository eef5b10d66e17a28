#include "airtoggle/recorded_mode.h"

#include "airtoggle/managers.h"
#include "platform/registry.h"

void ReadRecordedMode(SwitchState& state) {
  RegistryKey settings;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kVendorSettingsKey, 0, KEY_READ, settings.put()) !=
      ERROR_SUCCESS)
    return;
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegQueryValueExA(settings.get(), kUseZeroConfigValue, nullptr, nullptr,
                       reinterpret_cast<LPBYTE>(&value), &size) != ERROR_SUCCESS)
    return;
  state.m_dwUseZeroConfig = value;
  // The target is the other manager than the recorded one.
  if (value == 0) state.m_nTargetMode = kZeroConfigMode;
  if (value == 1) state.m_nTargetMode = kVendorMode;
}

void WriteUseZeroConfig(int value) {
  // A mode that is not known is never recorded.
  if (value != kVendorMode && value != kZeroConfigMode) return;
  RegistryKey settings;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kVendorSettingsKey, 0, KEY_ALL_ACCESS,
                    settings.put()) != ERROR_SUCCESS)
    return;
  DWORD data = static_cast<DWORD>(value);
  RegSetValueExA(settings.get(), kUseZeroConfigValue, 0, REG_DWORD,
                 reinterpret_cast<const BYTE*>(&data), sizeof data);
}
