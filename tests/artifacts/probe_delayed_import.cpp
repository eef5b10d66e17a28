// Not shipped: a program that calls GetNativeSystemInfo, which Windows 2000 lacks, as a
// delayed import, so the suite shows that the import check reads the delay-import
// directory and turns such a call away there too.
#include <windows.h>

int main() {
  SYSTEM_INFO info;
  GetNativeSystemInfo(&info);
  return static_cast<int>(info.dwNumberOfProcessors);
}
