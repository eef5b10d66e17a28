// The registry editor on the substitute machine: "regedit /s <file>" imports a registry
// script into the machine's registry.
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/sim/machine.h"

namespace sim {

namespace {

// The detail of a deletion that found nothing to delete.
constexpr char kNotThere[] = "(not there)";

// "HKEY_LOCAL_MACHINE\SOFTWARE\..." as "HKLM\SOFTWARE\..."; empty for an unknown root.
std::string ShortRoot(const std::string& path) {
  static const std::pair<const char*, const char*> kRoots[] = {
      {"HKEY_LOCAL_MACHINE", "HKLM"}, {"HKEY_CURRENT_USER", "HKCU"},
      {"HKEY_CLASSES_ROOT", "HKCR"},  {"HKEY_USERS", "HKU"}};
  std::string root = path.substr(0, path.find('\\'));
  for (const auto& [longName, shortName] : kRoots) {
    if (SameText(root, longName)) return shortName + path.substr(root.size());
  }
  return "";
}

// A quoted text with \\ and \" escapes, from `at` (on the opening quote); `at` ends
// after the closing quote. False when it is not closed.
bool Quoted(const std::string& line, std::size_t& at, std::string* text) {
  if (at >= line.size() || line[at] != '"') return false;
  for (++at; at < line.size(); ++at) {
    char c = line[at];
    if (c == '\\' && at + 1 < line.size()) {
      *text += line[++at];
    } else if (c == '"') {
      ++at;
      return true;
    } else {
      *text += c;
    }
  }
  return false;
}

bool HexDigits(const std::string& text, std::size_t most) {
  return !text.empty() && text.size() <= most &&
         text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

// The bytes of a hex list ("01,02, ff"); none when an entry is no byte of one or two
// hexadecimal digits: the editor refuses such a value.
std::optional<std::vector<unsigned char>> HexBytes(const std::string& list) {
  std::vector<unsigned char> bytes;
  std::size_t at = 0;
  while (at < list.size()) {
    std::size_t end = list.find(',', at);
    if (end == std::string::npos) end = list.size();
    std::string one = Trim(list.substr(at, end - at));
    if (!HexDigits(one, 2)) return std::nullopt;
    bytes.push_back(static_cast<unsigned char>(std::strtoul(one.c_str(), nullptr, 16)));
    at = end + 1;
  }
  return bytes;
}

// `wide`: the script is a version 5 file, whose hex(2) and hex(7) data are UTF-16 strings;
// the machine's registry holds them as the ANSI functions read them.
void ImportValue(Machine& m, const std::string& keyPath, const std::string& line, bool wide) {
  std::string name;
  std::size_t at = 0;
  if (line[0] == '@') {
    at = 1;
  } else if (!Quoted(line, at, &name)) {
    return;
  }
  while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
  if (at >= line.size() || line[at] != '=') return;
  std::string data = Trim(line.substr(at + 1));
  if (data == "-") {
    // Every deletion the script asks for is logged, also of a value the machine does not
    // hold: the script's own deletions are what a reader of the log looks for.
    Event event = Event::OnValue("Regedit deletes", keyPath, name).Did(Effect::kValueDeleted, true);
    if (!m.registry.DeleteValue(keyPath, name)) {
      event.detail = kNotThere;
      event.existed = false;
    }
    m.Log(event);
    return;
  }
  if (!data.empty() && data[0] == '"') {
    std::string text;
    std::size_t from = 0;
    if (!Quoted(data, from, &text)) return;
    m.registry.SetString(keyPath, name, text);
  } else if (data.rfind("dword:", 0) == 0) {
    // One to eight hexadecimal digits; anything else is refused.
    if (!HexDigits(data.substr(6), 8)) return;
    m.registry.SetDword(keyPath, name,
                        static_cast<std::uint32_t>(std::strtoul(data.c_str() + 6, nullptr, 16)));
  } else if (data.rfind("hex:", 0) == 0) {
    auto bytes = HexBytes(data.substr(4));
    if (!bytes) return;
    m.registry.SetRaw(keyPath, name, REG_BINARY, *bytes);
  } else if (data.rfind("hex(", 0) == 0 && data.find("):") != std::string::npos) {
    auto close = data.find("):");
    if (!HexDigits(data.substr(4, close - 4), 8)) return;
    auto type = static_cast<std::uint32_t>(std::strtoul(data.c_str() + 4, nullptr, 16));
    auto parsed = HexBytes(data.substr(close + 2));
    if (!parsed) return;
    std::vector<unsigned char> bytes = *parsed;
    if (wide && (type == REG_EXPAND_SZ || type == REG_MULTI_SZ)) {
      const std::string ansi = AnsiOfUtf16(std::string(bytes.begin(), bytes.end()));
      bytes.assign(ansi.begin(), ansi.end());
    }
    m.registry.SetRaw(keyPath, name, type, bytes);
  } else {
    return;
  }
  m.Log(Event::OnValue("Regedit sets", keyPath, name).Did(Effect::kValueSet));
}

// The file forms the editor reads: the 9x family's only ANSI text beginning REGEDIT4; the
// NT family's also "Windows Registry Editor Version 5.00", and either as ANSI or as UTF-16LE
// with its byte-order mark (as its own export writes version 5). Any other imports nothing.
void Import(Machine& m, const std::string& bytes) {
  const bool nt = m.kernel.version.platformId == VER_PLATFORM_WIN32_NT;
  const bool utf16 = HasUtf16LeMark(bytes);
  if (utf16 && !nt) return;
  const std::string script = utf16 ? AnsiOfUtf16(bytes.substr(2)) : bytes;
  // Lines; a hex list goes on over lines that end in a backslash.
  std::vector<std::string> lines;
  std::string pending;
  for (const std::string& line : TrimmedLines(script)) {
    bool continued = !line.empty() && line.back() == '\\' &&
                     (!pending.empty() || line.find("=hex") != std::string::npos);
    if (continued) {
      pending += line.substr(0, line.size() - 1);
      continue;
    }
    lines.push_back(pending + line);
    pending.clear();
  }
  if (lines.empty()) return;
  const bool version5 = lines[0] == "Windows Registry Editor Version 5.00";
  if (lines[0] != "REGEDIT4" && !(version5 && nt)) return;
  std::string key;  // the key the following values go to; empty after an unknown one
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      auto close = line.rfind(']');
      std::string name = line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
      if (!name.empty() && name[0] == '-') {
        std::string path = ShortRoot(name.substr(1));
        if (!path.empty()) {
          const bool removed = m.registry.Remove(path);
          m.Log(Event::On("Regedit deletes key", path, removed ? "" : kNotThere).Did(Effect::kKeyDeleted, removed));
        }
        key.clear();
        continue;
      }
      key = ShortRoot(name);
      if (!key.empty()) m.registry.Create(key);
      continue;
    }
    if (!key.empty()) ImportValue(m, key, line, version5);
  }
}

}  // namespace

ProgramHandler RegistryEditor() {
  return [](Machine& m, const std::string& commandLine) -> unsigned {
    // "<program> /s <file>", the file name quoted or not.
    std::size_t at = commandLine.find_first_of(" \t");
    std::string rest = at == std::string::npos ? "" : Trim(commandLine.substr(at));
    if (rest.size() < 2 || !SameText(rest.substr(0, 2), "/s")) return 0;
    std::string file = Trim(rest.substr(2));
    if (file.size() >= 2 && file.front() == '"' && file.back() == '"')
      file = file.substr(1, file.size() - 2);
    auto script = m.files.Read(file);
    if (!script) return 0;
    m.Log(Event::On("Regedit imports", file).Did(Effect::kScriptImported, true));
    Import(m, *script);
    return 0;
  };
}

}  // namespace sim
