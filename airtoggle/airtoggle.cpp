// The run: one instance at a time, a hidden frame, and its message loop until the frame's
// timer has run the switch and closed it.
#include "airtoggle/airtoggle.h"

#include "airtoggle/frame.h"
#include "airtoggle/resource.h"

int AirtoggleMain(HINSTANCE instance) {
  CMainFrame frame;
  // Another instance's frame exists: end at once, changing nothing.
  if (FindWindowA(nullptr, kFrameTitle) != nullptr) return 0;
  // Without a window no timer would ever come; there is nothing to wait for.
  if (!frame.LoadFrame(instance)) return 0;

  HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
  MSG message;
  for (;;) {
    BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    if (accelerators != nullptr && frame.Window() != nullptr &&
        TranslateAcceleratorA(frame.Window(), accelerators, &message) != 0)
      continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
