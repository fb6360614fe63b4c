// What the ZEMP link relies on from its TCP client, run against every backend
// (the POSIX client on epoll and on Qt, Winsock under Wine, the in-memory
// socket): events only from the loop, never from inside a call; every end of
// a connection reported exactly once; only the latest attempt's events; the
// goodbye delivered whole at close; a peer that stops reading dropped.
// Include from one test file per program and instantiate ClientSocketContract
// with a factory of that backend's rig.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/socket_error_name.h"
#include "zemp/client_socket.h"

namespace tarvion::test {

// Where an attempt is aimed.
enum class Target { peer, peer_by_name, refused, impossible_port, unknown_name };

// One backend with a peer the test plays.
class ContractRig {
 public:
  virtual ~ContractRig() = default;
  virtual ClientSocket& socket() = 0;
  // Runs the program's loop until done() (false after a generous bound).
  virtual bool run_until(const std::function<bool()>& done) = 0;
  // Runs the loop a while, to see that nothing more happens.
  virtual void run_a_while() = 0;
  // Sets the socket's host and port; false when the backend cannot meet that case.
  virtual bool aim(Target target) = 0;
  // The newest attempt reached the peer and was taken (runs the loop).
  virtual bool accept() = 0;
  virtual void peer_send(std::string_view bytes) = 0;
  virtual std::string peer_take() = 0;
  virtual void peer_close() = 0;
  virtual void peer_reset() = 0;
  // The connection dies unseen, so the program's next send fails.
  virtual void peer_vanish() = 0;
  // Everything the program sends until its side closes, read while action runs.
  virtual std::string peer_read_to_end_during(const std::function<void()>& action) = 0;
  // Whether sends can pile up unread (a real socket's buffers).
  virtual bool has_send_buffers() const { return true; }
  // The end events this backend may give a reset (Wine reads one as an orderly close).
  virtual std::vector<std::string> reset_ends() const { return {"error reset ended"}; }
};

using ContractRigFactory = std::function<std::unique_ptr<ContractRig>()>;

class ClientSocketContract : public ::testing::TestWithParam<ContractRigFactory> {
 public:  // the case tables reach the fixture
  void SetUp() override {
    rig = GetParam()();
    events.clear();
    received.clear();
    ClientSocket& socket = rig->socket();
    auto note = [this](const std::string& what) {
      events.push_back(in_call ? "INSIDE A CALL: " + what : what);
    };
    socket.set_events(ClientSocketEvents{
        [=] { note("connect"); },
        [=] { note("disconnect"); },
        [this, note] {
          received += rig->socket().receive_text();
          note("read");
        },
        [=](SocketError error, bool ended) {
          note(std::string("error ") + socket_error_name(error) + (ended ? " ended" : " attempt"));
        },
    });
  }
  // A call of the program's: whatever it reports must come later, from the loop.
  void call(const std::function<void()>& fn) {
    in_call = true;
    fn();
    in_call = false;
  }
  void open(Target target) {
    ASSERT_TRUE(rig->aim(target));
    call([&] { rig->socket().open(); });
  }
  // Connected, with one line carried each way.
  void connect_and_talk() {
    open(Target::peer);
    ASSERT_TRUE(rig->accept());
    ASSERT_TRUE(rig->run_until([&] { return rig->socket().is_active(); }));
    call([&] { rig->socket().send_text("Arn.Resp:256=11800:\r\n"); });
    std::string at_peer;
    ASSERT_TRUE(rig->run_until([&] {
      at_peer += rig->peer_take();
      return at_peer == "Arn.Resp:256=11800:\r\n";
    }));
    rig->peer_send("Arn.Vivo:\r\n");
    ASSERT_TRUE(rig->run_until([&] { return received == "Arn.Vivo:\r\n"; }));
  }
  int ends() const {
    return static_cast<int>(std::count_if(events.begin(), events.end(), [](const auto& e) {
      return e == "disconnect" || e.ends_with(" ended");
    }));
  }

