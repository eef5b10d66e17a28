// Windowing of the substitute machine: one thread's windows, timers on the virtual
// clock and its message queue. When the queue is empty, GetMessageA moves the clock on
// to the next due timer; with nothing to wait for at all it reports the hang as misuse
// instead of blocking for ever.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/windowing.h"

namespace sim {
namespace {

// Registered classes get atoms from the range Windows keeps for them, in order.
constexpr unsigned kFirstClassAtom = 0xC000u;
// Windows of other processes have handles of their own range, 4 apart, by their index.
constexpr std::uintptr_t kFirstForeignWindow = 0x7F000000u;
// A resource name below this value is a number (MAKEINTRESOURCE), not a string.
constexpr ULONG_PTR kFirstNamePointer = 0x10000u;

// The "STATIC" control is the only predefined class the programs use.
LRESULT CALLBACK StaticProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

struct WindowObject : HandleObject {
  const char* Kind() const override { return "window"; }
  bool IsKernelObject() const override { return false; }
  std::string className;
  std::string title;
  HWND parent = nullptr;
  DWORD style = 0;
  bool visible = false;
  bool destroying = false;
  WNDPROC procedure = nullptr;
  LONG_PTR userData = 0;
  std::vector<Timer> timers;
};

WindowObject* WindowOf(Machine& m, HWND window, const char* operation) {
  auto* object = m.Lookup<WindowObject>(reinterpret_cast<HANDLE>(window));
  if (object == nullptr && operation != nullptr)
    m.Misuse(std::string(operation) + " on a handle that is not a window");
  return object;
}

std::string ResourceName(LPCSTR name) {
  auto value = reinterpret_cast<ULONG_PTR>(name);
  if (value < kFirstNamePointer) return "#" + std::to_string(value);
  return name;
}

}  // namespace
}  // namespace sim

using sim::Current;
using sim::Failure;

ATOM WINAPI RegisterClassA(const WNDCLASSA* windowClass) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("RegisterClassA")) return 0;
  if (windowClass == nullptr || windowClass->lpszClassName == nullptr ||
      windowClass->lpfnWndProc == nullptr)
    return Failure(ERROR_INVALID_PARAMETER, ATOM{0});
  std::string key = sim::Upper(windowClass->lpszClassName);
  if (key == "STATIC" || m.desktop.classes.count(key) != 0)
    return Failure(ERROR_CLASS_ALREADY_EXISTS, ATOM{0});
  m.desktop.classes[key] = sim::WindowClass{windowClass->lpszClassName, windowClass->lpfnWndProc};
  return static_cast<ATOM>(sim::kFirstClassAtom + m.desktop.classes.size());
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("CreateWindowExA")) return nullptr;
  if (className == nullptr) return Failure(ERROR_INVALID_PARAMETER, HWND{});
  std::string key = sim::Upper(className);
  WNDPROC procedure = nullptr;
  if (key == "STATIC") {
    procedure = sim::StaticProcedure;
  } else {
    auto it = m.desktop.classes.find(key);
    if (it == m.desktop.classes.end()) return Failure(ERROR_CANNOT_FIND_WND_CLASS, HWND{});
    procedure = it->second.procedure;
  }
  if ((style & WS_CHILD) != 0 && sim::WindowOf(m, parent, "CreateWindowExA (parent)") == nullptr)
    return Failure(ERROR_INVALID_WINDOW_HANDLE, HWND{});

  auto object = std::make_unique<sim::WindowObject>();
  object->className = className;
  object->title = windowName == nullptr ? "" : windowName;
  object->parent = (style & WS_CHILD) != 0 ? parent : nullptr;
  object->style = style;
  object->visible = (style & WS_VISIBLE) != 0;
  object->procedure = procedure;
  sim::Event created = sim::Event::Window("CreateWindow", object->className, object->title);
  HWND window = reinterpret_cast<HWND>(m.OpenHandle(std::move(object)));
  m.desktop.windows.push_back(window);
  m.Log(std::move(created));

  CREATESTRUCTA create;
  std::memset(&create, 0, sizeof create);
  create.lpCreateParams = param;
  create.hInstance = instance;
  create.hMenu = menu;
  create.hwndParent = parent;
  create.cy = height;
  create.cx = width;
  create.y = y;
  create.x = x;
  create.style = static_cast<LONG>(style);
  create.lpszName = windowName;
  create.lpszClass = className;
  create.dwExStyle = exStyle;
  LPARAM lParam = reinterpret_cast<LPARAM>(&create);
  if (procedure(window, WM_NCCREATE, 0, lParam) == 0 ||
      procedure(window, WM_CREATE, 0, lParam) == -1) {
    // Creation refused: the window is destroyed again and no handle returned.
    DestroyWindow(window);
    return Failure(ERROR_GEN_FAILURE, HWND{});
  }
  return window;
}

