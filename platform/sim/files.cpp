// Files, text-mode streams, the environment and profile files of the substitute machine.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/profile.h"
#include "platform/sim/machine.h"

#define ERROR_SHARING_VIOLATION 32L

namespace sim {

std::string FileSystem::DirectoryOf(const std::string& path) {
  auto slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void FileSystem::AddDirectory(const std::string& path) {
  std::string rest = path;
  while (!rest.empty() && rest.back() == '\\') rest.pop_back();
  while (!rest.empty()) {
    directories_.insert(rest);
    rest = DirectoryOf(rest);
  }
}

bool FileSystem::HasDirectory(const std::string& path) const {
  // A drive root ("C:" or "C:\") always exists.
  if (path.size() == 2 && path[1] == ':') return true;
  if (path.size() == 3 && path[1] == ':' && path[2] == '\\') return true;
  return directories_.count(path) != 0;
}

File& FileSystem::Put(const std::string& path, const std::string& bytes) {
  AddDirectory(DirectoryOf(path));
  File& file = files_[path];
  file.bytes = bytes;
  return file;
}

File* FileSystem::Find(const std::string& path) {
  auto it = files_.find(path);
  return it == files_.end() ? nullptr : &it->second;
}

std::optional<std::string> FileSystem::ShortPathOf(const std::string& path) const {
  std::string whole = path;
  while (whole.size() > 3 && whole.back() == '\\') whole.pop_back();
  if (!HasDirectory(whole) && files_.count(whole) == 0) return std::nullopt;
  // Each part of the path that has a short name of its own is replaced by it.
  std::string shortPath;
  std::size_t start = 0;
  while (start <= whole.size()) {
    std::size_t end = whole.find('\\', start);
    if (end == std::string::npos) end = whole.size();
    std::string prefix = whole.substr(0, end);
    auto it = shortNames_.find(prefix);
    if (!shortPath.empty() || start > 0) shortPath += '\\';
    shortPath += it == shortNames_.end() ? whole.substr(start, end - start) : it->second;
    start = end + 1;
  }
  return shortPath;
}

std::optional<std::string> FileSystem::Read(const std::string& path) const {
  auto it = files_.find(path);
  if (it == files_.end()) return std::nullopt;
  return it->second.bytes;
}

namespace {

// A C runtime stream open on a file of the machine. Text written is appended to the
// file at once; in text mode each line feed is stored as carriage return plus line feed.
struct StreamObject : HandleObject {
  const char* Kind() const override { return "text stream"; }
  bool IsKernelObject() const override { return false; }
  std::string path;
  bool textMode = true;
};

StreamObject* OpenStreamOf(Machine& m, TextStream* stream, const char* operation) {
  auto* object = m.Lookup<StreamObject>(reinterpret_cast<HANDLE>(stream));
  if (object == nullptr) m.Misuse(std::string(operation) + " on a stream that is not open");
  return object;
}

}  // namespace
}  // namespace sim

using sim::Current;
using sim::Failure;

TextStream* OpenTextStream(const char* path, const char* mode) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("OpenTextStream")) return nullptr;
  std::string how = mode == nullptr ? "" : mode;
  if (path == nullptr || how.empty() || how.find_first_not_of("wa+tb") != std::string::npos ||
      (how[0] != 'w' && how[0] != 'a')) {
    m.Misuse("OpenTextStream with a mode other than writing or appending: " + how);
    return nullptr;
  }
  std::string file = path;
  if (!m.files.HasDirectory(sim::FileSystem::DirectoryOf(file))) return nullptr;
  sim::File* existing = m.files.Find(file);
  if (existing != nullptr && existing->readOnly) return nullptr;
  if (existing == nullptr) {
    m.files.Put(file, "");
  } else if (how[0] == 'w') {
    existing->bytes.clear();
  }
  auto object = std::make_unique<sim::StreamObject>();
  object->path = file;
  object->textMode = how.find('b') == std::string::npos;
  ++m.files.openStreams[file];
  m.Log("OpenTextStream " + file + " " + how);
  return reinterpret_cast<TextStream*>(m.OpenHandle(std::move(object)));
}

