// The mode switcher: a frame window that is never shown, whose timer runs one switching
// sequence between the zero-configuration service and the vendor utility, then closes.
#pragma once

#include "airtoggle/switch_state.h"
#include "platform/kernel.h"
#include "platform/windowing.h"

constexpr char kFrameTitle[] = "Airtoggle";
constexpr UINT_PTR kSwitchTimerId = 199;
constexpr UINT kSwitchTimerPeriodMs = 1000;

// The frame window class, carrying the run's four members (SwitchState) that the
// sequences it starts read and write.
class CMainFrame : public SwitchState {
 public:
  CMainFrame() = default;
  ~CMainFrame();
  CMainFrame(const CMainFrame&) = delete;
  CMainFrame& operator=(const CMainFrame&) = delete;

  // Creates the frame window hidden; false when it could not be created.
  bool LoadFrame(HINSTANCE instance);
  HWND Window() const { return m_hWnd; }

  // Window creation: service-pack level and recorded mode; 0 or -1 as for WM_CREATE.
  int OnCreate();

 private:
  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void OnTimer();
  void OnCommand(UINT id);

  HINSTANCE m_hInstance = nullptr;
  HWND m_hWnd = nullptr;
  HWND m_hWndView = nullptr;
  HWND m_hWndToolBar = nullptr;
};
