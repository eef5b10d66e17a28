#include "support.h"

#include <gtest/gtest.h>

namespace wt {

DWORD Run(const std::string& commandLine, const std::string& workDir, const std::string& application) {
  RunResult result = RunBounded(commandLine, workDir, kRunBoundMs, application);
  if (!result.started)
    ADD_FAILURE() << "could not start: " << commandLine << " (error " << result.error << ")";
  else if (result.ended)
    ADD_FAILURE() << "still running after " << kRunBoundMs << " ms, ended: " << commandLine;
  return result.exitCode;
}

std::unique_ptr<Child> StartStandIn(const std::string& path) {
  if (!FileExists(path)) {
    EXPECT_TRUE(CopyFromBuild("standin.exe", path)) << path;
  }
  auto child = std::make_unique<Child>();
  EXPECT_TRUE(child->Start("\"" + path + "\" 60")) << path;
  DWORD pid = child->Pid();
  EXPECT_TRUE(WaitUntil([pid] { return ModulesListed(pid); }, kSettleBoundMs)) << path;
  return child;
}

bool EndedWithZero(Child& child) {
  return WaitForSingleObject(child.Handle(), kSettleBoundMs) == WAIT_OBJECT_0 && child.ExitCode() == 0;
}

}  // namespace wt
