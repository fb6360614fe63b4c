// The real `tarvion --console` attacked from outside: a panel host that stops
// reading, a ZEMP peer that floods, misbehaves or goes away, signals at bad
// moments. Each fault ends with the program alive and linked again, or closed
// cleanly: exit 0, goodbye sent, every panel dark.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "loopback_server.h"
#include "tarvion_run.h"

namespace tarvion::e2e {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

// A raw listener on 127.0.0.1 whose accepted sockets take few bytes at a
// time (a small receive window makes a peer that stops reading felt soon).
struct RawListener {
  int fd = -1;
  int port = 0;
  explicit RawListener(int receive_buffer = 0, int backlog = 8) {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receive_buffer > 0)
      ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(fd, backlog);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
  }
  ~RawListener() { ::close(fd); }
  int accept(milliseconds bound) const {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(bound.count())) <= 0) return -1;
    return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
  }
};

bool send_all(int fd, const std::string& text) {
  std::size_t sent = 0;
  while (sent < text.size()) {
    ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

// The send queue of the loopback TCP socket bound to local_port, from /proc/net/tcp.
std::size_t send_queue(int local_port) {
  std::ifstream table("/proc/net/tcp");
  std::string line;
  char wanted[16];
  std::snprintf(wanted, sizeof wanted, ":%04X", local_port);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues;
    fields >> slot >> local >> remote >> state >> queues;
    if (local.ends_with(wanted)) return std::stoul(queues.substr(0, queues.find(':')), nullptr, 16);
  }
  return 0;
}

// ADD lines: output_length bytes per output report.
std::string add_line(const std::string& id, int kind, const std::string& key, int output_length) {
  char line[160];
  std::snprintf(line, sizeof line, "ADD %s 0000 %04x %d %d %s PANEL\n", id.c_str(), kind,
                kind == 12 ? 6 : 3, output_length, key.c_str());
  return line;
}

// A panel host played by the test: adds panels with long output reports and
// streams knob turns to the first, reading what comes back or not.
struct FakePanelHost {
  RawListener listener;
  int fd = -1;
  std::atomic<bool> stop{false};
  std::thread streamer, reader;
  std::mutex mutex;
  std::map<std::string, std::string> last_output;  // panel -> hex of its last report
  std::string partial;

  explicit FakePanelHost(int receive_buffer) : listener(receive_buffer) {}
  ~FakePanelHost() {
    stop = true;
    if (streamer.joinable()) streamer.join();
    if (reader.joinable()) reader.join();
    if (fd >= 0) ::close(fd);
  }
  // adds: the host's ADD lines; the panel "com1" gets the knob turns.
  bool start(milliseconds bound, const std::string& adds, bool read) {
    fd = listener.accept(bound);
    if (fd < 0) return false;
    if (!send_all(fd, adds)) return false;
    streamer = std::thread([this] {
      // The test button, held and let go: every report recomposes the display.
      for (unsigned n = 0; !stop; ++n) {
        std::string line = std::string("INPUT com1 00") + (n % 2 ? "fb" : "ff") + "ff\n";
        if (!send_all(fd, line)) return;
        std::this_thread::sleep_for(milliseconds(5));
      }
    });
    if (read) {
      reader = std::thread([this] {
        char buffer[65536];
        while (!stop) {
          pollfd p{fd, POLLIN, 0};
          if (::poll(&p, 1, 50) <= 0) continue;
          ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
          if (n <= 0) return;
          take(std::string_view(buffer, static_cast<std::size_t>(n)));
        }
      });
    }
    return true;
  }
  void take(std::string_view bytes) {
    std::lock_guard lock(mutex);
    partial.append(bytes);
    std::size_t end;
    while ((end = partial.find('\n')) != std::string::npos) {
      std::string line = partial.substr(0, end);
      partial.erase(0, end + 1);
      if (!line.starts_with("OUTPUT ")) continue;
      std::size_t space = line.find(' ', 7);
      last_output[line.substr(7, space - 7)] = line.substr(space + 1);
    }
  }
  // Waits until the program's unsent output to this host (its socket's send
  // queue, as the kernel shows it) has stopped growing: the socket is full.
  bool wait_stalled(milliseconds bound) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length);
    auto deadline = Clock::now() + bound;
    std::size_t seen = 0;
    auto since = Clock::now();
    while (Clock::now() < deadline) {
      std::this_thread::sleep_for(milliseconds(100));
      std::size_t now = send_queue(ntohs(peer.sin_port));
      if (now != seen) {
        seen = now;
        since = Clock::now();
      } else if (seen > 0 && Clock::now() - since > milliseconds(1000)) {
        return true;
      }
    }
    return false;
  }
};

