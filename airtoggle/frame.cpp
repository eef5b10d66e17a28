// Start-up, the hidden frame window and its timer, which hands the command line to the
// sequences.
#include "airtoggle/frame.h"

#include <cstring>

#include "airtoggle/interface_flags.h"
#include "airtoggle/recorded_mode.h"
#include "airtoggle/resource.h"
#include "airtoggle/sequences.h"
#include "common/text.h"

namespace {

constexpr char kFrameClass[] = "AirtoggleFrame";

INT_PTR CALLBACK AboutProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(dialog, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

}  // namespace

CMainFrame::~CMainFrame() {
  if (m_hWnd != nullptr) DestroyWindow(m_hWnd);
}

bool CMainFrame::LoadFrame(HINSTANCE instance) {
  m_hInstance = instance;
  WNDCLASSA windowClass;
  std::memset(&windowClass, 0, sizeof windowClass);
  windowClass.lpfnWndProc = WindowProcedure;
  windowClass.hInstance = instance;
  windowClass.lpszMenuName = MAKEINTRESOURCEA(IDR_MAINFRAME);
  windowClass.lpszClassName = kFrameClass;
  if (RegisterClassA(&windowClass) == 0) return false;

  // The title comes from the string table; the single-instance check depends on it.
  char title[50] = {};
  if (LoadStringA(instance, IDR_MAINFRAME, title, static_cast<int>(sizeof title)) <= 0)
    CopyText(title, sizeof title, kFrameTitle);
  HWND created = CreateWindowExA(0, kFrameClass, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                 instance, this);
  if (created == nullptr) return false;
  ShowWindow(m_hWnd, SW_HIDE);
  UpdateWindow(m_hWnd);
  return true;
}

LRESULT CALLBACK CMainFrame::WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    auto* frame = static_cast<CMainFrame*>(create->lpCreateParams);
    frame->m_hWnd = window;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(frame));
  }
  auto* frame = reinterpret_cast<CMainFrame*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (frame == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  return frame->OnMessage(window, message, wParam, lParam);
}

LRESULT CMainFrame::OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate();
    case WM_TIMER:
      OnTimer();
      return 0;
    case WM_COMMAND:
      OnCommand(LOWORD(wParam));
      return 0;
    case WM_CLOSE:
      DestroyWindow(m_hWnd);
      return 0;
    case WM_DESTROY:
      // Closing the main window ends the message loop and so the program.
      m_hWnd = nullptr;
      m_hWndView = nullptr;
      m_hWndToolBar = nullptr;
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      // The frame no longer answers for this window.
      SetWindowLongPtrA(window, GWLP_USERDATA, 0);
      return DefWindowProcA(window, message, wParam, lParam);
    default:
      // The window handed in, not m_hWnd: that is gone once WM_DESTROY has run.
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

int CMainFrame::OnCreate() {
  // Client view and toolbar: plain child windows, never seen.
  m_hWndView = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, m_hWnd,
                               reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDW_PANE_FIRST)),
                               m_hInstance, nullptr);
  if (m_hWndView == nullptr) return -1;
  m_hWndToolBar = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, m_hWnd,
                                  reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDW_TOOLBAR)),
                                  m_hInstance, nullptr);
  if (m_hWndToolBar == nullptr) return -1;

  ReadServicePackLevel(*this);
  ReadRecordedMode(*this);
  // Without the timer nothing would ever end the message loop: give up the window.
  if (SetTimer(m_hWnd, kSwitchTimerId, kSwitchTimerPeriodMs, nullptr) == 0) return -1;
  return 0;
}

void CMainFrame::OnTimer() {
  KillTimer(m_hWnd, kSwitchTimerId);
  char systemDirectory[200] = {};
  UINT length = GetSystemDirectoryA(systemDirectory, sizeof systemDirectory);
  // A directory that did not fit is no directory: nothing can match.
  if (length == 0 || length >= sizeof systemDirectory) std::memset(systemDirectory, 0, sizeof systemDirectory);
  RunSwitch(MatchCommandLine(GetCommandLineA(), systemDirectory), *this);
  DestroyWindow(m_hWnd);
}

void CMainFrame::OnCommand(UINT id) {
  if (id == ID_APP_EXIT) {
    PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
  } else if (id == ID_APP_ABOUT) {
    DialogBoxParamA(m_hInstance, MAKEINTRESOURCEA(IDD_ABOUTBOX), m_hWnd, AboutProcedure, 0);
  }
}
