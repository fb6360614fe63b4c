// The Winsock client socket against a real listener on loopback: the seam's
// contract as the ZEMP link relies on it (events only from the message loop,
// every end reported once, the goodbye delivered at close).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32/win32_client_socket.h"
#include "win32_loop.h"

namespace tarvion {
namespace {

// A blocking listener on 127.0.0.1 with one accepted connection at a time.
class Listener {
 public:
  Listener() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~Listener() {
    if (peer_ != INVALID_SOCKET) closesocket(peer_);
    closesocket(socket_);
    WSACleanup();
  }
  int port() const { return port_; }
  void listen_now() { listen(socket_, 4); }
  // Accepts once the client's connect arrived (the loop must run meanwhile).
  bool accept_peer() {
    u_long non_blocking = 1;
    ioctlsocket(socket_, FIONBIO, &non_blocking);
    bool ok = test::pump_messages_until([&] {
      peer_ = accept(socket_, nullptr, nullptr);
      return peer_ != INVALID_SOCKET;
    });
    u_long blocking = 0;
    if (ok) ioctlsocket(peer_, FIONBIO, &blocking);
    return ok;
  }
  void send_text(const std::string& text) { send(peer_, text.data(), int(text.size()), 0); }
  // Everything until the client closes (or 10 s pass).
  std::string read_to_end() {
    DWORD timeout = 10000;
    setsockopt(peer_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof timeout);
    std::string all;
    char buffer[512];
    for (int n; (n = recv(peer_, buffer, sizeof buffer, 0)) > 0;) all.append(buffer, n);
    return all;
  }
  void close_peer(bool reset) {
    if (reset) {
      linger hard{1, 0};
      setsockopt(peer_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
    }
    closesocket(peer_);
    peer_ = INVALID_SOCKET;
  }

 private:
  SOCKET socket_ = INVALID_SOCKET, peer_ = INVALID_SOCKET;
  int port_ = 0;
};

// Every event the socket reports, with a check that none comes from inside a call.
struct Recorder {
  std::vector<std::string> events;
  bool in_call = false;
  std::string received;
  ClientSocketEvents hooks(ClientSocket& socket) {
    auto note = [this](const std::string& what) {
      events.push_back(in_call ? "INSIDE A CALL: " + what : what);
    };
    return ClientSocketEvents{
        [=] { note("connect"); },
        [=] { note("disconnect"); },
        [this, note, &socket] {
          received += socket.receive_text();
          note("read");
        },
        [=](SocketError error, bool ended) {
          note("error " + std::to_string(int(error)) + (ended ? " ended" : " attempt"));
        },
    };
  }
  template <typename F>
  void call(F f) {
    in_call = true;
    f();
    in_call = false;
  }
};

TEST(Win32ClientSocket, EachWayAConnectionEndsIsReportedOnceFromTheLoop) {
  struct Case {
    const char* name;
    const char* host;
    bool reset;
    std::vector<std::string> ends;  // the one end event, as Windows or Wine reports it
  };
  const std::string reset_error = "error " + std::to_string(int(SocketError::reset)) + " ended";
  // Windows reports a reset as an error; Wine reports it as an orderly close.
  for (const Case& c : {Case{"orderly close", "127.0.0.1", false, {"disconnect"}},
                        Case{"reset", "127.0.0.1", true, {reset_error, "disconnect"}},
                        Case{"name looked up", "localhost", false, {"disconnect"}}}) {
    SCOPED_TRACE(c.name);
    Listener server;
    server.listen_now();
    Win32ClientSocket socket;
    Recorder r;
    socket.set_events(r.hooks(socket));
    socket.set_host(c.host);
    socket.set_port(server.port());
    r.call([&] { socket.open(); });
    ASSERT_TRUE(server.accept_peer());
    ASSERT_TRUE(test::pump_messages_until([&] { return socket.is_active(); }));
    r.call([&] { socket.send_text("Arn.Resp:256=11800:\r\n"); });
    server.send_text("Arn.Vivo:\r\n");
    ASSERT_TRUE(test::pump_messages_until([&] { return r.received == "Arn.Vivo:\r\n"; }));
    server.close_peer(c.reset);
    ASSERT_TRUE(test::pump_messages_until([&] { return !socket.is_active(); }));
    // Nothing more comes after the end.
    test::pump_messages_until([] { return false; }, std::chrono::milliseconds(300));
    ASSERT_EQ(r.events.size(), 3u);
    EXPECT_EQ(r.events[0], "connect");
    EXPECT_EQ(r.events[1], "read");
    EXPECT_NE(std::find(c.ends.begin(), c.ends.end(), r.events[2]), c.ends.end()) << r.events[2];
  }
}

TEST(Win32ClientSocket, RefusedAttemptIsAnErrorOfTheAttemptAndCanBeRetried) {
  Listener server;  // bound, not yet listening: connections are refused
  Win32ClientSocket socket;
  Recorder r;
  socket.set_events(r.hooks(socket));
  socket.set_host("127.0.0.1");
  socket.set_port(server.port());
  r.call([&] { socket.open(); });
  ASSERT_TRUE(test::pump_messages_until([&] { return !r.events.empty(); }));
  EXPECT_EQ(r.events, std::vector<std::string>{
                          "error " + std::to_string(int(SocketError::refused)) + " attempt"});
  EXPECT_FALSE(socket.is_active());
  server.listen_now();
  r.call([&] { socket.open(); });
  ASSERT_TRUE(server.accept_peer());
  EXPECT_TRUE(test::pump_messages_until([&] { return socket.is_active(); }));
  // A port no TCP socket can have fails the same way, later.
  socket.set_port(70000);
  r.call([&] { socket.open(); });
  EXPECT_FALSE(socket.is_active());
  ASSERT_TRUE(test::pump_messages_until([&] { return r.events.size() == 3; }));
  EXPECT_EQ(r.events.back(), "error " + std::to_string(int(SocketError::other)) + " attempt");
}

TEST(Win32ClientSocket, CloseDeliversTheGoodbyeAndReportsNothing) {
  Listener server;
  server.listen_now();
  Win32ClientSocket socket;
  Recorder r;
  socket.set_events(r.hooks(socket));
  socket.set_host("127.0.0.1");
  socket.set_port(server.port());
  socket.open();
  ASSERT_TRUE(server.accept_peer());
  ASSERT_TRUE(test::pump_messages_until([&] { return socket.is_active(); }));
  // Unread input at close must not turn the close into a reset.
  server.send_text("Arn.Vivo:\r\n");
  Sleep(100);  // the peer's bytes reach our side; no logic waits on this
  r.call([&] {
    socket.send_text(std::string(100000, 'x'));
    socket.send_text("Arn.Fin:");
    socket.close();
  });
  std::string rest = server.read_to_end();
  EXPECT_EQ(rest.size(), 100008u);
  EXPECT_TRUE(rest.ends_with("Arn.Fin:"));
  test::pump_messages_until([] { return false; }, std::chrono::milliseconds(300));
  EXPECT_EQ(r.events, std::vector<std::string>{"connect"});
}

TEST(Win32ClientSocket, PeerThatStopsReadingIsDroppedAndCannotHoldTheClose) {
  for (bool keep_sending : {true, false}) {
    SCOPED_TRACE(keep_sending ? "keep sending" : "close");
    Listener server;  // accepts, then reads nothing
    server.listen_now();
    Win32ClientSocket socket;
    Recorder r;
    socket.set_events(r.hooks(socket));
    socket.set_host("127.0.0.1");
    socket.set_port(server.port());
    socket.open();
    ASSERT_TRUE(server.accept_peer());
    ASSERT_TRUE(test::pump_messages_until([&] { return socket.is_active(); }));
    const std::string chunk(4096, 'x');
    std::size_t sent = 0;
    // 32 MB is far beyond what the system buffers for one connection.
    while (r.events.size() == 1 && sent < (32u << 20)) {
      r.call([&] { socket.send_text(chunk); });
      sent += chunk.size();
      test::pump_messages_until([] { return true; });
      if (!keep_sending && socket.unsent_bytes() > 0) break;
    }
    if (keep_sending) {
      ASSERT_TRUE(test::pump_messages_until([&] { return r.events.size() == 2; }))
          << sent << " bytes queued for a peer that reads nothing";
      EXPECT_EQ(r.events.back(), "error " + std::to_string(int(SocketError::other)) + " ended");
      EXPECT_FALSE(socket.is_active());
      continue;
    }
    ASSERT_EQ(r.events.size(), 1u);
    DWORD start = GetTickCount();
    r.call([&] {
      socket.send_text("Arn.Fin:");
      socket.close();
    });
    EXPECT_LT(GetTickCount() - start, 600u);
  }
}

}  // namespace
}  // namespace tarvion
