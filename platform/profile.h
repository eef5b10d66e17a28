// Private profile (INI) files.
#pragma once

#include "platform/kernel.h"

#if !defined(_WIN32) || defined(PLATFORM_SIM)
typedef int INT;

UINT WINAPI GetPrivateProfileIntA(LPCSTR appName, LPCSTR keyName, INT defaultValue,
                                  LPCSTR fileName);
DWORD WINAPI GetPrivateProfileStringA(LPCSTR appName, LPCSTR keyName, LPCSTR defaultText,
                                      LPSTR returned, DWORD size, LPCSTR fileName);
#endif
