#include "base/str_to_int.h"

#include <gtest/gtest.h>

#include "base/error.h"

namespace tarvion {
namespace {

struct Case {
  const char* text;
  std::optional<int32_t> want;
};

TEST(StrToInt, AcceptsDecimalHexAndSignsWithin32Bits) {
  const Case cases[] = {
      {"0", 0},
      {"8092", 8092},
      {"+17", 17},
      {"-7", -7},
      {"$1CCF0", 118000},
      {"X1ccf0", 118000},
      {"0X1CCF0", 118000},
      {"0x10", 16},
      {"$FFFFFFFF", -1},
      {"-$10", -16},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"007", 7},
  };
  for (const Case& c : cases) EXPECT_EQ(try_str_to_int(c.text), c.want) << c.text;
}

TEST(StrToInt, RejectsEverythingElse) {
  const char* bad[] = {"",     "+",          "-",           "$",          "0X",
                       "12a",  "1 2",        "2147483648",  "-2147483649", "99999999999",
                       "$1G",  "$100000000", "1.5",         "--1",        "\t1",
                       "0x-1", "99999999999999999999999999999"};
  for (const char* text : bad) EXPECT_EQ(try_str_to_int(text), std::nullopt) << text;
}

TEST(StrToInt, ThrowingFormCarriesTheText) {
  try {
    str_to_int("8O92");
    FAIL() << "no error";
  } catch (const TarvionError& e) {
    EXPECT_STREQ(e.what(), "'8O92' is not a valid integer value");
  }
}

}  // namespace
}  // namespace tarvion
