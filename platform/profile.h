// Private profile (INI) files.
#pragma once

#include "platform/kernel.h"

#ifndef _WIN32
typedef int INT;

UINT WINAPI GetPrivateProfileIntA(LPCSTR appName, LPCSTR keyName, INT defaultValue,
                                  LPCSTR fileName);
DWORD WINAPI GetPrivateProfileStringA(LPCSTR appName, LPCSTR keyName, LPCSTR defaultText,
                                      LPSTR returned, DWORD size, LPCSTR fileName);
#endif
