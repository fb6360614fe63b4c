// A whole Program in ZEMP mode on the virtual platform, with the in-memory
// socket as the server, and a transcript of what crosses the wire and what
// Label9 and the error box show, each line stamped with the virtual time.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/virtual/in_memory_socket.h"
#include "platform/virtual/null_seams.h"
#include "platform/virtual/recording_view.h"
#include "platform/virtual/virtual_clock.h"
#include "platform/virtual/virtual_main_thread.h"
#include "shell/program.h"

namespace tarvion {

inline constexpr const char* kZempConfig =
    "XPLANE=YES\r\nZEMP_HOST=127.0.0.1\r\nZEMP_PORT=8092\r\nMINIMIZED=NO\r\n";

struct ZempRig {
  explicit ZempRig(std::string config_text = kZempConfig);

  VirtualMainThread main_thread;
  VirtualClock clock;
  RecordingView view;
  InMemorySocket socket{clock};
  NullHidAccess hid;
  NullDeviceNotifier notifier;
  NullIpcTransport ipc;
  std::string config_text;
  std::unique_ptr<Program> program;
  std::vector<std::string> transcript;

  void start();                        // FormCreate, FormShow
  void run_until(uint64_t ms);         // virtual time since the start
  void note(const std::string& what);  // a line of the test's own, e.g. what a panel did
  // A transfer on a panel as the radio logic reports it: new active value, marked for sending.
  void set_radio(RadioIndex radio, int32_t value);
  std::string transcript_text() const;  // the lines, each ended by "\n"
};

// A golden transcript from tests/zemp/transcripts/<name>.txt, without its
// comment lines (those starting with "#") and blank lines.
std::string read_transcript(const std::string& name);

}  // namespace tarvion
