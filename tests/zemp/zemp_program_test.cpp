// The ZEMP link inside a whole Program: start-up, retries, error box, shutdown
// and the FSUIPC mode in which the link stays shut.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "radio/radio_fields.h"
#include "radio/radio_panel.h"
#include "zemp_rig.h"

namespace tarvion {
namespace {

using Answer = InMemorySocket::Answer;
using ::testing::ElementsAre;

TEST(ZempProgram, StartUpGivesTheSocketTheConfiguredHostAndPort) {
  ZempRig rig("XPLANE=YES\r\nZEMP_HOST=10.1.2.3\r\nZEMP_PORT=49001\r\n");
  rig.start();
  EXPECT_EQ(rig.socket.host(), "10.1.2.3");
  EXPECT_EQ(rig.socket.port(), 49001);
  EXPECT_EQ(rig.socket.attempts(), 1);
}

struct FailingServer {
  const char* name;
  Answer answer;
};

void PrintTo(const FailingServer& server, std::ostream* os) {
  *os << server.name;
}

// Whatever makes the attempts fail, one comes every 4 s.
class FailingAttempts : public ::testing::TestWithParam<FailingServer> {};

TEST_P(FailingAttempts, AreRetriedEveryFourSeconds) {
  ZempRig rig;
  rig.socket.set_answer(GetParam().answer);
  rig.start();
  rig.run_until(40500);
  EXPECT_EQ(rig.socket.attempts(), 11);  // at 0 s, then 4, 8, ... 40 s
  EXPECT_FALSE(rig.program->flags.connect_pending);
}

INSTANTIATE_TEST_SUITE_P(Servers, FailingAttempts,
                         ::testing::Values(FailingServer{"refused", Answer::refuse},
                                           FailingServer{"timed_out", Answer::time_out},
                                           FailingServer{"host_not_found", Answer::host_not_found}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ZempProgram, AnAttemptStillUnderWayIsNotDoubled) {
  ZempRig rig;  // the server never answers: attempts stay under way
  rig.start();
  rig.run_until(12500);
  // The start-up attempt is not counted as pending, so the first tick makes
  // one more; after that the pending attempt holds further ones back.
  EXPECT_EQ(rig.socket.attempts(), 2);
  EXPECT_TRUE(rig.program->flags.connect_pending);
}

TEST(ZempProgram, APeerThatClosesIsReconnectedFourSecondsLater) {
  ZempRig rig;
  rig.socket.set_answer(Answer::accept);
  rig.start();
  rig.run_until(1000);
  rig.socket.peer_close();
  EXPECT_EQ(rig.view.text(Control::Label9), "Disconnected");
  rig.run_until(4999);
  EXPECT_EQ(rig.socket.attempts(), 1);
  rig.run_until(5001);
  EXPECT_EQ(rig.socket.attempts(), 2);
  EXPECT_EQ(rig.view.text(Control::Label9), "Online");
}

TEST(ZempProgram, ADeadConnectionIsNoticedAtTheNextSend) {
  ZempRig rig;
  rig.socket.set_answer(Answer::accept);
  rig.start();
  rig.run_until(1000);
  rig.socket.peer_vanish();
  rig.run_until(1500);
  EXPECT_EQ(rig.view.text(Control::Label9), "Online");  // nothing told the program yet
  rig.set_radio(NAV1, 11000);
  rig.run_until(1600);
  EXPECT_EQ(rig.view.text(Control::Label9), "Disconnected");
  rig.run_until(5600);
  EXPECT_EQ(rig.view.text(Control::Label9), "Online");
  // The value that was lost with the dead connection is in the new registration.
  EXPECT_THAT(rig.socket.take_sent(),
              ::testing::EndsWith("Arn.Resp:256=11800:254=11000:311=1200:258=100:257="
                                  "11800:255=10800:259=100:\r\n"));
}

TEST(ZempProgram, BadReceivedDataIsShownInTheErrorBoxAndTheProgramGoesOn) {
  ZempRig rig;
  rig.socket.set_answer(Answer::accept);
  rig.start();
  rig.run_until(1000);
  rig.socket.peer_send("Arn.Resp:256=12000:257=abc:\r\nArn.Vivo:\r\n");
  EXPECT_THAT(rig.view.errors, ElementsAre("'abc' is not a valid integer value."));
  rig.socket.take_sent();
  rig.socket.peer_send("Arn.Vivo:\r\n");  // the waiting keep-alive, then this one
  EXPECT_EQ(rig.socket.take_sent(), "Arn.Vivo:\r\nArn.Vivo:\r\n");
  rig.run_until(2100);  // the refresh overwrites the value taken before the error
  EXPECT_EQ(rig.socket.take_sent(), "Arn.Resp:256=11800:\r\n");
}

// FOLLOW_SIM: a value the server reports that differs from the last one on
// the wire becomes the radio's active value; the panels showing the radio
// redraw it and nothing goes back, not even with the 2 s refresh. What the
// radio cannot hold, or what the wire already had, is not taken, and the
// refresh puts the panels' value back on the wire.
TEST(ZempProgram, FollowSimTakesTheServersChangesIntoTheRadios) {
  struct Case {
    const char* name;
    const char* received;                 // one pair
    PanelMode shown;                      // by a multi-radio, or from mode 8 on by an RMP
    std::optional<int32_t> panel_change;  // not yet exchanged when the pair arrives
    int32_t active;                       // the radio's value afterwards
    bool taken;
    const char* sent;  // the pair sent from then on through the refresh, if any
    bool follow_sim = true;
  };
  const Case cases[] = {
      {"COM1 in 10 kHz units", "256=11802", kModeCom1, {}, 118020, true, ""},
      {"COM2 top of the band", "257=13699", kModeCom2, {}, 136990, true, ""},
      {"NAV1 on an RMP", "254=11795", kModeRmpNav1, {}, 11795, true, ""},
      {"NAV2 108.05", "255=10805", kModeNav2, {}, 10805, true, ""},
      {"ADF1 in whole kHz", "258=379", kModeAdf1, {}, 3790, true, ""},
      {"ADF2 top of the band", "259=1799", kModeAdf2, {}, 17990, true, ""},
      {"transponder", "311=7700", kModeTransponder, {}, 7700, true, ""},
      {"COM below the band", "256=11799", kModeCom1, {}, 118000, false, "256=11800"},
      {"NAV above the band", "255=11800", kModeNav2, {}, 10800, false, "255=10800"},
      {"ADF above the band", "258=1800", kModeAdf1, {}, 1000, false, "258=100"},
      {"transponder digit 8", "311=1280", kModeTransponder, {}, 1200, false, "311=1200"},
      {"too large for the units", "256=2147483647", kModeCom1, {}, 118000, false, "256=11800"},
      {"equal to the last wire value", "256=11800", kModeCom1, 120000, 120000, false, "256=12000"},
      {"without FOLLOW_SIM", "256=11802", kModeCom1, {}, 118000, false, "256=11800", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZempRig rig(std::string(kZempConfig) + (c.follow_sim ? "FOLLOW_SIM=YES\r\n" : ""));
    rig.socket.set_answer(Answer::accept);
    rig.start();
    rig.run_until(1000);
    Program& p = *rig.program;
    RadioContext ctx{p.radio, p.panels, p.config};
    const auto radio = static_cast<RadioIndex>(radio_of_mode(c.shown));
    const int32_t before = p.radio.radio_value[radio];
    const PanelKind kind = c.shown >= kModeRmpNav1 ? kRmp : kMultiRadio;
    p.panels.radios.push_back(std::make_unique<c_rad>(make_c_rad(kind, 1, 1)));
    c_rad& shows = *p.panels.radios.back();
    p.panels.radios.push_back(std::make_unique<c_rad>(make_c_rad(kMultiRadio, 2, 0)));
    c_rad& other = *p.panels.radios.back();  // in no mode
    for (const auto& rad : p.panels.radios) load_active_values(p.radio, *rad);
    select_mode(ctx, shows, c.shown, SameMode::refresh);
    rig.run_until(1020);  // a tick draws it
    rig.socket.take_sent();
    if (c.panel_change) rig.set_radio(radio, *c.panel_change);

    rig.socket.peer_send(std::string("Arn.Resp:") + c.received + ":\r\n");
    EXPECT_EQ(p.radio.radio_value[radio], c.active);
    EXPECT_EQ(p.radio.radio_dirty[radio], c.panel_change ? 1 : 0);
    EXPECT_EQ(shows.display_changed, c.taken ? 1 : 0);
    EXPECT_EQ(shows.shown_active, c.taken ? c.active : before);
    EXPECT_EQ(active_value(other, radio), c.taken ? c.active : before);
    const auto image = shows.digits;
    rig.run_until(1040);
    EXPECT_EQ(shows.display_changed, 0) << "the next tick redraws it";

    rig.run_until(2100);  // past the refresh at 2 s
    EXPECT_EQ(rig.socket.take_sent(),
              *c.sent ? std::string("Arn.Resp:") + c.sent + ":\r\n" : std::string());
    EXPECT_EQ(p.radio.radio_value[radio], c.active);
    EXPECT_EQ(shows.digits, image);
  }
}

TEST(ZempProgram, ClosingWithoutAConnectionSendsNoGoodbye) {
  ZempRig rig;  // the start-up attempt is still under way
  rig.start();
  rig.run_until(1000);
  rig.program->FormClose();
  EXPECT_EQ(rig.socket.take_sent(), "");
  EXPECT_FALSE(rig.socket.attempt_pending());
  EXPECT_THAT(rig.transcript, ElementsAre("[ 0.000] client connects", "[ 1.000] client closes"));
}

TEST(ZempProgram, ClosingEndsTheRetries) {
  ZempRig rig;
  rig.socket.set_answer(Answer::refuse);
  rig.start();
  rig.run_until(1000);
  rig.program->FormClose();
  rig.run_until(20000);
  EXPECT_EQ(rig.socket.attempts(), 1);
}

TEST(ZempProgram, InFsuipcModeTheLinkIsBuiltButNeverOpened) {
  ZempRig rig("XPLANE=NO\r\nZEMP_HOST=127.0.0.1\r\nZEMP_PORT=8092\r\n");
  rig.start();
  rig.run_until(20000);
  EXPECT_EQ(rig.socket.attempts(), 0);
  EXPECT_EQ(rig.socket.port(), 8092);
  EXPECT_EQ(rig.program->zemp().zemp_variables()[0].number, 256);
  EXPECT_EQ(rig.view.text(Control::Label9), "Fsimulator");
}

TEST(ZempProgram, AMissingPortStopsTheStartUpBeforeAnyAttempt) {
  ZempRig rig("XPLANE=YES\r\nZEMP_HOST=127.0.0.1\r\n");
  rig.start();
  rig.run_until(10000);
  EXPECT_EQ(rig.socket.attempts(), 0);
  EXPECT_THAT(rig.view.errors, ElementsAre("'' is not a valid integer value."));
  rig.program->FormClose();  // must cope with a socket that was never set up
  EXPECT_EQ(rig.socket.attempts(), 0);
}

}  // namespace
}  // namespace tarvion