// `tarvion --console` in its own folders, its panels from the host at panel_port.
struct PanelRun {
  TempFolder folder, runtime;
  std::unique_ptr<ChildProcess> process;
  PanelRun(const std::string& ini, int panel_port) {
    if (!ini.empty()) folder.write("Tarvion.ini", ini);
    process = std::make_unique<ChildProcess>(
        std::vector<std::string>{TARVION_BIN, "--console"}, folder.path(),
        std::map<std::string, std::string>{
            {"XDG_RUNTIME_DIR", runtime.path()},
            {"DISPLAY", ""},
            {"WAYLAND_DISPLAY", ""},
            {"TARVION_VIRTUAL_PANELS", "127.0.0.1:" + std::to_string(panel_port)}});
  }
};

// The seven registration pairs of a "Arn.Resp:" line.
int pair_count(const std::string& line) {
  if (!line.starts_with("Arn.Resp:")) return 0;
  int pairs = 0;
  for (char c : line) pairs += c == '=';
  return pairs;
}

// Waits for a "Arn.Vivo:" answer among what the program sends.
bool answers_keep_alive(Connection& link, milliseconds bound) {
  link.send("Arn.Vivo:\r\n");
  auto deadline = Clock::now() + bound;
  while (Clock::now() < deadline) {
    auto line = link.read_line(milliseconds(100));
    if (line && *line == "Arn.Vivo:") return true;
  }
  return false;
}

TEST(TarvionFaults, PanelHostThatStopsReadingFreezesNothing) {
  FakePanelHost host(4096);
  LoopbackServer server;
  PanelRun run(zemp_ini(server.port(), "FIRST_DEVICE_COM1=YES\n"), host.listener.port);
  // Eight COM panels sharing one number share the input: long reports from all
  // of them every tick fill the program's socket within seconds.
  std::string adds;
  for (int i = 1; i <= 8; ++i) adds += add_line("com" + std::to_string(i), 13, "0013", 1024);
  ASSERT_TRUE(host.start(seconds(10), adds, false));
  auto link = server.accept(seconds(10));
  ASSERT_TRUE(link);
  ASSERT_TRUE(host.wait_stalled(seconds(30))) << "the program's panel output never piled up";
  // The main thread still runs: keep-alives are answered, a signal closes.
  EXPECT_TRUE(answers_keep_alive(*link, seconds(3)));
  run.process->signal(SIGTERM);
  EXPECT_EQ(run.process->wait_exit(seconds(5)), 0);
}

// One ZEMP peer fault, then the program must link again and register.
struct PeerFault {
  const char* name;
  std::function<void(Connection&)> act;
};

TEST(TarvionFaults, EveryZempPeerFaultEndsInAReconnectWithAllSevenValues) {
  const PeerFault faults[] = {
      {"close right after accept", [](Connection&) {}},
      {"reset in the middle of a line",
       [](Connection& link) {
         link.send("Arn.Resp:256=12");
         link.reset();
       }},
      {"one byte every 100 ms",
       [](Connection& link) {
         for (char c : std::string("Arn.Vivo:\r\n")) {
           link.send(std::string(1, c));
           std::this_thread::sleep_for(milliseconds(100));
         }
         bool answered = false;
         for (int i = 0; i < 20 && !answered; ++i) {
           auto line = link.read_line(milliseconds(250));
           answered = line && *line == "Arn.Vivo:";
         }
         EXPECT_TRUE(answered) << "slow keep-alive not answered";
       }},
      {"10 MB without a line end",
       [](Connection& link) {
         const std::string block(1 << 20, 'x');
         for (int i = 0; i < 10; ++i) link.send(block);
         link.send("\r\n");
         EXPECT_TRUE(answers_keep_alive(link, seconds(10))) << "no answer after the flood";
       }},
  };
  LoopbackServer server;
  TarvionRun run(zemp_ini(server.port()));
  auto link = server.accept(seconds(10));
  ASSERT_TRUE(link);
  for (const PeerFault& fault : faults) {
    SCOPED_TRACE(fault.name);
    fault.act(*link);
    link.reset();  // whatever is left of the connection ends here
    link = server.accept(seconds(15));
    ASSERT_TRUE(link) << "no reconnection";
    auto registration = link->read_line(seconds(5));
    ASSERT_TRUE(registration);
    EXPECT_EQ(pair_count(*registration), 7) << *registration;
  }
  run.process->signal(SIGTERM);
  EXPECT_EQ(run.process->wait_exit(seconds(5)), 0);
}

