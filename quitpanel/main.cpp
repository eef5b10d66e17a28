// Quitpanel: ends the vendor utility and the mode switcher. No window, no arguments.
#include "platform/kernel.h"
#include "quitpanel/end_process.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return QuitpanelMain(); }
