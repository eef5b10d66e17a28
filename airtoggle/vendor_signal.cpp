#include "airtoggle/vendor_signal.h"

#include "vendor/radioapi/radioapi.h"

void SignalVendorAdapter() {
  RadioAPI* api = RadioLoadAPI(nullptr);
  if (api == nullptr) return;
  RadioAdapterList* list = api->GetAdapterList(0);
  if (list == nullptr) return;
  std::uint32_t count = 0;
  list->GetAdapterCount(&count);
  if (count > kMaxRadioAdapters) count = kMaxRadioAdapters;

  // One pointer takes every lookup's result and is never reset: when the walk runs to
  // its end, the adapter used is the one the last lookup left in it.
  RadioAdapter* adapter = nullptr;
  for (std::uint32_t index = 0; index < count; ++index) {
    if (list->GetAdapter(index, &adapter) != 0 || adapter == nullptr) continue;
    std::int32_t code = kRadioCodeUnset;
    adapter->QueryAdapterCode(&code);
    if (code != kRadioCodeUnset && code != kRadioCodeReady) break;
  }
  if (adapter == nullptr) {
    list->GetAdapter(0, &adapter);
    if (adapter == nullptr) return;
  }
  RadioControl* control = nullptr;
  if (adapter->GetAdapterControl(&control, 0) == 0 && control != nullptr)
    control->SetControlOption(kRadioSwitchOption);
}
