// The substitute machine's desktop: window classes, windows with their timers, the
// thread's message queue, the windows of other processes (found by title only) and the
// program's resources.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/windowing.h"

namespace sim {

struct WindowClass {
  std::string name;
  WNDPROC procedure = nullptr;
};

struct Timer {
  UINT_PTR id = 0;
  UINT period = 0;
  DWORD due = 0;
};

struct Desktop {
  // Titles of top-level windows that belong to other processes.
  std::vector<std::string> foreignWindows;
  // The program's resources: strings and accelerator tables by identifier.
  std::map<UINT, std::string> strings;
  std::set<UINT> accelerators;

  // Internal state of the message loop.
  std::map<std::string, WindowClass> classes;  // by upper-case name
  std::vector<HWND> windows;                   // this process's windows, in creation order
  std::deque<MSG> queue;
  bool quitPosted = false;
  int quitCode = 0;

  // A program run on the machine has ended: its classes and its queue go with it
  // (windows must have been destroyed by the program itself).
  void ProcessEnded() {
    classes.clear();
    queue.clear();
    quitPosted = false;
    quitCode = 0;
  }
};

}  // namespace sim
