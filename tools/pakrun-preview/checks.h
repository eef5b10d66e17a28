// The registry of checks: every warning the linter can give comes from one row, with a
// stable id (never reused for another check) and a one-line title.
#pragma once

#include <vector>

namespace preview {

struct CheckInfo {
  const char* id;     // "PP105"
  const char* title;  // "key Pakrun never reads"
};

// Every check, in id order.
const std::vector<CheckInfo>& AllChecks();

// The row of `id`, or null.
const CheckInfo* FindCheck(const char* id);

}  // namespace preview
