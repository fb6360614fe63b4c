#include "fsuipc_wine_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

namespace tarvion::e2e {

TypedChild::TypedChild(const std::vector<std::string>& argv, const std::string& cwd,
                       const std::map<std::string, std::string>& env) {
  const std::string fifo = fifo_folder_.path() + "/stdin";
  if (::mkfifo(fifo.c_str(), 0600) != 0) throw std::runtime_error("mkfifo");
  // Read-write: the open does not wait for a reader, and the child never sees
  // the end of its input while the test holds it.
  fifo_ = ::open(fifo.c_str(), O_RDWR | O_CLOEXEC);
  if (fifo_ < 0) throw std::runtime_error("open fifo");
  std::vector<std::string> shell{"/bin/sh", "-c", "exec \"$0\" \"$@\" < '" + fifo + "'"};
  shell.insert(shell.end(), argv.begin(), argv.end());
  process_ = std::make_unique<ChildProcess>(shell, cwd, env);
}

TypedChild::~TypedChild() {
  process_.reset();
  if (fifo_ >= 0) ::close(fifo_);
}

void TypedChild::type(const std::string& line) {
  const std::string text = line + "\n";
  if (::write(fifo_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    throw std::runtime_error("write to fifo");
  }
}

LineFeed::LineFeed(ChildProcess& child) : child_(child) {
  reader_ = std::thread([this] {
    for (;;) {
      const auto asked = std::chrono::steady_clock::now();
      auto line = child_.next_out_line(Ms(100));
      // Nothing, and at once: the child's output has ended.
      const bool ended = !line && std::chrono::steady_clock::now() - asked < Ms(50);
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_ || ended) return;
      if (line) {
        lines_.push_back(std::move(*line));
        arrived_.notify_all();
      }
    }
  });
}

LineFeed::~LineFeed() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  reader_.join();
}

std::optional<std::string> LineFeed::wait_containing(const std::string& text, Ms bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    while (!lines_.empty()) {
      std::string line = std::move(lines_.front());
      lines_.pop_front();
      if (line.find(text) != std::string::npos) return line;
    }
    if (arrived_.wait_until(lock, deadline) == std::cv_status::timeout && lines_.empty()) {
      return std::nullopt;
    }
  }
}

std::optional<std::string> wait_line_containing(ChildProcess& child, const std::string& text,
                                                Ms bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  for (;;) {
    const auto left = std::chrono::duration_cast<Ms>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    auto line = child.next_out_line(left);
    if (!line) return std::nullopt;
    if (line->find(text) != std::string::npos) return line;
  }
}

}  // namespace tarvion::e2e
