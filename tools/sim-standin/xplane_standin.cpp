#include "xplane_standin.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "standin_io.h"

namespace sim_standin {

namespace {

using asio::ip::udp;

constexpr size_t kRrefSize = 413;  // "RREF\0", int32 freq, int32 index, char[400] name
constexpr size_t kDrefSize = 509;  // "DREF\0", float32 value, char[500] name
constexpr size_t kNameOffsetRref = 13, kNameSizeRref = 400;
constexpr size_t kNameOffsetDref = 9, kNameSizeDref = 500;
// 5 + 183 * 8 bytes stays under one Ethernet frame, as X-Plane's own answers do.
constexpr size_t kPairsPerDatagram = 183;
// X-Plane answers at most once a frame; a garbage rate must not flood the machine.
constexpr int32_t kMaxRate = 100;
// Bounds against a client that subscribes or writes without end.
constexpr size_t kMaxSubscriptions = 10000, kMaxSubscribers = 1000, kMaxDatarefs = 100000;

const char* const kCommands = "commands: set NAME VALUE, restart, pause, resume, values, quit";

uint32_t read_u32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
int32_t read_i32(const uint8_t* p) {
  return static_cast<int32_t>(read_u32(p));
}
float read_f32(const uint8_t* p) {
  uint32_t bits = read_u32(p);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}
void append_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(uint8_t(v >> shift));
}
void append_f32(std::vector<uint8_t>& out, float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  append_u32(out, bits);
}
// A NUL-padded name; one that fills its field without a NUL is taken whole.
std::string field_name(const uint8_t* p, size_t size) {
  const uint8_t* end = std::find(p, p + size, uint8_t(0));
  return std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(end - p));
}

std::string number(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
  return text;
}

}  // namespace

XPlaneStandin::XPlaneStandin(asio::io_context& io, const StandinOptions& options)
    : io_(io),
      options_(options),
      socket_(io),
      answer_timer_(io),
      outgoing_(io, options.latency, [this](Datagram& datagram) {
        auto held = std::make_shared<Datagram>(std::move(datagram));
        // Nobody listening at the client's port is the client's business, as with X-Plane.
        socket_.async_send_to(asio::buffer(held->bytes), held->to,
                              [held](std::error_code, size_t) {});
      }) {
  // A Cessna 172 as X-Plane loads it.
  const std::string radios = "sim/cockpit/radios/";
  datarefs_ = {{radios + "com1_freq_hz", 11830.f},   {radios + "com2_freq_hz", 12830.f},
               {radios + "nav1_freq_hz", 11200.f},   {radios + "nav2_freq_hz", 11050.f},
               {radios + "adf1_freq_hz", 200.f},     {radios + "adf2_freq_hz", 397.f},
               {radios + "transponder_code", 1200.f}};
}

void XPlaneStandin::start() {
  udp::endpoint where(asio::ip::make_address(options_.host), options_.port);
  socket_.open(where.protocol());
  socket_.bind(where);
  auto bound = socket_.local_endpoint();
  say("sim-standin: X-Plane stand-in listening on " + bound.address().to_string() + ":" +
      std::to_string(bound.port()) + " (UDP)");
  receive();
}

void XPlaneStandin::receive() {
  socket_.async_receive_from(asio::buffer(buffer_), sender_,
                             [this](std::error_code error, size_t size) {
                               if (error == asio::error::operation_aborted) return;
                               // Other errors (an ICMP "port unreachable" from an
                               // earlier answer) concern one client, not the socket.
                               if (!error) on_datagram(size);
                               receive();
                             });
}

void XPlaneStandin::on_datagram(size_t size) {
  const uint8_t* p = buffer_.data();
  if (size == kRrefSize && std::memcmp(p, "RREF", 5) == 0) {
    on_rref(read_i32(p + 5), read_i32(p + 9), field_name(p + kNameOffsetRref, kNameSizeRref));
  } else if (size == kDrefSize && std::memcmp(p, "DREF", 5) == 0) {
    on_dref(read_f32(p + 5), field_name(p + kNameOffsetDref, kNameSizeDref));
  } else {
    say("ignored datagram of " + std::to_string(size) + " bytes");
  }
}

