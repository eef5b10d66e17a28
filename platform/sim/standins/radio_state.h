// The in-process stand-in for the vendor's radio library: a list of adapters, each with
// the code it reports and whether its control object can be had; and a record of which
// adapter received which control option.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sim {

struct RadioAdapterState {
  std::string name;
  std::int32_t code = 101;       // what QueryAdapterCode reports
  bool lookupFails = false;      // GetAdapter returns non-zero for it, pointer untouched
  bool lookupYieldsNull = false;  // GetAdapter returns 0 but fills a null pointer
  bool controlFails = false;     // GetAdapterControl returns non-zero
  bool controlYieldsNull = false;  // GetAdapterControl returns 0 and a null object
};

struct RadioLibrary {
  bool listMissing = false;      // GetAdapterList returns null
  int reportedCount = -1;        // GetAdapterCount reports this; -1: the real number
  bool countLeftUnfilled = false;  // GetAdapterCount returns without filling the count
  std::vector<RadioAdapterState> adapters;
  // Record: (adapter name, option) for each SetControlOption, in order.
  std::vector<std::pair<std::string, std::int32_t>> options;
};

}  // namespace sim
