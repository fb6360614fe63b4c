// The Linux console program `tarvion-console` (also what `tarvion --console`
// runs): the program on an epoll loop of its own, with no Qt or other GUI
// library loaded, for headless machines and the systemd user service.
// clang-format off
#include "platform/linux/linux_only.h"  // first: this file is Linux-only
// clang-format on

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "linux_config.h"
#include "linux_panels.h"
#include "platform/console/console_view.h"
#include "platform/posix/posix_tcp_io.h"
#include "platform/linux/epoll_loop.h"
#include "platform/posix/signal_watch.h"
#include "platform/linux/timerfd_timer.h"
#include "platform/posix/unix_instance_guard.h"
#include "shell/config_loader.h"
#include "shell/program.h"
#include "shell/single_instance.h"

namespace {

constexpr const char* kUsage =
    "usage: tarvion-console\n"
    "Links Pendra cockpit panels to a flight simulator. Reads Tarvion.ini from the\n"
    "current folder, or else from $XDG_CONFIG_HOME/tarvion (~/.config/tarvion), and\n"
    "prints each change of the window's texts as a line:\n"
    "  <control>: <text>      on standard output (Label9: Online)\n"
    "  ListBox1: <item>       one line per panel after each change of the list\n"
    "  Error: <message>.      on standard error\n"
    "SIGINT or SIGTERM closes the program as its window's close button does.\n"
    "TARVION_VIRTUAL_PANELS=127.0.0.1:PORT uses the virtual panels of tools/virtual-panels\n"
    "instead of the USB panels.\n";

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--console") == 0) continue;  // as `tarvion --console` passes it on
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    std::fprintf(stderr, "tarvion-console: unknown argument '%s'\n%s", argv[i], kUsage);
    return 2;
  }

  tarvion::EpollLoop loop;
  // From here on SIGINT and SIGTERM close the program, however many arrive and
  // whenever: before the program exists they are remembered, during and after
  // its close they are swallowed. Declared before everything it outlives.
  std::function<void()> close_request;
  tarvion::SignalWatch signal_watch(loop, [&](int) {
    if (close_request) close_request();
  });

  // A second instance (of either Linux program) tells the first and leaves,
  // saying why: one that ends at once without a word looks broken.
  tarvion::UnixInstanceGuard guard(loop);
  if (!tarvion::claim_single_instance(guard)) {
    std::fputs(
        "Another Tarvion is already running (its window or the tarvion service); this one "
        "ends.\n",
        stderr);
    return 0;
  }

  tarvion::EpollMainThread main_thread(loop);
  tarvion::TimerfdTimerFactory timers(loop);
  tarvion::TcpConnection socket(std::make_unique<tarvion::PosixTcpIo>(loop));

  // Declared before the program, which uses them until it ends.
  std::string panel_error;
  tarvion::LinuxPanels panels(main_thread, panel_error, [&] { return signal_watch.requested(); });
  if (signal_watch.requested()) return 0;  // closed before it started
  if (!panels.ready()) {
    std::fprintf(stderr, "tarvion: %s\n", panel_error.c_str());
    return 1;
  }
  // No FSUIPC on Linux: every connect attempt fails as on a PC without a simulator.
  tarvion::NullIpcTransport ipc;
  tarvion::ConsoleView view(stdout, stderr);

  auto read_config = [] {
    return tarvion::read_first_config_file(tarvion::linux_config_paths()).bytes;
  };
  tarvion::Program program(tarvion::ProgramSeams{main_thread, timers, view, socket, panels.hid(),
                                                 panels.notifier(), ipc, read_config});

  bool closed = false;
  auto close_program = [&] {
    if (closed) return;
    closed = true;
    program.FormClose();
    loop.quit(0);
  };
  close_request = close_program;

  program.FormCreate();
  // A signal that came before the loop ran closes the program now.
  if (signal_watch.requested()) close_program();
  if (closed) return 0;
  program.FormShow();
  loop.run();
  close_request = {};  // a signal during the teardown below belongs to this close
  return 0;
}
