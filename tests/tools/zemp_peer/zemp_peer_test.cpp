// The ZEMP server simulator (tools/zemp-peer) as its users drive it: started
// as a process, commands on its standard input, its log on standard output,
// a real TCP client on loopback.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

extern char** environ;

namespace {

// Generous: these are real processes and sockets on a shared machine.
constexpr int kWaitMs = 10000;

class PeerProcess {
 public:
  explicit PeerProcess(std::vector<std::string> args) {
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    args.insert(args.begin(), ZEMP_PEER_PATH);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, ZEMP_PEER_PATH, &actions, nullptr, argv.data(), environ) != 0) {
      throw std::runtime_error("cannot start zemp-peer");
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
  }

  ~PeerProcess() {
    if (stdin_ >= 0) ::close(stdin_);
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(stdout_);
  }

  void command(const std::string& line) {
    const std::string text = line + "\n";
    ASSERT_EQ(::write(stdin_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  // The next log line (from where the last wait stopped) that matches; empty on time-out.
  std::string wait_for(const std::string& pattern) {
    const std::regex re(pattern);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    for (;;) {
      while (next_ < lines_.size()) {
        const std::string& line = lines_[next_++];
        if (std::regex_search(line, re)) return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !read_some(static_cast<int>(left.count()))) return "";
    }
  }

  // The port from "listening on 127.0.0.1:PORT" or "refusing connections on ...".
  uint16_t port() {
    const std::string line = wait_for("(listening|refusing connections) on 127\\.0\\.0\\.1:");
    return static_cast<uint16_t>(std::stoi(line.substr(line.rfind(':') + 1)));
  }

  // Exit status after the process ended (-1 when it did not within the wait).
  int wait_exit() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        while (read_some(100)) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      read_some(50);
    }
    return -1;
  }

  pid_t pid() const { return pid_; }
  const std::vector<std::string>& lines() const { return lines_; }

 private:
  bool read_some(int timeout_ms) {
    pollfd fd{stdout_, POLLIN, 0};
    if (::poll(&fd, 1, timeout_ms) <= 0) return false;
    char buffer[4096];
    ssize_t got = ::read(stdout_, buffer, sizeof buffer);
    if (got <= 0) return false;
    partial_.append(buffer, static_cast<size_t>(got));
    for (size_t end; (end = partial_.find('\n')) != std::string::npos;) {
      lines_.push_back(partial_.substr(0, end));
      partial_.erase(0, end + 1);
    }
    return true;
  }

  pid_t pid_ = -1;
  int stdin_ = -1, stdout_ = -1;
  bool exited_ = false;
  std::string partial_;
  std::vector<std::string> lines_;
  size_t next_ = 0;
};

// A plain blocking TCP client on loopback with a receive time-out.
class Client {
 public:
  int connect_to(uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval wait{kWaitMs / 1000, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return 0;
    return errno;
  }
  ~Client() {
    if (fd_ >= 0) ::close(fd_);
  }
  void send(const std::string& text) {
    ASSERT_EQ(::send(fd_, text.data(), text.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(text.size()));
  }
  // Reads until `count` bytes have come (or the connection ended).
  std::string receive(size_t count) {
    std::string text;
    char buffer[1024];
    while (text.size() < count) {
      ssize_t got = ::recv(fd_, buffer, std::min(sizeof buffer, count - text.size()), 0);
      if (got <= 0) break;
      text.append(buffer, static_cast<size_t>(got));
    }
    return text;
  }
  // 0 for an orderly end, the errno of a reset, -1 when data came instead.
  int how_it_ends() {
    char byte;
    ssize_t got = ::recv(fd_, &byte, 1, 0);
    if (got == 0) return 0;
    return got < 0 ? errno : -1;
  }
  void close() {
    ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

const std::string kRegistration =
    "Arn.Resp:256=11800:254=10800:311=1200:258=100:257=11800:255=10800:259=100:\r\n";

TEST(ZempPeer, HelpDescribesTheOptionsAndCommands) {
  PeerProcess peer({"--help"});
  EXPECT_EQ(peer.wait_exit(), 0);
  std::string all;
  for (const std::string& line : peer.lines()) all += line + "\n";
  for (const char* word : {"--port", "--keepalive", "--send", "--refuse", "--drop-after",
                           "--reset-after", "refuse on|off", "keepalive", "quit"}) {
    EXPECT_NE(all.find(word), std::string::npos) << word;
  }
}

TEST(ZempPeer, ABadOptionEndsWithAnError) {
  PeerProcess peer({"--port", "70000"});
  EXPECT_EQ(peer.wait_exit(), 2);
}

TEST(ZempPeer, LogsEveryLineWithATimestampAndKeepsTheValues) {
  PeerProcess peer({"--port", "0"});
  Client client;
  ASSERT_EQ(client.connect_to(peer.port()), 0);
  client.send(kRegistration);
  client.send("Arn.Resp:256=12150:\r\nHello\r\n");
  EXPECT_NE(
      peer.wait_for(
          R"(^\[ *\d+\.\d{3}\] client 1 recv "Arn\.Resp:256=11800:254=10800:311=1200:258=100:257=11800:255=10800:259=100:\\r\\n"$)"),
      "");
  EXPECT_NE(peer.wait_for(R"(^\[ *\d+\.\d{3}\] client 1 recv "Arn\.Resp:256=12150:\\r\\n"$)"), "");
  EXPECT_NE(peer.wait_for(R"(client 1 recv "Hello\\r\\n"$)"), "");
  peer.command("values");
  EXPECT_NE(
      peer.wait_for("values 254=10800 255=10800 256=12150 257=11800 258=100 259=100 311=1200$"),
      "");
  // The README and the demo send users to "help".
  peer.command("help");
  EXPECT_NE(peer.wait_for(R"(^  refuse on\|off +refuse new connections)"), "");
}

TEST(ZempPeer, CommandsReachTheClientByteForByte) {
  PeerProcess peer({"--port", "0"});
  Client client;
  ASSERT_EQ(client.connect_to(peer.port()), 0);
  ASSERT_NE(peer.wait_for("client 1 connected"), "");
  peer.command("send 256=12345 311=7700");
  EXPECT_EQ(client.receive(sizeof "Arn.Resp:256=12345:311=7700:\r\n" - 1),
            "Arn.Resp:256=12345:311=7700:\r\n");
  peer.command("keepalive");
  EXPECT_EQ(client.receive(sizeof "Arn.Vivo:\r\n" - 1), "Arn.Vivo:\r\n");
  peer.command(R"(raw Arn.Resp:1=x\r\n\x01)");
  EXPECT_EQ(client.receive(sizeof "Arn.Resp:1=x\r\n\x01" - 1), "Arn.Resp:1=x\r\n\x01");
}

TEST(ZempPeer, SendsItsValuesAfterTheRegistration) {
  PeerProcess peer({"--port", "0", "--send", "256=12000:257=13000"});
  Client client;
  ASSERT_EQ(client.connect_to(peer.port()), 0);
  client.send(kRegistration);
  EXPECT_EQ(client.receive(sizeof "Arn.Resp:256=12000:257=13000:\r\n" - 1),
            "Arn.Resp:256=12000:257=13000:\r\n");
}

TEST(ZempPeer, SendsKeepAlivesEveryNSeconds) {
  PeerProcess peer({"--port", "0", "--keepalive", "1"});
  Client client;
  ASSERT_EQ(client.connect_to(peer.port()), 0);
  EXPECT_EQ(client.receive(sizeof "Arn.Vivo:\r\nArn.Vivo:\r\n" - 1), "Arn.Vivo:\r\nArn.Vivo:\r\n");
}

TEST(ZempPeer, RefusesConnectionsOnDemand) {
  PeerProcess peer({"--port", "0", "--refuse"});
  const uint16_t port = peer.port();
  Client refused;
  EXPECT_EQ(refused.connect_to(port), ECONNREFUSED);
  peer.command("refuse off");
  ASSERT_NE(peer.wait_for("listening on"), "");
  Client accepted;
  EXPECT_EQ(accepted.connect_to(port), 0);
  peer.command("refuse on");
  ASSERT_NE(peer.wait_for("refusing connections on"), "");
  Client refused_again;
  EXPECT_EQ(refused_again.connect_to(port), ECONNREFUSED);
  peer.command("status");
  EXPECT_NE(peer.wait_for("status: 1 client\\(s\\), refusing"), "");
}

struct EndCase {
  const char* name;
  std::vector<std::string> options;
  const char* command;  // nullptr: the option ends it after the registration
  int ending;           // what the client sees
};

void PrintTo(const EndCase& c, std::ostream* os) {
  *os << c.name;
}

class ConnectionEnds : public ::testing::TestWithParam<EndCase> {};

TEST_P(ConnectionEnds, AsAskedFor) {
  std::vector<std::string> args{"--port", "0"};
  args.insert(args.end(), GetParam().options.begin(), GetParam().options.end());
  PeerProcess peer(args);
  Client client;
  ASSERT_EQ(client.connect_to(peer.port()), 0);
  client.send(kRegistration);
  ASSERT_NE(peer.wait_for("client 1 recv"), "");
  if (GetParam().command) peer.command(GetParam().command);
  EXPECT_EQ(client.how_it_ends(), GetParam().ending);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, ConnectionEnds,
    ::testing::Values(EndCase{"drop", {}, "drop", 0}, EndCase{"reset", {}, "reset", ECONNRESET},
                      EndCase{"drop_after", {"--drop-after", "1"}, nullptr, 0},
                      EndCase{"reset_after", {"--reset-after", "1"}, nullptr, ECONNRESET}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ZempPeer, LogsTheGoodbyeThatHasNoLineEnd) {
  PeerProcess peer({"--port", "0"});
  Client client;
  ASSERT_EQ(client.connect_to(peer.port()), 0);
  client.send("Arn.Fin:");
  client.close();
  EXPECT_NE(peer.wait_for(R"(client 1 recv "Arn\.Fin:" \(no line end\)$)"), "");
  EXPECT_NE(peer.wait_for("client 1 closed by client$"), "");
}

TEST(ZempPeer, EndsOnQuitAndOnSigterm) {
  PeerProcess by_command({"--port", "0"});
  by_command.port();
  by_command.command("quit");
  EXPECT_EQ(by_command.wait_exit(), 0);

  PeerProcess by_signal({"--port", "0"});
  by_signal.port();
  ::kill(by_signal.pid(), SIGTERM);
  EXPECT_EQ(by_signal.wait_exit(), 0);
  EXPECT_NE(by_signal.lines().back().find("stopped"), std::string::npos);
}

}  // namespace
