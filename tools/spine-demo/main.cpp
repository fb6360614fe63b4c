// Runs the program spine on the virtual platform with a configuration file and
// prints what the window shows, line by line, as virtual time passes.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "platform/virtual/in_memory_socket.h"
#include "platform/virtual/null_seams.h"
#include "platform/virtual/recording_view.h"
#include "platform/virtual/virtual_clock.h"
#include "platform/virtual/virtual_main_thread.h"
#include "shell/config_loader.h"
#include "shell/program.h"

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--help") {
    std::cout << "usage: tarvion-spine-demo [CONFIG] [SECONDS]\n"
                 "Runs the program on the virtual platform (no panels, no simulator) with\n"
                 "CONFIG (default Tarvion.ini) for SECONDS of virtual time (default 10),\n"
                 "printing the window's texts and the ZEMP connection attempts as they happen.\n";
    return 0;
  }
  std::string path = argc > 1 ? argv[1] : "Tarvion.ini";
  int seconds = argc > 2 ? std::atoi(argv[2]) : 10;

  tarvion::VirtualMainThread main_thread;
  tarvion::VirtualClock clock;
  tarvion::RecordingView view;
  view.on_line = [&clock](const std::string& line) {
    std::printf("[%6.3f s] %s\n", static_cast<double>(clock.now_ms()) / 1000.0, line.c_str());
    std::fflush(stdout);
  };
  // No network behind it: every attempt is refused, a moment after it starts.
  tarvion::InMemorySocket socket(clock);
  socket.set_answer(tarvion::InMemorySocket::Answer::refuse);
  socket.on_wire = view.on_line;
  tarvion::NullHidAccess hid;
  tarvion::NullDeviceNotifier notifier;
  tarvion::NullIpcTransport ipc;

  tarvion::Program program(tarvion::ProgramSeams{main_thread, clock, view, socket, hid, notifier,
                                                 ipc, [path] {
                                                   return tarvion::read_config_file(path);
                                                 }});
  program.FormCreate();
  program.FormShow();
  clock.advance(static_cast<uint64_t>(seconds) * 1000);
  program.FormClose();
  std::printf("[%6.3f s] closed\n", static_cast<double>(clock.now_ms()) / 1000.0);
  return 0;
}
