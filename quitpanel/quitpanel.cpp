// The run: the vendor utility first, then the mode switcher.
#include "quitpanel/quitpanel.h"

#include "airtoggle/managers.h"
#include "common/text.h"
#include "quitpanel/end_process.h"

int QuitpanelMain() {
  // The vendor utility first, then the mode switcher, whatever the first call gave.
  char targets[2][100] = {};
  CopyText(targets[0], sizeof targets[0], kVendorUtilityImage);
  CopyText(targets[1], sizeof targets[1], kModeSwitcherImage);
  for (const char* target : targets) EndProcessByName(target);
  return 0;
}