BOOL WINAPI DestroyWindow(HWND window) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("DestroyWindow")) return FALSE;
  sim::WindowObject* object = sim::WindowOf(m, window, "DestroyWindow");
  if (object == nullptr) return Failure(ERROR_INVALID_WINDOW_HANDLE, FALSE);
  if (object->destroying) return TRUE;
  object->destroying = true;
  object->timers.clear();
  WNDPROC procedure = object->procedure;
  m.Log(sim::Event::Window("DestroyWindow", object->className, object->title));
  procedure(window, WM_DESTROY, 0, 0);
  // Children go with their parent.
  for (;;) {
    HWND child = nullptr;
    for (HWND candidate : m.desktop.windows) {
      auto* c = m.Lookup<sim::WindowObject>(reinterpret_cast<HANDLE>(candidate));
      if (c != nullptr && c->parent == window && !c->destroying) {
        child = candidate;
        break;
      }
    }
    // A child that cannot be destroyed (its process is being ended) stays for the process's
    // end to drop; asking again would never end.
    if (child == nullptr || !DestroyWindow(child)) break;
  }
  // The last message a window gets.
  procedure(window, WM_NCDESTROY, 0, 0);
  // Messages still queued for it are dropped.
  for (auto it = m.desktop.queue.begin(); it != m.desktop.queue.end();) {
    it = it->hwnd == window ? m.desktop.queue.erase(it) : it + 1;
  }
  m.CloseHandleOf(reinterpret_cast<HANDLE>(window));
  for (auto it = m.desktop.windows.begin(); it != m.desktop.windows.end(); ++it) {
    if (*it == window) {
      m.desktop.windows.erase(it);
      break;
    }
  }
  return TRUE;
}

HWND WINAPI FindWindowA(LPCSTR className, LPCSTR windowName) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("FindWindowA")) return nullptr;
  for (HWND window : m.desktop.windows) {
    auto* object = m.Lookup<sim::WindowObject>(reinterpret_cast<HANDLE>(window));
    if (object == nullptr || object->parent != nullptr || object->destroying) continue;
    if (className != nullptr && !sim::SameText(object->className, className)) continue;
    if (windowName != nullptr && !sim::SameText(object->title, windowName)) continue;
    return window;
  }
  if (className == nullptr) {
    for (std::size_t i = 0; i < m.desktop.foreignWindows.size(); ++i) {
      if (windowName == nullptr || sim::SameText(m.desktop.foreignWindows[i], windowName))
        return reinterpret_cast<HWND>(sim::kFirstForeignWindow + 4u * i);
    }
  }
  return Failure(ERROR_FILE_NOT_FOUND, HWND{});
}

BOOL WINAPI ShowWindow(HWND window, int command) {
  sim::Machine& m = Current();
  m.Count("ShowWindow");  // reports the earlier visibility; it has no failure of its own
  sim::WindowOf(m, window, "ShowWindow");
  auto* object = m.Lookup<sim::WindowObject>(reinterpret_cast<HANDLE>(window));
  if (object == nullptr) return FALSE;
  BOOL wasVisible = object->visible ? TRUE : FALSE;
  object->visible = command != SW_HIDE;
  if (object->visible) m.Log(sim::Event::On("ShowWindow", object->title, "shown"));
  return wasVisible;
}

