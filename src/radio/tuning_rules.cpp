#include "radio/tuning_rules.h"

namespace tarvion {

// Values come from the configuration as any 32-bit number, so every sum is
// taken in 64 bits; each rule brings the result back well inside 32 bits.
namespace {

int32_t narrow(int64_t v) {
  return static_cast<int32_t>(v);
}

// Both wrap tests run in turn: a value whose megahertz part is on the top
// edge lands below the band after the first and is carried back by the second.
int64_t wrap_band(int64_t v, int64_t above, int64_t below, int64_t span) {
  if (v > above) v -= span;
  if (v < below) v += span;
  return v;
}

constexpr int64_t kWeight[5] = {0, 1000, 100, 10, 1};

int64_t digit_group(int64_t v, int32_t cursor) {
  switch (cursor) {
    case 1:
      return v / 1000;
    case 2:
      return (v % 1000) / 100;
    case 3:
      return (v % 100) / 10;
    default:
      return v % 10;
  }
}

}  // namespace

int32_t com_whole_mhz(int32_t v, int32_t s) {
  return narrow(wrap_band(int64_t{v} + 1000 * s, 136000, 118000, 19000));
}

int32_t nav_whole_mhz(int32_t v, int32_t s) {
  return narrow(wrap_band(int64_t{v} + 100 * s, 11700, 10800, 1000));
}

int32_t com_khz(int32_t v, int32_t s, bool five_khz) {
  const int64_t h = int64_t{v} / 1000 * 1000;
  const int64_t step = five_khz ? 5 : 25;
  const int64_t top = five_khz ? 995 : 975;
  int64_t f = v - h + step * s;
  if (f > top) f = 0;
  if (f < 0) f = top;
  return narrow(h + f);
}

int32_t nav_khz(int32_t v, int32_t s) {
  const int64_t h = int64_t{v} / 100 * 100;
  int64_t f = v - h + 5 * s;
  if (f > 95) f = 0;
  if (f < 0) f = 95;
  return narrow(h + f);
}

int32_t adf_panel_coarse(int32_t v, int32_t s) {
  int64_t n = int64_t{v} + 100 * s;
  if (n > 17900) n -= 100;
  if (n < 1000) n += 100;
  return narrow(n);
}

int32_t adf_panel_fine(int32_t v, int32_t s) {
  const int64_t h = int64_t{v} / 100 * 100;
  int64_t f = v - h + s;
  if (f > 99) f = 0;
  if (f < 0) f = 99;
  return narrow(h + f);
}

int32_t move_cursor(int32_t cursor, int32_t s) {
  int32_t c = cursor + s;
  if (c > 4) c = 1;
  if (c < 1) c = 4;
  return c;
}

int32_t adf_digit_group(int32_t v, int32_t cursor, int32_t s) {
  if (cursor < 1 || cursor > 4) return v;
  const int64_t g = digit_group(v, cursor);
  int64_t n = g + s;
  if (cursor == 1) {
    if (n < 1) n = 17;
    if (n > 17) n = 1;
  } else {
    if (n < 0) n = 9;
    if (n > 9) n = 0;
  }
  return narrow(v + (n - g) * kWeight[cursor]);
}

int32_t atc_digit(int32_t v, int32_t cursor, int32_t s) {
  if (cursor < 1 || cursor > 4) return v;
  const int64_t g = digit_group(v, cursor);
  int64_t n = g + s;
  if (n < 0) n = 7;
  if (n > 7) n = 0;
  return narrow(v + (n - g) * kWeight[cursor]);
}

}  // namespace tarvion
