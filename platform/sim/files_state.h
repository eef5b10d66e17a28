// The substitute machine's files. Paths are compared without regard to letter case; a
// file can be created only in a directory that exists (a drive root such as "C:" always
// does). File contents are the bytes on disk, so text written through a text-mode stream
// holds carriage return plus line feed.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "platform/sim/text.h"

namespace sim {

struct ProfileIndex;

struct File {
  std::string bytes;
  bool readOnly = false;  // deleting or opening for writing is refused
  // What the profile reader made of `bytes` (its index of sections and keys), kept until
  // the file changes: every change through the file system calls Changed().
  mutable std::shared_ptr<const ProfileIndex> profileIndex;
  void Changed() { profileIndex.reset(); }
};

class FileSystem {
 public:
  // Creates the directory and every missing one above it.
  void AddDirectory(const std::string& path);
  bool HasDirectory(const std::string& path) const;
  // Creates or replaces a file (and its directory).
  File& Put(const std::string& path, const std::string& bytes);
  File* Find(std::string_view path);
  bool Exists(const std::string& path) const { return files_.count(LongPathOf(path)) != 0; }
  std::optional<std::string> Read(const std::string& path) const;
  bool Remove(const std::string& path) {
    lastFound_.Forget();
    return files_.erase(LongPathOf(path)) == 1;
  }
  static std::string DirectoryOf(const std::string& path);
  // Every file and directory, by its long path.
  const std::map<std::string, File, NoCaseLess>& AllFiles() const { return files_; }
  const std::set<std::string, NoCaseLess>& AllDirectories() const { return directories_; }

  // Short (8.3) names, per file or directory, by full path: SetShortName("C:\Program
  // Files", "PROGRA~1"). A name without one is its own short name when it is a valid
  // 8.3 name, and otherwise gets one made up as the file system does ("LONGFI~1.TXT").
  // Every lookup also accepts a path written with short names.
  void SetShortName(const std::string& path, const std::string& shortName) {
    shortNames_[path] = shortName;
  }
  // The short form of an existing path, or none when it does not exist.
  std::optional<std::string> ShortPathOf(const std::string& path) const;
  // The path with every part that is the short name of an existing entry replaced by
  // that entry's long name; other parts stay as written.
  std::string LongPathOf(const std::string& path) const;

  // The stream a test wants to fail on closing (as when the disk is full): the next
  // close of a stream on this path reports failure, after the text written so far
  // has reached the file.
  std::set<std::string, NoCaseLess> failCloseOf;

  // Streams open on each path.
  std::map<std::string, int, NoCaseLess> openStreams;

 private:
  std::set<std::string, NoCaseLess> directories_;
  std::map<std::string, File, NoCaseLess> files_;
  std::map<std::string, std::string, NoCaseLess> shortNames_;
  // The files Find last found by their paths as written: profile reads and stream writes
  // look up the same few paths (the settings file, the INF being written) thousands of
  // times a run, in turns. Forgotten when a file is removed, and never copied with the file
  // system (the pointers are into this one's map).
  struct LastFound {
    struct Entry {
      std::string path;
      File* file = nullptr;
    };
    Entry entries[4];
    std::size_t next = 0;  // the entry to be taken next
    LastFound() = default;
    LastFound(const LastFound&) {}
    LastFound& operator=(const LastFound&) {
      Forget();
      return *this;
    }
    void Forget() {
      for (Entry& entry : entries) entry.file = nullptr;
    }
  };
  LastFound lastFound_;
};

}  // namespace sim
