#include "tools/pakrun-preview/checks.h"

#include <cstring>

namespace preview {

const std::vector<CheckInfo>& AllChecks() {
  static const std::vector<CheckInfo> kAll = {
      {"PP001", "settings file in UTF-16"},
      {"PP002", "UTF-8 byte-order mark"},
      {"PP003", "NUL byte in the settings file"},
      {"PP004", "unknown check named in a disable comment"},
      {"PP101", "second section of a name"},
      {"PP102", "section Pakrun never reads"},
      {"PP103", "second key of a name"},
      {"PP104", "root or subkey in a per-device section"},
      {"PP105", "key Pakrun never reads"},
      {"PP201", "count that is not a plain number"},
      {"PP202", "negative count"},
      {"PP203", "count above the bound of the lists"},
      {"PP204", "entry numbered above its count"},
      {"PP205", "entries missing below the count"},
      {"PP206", "count past the last entry"},
      {"PP207", "hardware ID that fills its buffer"},
      {"PP208", "empty hardware ID"},
      {"PP209", "per-device section name too long"},
      {"PP210", "per-device section missing"},
      {"PP211", "lower-case letters in a compared ID"},
      {"PP212", "device listed twice in DRIVERREG"},
      {"PP301", "delete entry without a value name"},
      {"PP302", "entry without a root"},
      {"PP303", "quotes dropped by the settings reader"},
      {"PP304", "INF field longer than its buffer"},
      {"PP305", "double quote in a quoted INF field"},
      {"PP306", "lone percent sign"},
      {"PP307", "comma that splits an INF field"},
      {"PP308", "semicolon that starts an INF comment"},
      {"PP309", "trailing backslash in a value"},
      {"PP310", "HKR outside a device's install"},
      {"PP311", "root the INF installer does not know"},
      {"PP312", "flags the INF installer cannot read"},
      {"PP313", "unknown flag bits"},
      {"PP314", "unknown value type"},
      {"PP315", "REG_DWORD data that is no number"},
      {"PP401", "switch that is not 0 or 1"},
      {"PP402", "setup program or INI name that fills its buffer"},
      {"PP403", "INI name with a blank"},
      {"PP404", "short program folder with a blank"},
      {"PP405", "empty setup program name"},
      {"PP406", "setup program given as a full path"},
      {"PP407", "setup command line too long for its buffer"},
      {"PP501", "registry script missing"},
      {"PP502", "registry script without a header"},
      {"PP503", "registry script in UTF-16"},
      {"PP504", "registry script of version 5"},
      {"PP505", "registry root regedit does not know"},
      {"PP506", "script line regedit does not read"},
      {"PP507", "value data regedit refuses"},
      {"PP601", "TEMP too long for the INF path"},
      {"PP602", "TEMP with a blank"},
      {"PP603", "no SystemRoot for the INF installer"},
      {"PP604", "SystemRoot too long for the installer's path"},
      {"PP605", "SystemRoot with a blank"},
      {"PP606", "no SystemRoot for the renames"},
  };
  return kAll;
}

const CheckInfo* FindCheck(const char* id) {
  for (const CheckInfo& check : AllChecks()) {
    if (std::strcmp(check.id, id) == 0) return &check;
  }
  return nullptr;
}

}  // namespace preview
