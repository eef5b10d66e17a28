// Not shipped: a program that imports SETUPAPI.DLL at load time, so the suite shows that
// the import check turns that away for a program whose SetupAPI must come delayed.
#include <windows.h>

#include <setupapi.h>

int main() { return SetupDiDestroyDeviceInfoList(INVALID_HANDLE_VALUE) ? 1 : 0; }
