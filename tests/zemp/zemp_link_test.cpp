// The ZEMP session against the in-memory socket: the variable exchange, the
// registration line, received values and the socket events.
#include "zemp/zemp_link.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/virtual/in_memory_socket.h"
#include "platform/virtual/virtual_clock.h"
#include "platform/virtual/virtual_main_thread.h"

namespace tarvion {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class LinkTest : public ::testing::Test {
 protected:
  LinkTest() {
    socket.on_wire = [this](const std::string& line) { log.push_back(line); };
    radio.radio_value = {118000, 118000, 10800, 10800, 1000, 1000, 1200};
    link.create_zemp_variables();
  }

  void connect() {
    socket.open();
    socket.peer_accept();
    socket.take_sent();
    log.clear();
  }
  void mark_all() { radio.radio_dirty.fill(1); }
  const TVariable& variable(int32_t number) const {
    for (const TVariable& v : link.zemp_variables()) {
      if (v.number == number) return v;
    }
    throw std::logic_error("no variable " + std::to_string(number));
  }

  VirtualMainThread main_thread;
  VirtualClock clock;
  InMemorySocket socket{clock};
  RadioState radio;
  ProgramFlags flags;
  std::vector<std::string> log;  // hooks and wire, in order
  std::optional<bool> retry_timer;
  ZempLink link{main_thread, socket, radio, flags,
                ZempHooks{
                    [this](const std::string& text) { log.push_back("Label9: " + text); },
                    [this](bool enabled) {
                      retry_timer = enabled;
                      log.push_back(enabled ? "retry timer on" : "retry timer off");
                    },
                    [this](const std::string& message) { log.push_back("error: " + message); },
                }};
};

TEST_F(LinkTest, ExchangeSendsEachMarkedRadioInRadioOrderInWireUnits) {
  connect();
  radio.radio_value = {118025, 136975, 10800, 11795, 3795, 1750, 7700};
  mark_all();
  link.zemp_exchange();
  EXPECT_EQ(socket.take_sent(),
            "Arn.Resp:256=11802:\r\nArn.Resp:257=13697:\r\nArn.Resp:254=10800:\r\n"
            "Arn.Resp:255=11795:\r\nArn.Resp:258=379:\r\nArn.Resp:259=175:\r\n"
            "Arn.Resp:311=7700:\r\n");
  EXPECT_THAT(radio.radio_dirty, ::testing::Each(0));
}

TEST_F(LinkTest, ExchangeTouchesOnlyMarkedRadios) {
  connect();
  radio.radio_value[NAV2] = 11000;
  radio.radio_value[ATC] = 7000;
  radio.radio_dirty[NAV2] = 1;
  link.zemp_exchange();
  EXPECT_EQ(socket.take_sent(), "Arn.Resp:255=11000:\r\n");
  EXPECT_EQ(variable(311).value, 0);  // not marked: not taken
}

TEST_F(LinkTest, AMarkedRadioThatDidNotChangeIsNotSentAgain) {
  connect();
  mark_all();
  link.zemp_exchange();
  socket.take_sent();
  mark_all();
  link.zemp_exchange();
  EXPECT_EQ(socket.take_sent(), "");
  EXPECT_THAT(radio.radio_dirty, ::testing::Each(0));
}

TEST_F(LinkTest, ChangesWhileOfflineReachTheServerOnlyInTheRegistrationLine) {
  mark_all();
  link.zemp_exchange();  // no connection: nothing goes out, but last_value follows
  EXPECT_EQ(variable(256).last_value, 11800);
  socket.open();
  socket.peer_accept();
  EXPECT_EQ(socket.take_sent(),
            "Arn.Resp:256=11800:254=10800:311=1200:258=100:257=11800:255=10800:259=100:\r\n");
  mark_all();
  link.zemp_exchange();
  EXPECT_EQ(socket.take_sent(), "");
}

TEST_F(LinkTest, ARegistrationBeforeTheFirstExchangeCarriesZeros) {
  socket.open();
  socket.peer_accept();
  EXPECT_EQ(socket.take_sent(), "Arn.Resp:256=0:254=0:311=0:258=0:257=0:255=0:259=0:\r\n");
  mark_all();
  link.zemp_exchange();
  EXPECT_EQ(socket.take_sent(),
            "Arn.Resp:256=11800:\r\nArn.Resp:257=11800:\r\nArn.Resp:254=10800:\r\n"
            "Arn.Resp:255=10800:\r\nArn.Resp:258=100:\r\nArn.Resp:259=100:\r\n"
            "Arn.Resp:311=1200:\r\n");
}

TEST_F(LinkTest, OnChangeRunsBeforeTheSendAndOnlyOnAChange) {
  connect();
  for (TVariable& v : link.zemp_variables()) {
    v.on_change = [this, number = v.number] {
      log.push_back("on_change " + std::to_string(number));
    };
  }
  link.set_local_value(link.zemp_variables()[0], 12150);
  link.set_local_value(link.zemp_variables()[0], 12150);
  link.set_remote_value(link.zemp_variables()[1], 11000);
  link.set_remote_value(link.zemp_variables()[1], 11000);
  EXPECT_THAT(
      log, ElementsAre("on_change 256", "client > \"Arn.Resp:256=12150:\\r\\n\"", "on_change 254"));
}

TEST_F(LinkTest, ReceivedValuesAreRecordedButNeverSentBackNorCopiedToTheRadios) {
  connect();
  socket.peer_send("Arn.Resp:256=12000:311=7700:999=5:\r\n");
  EXPECT_EQ(variable(256).value, 12000);
  EXPECT_EQ(variable(256).last_value, 12000);
  EXPECT_EQ(variable(311).last_value, 7700);
  EXPECT_EQ(socket.take_sent(), "");
  EXPECT_EQ(radio.radio_value[COM1], 118000);
  EXPECT_EQ(radio.radio_value[ATC], 1200);
}

TEST_F(LinkTest, AReceivedValueThatDiffersIsOverwrittenAtTheNextMarking) {
  connect();
  mark_all();
  link.zemp_exchange();
  socket.take_sent();
  socket.peer_send("Arn.Resp:256=12000:257=11800:\r\n");  // 257 equals the panels' value
  mark_all();
  link.zemp_exchange();
  EXPECT_EQ(socket.take_sent(), "Arn.Resp:256=11800:\r\n");
}

TEST_F(LinkTest, AKeepAliveIsAnsweredAtOnce) {
  connect();
  socket.peer_send("Arn.Vivo:\r\n");
  EXPECT_EQ(socket.take_sent(), "Arn.Vivo:\r\n");
}

TEST_F(LinkTest, BadReceivedDataGoesToTheErrorBoxAfterTheEarlierPairs) {
  connect();
  socket.peer_send("Arn.Resp:256=12000:257=1x:258=5:\r\n");
  EXPECT_EQ(variable(256).value, 12000);
  EXPECT_EQ(variable(258).value, 0);
  EXPECT_EQ(log.back(), "error: '1x' is not a valid integer value");
}

TEST_F(LinkTest, ConnectingShowsOnlineStopsTheRetryTickAndRegisters) {
  socket.open();
  socket.peer_accept();
  EXPECT_THAT(log,
              ElementsAre("client connects", "peer accepts", "Label9: Online", "retry timer off",
                          "client > \"Arn.Resp:256=0:254=0:311=0:258=0:257=0:255=0:259=0:"
                          "\\r\\n\""));
}

// Both ways a connection can end run the same handling.
class ConnectionEnd : public LinkTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ConnectionEnd, ShowsDisconnectedAndRestartsTheRetryTick) {
  connect();
  flags.connect_pending = true;
  const std::string how = GetParam();
  if (how == "close") socket.peer_close();
  if (how == "reset") socket.peer_reset();
  if (how == "failed send") {
    socket.peer_vanish();
    link.send_variable(link.zemp_variables()[0]);
    clock.advance(1);  // the failure is reported a moment after the send
  }
  EXPECT_THAT(log, ::testing::Contains("Label9: Disconnected"));
  EXPECT_EQ(retry_timer, std::optional<bool>(true));
  EXPECT_FALSE(flags.connect_pending);
  EXPECT_FALSE(socket.is_active());
}

