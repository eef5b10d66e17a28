// Pakrun: runs the driver setup program inside the steps its settings file switches on.
// No window, no options of its own; the command-line tail goes to the setup program.
#include "pakrun/pakrun.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return PakrunMain(GetCommandLineA()); }