  std::unique_ptr<ContractRig> rig;
  std::vector<std::string> events;
  std::string received;
  bool in_call = false;
};

TEST_P(ClientSocketContract, EachWayAConnectionEndsIsReportedOnceFromTheLoop) {
  struct Case {
    const char* name;
    std::function<void(ClientSocketContract&)> end;
    std::vector<std::string> expected;  // any one of these
  };
  const std::vector<Case> cases = {
      {"the peer closes in order", [](auto& t) { t.rig->peer_close(); }, {"disconnect"}},
      {"the peer resets", [](auto& t) { t.rig->peer_reset(); }, rig->reset_ends()},
      {"a send fails",
       [](auto& t) {
         t.rig->peer_vanish();
         t.call([&] { t.rig->socket().send_text("Arn.Resp:257=12000:\r\n"); });
       },
       {"error reset ended", "error other ended", "disconnect"}},
      {"the peer stops reading",
       [](auto& t) {
         const std::string block(64 * 1024, 'x');
         // Far beyond what the system buffers, then past the limit of what may pile up.
         for (int i = 0; i < 512 && t.events.size() == 2; ++i) {
           t.call([&] { t.rig->socket().send_text(block); });
         }
       },
       {"error other ended"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (std::string_view(c.name) == "the peer stops reading" && !rig->has_send_buffers()) continue;
    SetUp();
    connect_and_talk();
    ASSERT_EQ(events, (std::vector<std::string>{"connect", "read"}));
    c.end(*this);
    ASSERT_TRUE(rig->run_until([&] { return ends() > 0; }));
    call([&] { rig->socket().send_text("ignored once ended\r\n"); });
    rig->run_a_while();
    ASSERT_EQ(events.size(), 3u) << ::testing::PrintToString(events);
    EXPECT_NE(std::find(c.expected.begin(), c.expected.end(), events[2]), c.expected.end())
        << events[2];
    EXPECT_FALSE(rig->socket().is_active());
  }
}

TEST_P(ClientSocketContract, FailedAttemptsCarryTheirCodesAndTheNextAttemptConnects) {
  const std::pair<Target, const char*> cases[] = {
      {Target::refused, "error refused attempt"},
      {Target::impossible_port, "error other attempt"},
      {Target::unknown_name, "error host_not_found attempt"},
  };
  for (const auto& [target, expected] : cases) {
    SCOPED_TRACE(expected);
    events.clear();
    if (!rig->aim(target)) continue;
    call([&] { rig->socket().open(); });
    ASSERT_TRUE(rig->run_until([&] { return !events.empty(); }));
    rig->run_a_while();
    EXPECT_EQ(events, std::vector<std::string>{expected});
    EXPECT_FALSE(rig->socket().is_active());
  }
  events.clear();
  connect_and_talk();
  EXPECT_EQ(events, (std::vector<std::string>{"connect", "read"}));
}

TEST_P(ClientSocketContract, ReopeningDuringAnAttemptDeliversOnlyTheLatestAttempt) {
  open(Target::peer_by_name);  // looked up aside where the backend resolves names
  open(Target::peer);
  ASSERT_TRUE(rig->accept());
  ASSERT_TRUE(rig->run_until([&] { return !events.empty(); }));
  rig->peer_send("Arn.Vivo:\r\n");
  ASSERT_TRUE(rig->run_until([&] { return received == "Arn.Vivo:\r\n"; }));
  rig->run_a_while();
  EXPECT_EQ(events, (std::vector<std::string>{"connect", "read"}));
}

TEST_P(ClientSocketContract, CloseSendsTheGoodbyeWholeDespiteUnreadInputAndReportsNothing) {
  connect_and_talk();
  rig->peer_send("unread by the program");
  const std::string goodbye = std::string(100000, 'z') + "Arn.Fin:\r\n";
  std::string got = rig->peer_read_to_end_during([&] {
    call([&] {
      rig->socket().send_text(goodbye);
      rig->socket().close();
    });
  });
  EXPECT_EQ(got, goodbye);
  EXPECT_FALSE(rig->socket().is_active());
  rig->run_a_while();
  for (const std::string& e : events) EXPECT_TRUE(e == "connect" || e == "read") << e;
}

}  // namespace tarvion::test
