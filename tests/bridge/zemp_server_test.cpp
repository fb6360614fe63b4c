// The ZEMP server's client handling: values, bounded and hostile input,
// goodbye, keep-alives, silent and non-reading clients.
#include "bridge/zemp_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

namespace tarvion::bridge {
namespace {

struct FakeConnection : ServerConnection {
  std::string* sent;
  bool* closed;
  size_t* unsent;
  FakeConnection(std::string* s, bool* c, size_t* u) : sent(s), closed(c), unsent(u) {}
  void send(std::string_view bytes) override { sent->append(bytes); }
  size_t unsent_bytes() const override { return *unsent; }
  void close() override { *closed = true; }
};

struct Client {
  std::string sent;
  bool closed = false;
  size_t unsent = 0;
  ClientId id = 0;
};

struct ServerRig {
  std::vector<std::pair<ClientId, std::vector<ZempPair>>> values;
  std::vector<std::string> log;
  ZempServer server{
      {[this](ClientId id, const std::vector<ZempPair>& pairs) { values.emplace_back(id, pairs); },
       [this](const std::string& line) { log.push_back(line); }, [](const std::string&) {}}};
  Clock::time_point t0 = Clock::time_point() + std::chrono::hours(1);

  void connect(Client& client, const std::string& peer) {
    client.id = server.client_connected(
        std::make_unique<FakeConnection>(&client.sent, &client.closed, &client.unsent), peer, t0);
  }
  std::vector<std::pair<int32_t, int32_t>> last_pairs() const {
    std::vector<std::pair<int32_t, int32_t>> out;
    for (const ZempPair& pair : values.back().second) out.emplace_back(pair.number, pair.value);
    return out;
  }
};

using Pairs = std::vector<std::pair<int32_t, int32_t>>;

TEST(ZempServer, ValuesOfOneArrivalReachTheBridgeOncePerNumberAndBadInputNeverDoes) {
  struct Case {
    const char* name;
    std::vector<std::string> arrivals;
    Pairs expected;  // the pairs of the last values call
  };
  const std::string too_long = "Arn.Resp:256=" + std::string(70 * 1024, '1') + ":\r\n";
  const Case cases[] = {
      {"registration",
       {"Arn.Resp:256=11800:254=10800:311=1200:\r\n"},
       {{256, 11800}, {254, 10800}, {311, 1200}}},
      {"flood of one radio: newest wins",
       {"Arn.Resp:256=11800:\r\nArn.Resp:256=11900:\r\nArn.Resp:254=10900:256=12000:\r\n"},
       {{256, 12000}, {254, 10900}}},
      {"line cut over arrivals", {"Arn.Re", "sp:257=12", "100:\r", "\n"}, {{257, 12100}}},
      {"bad integer drops the rest of its line, the next line still counts",
       {"Arn.Resp:256=11800:254=1x0:255=11000:\r\nArn.Resp:257=12500:\r\n"},
       {{256, 11800}, {257, 12500}}},
      {"over-long line dropped, the line after it taken",
       {too_long.substr(0, 40000), too_long.substr(40000) + "Arn.Resp:259=400:\r\n"},
       {{259, 400}}},
      {"keep-alive answers and other lines are no values",
       {"Arn.Vivo:\r\nhello\r\n", "Arn.Resp:258=300:\r\n"},
       {{258, 300}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServerRig rig;
    Client client;
    rig.connect(client, "a");
    for (const std::string& arrival : c.arrivals)
      rig.server.client_data(client.id, arrival, rig.t0);
    ASSERT_FALSE(rig.values.empty());
    EXPECT_EQ(rig.last_pairs(), c.expected);
    EXPECT_FALSE(client.closed);
    EXPECT_EQ(rig.server.client_count(), 1u);
  }
}

TEST(ZempServer, GoodbyeSilenceAndANonReadingClientEndOnlyThatClient) {
  ServerRig rig;
  Client polite, silent, talker, stuck;
  rig.connect(polite, "polite");
  rig.connect(silent, "silent");
  rig.connect(talker, "talker");
  rig.connect(stuck, "stuck");

  rig.server.client_data(polite.id, "Arn.Resp:256=11800:\r\nArn.Fin:", rig.t0);
  EXPECT_TRUE(polite.closed);
  EXPECT_EQ(rig.server.client_count(), 3u);

  // Keep-alives every 5 s; the talker answers, the silent client never does.
  for (int s = 1; s <= 25; ++s) {
    const auto now = rig.t0 + std::chrono::seconds(s);
    rig.server.client_data(talker.id, "Arn.Vivo:\r\n", now);
    rig.server.client_data(stuck.id, "Arn.Vivo:\r\n", now);
    rig.server.tick(now);
    if (s == 19) {
      EXPECT_FALSE(silent.closed) << "dropped too early";
    }
  }
  EXPECT_TRUE(silent.closed);
  EXPECT_FALSE(talker.closed);
  EXPECT_EQ(talker.sent, "Arn.Vivo:\r\nArn.Vivo:\r\nArn.Vivo:\r\nArn.Vivo:\r\nArn.Vivo:\r\n");

  // A client whose unsent bytes pile up is dropped at the next send; the others still get it.
  stuck.unsent = kMaxUnsentBytes;
  talker.sent.clear();
  rig.server.broadcast({{256, 12150}});
  EXPECT_TRUE(stuck.closed);
  EXPECT_EQ(talker.sent, "Arn.Resp:256=12150:\r\n");
  EXPECT_EQ(rig.server.client_count(), 1u);
  EXPECT_THAT(rig.log, testing::Contains(testing::HasSubstr("stuck dropped: it stopped reading")));

  // Events for clients already gone are ignored.
  rig.server.client_data(stuck.id, "Arn.Resp:256=1:\r\n", rig.t0);
  rig.server.client_closed(stuck.id);
  EXPECT_EQ(rig.server.client_count(), 1u);
}

}  // namespace
}  // namespace tarvion::bridge
