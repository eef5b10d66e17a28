#include "pakrun/device_search.h"

#include <cstdlib>
#include <cstring>

#include "pakrun/inf_files.h"
#include "platform/devices.h"
#include "common/text.h"

namespace {

constexpr char kClassKeyRoot[] = "SYSTEM\\CurrentControlSet\\Control\\Class";
constexpr unsigned kClassKeyCapacity = MAX_PATH;

// What a matching hardware ID leads to: go on with the walk, or end it with a result.
constexpr int kGoOn = -1;

bool SameId(const char* text, std::size_t length, const char* id, std::size_t idLength,
            LetterCase letterCase) {
  return length == idLength && SameBytes(text, id, length, letterCase);
}

// A zero-filled property buffer of exactly the size the platform asked for.
class PropertyBuffer {
 public:
  PropertyBuffer() = default;
  ~PropertyBuffer() { std::free(data_); }
  PropertyBuffer(const PropertyBuffer&) = delete;
  PropertyBuffer& operator=(const PropertyBuffer&) = delete;

  bool Allocate(DWORD size) {
    std::free(data_);
    size_ = 0;
    data_ = static_cast<BYTE*>(std::calloc(size, 1));
    if (data_ == nullptr) return false;
    size_ = size;
    return true;
  }
  BYTE* data() const { return data_; }
  DWORD size() const { return size_; }

 private:
  BYTE* data_ = nullptr;
  DWORD size_ = 0;
};

enum class ReadResult { kRead, kNoIds, kFailed };

// Reads the device's hardware-ID list into `buffer`, growing it as the platform asks;
// `length` receives the size of the list that the platform reported.
ReadResult ReadHardwareIds(HDEVINFO list, SP_DEVINFO_DATA* device, PropertyBuffer& buffer,
                           DWORD* length) {
  for (;;) {
    DWORD reported = 0;
    if (SetupDiGetDeviceRegistryPropertyA(list, device, SPDRP_HARDWAREID, nullptr, buffer.data(),
                                          buffer.size(), &reported)) {
      *length = reported < buffer.size() ? reported : buffer.size();
      return ReadResult::kRead;
    }
    DWORD error = GetLastError();
    if (error == ERROR_INVALID_DATA) return ReadResult::kNoIds;
    // A buffer of the size asked for must be enough; anything else ends the search
    // rather than asking for ever.
    if (error != ERROR_INSUFFICIENT_BUFFER || reported <= buffer.size()) return ReadResult::kFailed;
    if (!buffer.Allocate(reported)) return ReadResult::kFailed;
  }
}

// The walk shared by the three operations: every device of `list` in enumeration order,
// every non-empty entry of its hardware-ID list, never beyond the size the platform
// reported (a list need not carry its final terminators). For each entry equal to
// `hardwareId` under `letterCase`, `onMatch(list, device)` says whether to go on (kGoOn) or
// to end the walk with a result. The result is 0 after the last device and when a
// hardware-ID list cannot be read for any reason but its absence.
template <class OnMatch>
int WalkDevices(HDEVINFO list, const char* hardwareId, LetterCase letterCase, OnMatch onMatch) {
  const std::size_t idLength = std::strlen(hardwareId);
  SP_DEVINFO_DATA device;
  std::memset(&device, 0, sizeof device);
  device.cbSize = sizeof device;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(list, index, &device); ++index) {
    PropertyBuffer buffer;
    DWORD length = 0;
    ReadResult read = ReadHardwareIds(list, &device, buffer, &length);
    if (read == ReadResult::kNoIds) continue;
    if (read == ReadResult::kFailed) return 0;

    const char* ids = reinterpret_cast<const char*>(buffer.data());
    DWORD offset = 0;
    while (offset < length && ids[offset] != '\0') {
      const char* text = ids + offset;
      const void* end = std::memchr(text, '\0', length - offset);
      std::size_t textLength = end == nullptr ? length - offset
                                              : static_cast<std::size_t>(static_cast<const char*>(end) - text);
      if (SameId(text, textLength, hardwareId, idLength, letterCase)) {
        int result = onMatch(list, &device);
        if (result != kGoOn) return result;
      }
      offset += static_cast<DWORD>(textLength) + 1;
    }
  }
  return 0;
}

}  // namespace

int FindPresentDevice(const char* hardwareId) {
  DeviceInfoList list(
      SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
  if (!list) return 0;
  return WalkDevices(list.get(), hardwareId, LetterCase::kExact,
                     [](HDEVINFO, SP_DEVINFO_DATA*) { return 1; });
}

int RemoveDeviceByHardwareId(const char* hardwareId) {
  DeviceInfoList list(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES));
  if (!list) return 0;
  // A device that cannot be removed is passed over as if it had not matched.
  return WalkDevices(list.get(), hardwareId, LetterCase::kExact,
                     [](HDEVINFO devices, SP_DEVINFO_DATA* device) {
                       return SetupDiCallClassInstaller(DIF_REMOVE, devices, device) ? 1 : kGoOn;
                     });
}

int ApplyDriverAddDelForDevice(const char* settingsPath, const char* section,
                               const char* hardwareId) {
  DeviceInfoList list(SetupDiGetClassDevsExA(nullptr, nullptr, nullptr,
                                             DIGCF_PRESENT | DIGCF_ALLCLASSES, nullptr, nullptr,
                                             nullptr));
  if (!list) return 0;
  SP_DEVINFO_LIST_DETAIL_DATA_A detail;
  std::memset(&detail, 0, sizeof detail);
  detail.cbSize = sizeof detail;
  if (!SetupDiGetDeviceInfoListDetailA(list.get(), &detail)) return 0;

  // Only the first matching device is handled. Without the name of its driver key there
  // is no key to change: the class key itself, or a shortened name, is never used.
  return WalkDevices(
      list.get(), hardwareId, LetterCase::kIgnored,
      [settingsPath, section](HDEVINFO devices, SP_DEVINFO_DATA* device) {
        char driver[kClassKeyCapacity] = {};
        if (!SetupDiGetDeviceRegistryPropertyA(devices, device, SPDRP_DRIVER, nullptr,
                                               reinterpret_cast<BYTE*>(driver),
                                               sizeof driver - 1, nullptr) ||
            driver[0] == '\0')
          return 0;
        char classKeyPath[kClassKeyCapacity];
        if (!FormatText(classKeyPath, sizeof classKeyPath, "%s\\%s", kClassKeyRoot, driver))
          return 0;
        ApplyDriverAddDel(settingsPath, section, classKeyPath);
        return 1;
      });
}
