// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include "platform/win32/win32_console_control.h"

#include <windows.h>

#include <atomic>
#include <mutex>

namespace tarvion {

namespace {

// The handler is a plain function the system calls on a thread of its own.
std::mutex g_mutex;
MainThread* g_main_thread = nullptr;
std::function<void()> g_close;
std::function<void()> g_requested_hook;
std::atomic<bool> g_requested{false};

BOOL WINAPI note_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT &&
      event != CTRL_LOGOFF_EVENT && event != CTRL_SHUTDOWN_EVENT) {
    return FALSE;
  }
  g_requested = true;
  return TRUE;
}

BOOL WINAPI on_console_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      break;
    default:
      return FALSE;
  }
  g_requested = true;
  std::unique_lock lock(g_mutex);
  if (!g_main_thread) return FALSE;  // no loop to close: the system's default
  // Under the lock: the program it reaches cannot end meanwhile.
  if (g_requested_hook) g_requested_hook();
  MainThread* main_thread = g_main_thread;
  std::function<void()> close = g_close;
  lock.unlock();
  try {
    main_thread->run_and_wait(close);
  } catch (...) {
    // The shutdown's own failures are not the console's to report.
  }
  return TRUE;
}

}  // namespace

void note_console_close_requests() {
  SetConsoleCtrlHandler(note_console_event, TRUE);
}

bool console_close_requested() {
  return g_requested.load();
}

ConsoleControl::ConsoleControl(MainThread& main_thread, std::function<void()> close,
                               std::function<void()> requested) {
  {
    std::lock_guard lock(g_mutex);
    g_main_thread = &main_thread;
    g_close = std::move(close);
    g_requested_hook = std::move(requested);
  }
  SetConsoleCtrlHandler(on_console_event, TRUE);
  SetConsoleCtrlHandler(note_console_event, FALSE);
}

ConsoleControl::~ConsoleControl() {
  loop_ended();
  SetConsoleCtrlHandler(on_console_event, FALSE);
}

void ConsoleControl::loop_ended() {
  std::lock_guard lock(g_mutex);
  g_main_thread = nullptr;
  g_close = nullptr;
  g_requested_hook = nullptr;
}

}  // namespace tarvion
