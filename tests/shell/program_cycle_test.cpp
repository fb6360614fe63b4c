#include <gtest/gtest.h>

#include "spine_fakes.h"

namespace tarvion {
namespace {

TEST(TimerOne, GoesToTheTrayOnceAtTheFirstTick) {
  struct Case {
    const char* name;
    const char* config;
    bool hidden_after_4s;
  };
  const Case cases[] = {
      {"MINIMIZED absent", "ZEMP_PORT=1\n", true},
      {"MINIMIZED=YES", "ZEMP_PORT=1\nMINIMIZED=yes\n", true},
      {"MINIMIZED=NO", "ZEMP_PORT=1\nMINIMIZED=NO\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SpineRig rig(c.config);
    rig.start();
    rig.clock.advance(3999);
    EXPECT_TRUE(rig.view.visible);
    rig.clock.advance(1);
    EXPECT_EQ(!rig.view.visible, c.hidden_after_4s);
    EXPECT_EQ(rig.view.tray_icon, c.hidden_after_4s);
    rig.clock.advance(12000);
    EXPECT_EQ(rig.view.tray_adds, c.hidden_after_4s ? 1 : 0) << "only the first tick";
    EXPECT_TRUE(rig.program->ThreadedTimer1().Enabled()) << "FSUIPC mode keeps timer 1 ticking";
  }
}

TEST(TimerOne, TrayPressedBeforeTheFirstTickAddsNoSecondIcon) {
  SpineRig rig("ZEMP_PORT=1\n");
  rig.start();
  rig.program->Button1Click();
  rig.clock.advance(4000);
  EXPECT_FALSE(rig.view.visible);
  EXPECT_EQ(rig.view.tray_adds, 2);
  EXPECT_EQ(std::count(rig.view.lines.begin(), rig.view.lines.end(), "Tray: added"), 1);
}

TEST(TimerOne, RetriesTheZempConnectionWhileNotPending) {
  SpineRig rig("XPLANE=YES\nZEMP_PORT=8092\nMINIMIZED=NO\n");
  rig.start();
  EXPECT_EQ(rig.socket.opens, 1);
  rig.clock.advance(4000);
  EXPECT_EQ(rig.socket.opens, 2) << "the start-up attempt did not set connect_pending";
  EXPECT_TRUE(rig.program->flags.connect_pending);
  rig.clock.advance(4000);
  EXPECT_EQ(rig.socket.opens, 2) << "an outstanding attempt blocks the next";
  rig.program->flags.connect_pending = false;
  rig.clock.advance(4000);
  EXPECT_EQ(rig.socket.opens, 3);

  rig.socket.active = true;
  rig.clock.advance(4000);
  EXPECT_FALSE(rig.program->ThreadedTimer1().Enabled()) << "connected: the retry tick stops";
}

TEST(MainCycle, TicksEvery20msWhileThePanelLayerRuns) {
  SpineRig rig("ZEMP_PORT=1\nMINIMIZED=NO\n");
  rig.start();
  Program& p = *rig.program;
  // 301 ticks: the counters wrap at 3 and 100 and never drift.
  for (int tick = 1; tick <= 301; ++tick) {
    rig.clock.advance(20);
    ASSERT_EQ(p.exchange_count, tick % 3) << tick;
    ASSERT_EQ(p.refresh_count, tick % 100) << tick;
  }
}

TEST(MainCycle, TheRefreshMarksEveryRadioOnTick100) {
  SpineRig rig("ZEMP_PORT=1\nMINIMIZED=NO\n");
  rig.start();
  Program& p = *rig.program;
  rig.clock.advance(20 * 99);
  p.radio.radio_dirty.fill(0);
  rig.clock.advance(20);
  EXPECT_EQ(p.radio.radio_dirty, (std::array<uint8_t, 7>{1, 1, 1, 1, 1, 1, 1}));
}

}  // namespace
}  // namespace tarvion
