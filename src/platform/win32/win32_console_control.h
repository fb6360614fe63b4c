// Ctrl-C, Ctrl-Break and closing the console, for the console program: each
// closes Tarvion as the window's close button does, on the main thread.
#pragma once

// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include <functional>

#include "base/main_thread.h"

namespace tarvion {

// Before the program exists (while the panels are being connected, say), a
// close request is only noted instead of ending the process the system's
// way; console_close_requested() tells. ConsoleControl takes over from it.
void note_console_close_requests();
bool console_close_requested();

class ConsoleControl {
 public:
  // close runs on the main thread (through main_thread) once per event; the
  // system's handler thread waits for it, so a closing console lets the
  // shutdown finish first. requested runs on the handler thread at once,
  // while the main thread may still be busy. One per process.
  ConsoleControl(MainThread& main_thread, std::function<void()> close,
                 std::function<void()> requested = {});
  ~ConsoleControl();

  ConsoleControl(const ConsoleControl&) = delete;
  ConsoleControl& operator=(const ConsoleControl&) = delete;

  // Main thread, when the message loop has ended: later events find nobody
  // to run them and are left to the system.
  void loop_ended();
};

}  // namespace tarvion
