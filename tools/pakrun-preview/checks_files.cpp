// The settings file as a whole (its encoding, its disable comments) and the registry
// script beside it.
#include "tools/pakrun-preview/checks.h"

namespace preview {

namespace {

bool Utf8Marked(const std::string& bytes) { return bytes.rfind("\xEF\xBB\xBF", 0) == 0; }

constexpr char kVersion4[] = "REGEDIT4";
constexpr char kVersion5[] = "Windows Registry Editor Version 5.00";

// The script read and switched on: what its checks look at.
const std::string* Script(const Context& c) {
  return c.ini.SwitchOn("STATICREGFROMFILE") && c.in.script ? &*c.in.script : nullptr;
}

// The script's first line, trimmed (empty for an empty script).
std::string Header(const Context& c) { return c.scriptLines.empty() ? "" : c.scriptLines.front(); }

bool HexDigits(const std::string& text, std::size_t most) {
  return !text.empty() && text.size() <= most && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

// What regedit would refuse or read otherwise in a value's data; empty when it reads it.
std::string DataProblem(const std::string& data) {
  if (data == "-" || (data.size() >= 2 && data.front() == '"' && data.back() == '"')) return "";
  if (data.rfind("dword:", 0) == 0) return HexDigits(data.substr(6), 8) ? "" : "\"" + data + "\" is no dword: 1 to 8 hexadecimal digits";
  const std::size_t colon = data.find(':');
  const std::string type = data.substr(0, colon);
  const bool hexType = type == "hex" || (type.rfind("hex(", 0) == 0 && type.back() == ')' && HexDigits(type.substr(4, type.size() - 5), 8));
  if (colon == std::string::npos || !hexType) return "\"" + data + "\" is no data regedit reads (\"text\", dword:, hex:, -)";
  const std::string bytes = data.substr(colon + 1);
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t comma = bytes.find(',', at);
    const std::string byte = sim::Trim(bytes.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
    if (!HexDigits(byte, 2)) return "\"" + byte + "\" in " + type + ": data is no byte (two hexadecimal digits)";
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return "";
}

// One logical line of the script (continued lines joined), with its first line's number.
struct ScriptLineText {
  int line;
  std::string text;
};

// The script's lines after its header, when it has one regedit reads.
std::vector<ScriptLineText> ScriptBody(const Context& c) {
  const std::vector<std::string>& lines = c.scriptLines;
  std::vector<ScriptLineText> body;
  if (lines.empty() || (lines[0] != kVersion4 && lines[0] != kVersion5)) return body;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::string line = lines[i];
    const std::size_t first = i;
    while (!line.empty() && line.back() == '\\' && i + 1 < lines.size()) line = line.substr(0, line.size() - 1) + lines[++i];
    if (line.empty() || line[0] == ';') continue;
    body.push_back(ScriptLineText{static_cast<int>(first) + 1, line});
  }
  return body;
}

// Where the data of a value line begins (after its '='), or npos when the line is no
// key, value or comment.
std::size_t DataStart(const std::string& line) {
  std::size_t equals = std::string::npos;
  if (line[0] == '@') {
    equals = line.find('=');
  } else if (line[0] == '"') {
    for (std::size_t at = 1; at < line.size(); ++at) {
      if (line[at] == '\\') {
        ++at;
      } else if (line[at] == '"') {
        equals = line.find_first_not_of(" \t", at + 1);
        break;
      }
    }
  }
  return equals == std::string::npos || line[equals] != '=' ? std::string::npos : equals + 1;
}

void WarnScriptLine(Context& c, const char* id, int line, const std::string& what) {
  c.WarnScript(id, line, c.in.scriptName + " line " + std::to_string(line) + ": " + what);
}

}  // namespace

// Windows 2000 and later read a UTF-16 settings file; Windows 98 reads it as bytes and
// finds no section.
void SettingsUtf16(Context& c) {
  if (sim::HasUtf16LeMark(c.in.settings))
    c.WarnFile("PP001", "the settings file is UTF-16 (\"Unicode\"): Windows 2000, XP and later read it, Windows 98 reads "
                        "no section of it; save it as ANSI");
}

// No Windows knows a UTF-8 byte-order mark in a profile file: it stays part of the first line.
void Utf8Mark(Context& c) {
  const std::string& bytes = c.in.settings;
  if (!Utf8Marked(bytes)) return;
  const std::string first = sim::Trim(std::string(sim::ProfileLines(bytes).front().substr(3)));
  if (auto name = sim::SectionName(first))
    c.Add("PP002", *name, "", "the UTF-8 byte-order mark before this first line is read by Windows as part of it: "
                             "the section is never read (Wine reads past the mark); save the file as ANSI",
          Place{c.in.settingsFile, 1, 1});
  else
    c.WarnFile("PP002", "a UTF-8 byte-order mark begins the settings file: Windows reads it as part of the first line; "
                        "save the file as ANSI");
}

// The profile functions end a name or value at a NUL byte (what follows it on that line is
// lost); the keys of the file are read.
void NulByte(Context& c) {
  if (sim::HasUtf16LeMark(c.in.settings)) return;
  int number = 0;
  for (std::string_view line : sim::ProfileLines(c.settingsText)) {
    ++number;
    const std::size_t nul = line.find('\0');
    if (nul == std::string_view::npos) continue;
    c.WarnFile("PP003", "a NUL byte: the profile functions end the name or value there (as Wine does; Windows documents nothing), so the rest of the line is lost; remove it",
               number, static_cast<int>(nul) + 1);
    return;
  }
}

void UnknownDisabledCheck(Context& c) {
  for (const Context::Directive& directive : c.directives) {
    if (FindCheck(directive.id.c_str()) == nullptr)
      c.WarnFile("PP004", "\"" + directive.id + "\" is no check of pakrun-preview (pakrun-preview --list-checks lists them): the comment silences nothing",
                 directive.line, directive.column);
  }
}

void ScriptMissing(Context& c) {
  if (!c.ini.SwitchOn("STATICREGFROMFILE") || c.in.script) return;
  const std::string& looked = c.in.scriptSource.empty() ? c.in.scriptName : c.in.scriptSource;
  c.Warn("PP501", "PARAMS", "STATICREGFROMFILE",
         "no registry script " + looked + " beside the settings file (Pakrun looks for " + c.in.scriptName + "): regedit imports nothing");
}

void ScriptHeader(Context& c) {
  const std::string* script = Script(c);
  if (script == nullptr) return;
  const std::string first = Header(c);
  if (first != kVersion4 && first != kVersion5)
    c.WarnScript("PP502", 1, c.in.scriptName + " does not begin with REGEDIT4 or Windows Registry Editor Version 5.00: regedit imports nothing");
}

// The forms regedit reads: Windows 98's only ANSI text beginning REGEDIT4; 2000 and later
// also version 5.00, ANSI or UTF-16LE with its mark.
void ScriptUtf16(Context& c) {
  const std::string* script = Script(c);
  if (script != nullptr && sim::HasUtf16LeMark(*script))
    c.WarnScript("PP503", 1, c.in.scriptName + " is UTF-16: the registry editor of Windows 98 does not read it and imports nothing "
                                               "(2000 and later do); save it as ANSI with REGEDIT4");
}

void ScriptVersion5(Context& c) {
  const std::string* script = Script(c);
  if (script != nullptr && !sim::HasUtf16LeMark(*script) && Header(c) == kVersion5)
    c.WarnScript("PP504", 1, c.in.scriptName + " begins with Windows Registry Editor Version 5.00: the registry editor of Windows 98 "
                                               "reads only REGEDIT4 and imports nothing (2000 and later read both); begin it with REGEDIT4");
}

void ScriptRoot(Context& c) {
  const std::string* script = Script(c);
  if (script == nullptr) return;
  for (const ScriptLineText& line : ScriptBody(c)) {
    if (line.text[0] != '[') continue;
    const std::size_t from = line.text.size() > 1 && line.text[1] == '-' ? 2 : 1;
    const std::size_t close = line.text.find(']');
    const std::string key = line.text.substr(from, close == std::string::npos ? std::string::npos : close - from);
    const std::string root = key.substr(0, key.find('\\'));
    bool known = false;
    for (const char* name : {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT", "HKEY_USERS", "HKEY_CURRENT_CONFIG"})
      known = known || root == name;
    if (!known)
      WarnScriptLine(c, "PP505", line.line, "regedit knows no root \"" + root + "\": the key is not " + (from == 2 ? "deleted" : "written"));
  }
}

void ScriptLine(Context& c) {
  const std::string* script = Script(c);
  if (script == nullptr) return;
  for (const ScriptLineText& line : ScriptBody(c)) {
    if (line.text[0] != '[' && DataStart(line.text) == std::string::npos)
      WarnScriptLine(c, "PP506", line.line, "regedit reads no key, value or comment in \"" + line.text.substr(0, 40) + "\"");
  }
}

void ScriptData(Context& c) {
  const std::string* script = Script(c);
  if (script == nullptr) return;
  for (const ScriptLineText& line : ScriptBody(c)) {
    if (line.text[0] == '[') continue;
    const std::size_t start = DataStart(line.text);
    if (start == std::string::npos) continue;
    const std::string problem = DataProblem(sim::Trim(line.text.substr(start)));
    if (!problem.empty()) WarnScriptLine(c, "PP507", line.line, problem);
  }
}

}  // namespace preview
