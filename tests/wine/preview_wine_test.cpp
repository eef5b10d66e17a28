// pakrun-preview's plans against Pakrun.exe itself. For each case the native preview has
// written its JSON plan beforehand (the fixture wine.preview.expected); this test builds
// the machine that plan describes in the prefix (the program, its settings file and
// registry script, the devices, the reported Windows version, TEMP in a scratch folder),
// runs the shipped Pakrun.exe there with a recorder in place of the setup program and of
// the INF installer, and compares what Pakrun really started and handed on with the
// plan: every command line in order, byte for byte, the full text of every INF file, the
// values the real registry editor set, the renames and the files removed.
//
// Wine gives every process the prefix's own SystemRoot, whatever its parent set, so the
// installer Pakrun starts is the prefix's system32\rundll32.exe: the test puts the
// recorder there for its run, with the native load order that a program of a builtin's
// name needs, and puts the original back afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testbed/support/devices.h"
#include "tools/pakrun-preview/escape.h"
#include "support.h"

namespace {

using preview::Json;

// A string of the plan as the bytes it stands for; empty for anything else (a member
// missing from a non-const object reads as null).
std::string Bytes(const Json& value) {
  return value.is_string() ? preview::escape::BytesOf(value.get<std::string>()) : std::string();
}

const std::string kTestKey = "SOFTWARE\\PakrunPreviewWine";
const std::string kDllOverrides = "Software\\Wine\\DllOverrides";

// "/a/b" as Wine's drive Z: sees it.
std::string FromUnix(const std::string& path) {
  std::string windows = "Z:" + path;
  for (char& c : windows) c = c == '/' ? '\\' : c;
  return windows;
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('\\')); }

