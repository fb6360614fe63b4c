// The ZEMP receive side: cuts the server's byte stream into CR LF lines,
// answers keep-alives and splits values lines into (number, value) pairs.
// Pure: the socket and the variable table are reached through ZempReceiveActions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tarvion {

// The longest line accepted, CR LF included, counted after spaces are removed.
// A peer that never sends CR LF would otherwise make the buffer grow for as
// long as the program runs. A longer line is dropped whole, wherever its
// arrivals happen to be cut: once more than this many bytes wait without a
// line end they are thrown away, and so is everything up to and including
// the next CR LF (the rest of that line); the line after it is read as usual.
// No real values line comes near it: seven pairs take about 100 bytes.
inline constexpr size_t kZempMaxLineLength = 64 * 1024;

struct ZempReceiveActions {
  std::function<void(std::string_view text)> send;  // the keep-alive answer
  std::function<void(int32_t number, int32_t value)> apply_received_pair;
};

class ZempReceiveBuffer {
 public:
  // A smaller bound lets a fuzz run reach over-long lines with short inputs.
  explicit ZempReceiveBuffer(size_t max_line_length = kZempMaxLineLength)
      : max_line_length_(max_line_length) {}

  // Handles every complete line that the buffer holds once bytes are added
  // (all that the socket had available). A number or value that does not
  // convert throws TarvionError("'<text>' is not a valid integer value"): the
  // pairs before it are applied, the rest of its line is lost, and complete
  // lines after it wait for the next call (an empty one will do).
  void on_data_received(std::string_view bytes, const ZempReceiveActions& actions);

  void clear();
  // Bytes kept for lines not yet complete (or not yet handled after an error).
  size_t size() const { return buffer_.size(); }
  // Those bytes themselves (a server looks for a goodbye that has no line end).
  std::string_view pending() const { return buffer_; }

 private:
  void handle_line(std::string_view line, const ZempReceiveActions& actions);
  void split_pairs(std::string_view text, const ZempReceiveActions& actions);

  std::string buffer_;       // spaces already removed; a line starts at offset 0
  size_t searched_ = 0;      // leading bytes already known to hold no CR LF
  bool discarding_ = false;  // dropping the rest of an over-long line
  size_t max_line_length_;
};

}  // namespace tarvion
