// Single-instance guard for tests: one flag shared by the "processes" of a test.
#pragma once

#include "shell/instance_guard.h"

namespace tarvion {

class VirtualInstanceGuard : public InstanceGuard {
 public:
  explicit VirtualInstanceGuard(bool& taken) : taken_(taken) {}
  bool acquire() override {
    if (taken_) return false;
    taken_ = held_ = true;
    return true;
  }
  void signal_running() override { ++signals; }
  ~VirtualInstanceGuard() override {
    if (held_) taken_ = false;
  }
  int signals = 0;

 private:
  bool& taken_;
  bool held_ = false;
};

}  // namespace tarvion
