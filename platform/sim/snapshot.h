// The whole state of a substitute machine at one moment (registry, files with their
// bytes, services' states, devices, running processes), and the differences between
// two such moments: what a run changed, or where two runs ended apart.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace sim {

class Machine;

struct Snapshot {
  // One entry per thing, "<what> <name>" -> its state in words:
  //   key <path>                  ""
  //   value <key path>\<name>     "dword:7", "sz:\"text\"", "type3:01 02"
  //   directory <path>            ""
  //   file <path>                 its bytes, control bytes as \xNN ("read-only: " before)
  //   service <name>              "stopped", "start pending", "stop pending", "running", ...
  //   device <instance ID>        "present" or "absent" (a removed device has no entry)
  //   process <pid> <exe>         "running" (ended processes have no entry)
  std::map<std::string, std::string> entries;
};

Snapshot TakeSnapshot(const Machine& machine);

// One line per difference, in name order: "+ <entry> = <state>" for one only in `after`,
// "- <entry> = <state>" for one only in `before`, "~ <entry>: <before> -> <after>"
// (entries without a state show none).
std::vector<std::string> Differences(const Snapshot& before, const Snapshot& after);

}  // namespace sim
