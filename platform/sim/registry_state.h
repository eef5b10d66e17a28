// The substitute machine's registry: a tree of keys with case-insensitive names (their
// own case kept) and typed values. Subkeys enumerate in case-insensitive name order.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/text.h"

namespace sim {

struct RegValue {
  std::uint32_t type = 0;
  std::vector<unsigned char> data;
};

struct RegKey {
  std::string name;
  RegKey* parent = nullptr;
  bool deleted = false;
  bool refuseOpen = false;   // every open of this key is refused (access denied)
  bool refuseWrite = false;  // opens asking for more than read access are refused
  bool deleteLies = false;   // RegDeleteKeyA reports success and leaves the key
  bool isVolatile = false;   // made with REG_OPTION_VOLATILE: gone when the machine restarts
  std::map<std::string, std::shared_ptr<RegKey>, NoCaseLess> subkeys;
  std::map<std::string, RegValue, NoCaseLess> values;
};

// Paths are written as "HKLM\SOFTWARE\..." (HKLM, HKCU, HKCR, HKU) for the helpers below.
class Registry {
 public:
  Registry();

  std::shared_ptr<RegKey> Root(const std::string& rootName) const;
  // Finds the key at a path below `from`; null when any part is missing.
  std::shared_ptr<RegKey> Find(const std::shared_ptr<RegKey>& from, const std::string& path) const;
  std::shared_ptr<RegKey> Find(const std::string& fullPath) const;
  // Creates the key and every missing key above it; the keys it creates are volatile
  // when `makeVolatile` is set.
  std::shared_ptr<RegKey> Create(const std::shared_ptr<RegKey>& from, const std::string& path,
                                 bool makeVolatile = false);
  std::shared_ptr<RegKey> Create(const std::string& fullPath, bool makeVolatile = false);
  // The deepest key that exists along `path` below `from` (`from` itself when none does).
  std::shared_ptr<RegKey> DeepestExisting(const std::shared_ptr<RegKey>& from,
                                          const std::string& path) const;
  // Removes a key with everything below it; false when it does not exist.
  bool Remove(const std::string& fullPath);
  static std::string PathOf(const RegKey& key);
  // What a restart does to the registry: every volatile key goes, with everything below
  // it (which is volatile too). Handles still open on them see a deleted key. Returns the
  // number of keys removed at the top of each volatile subtree.
  int RemoveVolatileKeys();

  // Seeding and inspection.
  void SetDword(const std::string& keyPath, const std::string& name, std::uint32_t value);
  void SetString(const std::string& keyPath, const std::string& name, const std::string& value,
                 std::uint32_t type = 1 /* REG_SZ */);
  void SetRaw(const std::string& keyPath, const std::string& name, std::uint32_t type,
              std::vector<unsigned char> data);
  bool DeleteValue(const std::string& keyPath, const std::string& name);
  bool HasKey(const std::string& keyPath) const { return Find(keyPath) != nullptr; }
  std::optional<RegValue> Value(const std::string& keyPath, const std::string& name) const;
  std::optional<std::uint32_t> Dword(const std::string& keyPath, const std::string& name) const;
  std::optional<std::string> String(const std::string& keyPath, const std::string& name) const;

 private:
  std::map<std::string, std::shared_ptr<RegKey>, NoCaseLess> roots_;
};

}  // namespace sim
