#include "pakrun/settings.h"

#include <climits>

#include "platform/profile.h"

unsigned ReadCount(const char* settingsPath, const char* section, const char* key) {
  UINT count = GetPrivateProfileIntA(section, key, 0, settingsPath);
  if (count > static_cast<UINT>(INT_MAX)) return 0u;
  return count > kMaxListEntries ? kMaxListEntries : count;
}