INSTANTIATE_TEST_SUITE_P(Ways, ConnectionEnd, ::testing::Values("close", "reset", "failed send"),
                         [](const auto& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), ' ', '_');
                           return name;
                         });

// Every failed attempt, whatever its reason, lets the retry tick try again;
// none of them shows anything.
class FailedAttempt : public LinkTest, public ::testing::WithParamInterface<SocketError> {};

TEST_P(FailedAttempt, ClearsConnectPendingSilently) {
  flags.connect_pending = true;
  socket.open();
  if (GetParam() == SocketError::refused) {
    socket.peer_refuse();
  } else {
    socket.peer_fail(GetParam());
  }
  EXPECT_FALSE(flags.connect_pending);
  EXPECT_EQ(retry_timer, std::nullopt);
  // The attempt and its failure, and nothing shown.
  EXPECT_EQ(log.size(), 2u);
}

std::string reason_name(const ::testing::TestParamInfo<SocketError>& info) {
  static const char* const kNames[] = {"refused", "timed_out", "host_not_found", "reset", "other"};
  return kNames[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Reasons, FailedAttempt,
                         ::testing::Values(SocketError::refused, SocketError::timed_out,
                                           SocketError::host_not_found, SocketError::reset,
                                           SocketError::other),
                         reason_name);

TEST_F(LinkTest, AFragmentFromAnEarlierConnectionDoesNotSpoilTheNextOne) {
  connect();
  socket.peer_send("Arn.Resp:256=12");  // the line never completes
  socket.peer_reset();
  connect();
  socket.peer_send("Arn.Vivo:\r\nArn.Resp:257=12000:\r\n");
  EXPECT_EQ(socket.take_sent(), "Arn.Vivo:\r\n");
  EXPECT_EQ(variable(257).value, 12000);
  EXPECT_EQ(variable(256).value, 0);
  EXPECT_THAT(log, ::testing::Not(::testing::Contains(::testing::StartsWith("error"))));
}

TEST(LinkLifetime, ASocketThatOutlivesTheLinkDeliversNothingToIt) {
  VirtualMainThread main_thread;
  VirtualClock clock;
  InMemorySocket socket(clock);
  RadioState radio;
  ProgramFlags flags;
  int calls = 0;
  {
    ZempLink link(main_thread, socket, radio, flags,
                  ZempHooks{[&](const std::string&) { ++calls; }, [&](bool) { ++calls; },
                            [&](const std::string&) { ++calls; }});
    socket.open();
  }
  socket.peer_accept();
  socket.peer_reset();
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace tarvion
