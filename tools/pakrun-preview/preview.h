// pakrun-preview: shows what Pakrun.exe would do with a settings file, by running
// Pakrun's own run sequence on a substitute machine seeded from the options.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace preview {

// Exit codes: 0 the plan was shown; 1 it was shown and --strict found warnings; 2 the
// settings file or the registry script could not be read (missing, a directory, a device
// or pipe, larger than kMaxInputBytes) or the options are wrong.
constexpr int kShown = 0;
constexpr int kWarned = 1;
constexpr int kUnusable = 2;

// The largest settings file or registry script read: 16 MiB.
constexpr std::size_t kMaxInputBytes = 16u * 1024 * 1024;

// The whole tool: `args` without the program name.
int PreviewMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace preview
