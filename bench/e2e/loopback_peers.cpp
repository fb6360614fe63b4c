#include "loopback_peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace e2e_bench {

int64_t wall_ns() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

Listener::Listener() {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(fd_, 4) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    ::close(fd_);
    fd_ = -1;
    return;
  }
  port_ = ntohs(address.sin_port);
}

Listener::~Listener() {
  if (fd_ >= 0) ::close(fd_);
}

int Listener::accept_one(int timeout_ms) {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, timeout_ms) <= 0) return -1;
  int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return -1;
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  // Receive times from the kernel, so the benchmark's own delays are left out.
  ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
  return fd;
}

TimedConnection::TimedConnection(int fd) : fd_(fd) {}

TimedConnection::~TimedConnection() {
  if (fd_ >= 0) ::close(fd_);
}

bool TimedConnection::send_all(std::string_view bytes) {
  while (!bytes.empty() && open()) {
    ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      closed_ = true;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return open();
}

void TimedConnection::read_available(std::vector<TimedLine>& lines) {
  char buffer[16384];
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec)) * 2];
  while (open()) {
    iovec io{buffer, sizeof buffer};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n = ::recvmsg(fd_, &message, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return;  // nothing more now
    if (n == 0) {
      closed_ = true;
      return;
    }
    int64_t at = -1;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
        timespec stamp{};
        std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        at = int64_t{stamp.tv_sec} * 1000000000 + stamp.tv_nsec;
      }
    }
    if (at < 0) {
      at = wall_ns();
      ++untimed_;
    }
    std::string_view bytes(buffer, static_cast<size_t>(n));
    while (!bytes.empty()) {
      size_t lf = bytes.find('\n');
      partial_.append(bytes.substr(0, lf));
      if (lf == std::string_view::npos) break;
      bytes.remove_prefix(lf + 1);
      if (!partial_.empty() && partial_.back() == '\r') partial_.pop_back();
      lines.push_back({std::move(partial_), at});
      partial_.clear();
    }
  }
}

void wait_readable(const std::vector<int>& fds, int64_t timeout_ns) {
  std::vector<pollfd> polled;
  for (int fd : fds) polled.push_back({fd, POLLIN, 0});
  timespec wait{static_cast<time_t>(timeout_ns / 1000000000),
                static_cast<long>(timeout_ns % 1000000000)};
  ::ppoll(polled.data(), polled.size(), &wait, nullptr);
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& folder,
                           const std::map<std::string, std::string>& env) {
  pid_ = ::fork();
  if (pid_ != 0) return;
  // The child: only async-signal-safe work would be strictly right here, but
  // the parent is single-threaded at this point.
  if (::chdir(folder.c_str()) != 0) ::_exit(127);
  for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
  int null = ::open("/dev/null", O_RDWR);
  ::dup2(null, STDIN_FILENO);
  ::dup2(null, STDOUT_FILENO);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  ::execv(args[0], args.data());
  ::_exit(127);
}

bool ChildProcess::running() {
  if (pid_ <= 0 || reaped_) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    reaped_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  return !reaped_;
}

int ChildProcess::stop(int timeout_ms) {
  if (!running()) return status_;
  ::kill(pid_, SIGTERM);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (running() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return reaped_ ? status_ : -1;
}

ChildProcess::~ChildProcess() {
  if (stop(5000) < 0 && pid_ > 0 && !reaped_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarvion-bench-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TempFolder::write(const std::string& name, const std::string& text) const {
  std::ofstream(path_ + "/" + name, std::ios::binary) << text;
}

}  // namespace e2e_bench
