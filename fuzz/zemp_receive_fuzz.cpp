// Fuzzes the ZEMP receive side with any byte stream cut into any arrivals, and
// checks it against a plain model: every complete line (spaces removed, at
// most the line bound, CR LF included) handled in order, whatever the cuts.
//
// Input: byte 0 seeds the cuts; byte 1 picks the line bound (11 to 128 bytes),
// so over-long lines are reached with short inputs; the rest is the stream.
// (With the real 64 KiB bound every other input had to be blown up to 64 KiB,
// and a run managed a few hundred executions a second.)
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "base/str_to_int.h"
#include "zemp/zemp_messages.h"
#include "zemp/zemp_receive_buffer.h"

namespace {

std::vector<std::string> model(std::string_view stream, size_t max_line_length) {
  // Views and whole-string operations only: a per-byte append or a copy of the
  // rest of a line per item made this model the slowest part of every run.
  std::string text(stream);
  std::erase(text, ' ');
  std::vector<std::string> events;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    const std::string_view line = std::string_view(text).substr(start, end + 2 - start);
    if (line.size() > max_line_length) continue;
    if (line == "Arn.Vivo:\r\n") {
      events.push_back("send");
      continue;
    }
    if (!line.starts_with("Arn.Resp:")) continue;
    std::string_view rest = line.substr(9);
    while (!rest.empty()) {
      const size_t colon = rest.find(':');
      const std::string_view item = rest.substr(0, colon);
      rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
      const size_t eq = item.find('=');
      if (eq == std::string_view::npos) continue;
      const std::string_view number = item.substr(0, eq), value = item.substr(eq + 1);
      auto v = value.empty() ? std::optional<int32_t>(0) : tarvion::try_str_to_int(value);
      auto n = tarvion::try_str_to_int(number);
      if (!v || !n) {
        events.push_back("error");
        break;
      }
      events.push_back(std::to_string(*n) + "=" + std::to_string(*v));
    }
  }
  return events;
}

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "zemp_receive_fuzz: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  uint32_t seed = data[0] * 2654435761u + 1;
  const size_t max_line_length = 11 + data[1] % 118;
  const std::string_view stream(reinterpret_cast<const char*>(data) + 2, size - 2);

  std::vector<std::string> events;
  tarvion::ZempReceiveBuffer buffer(max_line_length);
  const tarvion::ZempReceiveActions actions{
      [&](std::string_view text) {
        if (text != tarvion::kZempKeepAlive) fail("answered something other than the keep-alive");
        events.push_back("send");
      },
      [&](int32_t number, int32_t value) {
        events.push_back(std::to_string(number) + "=" + std::to_string(value));
      },
  };
  auto feed = [&](std::string_view bytes) {
    try {
      buffer.on_data_received(bytes, actions);
      if (buffer.size() > max_line_length) fail("the buffer passed its bound");
      return true;
    } catch (const tarvion::TarvionError& error) {
      // The text is shown in an error box or a console line: it must come
      // whole, cut short, without control bytes.
      const std::string_view message = error.what();
      if (!message.starts_with('\'') || !message.ends_with("' is not a valid integer value")) {
        fail("unexpected error text");
      }
      if (message.size() > 400) fail("the error text is not cut short");
      for (char c : message) {
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) {
          fail("a control byte in the error text");
        }
      }
      events.push_back("error");
      return false;
    }
  };

  size_t at = 0;
  while (at < stream.size()) {
    seed = seed * 1103515245u + 12345u;
    // Mostly short arrivals, sometimes long ones, like TCP reads.
    const size_t chunk = (seed >> 16) % 8 == 0 ? (seed >> 8) % 300 + 1 : (seed >> 16) % 16 + 1;
    feed(stream.substr(at, chunk));
    at += chunk;
  }
  // Lines left behind by an error wait for the next arrival.
  while (!feed("")) {
  }
  if (events != model(stream, max_line_length)) fail("events differ from the model");
  return 0;
}
