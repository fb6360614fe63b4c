// bridge_bench: a knob report through the real `tarvion --console` and the
// real `tarvion-bridge` to X-Plane's UDP interface, played by this program
// with kernel receive times; then the bridge's CPU and memory, idle and with
// eight ZEMP clients changing values. Prints the figures, asserts none.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench_session.h"
#include "proc_stats.h"

namespace e2e_bench {
namespace {

struct Options {
  bool quick = false;
  int samples = 200;
  int idle_seconds = 30;
  int clients = 8;
  int load_seconds = 10;
  int client_rate = 50;  // values lines per second per client
};

std::string ms(double ns) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f ms", ns / 1e6);
  return text;
}

sockaddr_in loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  return a;
}

uint16_t free_tcp_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = loopback(0);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  ::close(fd);
  return ntohs(a.sin_port);
}

// X-Plane's side of its UDP interface: takes RREF and DREF, answers the
// subscriptions ten times a second, as X-Plane does at the rate asked.
class FakeXPlane {
 public:
  struct Write {
    std::string name;
    float value;
    int64_t kernel_ns;
  };
  FakeXPlane() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = loopback(0);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
    port_ = ntohs(a.sin_port);
    int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
  }
  ~FakeXPlane() { ::close(fd_); }
  uint16_t port() const { return port_; }
  size_t subscriptions() const { return names_.size(); }
  std::vector<Write> writes;

  // Takes what arrived within timeout_ns and answers when an answer is due.
  void pump_ns(int64_t timeout_ns) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout_ns / 1000000)) > 0) read_all();
    if (have_peer_ && wall_ns() >= next_answer_) answer();
  }

 private:
  void read_all() {
    for (;;) {
      char data[1024], control[256];
      iovec io{data, sizeof data};
      msghdr m{};
      sockaddr_in from{};
      m.msg_name = &from;
      m.msg_namelen = sizeof from;
      m.msg_iov = &io;
      m.msg_iovlen = 1;
      m.msg_control = control;
      m.msg_controllen = sizeof control;
      const ssize_t n = ::recvmsg(fd_, &m, MSG_DONTWAIT);
      if (n <= 0) return;
      int64_t at = wall_ns();
      for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
          timespec t;
          std::memcpy(&t, CMSG_DATA(c), sizeof t);
          at = int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
        }
      }
      if (n == 413 && std::memcmp(data, "RREF", 5) == 0) {
        int32_t rate, index;
        std::memcpy(&rate, data + 5, 4);
        std::memcpy(&index, data + 9, 4);
        names_[index] = std::string(data + 13, strnlen(data + 13, 400));
        peer_ = from;
        have_peer_ = true;
      } else if (n == 509 && std::memcmp(data, "DREF", 5) == 0) {
        float value;
        std::memcpy(&value, data + 5, 4);
        Write w{std::string(data + 9, strnlen(data + 9, 500)), value, at};
        values_[w.name] = value;
        writes.push_back(std::move(w));
      }
    }
  }
  void answer() {
    next_answer_ = wall_ns() + 100000000;
    std::string out("RREF,", 5);
    for (const auto& [index, name] : names_) {
      const float value = values_.count(name) ? values_[name] : 0.0f;
      out.append(reinterpret_cast<const char*>(&index), 4);
      out.append(reinterpret_cast<const char*>(&value), 4);
    }
    ::sendto(fd_, out.data(), out.size(), 0, reinterpret_cast<sockaddr*>(&peer_), sizeof peer_);
  }

  int fd_ = -1;
  uint16_t port_ = 0;
  std::map<int32_t, std::string> names_;
  std::map<std::string, float> values_;
  sockaddr_in peer_{};
  bool have_peer_ = false;
  int64_t next_answer_ = 0;
};

struct Row {
  std::string metric, figure;
  bool ok;
  std::string load = load_average();
};

// Pumps Tarvion's panel link and the fake X-Plane until pred() or timeout_ms.
template <typename Pred>
bool pump_until(BenchSession& s, FakeXPlane& xp, Pred pred, int timeout_ms) {
  const int64_t until = wall_ns() + int64_t{timeout_ms} * 1000000;
  while (!pred() && wall_ns() < until) {
    s.pump_ns(500000);
    xp.pump_ns(0);
  }
  return pred();
}

