// A whole Program in FSUIPC mode on the virtual platform with the in-memory
// service: connect retries, the exchange rhythm, a lost link and shutdown.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "fsuipc_test_support.h"
#include "platform/virtual/in_memory_fsuipc.h"
#include "platform/virtual/null_seams.h"
#include "platform/virtual/recording_view.h"
#include "platform/virtual/virtual_clock.h"
#include "platform/virtual/virtual_main_thread.h"
#include "shell/program.h"
#include "shell/view_text.h"
#include "support/recording_socket.h"

namespace tarvion {
namespace {

// No ZEMP server in these tests: attempts simply never complete.
using testing::RecordingSocket;

constexpr const char* kFsuipcMode = "ZEMP_PORT=8092\nMINIMIZED=NO\n";

struct FsuipcRig {
  explicit FsuipcRig(std::string config_text = kFsuipcMode) : config(std::move(config_text)) {
    program = std::make_unique<Program>(ProgramSeams{main_thread, clock, view, socket, hid,
                                                     notifier, service, [this] { return config; }});
  }
  ~FsuipcRig() {
    // Panels the test put in by hand have no device behind them.
    if (program) program->panels.radios.clear();
  }
  int label16_count(const std::string& text) const {
    return static_cast<int>(
        std::count(view.lines.begin(), view.lines.end(), label_line(Control::Label16, text)));
  }

