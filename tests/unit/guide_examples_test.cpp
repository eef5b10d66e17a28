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
#include <string>
#include <utility>
#include <vector>

#include "guide_examples.h"
#include "pakrun/pakrun.h"
#include "pakrun_fixture.h"

namespace {

using guide::Example;
using guide::FileNameOf;
using guide::Lines;
using guide::ReadGuide;
using guide::Split;
using guide::WithCrlf;

class GuideExample : public PakrunTest, public ::testing::WithParamInterface<Example> {
 protected:
  std::string Seed(const std::string& block) { return guide::SeedMachine(machine, block); }

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
