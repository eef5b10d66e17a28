#include "pakrun_scene.h"

#include <gtest/gtest.h>

#include "testbed/support/support.h"

namespace wt {

std::vector<std::string> StaticSectionSettings(const std::string& key) {
  return {"[PARAMS]", "STATICREG=1", "STATICREGFROMFILE=1",
          "[STATICREG]", "ADDREG=1", "DELREG=1",
          "ADDREG1_ROOT=HKLM", "ADDREG1_SUBKEY=" + key, "ADDREG1_ENTRYNAME=UseZeroConfig",
          "ADDREG1_FLAGS=0x00010001", "ADDREG1_VALUE=1",
          "DELREG1_ROOT=HKLM", "DELREG1_SUBKEY=" + key, "DELREG1_ENTRYNAME=Obsolete"};
}

std::string RegistryScript(const std::string& key) {
  return "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\" + key + "\\Script]\r\n"
         "\"FromScript\"=\"yes\"\r\n\"Count\"=dword:00000007\r\n";
}

void ExpectStaticSectionAndScriptApplied(const std::string& key, REGSAM view) {
  DWORD number = 0;
  std::string text;
  EXPECT_TRUE(RegGetDword(HKEY_LOCAL_MACHINE, key, "UseZeroConfig", &number, view));
  EXPECT_EQ(1u, number);
  EXPECT_FALSE(RegGetString(HKEY_LOCAL_MACHINE, key, "Obsolete", &text, view));
  EXPECT_TRUE(RegGetString(HKEY_LOCAL_MACHINE, key + "\\Script", "FromScript", &text, view));
  EXPECT_EQ("yes", text);
  EXPECT_TRUE(RegGetDword(HKEY_LOCAL_MACHINE, key + "\\Script", "Count", &number, view));
  EXPECT_EQ(7u, number);
}

}  // namespace wt
