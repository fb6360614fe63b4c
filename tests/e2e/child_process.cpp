#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace tarvion::e2e {

namespace {
using Clock = std::chrono::steady_clock;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& cwd,
                           const std::map<std::string, std::string>& env, bool stdin_pipe) {
  int out[2], err[2], in[2] = {-1, -1};
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 ||
      (stdin_pipe && ::pipe2(in, O_CLOEXEC) != 0))
    throw std::runtime_error("pipe");
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    // Nothing to read: tools that take commands on stdin see its end at once.
    int none = stdin_pipe ? in[0] : ::open("/dev/null", O_RDONLY);
    if (none >= 0) ::dup2(none, 0);
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    for (const auto& [name, value] : env) {
      if (value.empty())
        ::unsetenv(name.c_str());
      else
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  if (stdin_pipe) {
    ::close(in[0]);
    in_fd_ = in[1];
  }
  out_.fd = out[0];
  err_.fd = err[0];
}

ChildProcess::~ChildProcess() {
  if (running()) {
    ::kill(pid_, SIGKILL);
    wait_exit(Ms(5000));
  }
  ::close(out_.fd);
  ::close(err_.fd);
  if (in_fd_ >= 0) ::close(in_fd_);
}

void ChildProcess::write_in(const std::string& text) {
  if (in_fd_ < 0) throw std::logic_error("started without a stdin pipe");
  // A child that has gone must fail the test's checks, not kill it with SIGPIPE.
  ::signal(SIGPIPE, SIG_IGN);
  for (size_t at = 0; at < text.size();) {
    const ssize_t n = ::write(in_fd_, text.data() + at, text.size() - at);
    if (n <= 0) return;
    at += static_cast<size_t>(n);
  }
}

std::optional<std::string> ChildProcess::next_line(Stream& stream, std::vector<std::string>& keep,
                                                   Ms bound) {
  auto deadline = Clock::now() + bound;
  for (;;) {
    auto nl = stream.pending.find('\n');
    if (nl != std::string::npos) {
      std::string line = stream.pending.substr(0, nl);
      stream.pending.erase(0, nl + 1);
      keep.push_back(line);
      return line;
    }
    if (stream.eof) return std::nullopt;
    auto left = std::chrono::duration_cast<Ms>(deadline - Clock::now()).count();
    if (left <= 0) return std::nullopt;
    pollfd p{stream.fd, POLLIN, 0};
    int ready = ::poll(&p, 1, static_cast<int>(left));
    if (ready <= 0) continue;
    char buffer[4096];
    ssize_t n = ::read(stream.fd, buffer, sizeof buffer);
    if (n <= 0) {
      stream.eof = true;
    } else {
      stream.pending.append(buffer, static_cast<size_t>(n));
    }
  }
}

std::optional<std::string> ChildProcess::next_out_line(Ms bound) {
  return next_line(out_, out_lines_, bound);
}
std::optional<std::string> ChildProcess::next_err_line(Ms bound) {
  return next_line(err_, err_lines_, bound);
}

bool ChildProcess::wait_out_line(const std::string& line, Ms bound) {
  auto deadline = Clock::now() + bound;
  while (Clock::now() < deadline) {
    auto got = next_out_line(std::chrono::duration_cast<Ms>(deadline - Clock::now()));
    if (!got) return false;
    if (*got == line) return true;
  }
  return false;
}

bool ChildProcess::wait_err_line(const std::string& line, Ms bound) {
  auto deadline = Clock::now() + bound;
  while (Clock::now() < deadline) {
    auto got = next_err_line(std::chrono::duration_cast<Ms>(deadline - Clock::now()));
    if (!got) return false;
    if (*got == line) return true;
  }
  return false;
}

void ChildProcess::signal(int sig) {
  if (pid_ > 0 && !exit_code_) ::kill(pid_, sig);
}

bool ChildProcess::running() {
  if (exit_code_ || pid_ <= 0) return false;
  return !wait_exit(Ms(0));
}

std::optional<int> ChildProcess::wait_exit(Ms bound) {
  auto deadline = Clock::now() + bound;
  for (;;) {
    {
      std::lock_guard lock(exit_mutex_);
      if (exit_code_) return exit_code_;
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        return exit_code_;
      }
    }
    if (Clock::now() >= deadline) return std::nullopt;
    // Polling a child's end: there is no descriptor to wait on.
    std::this_thread::sleep_for(Ms(10));
  }
}

}  // namespace tarvion::e2e