TEST(TarvionFaults, PeerThatFloodsAndNeverReadsIsDroppedAndLinkedAgain) {
  RawListener listener(4096);
  TarvionRun run(zemp_ini(listener.port));
  int peer = listener.accept(seconds(10));
  ASSERT_GE(peer, 0);
  // Keep-alives as fast as they go, nothing read: the answers pile up.
  std::string block;
  while (block.size() < (64 << 10)) block += "Arn.Vivo:\r\n";
  std::atomic<bool> stop{false};
  std::atomic<std::size_t> flooded{0};
  std::thread flood([&] {
    while (!stop) {
      pollfd p{peer, POLLOUT, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      ssize_t n = ::send(peer, block.data(), block.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && errno != EAGAIN) return;  // the program dropped us
      if (n > 0) flooded += static_cast<std::size_t>(n);
    }
  });
  bool dropped = run.process->wait_out_line("Label9: Disconnected", seconds(60));
  stop = true;
  flood.join();
  ::close(peer);
  ASSERT_TRUE(dropped) << "a peer that reads nothing was never dropped; " << flooded
                       << " bytes of keep-alives sent";
  int again = listener.accept(seconds(15));
  ASSERT_GE(again, 0) << "no reconnection";
  Connection link(again);
  auto registration = link.read_line(seconds(5));
  ASSERT_TRUE(registration);
  EXPECT_EQ(pair_count(*registration), 7) << *registration;
  run.process->signal(SIGTERM);
  EXPECT_EQ(run.process->wait_exit(seconds(5)), 0);
}

TEST(TarvionFaults, ShutdownUnderLoadIsQuickCleanAndDarkWhateverTheSignals) {
  FakePanelHost host(0);
  LoopbackServer server;
  PanelRun run(zemp_ini(server.port(), "FIRST_DEVICE_COM1=YES\n"), host.listener.port);
  ASSERT_TRUE(host.start(seconds(10),
                         add_line("com1", 13, "0013", 9) + add_line("rmp1", 17, "0017", 9) +
                             add_line("sw1", 12, "0012", 9),
                         true));
  auto link = server.accept(seconds(10));
  ASSERT_TRUE(link);
  ASSERT_TRUE(run.process->wait_out_line("Label9: Online", seconds(10)));
  // The RMP lights its lamps at its first report; the COM panel streams.
  send_all(host.fd, "INPUT rmp1 00ffff\n");
  std::atomic<bool> flooding{true};
  std::thread flood([&] {
    while (flooding) {
      link->send(
          "Arn.Vivo:\r\nArn.Resp:256=12000:\r\n");  // only the socket, not the reader's state
      std::this_thread::sleep_for(milliseconds(1));
    }
  });
  std::this_thread::sleep_for(milliseconds(500));
  {
    std::lock_guard lock(host.mutex);
    EXPECT_TRUE(host.last_output.count("rmp1") && host.last_output.count("com1"));
  }
  // Signals keep coming while the program closes.
  auto start = Clock::now();
  std::thread signals([&] {
    for (int i = 0; i < 20 && run.process->running(); ++i) {
      run.process->signal(i % 2 ? SIGINT : SIGTERM);
      std::this_thread::sleep_for(milliseconds(10));
    }
  });
  auto rest = link->read_to_end(seconds(5));
  auto exit_code = run.process->wait_exit(seconds(5));
  auto took = Clock::now() - start;
  signals.join();
  flooding = false;
  flood.join();
  EXPECT_EQ(exit_code, 0);
  EXPECT_LT(took, seconds(1)) << "the close took "
                              << std::chrono::duration_cast<milliseconds>(took).count() << " ms";
  ASSERT_TRUE(rest);
  EXPECT_TRUE(rest->ends_with("Arn.Fin:"))
      << rest->substr(rest->size() > 40 ? rest->size() - 40 : 0);
  host.stop = true;
  if (host.reader.joinable()) host.reader.join();
  // Displays blank at brightness 1, the RMP's lamps and the switch panel's lights off.
  EXPECT_EQ(host.last_output["com1"], "00aaaaaaaaaaaa0001");
  EXPECT_EQ(host.last_output["rmp1"], "0000aaaaaaaaaa8001");
  EXPECT_EQ(host.last_output["sw1"], "00010a0a0000000000");
}

TEST(TarvionFaults, SignalWhileThePanelHostConnectionIsBeingMadeEndsCleanly) {
  // A host whose accept queue is full: the program's connect hangs.
  RawListener host(0, 0);
  int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(host.port));
  ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  PanelRun run("", host.port);
  std::this_thread::sleep_for(milliseconds(1500));  // well into the connect
  ASSERT_TRUE(run.process->running());
  run.process->signal(SIGTERM);
  run.process->signal(SIGINT);
  EXPECT_EQ(run.process->wait_exit(seconds(3)), 0);
  ::close(filler);
}

}  // namespace
}  // namespace tarvion::e2e
