// A settings file's static section and its registry script over one key, for runs of the
// setup runner: the section adds "UseZeroConfig" = 1 (REG_DWORD) and deletes "Obsolete";
// the script, Pakrun.reg beside the program, writes "FromScript" = "yes" and "Count" = 7
// under <key>\Script.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace wt {

// The [PARAMS] and [STATICREG] lines of the settings file.
std::vector<std::string> StaticSectionSettings(const std::string& key);
// The text of Pakrun.reg.
std::string RegistryScript(const std::string& key);
// Checks (failing the running test) that both were applied to `key` in `view` (0, or
// KEY_WOW64_32KEY / KEY_WOW64_64KEY).
void ExpectStaticSectionAndScriptApplied(const std::string& key, REGSAM view = 0);

}  // namespace wt