BOOL WINAPI UpdateWindow(HWND window) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("UpdateWindow")) return FALSE;
  return sim::WindowOf(m, window, "UpdateWindow") != nullptr ? TRUE : FALSE;
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM) {
  sim::Machine& m = Current();
  m.Count("DefWindowProcA");
  if (sim::WindowOf(m, window, "DefWindowProcA") == nullptr) {
    m.lastError = ERROR_INVALID_WINDOW_HANDLE;
    return 0;
  }
  if (message == WM_NCCREATE) return TRUE;
  if (message == WM_CLOSE) DestroyWindow(window);
  return 0;
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("SetWindowLongPtrA")) return 0;
  sim::WindowObject* object = sim::WindowOf(m, window, "SetWindowLongPtrA");
  if (object == nullptr || index != GWLP_USERDATA) return Failure(ERROR_INVALID_PARAMETER, LONG_PTR{0});
  LONG_PTR previous = object->userData;
  object->userData = value;
  return previous;
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND window, int index) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("GetWindowLongPtrA")) return 0;
  sim::WindowObject* object = sim::WindowOf(m, window, "GetWindowLongPtrA");
  if (object == nullptr || index != GWLP_USERDATA) return Failure(ERROR_INVALID_PARAMETER, LONG_PTR{0});
  return object->userData;
}

UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC function) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("SetTimer")) return 0;
  sim::WindowObject* object = sim::WindowOf(m, window, "SetTimer");
  if (object == nullptr) return Failure(ERROR_INVALID_WINDOW_HANDLE, UINT_PTR{0});
  if (function != nullptr) return Failure(ERROR_INVALID_PARAMETER, UINT_PTR{0});
  if (elapse < 10) elapse = 10;  // USER_TIMER_MINIMUM
  for (auto it = object->timers.begin(); it != object->timers.end(); ++it) {
    if (it->id == id) {
      object->timers.erase(it);
      break;
    }
  }
  object->timers.push_back(sim::Timer{id, elapse, m.now + elapse});
  m.Log(sim::Event::On("SetTimer", std::to_string(id), std::to_string(elapse)).WithNumber(elapse));
  return id;
}

BOOL WINAPI KillTimer(HWND window, UINT_PTR id) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("KillTimer")) return FALSE;
  sim::WindowObject* object = sim::WindowOf(m, window, "KillTimer");
  if (object == nullptr) return Failure(ERROR_INVALID_WINDOW_HANDLE, FALSE);
  for (auto it = object->timers.begin(); it != object->timers.end(); ++it) {
    if (it->id == id) {
      object->timers.erase(it);
      m.Log(sim::Event::On("KillTimer", std::to_string(id)));
      return TRUE;
    }
  }
  return Failure(ERROR_INVALID_PARAMETER, FALSE);
}

BOOL WINAPI GetMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("GetMessageA")) return -1;
  if (message == nullptr || window != nullptr || filterMin != 0 || filterMax != 0)
    return Failure(ERROR_INVALID_PARAMETER, BOOL{-1});
  std::memset(message, 0, sizeof *message);
  if (!m.desktop.queue.empty()) {
    *message = m.desktop.queue.front();
    m.desktop.queue.pop_front();
    return TRUE;
  }
  if (m.desktop.quitPosted) {
    m.desktop.quitPosted = false;
    message->message = WM_QUIT;
    message->wParam = static_cast<WPARAM>(m.desktop.quitCode);
    return FALSE;
  }
  // Idle: the clock moves on to the earliest due timer.
  sim::WindowObject* earliestWindow = nullptr;
  HWND earliestHandle = nullptr;
  sim::Timer* earliest = nullptr;
  for (HWND candidate : m.desktop.windows) {
    auto* object = m.Lookup<sim::WindowObject>(reinterpret_cast<HANDLE>(candidate));
    if (object == nullptr) continue;
    for (sim::Timer& timer : object->timers) {
      if (earliest == nullptr || timer.due < earliest->due) {
        earliest = &timer;
        earliestWindow = object;
        earliestHandle = candidate;
      }
    }
  }
  if (earliest == nullptr) {
    m.Misuse("GetMessageA would wait for ever: no message, no timer, no quit");
    return Failure(ERROR_INVALID_PARAMETER, BOOL{-1});
  }
  (void)earliestWindow;
  if (earliest->due > m.now) m.now = earliest->due;
  earliest->due = m.now + earliest->period;
  message->hwnd = earliestHandle;
  message->message = WM_TIMER;
  message->wParam = earliest->id;
  message->time = m.now;
  return TRUE;
}

