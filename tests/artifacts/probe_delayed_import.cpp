// Not shipped: a program that calls a function the oldest Windows of its machine lacks
// (GetNativeSystemInfo on i386, GetTickCount64 on x86-64) as a delayed import, so the
// suite shows that the import check reads the delay-import directory and turns such a
// call away there too.
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
