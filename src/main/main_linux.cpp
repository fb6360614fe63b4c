// The Linux program `tarvion`: fills the seams with the Qt, console and
// platform implementations and runs the program on the Qt event loop.
// clang-format off
#include "platform/linux/linux_only.h"  // first: this file is Linux-only
// clang-format on

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "platform/console/console_view.h"
#include "platform/linux/qt_client_socket.h"
#include "platform/linux/qt_instance_guard.h"
#include "platform/linux/qt_main_thread.h"
#include "platform/linux/qt_main_window.h"
#include "platform/linux/qt_signal_watch.h"
#include "platform/linux/qt_thread_priority.h"
#include "platform/posix/virtual_panel_connection.h"
#include "platform/virtual/null_seams.h"
#include "shell/config_loader.h"
#include "shell/program.h"
#include "shell/single_instance.h"
#include "shell/threaded_timer.h"

#ifdef TARVION_HAVE_HIDRAW
#include "platform/linux/hidraw_access.h"
#include "platform/linux/udev_notifier.h"
#endif

namespace {

constexpr const char* kUsage =
    "usage: tarvion [--console]\n"
    "Links Pendra cockpit panels to a flight simulator. Reads Tarvion.ini from the\n"
    "current folder. Opens a window when a display is present; --console (or no\n"
    "display) prints each change of the window's texts as a line instead:\n"
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

  std::unique_ptr<QCoreApplication> app;
  if (console) {
    app = std::make_unique<QCoreApplication>(argc, argv);
  } else {
    auto gui = std::make_unique<QApplication>(argc, argv);
    // Hiding to the tray or closing an error box must not end the program;
    // only the window's close does.
    gui->setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(QStringLiteral("tarvion"));
    app = std::move(gui);
  }

  // From here on SIGINT and SIGTERM close the program, however many arrive and
  // whenever: before the program exists they are remembered, during and after
  // its close they are swallowed. Declared before everything it outlives.
  std::function<void()> close_request;
  tarvion::SignalWatch signal_watch([&](int) {
    if (close_request) close_request();
  });

  // A second instance tells the first and leaves quietly.
  tarvion::QtInstanceGuard guard;
  if (!tarvion::claim_single_instance(guard)) return 0;

  std::string title = application_title(argv[0]);
  tarvion::QtMainThread main_thread;
  tarvion::ThreadedTimerFactory timers(main_thread, tarvion::apply_thread_priority);
  tarvion::QtClientSocket socket;

  // The panels: the virtual panel host when TARVION_VIRTUAL_PANELS names one,
  // else the kernel's hidraw devices. Declared before the program, which uses
  // them until it ends.
  std::string panel_error;
  auto virtual_panels = tarvion::virtual_panels_from_environment(
      main_thread, panel_error, [&] { return signal_watch.requested(); });
  if (signal_watch.requested()) return 0;  // closed before it started
  if (!virtual_panels && !panel_error.empty()) {
    // Asked for virtual panels and cannot have them: running on without any
    // panel would look like a fault of the panels.
    std::fprintf(stderr, "tarvion: %s\n", panel_error.c_str());
    return 1;
  }
  std::unique_ptr<tarvion::HidAccess> own_hid;
  std::unique_ptr<tarvion::DeviceNotifier> own_notifier;
  if (!virtual_panels) {
#ifdef TARVION_HAVE_HIDRAW
    own_hid = std::make_unique<tarvion::HidrawAccess>();
    own_notifier = std::make_unique<tarvion::UdevNotifier>(main_thread);
#else
    own_hid = std::make_unique<tarvion::NullHidAccess>();
    own_notifier = std::make_unique<tarvion::NullDeviceNotifier>();
#endif
  }
  tarvion::HidAccess& hid = virtual_panels ? virtual_panels->hid() : *own_hid;
  tarvion::DeviceNotifier& notifier = virtual_panels ? virtual_panels->notifier() : *own_notifier;
  // No FSUIPC on Linux: every connect attempt fails as on a PC without a simulator.
  tarvion::NullIpcTransport ipc;

  std::unique_ptr<tarvion::QtMainWindow> window;
  std::unique_ptr<tarvion::ConsoleView> console_view;
  tarvion::MainWindowView* view = nullptr;
  if (console) {
    console_view = std::make_unique<tarvion::ConsoleView>(stdout, stderr);
    view = console_view.get();
  } else {
    window = std::make_unique<tarvion::QtMainWindow>(title);
    view = window.get();
  }

  tarvion::Program program(
      tarvion::ProgramSeams{main_thread, timers, *view, socket, hid, notifier, ipc,
                            [] { return tarvion::read_config_file("Tarvion.ini"); }});

  bool console_closed = false;
  auto closed = [&] { return window ? window->closed() : console_closed; };
  auto close_program = [&] {
    if (window) {
      window->close();
      return;
    }
    if (console_closed) return;
    console_closed = true;
    program.FormClose();
    QCoreApplication::exit(0);
  };
  if (window) {
    window->set_handlers(tarvion::WindowHandlers{
        [&] { program.Button1Click(); },
        [&](int position) { program.TrackBar1Change(position); },
        [&](int message) { program.TrayIconMessage(message); },
        [&] { program.FormClose(); },
    });
  }
  close_request = close_program;

  program.FormCreate();
  // A signal that came before the loop ran (also during the start-up's error
  // box, which runs the loop) closes the program now: a quit before exec()
  // would not end the loop that follows.
  if (signal_watch.requested()) close_program();
  if (closed()) return 0;
  if (window) window->show();
  program.FormShow();
  app->exec();
  close_request = {};  // the teardown below may still run the loop; it is closed already
  return 0;
}
