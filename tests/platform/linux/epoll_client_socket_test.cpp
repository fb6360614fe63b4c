// The console program's TCP client against a real server on loopback: events
// come from the loop (never from inside a call), errors carry the logic's
// codes, and every end of a connection is reported exactly once.
#include "platform/linux/epoll_client_socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "epoll_test_loop.h"
#include "support/socket_error_name.h"

namespace tarvion {
namespace {

// A listening socket on 127.0.0.1 and the one connection it takes.
struct Server {
  int listener = -1;
  int peer = -1;
  int port = 0;
  Server() {
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    EXPECT_EQ(::listen(listener, 4), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
  }
  ~Server() {
    if (peer >= 0) ::close(peer);
    if (listener >= 0) ::close(listener);
  }
  bool accept() {
    if (peer < 0) peer = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK);
    return peer >= 0;
  }
  // Everything that has arrived; eof set when the client closed its side.
  std::string take(bool* eof = nullptr) {
    std::string text;
    char buffer[65536];
    ssize_t n;
    while ((n = ::recv(peer, buffer, sizeof buffer, 0)) > 0) text.append(buffer, n);
    if (eof) *eof = n == 0;
    return text;
  }
  void reset() {
    linger hard{1, 0};  // close with RST
    ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(peer);
    peer = -1;
  }
};

struct Client {
  EpollLoop loop;
  EpollClientSocket socket{loop};
  Server server;
  std::vector<std::string> events;
  std::string received;
  Client() {
    socket.set_events(ClientSocketEvents{
        [this] { events.push_back("connect"); },
        [this] { events.push_back("disconnect"); },
        [this] {
          events.push_back("read");
          received += socket.receive_text();
        },
        [this](SocketError error, bool ended) {
          events.push_back(std::string("error ") + test::socket_error_name(error) +
                           (ended ? " ended" : " attempt"));
        },
    });
  }
  void open(const std::string& host, int port) {
    socket.set_host(host);
    socket.set_port(port);
    socket.open();
    EXPECT_TRUE(events.empty());  // never from inside open()
  }
  bool until(const std::function<bool()>& done) { return test::run_until(loop, done); }
  bool connect(const std::string& host = "127.0.0.1") {
    open(host, server.port);
    return until([&] { return !events.empty() && server.accept(); }) &&
           events == std::vector<std::string>{"connect"};
  }
  int ends() const {
    return static_cast<int>(std::count_if(events.begin(), events.end(), [](const auto& e) {
      return e == "disconnect" || e.ends_with(" ended");
    }));
  }
};

TEST(EpollClientSocket, EachWayAConnectionEndsIsReportedOnceFromTheLoop) {
  struct Case {
    const char* name;
    std::function<void(Client&)> end;
    std::string expected_last;
  };
  const Case cases[] = {
      {"the peer closes in order", [](Client& c) { ::shutdown(c.server.peer, SHUT_RDWR); },
       "disconnect"},
      {"the peer resets", [](Client& c) { c.server.reset(); }, "error reset ended"},
      {"the peer stops reading",
       [](Client& c) {
         std::string block(64 * 1024, 'x');
         // Until the kernel's buffers are full, then past the limit of what may pile up.
         for (int i = 0; i < 4096 && c.socket.unsent_bytes() == 0; ++i) c.socket.send_text(block);
         for (int i = 0; i < 5; ++i) c.socket.send_text(block);
         EXPECT_EQ(c.events.back(), "read");  // never from inside send_text
       },
       "error other ended"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Client client;
    ASSERT_TRUE(client.connect());
    EXPECT_TRUE(client.socket.is_active());
    client.socket.send_text("Arn.Resp:256=11800:\r\n");
    std::string at_server;
    ASSERT_TRUE(client.until([&] {
      at_server += client.server.take();
      return at_server == "Arn.Resp:256=11800:\r\n";
    }));
    ASSERT_EQ(::send(client.server.peer, "Arn.Vivo:\r\n", 11, 0), 11);
    ASSERT_TRUE(client.until([&] { return client.received == "Arn.Vivo:\r\n"; }));
    c.end(client);
    ASSERT_TRUE(client.until([&] { return client.ends() > 0; }));
    test::run_for(client.loop, 50);
    EXPECT_EQ(client.ends(), 1);
    EXPECT_EQ(client.events.back(), c.expected_last);
    EXPECT_FALSE(client.socket.is_active());
  }
}

TEST(EpollClientSocket, FailedAttemptsCarryTheirCodes) {
  struct Case {
    std::string host;
    int port;  // -1: a port nobody listens on
    std::string expected;
  };
  const Case cases[] = {
      {"127.0.0.1", -1, "error refused attempt"},
      {"127.0.0.1", 70000, "error other attempt"},
      {"no-such-host.invalid", 4000, "error host_not_found attempt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host + ":" + std::to_string(c.port));
    Client client;
    int port = c.port;
    if (port < 0) {
      port = client.server.port;
      ::close(client.server.listener);
      client.server.listener = -1;
    }
    client.open(c.host, port);
    ASSERT_TRUE(client.until([&] { return !client.events.empty(); }));
    EXPECT_EQ(client.events, std::vector<std::string>{c.expected});
  }
}

TEST(EpollClientSocket, ANameIsLookedUpAsideAndOnlyTheLatestAttemptCounts) {
  Client client;
  client.open("localhost", client.server.port);  // replaced at once: never reported
  ASSERT_TRUE(client.connect("localhost"));      // ::1 first where it resolves so: the next address
  test::run_for(client.loop, 50);
  EXPECT_EQ(client.events, std::vector<std::string>{"connect"});
}

TEST(EpollClientSocket, CloseSendsTheGoodbyeWholeWithUnreadInputPendingAndReportsNothing) {
  Client client;
  ASSERT_TRUE(client.connect());
  ASSERT_EQ(::send(client.server.peer, "unread", 6, 0), 6);
  std::string goodbye = "Arn.Fin:\r\n" + std::string(100000, 'z');
  client.socket.send_text(goodbye);
  std::string got;
  bool eof = false;
  // The server reads on a thread of its own, as a real peer would, while close() waits.
  std::thread reader([&] {
    for (int i = 0; i < 500 && !eof; ++i) {
      got += client.server.take(&eof);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  client.socket.close();
  reader.join();
  EXPECT_TRUE(eof);
  EXPECT_EQ(got, goodbye);
  test::run_for(client.loop, 30);
  EXPECT_EQ(client.events, std::vector<std::string>{"connect"});
}

}  // namespace
}  // namespace tarvion