void WriteTextStream(TextStream* stream, const char* format, ...) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("WriteTextStream")) return;
  sim::StreamObject* object = sim::OpenStreamOf(m, stream, "WriteTextStream");
  if (object == nullptr) return;
  va_list arguments;
  va_start(arguments, format);
  va_list again;
  va_copy(again, arguments);
  int length = std::vsnprintf(nullptr, 0, format, arguments);
  va_end(arguments);
  std::vector<char> text(static_cast<std::size_t>(length < 0 ? 0 : length) + 1);
  std::vsnprintf(text.data(), text.size(), format, again);
  va_end(again);
  std::string stored;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '\n' && object->textMode) stored += '\r';
    stored += text[i];
  }
  m.files.Put(object->path, m.files.Read(object->path).value_or("") + stored);
}

bool CloseTextStream(TextStream* stream) {
  sim::Machine& m = Current();
  auto fault = m.Enter("CloseTextStream");
  sim::StreamObject* object = sim::OpenStreamOf(m, stream, "CloseTextStream");
  if (object == nullptr) return false;
  std::string path = object->path;
  // The stream is released even when the close fails.
  m.CloseHandleOf(reinterpret_cast<HANDLE>(stream));
  if (--m.files.openStreams[path] == 0) m.files.openStreams.erase(path);
  m.Log("CloseTextStream " + path);
  if (fault) return false;
  if (m.files.failCloseOf.erase(path) != 0) return false;
  return true;
}

const char* EnvironmentValue(const char* name) {
  sim::Machine& m = Current();
  m.Enter("EnvironmentValue");
  auto it = m.environment.find(name == nullptr ? "" : name);
  return it == m.environment.end() ? nullptr : it->second.c_str();
}

BOOL WINAPI DeleteFileA(LPCSTR fileName) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("DeleteFileA")) return FALSE;
  std::string path = fileName == nullptr ? "" : fileName;
  sim::File* file = m.files.Find(path);
  if (file == nullptr) return Failure(ERROR_FILE_NOT_FOUND, FALSE);
  if (file->readOnly) return Failure(ERROR_ACCESS_DENIED, FALSE);
  // Windows refuses to delete a file that is open.
  if (m.files.openStreams.count(path) != 0) return Failure(ERROR_SHARING_VIOLATION, FALSE);
  m.files.Remove(path);
  m.Log("DeleteFile " + path);
  return TRUE;
}

BOOL WINAPI MoveFileA(LPCSTR existingFileName, LPCSTR newFileName) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("MoveFileA")) return FALSE;
  if (existingFileName == nullptr || newFileName == nullptr)
    return Failure(ERROR_INVALID_PARAMETER, FALSE);
  std::string from = existingFileName;
  std::string to = newFileName;
  sim::File* file = m.files.Find(from);
  if (file == nullptr) return Failure(ERROR_FILE_NOT_FOUND, FALSE);
  if (m.files.Exists(to) || m.files.HasDirectory(to)) return Failure(ERROR_ALREADY_EXISTS, FALSE);
  if (!m.files.HasDirectory(sim::FileSystem::DirectoryOf(to))) return Failure(ERROR_PATH_NOT_FOUND, FALSE);
  if (m.files.openStreams.count(from) != 0) return Failure(ERROR_SHARING_VIOLATION, FALSE);
  sim::File moved = *file;
  m.files.Remove(from);
  m.files.Put(to, moved.bytes).readOnly = moved.readOnly;
  m.Log("MoveFile " + from + " -> " + to);
  return TRUE;
}

// Only the program's own module (no handle) is known; the path is cut to the buffer,
// terminated, and reported with ERROR_INSUFFICIENT_BUFFER when it does not fit.
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("GetModuleFileNameA")) return 0;
  if (module != nullptr || m.self.modulePath.empty()) return Failure(ERROR_MOD_NOT_FOUND, DWORD{0});
  if (fileName == nullptr || size == 0) return Failure(ERROR_INSUFFICIENT_BUFFER, DWORD{0});
  const std::string& path = m.self.modulePath;
  if (path.size() >= size) {
    std::memcpy(fileName, path.data(), size - 1);
    fileName[size - 1] = '\0';
    return Failure(ERROR_INSUFFICIENT_BUFFER, size);
  }
  std::memcpy(fileName, path.c_str(), path.size() + 1);
  m.lastError = ERROR_SUCCESS;
  return static_cast<DWORD>(path.size());
}

