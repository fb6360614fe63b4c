// A whole Program on the virtual platform, with a socket that records what
// the spine does with it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/virtual/null_seams.h"
#include "platform/virtual/recording_view.h"
#include "platform/virtual/virtual_clock.h"
#include "platform/virtual/virtual_main_thread.h"
#include "shell/program.h"
#include "support/recording_socket.h"

namespace tarvion {

using testing::RecordingSocket;

struct SpineRig {
  explicit SpineRig(std::string config_text);
  // A rig whose configuration file cannot be found.
  static std::unique_ptr<SpineRig> without_config();

  VirtualMainThread main_thread;
  VirtualClock clock;
  RecordingView view;
  RecordingSocket socket;
  NullHidAccess hid;
  NullDeviceNotifier notifier;
  NullIpcTransport ipc;
  std::string config_text;
  bool config_missing = false;
  std::unique_ptr<Program> program;

  void start() {
    program->FormCreate();
    program->FormShow();
  }
  bool saw(const std::string& line) const;
};

}  // namespace tarvion
