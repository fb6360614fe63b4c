// The Windows programs: Tarvion.exe (the window) and tarvion-console.exe (the
// same program printing its window's texts as lines), built from this one
// file. Fills the seams with the Win32 implementations and runs the program
// on the Win32 message loop.
// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/console/console_view.h"
#include "platform/win32/win32_console_control.h"
#include "platform/win32/win32_device_notifier.h"
#include "platform/win32/win32_error_text.h"
#include "platform/win32/win32_hid_access.h"
#include "platform/win32/win32_instance_guard.h"
#include "platform/win32/win32_ipc_transport.h"
#include "platform/win32/win32_main_thread.h"
#include "platform/win32/win32_main_window.h"
#include "platform/win32/win32_session_end.h"
#include "platform/win32/win32_tcp_io.h"
#include "platform/win32/win32_thread_priority.h"
#include "platform/win32/win32_timer_wait.h"
#include "platform/win32/win32_virtual_panel_connection.h"
#include "shell/config_loader.h"
#include "shell/program.h"
#include "shell/single_instance.h"
#include "shell/threaded_timer.h"

namespace {

#ifdef TARVION_CONSOLE_PROGRAM
constexpr bool kConsoleProgram = true;
#else
constexpr bool kConsoleProgram = false;
#endif

constexpr const char* kUsage =
    "usage: tarvion-console [--console]\n"
    "Links Pendra cockpit panels to a flight simulator. Reads Tarvion.ini from the\n"
    "current folder and prints each change of the window's texts as a line:\n"
    "  <control>: <text>      on standard output (Label9: Online)\n"
    "  ListBox1: <item>       one line per panel after each change of the list\n"
    "  Error: <message>.      on standard error\n"
    "Ctrl-C, Ctrl-Break or closing the console closes the program as its window's\n"
    "close button does. Tarvion.exe is the same program with its window.\n"
    "TARVION_VIRTUAL_PANELS=127.0.0.1:PORT uses the virtual panels of tools/virtual-panels\n"
    "instead of the USB panels.\n";

// The executable's file name without folder and extension ("Tarvion").
std::string application_title() {
  wchar_t path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name(path, length);
  std::size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos) name.erase(0, slash + 1);
  std::size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos && dot > 0) name.erase(dot);
  int bytes = WideCharToMultiByte(CP_UTF8, 0, name.c_str(), static_cast<int>(name.size()), nullptr,
                                  0, nullptr, nullptr);
  std::string title(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, name.c_str(), static_cast<int>(name.size()), title.data(), bytes,
                      nullptr, nullptr);
  return title.empty() ? "Tarvion" : title;
}

// A start-up failure before there is a window: a line in the console program,
// the error box in the window program.
void report_fatal(const std::string& title, const std::string& message) {
  if (kConsoleProgram) {
    std::fprintf(stderr, "tarvion: %s\n", message.c_str());
    std::fflush(stderr);
  } else {
    tarvion::show_error_box(nullptr, title, message + ".");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (kConsoleProgram) {
    // Lines end in LF alone, as the Linux program's do: readers split on LF.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    for (int i = 1; i < argc; ++i) {
      if (std::strcmp(argv[i], "--console") == 0) continue;  // what it is anyway
      if (std::strcmp(argv[i], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
      }
      std::fprintf(stderr, "tarvion: unknown argument '%s'\n%s", argv[i], kUsage);
      return 2;
    }
  }
  // The window program takes no arguments and ignores any it is given.

  // A second instance tells the first and leaves; the console program says
  // why, as one that ends at once without a word looks broken.
  tarvion::Win32InstanceGuard guard;
  if (!tarvion::claim_single_instance(guard)) {
    if (kConsoleProgram) {
      std::fputs(
          "Another Tarvion is already running (its window or another console); this one "
          "ends.\n",
          stderr);
      std::fflush(stderr);
    }
    return 0;
  }

  std::string title = application_title();
  tarvion::Win32MainThread main_thread;
  tarvion::ThreadedTimerFactory timers(main_thread, tarvion::apply_win32_thread_priority, {},
                                       tarvion::make_win32_timer_wait);
  tarvion::TcpConnection socket(std::make_unique<tarvion::Win32TcpIo>());

  // The panels: the virtual panel host when TARVION_VIRTUAL_PANELS names one,
  // else the system's HID devices. Declared before the program, which uses
  // them until it ends.
  std::string panel_error;
  if (kConsoleProgram) tarvion::note_console_close_requests();
  auto virtual_panels = tarvion::win32_virtual_panels_from_environment(
      main_thread, panel_error, [] { return tarvion::console_close_requested(); });
  if (tarvion::console_close_requested()) return 0;  // closed before it started
  if (!virtual_panels && !panel_error.empty()) {
    // Asked for virtual panels and cannot have them: running on without any
    // panel would look like a fault of the panels.
    report_fatal(title, panel_error);
    return 1;
  }
  std::unique_ptr<tarvion::HidAccess> own_hid;
  std::unique_ptr<tarvion::DeviceNotifier> own_notifier;
  if (!virtual_panels) {
    // HID backend
    own_hid = std::make_unique<tarvion::Win32HidAccess>();
    own_notifier = std::make_unique<tarvion::Win32DeviceNotifier>();
  }
  tarvion::HidAccess& hid = virtual_panels ? virtual_panels->hid() : *own_hid;
  tarvion::DeviceNotifier& notifier = virtual_panels ? virtual_panels->notifier() : *own_notifier;
  // FSUIPC transport
  tarvion::Win32IpcTransport ipc;

  std::unique_ptr<tarvion::Win32MainWindow> window;
  std::unique_ptr<tarvion::ConsoleView> console_view;
  tarvion::MainWindowView* view = nullptr;
  if (kConsoleProgram) {
    console_view = std::make_unique<tarvion::ConsoleView>(stdout, stderr);
    view = console_view.get();
  } else {
    window = std::make_unique<tarvion::Win32MainWindow>(title);
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
    PostQuitMessage(0);
  };
  std::unique_ptr<tarvion::ConsoleControl> console_control;
  if (window) {
    window->set_handlers(tarvion::WindowHandlers{
        [&] { program.Button1Click(); },
        [&](int position) { program.TrackBar1Change(position); },
        [&](int message) { program.TrayIconMessage(message); },
        [&] { program.FormClose(); },
    });
  } else {
    console_control = std::make_unique<tarvion::ConsoleControl>(
        main_thread, close_program, [&program] { program.RequestClose(); });
  }

  // Logoff and shutdown close it too, the console program included: its
  // console events of those never come to a process that loads user32.
  tarvion::Win32SessionEnd session_end(
      main_thread, [&program] { program.RequestClose(); }, close_program);

  program.FormCreate();
  // A close requested while the program was being made closes it now.
  if (tarvion::console_close_requested()) close_program();
  // The start-up's error box runs the message loop: the program may have been
  // closed from there already.
  if (!closed()) {
    if (window) window->show();
    program.FormShow();
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      if (window && window->pre_translate(message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  if (console_control) console_control->loop_ended();
  session_end.loop_ended();
  return 0;
}
