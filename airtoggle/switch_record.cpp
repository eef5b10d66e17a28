#include "airtoggle/switch_record.h"

#include "airtoggle/managers.h"
#include "airtoggle/service_control.h"
#include "platform/registry.h"

namespace {

// The services a switch changes, in the order their recorded states are put back.
constexpr const char* kRecordedServices[] = {kZeroConfigService, kVendorService};

// Only the NT family has services; on the 9x family (bit 31 of the version set) a
// volatile key would not even be volatile.
bool RecordKept() { return (GetVersion() & 0x80000000UL) == 0; }

REGSAM InRecordView(REGSAM access) { return access | static_cast<REGSAM>(kSwitchRecordView); }

void RemoveRecord() {
  // Through its parent, opened in the record's view: RegDeleteKeyA itself takes no view.
  RegistryKey parent;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSwitchRecordParentKey, 0, InRecordView(KEY_READ),
                    parent.put()) != ERROR_SUCCESS)
    return;
  RegDeleteKeyA(parent.get(), kSwitchRecordName);
}

}  // namespace

void FinishEndedSwitch() {
  if (!RecordKept()) return;
  {
    RegistryKey record;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSwitchRecordKey, 0, InRecordView(KEY_QUERY_VALUE),
                      record.put()) != ERROR_SUCCESS)
      return;
    for (const char* service : kRecordedServices) {
      DWORD state = 0;
      DWORD size = sizeof state;
      if (RegQueryValueExA(record.get(), service, nullptr, nullptr, reinterpret_cast<LPBYTE>(&state),
                           &size) != ERROR_SUCCESS ||
          size != sizeof state)
        continue;
      if (state == SERVICE_STOPPED || state == SERVICE_RUNNING) BringServiceTo(service, state);
    }
  }
  // Only once every service is back: a run ended before this finds the record again.
  RemoveRecord();
}

void BeginSwitchRecord() {
  if (!RecordKept()) return;
  // The parent is an ordinary key: a key made volatile could have no ordinary key below it,
  // and "SOFTWARE\Korvell" may be made here before the vendor utility makes its own.
  RegistryKey parent;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSwitchRecordParentKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      InRecordView(KEY_CREATE_SUB_KEY), nullptr, parent.put(), nullptr) != ERROR_SUCCESS)
    return;
  RegistryKey record;
  RegCreateKeyExA(parent.get(), kSwitchRecordName, 0, nullptr, REG_OPTION_VOLATILE, KEY_SET_VALUE,
                  nullptr, record.put(), nullptr);
}

void NoteServiceState(const char* service, DWORD state) {
  if (!RecordKept()) return;
  RegistryKey record;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSwitchRecordKey, 0, InRecordView(KEY_SET_VALUE),
                    record.put()) != ERROR_SUCCESS)
    return;
  RegSetValueExA(record.get(), service, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&state), sizeof state);
}

void EndSwitchRecord() {
  if (!RecordKept()) return;
  RemoveRecord();
}
