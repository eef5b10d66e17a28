// The utility closer against process tables of any content: executable names of any
// bytes and lengths (beyond MAX_PATH, with zeros, in any letter case), module lists as
// the 9x family's Toolhelp reports them, processes that refuse querying or ending, that
// have ended, whose module list cannot be taken, tables long enough to need a larger
// process list; the NT family (PSAPI), the 9x family (Toolhelp) and an unknown platform.
// Runs QuitpanelMain or EndProcessByName with a name of any bytes. A model of the
// documented search predicts each result; checked:
//   - at most one process is ended per name, and only one whose name matches (letter
//     case ignored on the NT family, exact upper case of a module on the 9x family, the
//     name "Unknown" for a process that cannot be queried), with exit code 0;
//   - exactly the process and the result the model predicts; nothing stays open, no
//     process handle is inherited.
//
// Input: a byte for the family, the call, a long table and PSAPI.DLL missing; the number of
// processes, each with flags, name and modules; the name to end, when the call takes one.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "quitpanel/end_process.h"
#include "quitpanel/quitpanel.h"

namespace {

constexpr std::size_t kExeNameRoom = 259;     // MAX_PATH - 1: what the NT search compares
constexpr std::size_t kModuleNameRoom = 255;  // MAX_MODULE_NAME32: what Toolhelp reports
const char* const kNames[] = {"Linkdesk.exe", "LINKDESK.EXE", "linkdesk.exe", "Svcpilot.exe",
                              "SVCPILOT.EXE", "explorer.exe", "Unknown",      "KERNEL32.DLL"};

enum class Family { kNt, k9x, kUnknown, k2000 };

std::string Upper(std::string text) { return sim::Upper(std::move(text)); }
std::string UpToZero(const std::string& text) { return text.substr(0, text.find('\0')); }

std::string Name(fuzz::Input& input, bool preset) {
  return preset ? std::string(kNames[input.Choice(8)]) : input.LongText(300);
}

struct Prediction {
  int result;
  std::optional<std::size_t> ended;  // index into the process table
};

// The documented search for `name` over the table as it is now.
Prediction Predict(const sim::Machine& m, Family family, bool noPsapi, const std::string& name) {
  if (name.empty() || name.size() > static_cast<std::size_t>(kMaxTargetName)) return {kBadName, {}};
  const std::string target = Upper(name);
  if (family == Family::kUnknown) return {kPlatformUnknown, {}};
  if (family != Family::k9x && noPsapi) return {kPsapiMissing, {}};
  const auto& processes = m.kernel.processes;
  auto end = [&processes](std::size_t index) -> Prediction {
    const sim::Process& process = processes[index];
    if (process.refuseTerminate) return {kOpenForEndingFailed, {}};
    if (process.terminateFails) return {kTerminateFailed, {}};
    return {kEnded, index};
  };
  for (std::size_t i = 0; i < processes.size(); ++i) {
    const sim::Process& process = processes[i];
    if (!process.running) continue;
    if (family == Family::k9x) {
      if (process.moduleSnapshotFails) return {kSnapshotFailed, {}};
      for (const std::string& module : process.modules) {
        if (UpToZero(module.substr(0, kModuleNameRoom)) == target) return end(i);
      }
      continue;
    }
    std::string seen = process.refuseQuery || process.modules.empty()
                           ? std::string("Unknown")
                           : UpToZero(process.exe.substr(0, kExeNameRoom));
    if (Upper(seen) == target) return end(i);
  }
  return {kNoMatch, {}};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input input(data, size);
  const std::uint8_t setup = input.Byte();
  const auto family = static_cast<Family>(setup & 3);
  const unsigned call = (setup >> 2) & 3;  // 0 QuitpanelMain, 1 a name, 2 a preset, 3 a table name

  sim::Machine m;
  switch (family) {
    case Family::kNt:
      m.kernel.version = sim::VersionInfo{5, 1, 2600, VER_PLATFORM_WIN32_NT, "Service Pack 3"};
      break;
    case Family::k9x:
      m.kernel.version = sim::VersionInfo{4, 10, 2222, VER_PLATFORM_WIN32_WINDOWS, " A "};
      break;
    case Family::kUnknown:
      m.kernel.version = sim::VersionInfo{3, 0, 0, 3, ""};
      break;
    case Family::k2000:
      m.kernel.version = sim::VersionInfo{5, 0, 2195, VER_PLATFORM_WIN32_NT, "Service Pack 4"};
      break;
  }
  if ((setup & 0x10) != 0) {
    for (int i = 0; i < 1100; ++i) m.kernel.AddProcess("svchost.exe");
  }
  // PSAPI.DLL comes from the system directory only: a relative one, or none there.
  const bool noPsapi = (setup & 0x60) != 0;
  if ((setup & 0x20) != 0) m.kernel.systemDirectory = "system32";
  if ((setup & 0x40) != 0) m.kernel.FindLibrary("PSAPI.DLL")->present = false;

  for (unsigned records = input.Choice(41); records > 0; --records) {
    const std::uint8_t flags = input.Byte();
    const std::uint8_t modules = input.Byte();
    std::string exe = Name(input, (flags & 0x80) != 0);
    sim::Process& process = m.kernel.AddProcess(exe);
    process.refuseQuery = (flags & 0x01) != 0;
    process.refuseTerminate = (flags & 0x02) != 0;
    process.terminateFails = (flags & 0x04) != 0;
    process.moduleSnapshotFails = (flags & 0x08) != 0;
    process.running = (flags & 0x10) == 0;
    // Modules as Toolhelp reports them: the executable as stored (upper case, or as
    // given), then further ones; or none at all.
    if ((flags & 0x20) != 0) {
      process.modules.clear();
    } else {
      if ((modules & 0x04) != 0) process.modules[0] = exe;
      for (unsigned extra = modules & 3u; extra > 0; --extra)
        process.modules.push_back(Name(input, (modules & 0x08) != 0));
    }
  }

  std::vector<std::string> names;
  if (call == 0) {
    names = {"Linkdesk.exe", "Svcpilot.exe"};
  } else if (call == 1) {
    names = {input.LongText(300)};
  } else if (call == 2) {
    names = {kNames[input.Choice(8)]};
  } else {
    std::string name;
    if (!m.kernel.processes.empty()) {
      name = m.kernel.processes[input.Choice(static_cast<unsigned>(m.kernel.processes.size()))].exe;
      std::uint8_t flips = input.Byte();
      for (std::size_t i = 0; i < name.size(); ++i) {
        char& c = name[i];
        if (((flips >> (i % 8)) & 1) == 0) continue;
        if (c >= 'a' && c <= 'z')
          c = static_cast<char>(c - 32);
        else if (c >= 'A' && c <= 'Z')
          c = static_cast<char>(c + 32);
      }
    }
    names = {name};
  }
  for (std::string& name : names) name = UpToZero(name);  // as a C string reaches the program

  std::vector<Prediction> predictions;
  std::vector<int> results;
  std::vector<bool> runningBefore;
  for (const sim::Process& process : m.kernel.processes) runningBefore.push_back(process.running);
  if (call == 0) {
    // The model follows the two calls in turn, the first one's ending seen by the second.
    std::vector<bool> running = runningBefore;
    for (const std::string& name : names) {
      Prediction p = Predict(m, family, noPsapi, name);
      if (p.ended) m.kernel.processes[*p.ended].running = false;
      predictions.push_back(p);
    }
    for (std::size_t i = 0; i < running.size(); ++i) m.kernel.processes[i].running = running[i];
    QuitpanelMain();
  } else {
    predictions.push_back(Predict(m, family, noPsapi, names[0]));
    results.push_back(EndProcessByName(names[0].c_str()));
  }
  fuzz::ExpectClean(m);

  std::vector<std::size_t> ended;
  for (std::size_t i = 0; i < m.kernel.processes.size(); ++i) {
    const sim::Process& process = m.kernel.processes[i];
    FUZZ_CHECK(process.running || !runningBefore[i] || process.exitCode == 0,
               "process %zu ended with exit code %u", i, process.exitCode);
    if (runningBefore[i] && !process.running) ended.push_back(i);
  }
  FUZZ_TRACE("%zu ended", ended.size());

  // At most one per name, each one whose name matches.
  FUZZ_CHECK(ended.size() <= names.size(), "%zu processes ended for %zu names", ended.size(),
             names.size());
  for (std::size_t index : ended) {
    const sim::Process& process = m.kernel.processes[index];
    bool matches = false;
    for (const std::string& name : names) {
      const std::string target = Upper(name);
      if (family == Family::k9x) {
        for (const std::string& module : process.modules)
          matches = matches || UpToZero(module.substr(0, kModuleNameRoom)) == target;
      } else {
        std::string seen = process.refuseQuery || process.modules.empty()
                               ? std::string("Unknown")
                               : UpToZero(process.exe.substr(0, kExeNameRoom));
        matches = matches || Upper(seen) == target;
      }
    }
    FUZZ_CHECK(matches, "process %zu (%s) ended, its name matches none of those asked for", index,
               fuzz::Shown(process.exe).c_str());
  }

  // Exactly as predicted.
  std::vector<std::size_t> expected;
  for (const Prediction& p : predictions) {
    if (p.ended) expected.push_back(*p.ended);
  }
  std::sort(expected.begin(), expected.end());
  FUZZ_CHECK(ended == expected, "%zu processes ended (first %zu), %zu expected (first %zu)",
             ended.size(), ended.empty() ? 0 : ended[0], expected.size(),
             expected.empty() ? 0 : expected[0]);
  for (std::size_t i = 0; i < results.size(); ++i) {
    FUZZ_CHECK(results[i] == predictions[i].result, "EndProcessByName(%s) = %d, expected %d",
               fuzz::Shown(names[i]).c_str(), results[i], predictions[i].result);
  }
  for (const auto& arguments : m.ArgumentsOf("OpenProcess")) {
    FUZZ_CHECK(arguments.at("inherit") == "no", "a process handle was opened to be inherited");
  }
  return 0;
}
