// Registry of the substitute machine: the tree itself and the Reg* operations over it.
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "platform/registry.h"
#include "platform/sim/machine.h"

namespace sim {

namespace {

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '\\') {
      parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty() || !parts.empty()) parts.push_back(part);
  // A trailing backslash names the same key.
  if (!parts.empty() && parts.back().empty()) parts.pop_back();
  return parts;
}

std::string RootPart(const std::string& fullPath, std::string* rest) {
  auto slash = fullPath.find('\\');
  *rest = slash == std::string::npos ? "" : fullPath.substr(slash + 1);
  return fullPath.substr(0, slash);
}

}  // namespace

Registry::Registry() {
  for (const char* root : {"HKCR", "HKCU", "HKLM", "HKU"}) {
    auto key = std::make_shared<RegKey>();
    key->name = root;
    roots_[root] = key;
  }
}

std::shared_ptr<RegKey> Registry::Root(const std::string& rootName) const {
  auto it = roots_.find(rootName);
  return it == roots_.end() ? nullptr : it->second;
}

std::shared_ptr<RegKey> Registry::Find(const std::shared_ptr<RegKey>& from,
                                       const std::string& path) const {
  std::shared_ptr<RegKey> key = from;
  for (const std::string& part : SplitPath(path)) {
    if (key == nullptr || part.empty()) return nullptr;
    auto it = key->subkeys.find(part);
    key = it == key->subkeys.end() ? nullptr : it->second;
  }
  return key;
}

std::shared_ptr<RegKey> Registry::Find(const std::string& fullPath) const {
  std::string rest;
  std::shared_ptr<RegKey> root = Root(RootPart(fullPath, &rest));
  return root == nullptr ? nullptr : Find(root, rest);
}

std::shared_ptr<RegKey> Registry::Create(const std::shared_ptr<RegKey>& from,
                                         const std::string& path, bool makeVolatile) {
  std::shared_ptr<RegKey> key = from;
  for (const std::string& part : SplitPath(path)) {
    if (part.empty()) return nullptr;
    auto it = key->subkeys.find(part);
    if (it == key->subkeys.end()) {
      auto created = std::make_shared<RegKey>();
      created->name = part;
      created->parent = key.get();
      created->isVolatile = makeVolatile;
      key->subkeys[part] = created;
      key = created;
    } else {
      key = it->second;
    }
  }
  return key;
}

std::shared_ptr<RegKey> Registry::Create(const std::string& fullPath, bool makeVolatile) {
  std::string rest;
  std::shared_ptr<RegKey> root = Root(RootPart(fullPath, &rest));
  return root == nullptr ? nullptr : Create(root, rest, makeVolatile);
}

std::shared_ptr<RegKey> Registry::DeepestExisting(const std::shared_ptr<RegKey>& from,
                                                  const std::string& path) const {
  std::shared_ptr<RegKey> key = from;
  for (const std::string& part : SplitPath(path)) {
    auto it = key->subkeys.find(part);
    if (it == key->subkeys.end()) break;
    key = it->second;
  }
  return key;
}

static void MarkDeleted(RegKey& key) {
  key.deleted = true;
  for (auto& [name, sub] : key.subkeys) MarkDeleted(*sub);
}

bool Registry::Remove(const std::string& fullPath) {
  std::shared_ptr<RegKey> key = Find(fullPath);
  if (key == nullptr || key->parent == nullptr) return false;
  MarkDeleted(*key);
  key->parent->subkeys.erase(key->name);
  return true;
}

static int RemoveVolatileBelow(RegKey& key) {
  int removed = 0;
  for (auto it = key.subkeys.begin(); it != key.subkeys.end();) {
    if (it->second->isVolatile) {
      MarkDeleted(*it->second);
      it = key.subkeys.erase(it);
      ++removed;
    } else {
      removed += RemoveVolatileBelow(*it->second);
      ++it;
    }
  }
  return removed;
}

int Registry::RemoveVolatileKeys() {
  int removed = 0;
  for (auto& [name, root] : roots_) removed += RemoveVolatileBelow(*root);
  return removed;
}

std::string Registry::PathOf(const RegKey& key) {
  return key.parent == nullptr ? key.name : PathOf(*key.parent) + "\\" + key.name;
}

