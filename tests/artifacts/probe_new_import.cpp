// Not shipped: a program that calls a function the oldest Windows of its machine lacks
// (GetNativeSystemInfo: not on Windows 2000; GetTickCount64: not on the x64 editions of
// XP and 2003), so the suite shows that the import check turns such a call away.
#include <windows.h>

#ifdef _WIN64
// Declared by the headers only for Vista and later builds.
extern "C" ULONGLONG WINAPI GetTickCount64();

int main() { return static_cast<int>(GetTickCount64() & 1); }
#else
int main() {
  SYSTEM_INFO info;
  GetNativeSystemInfo(&info);
  return static_cast<int>(info.dwNumberOfProcessors);
}
#endif
