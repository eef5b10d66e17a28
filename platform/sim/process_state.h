// What the substitute machine knows about the process that runs the program code: the
// path of its program file, the lead bytes of its active ANSI code page, and the named
// mutexes of the session (its own handles and those other processes hold).
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace sim {

struct ProcessState {
  // Full path of the running program file; empty: GetModuleFileNameA fails.
  std::string modulePath;

  // Lead-byte ranges (first, last) of the active code page; none in a single-byte one.
  std::vector<std::pair<unsigned char, unsigned char>> leadByteRanges;
  // Japanese (Shift-JIS, code page 932), whose second bytes include 0x5C, the backslash.
  void UseShiftJis() { leadByteRanges = {{0x81, 0x9F}, {0xE0, 0xFC}}; }

  // Mutex names are compared exactly, letter case included, as the object manager does.
  std::set<std::string> mutexesHeldElsewhere;  // held by another process
  std::map<std::string, int> openMutexes;      // name -> handles open in this process
  bool MutexExists(const std::string& name) const {
    auto it = openMutexes.find(name);
    return mutexesHeldElsewhere.count(name) != 0 || (it != openMutexes.end() && it->second > 0);
  }
};

}  // namespace sim
