#include "zemp/zemp_receive_buffer.h"

#include <string>

#include "base/error.h"
#include "base/str_to_int.h"
#include "zemp/zemp_messages.h"

namespace tarvion {

namespace {

int32_t convert(std::string_view text) {
  auto value = try_str_to_int(text);
  if (!value) throw invalid_integer(std::string(text));  // escaped and cut there
  return *value;
}

}  // namespace

void ZempReceiveBuffer::clear() {
  buffer_.clear();
  searched_ = 0;
  discarding_ = false;
}

void ZempReceiveBuffer::on_data_received(std::string_view bytes,
                                         const ZempReceiveActions& actions) {
  // Spaces are removed wherever they stand, before the stream is cut into lines.
  const size_t old_size = buffer_.size();
  buffer_.resize(old_size + bytes.size());
  char* out = buffer_.data() + old_size;
  for (char c : bytes) {
    *out = c;
    out += c != ' ';
  }
  buffer_.resize(static_cast<size_t>(out - buffer_.data()));

  size_t line_start = 0;
  // The last byte searched before may be a CR whose LF has only now arrived.
  size_t search_from = searched_ > 0 ? searched_ - 1 : 0;
  try {
    for (;;) {
      const size_t cr = buffer_.find(kZempLineEnd, search_from);
      if (cr == std::string::npos) break;
      const size_t end = cr + kZempLineEnd.size();
      const std::string_view line(buffer_.data() + line_start, end - line_start);
      line_start = search_from = end;
      if (discarding_) {
        discarding_ = false;  // the rest of an over-long line
        continue;
      }
      if (line.size() > max_line_length_) continue;
      handle_line(line, actions);
    }
  } catch (...) {
    // The failing line is gone; the lines after it stay for the next arrival.
    buffer_.erase(0, line_start);
    searched_ = 0;
    throw;
  }
  buffer_.erase(0, line_start);
  searched_ = buffer_.size();

  if (buffer_.size() > max_line_length_) {
    // This line can no longer be accepted: drop it now, and its rest when its
    // CR LF comes. A final CR is kept, as its LF may open the next arrival.
    const bool ends_with_cr = buffer_.back() == '\r';
    buffer_.assign(ends_with_cr ? "\r" : "");
    searched_ = buffer_.size();
    discarding_ = true;
  }
}

void ZempReceiveBuffer::handle_line(std::string_view line, const ZempReceiveActions& actions) {
  // Compared byte for byte: a keep-alive in other letters or with more text is no keep-alive.
  if (line == kZempKeepAlive) {
    actions.send(kZempKeepAlive);
    return;
  }
  if (line.starts_with(kZempValuesPrefix)) {
    split_pairs(line.substr(kZempValuesPrefix.size()), actions);
  }
  // Any other line is dropped without answer.
}

void ZempReceiveBuffer::split_pairs(std::string_view text, const ZempReceiveActions& actions) {
  while (!text.empty()) {
    // Each pair ends with ':'; what follows the last colon (the CR LF) is an item too.
    std::string_view item;
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
      item = text;
      text = {};
    } else {
      item = text.substr(0, colon);
      text.remove_prefix(colon + 1);
    }
    const size_t eq = item.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view number_text = item.substr(0, eq);
    const std::string_view value_text = item.substr(eq + 1);
    // The value is converted before the number, so a line with both wrong names the value.
    const int32_t value = value_text.empty() ? 0 : convert(value_text);
    const int32_t number = convert(number_text);
    actions.apply_received_pair(number, value);
  }
}

}  // namespace tarvion