// Pumps until X-Plane gets a write of name after the first `before` writes;
// its kernel receive time minus sent_ns, or nothing within 2 s.
std::optional<double> write_latency(BenchSession& s, FakeXPlane& xp, size_t before,
                                    const std::string& name, int64_t sent_ns) {
  std::optional<double> latency;
  const auto landed = [&] {
    for (size_t w = before; w < xp.writes.size() && !latency; ++w) {
      if (xp.writes[w].name == name)
        latency = static_cast<double>(xp.writes[w].kernel_ns - sent_ns);
    }
    return latency.has_value();
  };
  pump_until(s, xp, landed, 2000);
  return latency;
}

std::string latency_figure(const std::vector<double>& latencies, int misses) {
  return "p50 " + ms(percentile(latencies, 50)) + ", p99 " + ms(percentile(latencies, 99)) +
         ", min " + ms(percentile(latencies, 0)) + ", max " + ms(percentile(latencies, 100)) +
         " (n=" + std::to_string(latencies.size()) +
         (misses ? ", " + std::to_string(misses) + " lost" : "") + ")";
}

Row knob_to_simulator(BenchSession& s, FakeXPlane& xp, const Options& o, std::mt19937& random) {
  std::vector<double> latencies;
  int misses = 0;
  for (int i = 0; i < o.samples && s.alive(); ++i) {
    // A standby other than the active, so the transfer changes COM1.
    auto& panel = s.panels()[0];
    for (int turns = 0; turns < 3 && (turns == 0 || panel.standby_mhz == panel.active_mhz);
         ++turns) {
      bool shown = false;
      s.on_output = [&shown](size_t, bool changed, int64_t) { shown = shown || changed; };
      s.send(s.turn(0));
      pump_until(
          s, xp, [&] { return shown; }, 2000);
      s.on_output = nullptr;
    }
    const size_t before = xp.writes.size();
    s.send(s.swap(0, true));
    if (auto latency =
            write_latency(s, xp, before, "sim/cockpit/radios/com1_freq_hz", s.last_send_ns())) {
      latencies.push_back(*latency);
    } else {
      ++misses;
    }
    s.send(s.swap(0, false));
    const int pause = std::uniform_int_distribution<int>(0, 60)(random);
    pump_until(
        s, xp, [] { return false; }, pause);
  }
  return {"knob transfer report → X-Plane DREF (tarvion + bridge)",
          latency_figure(latencies, misses), !latencies.empty() && misses == 0};
}

// One raw client's values line -> the DREF: the bridge's own share of the latency.
Row line_to_simulator(uint16_t port, BenchSession& s, FakeXPlane& xp, const Options& o) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = loopback(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return {"ZEMP values line → X-Plane DREF (bridge alone)", "no connection", false};
  }
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  std::vector<double> latencies;
  int misses = 0;
  for (int i = 0; i < o.samples; ++i) {
    const std::string line = "Arn.Resp:255=" + std::to_string(10800 + i % 900) + ":\r\n";
    const size_t before = xp.writes.size();
    const int64_t sent = wall_ns();
    ::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
    if (auto latency = write_latency(s, xp, before, "sim/cockpit/radios/nav2_freq_hz", sent)) {
      latencies.push_back(*latency);
    } else {
      ++misses;
    }
  }
  ::close(fd);
  return {"ZEMP values line → X-Plane DREF (bridge alone)", latency_figure(latencies, misses),
          !latencies.empty() && misses == 0};
}

std::string usage(pid_t pid, const ProcessTimes& from, const ProcessTimes& to) {
  const ProcessMemory memory = read_process_memory(pid);
  char text[160];
  std::snprintf(text, sizeof text, "%.2f %% of a core, %.1f wake-ups/s, RSS %.1f MB",
                cpu_percent(from, to), switches_per_second(from, to), memory.rss_kib / 1024.0);
  return text;
}

Row idle(pid_t bridge, BenchSession& s, FakeXPlane& xp, const Options& o) {
  const ProcessTimes from = read_process_times(bridge);
  pump_until(
      s, xp, [] { return false; }, o.idle_seconds * 1000);
  return {"bridge idle: Tarvion connected, X-Plane answering 10/s, " +
              std::to_string(o.idle_seconds) + " s",
          usage(bridge, from, read_process_times(bridge)), true};
}

