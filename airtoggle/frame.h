// The mode switcher: a frame window that is never shown, whose timer runs one switching
// sequence between the zero-configuration service and the vendor utility, then closes.
#pragma once

#include <cstdint>

#include "platform/kernel.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/windowing.h"

// Modes: who manages the adapter.
constexpr int kVendorMode = 0;      // the vendor utility
constexpr int kZeroConfigMode = 1;  // the zero-configuration service
// Stand-ins for "not known" in the members below; never written anywhere.
constexpr int kModeUnknown = -1;
constexpr int kLevelUnknown = -1;
constexpr int kStateUnknown = -1;

constexpr char kFrameTitle[] = "Airtoggle";
constexpr UINT_PTR kSwitchTimerId = 199;
constexpr UINT kSwitchTimerPeriodMs = 1000;
// Time the vendor service is given after its restart before its library is signalled.
constexpr DWORD kVendorSettleMs = 4000;
// Service state polls: every 100 ms, for at most 30 seconds; at the bound the sequence
// goes on as if the state had been reached.
constexpr DWORD kServicePollMs = 100;
constexpr int kMaxServiceStatePolls = 300;
// The vendor library's adapter count is believed up to this many adapters.
constexpr std::uint32_t kMaxRadioAdapters = 256;

// The five switching options.
enum class SwitchCommand { kNone, kInstaller, kAirtoggle, kEnableLinkdesk, kLinkdesk, kWzc };

// Compares the whole command line with the system directory followed by each option's
// suffix, ignoring the case of A-Z only.
SwitchCommand MatchCommandLine(const char* commandLine, const char* systemDirectory);

// The service-pack level 0-3 of a service-pack text, or kLevelUnknown.
int ServicePackLevel(const char* csdVersion);

// Records the mode in the vendor utility's settings. Only 0 and 1 are ever written; the
// settings key is opened, never created.
void WriteUseZeroConfig(int value);

// Service primitives. Each opens and closes its own connection to the manager.
void StartNamedService(const char* name);
void StopNamedService(const char* name);
// Polls until the service reaches `wanted` or the poll bound is reached.
void WaitForServiceState(SC_HANDLE statusHandle, DWORD wanted);

class CMainFrame {
 public:
  CMainFrame() = default;
  ~CMainFrame();
  CMainFrame(const CMainFrame&) = delete;
  CMainFrame& operator=(const CMainFrame&) = delete;

  // Creates the frame window hidden; false when it could not be created.
  bool LoadFrame(HINSTANCE instance);
  HWND Window() const { return m_hWnd; }

  // Sequences and operations of the switch.
  void RunSwitch(SwitchCommand command);
  void ApplyInterfaceFlags(int mode);
  void RestartVendorService();
  void CycleZeroConfigService();
  void RestartZeroConfigService();
  void SignalVendorAdapter();

  // Window creation: service-pack level and recorded mode; 0 or -1 as for WM_CREATE.
  int OnCreate();
  void ReadServicePackLevel();
  void ReadRecordedMode();

  int m_nTargetMode = kModeUnknown;
  DWORD m_dwUseZeroConfig = 0;
  int m_nZeroConfigWasRunning = kStateUnknown;
  int m_nServicePackLevel = kLevelUnknown;

 private:
  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void OnTimer();
  void OnCommand(UINT id);
  void ApplyToAdapter(const char* subkeyName, int mode);
  void WriteCompleteRecord(HKEY interfaceKey, int mode);

  HINSTANCE m_hInstance = nullptr;
  HWND m_hWnd = nullptr;
  HWND m_hWndView = nullptr;
  HWND m_hWndToolBar = nullptr;
};

// The program: single-instance check, hidden frame, message loop. Always 0.
int AirtoggleMain(HINSTANCE instance);