// The program a command line starts: its first token, quoted or up to the first blank.
std::string FirstToken(const std::string& commandLine) {
  if (!commandLine.empty() && commandLine[0] == '"') return commandLine.substr(1, commandLine.find('"', 1) - 1);
  return commandLine.substr(0, commandLine.find(' '));
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

// The version Wine reports for each --windows name.
std::string WineVersion(const std::string& windows) {
  if (windows == "2000") return "win2k";
  if (windows == "xp") return "winxp";
  if (windows == "2003") return "win2003";
  if (windows == "98") return "win98";
  return "";  // Wine's own default, Windows 7
}

class PreviewWine : public ::testing::Test {
 protected:
  void TearDown() override {
    if (!installer_.empty()) {
      EXPECT_TRUE(wt::WriteFile(wt::SystemDir() + "\\rundll32.exe", installer_));
      HKEY key = nullptr;
      if (RegOpenKeyExA(HKEY_CURRENT_USER, kDllOverrides.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, "rundll32.exe");
        RegCloseKey(key);
      }
    }
    for (const std::string& file : files_) DeleteFileA(file.c_str());
    wt::SetReportedVersion("Pakrun.exe", "");
    wt::RegDeleteTree(HKEY_LOCAL_MACHINE, kTestKey);
    for (const std::string& device : devices_) wt::RemoveDevice(device);
    for (const auto& [name, value] : environment_)
      SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
  }

  void SetVariable(const std::string& name, const std::string& value) {
    char old[MAX_PATH] = {};
    DWORD length = GetEnvironmentVariableA(name.c_str(), old, sizeof old);
    environment_.emplace_back(name, length > 0 && length < sizeof old ? old : "");
    ASSERT_TRUE(SetEnvironmentVariableA(name.c_str(), value.c_str()));
  }

  // Sets up the machine of the plan in `name`.json, runs Pakrun.exe there, and compares.
  void Check(const std::string& name) {
    std::string text = wt::ReadFile(std::string(PREVIEW_EXPECTED_DIR) + "\\" + name + ".json");
    ASSERT_FALSE(text.empty()) << "no plan for " << name << " (the fixture wine.preview.expected did not run)";
    Json plan = Json::parse(text, nullptr, false);
    ASSERT_FALSE(plan.is_discarded()) << text;
    Json& machine = plan["machine"];
    Json& steps = plan["steps"];
    ASSERT_FALSE(steps.empty());

    const std::string program = Bytes(machine["program"]);
    const std::string folder = FolderOf(program);
    const std::string systemRoot = Bytes(machine["system_root"]);
    ASSERT_EQ(0, lstrcmpiA(wt::WindowsDir().c_str(), systemRoot.c_str()))
        << "Wine's SystemRoot is its Windows folder: the case must say --windir " << wt::WindowsDir();
    wt::RemoveTree(folder);
    ASSERT_TRUE(wt::MakeDirs(folder));
    ASSERT_TRUE(wt::MakeDirs(Bytes(machine["temp"])));
    ASSERT_TRUE(wt::CopyFromBuild("Pakrun.exe", program));
    const std::string settingsFile = Bytes(machine["settings_file"]);
    ASSERT_TRUE(wt::WriteFile(Bytes(machine["settings_path"]), wt::ReadFile(FromUnix(settingsFile))));
    if (machine["script_present"] == true) {
      std::string script = settingsFile.substr(0, settingsFile.rfind('.')) + ".reg";
      ASSERT_TRUE(wt::WriteFile(Bytes(machine["script_path"]), wt::ReadFile(FromUnix(script))));
    }
    for (Json& file : machine["assumed_files"]) {
      const std::string path = Bytes(file);
      files_.push_back(path);
      files_.push_back(path.substr(0, path.rfind('.')) + ".org");
      DeleteFileA(files_.back().c_str());
      ASSERT_TRUE(wt::WriteFile(path, ""));
    }
    const std::string installer = wt::SystemDir() + "\\rundll32.exe";
    installer_ = wt::ReadFile(installer);
    ASSERT_FALSE(installer_.empty());
    ASSERT_TRUE(wt::RegSetString(HKEY_CURRENT_USER, kDllOverrides, "rundll32.exe", "native"));
    ASSERT_TRUE(wt::CopyFromBuild("startrecorder.exe", installer));
    for (Json& step : steps) {
      if (Bytes(step["kind"]) == "start" && Bytes(step["program"]) == "setup") {
        ASSERT_TRUE(wt::CopyFromBuild("startrecorder.exe", FirstToken(Bytes(step["command_line"]))));
      }
    }
    for (Json& device : machine["devices"]) {
      // Wine lists every device as present, so a plan with an absent one cannot be shown.
      ASSERT_TRUE(device["present"] == true) << Bytes(device["hardware_id"]);
      const std::string instance = Bytes(device["instance_id"]);
      wt::RemoveDevice(instance);
      devices_.push_back(instance);
      ASSERT_TRUE(wt::CreateDevice(instance, {Bytes(device["hardware_id"])}, Bytes(device["driver_key"])));
    }
    ASSERT_TRUE(wt::SetReportedVersion("Pakrun.exe", WineVersion(Bytes(machine["windows"]))));
    const std::string log = folder + "\\starts.log";
    SetVariable("TEMP", Bytes(machine["temp"]));
    SetVariable("START_RECORD_LOG", log);

    EXPECT_EQ(steps.back()["code"].get<DWORD>(), wt::Run(Bytes(machine["command_line"])));

    // Every program started, in order; the real registry editor is shown by what it set.
    std::vector<std::string> expected;
    std::vector<std::string> infTexts;  // per recorded start: the INF written before it
    std::string lastWritten;
    for (Json& step : steps) {
      const std::string kind = Bytes(step["kind"]);
      if (kind == "write_file") lastWritten = Bytes(step["text"]);
      if (kind != "start") continue;
      if (Bytes(step["program"]) == "registry_editor") {
        for (Json& change : step["changes"]) CheckRegistry(change);
        continue;
      }
      expected.push_back(Bytes(step["command_line"]));
      infTexts.push_back(Bytes(step["program"]) == "inf_installer" ? lastWritten : "");
    }
    std::vector<std::string> recorded = Lines(wt::ReadFile(log));
    EXPECT_EQ(expected, recorded);
    for (std::size_t i = 0; i < infTexts.size() && i < recorded.size(); ++i) {
      if (!infTexts[i].empty()) {
        EXPECT_EQ(infTexts[i], wt::ReadFile(log + "." + std::to_string(i))) << recorded[i];
      }
    }
    for (Json& step : steps) {
      if (Bytes(step["kind"]) == "rename") {
        EXPECT_FALSE(wt::FileExists(Bytes(step["path"])));
        EXPECT_TRUE(wt::FileExists(Bytes(step["new_path"])));
      } else if (Bytes(step["kind"]) == "delete_file") {
        EXPECT_FALSE(wt::FileExists(Bytes(step["path"])));
      }
    }
  }

  void CheckRegistry(Json& change) {
    const std::string key = Bytes(change["key"]);
    ASSERT_EQ("set", Bytes(change["action"]));
    ASSERT_EQ(0u, key.rfind("HKLM\\" + kTestKey, 0)) << "cases change only " << kTestKey << ": " << key;
    const std::string path = key.substr(5);
    if (Bytes(change["type"]) == "REG_DWORD") {
      DWORD number = 0;
      EXPECT_TRUE(wt::RegGetDword(HKEY_LOCAL_MACHINE, path, Bytes(change["name"]), &number)) << key;
      EXPECT_EQ(change["number"].get<DWORD>(), number) << key;
    } else {
      ASSERT_EQ("REG_SZ", Bytes(change["type"]));
      std::string value;
      EXPECT_TRUE(wt::RegGetString(HKEY_LOCAL_MACHINE, path, Bytes(change["name"]), &value)) << key;
      EXPECT_EQ(Bytes(change["value"]), value) << key;
    }
  }

  std::string installer_;            // the prefix's own rundll32.exe, put back afterwards
  std::vector<std::string> files_;   // the cached INF files and their renamed copies
  std::vector<std::string> devices_;
  std::vector<std::pair<std::string, std::string>> environment_;
};

TEST_F(PreviewWine, EveryStepOnWindowsXp) { Check("full"); }
TEST_F(PreviewWine, EveryStepOnWindows2000) { Check("full2000"); }
TEST_F(PreviewWine, SwappedSetupProgramWithQuotedTail) { Check("swapcmd"); }
TEST_F(PreviewWine, DefaultSetupProgramAndWholeKeyDelete) { Check("plain"); }
TEST_F(PreviewWine, DeviceSectionsByIdWithoutCase) { Check("drivers"); }

}  // namespace
