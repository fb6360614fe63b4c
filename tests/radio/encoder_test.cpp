#include "radio/encoder.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "radio_rig.h"

namespace tarvion::test {
namespace {

TEST(Encoder, PhasesMapToTheQuadratureCycle) {
  struct Case {
    bool a, b;
    int32_t pos;
  } const cases[] = {{false, false, 0}, {true, false, 1}, {true, true, 2}, {false, true, 3}};
  for (const Case& c : cases) EXPECT_EQ(quadrature_position(c.a, c.b), c.pos) << c.a << c.b;
}

TEST(Encoder, DetentDirectionIncludingTheSeamAndJumpsOfTwo) {
  struct Case {
    int32_t previous, current, step;
  } const cases[] = {
      {0, 1, 1},  {1, 2, 1},  {2, 3, 1},  {3, 0, 1},   // along the cycle
      {1, 0, -1}, {2, 1, -1}, {3, 2, -1}, {0, 3, -1},  // against it
      {2, 0, 1},  {3, 1, 1},                           // previous - current = 2
      {0, 2, -1}, {1, 3, -1},                          // previous - current = -2
      {2, 2, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(detent_step(c.previous, c.current), c.step) << c.previous << "->" << c.current;
  }
}

// Phases of quadrature position 0..3.
bool phase_a(int pos) {
  return pos == 1 || pos == 2;
}
bool phase_b(int pos) {
  return pos == 2 || pos == 3;
}

struct Walk {
  const char* name;
  uint16_t kind;
  uint16_t base_input;
  std::function<std::vector<uint8_t>(int pos)> payload;  // the knob at pos, all else at rest
  std::function<int32_t(const c_rad&)> index;            // the value's place in its cycle
  int32_t cycle;                                         // values before it wraps
  int32_t sense;                                         // +1: the cycle order raises it
  std::function<bool(const c_rad&)> in_band;
};

std::vector<Walk> walks() {
  auto com_band = [](const c_rad& r) {
    return r.com1_standby >= 118000 && r.com1_standby <= 136995;
  };
  return {
      {"COM panel outer knob", kComPanel, 16,
       [](int p) {
         return std::vector<uint8_t>{active(static_cast<uint8_t>(phase_a(p) | phase_b(p) << 1))};
       },
       [](const c_rad& r) { return r.com1_standby / 1000 - 118; }, 19, 1, com_band},
      {"COM panel inner knob, 5 kHz", kComPanel, 16,
       [](int p) {
         return std::vector<uint8_t>{
             active(static_cast<uint8_t>(phase_a(p) << 5 | phase_b(p) << 4))};
       },
       [](const c_rad& r) { return r.com1_standby % 1000 / 5; }, 200, 1, com_band},
      {"NAV panel outer knob", kNavPanel, 512,
       [](int p) {
         return std::vector<uint8_t>{active(static_cast<uint8_t>(phase_a(p) | phase_b(p) << 1))};
       },
       [](const c_rad& r) { return r.nav1_standby / 100 - 108; }, 10, 1,
       [](const c_rad& r) { return r.nav1_standby >= 10800 && r.nav1_standby <= 11795; }},
      {"RMP inner knob, reversed", kRmp, 1,
       [](int p) { return word_payload(static_cast<uint16_t>(phase_a(p) << 8 | phase_b(p) << 9)); },
       [](const c_rad& r) { return r.com1_standby % 1000 / 5; }, 200, -1, com_band},
      {"multi-radio ATC thousands digit", kMultiRadio, 0,
       [](int p) {
         return word_payload(static_cast<uint16_t>(0x1000 | phase_a(p) << 6 | phase_b(p) << 7));
       },
       [](const c_rad& r) { return r.atc_standby / 1000; }, 8, 1,
       [](const c_rad& r) { return r.atc_standby >= 0 && r.atc_standby <= 7777; }},
  };
}

int32_t wrap(int64_t v, int32_t m) {
  return static_cast<int32_t>(((v % m) + m) % m);
}

// One report per single-position move: the value must follow the net number of
// moves exactly, modulo its cycle, and never leave its band.
TEST(Encoder, RandomWalkLosesAndDoublesNoDetent) {
  for (const Walk& w : walks()) {
    for (uint32_t seed = 1; seed <= 5; ++seed) {
      RadioRig rig;
      c_rad& rad = rig.attach(w.kind, 3, w.base_input);
      std::mt19937 rng(seed);
      int pos = static_cast<int>(rng() % 4);
      rig.report(w.kind, 3, w.payload(pos));  // first report: position taken, no step
      const int32_t start = w.index(rad);
      int64_t net = 0;
      for (int move = 0; move < 2000; ++move) {
        const int dir = (rng() % 2) ? 1 : -1;
        pos = (pos + dir + 4) % 4;
        net += dir;
        rig.report(w.kind, 3, w.payload(pos));
        ASSERT_TRUE(w.in_band(rad)) << w.name << " seed " << seed << " move " << move;
        ASSERT_EQ(w.index(rad), wrap(start + w.sense * net, w.cycle))
            << w.name << " seed " << seed << " move " << move;
      }
    }
  }
}

TEST(Encoder, FirstReportOnlyRecordsThePosition) {
  RadioRig rig;
  c_rad& rad = rig.attach(kComPanel, 3, 16);
  rig.report(kComPanel, 3, {active(0x01 | 0x20)});  // outer and inner away from rest
  EXPECT_EQ(rad.com1_standby, 118000);
  EXPECT_EQ(rad.outer_last, 1);
  EXPECT_EQ(rad.inner_last, 1);
  rig.report(kComPanel, 3, {active(0x03 | 0x20)});
  EXPECT_EQ(rad.com1_standby, 119000);
}

}  // namespace
}  // namespace tarvion::test
