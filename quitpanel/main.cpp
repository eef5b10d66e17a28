// Quitpanel: ends the vendor utility and the mode switcher. No window, no arguments.
#include "platform/kernel.h"
#include "quitpanel/quitpanel.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return QuitpanelMain(); }
