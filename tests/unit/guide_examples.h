// The worked examples of the package author's guide (docs/package-authors-guide.md) as
// the tests read them: the reader of its marked blocks, and the machine an example's
// machine block describes. How the guide marks them is told in guide_examples_test.cpp.
#pragma once

#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sim/machine.h"
#include "platform/sim/standins/standins.h"

namespace guide {

struct Example {
  std::string name;                                        // "example-1"
  std::vector<std::pair<std::string, std::string>> parts;  // part -> text, in guide order
  std::string Part(const std::string& part) const {
    for (const auto& [partName, partText] : parts) {
      if (partName == part) return partText;
    }
    return "";
  }
  bool Has(const std::string& part) const {
    for (const auto& entry : parts) {
      if (entry.first == part) return true;
    }
    return false;
  }
};

inline void PrintTo(const Example& example, std::ostream* os) { *os << example.name; }

inline std::vector<Example> ReadGuide() {
  std::ifstream in(GUIDE_PATH, std::ios::binary);
  std::vector<Example> examples;
  std::string line;
  std::string part;
  std::string text;
  bool inBlock = false;
  Example* current = nullptr;  // the example of the block being read
  while (std::getline(in, line)) {
    if (inBlock) {
      if (line != "```") {
        text += line + "\n";
        continue;
      }
      current->parts.emplace_back(part, text);
      inBlock = false;
      continue;
    }
    const std::string marker = "title=\"example-";
    std::size_t at = line.find(marker);
    if (line.rfind("```", 0) != 0 || at == std::string::npos) continue;
    const std::size_t start = line.find('"', at) + 1;
    std::string title = line.substr(start, line.find('"', start) - start);
    std::string name = title.substr(0, title.find('/'));
    part = title.find('/') == std::string::npos ? "" : title.substr(title.find('/') + 1);
    current = nullptr;
    for (Example& example : examples) {
      if (example.name == name) current = &example;
    }
    if (current == nullptr) current = &examples.emplace_back(Example{name, {}});
    text.clear();
    inBlock = true;
  }
  return examples;
}

inline std::string WithCrlf(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// "<word> <rest>": the rest without the blanks in front of it.
inline std::pair<std::string, std::string> Split(const std::string& line) {
  std::size_t end = line.find(' ');
  if (end == std::string::npos) return {line, ""};
  std::size_t rest = line.find_first_not_of(' ', end);
  return {line.substr(0, end), rest == std::string::npos ? "" : line.substr(rest)};
}

inline std::string FileNameOf(const std::string& path) { return path.substr(path.rfind('\\') + 1); }
inline std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('\\')); }

// Seeds `machine` from an example's machine block; returns Pakrun's command line.
inline std::string SeedMachine(sim::Machine& machine, const std::string& block) {
  struct Windows {
    const char* name;
    DWORD platform, major, minor;
    const char* csd;
  };
  const Windows kWindows[] = {{"98", 1, 4, 10, " A "},
                              {"2000", 2, 5, 0, "Service Pack 4"},
                              {"XP", 2, 5, 1, "Service Pack 3"},
                              {"2003", 2, 5, 2, "Service Pack 2"},
                              {"7", 2, 6, 1, "Service Pack 1"}};
  std::string command;
  for (const std::string& line : Lines(block)) {
    auto [what, value] = Split(line);
    if (what == "program") {
      machine.kernel.self.modulePath = value;
      machine.files.AddDirectory(FolderOf(value));
    } else if (what == "command") {
      command = value;
    } else if (what == "windows") {
      bool known = false;
      for (const Windows& w : kWindows) {
        if (value != w.name) continue;
        machine.kernel.version = sim::VersionInfo{w.major, w.minor, 2600, w.platform, w.csd};
        known = true;
      }
      EXPECT_TRUE(known) << line;
    } else if (what == "TEMP") {
      machine.kernel.environment["TEMP"] = value;
      machine.files.AddDirectory(value);
    } else if (what == "file" && value.size() > 4 && value.substr(value.size() - 4) == ".exe") {
      machine.files.Put(value, "MZ");
      machine.programs.Add(value, [](sim::Machine&, const std::string&) { return 0u; });
    } else if (what == "file") {
      machine.files.Put(value, "");
    } else if (what == "device") {
      std::istringstream fields(value);
      std::string state, instance, ids, driver;
      fields >> state >> instance >> ids >> driver;
      std::vector<std::string> hardwareIds;
      for (std::size_t at = 0; at <= ids.size();) {
        std::size_t comma = ids.find(',', at);
        if (comma == std::string::npos) comma = ids.size();
        hardwareIds.push_back(ids.substr(at, comma - at));
        at = comma + 1;
      }
      EXPECT_TRUE(state == "present" || state == "absent" || state == "appears") << line;
      sim::Device& device = machine.devices.Add(instance, hardwareIds, state == "present");
      device.appearsOnReenumerate = state == "appears";
      if (!driver.empty()) device.driver = driver;
    } else {
      ADD_FAILURE() << "unknown machine line: " << line;
    }
  }
  return command;
}

}  // namespace guide