// Eight clients (a panel PC, a laptop, ...) each changing COM2 client_rate times a second.
Row clients(pid_t bridge, uint16_t port, BenchSession& s, FakeXPlane& xp, const Options& o) {
  std::vector<int> fds;
  for (int i = 0; i < o.clients; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      ::close(fd);
      continue;
    }
    fds.push_back(fd);
  }
  const size_t writes_before = xp.writes.size();
  const ProcessTimes from = read_process_times(bridge);
  const int64_t end = wall_ns() + int64_t{o.load_seconds} * 1000000000;
  const int64_t period = 1000000000 / o.client_rate;
  int64_t next = wall_ns();
  uint64_t lines = 0;
  for (int step = 0; wall_ns() < end; ++step) {
    for (size_t c = 0; c < fds.size(); ++c) {
      const std::string line =
          "Arn.Resp:257=" + std::to_string(11800 + (step * 7 + int(c) * 13) % 1800) + ":\r\n";
      if (::send(fds[c], line.data(), line.size(), MSG_NOSIGNAL) > 0) ++lines;
      char sink[4096];  // keep-alives and the simulator's changes
      while (::recv(fds[c], sink, sizeof sink, MSG_DONTWAIT) > 0) {
      }
    }
    next += period;
    while (wall_ns() < next) {
      s.pump_ns(std::min<int64_t>(next - wall_ns(), 2000000));
      xp.pump_ns(0);
    }
  }
  const std::string figure = usage(bridge, from, read_process_times(bridge));
  for (int fd : fds) ::close(fd);
  return {std::to_string(fds.size()) + " clients × " + std::to_string(o.client_rate) +
              " values lines/s, " + std::to_string(o.load_seconds) + " s",
          figure + "; " + std::to_string(lines) + " lines in, " +
              std::to_string(xp.writes.size() - writes_before) + " writes to X-Plane",
          fds.size() == size_t(o.clients)};
}

int run(const Options& o) {
  std::printf("tarvion-bridge benchmark: %s and %s against X-Plane played by this program\n",
              TARVION_BIN, TARVION_BRIDGE_BIN);
  std::printf("machine: %u CPUs, load average %s at start; run: %s\n\n", cpu_count(),
              load_average().c_str(), o.quick ? "quick" : "full");
  std::fflush(stdout);
  FakeXPlane xp;
  const uint16_t zemp_port = free_tcp_port();
  TempFolder folder;
  ChildProcess bridge({TARVION_BRIDGE_BIN, "xplane", "127.0.0.1:" + std::to_string(xp.port()),
                       "--listen", "127.0.0.1:" + std::to_string(zemp_port)},
                      folder.path(), {});
  const int64_t until = wall_ns() + 20000000000;
  while (xp.subscriptions() < 7 && wall_ns() < until) xp.pump_ns(50000000);
  if (xp.subscriptions() < 7) {
    std::printf("table incomplete: the bridge did not subscribe\n");
    return 1;
  }
  BenchSession s(TARVION_BIN, 30000);
  s.use_zemp_server(zemp_port);
  std::string error;
  if (!s.start(1, error)) {
    std::printf("table incomplete: %s\n", error.c_str());
    return 1;
  }
  // Registration and the first exchange written, X-Plane's answers flowing.
  pump_until(
      s, xp, [&] { return xp.writes.size() >= 7; }, 10000);

  std::mt19937 random(12345);
  std::vector<Row> rows;
  rows.push_back(knob_to_simulator(s, xp, o, random));
  rows.push_back(line_to_simulator(zemp_port, s, xp, o));
  rows.push_back(idle(bridge.pid(), s, xp, o));
  rows.push_back(clients(bridge.pid(), zemp_port, s, xp, o));
  std::printf("| metric | figure | load average after |\n|---|---|---|\n");
  bool complete = true;
  for (const Row& row : rows) {
    std::printf("| %s | %s%s | %s |\n", row.metric.c_str(),
                row.ok ? "" : "FAILED: ", row.figure.c_str(), row.load.c_str());
    complete = complete && row.ok;
  }
  std::printf("tarvion closed with status %d, the bridge with %d\n", s.stop(), bridge.stop(5000));
  std::printf(complete ? "table complete\n" : "table incomplete\n");
  return complete ? 0 : 1;
}

}  // namespace
}  // namespace e2e_bench

int main(int argc, char** argv) {
  e2e_bench::Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--quick") {
      o.quick = true;
      o.samples = 10;
      o.idle_seconds = 1;
      o.load_seconds = 1;
    } else {
      std::fputs(
          "usage: bridge_bench [--quick]\n"
          "Knob -> X-Plane latency through tarvion and tarvion-bridge, and the bridge's\n"
          "CPU and memory idle and with 8 clients. --quick: a few seconds, to prove it works.\n",
          stderr);
      return 2;
    }
  }
  return e2e_bench::run(o);
}
