// The Qt client socket against a real TCP server on 127.0.0.1: events come
// from the event loop, errors carry the logic's codes, and every end of a
// connection is reported exactly once.
#include "platform/linux/qt_client_socket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <QTcpServer>
#include <QTcpSocket>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "qt_test_app.h"
#include "support/socket_error_name.h"

namespace tarvion {
namespace {

using test::process_for;
using test::process_until;
using test::qt_app;

// Records the socket's events as words: "connect", "disconnect", "read",
// "error refused attempt", "error reset ended".
struct Recorder {
  std::vector<std::string> events;
  std::string received;

  void attach(QtClientSocket& socket) {
    socket.set_events(ClientSocketEvents{
        [this] { events.push_back("connect"); },
        [this] { events.push_back("disconnect"); },
        [this, &socket] {
          events.push_back("read");
          received += socket.receive_text();
        },
        [this](SocketError error, bool ended) {
          events.push_back(std::string("error ") + test::socket_error_name(error) +
                           (ended ? " ended" : " attempt"));
        },
    });
  }
  int count(const std::string& event) const {
    return static_cast<int>(std::count(events.begin(), events.end(), event));
  }
  int ends() const {
    int n = 0;
    for (const auto& e : events) n += (e == "disconnect" || e.ends_with(" ended"));
    return n;
  }
};

// A loopback server holding the one connection the client makes.
struct Server {
  QTcpServer listener;
  QTcpSocket* peer = nullptr;
  std::string received;