// The length of the short form without its terminator; when the buffer is too small,
// the size it would need, terminator included, and the buffer is left alone.
DWORD WINAPI GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("GetShortPathNameA")) return 0;
  if (longPath == nullptr) return Failure(ERROR_INVALID_PARAMETER, DWORD{0});
  auto found = m.files.ShortPathOf(longPath);
  if (!found) return Failure(ERROR_FILE_NOT_FOUND, DWORD{0});
  if (shortPath == nullptr || found->size() >= size) return static_cast<DWORD>(found->size() + 1);
  std::memcpy(shortPath, found->c_str(), found->size() + 1);
  return static_cast<DWORD>(found->size());
}

BOOL WINAPI IsDBCSLeadByte(BYTE testChar) {
  sim::Machine& m = Current();
  m.Enter("IsDBCSLeadByte");
  for (const auto& [first, last] : m.self.leadByteRanges) {
    if (testChar >= first && testChar <= last) return TRUE;
  }
  return FALSE;
}

// --- profile files -------------------------------------------------------------------

namespace {

// The value of `key` in `section` of a profile file's text, or none when the section or
// the key is missing. Names match without regard to case; the first of duplicates
// counts; a value in matching quotes loses them.
std::optional<std::string> ProfileValue(const std::string& text, const std::string& section,
                                        const std::string& key) {
  bool inSection = false;
  bool sectionSeen = false;
  for (const std::string& line : sim::TrimmedLines(text)) {
    if (line.empty() || line[0] == ';') continue;
    if (auto name = sim::SectionName(line)) {
      if (inSection) break;  // the first section of that name is the one read
      inSection = !sectionSeen && sim::SameText(*name, section);
      sectionSeen = sectionSeen || inSection;
      continue;
    }
    if (!inSection) continue;
    auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    if (!sim::SameText(sim::Trim(line.substr(0, equals)), key)) continue;
    std::string value = sim::Trim(line.substr(equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    return value;
  }
  return std::nullopt;
}

std::optional<std::string> ReadProfile(sim::Machine& m, LPCSTR appName, LPCSTR keyName,
                                       LPCSTR fileName, const char* operation) {
  if (appName == nullptr || keyName == nullptr || fileName == nullptr) {
    m.Misuse(std::string(operation) + " without a section, key or file name");
    return std::nullopt;
  }
  auto text = m.files.Read(fileName);
  if (!text) return std::nullopt;
  return ProfileValue(*text, appName, keyName);
}

}  // namespace

UINT WINAPI GetPrivateProfileIntA(LPCSTR appName, LPCSTR keyName, INT defaultValue,
                                  LPCSTR fileName) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("GetPrivateProfileIntA")) return static_cast<UINT>(defaultValue);
  auto value = ReadProfile(m, appName, keyName, fileName, "GetPrivateProfileIntA");
  if (!value || value->empty()) return static_cast<UINT>(defaultValue);
  // Optional sign, then decimal digits or "0x" and hexadecimal digits, up to the first
  // character that is not one; text that does not start with a number reads as 0.
  const std::string& text = *value;
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  unsigned base = 10;
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  UINT number = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
    else break;
    number = number * base + digit;
  }
  return negative ? 0u - number : number;
}

DWORD WINAPI GetPrivateProfileStringA(LPCSTR appName, LPCSTR keyName, LPCSTR defaultText,
                                      LPSTR returned, DWORD size, LPCSTR fileName) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("GetPrivateProfileStringA")) return 0;
  if (returned == nullptr || size == 0) return 0;
  auto value = ReadProfile(m, appName, keyName, fileName, "GetPrivateProfileStringA");
  std::string text = value ? *value : (defaultText == nullptr ? "" : defaultText);
  // Cut to the buffer, as the platform does.
  std::size_t copied = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(returned, text.data(), copied);
  returned[copied] = '\0';
  return static_cast<DWORD>(copied);
}
