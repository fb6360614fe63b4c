#include <gtest/gtest.h>

#include "spine_fakes.h"

namespace tarvion {
namespace {

TEST(FormShow, MovesTheTrackBarOnlyWhenBrightDiffers) {
  struct Case {
    const char* config;
    int position;
    bool moved;
  };
  const Case cases[] = {
      {"ZEMP_PORT=1\nMINIMIZED=NO\n", 121, false},
      {"ZEMP_PORT=1\nMINIMIZED=NO\nBRIGHT=60\n", 60, true},
      {"ZEMP_PORT=1\nMINIMIZED=NO\nBRIGHT=121\n", 121, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    SpineRig rig(c.config);
    rig.start();
    EXPECT_EQ(rig.program->trackbar_position(), c.position);
    EXPECT_EQ(rig.saw("TrackBar1: " + std::to_string(c.position)), c.moved);
    EXPECT_EQ(rig.view.text(Control::Label12), std::to_string(c.position));
  }
}

TEST(TrackBar, DraggingDownToOneEndsAtOne) {
  SpineRig rig("ZEMP_PORT=1\nMINIMIZED=NO\n");
  rig.start();
  for (int pos = 121; pos >= 1; --pos) rig.program->TrackBar1Change(pos);
  EXPECT_EQ(rig.program->radio.brightness, 1);
  EXPECT_EQ(rig.view.text(Control::Label12), "1");
  EXPECT_EQ(std::count(rig.view.lines.begin(), rig.view.lines.end(), "Label12: 60"), 1);
}

TEST(TrayIcon, OnlyALeftClickBringsTheWindowBack) {
  SpineRig rig("ZEMP_PORT=1\nMINIMIZED=NO\nBRIGHT=40\n");
  rig.start();
  rig.program->Button1Click();
  ASSERT_FALSE(rig.view.visible);
  rig.program->TrayIconMessage(kTrayRightButtonDown);
  rig.program->TrayIconMessage(0x200);  // mouse move
  EXPECT_FALSE(rig.view.visible);
  EXPECT_TRUE(rig.view.tray_icon);

  rig.program->TrackBar1Change(90);  // FormShow moves it back to brightness (90 now)
  rig.program->TrayIconMessage(kTrayLeftButtonDown);
  EXPECT_TRUE(rig.view.visible);
  EXPECT_FALSE(rig.view.tray_icon);
  EXPECT_EQ(rig.program->trackbar_position(), 90);
}

TEST(TrayIcon, WithoutANotificationAreaTheWindowStays) {
  SpineRig rig("ZEMP_PORT=1\n");
  rig.view.tray_available = false;
  rig.start();
  rig.program->Button1Click();
  rig.clock.advance(4000);  // and the MINIMIZED tick
  EXPECT_TRUE(rig.view.visible);
}

}  // namespace
}  // namespace tarvion