void XPlaneStandin::on_rref(int32_t freq, int32_t index, const std::string& name) {
  if (freq <= 0) {
    auto found = subscribers_.find(sender_);
    if (found != subscribers_.end()) {
      found->second.subscriptions.erase(index);
      if (found->second.subscriptions.empty()) subscribers_.erase(found);
    }
    say("RREF unsubscribe " + std::to_string(index));
    schedule();
    return;
  }
  auto found = subscribers_.find(sender_);
  if (found == subscribers_.end() && subscribers_.size() >= kMaxSubscribers) {
    say("ignored RREF: too many subscribing addresses");
    return;
  }
  Subscriber& subscriber = subscribers_[sender_];
  if (subscriber.subscriptions.size() >= kMaxSubscriptions &&
      subscriber.subscriptions.count(index) == 0) {
    say("ignored RREF: too many subscriptions");
    return;
  }
  bool is_new = subscriber.subscriptions.empty();
  subscriber.subscriptions[index] = Subscription{name, freq};
  say("RREF subscribe " + std::to_string(index) + " " + printable(name) + " rate " +
      std::to_string(freq));
  // The first answer goes out at once; a faster rate takes effect at once.
  auto now = Clock::now();
  if (is_new) {
    subscriber.next_answer = now;
  } else {
    subscriber.next_answer = std::min(subscriber.next_answer, now + period_of(subscriber));
  }
  schedule();
}

void XPlaneStandin::on_dref(float value, const std::string& name) {
  if (!store(name, value)) return;
  say("DREF " + printable(name) + "=" + number(value));
}

bool XPlaneStandin::store(const std::string& name, float value) {
  if (datarefs_.size() >= kMaxDatarefs && datarefs_.count(name) == 0) {
    say("ignored write of " + printable(name) + ": too many datarefs");
    return false;
  }
  datarefs_[name] = value;
  return true;
}

float XPlaneStandin::value_of(const std::string& name) const {
  auto found = datarefs_.find(name);
  return found == datarefs_.end() ? 0.f : found->second;
}

XPlaneStandin::Clock::duration XPlaneStandin::period_of(const Subscriber& subscriber) {
  int32_t rate = 1;
  for (const auto& [index, subscription] : subscriber.subscriptions) {
    rate = std::max(rate, std::min(subscription.freq, kMaxRate));
  }
  return std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)) / rate;
}

void XPlaneStandin::schedule() {
  if (subscribers_.empty()) {
    answer_timer_.cancel();
    return;
  }
  auto next = Clock::time_point::max();
  for (const auto& [address, subscriber] : subscribers_) {
    next = std::min(next, subscriber.next_answer);
  }
  answer_timer_.expires_at(next);
  answer_timer_.async_wait([this](std::error_code error) {
    if (!error) on_tick();
  });
}

void XPlaneStandin::on_tick() {
  auto now = Clock::now();
  for (auto& [address, subscriber] : subscribers_) {
    if (subscriber.next_answer > now) continue;
    if (!paused_) answer(address, subscriber);
    subscriber.next_answer += period_of(subscriber);
    // After a stall, go on from now rather than catching up in a burst.
    if (subscriber.next_answer <= now) subscriber.next_answer = now + period_of(subscriber);
  }
  schedule();
}

void XPlaneStandin::answer(const udp::endpoint& to, const Subscriber& subscriber) {
  Datagram datagram{to, {}};
  size_t pairs = 0;
  for (const auto& [index, subscription] : subscriber.subscriptions) {
    if (pairs == 0) datagram.bytes.assign({'R', 'R', 'E', 'F', ','});
    append_u32(datagram.bytes, static_cast<uint32_t>(index));
    append_f32(datagram.bytes, value_of(subscription.name));
    if (++pairs == kPairsPerDatagram) {
      outgoing_.push(std::move(datagram));
      datagram = Datagram{to, {}};
      pairs = 0;
    }
  }
  if (pairs > 0) outgoing_.push(std::move(datagram));
}

bool XPlaneStandin::command(const std::string& line) {
  auto words = split_words(line);
  if (words.empty()) return true;
  const std::string& verb = words[0];
  if (verb == "set" && words.size() == 3) {
    char* end = nullptr;
    errno = 0;
    float value = std::strtof(words[2].c_str(), &end);
    if (end == words[2].c_str() || *end != '\0' || errno == ERANGE) {
      say("set needs a number, not '" + printable(words[2]) + "'");
    } else if (store(words[1], value)) {
      say("set " + printable(words[1]) + "=" + number(value));
    }
  } else if (verb == "restart" && words.size() == 1) {
    subscribers_.clear();
    outgoing_.clear();
    schedule();
    say("restarted");
  } else if (verb == "pause" && words.size() == 1) {
    paused_ = true;
    say("paused");
  } else if (verb == "resume" && words.size() == 1) {
    paused_ = false;
    say("resumed");
  } else if (verb == "values" && words.size() == 1) {
    for (const auto& [name, value] : datarefs_) say(printable(name) + "=" + number(value));
  } else if (verb == "quit" && words.size() == 1) {
    return false;
  } else {
    say(std::string("unknown command (") + kCommands + ")");
  }
  return true;
}

}  // namespace sim_standin
