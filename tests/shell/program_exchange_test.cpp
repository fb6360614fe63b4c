// The main cycle's exchange ticks, observed on the wire of a connected ZEMP link.
#include <gtest/gtest.h>

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
namespace {

struct ConnectedProgram {
  VirtualMainThread main_thread;
  VirtualClock clock;
  RecordingView view;
  InMemorySocket socket{clock};
  NullHidAccess hid;
  NullDeviceNotifier notifier;
  NullIpcTransport ipc;
  std::unique_ptr<Program> program;
  int tick = 0;  // main-cycle ticks so far

  ConnectedProgram() {
    socket.set_answer(InMemorySocket::Answer::accept);
    program = std::make_unique<Program>(ProgramSeams{
        main_thread, clock, view, socket, hid, notifier, ipc,
        [] { return std::string("XPLANE=YES\nZEMP_HOST=127.0.0.1\nZEMP_PORT=8092\nMINIMIZED=NO\n"); }});
    program->FormCreate();
    program->FormShow();
    clock.advance(1);  // the peer accepts; the registration goes out
    socket.take_sent();
    clock.advance(19);
    tick = 1;
    // The first exchange sends every start value once.
    step_to(3);
    socket.take_sent();
  }
  // Steps the clock to main-cycle tick n (tick n falls at 20·n ms).
  void step_to(int n) {
    clock.advance(static_cast<uint64_t>(20 * (n - tick)));
    tick = n;
  }
  // The tick at which the wire first shows text, searching up to limit.
  int tick_when_sent(const std::string& text, int limit) {
    while (tick < limit) {
      step_to(tick + 1);
      if (socket.take_sent().find(text) != std::string::npos) return tick;
    }
    return -1;
  }
};

TEST(MainCycle, AMarkedRadioGoesOutAtTheNextThirdTick) {
  struct Case {
    int marked_at;
    int sent_at;
  };
  const Case cases[] = {{3, 6}, {4, 6}, {5, 6}, {7, 9}, {97, 99}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.marked_at);
    ConnectedProgram p;
    p.step_to(c.marked_at);
    p.program->radio.radio_value[COM1] = 120000;
    p.program->radio.radio_dirty[COM1] = 1;
    EXPECT_EQ(p.tick_when_sent("Arn.Resp:256=12000:\r\n", 120), c.sent_at);
  }
}

TEST(MainCycle, AnUnmarkedChangeGoesOutWithTheRefreshOnTick100) {
  ConnectedProgram p;
  p.step_to(40);
  p.program->radio.radio_value[NAV2] = 11000;  // changed, not marked
  EXPECT_EQ(p.tick_when_sent("Arn.Resp:255=11000:\r\n", 250), 100);
}

TEST(MainCycle, Tick300RunsTheExchangeTwice) {
  ConnectedProgram p;
  p.step_to(299);
  p.program->radio.radio_value[ATC] = 7000;
  p.program->radio.radio_dirty[ATC] = 1;       // goes with the third-tick exchange
  p.program->radio.radio_value[COM1] = 125000;  // goes only with the refresh after it
  p.step_to(300);
  // One exchange after the refresh would send COM1 first (radio order).
  EXPECT_EQ(p.socket.take_sent(), "Arn.Resp:311=7000:\r\nArn.Resp:256=12500:\r\n");
}

}  // namespace
}  // namespace tarvion
