// Stand-in for the vendor's radio library, radioapi.dll: its adapters and their codes come
// from the test bed's registry key, and every control option set is appended to it.
#include <windows.h>

#include <cstdio>
#include <cstring>

#define RADIOAPI_BUILDING
#include "vendor/radioapi/radioapi.h"
#include "testbed/testbed_keys.h"

namespace {

constexpr std::uint32_t kMaxAdapters = 8;

struct AdapterInfo {
  char name[64];
  std::int32_t code;
};

bool ReadAdapter(std::uint32_t index, AdapterInfo* info) {
  char path[160];
  std::snprintf(path, sizeof path, "%s\\%u", TESTBED_RADIO_KEY, index);
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  std::memset(info, 0, sizeof *info);
  DWORD size = sizeof info->name - 1;
  RegQueryValueExA(key, "Name", nullptr, nullptr, reinterpret_cast<BYTE*>(info->name), &size);
  DWORD code = 101;
  size = sizeof code;
  RegQueryValueExA(key, "Code", nullptr, nullptr, reinterpret_cast<BYTE*>(&code), &size);
  info->code = static_cast<std::int32_t>(code);
  RegCloseKey(key);
  return true;
}

void Record(const char* name, std::int32_t option) {
  HKEY key = nullptr;
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, TESTBED_RADIO_KEY, &key) != ERROR_SUCCESS) return;
  char text[2048] = {};
  DWORD size = sizeof text - 1;
  if (RegQueryValueExA(key, "Signalled", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) !=
      ERROR_SUCCESS)
    text[0] = '\0';
  std::size_t used = std::strlen(text);
  std::snprintf(text + used, sizeof text - used, "%s %d\n", name, static_cast<int>(option));
  RegSetValueExA(key, "Signalled", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                 static_cast<DWORD>(std::strlen(text) + 1));
  RegCloseKey(key);
}

class Control final : public RadioControl {
 public:
  std::int32_t SetControlOption(std::int32_t option) override {
    Record(owner_, option);
    return 0;
  }
  const char* owner_ = "";
};

class Adapter final : public RadioAdapter {
 public:
  std::int32_t QueryAdapterCode(std::int32_t* code) override {
    if (code == nullptr) return 1;
    *code = info_.code;
    return 0;
  }
  std::int32_t GetAdapterControl(RadioControl** control, std::int32_t) override {
    if (control == nullptr) return 1;
    control_.owner_ = info_.name;
    *control = &control_;
    return 0;
  }
  AdapterInfo info_ = {};
  Control control_;
};

Adapter adapters[kMaxAdapters];

class List final : public RadioAdapterList {
 public:
  std::int32_t GetAdapterCount(std::uint32_t* count) override {
    if (count == nullptr) return 1;
    std::uint32_t found = 0;
    while (found < kMaxAdapters && ReadAdapter(found, &adapters[found].info_)) ++found;
    *count = found;
    return 0;
  }
  std::int32_t GetAdapter(std::uint32_t index, RadioAdapter** adapter) override {
    if (adapter == nullptr || index >= kMaxAdapters || !ReadAdapter(index, &adapters[index].info_))
      return 1;
    *adapter = &adapters[index];
    return 0;
  }
};

class Api final : public RadioAPI {
 public:
  RadioAdapterList* GetAdapterList(std::int32_t) override { return &list_; }

 private:
  List list_;
};

Api api;

}  // namespace

extern "C" RADIOAPI_ENTRY RadioAPI* RadioLoadAPI(void*) { return &api; }