  Server() {
    qt_app();
    EXPECT_TRUE(listener.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&listener, &QTcpServer::newConnection, &listener, [this] {
      peer = listener.nextPendingConnection();
      QObject::connect(peer, &QTcpSocket::readyRead, peer, [this] {
        QByteArray bytes = peer->readAll();
        received.append(bytes.constData(), static_cast<size_t>(bytes.size()));
      });
    });
  }
  int port() const { return listener.serverPort(); }
};

struct Connected {
  Server server;
  QtClientSocket socket;
  Recorder recorder;
  Connected() {
    recorder.attach(socket);
    socket.set_host("127.0.0.1");
    socket.set_port(server.port());
    socket.open();
    EXPECT_TRUE(process_until([&] { return recorder.count("connect") == 1 && server.peer; }));
  }
};

int closed_port() {
  QTcpServer probe;
  EXPECT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
  int port = probe.serverPort();
  probe.close();
  return port;
}

TEST(QtClientSocket, ConnectsAndCarriesTextBothWays) {
  Connected c;
  EXPECT_TRUE(c.socket.is_active());
  c.socket.send_text("Arn.Resp:256=11800:\r\n");
  ASSERT_TRUE(process_until([&] { return c.server.received == "Arn.Resp:256=11800:\r\n"; }));
  c.server.peer->write("Arn.Vivo:\r\n");
  ASSERT_TRUE(process_until([&] { return c.recorder.received == "Arn.Vivo:\r\n"; }));
  EXPECT_EQ(c.recorder.ends(), 0);
}

TEST(QtClientSocket, RefusedAttemptIsReportedFromTheLoopNotFromOpen) {
  qt_app();
  QtClientSocket socket;
  Recorder recorder;
  recorder.attach(socket);
  socket.set_host("127.0.0.1");
  socket.set_port(closed_port());
  socket.open();
  // A loopback refusal is known at once; the logic must still not hear of it
  // while it is inside open() (it sets connect_pending right after).
  EXPECT_TRUE(recorder.events.empty());
  ASSERT_TRUE(process_until([&] { return !recorder.events.empty(); }));
  process_for(50);
  EXPECT_EQ(recorder.events, std::vector<std::string>{"error refused attempt"});
  EXPECT_FALSE(socket.is_active());
}

TEST(QtClientSocket, AttemptThatCannotStartIsAnErrorNotAConnection) {
  struct Case {
    const char* host;
    int32_t port;
  };
  for (Case bad : {Case{"127.0.0.1", -1}, Case{"127.0.0.1", 70000}, Case{"", 8092}}) {
    SCOPED_TRACE(std::string(bad.host) + ":" + std::to_string(bad.port));
    qt_app();
    QtClientSocket socket;
    Recorder recorder;
    recorder.attach(socket);
    socket.set_host(bad.host);
    socket.set_port(bad.port);
    socket.open();
    EXPECT_TRUE(recorder.events.empty());
    ASSERT_TRUE(process_until([&] { return !recorder.events.empty(); }));
    ASSERT_EQ(recorder.events.size(), 1u);
    EXPECT_TRUE(recorder.events[0].starts_with("error ")) << recorder.events[0];
    EXPECT_TRUE(recorder.events[0].ends_with(" attempt")) << recorder.events[0];
  }
}

TEST(QtClientSocket, EveryEndOfAConnectionIsReportedExactlyOnce) {
  enum class End { peer_closes, peer_resets, client_send_after_reset };
  for (End end : {End::peer_closes, End::peer_resets, End::client_send_after_reset}) {
    SCOPED_TRACE(static_cast<int>(end));
    Connected c;
    if (end == End::peer_closes) {
      c.server.peer->disconnectFromHost();
    } else {
      // SO_LINGER 0 makes the close a reset.
      linger hard{1, 0};
      ::setsockopt(static_cast<int>(c.server.peer->socketDescriptor()), SOL_SOCKET, SO_LINGER,
                   &hard, sizeof hard);
      c.server.peer->abort();
      if (end == End::client_send_after_reset) c.socket.send_text("Arn.Resp:256=11805:\r\n");
    }
    ASSERT_TRUE(process_until([&] { return c.recorder.ends() >= 1; }));
    process_for(100);
    EXPECT_EQ(c.recorder.ends(), 1);
    EXPECT_FALSE(c.socket.is_active());
    if (end == End::peer_closes) {
      EXPECT_EQ(c.recorder.events.back(), "disconnect");
    }
  }
}

TEST(QtClientSocket, CloseByTheLogicDeliversWhatWasSentAndReportsNothing) {
  Connected c;
  c.server.peer->write("Arn.Vivo:\r\n");  // unread input must not turn the close into a reset
  process_for(50);
  c.socket.send_text("Arn.Fin:");
  c.socket.close();
  EXPECT_FALSE(c.socket.is_active());
  ASSERT_TRUE(
      process_until([&] { return c.server.peer->state() == QAbstractSocket::UnconnectedState; }));
  EXPECT_TRUE(c.server.received.ends_with("Arn.Fin:"));
  process_for(50);
  EXPECT_EQ(c.recorder.ends(), 0);
}

TEST(QtClientSocket, SendWhileNotConnectedIsIgnored) {
  Server server;
  QtClientSocket socket;
  Recorder recorder;
  recorder.attach(socket);
  socket.set_host("127.0.0.1");
  socket.set_port(server.port());
  socket.send_text("early");  // before any attempt
  socket.open();
  ASSERT_TRUE(process_until([&] { return recorder.count("connect") == 1 && server.peer; }));
  socket.send_text("late");
  ASSERT_TRUE(process_until([&] { return !server.received.empty(); }));
  EXPECT_EQ(server.received, "late");
}

TEST(QtClientSocket, ReopeningDuringAnAttemptDeliversOnlyTheLatestAttemptsEvents) {
  Server server;
  QtClientSocket socket;
  Recorder recorder;
  recorder.attach(socket);
  socket.set_host("127.0.0.1");
  socket.set_port(closed_port());
  socket.open();  // would be refused
  socket.set_port(server.port());
  socket.open();
  ASSERT_TRUE(process_until([&] { return !recorder.events.empty(); }));
  process_for(100);
  EXPECT_EQ(recorder.events, std::vector<std::string>{"connect"});
}

TEST(QtClientSocket, ReconnectsAfterThePeerWentAway) {
  Connected c;
  c.server.peer->disconnectFromHost();
  ASSERT_TRUE(process_until([&] { return c.recorder.count("disconnect") == 1; }));
  c.socket.close();  // what the link does on disconnect
  c.server.peer = nullptr;
  c.socket.open();
  ASSERT_TRUE(process_until([&] { return c.recorder.count("connect") == 2 && c.server.peer; }));
  c.socket.send_text("again");
  ASSERT_TRUE(process_until([&] { return c.server.received.ends_with("again"); }));
}

TEST(QtClientSocket, PeerThatStopsReadingIsDroppedAndCannotHoldTheClose) {
  enum class Then { keep_sending, close };
  for (Then then : {Then::keep_sending, Then::close}) {
    SCOPED_TRACE(static_cast<int>(then));
    Connected c;
    QObject::disconnect(c.server.peer, &QTcpSocket::readyRead, nullptr, nullptr);
    c.server.peer->setReadBufferSize(4096);  // Qt stops taking bytes from the kernel
    const std::string chunk(4096, 'x');
    std::size_t sent = 0;
    // Until the kernel's buffers are full and our own queue holds something.
    while (c.recorder.ends() == 0 && sent < (64u << 20)) {
      c.socket.send_text(chunk);
      sent += chunk.size();
      process_for(0);
      if (then == Then::close && c.socket.unsent_bytes() > 0) break;
    }
    if (then == Then::keep_sending) {
      ASSERT_TRUE(process_until([&] { return c.recorder.ends() == 1; }))
          << sent << " bytes queued for a peer that reads nothing";
      EXPECT_EQ(c.recorder.events.back(), "error other ended");
      EXPECT_FALSE(c.socket.is_active());
      continue;
    }
    auto start = std::chrono::steady_clock::now();
    c.socket.send_text("Arn.Fin:");
    c.socket.close();
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(600));
    process_for(50);
    EXPECT_EQ(c.recorder.ends(), 0);
  }
}

}  // namespace
}  // namespace tarvion