BOOL WINAPI TranslateMessage(const MSG*) {
  Current().Count("TranslateMessage");
  return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* message) {
  sim::Machine& m = Current();
  m.Count("DispatchMessageA");  // answers with the window procedure's result; it cannot fail
  if (message == nullptr) return 0;
  sim::WindowObject* object = sim::WindowOf(m, message->hwnd, "DispatchMessageA");
  if (object == nullptr) return 0;
  if (message->message == WM_TIMER)
    m.Log(sim::Event::On("WM_TIMER", std::to_string(message->wParam)));
  return object->procedure(message->hwnd, message->message, message->wParam, message->lParam);
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("PostMessageA")) return FALSE;
  if (sim::WindowOf(m, window, "PostMessageA") == nullptr)
    return Failure(ERROR_INVALID_WINDOW_HANDLE, FALSE);
  MSG posted;
  std::memset(&posted, 0, sizeof posted);
  posted.hwnd = window;
  posted.message = message;
  posted.wParam = wParam;
  posted.lParam = lParam;
  posted.time = m.now;
  m.desktop.queue.push_back(posted);
  return TRUE;
}

void WINAPI PostQuitMessage(int exitCode) {
  sim::Machine& m = Current();
  m.Count("PostQuitMessage");
  m.desktop.quitPosted = true;
  m.desktop.quitCode = exitCode;
  m.Log(sim::Event::Count("PostQuitMessage", exitCode));
}

int WINAPI LoadStringA(HINSTANCE, UINT id, LPSTR buffer, int capacity) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("LoadStringA")) return 0;
  if (buffer == nullptr || capacity <= 0) return Failure(ERROR_INVALID_PARAMETER, 0);
  buffer[0] = '\0';
  auto it = m.desktop.strings.find(id);
  if (it == m.desktop.strings.end()) return Failure(ERROR_RESOURCE_NAME_NOT_FOUND, 0);
  // Like the real call, a string longer than the buffer is cut to fit.
  std::size_t length = std::min(it->second.size(), static_cast<std::size_t>(capacity - 1));
  std::memcpy(buffer, it->second.data(), length);
  buffer[length] = '\0';
  return static_cast<int>(length);
}

HACCEL WINAPI LoadAcceleratorsA(HINSTANCE, LPCSTR name) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("LoadAcceleratorsA")) return nullptr;
  auto value = reinterpret_cast<ULONG_PTR>(name);
  if (value >= 0x10000u || m.desktop.accelerators.count(static_cast<UINT>(value)) == 0)
    return Failure(ERROR_RESOURCE_NAME_NOT_FOUND, HACCEL{});
  // Tables loaded from resources are freed with the module; no handle to account for.
  return reinterpret_cast<HACCEL>(static_cast<std::uintptr_t>(0x6A000000u + value));
}

int WINAPI TranslateAcceleratorA(HWND, HACCEL, LPMSG) {
  Current().Count("TranslateAcceleratorA");
  return 0;
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE, LPCSTR name, HWND, DLGPROC, LPARAM) {
  sim::Machine& m = Current();
  if (auto fault = m.Enter("DialogBoxParamA")) return -1;
  m.Log(sim::Event::On("DialogBox", sim::ResourceName(name)));
  return Failure(ERROR_RESOURCE_NAME_NOT_FOUND, INT_PTR{-1});
}

BOOL WINAPI EndDialog(HWND, INT_PTR) {
  Current().Count("EndDialog");
  return TRUE;
}
