// A program started as a user would start it (own folder, own environment),
// its output read line by line with time bounds.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tarvion::e2e {

using Ms = std::chrono::milliseconds;

class ChildProcess {
 public:
  // env: variables to set (empty value: unset); the rest is inherited.
  // stdin_pipe: the test types into the child's stdin with write_in();
  // otherwise its stdin is empty.
  ChildProcess(const std::vector<std::string>& argv, const std::string& cwd,
               const std::map<std::string, std::string>& env, bool stdin_pipe = false);
  ~ChildProcess();  // kills a child still running

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Next complete line on stdout / stderr, or nothing within the bound.
  std::optional<std::string> next_out_line(Ms bound);
  std::optional<std::string> next_err_line(Ms bound);
  // Reads stdout lines until one equals line; every line read is kept in out_lines().
  bool wait_out_line(const std::string& line, Ms bound);
  bool wait_err_line(const std::string& line, Ms bound);
  // Everything read so far.
  const std::vector<std::string>& out_lines() const { return out_lines_; }
  const std::vector<std::string>& err_lines() const { return err_lines_; }

  void write_in(const std::string& text);
  void signal(int sig);
  // The exit code, or nothing if still running after the bound (-signal if killed).
  std::optional<int> wait_exit(Ms bound);
  bool running();
  pid_t pid() const { return pid_; }

 private:
  struct Stream {
    int fd = -1;
    std::string pending;
    bool eof = false;
  };
  std::optional<std::string> next_line(Stream& stream, std::vector<std::string>& keep, Ms bound);

  pid_t pid_ = -1;
  // running() may be asked on another thread while the test waits for the end:
  // whichever reaps the child records its code for both.
  std::mutex exit_mutex_;
  std::optional<int> exit_code_;
  Stream out_, err_;
  int in_fd_ = -1;
  std::vector<std::string> out_lines_, err_lines_;
};

}  // namespace tarvion::e2e
