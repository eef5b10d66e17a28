#include "support.h"

#include <gtest/gtest.h>

namespace wt {

DWORD Run(const std::string& commandLine, const std::string& workDir) {
  RunResult result = RunBounded(commandLine, workDir);
  if (!result.started)
    ADD_FAILURE() << "could not start: " << commandLine << " (error " << result.error << ")";
  else if (result.ended)
    ADD_FAILURE() << "still running after " << kRunBoundMs << " ms, ended: " << commandLine;
  return result.exitCode;
}

}  // namespace wt
