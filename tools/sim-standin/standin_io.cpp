#include "standin_io.h"

#include <poll.h>
#include <unistd.h>

#include <asio/post.hpp>
#include <cerrno>
#include <cstdio>

namespace sim_standin {

void say(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c < 0x20 || c >= 0x7f || c == '\\') {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::vector<std::string> split_words(std::string_view text) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
    if (i > start) words.emplace_back(text.substr(start, i - start));
  }
  return words;
}

bool LineSplitter::feed(std::string_view data, const OnLine& on_line, const OnDropped& on_dropped) {
  for (char c : data) {
    if (c == '\n') {
      bool was_dropping = dropping_;
      dropping_ = false;
      if (!partial_.empty() && partial_.back() == '\r') partial_.pop_back();
      std::string line;
      line.swap(partial_);
      if (was_dropping) continue;
      if (line.size() > kMaxLine) {
        on_dropped();
        continue;
      }
      if (!on_line(std::move(line))) return false;
      continue;
    }
    if (dropping_) continue;
    // One byte over the limit is room for the CR of a CR LF ending.
    if (partial_.size() > kMaxLine) {
      partial_.clear();
      dropping_ = true;
      on_dropped();
      continue;
    }
    partial_ += c;
  }
  return true;
}

bool LineSplitter::finish(const OnLine& on_line) {
  std::string line;
  line.swap(partial_);
  bool was_dropping = dropping_;
  dropping_ = false;
  if (was_dropping || line.empty() || line.size() > kMaxLine) return true;
  return on_line(std::move(line));
}

StdinReader::StdinReader(asio::io_context& io, std::function<void(const std::string&)> on_line)
    : io_(io), on_line_(std::move(on_line)) {
  if (::pipe(stop_pipe_) != 0) {
    say("cannot read standard input: no pipe to stop the reader");
    return;
  }
  thread_ = std::thread([this] { run(); });
}

StdinReader::~StdinReader() {
  if (thread_.joinable()) {
    char byte = 0;
    while (::write(stop_pipe_[1], &byte, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  for (int fd : stop_pipe_) {
    if (fd >= 0) ::close(fd);
  }
}

void StdinReader::run() {
  LineSplitter splitter;
  auto post_line = [this](std::string line) {
    asio::post(io_, [handler = on_line_, line = std::move(line)] { handler(line); });
    return true;
  };
  auto dropped = [this] { asio::post(io_, [] { say("dropped a line over 4 KiB"); }); };
  // poll rather than a blocking read alone, so the destructor can end the thread.
  pollfd fds[2] = {{0, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
  char buffer[4096];
  for (;;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if (fds[0].revents == 0) continue;
    ssize_t got = ::read(0, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) {
      splitter.finish(post_line);
      return;
    }
    splitter.feed(std::string_view(buffer, static_cast<size_t>(got)), post_line, dropped);
  }
}

}  // namespace sim_standin
