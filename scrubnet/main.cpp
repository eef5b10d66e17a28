// Scrubnet: removes the chipset's driver. No window, no arguments, exit code 0.
#include "platform/kernel.h"
#include "scrubnet/scrubnet.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return ScrubnetMain(); }