  std::string config;
  VirtualMainThread main_thread;
  VirtualClock clock;
  RecordingView view;
  RecordingSocket socket;
  NullHidAccess hid;
  NullDeviceNotifier notifier;
  InMemoryFsuipc service;
  std::unique_ptr<Program> program;
};

TEST(FsuipcProgram, WithoutASimulatorEveryAttemptIsShownEvery500Ms) {
  FsuipcRig rig;
  rig.service.window_class.clear();
  rig.program->FormCreate();
  rig.clock.advance(499);
  EXPECT_EQ(rig.label16_count("Cannot link to FSUIPC or WideClient"), 0);
  rig.clock.advance(1);
  EXPECT_EQ(rig.view.text(Control::Label16), "Cannot link to FSUIPC or WideClient");
  rig.clock.advance(2000);
  EXPECT_EQ(rig.label16_count("Cannot link to FSUIPC or WideClient"), 5);
  EXPECT_TRUE(rig.program->flags.fsuipc_retry);
  EXPECT_FALSE(rig.program->flags.fsuipc_linked);
  EXPECT_EQ(rig.service.sends, 0);

  rig.service.window_class = "UIPCMAIN";  // the simulator starts
  rig.clock.advance(500);
  EXPECT_EQ(rig.view.text(Control::Label16), "Ok");
  EXPECT_TRUE(rig.program->flags.fsuipc_linked);
  EXPECT_FALSE(rig.program->flags.fsuipc_retry);
  rig.clock.advance(2000);
  EXPECT_EQ(rig.label16_count("Ok"), 1) << "no more attempts once linked";
}

TEST(FsuipcProgram, WithoutPanelsTheReadsRunEveryThirdTickAndOnTheRefresh) {
  FsuipcRig rig;
  rig.program->FormCreate();
  rig.clock.advance(500);  // tick 25 of timer 2, then the first connect attempt
  ASSERT_EQ(rig.view.text(Control::Label16), "Ok");
  rig.service.blocks.clear();
  rig.service.writes.clear();
  rig.clock.advance(2000);  // ticks 26 to 125: 33 on the third tick, one more on the 100th
  ASSERT_EQ(rig.service.blocks.size(), 34u);
  const auto reads = test::load_hex_fixture("exchange_reads.hex");
  for (const auto& block : rig.service.blocks) EXPECT_EQ(block, reads);
  EXPECT_TRUE(rig.service.writes.empty());
}

TEST(FsuipcProgram, ALostLinkShowsDisconnectedAndIsRetriedEvery500Ms) {
  FsuipcRig rig;
  rig.program->FormCreate();
  rig.clock.advance(500);
  ASSERT_TRUE(rig.program->flags.fsuipc_linked);
  rig.service.writes.clear();
  // A radio panel (no display change pending, so nothing goes to its device).
  rig.program->panels.radios.push_back(std::make_unique<c_rad>(make_c_rad(kNavPanel, 1, 512)));
  rig.clock.advance(60);
  EXPECT_EQ(rig.service.writes.size(), 12u) << "every radio, from the start-up values";
  EXPECT_EQ(rig.program->radio.radio_dirty, (std::array<uint8_t, kRadioCount>{}));

  rig.service.faults.answer = 0;  // the service goes bad
  rig.program->radio.radio_dirty[NAV1] = 1;
  rig.clock.advance(60);
  EXPECT_EQ(rig.view.text(Control::Label16), "Disconnected");
  EXPECT_FALSE(rig.program->flags.fsuipc_linked);
  EXPECT_TRUE(rig.program->flags.fsuipc_retry);
  EXPECT_EQ(rig.program->radio.radio_dirty,
            (std::array<uint8_t, kRadioCount>{1, 1, 1, 1, 1, 1, 1}));

  const int sends = rig.service.sends;
  rig.clock.advance(1000);  // the unlinked program sends nothing but connect attempts
  EXPECT_EQ(rig.label16_count("IPC request contains bad data"), 2);
  EXPECT_EQ(rig.service.sends - sends, 2);

  rig.service.faults.answer.reset();
  rig.service.writes.clear();
  rig.clock.advance(500);
  EXPECT_EQ(rig.view.text(Control::Label16), "Ok");
  EXPECT_EQ(rig.service.atoms_held(), 1) << "the lost link's block was released";
  rig.clock.advance(60);
  // Every radio goes out again, ahead of the next 2 s refresh.
  EXPECT_EQ(rig.service.writes.size(), 1u + 12u) << "library version, then every radio";
}

TEST(FsuipcProgram, ACloseRequestedDuringAHungExchangeEndsItsTries) {
  struct Case {
    const char* name;
    bool close_requested;
    int sends;
    uint64_t waited_ms;
  };
  // Ten tries of up to 2 s each would hold the close for 20 s and more.
  for (const Case& c : {Case{"no close: every try", false, 10, 1000},
                        Case{"close requested in the first try: no other", true, 1, 0}}) {
    SCOPED_TRACE(c.name);
    FsuipcRig rig;
    rig.program->FormCreate();
    rig.clock.advance(500);
    ASSERT_TRUE(rig.program->flags.fsuipc_linked);
    rig.service.faults.failing_sends = 1000;  // the server stops answering
    if (c.close_requested) rig.service.during_send = [&] { rig.program->RequestClose(); };
    const int sends = rig.service.sends;
    rig.service.waited_ms = 0;
    rig.clock.advance(60);  // one exchange: its reads
    EXPECT_EQ(rig.service.sends - sends, c.sends);
    EXPECT_EQ(rig.service.waited_ms, c.waited_ms);
    rig.program->FormClose();
    EXPECT_EQ(rig.service.sends - sends, c.sends) << "the close sequence sends nothing more";
  }
}

TEST(FsuipcProgram, ZempModeNeverTriesFsuipc) {
  FsuipcRig rig("XPLANE=YES\nZEMP_PORT=8092\nMINIMIZED=NO\n");
  rig.program->FormCreate();
  rig.clock.advance(5000);
  EXPECT_EQ(rig.view.text(Control::Label16), "Disconnected");
  EXPECT_FALSE(rig.program->flags.fsuipc_retry);
  EXPECT_EQ(rig.service.sends, 0);
  EXPECT_EQ(rig.service.atoms_held(), 0);
}

TEST(FsuipcProgram, EndingTheProgramClosesTheLink) {
  FsuipcRig rig;
  rig.program->FormCreate();
  rig.clock.advance(500);
  ASSERT_EQ(rig.service.atoms_held(), 1);
  rig.program->FormClose();
  EXPECT_EQ(rig.service.atoms_held(), 1) << "the link outlives the window's close";
  rig.program.reset();
  EXPECT_EQ(rig.service.atoms_held(), 0);
  EXPECT_EQ(rig.service.mappings_held(), 0);
  EXPECT_EQ(rig.service.views_held(), 0);
}

}  // namespace
}  // namespace tarvion
