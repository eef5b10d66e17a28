// Not shipped: a program that calls GetNativeSystemInfo, which Windows 2000 lacks, so the
// suite shows that the import check turns such a call away.
#include <windows.h>

int main() {
  SYSTEM_INFO info;
  GetNativeSystemInfo(&info);
  return static_cast<int>(info.dwNumberOfProcessors);
}
