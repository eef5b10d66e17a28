// Device installation (SetupAPI) and the configuration manager.
#pragma once

#include "platform/handles.h"
#include "platform/kernel.h"

#if defined(_WIN32) && !defined(PLATFORM_SIM)
#include <setupapi.h>
#include <cfgmgr32.h>
#else
typedef void* HDEVINFO;
typedef void* PVOID;
typedef const char* PCSTR;
typedef struct HWND__* HWND;
typedef DWORD DEVINST;
typedef DEVINST* PDEVINST;
typedef char* DEVINSTID_A;
typedef DWORD CONFIGRET;
typedef UINT DI_FUNCTION;

#ifndef GUID_DEFINED
#define GUID_DEFINED
typedef struct _GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
} GUID;
#endif

typedef struct _SP_DEVINFO_DATA {
  DWORD cbSize;
  GUID ClassGuid;
  DWORD DevInst;
  ULONG_PTR Reserved;
} SP_DEVINFO_DATA, *PSP_DEVINFO_DATA;

#define SP_MAX_MACHINENAME_LENGTH (MAX_PATH + 3)

typedef struct _SP_DEVINFO_LIST_DETAIL_DATA_A {
  DWORD cbSize;
  GUID ClassGuid;
  HANDLE RemoteMachineHandle;
  CHAR RemoteMachineName[SP_MAX_MACHINENAME_LENGTH];
} SP_DEVINFO_LIST_DETAIL_DATA_A, *PSP_DEVINFO_LIST_DETAIL_DATA_A;

#define DIGCF_DEFAULT 0x00000001
#define DIGCF_PRESENT 0x00000002
#define DIGCF_ALLCLASSES 0x00000004
#define DIGCF_PROFILE 0x00000008
#define DIGCF_DEVICEINTERFACE 0x00000010

#define SPDRP_DEVICEDESC 0x00000000
#define SPDRP_HARDWAREID 0x00000001
#define SPDRP_COMPATIBLEIDS 0x00000002
#define SPDRP_CLASS 0x00000007
#define SPDRP_CLASSGUID 0x00000008
#define SPDRP_DRIVER 0x00000009

#define DIF_REMOVE 0x00000005

#define ERROR_INVALID_DATA 13L
#define ERROR_INVALID_USER_BUFFER 1784L
#define ERROR_NO_SUCH_DEVINST 0xE000020BL
#define ERROR_INVALID_CLASS 0xE0000209L
#define ERROR_IN_WOW64 0xE0000235L

#define CR_SUCCESS 0x00000000
#define CR_INVALID_POINTER 0x00000003
#define CR_FAILURE 0x00000013
#define CR_NO_SUCH_DEVNODE 0x0000000D
#define CM_LOCATE_DEVNODE_NORMAL 0x00000000
#define CM_LOCATE_DEVNODE_PHANTOM 0x00000001
#define CM_REENUMERATE_NORMAL 0x00000000

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent,
                                     DWORD flags);
HDEVINFO WINAPI SetupDiGetClassDevsExA(const GUID* classGuid, PCSTR enumerator, HWND parent,
                                       DWORD flags, HDEVINFO deviceInfoSet, PCSTR machineName,
                                       PVOID reserved);
BOOL WINAPI SetupDiGetDeviceInfoListDetailA(HDEVINFO deviceInfoSet,
                                            PSP_DEVINFO_LIST_DETAIL_DATA_A detail);
BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO deviceInfoSet, DWORD memberIndex,
                                  PSP_DEVINFO_DATA deviceInfoData);
BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO deviceInfoSet,
                                              PSP_DEVINFO_DATA deviceInfoData, DWORD property,
                                              LPDWORD propertyRegDataType, LPBYTE propertyBuffer,
                                              DWORD propertyBufferSize, LPDWORD requiredSize);
BOOL WINAPI SetupDiGetDeviceInstanceIdA(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData,
                                        LPSTR deviceInstanceId, DWORD deviceInstanceIdSize,
                                        LPDWORD requiredSize);
BOOL WINAPI SetupDiCallClassInstaller(DI_FUNCTION installFunction, HDEVINFO deviceInfoSet,
                                      PSP_DEVINFO_DATA deviceInfoData);
BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO deviceInfoSet);

CONFIGRET WINAPI CM_Locate_DevNodeA(PDEVINST devInst, DEVINSTID_A deviceId, ULONG flags);
CONFIGRET WINAPI CM_Reenumerate_DevNode(DEVINST devInst, ULONG flags);
#endif

#if defined(_WIN32) && !defined(_WIN64) && !defined(PLATFORM_SIM)
static_assert(sizeof(SP_DEVINFO_DATA) == 28, "SP_DEVINFO_DATA of 32-bit Windows");
static_assert(sizeof(SP_DEVINFO_LIST_DETAIL_DATA_A) == 287,
              "SP_DEVINFO_LIST_DETAIL_DATA_A of 32-bit Windows");
#endif

// A device information list is invalid as INVALID_HANDLE_VALUE.
struct DeviceInfoListTraits {
  using Value = HDEVINFO;
  static Value Invalid() { return INVALID_HANDLE_VALUE; }
  static void Release(Value v) { SetupDiDestroyDeviceInfoList(v); }
};
using DeviceInfoList = Owned<DeviceInfoListTraits>;
