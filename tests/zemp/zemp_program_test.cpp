// The ZEMP link inside a whole Program: start-up, retries, error box, shutdown
// and the FSUIPC mode in which the link stays shut.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>

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
