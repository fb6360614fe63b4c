// The in-memory socket keeps the seam's promises that program tests rely on:
// no event from inside the program's own calls, none for an abandoned attempt.
#include "platform/virtual/in_memory_socket.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/virtual/virtual_clock.h"

namespace tarvion {
namespace {

using ::testing::ElementsAre;

struct SocketRig {
  SocketRig() {
    socket.set_events(ClientSocketEvents{
        [this] { events.push_back("connect"); },
        [this] { events.push_back("disconnect"); },
        [this] { events.push_back("read " + socket.receive_text()); },
        [this](SocketError error, bool ended) {
          events.push_back("error " + std::to_string(static_cast<int>(error)) +
                           (ended ? " ended" : ""));
        },
    });
  }
  VirtualClock clock;
  InMemorySocket socket{clock};
  std::vector<std::string> events;
};

TEST(InMemorySocket, AnswersComeAMomentAfterOpenAndOnlyForTheLatestAttempt) {
  SocketRig rig;
  rig.socket.set_answer(InMemorySocket::Answer::refuse);
  rig.socket.open();
  EXPECT_THAT(rig.events, ElementsAre());  // never from inside open()
  rig.socket.open();                       // replaces the first attempt
  rig.clock.advance(1);
  EXPECT_THAT(rig.events, ElementsAre("error 0"));

  rig.socket.open();
  rig.socket.close();  // abandoned: its answer never comes
  rig.clock.advance(10);
  EXPECT_THAT(rig.events, ElementsAre("error 0"));
  EXPECT_EQ(rig.socket.attempts(), 3);
}

TEST(InMemorySocket, SendsToAVanishedPeerFailOnceAMomentLater) {
  SocketRig rig;
  rig.socket.open();
  rig.socket.peer_accept();
  rig.socket.peer_vanish();
  rig.socket.send_text("a");
  rig.socket.send_text("b");
  EXPECT_TRUE(rig.socket.is_active());
  rig.clock.advance(1);
  EXPECT_THAT(rig.events, ElementsAre("connect", "error 3 ended"));
  EXPECT_FALSE(rig.socket.is_active());
  EXPECT_EQ(rig.socket.take_sent(), "");
}

TEST(InMemorySocket, APeerActionThatCannotHappenIsATestError) {
  SocketRig rig;
  EXPECT_THROW(rig.socket.peer_accept(), std::logic_error);
  EXPECT_THROW(rig.socket.peer_send("x"), std::logic_error);
  rig.socket.open();
  EXPECT_THROW(rig.socket.peer_reset(), std::logic_error);
  rig.socket.peer_accept();
  rig.socket.peer_send("x");
  rig.socket.send_text("y");
  rig.socket.peer_close();
  rig.socket.send_text("after the end");  // ignored while not connected
  EXPECT_THAT(rig.events, ElementsAre("connect", "read x", "disconnect"));
  EXPECT_EQ(rig.socket.take_sent(), "y");
}

}  // namespace
}  // namespace tarvion
