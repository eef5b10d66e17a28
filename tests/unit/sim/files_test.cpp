// The substitute machine: the module path, short paths and renames, as the setup runner relies on them.
#include <string>

#include "pakrun_fixture.h"
#include "platform/devices.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/programs.h"
#include "platform/registry.h"
#include "pakrun/run_and_wait.h"

namespace {

using Files = PakrunTest;


TEST_F(Files, ModulePathShortPathsAndRenames) {
  char buffer[MAX_PATH];
  EXPECT_EQ(0u, GetModuleFileNameA(nullptr, buffer, sizeof buffer));  // no program path set
  machine.kernel.self.modulePath = "C:\\Program Files\\Vendor\\Pakrun.exe";
  EXPECT_EQ(machine.kernel.self.modulePath.size(),
            GetModuleFileNameA(nullptr, buffer, sizeof buffer));
  EXPECT_EQ(machine.kernel.self.modulePath, buffer);
  char small[8];
  EXPECT_EQ(8u, GetModuleFileNameA(nullptr, small, sizeof small));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
  EXPECT_EQ("C:\\Progr", std::string(small, sizeof small));  // the whole buffer, no terminator

  machine.files.AddDirectory("C:\\Program Files\\Vendor");
  machine.files.SetShortName("C:\\Program Files", "PROGRA~1");
  EXPECT_EQ(18u, GetShortPathNameA("c:\\program files\\Vendor", buffer, sizeof buffer));
  EXPECT_STREQ("c:\\PROGRA~1\\Vendor", buffer);
  EXPECT_EQ(19u, GetShortPathNameA("C:\\Program Files\\Vendor", small, sizeof small));
  EXPECT_EQ(0u, GetShortPathNameA("C:\\Missing", buffer, sizeof buffer));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());

  machine.files.Put("C:\\WINDOWS\\a.inf", "a");
  machine.files.Put("C:\\WINDOWS\\b.org", "b");
  EXPECT_FALSE(MoveFileA("C:\\WINDOWS\\a.inf", "C:\\WINDOWS\\B.ORG"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
  EXPECT_FALSE(MoveFileA("C:\\WINDOWS\\none.inf", "C:\\WINDOWS\\none.org"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  EXPECT_TRUE(MoveFileA("C:\\WINDOWS\\a.inf", "C:\\WINDOWS\\a.org"));
  EXPECT_FALSE(machine.files.Exists("C:\\WINDOWS\\a.inf"));
  EXPECT_EQ("a", machine.files.Read("C:\\WINDOWS\\a.org"));
  EXPECT_EQ("b", machine.files.Read("C:\\WINDOWS\\b.org"));

  EXPECT_FALSE(IsDBCSLeadByte(0x95));
  machine.kernel.self.UseShiftJis();
  EXPECT_TRUE(IsDBCSLeadByte(0x95));
  EXPECT_FALSE(IsDBCSLeadByte('\\'));
  EXPECT_FALSE(IsDBCSLeadByte(0xA0));
}

}  // namespace
