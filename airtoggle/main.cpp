// Airtoggle, installed as Svcpilot.exe: the mode switcher. No visible window.
#include "airtoggle/airtoggle.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return AirtoggleMain(instance); }
