// The benchmark's ends of Tarvion's two links over loopback TCP (the virtual
// panel host and the ZEMP server), with kernel receive times, and the
// Tarvion process it starts.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace e2e_bench {

// CLOCK_REALTIME in nanoseconds: the clock of SO_TIMESTAMPNS.
int64_t wall_ns();

// A listening socket on 127.0.0.1 (any free port).
class Listener {
 public:
  Listener();
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  bool ok() const { return fd_ >= 0; }
  uint16_t port() const { return port_; }
  // The accepted connection's descriptor, or -1 after timeout_ms.
  int accept_one(int timeout_ms);

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

struct TimedLine {
  std::string text;   // without its line end
  int64_t kernel_ns;  // when the kernel received the bytes that ended it
};

// A connected stream, split into lines, each with its kernel receive time.
class TimedConnection {
 public:
  explicit TimedConnection(int fd);
  ~TimedConnection();
  TimedConnection(const TimedConnection&) = delete;
  TimedConnection& operator=(const TimedConnection&) = delete;

  int fd() const { return fd_; }
  bool open() const { return fd_ >= 0 && !closed_; }
  // Sends all of it (blocking); false when the peer is gone.
  bool send_all(std::string_view bytes);
  // Reads what is there now (never blocks) and appends the complete lines.
  void read_available(std::vector<TimedLine>& lines);
  // Lines whose time had to come from the clock after the read, not the kernel.
  uint64_t untimed_reads() const { return untimed_; }

 private:
  int fd_;
  bool closed_ = false;
  std::string partial_;
  uint64_t untimed_ = 0;
};

// Waits until one of the descriptors is readable or timeout_ns passed.
void wait_readable(const std::vector<int>& fds, int64_t timeout_ns);

// A child process in its own folder with extra environment, output to /dev/null.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const std::string& folder,
               const std::map<std::string, std::string>& env);
  ~ChildProcess();  // SIGTERM, then SIGKILL after a grace period
  pid_t pid() const { return pid_; }
  bool running();
  // SIGTERM and wait up to timeout_ms; the exit status, or -1.
  int stop(int timeout_ms);

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  bool reaped_ = false;
};

// A fresh private folder under the temporary folder, removed at the end.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::string& path() const { return path_; }
  void write(const std::string& name, const std::string& text) const;

 private:
  std::string path_;
};

}  // namespace e2e_bench
