#include "shell/program.h"

#include "base/error.h"
#include "base/str_to_int.h"
#include "radio/display.h"
#include "radio/panel_kinds.h"
#include "radio/radio_panel.h"
#include "shell/config_loader.h"

namespace tarvion {

Program::Program(ProgramSeams seams)
    : seams_(std::move(seams)),
      zemp_(seams_.main_thread, seams_.socket, radio, flags,
            ZempHooks{
                [this](const std::string& text) { seams_.view.set_text(Control::Label9, text); },
                [this](bool enabled) { enable_timer(*timer1_, enabled); },
                [this](const std::string& message) { show_error(message); },
                [this](RadioIndex radio, int64_t value) {
                  // Asked at each value: the file is read after the link is built.
                  if (!config.follow_sim) return;
                  RadioContext ctx = radio_context();
                  take_simulator_value(ctx, radio, value);
                },
            }),
      panel_layer_(seams_.hid, seams_.notifier, seams_.main_thread, radio_context(), flags,
                   PanelLayerHooks{[this](const std::vector<std::string>& lines) {
                                     seams_.view.set_device_list(lines);
                                   },
                                   [this](const std::string& message) { show_error(message); }}),
      fsuipc_(seams_.ipc, radio_context(), flags,
              FsuipcHooks{
                  [this](const std::string& text) { seams_.view.set_text(Control::Label16, text); },
                  [this] { return close_requested_.load(); }}) {
  // The timers as the window description sets them.
  timer1_ = seams_.timers.make_timer(TThreadPriority::tpNormal);
  timer1_->SetInterval(1000);
  timer1_->SetOnTimer([this] { ThreadedTimer1Timer(); });

  timer2_ = seams_.timers.make_timer(TThreadPriority::tpTimeCritical);
  timer2_->SetInterval(20);
  timer2_->SetOnTimer([this] { ThreadedTimer2Timer(); });

  // Timer 3 ticks from window creation on; its handler waits for fsuipc_retry.
  timer3_ = seams_.timers.make_timer(TThreadPriority::tpNormal);
  timer3_->SetInterval(500);
  timer3_->SetOnTimer([this] { ThreadedTimer3Timer(); });
  enable_timer(*timer3_, true);
}

void Program::enable_timer(Timer& timer, bool enabled) {
  // A worker that cannot be started raises an error; outside the start-up
  // sequence it is shown like any error that reaches the message loop, and
  // the program goes on without that timer (a later enabling tries again).
  try {
    timer.SetEnabled(enabled);
  } catch (const TarvionError& error) {
    show_error(error.what());
  }
}

Program::~Program() {
  // Workers end before the objects their ticks use.
  timer1_.reset();
  timer2_.reset();
  timer3_.reset();
  fsuipc_.fsuipc_close();
}

void Program::show_error(const std::string& message, const std::string& hint) {
  seams_.view.show_error(hint.empty() ? message + "." : message + ".\n" + hint);
}

void Program::FormCreate() {
  try {
    run_startup_steps();
  } catch (const TarvionError& error) {
    // The sequence ends at the failing step; the window runs on regardless.
    show_error(error.what(), error.hint().empty() ? config_hint_ : error.hint());
  }
}

void Program::run_startup_steps() {
  // The notification icon record is the view's own (see MainWindowView::tray_add).
  // Counters and link flags.
  exchange_count = 0;
  refresh_count = 0;
  flags.connect_pending = false;
  flags.fsuipc_linked = false;
  // Shared radio and switch state.
  radio.flaps_step = 99999;
  radio.radio_dirty.fill(1);
  for (int m = kModeCom1; m <= kModeTransponder; ++m) radio.mode_flag[m] = 0;
  radio.switch_value.fill(0);
  radio.switch_dirty.fill(0);
  radio.switch_dirty[9] = 1;  // the flaps value goes out once at the first exchange
  // FSUIPC exchange state.
  fsuipc_.reset_exchange_state();
  fsuipc_.fill_fsuipc_read_table();
  // ZEMP receive buffer, then the configuration file.
  zemp_.clear_receive_buffer();
  config_hint_ = load_configuration(seams_.read_config, config, radio.brightness, seams_.view);
  // The radios' start values from the configuration.
  for (int i = 0; i < kRadioCount; ++i) radio.radio_value[i] = config.start_values[i];
  // The ZEMP variables, built in both modes.
  zemp_.create_zemp_variables();
  // The connect timer's interval.
  timer1_->SetInterval(4000);
  // The socket's address, in both modes, so a missing ZEMP_PORT stops the start-up here.
  seams_.socket.set_host(config.zemp_host);
  seams_.socket.set_port(str_to_int(config.zemp_port_text));
  socket_configured_ = true;
  // The first connection attempt, which does not set connect_pending.
  if (config.zemp_mode) seams_.socket.open();
  // The connect timer, then the panel layer and the first panel discovery.
  timer1_->SetEnabled(true);
  panel_layer_.panel_layer_start();
  panel_layer_started_ = true;
  panel_layer_.discover_panels();
  // With panels found: the exchange timer, and in FSUIPC mode the first link attempt.
  if (flags.panels_ready) {
    timer2_->SetEnabled(true);
    if (!config.zemp_mode) {
      flags.fsuipc_retry = true;
      flags.fsuipc_linked = false;
    }
  }
}

void Program::ThreadedTimer1Timer() {
  if (config.start_to_tray) {
    Button1Click();
    config.start_to_tray = false;
  }
  if (!config.zemp_mode) return;
  if (seams_.socket.is_active()) {
    timer1_->SetEnabled(false);
  } else if (!flags.connect_pending) {
    seams_.socket.open();
    flags.connect_pending = true;
  }
}

void Program::run_exchange() {
  if (flags.fsuipc_linked && flags.panels_ready) fsuipc_.fsuipc_exchange();
  if (config.zemp_mode && flags.panels_ready) zemp_.zemp_exchange();
}

void Program::ThreadedTimer2Timer() {
  if (flags.panels_ready) panel_layer_.send_pending_reports();
  ++exchange_count;
  ++refresh_count;
  if (exchange_count == 3) {
    exchange_count = 0;
    run_exchange();
  }
  if (refresh_count == 100) {
    refresh_count = 0;
    radio.radio_dirty.fill(1);
    run_exchange();
  }
}

void Program::ThreadedTimer3Timer() {
  if (flags.fsuipc_retry) fsuipc_.fsuipc_connect();
}

void Program::FormClose() {
  RequestClose();
  // Goodbye, then close (nothing when never connected).
  zemp_.send_goodbye();
  if (socket_configured_) seams_.socket.close();
  // No more connection attempts.
  timer1_->SetEnabled(false);
  // Panels dark and blank: these act on the panel lists, which exist only once the layer started.
  radio.brightness = 1;
  if (!panel_layer_started_) return;
  RadioContext ctx = radio_context();
  push_brightness(ctx);
  blank_all_panels(ctx);
  set_switch_leds(ctx, 0, true);
  // An RMP's lamps travel in its light report, which blanking does not mark.
  for (const auto& rad : panels.radios) {
    if (!kind_traits(rad->kind).light_report) continue;
    rad->leds = 0;
    rad->leds_changed = 1;
  }
  panel_layer_.send_pending_reports();
  panel_layer_.panel_layer_stop();
}

}  // namespace tarvion
