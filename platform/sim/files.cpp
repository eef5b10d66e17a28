// Files, text-mode streams, the environment, the program's own file name and the code
// page of the substitute machine.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/sim/machine.h"

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
  return directories_.count(LongPathOf(path)) != 0;
}

File& FileSystem::Put(const std::string& path, const std::string& bytes) {
  std::string full = LongPathOf(path);
  AddDirectory(DirectoryOf(full));
  File& file = files_[full];
  file.bytes = bytes;
  file.Changed();
  return file;
}

File* FileSystem::Find(std::string_view path) {
  // A path written in long names needs no resolving: every folder above a file exists
  // (Put makes them), so LongPathOf would hand it back as it is. Profile reads and stream
  // writes look up the same path thousands of times a run.
  for (const LastFound::Entry& entry : lastFound_.entries) {
    if (entry.file != nullptr && path == entry.path) return entry.file;
  }
  auto it = files_.find(path);
  if (it != files_.end()) {
    LastFound::Entry& entry = lastFound_.entries[lastFound_.next];
    lastFound_.next = (lastFound_.next + 1) % std::size(lastFound_.entries);
    entry.path.assign(path);
    entry.file = &it->second;
    return &it->second;
  }
  it = files_.find(LongPathOf(std::string(path)));
  return it == files_.end() ? nullptr : &it->second;
}

namespace {

// Whether a name is already a valid short (8.3) name: a base of one to eight characters
// and at most one dot with up to three after it, none of them a blank or one of +,;=[].
bool IsShortName(const std::string& name) {
  if (name.empty() || name.find_first_of(" +,;=[]") != std::string::npos) return false;
  auto dot = name.find('.');
  if (dot == std::string::npos) return name.size() <= 8;
  return dot >= 1 && dot <= 8 && name.size() - dot - 1 <= 3 &&
         name.find('.', dot + 1) == std::string::npos;
}

// The short name the file system gives a long one: the first six usable characters of
// the base in upper case, "~1", and the first three of the last extension.
std::string GeneratedShortName(const std::string& name) {
  auto dot = name.rfind('.');
  std::string base;
  for (char c : name.substr(0, dot == 0 ? std::string::npos : dot)) {
    if (c != ' ' && c != '.' && std::string("+,;=[]").find(c) == std::string::npos && base.size() < 6)
      base += c;
  }
  std::string shortName = Upper(base) + "~1";
  if (dot != std::string::npos && dot != 0) shortName += "." + Upper(name.substr(dot + 1, 3));
  return shortName;
}

}  // namespace

std::string FileSystem::LongPathOf(const std::string& path) const {
  // A path that names an entry as it is written is its own long form: every folder above
  // an entry exists (Put and AddDirectory make them, nothing removes one).
  if (files_.count(path) != 0 || directories_.count(path) != 0) return path;
  std::string resolved;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    std::string candidate = start == 0 ? part : resolved + "\\" + part;
    // A part can be the short name of an entry only when one was set, or when it holds the
    // "~" of a made-up one: any other short name is the entry's own name, found above.
    const bool mayBeShort = !shortNames_.empty() || part.find('~') != std::string::npos;
    if (start != 0 && !part.empty() && mayBeShort && directories_.count(candidate) == 0 &&
        files_.count(candidate) == 0) {
      // Entries of the directory resolved so far whose short name is this part.
      auto matches = [&](const std::string& entry) {
        if (!SameText(DirectoryOf(entry), resolved)) return false;
        std::string name = entry.substr(resolved.size() + 1);
        auto set = shortNames_.find(entry);
        std::string shortName = set != shortNames_.end() ? set->second
                                : IsShortName(name)     ? name
                                                        : GeneratedShortName(name);
        return SameText(shortName, part);
      };
      for (const std::string& directory : directories_) {
        if (matches(directory)) candidate = directory;
      }
      for (const auto& [file, content] : files_) {
        if (matches(file)) candidate = file;
      }
    }
    resolved = candidate;
    start = end + 1;
  }
  return resolved;
}

std::optional<std::string> FileSystem::ShortPathOf(const std::string& path) const {
  std::string whole = LongPathOf(path);
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
    std::string part = whole.substr(start, end - start);
    if (it != shortNames_.end()) {
      shortPath += it->second;
    } else {
      bool drive = start == 0 && part.size() == 2 && part[1] == ':';
      shortPath += drive || IsShortName(part) ? part : GeneratedShortName(part);
    }
    start = end + 1;
  }
  return shortPath;
}

std::optional<std::string> FileSystem::Read(const std::string& path) const {
  auto it = files_.find(LongPathOf(path));
  if (it == files_.end()) return std::nullopt;
  return it->second.bytes;
}

