// The vendor's radio library, "radioapi.dll", an outside interface like a system header:
// what the mode switcher relies on of it.
// The objects are used only through their virtual functions, which stand in each
// interface in the order below; nothing obtained from the library is ever released.
#pragma once

#include <cstdint>

#if defined(_WIN32) && defined(RADIOAPI_BUILDING)
#define RADIOAPI_ENTRY __declspec(dllexport)
#elif defined(_WIN32) && !defined(PLATFORM_SIM)
#define RADIOAPI_ENTRY __declspec(dllimport)
#else
#define RADIOAPI_ENTRY  // the substitute machine's stand-in, linked in
#endif

// Codes an adapter reports through QueryAdapterCode that let the adapter walk go on.
constexpr std::int32_t kRadioCodeUnset = 301;
constexpr std::int32_t kRadioCodeReady = 101;

// Option passed to SetControlOption to signal the switch.
constexpr std::int32_t kRadioSwitchOption = 1;

class RadioControl {
 public:
  virtual std::int32_t SetControlOption(std::int32_t option) = 0;

 protected:
  ~RadioControl() = default;
};

class RadioAdapter {
 public:
  // Fills *code; the result tells nothing the caller relies on.
  virtual std::int32_t QueryAdapterCode(std::int32_t* code) = 0;
  // 0 on success, with *control filled.
  virtual std::int32_t GetAdapterControl(RadioControl** control, std::int32_t reserved) = 0;

 protected:
  ~RadioAdapter() = default;
};

class RadioAdapterList {
 public:
  virtual std::int32_t GetAdapterCount(std::uint32_t* count) = 0;
  // 0 on success, with *adapter filled.
  virtual std::int32_t GetAdapter(std::uint32_t index, RadioAdapter** adapter) = 0;

 protected:
  ~RadioAdapterList() = default;
};

class RadioAPI {
 public:
  // The adapter list; may be null.
  virtual RadioAdapterList* GetAdapterList(std::int32_t reserved) = 0;

 protected:
  ~RadioAPI() = default;
};

extern "C" RADIOAPI_ENTRY RadioAPI* RadioLoadAPI(void* reserved);
