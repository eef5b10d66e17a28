// The worked examples of the package author's guide (docs/package-authors-guide.md), run
// through PakrunMain on the substitute machine: what the guide shows is what Pakrun does.
//
// How the guide marks them: every block of an example is a fenced block whose opening line
// carries title="example-<n>/<part>" (```ini title="example-1/Pakrun.ini"```); its text is
// every line up to the next line that is only ```. The parts:
//   machine           the machine the example runs on, one "<what> <value>" a line:
//                       program <full path of Pakrun.exe>
//                       command <Pakrun's own command line>
//                       windows 98 | 2000 | XP | 2003 | 7
//                       TEMP    <directory>        (default C:\TEMP; SystemRoot is C:\WINDOWS)
//                       file    <path>             (one ending in .exe runs and ends with 0)
//                       device  present|absent|appears <instance ID> <ID>[,<ID>...] [<driver key>]
//                               ("appears": not present until the device tree is re-enumerated)
//   Pakrun.ini        the settings file beside Pakrun.exe
//   Pakrun.reg        the registry script beside it (optional)
//   StaticAddDel.inf  the text of each INF the installer is given, in the order given
//   DriverAddDel.inf  (either name, any number of blocks, none when no INF is written)
//   preview           the warnings pakrun-preview gives (checked by its own tests); an
//                     example without one draws none and passes --strict
//   run               what the run does, one step a line, in order: the step in a column of
//                     15 characters, then its text: "remove device" <instance ID>, "rename"
//                     <from> -> <to>, "start" <the command line exactly as the program gets
//                     it>, and "re-enumerate" alone.
// Line ends: the guide shows plain line feeds. The settings file and the registry script are
// written to the machine with CRLF, as on Windows; Pakrun writes its INF files in text mode,
// so each INF block is compared with its line feeds turned into CRLF. Everything else is
// compared byte for byte as it stands.
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "pakrun/pakrun.h"
#include "pakrun_fixture.h"

namespace {

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

void PrintTo(const Example& example, std::ostream* os) { *os << example.name; }

std::vector<Example> ReadGuide() {
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

std::string WithCrlf(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// "<word> <rest>": the rest without the blanks in front of it.
std::pair<std::string, std::string> Split(const std::string& line) {
  std::size_t end = line.find(' ');
  if (end == std::string::npos) return {line, ""};
  std::size_t rest = line.find_first_not_of(' ', end);
  return {line.substr(0, end), rest == std::string::npos ? "" : line.substr(rest)};
}

std::string FileNameOf(const std::string& path) { return path.substr(path.rfind('\\') + 1); }
std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('\\')); }

class GuideExample : public PakrunTest, public ::testing::WithParamInterface<Example> {
 protected:
  // Seeds the machine from the example's machine block; returns Pakrun's command line.
  std::string Seed(const std::string& block) {
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

  // The run as the guide's run block shows it.
  std::vector<std::string> RunSteps() const {
    const std::pair<const char*, const char*> kSteps[] = {{"RemoveDevice", "remove device"},
                                                          {"MoveFile", "rename"},
                                                          {"CreateProcess", "start"},
                                                          {"Reenumerate", "re-enumerate"}};
    std::vector<std::string> steps;
    for (const std::string& event : machine.Events()) {
      auto [kind, text] = Split(event);
      for (const auto& [eventKind, step] : kSteps) {
        if (kind != eventKind) continue;
        std::string row = step;
        if (!text.empty()) row.resize(15, ' ');
        steps.push_back(row + text);
      }
    }
    return steps;
  }

  std::vector<std::pair<std::string, std::string>> infs;  // (file name, text) as installed
};

TEST(GuideExamples, TheGuideHoldsAtLeastThreeCompleteExamples) {
  const std::vector<Example> examples = ReadGuide();
  EXPECT_GE(examples.size(), 3u) << GUIDE_PATH;
  for (const Example& example : examples) {
    for (const char* part : {"machine", "Pakrun.ini", "run"}) {
      EXPECT_TRUE(example.Has(part)) << example.name << " has no " << part << " block";
    }
    for (const auto& entry : example.parts) {
      bool known = false;
      for (const char* part :
           {"machine", "Pakrun.ini", "Pakrun.reg", "run", "StaticAddDel.inf", "DriverAddDel.inf",
            "preview"})
        known = known || entry.first == part;
      EXPECT_TRUE(known) << example.name << " has a block of unknown part \"" << entry.first
                         << "\"";
    }
  }
}

TEST_P(GuideExample, PakrunWritesTheInfTextsAndRunsTheStepsShown) {
  const Example& example = GetParam();
  const std::string command = Seed(example.Part("machine"));
  const std::string program = machine.kernel.self.modulePath;
  ASSERT_FALSE(program.empty()) << "no program line";
  const std::string stem = program.substr(0, program.rfind('.'));
  machine.files.Put(stem + ".ini", WithCrlf(example.Part("Pakrun.ini")));
  if (example.Has("Pakrun.reg"))
    machine.files.Put(stem + ".reg", WithCrlf(example.Part("Pakrun.reg")));
  // The installer keeps the name and text of each INF it is given; the registry editor is
  // the Windows directory's.
  machine.programs.Add(kInstallerPath, [this](sim::Machine& m, const std::string& line) {
    std::string path = line.substr(line.rfind(' ') + 1);
    infs.emplace_back(FileNameOf(path), m.files.Read(path).value_or("<missing>"));
    return sim::InfInstaller()(m, line);
  });
  machine.programs.Add(machine.kernel.windowsDirectory + "\\regedit.exe", sim::RegistryEditor());

  EXPECT_EQ(1, PakrunMain(command.c_str()));

  std::vector<std::pair<std::string, std::string>> shown;
  for (const auto& [part, text] : example.parts) {
    if (part == "StaticAddDel.inf" || part == "DriverAddDel.inf")
      shown.emplace_back(part, WithCrlf(text));
  }
  EXPECT_EQ(shown, infs);
  EXPECT_EQ(Lines(example.Part("run")), RunSteps());
}

INSTANTIATE_TEST_SUITE_P(Guide, GuideExample, ::testing::ValuesIn(ReadGuide()),
                         [](const ::testing::TestParamInfo<Example>& param) {
                           std::string name = param.param.name;
                           for (char& c : name) {
                             if (c == '-') c = '_';
                           }
                           return name;
                         });

}  // namespace
