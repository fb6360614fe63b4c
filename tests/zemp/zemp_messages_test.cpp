// The values line as it goes on the wire.
#include "zemp/zemp_messages.h"

#include <gtest/gtest.h>

#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace tarvion {
namespace {

struct MessageCase {
  std::vector<ZempPair> pairs;
  std::string wire;
};

void PrintTo(const MessageCase& c, std::ostream* os) {
  *os << c.pairs.size() << " pair(s)";
}

class ValuesMessage : public ::testing::TestWithParam<MessageCase> {};

TEST_P(ValuesMessage, IsWrittenByteForByte) {
  EXPECT_EQ(build_values_message(GetParam().pairs), GetParam().wire);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ValuesMessage,
    ::testing::Values(
        MessageCase{{{256, 11800}}, "Arn.Resp:256=11800:\r\n"},
        MessageCase{{{256, 11800},
                     {254, 10800},
                     {311, 1200},
                     {258, 100},
                     {257, 11800},
                     {255, 10800},
                     {259, 100}},
                    "Arn.Resp:256=11800:254=10800:311=1200:258=100:257=11800:255=10800:259=100:"
                    "\r\n"},
        MessageCase{{{256, 0}, {257, -5}}, "Arn.Resp:256=0:257=-5:\r\n"},
        MessageCase{{{std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()}},
                    "Arn.Resp:-2147483648=2147483647:\r\n"},
        MessageCase{{}, "Arn.Resp:\r\n"}));

TEST(ValuesMessage, OnePairLineIsNineteenCharactersBeforeTheLineEnd) {
  const ZempPair pair{256, 11800};
  const std::string line = build_values_message({&pair, 1});
  EXPECT_EQ(line.size(), 19u + 2u);
  EXPECT_EQ(line.substr(19), "\r\n");
}

}  // namespace
}  // namespace tarvion
