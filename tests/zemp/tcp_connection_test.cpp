// The connection rules under a peer that floods: each readiness event reads a
// bounded batch, and whatever the link answers to one batch leaves in one send.
#include "zemp/tcp_connection.h"

#include <gtest/gtest.h>

#include <deque>

#include "zemp/zemp_receive_buffer.h"

namespace tarvion {
namespace {

// A system that connects at once and always has more of the peer's flood.
class FloodIo : public TcpIo {
 public:
  explicit FloodIo(std::string pattern) : pattern_(std::move(pattern)) {}
  void set_handlers(Handlers h) override { handlers = std::move(h); }
  void resolve(const std::string&, int32_t, uint64_t lookup) override {
    post([this, lookup] { handlers.resolved(lookup, {NetAddress{}}, std::nullopt); });
  }
  std::optional<SocketError> connect(const NetAddress&) override { return std::nullopt; }
  ConnectOutcome connect_outcome() override { return {true, std::nullopt}; }
  IoResult send(std::string_view bytes) override {
    ++sends;
    sent += bytes.size();
    return {IoResult::Status::done, bytes.size()};
  }
  IoResult receive(char* buffer, std::size_t size) override {
    for (std::size_t i = 0; i < size; ++i) buffer[i] = pattern_[offset_++ % pattern_.size()];
    received += size;
    return {IoResult::Status::done, size};
  }
  void want_write(bool) override {}
  void stop_events() override {}
  bool wait(bool, std::chrono::milliseconds) override { return false; }
  void shutdown_send() override {}
  void close_socket() override {}
  void post(std::function<void()> fn) override { posted.push_back(std::move(fn)); }
  void run_posted() {
    while (!posted.empty()) {
      auto fn = std::move(posted.front());
      posted.pop_front();
      fn();
    }
  }

  Handlers handlers;
  std::deque<std::function<void()>> posted;
  int sends = 0;
  std::size_t sent = 0, received = 0;

 private:
  std::string pattern_;
  std::size_t offset_ = 0;
};

TEST(TcpConnection, AFloodIsReadInBoundedBatchesAndEachBatchIsAnsweredInOneSend) {
  const std::string keep_alive = "Arn.Vivo:\r\n";
  auto owned = std::make_unique<FloodIo>(keep_alive);
  FloodIo& io = *owned;
  TcpConnection connection(std::move(owned));
  ZempReceiveBuffer buffer;
  ZempReceiveActions actions{[&](std::string_view text) { connection.send_text(text); },
                             [](int32_t, int32_t) {}};
  std::size_t largest_batch = 0;
  connection.set_events(ClientSocketEvents{{}, {}, [&] {
                                             std::string batch = connection.receive_text();
                                             largest_batch = std::max(largest_batch, batch.size());
                                             buffer.on_data_received(batch, actions);
                                           },
                                           {}});
  connection.set_host("127.0.0.1");
  connection.set_port(8090);
  connection.open();
  io.run_posted();
  io.handlers.ready();  // connected
  ASSERT_TRUE(connection.is_active());

  constexpr int kEvents = 40;  // 1.25 MB of keep-alives
  for (int i = 0; i < kEvents; ++i) io.handlers.ready();
  EXPECT_EQ(io.received, kEvents * TcpConnection::kReadBatch);
  EXPECT_EQ(largest_batch, TcpConnection::kReadBatch);
  EXPECT_EQ(io.sends, kEvents);
  // Every complete keep-alive answered; the line cut by the last batch waits.
  EXPECT_EQ(io.sent, io.received / keep_alive.size() * std::string("Arn.Vivo:\r\n").size());
  EXPECT_LT(buffer.size(), keep_alive.size());
  EXPECT_TRUE(connection.is_active());
}

}  // namespace
}  // namespace tarvion
