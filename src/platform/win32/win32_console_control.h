// Ctrl-C, Ctrl-Break and closing the console, for the console program: each
// closes Tarvion as the window's close button does, on the main thread.
#pragma once

// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include <functional>

#include "base/main_thread.h"

namespace tarvion {

class ConsoleControl {
 public:
  // close runs on the main thread (through main_thread) once per event; the
  // system's handler thread waits for it, so a closing console lets the
  // shutdown finish first. One per process.
  ConsoleControl(MainThread& main_thread, std::function<void()> close);
  ~ConsoleControl();

  ConsoleControl(const ConsoleControl&) = delete;
  ConsoleControl& operator=(const ConsoleControl&) = delete;

  // Main thread, when the message loop has ended: later events find nobody
  // to run them and are left to the system.
  void loop_ended();
};

}  // namespace tarvion
