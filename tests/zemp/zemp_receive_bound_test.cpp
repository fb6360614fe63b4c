// The bound on the receive buffer: a line longer than kZempMaxLineLength is
// dropped whole, however it arrives, and the buffer never holds more.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "receive_recorder.h"

namespace tarvion {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr const char* kAnswer = "send \"Arn.Vivo:\\r\\n\"";

// A values line of exactly `length` bytes (after space removal), CR LF
// included, whose only pair is 256=7; items without "=" pad it out.
std::string values_line_of_length(size_t length) {
  const std::string head = "Arn.Resp:", tail = ":256=7:\r\n";
  return head + std::string(length - head.size() - tail.size(), 'x') + tail;
}

std::vector<std::string> cut(const std::string& stream, size_t chunk) {
  std::vector<std::string> arrivals;
  for (size_t at = 0; at < stream.size(); at += chunk) arrivals.push_back(stream.substr(at, chunk));
  return arrivals;
}

struct LongLineCase {
  size_t length;
  size_t chunk;
  bool accepted;
};

void PrintTo(const LongLineCase& c, std::ostream* os) {
  *os << c.length << " bytes in arrivals of " << c.chunk;
}

class LongLine : public ::testing::TestWithParam<LongLineCase> {};

TEST_P(LongLine, IsTakenUpToTheBoundAndDroppedWholeBeyondIt) {
  const LongLineCase& c = GetParam();
  const std::string stream = values_line_of_length(c.length) + "Arn.Vivo:\r\n";
  ReceiveRecorder recorder;
  for (const std::string& bytes : cut(stream, c.chunk)) {
    recorder.feed(bytes);
    ASSERT_LE(recorder.buffer.size(), kZempMaxLineLength);
  }
  if (c.accepted) {
    EXPECT_THAT(recorder.events, ElementsAre("pair 256=7", kAnswer));
  } else {
    EXPECT_THAT(recorder.events, ElementsAre(kAnswer));
  }
  EXPECT_EQ(recorder.buffer.size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    LengthsAndCuts, LongLine,
    ::testing::Values(LongLineCase{kZempMaxLineLength, 1 << 20, true},
                      LongLineCase{kZempMaxLineLength, 4096, true},
                      LongLineCase{kZempMaxLineLength, 1, true},
                      LongLineCase{kZempMaxLineLength + 1, 1 << 20, false},
                      LongLineCase{kZempMaxLineLength + 1, 4096, false},
                      LongLineCase{kZempMaxLineLength + 1, 1, false},
                      // The CR alone passes the bound; its LF comes in the next arrival.
                      LongLineCase{kZempMaxLineLength + 2, 1, false},
                      LongLineCase{kZempMaxLineLength + 2, kZempMaxLineLength + 1, false},
                      LongLineCase{3 * kZempMaxLineLength, 1000, false}));

TEST(ReceiveBound, SpacesDoNotCountTowardsTheBound) {
  std::string line = values_line_of_length(kZempMaxLineLength);
  line.insert(20, std::string(10000, ' '));
  ReceiveRecorder recorder;
  for (const std::string& bytes : cut(line, 4096)) recorder.feed(bytes);
  EXPECT_THAT(recorder.events, ElementsAre("pair 256=7"));
}

// A peer that never ends its line: the buffer stays bounded, and what finally
// ends that line is dropped with it instead of being read as pairs.
TEST(ReceiveBound, APeerThatNeverSendsALineEndCannotGrowTheBuffer) {
  ReceiveRecorder recorder;
  recorder.feed("Arn.Resp:");
  std::string pairs;
  while (pairs.size() < 4096) pairs += "256=1:";
  for (int i = 0; i < 256; ++i) {  // about a megabyte
    recorder.feed(pairs);
    ASSERT_LE(recorder.buffer.size(), kZempMaxLineLength) << "after arrival " << i;
  }
  recorder.feed("257=2:\r\nArn.Resp:258=3:\r\n");
  EXPECT_THAT(recorder.events, ElementsAre("pair 258=3"));
}

struct CarriageReturnCase {
  const char* name;
  std::string next_arrival;
  std::vector<std::string> expected;
};

// An over-long line cut right after its CR: the line end may straddle the two arrivals.
void PrintTo(const CarriageReturnCase& c, std::ostream* os) {
  *os << c.name;
}

class CarriageReturnAtTheDrop : public ::testing::TestWithParam<CarriageReturnCase> {};

TEST_P(CarriageReturnAtTheDrop, FindsTheLineEndAcrossArrivals) {
  ReceiveRecorder recorder;
  recorder.feed("Arn.Resp:" + std::string(kZempMaxLineLength, 'x') + "\r");
  ASSERT_LE(recorder.buffer.size(), 1u);
  recorder.feed(GetParam().next_arrival);
  EXPECT_THAT(recorder.events, ElementsAreArray(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CarriageReturnAtTheDrop,
    ::testing::Values(
        CarriageReturnCase{"LF completes the over-long line", "\nArn.Vivo:\r\n", {kAnswer}},
        CarriageReturnCase{"a lone CR does not end it", "Arn.Vivo:\r\nArn.Vivo:\r\n", {kAnswer}},
        CarriageReturnCase{
            "more text, then the line end", "yyy\r\nArn.Resp:256=4:\r\n", {"pair 256=4"}}),
    [](const auto& info) { return std::to_string(info.index); });

TEST(ReceiveBound, ClearEndsTheDropping) {
  ReceiveRecorder recorder;
  recorder.feed(std::string(kZempMaxLineLength + 1, 'x'));
  recorder.buffer.clear();
  recorder.feed("Arn.Vivo:\r\n");
  EXPECT_THAT(recorder.events, ElementsAre(kAnswer));
}

}  // namespace
}  // namespace tarvion
