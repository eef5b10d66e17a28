// Windowing: classes, a hidden top-level window found by class and title, the messages
// of its life, timers, the message queue and the quit message, the window's user data,
// and resources that are missing.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "conformance.h"
#include "platform/windowing.h"

namespace {

CONFORMANCE_SUITE(WindowingConformance);

constexpr UINT kPrivate = 0x8001;  // WM_APP + 1

std::vector<UINT> received;

LRESULT CALLBACK Record(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  received.push_back(message);
  return DefWindowProcA(window, message, wParam, lParam);
}

// Registers a class of its own for each case: a class lives as long as the process.
std::string RegisterOwnClass(const char* name) {
  std::string className = std::string("ConfClass") + name;
  WNDCLASSA windowClass;
  std::memset(&windowClass, 0, sizeof windowClass);
  windowClass.lpfnWndProc = Record;
  windowClass.lpszClassName = className.c_str();
  EXPECT_NE(RegisterClassA(&windowClass), 0) << className;
  received.clear();
  return className;
}

HWND CreateHidden(const std::string& className, const char* title) {
  return CreateWindowExA(0, className.c_str(), title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                         CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr,
                         nullptr);
}

// Position of `message` among the received ones, or -1.
int Position(UINT message) {
  auto it = std::find(received.begin(), received.end(), message);
  return it == received.end() ? -1 : static_cast<int>(it - received.begin());
}

TEST_F(WindowingConformance, ClassRegisteredTwiceIsRefused) {
  std::string className = RegisterOwnClass("Twice");
  WNDCLASSA windowClass;
  std::memset(&windowClass, 0, sizeof windowClass);
  windowClass.lpfnWndProc = Record;
  windowClass.lpszClassName = className.c_str();
  SetLastError(0);
  EXPECT_EQ(RegisterClassA(&windowClass), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
}

TEST_F(WindowingConformance, WindowOfUnknownClassIsRefused) {
  SetLastError(0);
  EXPECT_EQ(CreateHidden("ConfClassNeverRegistered", "x"), nullptr);
  if (conf::OnSubstituteMachine()) {
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
  } else {
    conf::KnownDivergence("Wine reports an unknown window class as ERROR_CLASS_DOES_NOT_EXIST "
                          "(1411), Windows as ERROR_CANNOT_FIND_WND_CLASS (1407)");
    EXPECT_EQ(GetLastError(), 1411u);
  }
}

// A window gets WM_NCCREATE before WM_CREATE, and WM_DESTROY before WM_NCDESTROY, last.
TEST_F(WindowingConformance, CreationAndDestructionMessagesInOrder) {
  std::string className = RegisterOwnClass("Life");
  HWND window = CreateHidden(className, "Conformance Life");
  ASSERT_NE(window, nullptr);
  EXPECT_GE(Position(WM_NCCREATE), 0);
  EXPECT_GT(Position(WM_CREATE), Position(WM_NCCREATE));
  received.clear();
  EXPECT_TRUE(DestroyWindow(window));
  EXPECT_GE(Position(WM_DESTROY), 0);
  EXPECT_GT(Position(WM_NCDESTROY), Position(WM_DESTROY));
  ASSERT_FALSE(received.empty());
  EXPECT_EQ(received.back(), static_cast<UINT>(WM_NCDESTROY));
}

// Found by class, by title, by both, letter case ignored; gone once destroyed.
// Child windows are not found.
TEST_F(WindowingConformance, FindWindowByClassAndTitle) {
  std::string className = RegisterOwnClass("Find");
  HWND window = CreateHidden(className, "Conformance Finder");
  ASSERT_NE(window, nullptr);
  HWND child = CreateWindowExA(0, "STATIC", "Conformance Child", WS_CHILD, 0, 0, 10, 10, window,
                               nullptr, nullptr, nullptr);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(FindWindowA(className.c_str(), nullptr), window);
  EXPECT_EQ(FindWindowA(nullptr, "conformance finder"), window);
  EXPECT_EQ(FindWindowA(className.c_str(), "Conformance Finder"), window);
  EXPECT_EQ(FindWindowA(className.c_str(), "Other Title"), nullptr);
  EXPECT_EQ(FindWindowA(nullptr, "Conformance Child"), nullptr);
  EXPECT_TRUE(DestroyWindow(window));  // the child goes with it
  EXPECT_EQ(FindWindowA(className.c_str(), nullptr), nullptr);
}

TEST_F(WindowingConformance, TimerMessagesUntilKilled) {
  std::string className = RegisterOwnClass("Timer");
  HWND window = CreateHidden(className, "Conformance Timer");
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(SetTimer(window, 5, 10, nullptr), 5u);
  MSG message;
  do {
    ASSERT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
  } while (message.message != WM_TIMER);
  EXPECT_EQ(message.hwnd, window);
  EXPECT_EQ(message.wParam, 5u);
  received.clear();
  DispatchMessageA(&message);
  EXPECT_EQ(received, std::vector<UINT>{WM_TIMER});
  EXPECT_TRUE(KillTimer(window, 5));
  EXPECT_FALSE(KillTimer(window, 5));
  EXPECT_TRUE(DestroyWindow(window));
}

// Posted messages come in order; the quit message comes once the queue is empty, with
// GetMessageA returning FALSE and the exit code in wParam.
TEST_F(WindowingConformance, PostedMessagesThenQuit) {
  std::string className = RegisterOwnClass("Queue");
  HWND window = CreateHidden(className, "Conformance Queue");
  ASSERT_NE(window, nullptr);
  PostQuitMessage(3);
  ASSERT_TRUE(PostMessageA(window, kPrivate, 1, 0));
  ASSERT_TRUE(PostMessageA(window, kPrivate, 2, 0));
  std::vector<WPARAM> privates;
  MSG message;
  BOOL result;
  while ((result = GetMessageA(&message, nullptr, 0, 0)) == TRUE) {
    if (message.message == kPrivate) privates.push_back(message.wParam);
  }
  EXPECT_EQ(result, FALSE);
  EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(message.wParam, 3u);
  EXPECT_EQ(privates, (std::vector<WPARAM>{1, 2}));
  EXPECT_TRUE(DestroyWindow(window));
}

TEST_F(WindowingConformance, CloseThroughDefaultProcedureDestroys) {
  std::string className = RegisterOwnClass("Close");
  HWND window = CreateHidden(className, "Conformance Close");
  ASSERT_NE(window, nullptr);
  received.clear();
  EXPECT_EQ(DefWindowProcA(window, WM_CLOSE, 0, 0), 0);
  EXPECT_GE(Position(WM_DESTROY), 0);
  EXPECT_EQ(FindWindowA(className.c_str(), nullptr), nullptr);
}

TEST_F(WindowingConformance, UserDataAndVisibility) {
  std::string className = RegisterOwnClass("Data");
  HWND window = CreateHidden(className, "Conformance Data");
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(GetWindowLongPtrA(window, GWLP_USERDATA), 0);
  EXPECT_EQ(SetWindowLongPtrA(window, GWLP_USERDATA, 1234), 0);
  EXPECT_EQ(SetWindowLongPtrA(window, GWLP_USERDATA, 5678), 1234);
  EXPECT_EQ(GetWindowLongPtrA(window, GWLP_USERDATA), 5678);
  EXPECT_FALSE(ShowWindow(window, SW_HIDE));  // it was not visible
  EXPECT_TRUE(DestroyWindow(window));
}

// A string longer than the buffer is cut to capacity - 1 and terminated.
TEST_F(WindowingConformance, StringResourceCutToBuffer) {
  char buffer[64];
  EXPECT_EQ(LoadStringA(nullptr, conf::kStringId, buffer, sizeof buffer),
            static_cast<int>(std::strlen(conf::kStringText)));
  EXPECT_STREQ(buffer, conf::kStringText);
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(LoadStringA(nullptr, conf::kStringId, buffer, 5), 4);
  EXPECT_EQ(std::string(buffer, 6), std::string(conf::kStringText, 4) + '\0' + 'x');
}

TEST_F(WindowingConformance, AcceleratorTableByNumber) {
  EXPECT_NE(LoadAcceleratorsA(nullptr, MAKEINTRESOURCEA(conf::kAcceleratorsId)), nullptr);
}

// Resources of a kind the program has, by a number it does not have.
TEST_F(WindowingConformance, MissingResources) {
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(LoadStringA(nullptr, 1, buffer, sizeof buffer), 0);
  EXPECT_EQ(buffer[0], '\0');
  SetLastError(0);
  EXPECT_EQ(LoadAcceleratorsA(nullptr, MAKEINTRESOURCEA(1)), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  SetLastError(0);
  EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(1), nullptr, nullptr, 0), -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
}

}  // namespace
