// Airtoggle, the mode switcher, installed as Svcpilot.exe: hands the adapter between the
// zero-configuration service and the vendor utility, and shows nothing.
#pragma once

#include "platform/kernel.h"

// The whole run: single-instance check, hidden frame, message loop. Always 0.
int AirtoggleMain(HINSTANCE instance);
