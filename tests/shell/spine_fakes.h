// A whole Program on the virtual platform, with a socket fake that records
// what the spine does with it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/virtual/null_seams.h"
#include "platform/virtual/recording_view.h"
#include "platform/virtual/virtual_clock.h"
#include "platform/virtual/virtual_main_thread.h"
#include "shell/program.h"

namespace tarvion {

class RecordingSocket : public ClientSocket {
 public:
  void set_host(const std::string& h) override { host = h; }
  void set_port(int32_t p) override { port = p; }
  void open() override { ++opens; }
  void close() override {
    ++closes;
    active = false;
  }
  bool is_active() const override { return active; }
  void send_text(std::string_view text) override {
    if (active) sent.emplace_back(text);
  }
  std::string receive_text() override { return {}; }
  void set_events(ClientSocketEvents e) override { events = std::move(e); }

  std::string host;
  int32_t port = -1;
  int opens = 0;
  int closes = 0;
  bool active = false;
  std::vector<std::string> sent;
  ClientSocketEvents events;
};

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
