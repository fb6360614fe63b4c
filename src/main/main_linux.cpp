// The Linux program `tarvion`: the window and tray icon on the Qt event loop.
// Console mode is the program `tarvion-console`, which loads no GUI library;
// `tarvion --console` (or no display) runs that one in this one's place.
// clang-format off
#include "platform/linux/linux_only.h"  // first: this file is Linux-only
// clang-format on

#include <unistd.h>

#include <QApplication>
#include <QFileInfo>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "linux_config.h"
#include "linux_panels.h"
#include "platform/posix/posix_tcp_io.h"
#include "platform/qt/qt_fd_watcher.h"
#include "platform/qt/qt_main_thread.h"
#include "platform/qt/qt_main_window.h"
#include "platform/posix/signal_watch.h"
#include "platform/linux/timerfd_timer.h"
#include "platform/posix/unix_instance_guard.h"
#include "shell/config_loader.h"
#include "shell/program.h"
#include "shell/single_instance.h"

namespace {

constexpr const char* kUsage =
    "usage: tarvion [--console]\n"
    "Links Pendra cockpit panels to a flight simulator. Reads Tarvion.ini from the\n"
    "current folder, or else from $XDG_CONFIG_HOME/tarvion (~/.config/tarvion).\n"
    "Opens a window when a display is present; --console (or no\n"
    "display) runs tarvion-console instead, which prints each change of the window's\n"
    "texts as a line:\n"
    "  <control>: <text>      on standard output (Label9: Online)\n"
    "  ListBox1: <item>       one line per panel after each change of the list\n"
    "  Error: <message>.      on standard error\n"
    "SIGINT or SIGTERM closes the program as its window's close button does.\n"
    "TARVION_VIRTUAL_PANELS=127.0.0.1:PORT uses the virtual panels of tools/virtual-panels\n"
    "instead of the USB panels.\n";

bool env_set(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

std::string application_title(const char* argv0) {
  return QFileInfo(QString::fromLocal8Bit(argv0)).completeBaseName().toStdString();
}

// Replaces this process with tarvion-console from this program's own folder,
// passing the arguments on; returns only when that cannot be done.
int run_console_program(char** argv) {
  char self[PATH_MAX];
  ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path = "tarvion-console";
  if (length > 0) {
    std::string exe(self, static_cast<std::size_t>(length));
    path = exe.substr(0, exe.rfind('/') + 1) + path;
  }
  argv[0] = path.data();
  ::execv(path.c_str(), argv);
  std::fprintf(stderr, "tarvion: cannot run %s: %s\n", path.c_str(), std::strerror(errno));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  bool console = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--console") == 0) {
      console = true;
    } else if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      std::fprintf(stderr, "tarvion: unknown argument '%s'\n%s", argv[i], kUsage);
      return 2;
    }
  }
  if (!env_set("DISPLAY") && !env_set("WAYLAND_DISPLAY")) console = true;
  if (console) return run_console_program(argv);

  QApplication app(argc, argv);
  // Hiding to the tray or closing an error box must not end the program;
  // only the window's close does.
  app.setQuitOnLastWindowClosed(false);
  QGuiApplication::setDesktopFileName(QStringLiteral("tarvion"));
  tarvion::QtFdWatcher loop;

  // From here on SIGINT and SIGTERM close the program, however many arrive and
  // whenever: before the program exists they are remembered, during and after
  // its close they are swallowed. Declared before everything it outlives.
  std::function<void()> close_request;
  tarvion::SignalWatch signal_watch(loop, [&](int) {
    if (close_request) close_request();
  });

  // A second instance (of either Linux program) tells the first and leaves quietly.
  tarvion::UnixInstanceGuard guard(loop);
  if (!tarvion::claim_single_instance(guard)) return 0;

  std::string title = application_title(argv[0]);
  tarvion::QtMainThread main_thread;
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
  tarvion::QtMainWindow window(title);

  auto read_config = [&window] {
    auto file = tarvion::read_first_config_file(tarvion::linux_config_paths());
    window.set_settings_file(file.path);
    return std::move(file.bytes);
  };
  tarvion::Program program(tarvion::ProgramSeams{main_thread, timers, window, socket, panels.hid(),
                                                 panels.notifier(), ipc, read_config});
  window.set_handlers(tarvion::WindowHandlers{
      [&] { program.Button1Click(); },
      [&](int position) { program.TrackBar1Change(position); },
      [&](int message) { program.TrayIconMessage(message); },
      [&] { program.FormClose(); },
  });
  close_request = [&] { window.close(); };

  program.FormCreate();
  // A signal that came before the loop ran (also during the start-up's error
  // box, which runs the loop) closes the program now: a quit before exec()
  // would not end the loop that follows.
  if (signal_watch.requested()) window.close();
  if (window.closed()) return 0;
  window.show();
  program.FormShow();
  app.exec();
  close_request = {};  // the teardown below may still run the loop; it is closed already
  return 0;
}
