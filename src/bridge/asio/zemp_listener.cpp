#include "bridge/asio/zemp_listener.h"

#include <array>
#include <deque>

namespace tarvion::bridge {

namespace {

// Read per readiness event: enough for thousands of values lines, small
// enough that one flooding client cannot starve the others or the simulator.
constexpr size_t kReadChunk = 16 * 1024;

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(asio::ip::tcp::socket socket, ZempServer& server)
      : socket_(std::move(socket)), server_(server) {}

  void start(ClientId id) {
    id_ = id;
    read();
  }
  void send(std::string_view bytes) {
    if (closed_) return;
    queue_.emplace_back(bytes);
    unsent_ += bytes.size();
    if (queue_.size() == 1) write();
  }
  size_t unsent() const { return unsent_; }
  // The server's own close: no event goes back to it.
  void close() {
    closed_ = true;
    asio::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
  }

 private:
  void read() {
    socket_.async_read_some(asio::buffer(buffer_), [self = shared_from_this()](asio::error_code ec,
                                                                               size_t n) {
      if (self->closed_) return;
      if (ec) return self->ended();
      self->server_.client_data(self->id_, std::string_view(self->buffer_.data(), n), Clock::now());
      if (!self->closed_) self->read();
    });
  }
  void write() {
    asio::async_write(socket_, asio::buffer(queue_.front()),
                      [self = shared_from_this()](asio::error_code ec, size_t) {
                        if (self->closed_) return;
                        if (ec) return self->ended();
                        self->unsent_ -= self->queue_.front().size();
                        self->queue_.pop_front();
                        if (!self->queue_.empty()) self->write();
                      });
  }
  void ended() {
    close();
    server_.client_closed(id_);
  }

  asio::ip::tcp::socket socket_;
  ZempServer& server_;
  ClientId id_ = 0;
  bool closed_ = false;
  std::array<char, kReadChunk> buffer_;
  std::deque<std::string> queue_;
  size_t unsent_ = 0;
};

class SessionConnection : public ServerConnection {
 public:
  explicit SessionConnection(std::shared_ptr<Session> session) : session_(std::move(session)) {}
  ~SessionConnection() override { session_->close(); }
  void send(std::string_view bytes) override { session_->send(bytes); }
  size_t unsent_bytes() const override { return session_->unsent(); }
  void close() override { session_->close(); }

 private:
  std::shared_ptr<Session> session_;
};

}  // namespace

ZempListener::ZempListener(asio::io_context& io, ZempServer& server,
                           const asio::ip::tcp::endpoint& where)
    : acceptor_(io), retry_(io), server_(server) {
  acceptor_.open(where.protocol());
  acceptor_.set_option(asio::socket_base::reuse_address(true));
  acceptor_.bind(where);
  acceptor_.listen();
  accept();
}

void ZempListener::close() {
  asio::error_code ignored;
  acceptor_.close(ignored);
  retry_.cancel();
}

void ZempListener::accept() {
  acceptor_.async_accept([this](asio::error_code ec, asio::ip::tcp::socket socket) {
    if (ec == asio::error::operation_aborted) return;
    if (!ec) {
      asio::error_code ignored;
      socket.set_option(asio::ip::tcp::no_delay(true), ignored);
      const auto remote = socket.remote_endpoint(ignored);
      std::string peer = remote.address().to_string() + ":" + std::to_string(remote.port());
      auto session = std::make_shared<Session>(std::move(socket), server_);
      const ClientId id = server_.client_connected(std::make_unique<SessionConnection>(session),
                                                   std::move(peer), Clock::now());
      session->start(id);
    }
    if (!ec) return accept();
    // A failed accept (out of descriptors) must not end the listening, nor
    // spin on the error: try again a little later.
    retry_.expires_after(std::chrono::milliseconds(100));
    retry_.async_wait([this](asio::error_code e) {
      if (!e) accept();
    });
  });
}

}  // namespace tarvion::bridge
