// The run: the family split and each family's order of steps.
#include "common/system.h"
#include "platform/kernel.h"
#include "scrubnet/scrubnet.h"

int ScrubnetMain() {
  DWORD version = GetVersion();
  bool nineXFamily = (version & 0x80000000u) != 0;
  DWORD major = version & 0xFFu;
  if (!nineXFamily) {
    // A 32-bit process cannot remove devices on 64-bit Windows, and its system32 is the
    // 32-bit copy: all it could do there is half a removal, the INF gone and the device
    // with its driver file left. The 64-bit build does the job there.
    if (RunningUnderWow64()) return 0;
    // The driver keys are read while their devices are still installed.
    PurgeDriverKeysNt();
    RemoveChipsetDevices();
  } else if (major >= 4) {
    RemoveChipsetDevices();
    PurgeDriverKeys9x();
    PurgeEnumPciKeys9x();
  }
  // A 32-bit layer on an older Windows (bit 31 set, major version below 4): nothing.
  return 0;
}