void Registry::SetRaw(const std::string& keyPath, const std::string& name, std::uint32_t type,
                      std::vector<unsigned char> data) {
  Create(keyPath)->values[name] = RegValue{type, std::move(data)};
}

void Registry::SetDword(const std::string& keyPath, const std::string& name, std::uint32_t value) {
  std::vector<unsigned char> data(4);
  std::memcpy(data.data(), &value, 4);
  SetRaw(keyPath, name, REG_DWORD, std::move(data));
}

void Registry::SetString(const std::string& keyPath, const std::string& name,
                         const std::string& value, std::uint32_t type) {
  std::vector<unsigned char> data(value.begin(), value.end());
  data.push_back(0);
  SetRaw(keyPath, name, type, std::move(data));
}

bool Registry::DeleteValue(const std::string& keyPath, const std::string& name) {
  std::shared_ptr<RegKey> key = Find(keyPath);
  return key != nullptr && key->values.erase(name) == 1;
}

std::optional<RegValue> Registry::Value(const std::string& keyPath, const std::string& name) const {
  std::shared_ptr<RegKey> key = Find(keyPath);
  if (key == nullptr) return std::nullopt;
  auto it = key->values.find(name);
  if (it == key->values.end()) return std::nullopt;
  return it->second;
}

std::optional<std::uint32_t> Registry::Dword(const std::string& keyPath,
                                             const std::string& name) const {
  auto value = Value(keyPath, name);
  if (!value || value->data.size() != 4) return std::nullopt;
  std::uint32_t result;
  std::memcpy(&result, value->data.data(), 4);
  return result;
}

std::optional<std::string> Registry::String(const std::string& keyPath,
                                            const std::string& name) const {
  auto value = Value(keyPath, name);
  if (!value) return std::nullopt;
  std::string text(value->data.begin(), value->data.end());
  auto end = text.find('\0');
  return end == std::string::npos ? text : text.substr(0, end);
}

// An open key.
struct KeyObject : HandleObject {
  const char* Kind() const override { return "registry key"; }
  bool IsKernelObject() const override { return false; }
  std::shared_ptr<RegKey> key;
  REGSAM access = 0;
};

