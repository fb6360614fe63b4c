#include "radio/tuning_rules.h"

#include <gtest/gtest.h>

#include <climits>

namespace tarvion {
namespace {

struct Case {
  const char* what;
  int32_t (*rule)(int32_t, int32_t);
  int32_t from;
  int32_t step;
  int32_t want;
};

int32_t com5(int32_t v, int32_t s) {
  return com_khz(v, s, true);
}
int32_t com25(int32_t v, int32_t s) {
  return com_khz(v, s, false);
}

TEST(TuningRules, EachRuleStepsAndWrapsAtBothEnds) {
  const Case cases[] = {
      {"COM outer up inside the band", com_whole_mhz, 118000, 1, 119000},
      {"COM outer wraps 136 to 118, kHz kept", com_whole_mhz, 136990, 1, 118990},
      {"COM outer wraps 118 to 136, kHz kept", com_whole_mhz, 118990, -1, 136990},
      {"COM outer reaches 136.xxx from 135.xxx", com_whole_mhz, 135500, 1, 136500},
      {"COM outer leaves 136.xxx downwards", com_whole_mhz, 136500, -1, 135500},
      {"COM outer 136.000 up", com_whole_mhz, 136000, 1, 118000},
      {"COM outer 118.000 down", com_whole_mhz, 118000, -1, 136000},
      {"NAV outer wraps 117.95 to 108.95", nav_whole_mhz, 11795, 1, 10895},
      {"NAV outer wraps 108.50 to 117.50", nav_whole_mhz, 10850, -1, 11750},
      {"NAV outer reaches 117.50 from 116.50", nav_whole_mhz, 11650, 1, 11750},
      {"COM 5 kHz down from .000 wraps to .995 without borrow", com5, 118000, -1, 118995},
      {"COM 5 kHz up from .995 wraps to .000 without carry", com5, 118995, 1, 118000},
      {"COM 25 kHz down from .000", com25, 118000, -1, 118975},
      {"COM 25 kHz keeps an off-grid offset", com25, 118005, 1, 118030},
      {"COM 25 kHz past .975 wraps to .000", com25, 118980, 1, 118000},
      {"COM 25 kHz off-grid below 0 goes to .975", com25, 118005, -1, 118975},
      {"NAV kHz down from .00", nav_khz, 10800, -1, 10895},
      {"NAV kHz up from .95", nav_khz, 11795, 1, 11700},
      {"NAV kHz off-grid keeps offset", nav_khz, 10802, 1, 10807},
      {"ADF panel outer up held at 1790.0", adf_panel_coarse, 17900, 1, 17900},
      {"ADF panel outer down held at 100.0", adf_panel_coarse, 1000, -1, 1000},
      {"ADF panel outer up reaches 1790.0", adf_panel_coarse, 17800, 1, 17900},
      {"ADF panel outer down reaches 100.0", adf_panel_coarse, 1100, -1, 1000},
      {"ADF panel outer up at 1799.9 stays", adf_panel_coarse, 17999, 1, 17999},
      {"ADF panel outer up inside", adf_panel_coarse, 3795, 1, 3895},
      {"ADF panel inner up wraps .99 to .00", adf_panel_fine, 1199, 1, 1100},
      {"ADF panel inner down wraps .00 to .99", adf_panel_fine, 1100, -1, 1199},
  };
  for (const Case& c : cases) EXPECT_EQ(c.rule(c.from, c.step), c.want) << c.what;
}

struct DigitCase {
  const char* what;
  int32_t from;
  int32_t cursor;
  int32_t step;
  int32_t want;
};

TEST(TuningRules, AdfDigitGroupsWrapWithinTheirRanges) {
  const DigitCase cases[] = {
      {"hundreds 17 up becomes 1", 17999, 1, 1, 1999},
      {"hundreds 1 down becomes 17", 1999, 1, -1, 17999},
      {"hundreds 9 up becomes 10", 9000, 1, 1, 10000},
      {"tens 9 up becomes 0", 1900, 2, 1, 1000},
      {"tens 0 down becomes 9", 1000, 2, -1, 1900},
      {"units up", 1000, 3, 1, 1010},
      {"units 0 down becomes 9", 1000, 3, -1, 1090},
      {"tenths 9 up becomes 0", 1009, 4, 1, 1000},
      {"tenths 0 down becomes 9", 1000, 4, -1, 1009},
      {"cursor outside 1..4 leaves the value", 1234, 0, 1, 1234},
  };
  for (const DigitCase& c : cases) {
    EXPECT_EQ(adf_digit_group(c.from, c.cursor, c.step), c.want) << c.what;
  }
}

TEST(TuningRules, TransponderDigitsRunZeroToSeven) {
  const DigitCase cases[] = {
      {"units 7 up becomes 0", 7777, 4, 1, 7770},
      {"thousands 7 up becomes 0", 7777, 1, 1, 777},
      {"thousands 0 down becomes 7", 200, 1, -1, 7200},
      {"hundreds up", 1200, 2, 1, 1300},
      {"tens 0 down becomes 7", 1200, 3, -1, 1270},
      {"a digit 9 from a bad SET_ATC wraps to 0", 1209, 4, 1, 1200},
  };
  for (const DigitCase& c : cases) EXPECT_EQ(atc_digit(c.from, c.cursor, c.step), c.want) << c.what;
}

TEST(TuningRules, CursorWrapsOneToFour) {
  EXPECT_EQ(move_cursor(4, 1), 1);
  EXPECT_EQ(move_cursor(1, -1), 4);
  EXPECT_EQ(move_cursor(2, 1), 3);
}

// SET_ values reach the rules unchecked: the extremes must not overflow (the
// sanitizer build turns an overflow into a failure) and must land in 32 bits.
TEST(TuningRules, ExtremeConfiguredValuesDoNotOverflow) {
  for (int32_t v : {INT32_MAX, INT32_MIN, -1}) {
    for (int32_t s : {1, -1}) {
      (void)com_whole_mhz(v, s);
      (void)nav_whole_mhz(v, s);
      (void)com_khz(v, s, true);
      (void)nav_khz(v, s);
      (void)adf_panel_coarse(v, s);
      (void)adf_panel_fine(v, s);
      for (int32_t c = 1; c <= 4; ++c) {
        (void)adf_digit_group(v, c, s);
        (void)atc_digit(v, c, s);
      }
    }
  }
  EXPECT_EQ(com_whole_mhz(INT32_MAX, 1), INT32_MAX - 18000);
  EXPECT_EQ(adf_panel_coarse(INT32_MIN, -1), INT32_MIN);
}

}  // namespace
}  // namespace tarvion
