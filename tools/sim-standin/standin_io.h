// Text in and out for both stand-ins: flushed stdout lines, bounded line
// splitting, and the standard input reader.
#pragma once

#include <asio/io_context.hpp>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace sim_standin {

// One line to standard output, flushed at once: tests read it through a pipe.
void say(const std::string& line);

// Control and non-ASCII bytes as \xHH, so a client's garbage stays on one line.
std::string printable(std::string_view text);

std::vector<std::string> split_words(std::string_view text);

// Cuts a byte stream into lines ended by LF or CR LF. A line longer than
// kMaxLine is dropped whole, so a peer that never ends its line cannot fill
// the memory.
class LineSplitter {
 public:
  static constexpr size_t kMaxLine = 4096;
  using OnLine = std::function<bool(std::string line)>;  // false: stop feeding
  using OnDropped = std::function<void()>;

  // Returns false when on_line asked to stop.
  bool feed(std::string_view data, const OnLine& on_line, const OnDropped& on_dropped);
  // The last line when the stream ends without a line end.
  bool finish(const OnLine& on_line);

 private:
  std::string partial_;
  bool dropping_ = false;
};

// Reads standard input on a thread of its own and posts each line into the
// io_context. The end of standard input only ends the reading: tests may
// close it and still drive the stand-in over the network.
class StdinReader {
 public:
  StdinReader(asio::io_context& io, std::function<void(const std::string&)> on_line);
  ~StdinReader();
  StdinReader(const StdinReader&) = delete;
  StdinReader& operator=(const StdinReader&) = delete;

 private:
  void run();

  asio::io_context& io_;
  std::function<void(const std::string&)> on_line_;
  int stop_pipe_[2] = {-1, -1};
  std::thread thread_;
};

}  // namespace sim_standin
