#include <gtest/gtest.h>

#include "base/error.h"
#include "platform/virtual/virtual_clock.h"
#include "spine_fakes.h"

namespace tarvion {
namespace {

constexpr const char* kFsuipcConfig =
    "ZEMP_PORT=8092\nZEMP_HOST=sim\nSET_COM1=121500\nSET_ATC=7000\n";
constexpr const char* kZempConfig = "XPLANE=YES\nZEMP_PORT=8092\nZEMP_HOST=127.0.0.1\n";

// The program's timers are the virtual clock's here; what they were set to is read there.
const VirtualTimer& virtual_timer(Timer& timer) {
  return dynamic_cast<const VirtualTimer&>(timer);
}

TEST(StartUp, SetsSharedStateFromTheConfiguration) {
  SpineRig rig(kFsuipcConfig);
  rig.program->radio.mode_flag[5] = 1;
  rig.program->radio.switch_value[3] = 9;
  rig.start();
  Program& p = *rig.program;

  EXPECT_EQ(p.radio.radio_value,
            (std::array<int32_t, 7>{121500, 118000, 10800, 10800, 1000, 1000, 7000}));
  EXPECT_EQ(p.radio.radio_dirty, (std::array<uint8_t, 7>{1, 1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(p.radio.mode_flag[5], 0);
  EXPECT_EQ(p.radio.flaps_step, 99999);
  EXPECT_EQ(p.radio.switch_value[3], 0);
  for (int k = 0; k < 11; ++k) EXPECT_EQ(p.radio.switch_dirty[k], k == 9 ? 1 : 0) << k;
  EXPECT_EQ(rig.socket.host, "SIM");
  EXPECT_EQ(rig.socket.port, 8092);
  EXPECT_TRUE(rig.view.errors.empty());
}

TEST(StartUp, EachLinkSetsItsOwnTimersAndFlags) {
  struct Case {
    const char* name;
    const char* config;
    int socket_opens;
    bool fsuipc_retry;
  };
  const Case cases[] = {
      {"FSUIPC mode never opens the socket", kFsuipcConfig, 0, true},
      {"ZEMP mode makes the first attempt at once", kZempConfig, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SpineRig rig(c.config);
    rig.start();
    Program& p = *rig.program;
    EXPECT_EQ(rig.socket.opens, c.socket_opens);
    EXPECT_FALSE(p.flags.connect_pending) << "the start-up attempt is not marked pending";
    EXPECT_EQ(p.flags.fsuipc_retry, c.fsuipc_retry);
    EXPECT_FALSE(p.flags.fsuipc_linked);
    EXPECT_TRUE(p.flags.panels_ready);
    EXPECT_TRUE(p.ThreadedTimer1().Enabled());
    EXPECT_EQ(virtual_timer(p.ThreadedTimer1()).Interval(), 4000u);
    EXPECT_TRUE(p.ThreadedTimer2().Enabled());
    EXPECT_EQ(virtual_timer(p.ThreadedTimer2()).Interval(), 20u);
    EXPECT_EQ(virtual_timer(p.ThreadedTimer2()).ThreadPriority(), TThreadPriority::tpTimeCritical);
    EXPECT_TRUE(p.ThreadedTimer3().Enabled());
    EXPECT_EQ(virtual_timer(p.ThreadedTimer3()).Interval(), 500u);
  }
}

TEST(StartUp, AnErrorStopsTheSequenceAndTheWindowRunsOn) {
  struct Case {
    const char* name;
    const char* config;  // nullptr: no file
    const char* error;
    bool values_set;     // step 7 ran
    uint32_t interval1;  // step 9 ran when 4000
  };
  const Case cases[] = {
      {"no configuration file", nullptr, "File not found.", false, 1000},
      {"a bad integer", "XPLANE=YES\nMFLAPS=lots\n", "'LOTS' is not a valid integer value.", false,
       1000},
      {"no ZEMP_PORT, even for FSUIPC", "SET_COM1=130000\n", "'' is not a valid integer value.",
       true, 4000},
      {"a port that is no number", "XPLANE=YES\nZEMP_PORT=http\n",
       "'HTTP' is not a valid integer value.", true, 4000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto rig = c.config ? std::make_unique<SpineRig>(c.config) : SpineRig::without_config();
    rig->start();
    Program& p = *rig->program;
    EXPECT_EQ(rig->view.errors, std::vector<std::string>{c.error});
    EXPECT_EQ(p.radio.radio_value[0] != 0, c.values_set);
    EXPECT_EQ(virtual_timer(p.ThreadedTimer1()).Interval(), c.interval1);
    EXPECT_FALSE(p.ThreadedTimer1().Enabled());
    EXPECT_FALSE(p.ThreadedTimer2().Enabled());
    EXPECT_FALSE(p.flags.fsuipc_retry);
    EXPECT_FALSE(p.flags.panels_ready);
    EXPECT_EQ(rig->socket.opens, 0);

    // Nothing ticks but timer 3, which has nothing to do; closing is safe.
    rig->clock.advance(10000);
    EXPECT_EQ(p.exchange_count, 0);
    p.FormClose();
    EXPECT_EQ(rig->socket.closes, 0) << "a socket never set up is left alone";
    EXPECT_EQ(p.radio.brightness, 1);
  }
}

TEST(Shutdown, SaysGoodbyeOnlyWhenConnectedAndStopsThePanelLayer) {
  for (bool connected : {true, false}) {
    SCOPED_TRACE(connected ? "connected" : "not connected");
    SpineRig rig(kZempConfig);
    rig.start();
    rig.socket.active = connected;
    rig.program->FormClose();
    EXPECT_EQ(rig.socket.sent,
              connected ? std::vector<std::string>{"Arn.Fin:"} : std::vector<std::string>{});
    EXPECT_EQ(rig.socket.closes, 1);
    EXPECT_FALSE(rig.program->ThreadedTimer1().Enabled());
    EXPECT_FALSE(rig.program->flags.panels_ready);
    EXPECT_EQ(rig.program->radio.brightness, 1);
    // Later ticks of timer 2 find the panel layer stopped.
    uint8_t count = rig.program->exchange_count;
    rig.clock.advance(100);
    EXPECT_NE(rig.program->exchange_count, count) << "timer 2 is not disabled at close";
  }
}

}  // namespace
}  // namespace tarvion

namespace tarvion {
namespace {

// Timers of the virtual clock whose workers cannot be started while `refuse` is set.
class RefusingClock : public TimerFactory {
 public:
  explicit RefusingClock(VirtualClock& clock) : clock_(clock) {}
  bool refuse = true;
  std::unique_ptr<Timer> make_timer(TThreadPriority priority) override {
    return std::make_unique<Refusing>(clock_.make_timer(priority), refuse);
  }

 private:
  struct Refusing : Timer {
    Refusing(std::unique_ptr<Timer> inner, bool& refuse)
        : inner(std::move(inner)), refuse(refuse) {}
    void SetEnabled(bool enabled) override {
      if (enabled && refuse)
        throw TarvionError("Thread creation error: Resource temporarily unavailable");
      inner->SetEnabled(enabled);
    }
    bool Enabled() const override { return inner->Enabled(); }
    void SetInterval(uint32_t ms) override { inner->SetInterval(ms); }
    void SetOnTimer(std::function<void()> f) override { inner->SetOnTimer(std::move(f)); }
    std::unique_ptr<Timer> inner;
    bool& refuse;
  };
  VirtualClock& clock_;
};

TEST(StartUp, ATimerThatCannotStartIsShownAndTheProgramGoesOn) {
  SpineRig rig("XPLANE=YES\nZEMP_PORT=8092\n");
  RefusingClock refusing(rig.clock);
  const std::string error = "Thread creation error: Resource temporarily unavailable.";
  // Timer 3 is enabled as the window is made: shown, not thrown out of it.
  Program program(ProgramSeams{rig.main_thread, refusing, rig.view, rig.socket, rig.hid,
                               rig.notifier, rig.ipc, [&] { return rig.config_text; }});
  EXPECT_EQ(rig.view.errors, std::vector<std::string>{error});
  // The ZEMP link enables the retry timer from a socket event once the
  // connection ends: shown there too, and a later enabling works.
  refusing.refuse = false;
  program.FormCreate();
  rig.socket.active = true;
  rig.socket.events.on_connect();
  refusing.refuse = true;
  rig.socket.active = false;
  rig.socket.events.on_disconnect();
  EXPECT_EQ(rig.view.errors, (std::vector<std::string>{error, error}));
  refusing.refuse = false;
  rig.socket.events.on_connect();
  rig.socket.events.on_disconnect();
  EXPECT_TRUE(program.ThreadedTimer1().Enabled());
}

}  // namespace
}  // namespace tarvion