namespace {

// A C runtime stream open on a file of the machine. Text written is appended to the
// file at once; in text mode each line feed is stored as carriage return plus line feed.
//
// The C runtime writes a stream's text in buffers of this many characters: a process that
// ends without closing the stream leaves only the buffers it filled in the file.
constexpr std::size_t kStreamBuffer = 4096;

struct StreamObject : HandleObject {
  const char* Kind() const override { return "text stream"; }
  bool IsKernelObject() const override { return false; }
  void Abandon(Machine& m) override {
    if (File* file = m.files.Find(path)) {
      if (file->bytes.size() > flushedSize) {
        file->bytes.resize(flushedSize);
        file->Changed();
      }
    }
    if (--m.files.openStreams[path] == 0) m.files.openStreams.erase(path);
  }
  std::string path;
  bool textMode = true;
  bool failed = false;  // a write was lost: the close reports it, as a failed flush does
  std::size_t written = 0;      // characters written, before the line-end translation
  std::size_t flushedSize = 0;  // the file's size when the last full buffer was written
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
    existing->Changed();
  }
  auto object = std::make_unique<sim::StreamObject>();
  object->path = file;
  object->textMode = how.find('b') == std::string::npos;
  object->flushedSize = m.files.Find(file)->bytes.size();
  ++m.files.openStreams[file];
  m.Log(sim::Event::On("OpenTextStream", file, how).Did(sim::Effect::kFileOpenedToWrite, existing != nullptr));
  return reinterpret_cast<TextStream*>(m.OpenHandle(std::move(object)));
}

void WriteTextStream(TextStream* stream, const char* format, ...) {
  sim::Machine& m = Current();
  auto fault = m.Enter("WriteTextStream");
  sim::StreamObject* object = sim::OpenStreamOf(m, stream, "WriteTextStream");
  if (object == nullptr) return;
  if (fault) {
    object->failed = true;
    return;
  }
  // Formatted once into a buffer on the stack; only a longer text is formatted again into
  // one of its size. An INF of a thousand rows is written line by line.
  char line[1024];
  va_list arguments;
  va_start(arguments, format);
  va_list again;
  va_copy(again, arguments);
  const int length = std::vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  std::vector<char> longer;
  const char* text = line;
  const std::size_t size = length < 0 ? 0 : static_cast<std::size_t>(length);
  if (size >= sizeof line) {
    longer.resize(size + 1);
    std::vsnprintf(longer.data(), longer.size(), format, again);
    text = longer.data();
  }
  va_end(again);
  // Appended in place, each line feed of a text-mode stream stored as CR LF.
  sim::File* file = m.files.Find(object->path);
  if (file == nullptr) file = &m.files.Put(object->path, "");
  std::string& bytes = file->bytes;
  for (std::size_t i = 0; i < size; ++i) {
    if (text[i] == '\n' && object->textMode) bytes += '\r';
    bytes += text[i];
    if (++object->written % sim::kStreamBuffer == 0) object->flushedSize = bytes.size();
  }
  file->Changed();
}

bool CloseTextStream(TextStream* stream) {
  sim::Machine& m = Current();
  auto fault = m.Enter("CloseTextStream");
  // A process being ended flushes nothing: the stream goes with the process.
  if (fault && m.BeingEnded()) return false;
  sim::StreamObject* object = sim::OpenStreamOf(m, stream, "CloseTextStream");
  if (object == nullptr) return false;
  std::string path = object->path;
  bool writeLost = object->failed;
  // The stream is released even when the close fails.
  m.CloseHandleOf(reinterpret_cast<HANDLE>(stream));
  if (--m.files.openStreams[path] == 0) m.files.openStreams.erase(path);
  m.Log(sim::Event::On("CloseTextStream", path).Did(sim::Effect::kFileClosed, true));
  if (fault || writeLost) return false;
  if (m.files.failCloseOf.erase(path) != 0) return false;
  return true;
}

const char* EnvironmentValue(const char* name) {
  sim::Machine& m = Current();
  m.Count("EnvironmentValue");
  auto it = m.kernel.environment.find(name == nullptr ? "" : name);
  return it == m.kernel.environment.end() ? nullptr : it->second.c_str();
}

BOOL WINAPI DeleteFileA(LPCSTR fileName) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("DeleteFileA")) return FALSE;
  std::string path = fileName == nullptr ? "" : fileName;
  sim::File* file = m.files.Find(path);
  if (file == nullptr && !m.files.HasDirectory(sim::FileSystem::DirectoryOf(path)))
    return Failure(ERROR_PATH_NOT_FOUND, FALSE);
  if (file == nullptr) return Failure(ERROR_FILE_NOT_FOUND, FALSE);
  if (file->readOnly) return Failure(ERROR_ACCESS_DENIED, FALSE);
  // Windows refuses to delete a file that is open.
  if (m.files.openStreams.count(path) != 0) return Failure(ERROR_SHARING_VIOLATION, FALSE);
  m.files.Remove(path);
  m.Log(sim::Event::On("DeleteFile", path).Did(sim::Effect::kFileDeleted, true));
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
  m.Log(sim::Event::Move("MoveFile", from, to).Did(sim::Effect::kFileRenamed, true));
  return TRUE;
}

// Only the program's own module (no handle) is known. A path that does not fit is cut
// to the whole buffer, without terminator, and the buffer's size returned with
// ERROR_INSUFFICIENT_BUFFER (Windows XP sets no error; callers look at the length).
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("GetModuleFileNameA")) return 0;
  if (module != nullptr || m.kernel.self.modulePath.empty())
    return Failure(ERROR_MOD_NOT_FOUND, DWORD{0});
  if (fileName == nullptr || size == 0) return Failure(ERROR_INSUFFICIENT_BUFFER, DWORD{0});
  const std::string& path = m.kernel.self.modulePath;
  if (path.size() >= size) {
    std::memcpy(fileName, path.data(), size);
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
  m.Count("IsDBCSLeadByte");
  for (const auto& [first, last] : m.kernel.self.leadByteRanges) {
    if (testChar >= first && testChar <= last) return TRUE;
  }
  return FALSE;
}
