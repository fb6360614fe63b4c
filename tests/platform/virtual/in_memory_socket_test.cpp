// The in-memory socket keeps the seam's promises that program tests rely on
// (the client contract), and refuses peer actions that cannot happen.
#include "platform/virtual/in_memory_socket.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/virtual/virtual_clock.h"
#include "support/client_socket_contract.h"

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

// The in-memory socket under the client contract, with virtual time.
class InMemoryRig : public test::ContractRig {
 public:
  ClientSocket& socket() override { return socket_; }
  bool run_until(const std::function<bool()>& done) override {
    for (int ms = 0; ms < 10000 && !done(); ++ms) clock_.advance(1);
    return done();
  }
  void run_a_while() override { clock_.advance(200); }
  bool aim(test::Target target) override {
    switch (target) {
      case test::Target::peer:
      case test::Target::peer_by_name:
        socket_.set_answer(InMemorySocket::Answer::hold);
        return true;
      case test::Target::refused:
        socket_.set_answer(InMemorySocket::Answer::refuse);
        return true;
      case test::Target::unknown_name:
        socket_.set_answer(InMemorySocket::Answer::host_not_found);
        return true;
      case test::Target::impossible_port:
        return false;  // ports are not checked
    }
    return false;
  }
  bool accept() override {
    if (!socket_.attempt_pending()) return false;
    socket_.peer_accept();
    return true;
  }
  void peer_send(std::string_view bytes) override { socket_.peer_send(bytes); }
  std::string peer_take() override { return socket_.take_sent(); }
  void peer_close() override { socket_.peer_close(); }
  void peer_reset() override { socket_.peer_reset(); }
  void peer_vanish() override { socket_.peer_vanish(); }
  std::string peer_read_to_end_during(const std::function<void()>& action) override {
    action();
    return socket_.take_sent();
  }
  bool has_send_buffers() const override { return false; }

 private:
  VirtualClock clock_;
  InMemorySocket socket_{clock_};
};

using test::ClientSocketContract;

INSTANTIATE_TEST_SUITE_P(InMemory, ClientSocketContract,
                         ::testing::Values(test::ContractRigFactory(
                             [] { return std::make_unique<InMemoryRig>(); })));

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