namespace {

const char* RootName(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return "HKCR";
  if (key == HKEY_CURRENT_USER) return "HKCU";
  if (key == HKEY_LOCAL_MACHINE) return "HKLM";
  if (key == HKEY_USERS) return "HKU";
  return nullptr;
}

// The key behind an HKEY and the access it was opened with; predefined roots allow all.
std::shared_ptr<RegKey> Resolve(Machine& m, HKEY key, const char* operation, REGSAM* access) {
  if (const char* root = RootName(key)) {
    *access = KEY_ALL_ACCESS;
    return m.registry.Root(root);
  }
  auto* object = m.Lookup<KeyObject>(key);
  if (object == nullptr) {
    m.Misuse(std::string(operation) + " on a handle that is not an open registry key");
    return nullptr;
  }
  *access = object->access;
  return object->key;
}

HKEY OpenKeyHandle(Machine& m, std::shared_ptr<RegKey> key, REGSAM access) {
  auto object = std::make_unique<KeyObject>();
  object->key = std::move(key);
  object->access = access;
  return reinterpret_cast<HKEY>(m.OpenHandle(std::move(object)));
}

// The path an operation on `key` meets: a 32-bit process on 64-bit Windows sees the
// 32-bit view of HKLM\SOFTWARE (its Wow6432Node) unless it asks for the 64-bit one.
// A key opened in either view keeps it for what is opened below it.
std::string InView(const Machine& m, HKEY key, const char* subKey, REGSAM desired) {
  std::string path = subKey == nullptr ? "" : subKey;
  if (!m.kernel.wow64 || key != HKEY_LOCAL_MACHINE || (desired & KEY_WOW64_64KEY) != 0)
    return path;
  auto slash = path.find('\\');
  if (!SameText(path.substr(0, slash), "SOFTWARE")) return path;
  return slash == std::string::npos ? path + "\\Wow6432Node"
                                    : path.substr(0, slash) + "\\Wow6432Node" + path.substr(slash);
}

// Creates or opens `subKey` below `key` for RegCreateKeyA and RegCreateKeyExA. The
// options matter only to the keys it creates: volatile ones, or refused below a volatile
// key, which can have no other kind of child.
LSTATUS CreateKey(Machine& m, const char* operation, HKEY key, LPCSTR subKey, DWORD options,
                  REGSAM desired, PHKEY result, LPDWORD disposition) {
  auto fault = m.EnterStatus(operation);
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;  // on every failure, an injected one too
  if (fault) return static_cast<LSTATUS>(*fault);
  REGSAM parentAccess = 0;
  auto parent = Resolve(m, key, operation, &parentAccess);
  if (parent == nullptr) return ERROR_INVALID_HANDLE;
  if (parent->deleted) return ERROR_KEY_DELETED;
  std::string path = InView(m, key, subKey, desired);
  auto existing = m.registry.Find(parent, path);
  if (existing == nullptr && (parentAccess & KEY_CREATE_SUB_KEY) == 0) return ERROR_ACCESS_DENIED;
  const bool makeVolatile = (options & REG_OPTION_VOLATILE) != 0;
  if (existing == nullptr && !makeVolatile && m.registry.DeepestExisting(parent, path)->isVolatile)
    return ERROR_CHILD_MUST_BE_VOLATILE;
  auto created = existing != nullptr ? existing : m.registry.Create(parent, path, makeVolatile);
  if (created == nullptr) return ERROR_BADKEY;
  if (created->refuseOpen || created->refuseWrite) return ERROR_ACCESS_DENIED;
  if (existing == nullptr)
    m.Log(Event::On("RegCreateKey", Registry::PathOf(*created), makeVolatile ? "volatile" : "").Did(Effect::kKeyCreated));
  if (disposition != nullptr)
    *disposition = existing == nullptr ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = OpenKeyHandle(m, created, desired & ~static_cast<REGSAM>(KEY_WOW64_64KEY | KEY_WOW64_32KEY));
  return ERROR_SUCCESS;
}

// The number a REG_DWORD value holds; none for any other value.
std::optional<std::int64_t> DwordOf(const RegValue& value) {
  if (value.type != REG_DWORD || value.data.size() != 4) return std::nullopt;
  std::uint32_t number;
  std::memcpy(&number, value.data.data(), 4);
  return number;
}

std::string Describe(const RegValue& value) {
  if (auto number = DwordOf(value)) return "dword:" + std::to_string(*number);
  if (value.type == REG_SZ || value.type == REG_EXPAND_SZ) {
    std::string text(value.data.begin(), value.data.end());
    return "\"" + text.substr(0, text.find('\0')) + "\"";
  }
  return "type" + std::to_string(value.type) + ":" + std::to_string(value.data.size()) + " bytes";
}

}  // namespace
}  // namespace sim

using sim::Current;

LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM desired, PHKEY result) {
  sim::Machine& m = Current();
  auto fault = m.EnterStatus("RegOpenKeyExA");
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;  // on every failure, an injected one too
  if (fault) return static_cast<LSTATUS>(*fault);
  REGSAM parentAccess = 0;
  auto parent = sim::Resolve(m, key, "RegOpenKeyExA", &parentAccess);
  if (parent == nullptr) return ERROR_INVALID_HANDLE;
  if (parent->deleted) return ERROR_KEY_DELETED;
  auto found = m.registry.Find(parent, sim::InView(m, key, subKey, desired));
  if (found == nullptr) return ERROR_FILE_NOT_FOUND;
  if (found->refuseOpen || (found->refuseWrite && (desired & ~static_cast<REGSAM>(KEY_READ)) != 0))
    return ERROR_ACCESS_DENIED;
  *result = sim::OpenKeyHandle(m, found, desired);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
  return sim::CreateKey(Current(), "RegCreateKeyA", key, subKey, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, result, nullptr);
}

LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR, DWORD options,
                               REGSAM desired, void*, PHKEY result, LPDWORD disposition) {
  if (reserved != 0) return ERROR_INVALID_PARAMETER;
  return sim::CreateKey(Current(), "RegCreateKeyExA", key, subKey, options, desired, result,
                        disposition);
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                                LPBYTE data, LPDWORD dataSize) {
  sim::Machine& m = Current();
  if (auto fault = m.EnterStatus("RegQueryValueExA")) return static_cast<LSTATUS>(*fault);
  REGSAM access = 0;
  auto found = sim::Resolve(m, key, "RegQueryValueExA", &access);
  if (found == nullptr) return ERROR_INVALID_HANDLE;
  if (found->deleted) return ERROR_KEY_DELETED;
  if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) return ERROR_INVALID_PARAMETER;
  if ((access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  auto it = found->values.find(valueName == nullptr ? "" : valueName);
  if (it == found->values.end()) return ERROR_FILE_NOT_FOUND;
  const sim::RegValue& value = it->second;
  if (type != nullptr) *type = value.type;
  DWORD size = static_cast<DWORD>(value.data.size());
  if (data != nullptr && *dataSize < size) {
    *dataSize = size;
    return ERROR_MORE_DATA;
  }
  if (data != nullptr && size != 0) std::memcpy(data, value.data.data(), size);
  if (dataSize != nullptr) *dataSize = size;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data,
                              DWORD dataSize) {
  sim::Machine& m = Current();
  if (auto fault = m.EnterStatus("RegSetValueExA")) return static_cast<LSTATUS>(*fault);
  REGSAM access = 0;
  auto found = sim::Resolve(m, key, "RegSetValueExA", &access);
  if (found == nullptr) return ERROR_INVALID_HANDLE;
  if (found->deleted) return ERROR_KEY_DELETED;
  if ((access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  if (data == nullptr && dataSize != 0) return ERROR_INVALID_PARAMETER;
  sim::RegValue value;
  value.type = type;
  if (dataSize != 0) value.data.assign(data, data + dataSize);
  std::string name = valueName == nullptr ? "" : valueName;
  m.Log(sim::Event::ValueSet("RegSetValue", sim::Registry::PathOf(*found), name,
                             sim::Describe(value), sim::DwordOf(value))
            .Did(sim::Effect::kValueSet));
  found->values[name] = std::move(value);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD nameSize) {
  sim::Machine& m = Current();
  if (auto fault = m.EnterStatus("RegEnumKeyA")) return static_cast<LSTATUS>(*fault);
  REGSAM access = 0;
  auto found = sim::Resolve(m, key, "RegEnumKeyA", &access);
  if (found == nullptr) return ERROR_INVALID_HANDLE;
  if (found->deleted) return ERROR_KEY_DELETED;
  if ((access & KEY_ENUMERATE_SUB_KEYS) == 0) return ERROR_ACCESS_DENIED;
  if (index >= found->subkeys.size()) return ERROR_NO_MORE_ITEMS;
  auto it = found->subkeys.begin();
  std::advance(it, index);
  const std::string& subName = it->second->name;
  if (name == nullptr || subName.size() + 1 > nameSize) return ERROR_MORE_DATA;
  std::memcpy(name, subName.c_str(), subName.size() + 1);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  sim::Machine& m = Current();
  if (auto fault = m.EnterStatus("RegDeleteKeyA")) return static_cast<LSTATUS>(*fault);
  REGSAM access = 0;
  auto parent = sim::Resolve(m, key, "RegDeleteKeyA", &access);
  if (parent == nullptr) return ERROR_INVALID_HANDLE;
  if (parent->deleted) return ERROR_KEY_DELETED;
  if (subKey == nullptr || *subKey == '\0') return ERROR_INVALID_PARAMETER;
  auto found = m.registry.Find(parent, sim::InView(m, key, subKey, 0));
  if (found == nullptr) return ERROR_FILE_NOT_FOUND;
  if (found->refuseOpen || found->refuseWrite) return ERROR_ACCESS_DENIED;
  // The NT family refuses a key that has subkeys; the 9x family removes the subtree.
  if (m.kernel.version.platformId == VER_PLATFORM_WIN32_NT && !found->subkeys.empty())
    return ERROR_ACCESS_DENIED;
  std::string path = sim::Registry::PathOf(*found);
  if (found->deleteLies) return ERROR_SUCCESS;
  m.registry.Remove(path);
  m.Log(sim::Event::On("RegDeleteKey", path).Did(sim::Effect::kKeyDeleted, true));
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
  sim::Machine& m = Current();
  if (auto fault = m.EnterStatus("RegCloseKey")) return static_cast<LSTATUS>(*fault);
  if (sim::RootName(key) != nullptr) return ERROR_SUCCESS;
  if (m.Lookup<sim::KeyObject>(key) == nullptr) {
    m.Misuse("RegCloseKey on a handle that is not an open registry key");
    return ERROR_INVALID_HANDLE;
  }
  m.CloseHandleOf(key);
  return ERROR_SUCCESS;
}
