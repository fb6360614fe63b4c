// The program object: owns the configuration, the shared radio state, the
// panel layer, the two links and the three timers, and runs the start-up
// sequence, the main cycle, the window's handlers and the shutdown.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/config.h"
#include "base/main_thread.h"
#include "base/program_flags.h"
#include "base/timer.h"
#include "fsuipc/fsuipc_link.h"
#include "hid/panel_layer.h"
#include "radio/panels.h"
#include "radio/radio_state.h"
#include "shell/main_window_view.h"
#include "zemp/client_socket.h"
#include "zemp/zemp_link.h"

namespace tarvion {

// One platform's implementations of the seams, filled by the composition root.
struct ProgramSeams {
  MainThread& main_thread;
  TimerFactory& timers;
  MainWindowView& view;
  ClientSocket& socket;
  HidAccess& hid;
  DeviceNotifier& notifier;
  IpcTransport& ipc;
  // Returns the bytes of Tarvion.ini; throws TarvionError when it cannot.
  std::function<std::string()> read_config;
};

class Program {
 public:
  // Window creation: builds the subsystems and the three timers (timer 3
  // already enabled). Nothing else runs until FormCreate.
  explicit Program(ProgramSeams seams);
  ~Program();

  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Main-window handlers, all on the main thread.
  void FormCreate();  // the start-up sequence; an error stops it and is shown
  void FormShow();
  void FormClose();  // the shutdown
  // Any thread, at once when a close is asked for and before it is handed to
  // the main thread: a blocked FSUIPC send is then not tried again, so the
  // close comes within seconds. FormClose implies it.
  void RequestClose() { close_requested_ = true; }
  void ThreadedTimer1Timer();
  void ThreadedTimer2Timer();
  void ThreadedTimer3Timer();
  void Button1Click();
  void TrackBar1Change(int position);
  void TrayIconMessage(int mouse_message);

  // Shows an error as the window's error box (message plus full stop), with
  // the hint, if any, on a line of its own below.
  void show_error(const std::string& message, const std::string& hint = "");

  Config config;
  RadioState radio;
  PanelLists panels;
  ProgramFlags flags;
  uint8_t exchange_count = 0;  // 0, 1, 2
  uint8_t refresh_count = 0;   // 0..99

  Timer& ThreadedTimer1() { return *timer1_; }
  Timer& ThreadedTimer2() { return *timer2_; }
  Timer& ThreadedTimer3() { return *timer3_; }
  ZempLink& zemp() { return zemp_; }
  PanelLayer& panel_layer() { return panel_layer_; }
  FsuipcLink& fsuipc() { return fsuipc_; }
  int trackbar_position() const { return trackbar_position_; }

 private:
  void run_startup_steps();
  void enable_timer(Timer& timer, bool enabled);
  void run_exchange();
  RadioContext radio_context() { return RadioContext{radio, panels, config}; }

  ProgramSeams seams_;
  ZempLink zemp_;
  PanelLayer panel_layer_;
  FsuipcLink fsuipc_;
  std::unique_ptr<Timer> timer1_, timer2_, timer3_;
  int trackbar_position_ = 121;
  bool socket_configured_ = false;  // start-up reached the socket's host and port
  bool panel_layer_started_ = false;
  std::string config_hint_;                   // what the file's bytes say about a start-up error
  std::atomic<bool> close_requested_{false};  // the one member other threads set
};

}  // namespace tarvion
