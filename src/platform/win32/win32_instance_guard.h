// Single instance on Windows: the named mutex "Kelvane" held for the life of
// the process; a second instance broadcasts the registered message "Kelvane".
#pragma once

// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include <windows.h>

#include <string>

#include "shell/instance_guard.h"

namespace tarvion {

class Win32InstanceGuard : public InstanceGuard {
 public:
  // name: of the mutex and of the message ("Kelvane"; tests use their own).
  explicit Win32InstanceGuard(std::string name = "Kelvane") : name_(std::move(name)) {}
  ~Win32InstanceGuard() override;

  Win32InstanceGuard(const Win32InstanceGuard&) = delete;
  Win32InstanceGuard& operator=(const Win32InstanceGuard&) = delete;

  bool acquire() override;
  // Broadcasts the message to every top-level window; a hung window is
  // skipped after a short time-out instead of hanging this process forever.
  void signal_running() override;

 private:
  std::string name_;
  HANDLE mutex_ = nullptr;
};

}  // namespace tarvion
