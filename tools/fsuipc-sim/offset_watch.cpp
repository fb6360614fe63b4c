#include "offset_watch.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace fsuipc_sim {

namespace {

using tarvion::InMemoryFsuipc;

std::string format(const char* pattern, long long a, long long b = 0, long long c = 0) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, a, b, c);
  return text;
}

// The decimal digits of a packed BCD value, nibble by nibble (a nibble above
// 9 shows as such rather than being hidden).
long long digits(uint32_t bcd, int count) {
  long long value = 0;
  for (int i = count - 1; i >= 0; --i) value = value * 10 + ((bcd >> (4 * i)) & 0xF);
  return value;
}

// COM and NAV: the four BCD digits behind an implied leading 1, "1xx.xx".
std::string mhz(const InMemoryFsuipc& s, uint16_t offset) {
  const long long v = digits(s.read_offset(offset, 2), 4);
  return format("1%02lld.%02lld MHz", v / 100, v % 100);
}

// ADF: hundreds, tens and ones at the main offset; thousands and tenths in
// the extended one.
std::string khz(const InMemoryFsuipc& s, uint16_t main, uint16_t extended) {
  const uint32_t ext = s.read_offset(extended, 2);
  const long long khz = digits(ext >> 8, 1) * 1000 + digits(s.read_offset(main, 2), 3);
  return format("%lld.%lld kHz", khz, digits(ext, 1));
}

std::string lever(uint32_t v) {
  return v == 0 ? "up" : v == 16383 ? "down" : format("%lld", v);
}

std::string leg(uint32_t v) {
  const auto position = static_cast<int32_t>(v);
  return position <= 0 ? "up" : position >= 16383 ? "down and locked" : "in transit";
}

std::string share(uint32_t v) {
  return format("%lld (%lld%%)", v, (static_cast<long long>(v) * 100 + 8191) / 16383);
}

struct Watched {
  uint16_t offset;
  int size;
  const char* name;
  std::string (*decode)(const InMemoryFsuipc& s, uint32_t raw);
  // Values that travel are reported when their state changes, not each step.
  bool by_state = false;
};

const Watched kWatched[] = {
    {0x034E, 2, "COM1", [](auto& s, uint32_t) { return mhz(s, 0x034E); }},
    {0x3118, 2, "COM2", [](auto& s, uint32_t) { return mhz(s, 0x3118); }},
    {0x0350, 2, "NAV1", [](auto& s, uint32_t) { return mhz(s, 0x0350); }},
    {0x0352, 2, "NAV2", [](auto& s, uint32_t) { return mhz(s, 0x0352); }},
    {0x034C, 2, "ADF1", [](auto& s, uint32_t) { return khz(s, 0x034C, 0x0356); }},
    {0x0356, 2, "ADF1 extended", [](auto& s, uint32_t) { return khz(s, 0x034C, 0x0356); }},
    {0x02D4, 2, "ADF2", [](auto& s, uint32_t) { return khz(s, 0x02D4, 0x02D6); }},
    {0x02D6, 2, "ADF2 extended", [](auto& s, uint32_t) { return khz(s, 0x02D4, 0x02D6); }},
    {0x0354, 2, "transponder", [](auto&, uint32_t v) { return format("%04lld", digits(v, 4)); }},
    {0x3107, 1, "ADF1 switch", [](auto&, uint32_t v) { return format("%lld", v); }},
    {0x02FB, 1, "ADF2 switch", [](auto&, uint32_t v) { return format("%lld", v); }},
    {0x7B91, 1, "transponder switch", [](auto&, uint32_t v) { return format("%lld", v); }},
    {0x0BE8, 4, "gear lever", [](auto&, uint32_t v) { return lever(v); }},
    {0x0BEC, 4, "gear leg 1", [](auto&, uint32_t v) { return leg(v); }, true},
    {0x0BF0, 4, "gear leg 2", [](auto&, uint32_t v) { return leg(v); }, true},
    {0x0BF4, 4, "gear leg 3", [](auto&, uint32_t v) { return leg(v); }, true},
    {0x0BDC, 4, "flaps control", [](auto&, uint32_t v) { return share(v); }},
    // While the flaps travel only "moving" is said, not every step.
    {0x30E0, 2, "flaps position",
     [](auto& s, uint32_t v) {
       return v == std::min<uint32_t>(s.read_offset(0x0BDC, 4), 16383) ? share(v) : "moving";
     },
     true},
    {0x3BFA, 2, "flap detent increment", [](auto&, uint32_t v) { return format("%lld", v); }},
    {0x0BC0, 2, "elevator trim",
     [](auto&, uint32_t v) { return format("%lld", static_cast<int16_t>(v)); }},
    {0x0D0C, 2, "lights", [](auto&, uint32_t v) { return format("0x%04llX", v); }},
    {0x3B78, 4, "engine 1 switch A", [](auto&, uint32_t v) { return format("%lld", v); }},
    {0x3102, 1, "switch 2", [](auto&, uint32_t v) { return format("%lld", v); }},
    {0x3103, 1, "switch 3", [](auto&, uint32_t v) { return format("%lld", v); }},
    {0x029C, 1, "switch 4", [](auto&, uint32_t v) { return format("%lld", v); }},
    {0x3B98, 4, "engine 1 switch B", [](auto&, uint32_t v) { return format("%lld", v); }},
    {0x0892, 2, "engine 1 magnetos", [](auto&, uint32_t v) { return format("%lld", v); }},
};

}  // namespace

OffsetWatch::OffsetWatch(const InMemoryFsuipc& service) : service_(service) {
  for (std::size_t i = 0; i < std::size(kWatched); ++i) seen_.push_back(key(i));
}

std::string OffsetWatch::key(std::size_t index) const {
  const Watched& w = kWatched[index];
  const uint32_t raw = service_.read_offset(w.offset, w.size);
  return w.by_state ? w.decode(service_, raw) : format("%llX", raw);
}

std::string OffsetWatch::line(std::size_t index) const {
  const Watched& w = kWatched[index];
  const uint32_t raw = service_.read_offset(w.offset, w.size);
  std::string text = format("0x%04llX ", w.offset) + w.name + " bytes";
  for (int i = 0; i < w.size; ++i) text += format(" %02llX", (raw >> (8 * i)) & 0xFF);
  return text + " = " + w.decode(service_, raw);
}

std::vector<std::string> OffsetWatch::changes() {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < seen_.size(); ++i) {
    std::string now = key(i);
    if (now == seen_[i]) continue;
    seen_[i] = std::move(now);
    lines.push_back(line(i));
  }
  return lines;
}

std::vector<std::string> OffsetWatch::all() const {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < seen_.size(); ++i) lines.push_back(line(i));
  return lines;
}

}  // namespace fsuipc_sim
