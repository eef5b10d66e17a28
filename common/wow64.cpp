#include "common/system.h"

bool RunningUnderWow64() {
  // kernel32 is loaded in every process, so nothing is searched for or loaded here.
  // Without IsWow64Process (Windows 98, 2000, XP before SP2) there is no WOW64.
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return false;
  auto isWow64Process = EntryPoint<IsWow64ProcessFn>(kernel, "IsWow64Process");
  BOOL wow64 = FALSE;
  return isWow64Process != nullptr && isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}
