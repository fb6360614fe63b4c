// The receive side: line framing, keep-alive, values lines and their errors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <vector>

#include "receive_recorder.h"

namespace tarvion {
namespace {

using ::testing::ElementsAreArray;
using namespace std::string_literals;

struct ReceiveCase {
  const char* name;
  std::vector<std::string> arrivals;  // one on_data_received call each
  std::vector<std::string> expected;  // what happens, in order, over all arrivals
  size_t left_waiting;                // bytes still waiting for their line end
};

const std::vector<ReceiveCase> kFramingCases = {
    {"one values line, one pair", {"Arn.Resp:256=11800:\r\n"}, {"pair 256=11800"}, 0},
    {"pairs are applied in line order",
     {"Arn.Resp:311=7700:256=11802:258=379:\r\n"},
     {"pair 311=7700", "pair 256=11802", "pair 258=379"},
     0},
    {"a line split over arrivals waits for its CR LF",
     {"Arn.Resp:256=1", "1800:25", "7=1", "2000:\r", "\n"},
     {"pair 256=11800", "pair 257=12000"},
     0},
    {"two lines in one arrival are both handled, in order",
     {"Arn.Resp:256=1:\r\nArn.Resp:257=2:\r\n"},
     {"pair 256=1", "pair 257=2"},
     0},
    {"bytes after the last CR LF wait for the next arrival",
     {"Arn.Resp:256=1:\r\nArn.Resp:257=", "2:\r\n"},
     {"pair 256=1", "pair 257=2"},
     0},
    {"an unfinished line stays in the buffer", {"Arn.Resp:256=1:"}, {}, 15},
    {"spaces anywhere are removed",
     {" Arn .Re sp: 256 = 11 800 : 2 57= -5 :  \r\n"},
     {"pair 256=11800", "pair 257=-5"},
     0},
    {"spaces do not count towards the waiting bytes", {"Arn.Resp:    "}, {}, 9},
    {"a keep-alive is answered at once with the same bytes",
     {"Arn.Vivo:\r\n"},
     {"send \"Arn.Vivo:\\r\\n\""},
     0},
    {"a keep-alive with spaces before its CR LF is answered",
     {"Arn.Vivo:   \r\n"},
     {"send \"Arn.Vivo:\\r\\n\""},
     0},
    {"a keep-alive split over arrivals is answered once complete",
     {"Arn.Vi", "vo:\r", "\n"},
     {"send \"Arn.Vivo:\\r\\n\""},
     0},
    {"a lower-case keep-alive is not answered", {"arn.vivo:\r\n", "ARN.VIVO:\r\n"}, {}, 0},
    {"a keep-alive with more text before CR LF is not answered", {"Arn.Vivo:x\r\n"}, {}, 0},
    {"a keep-alive with a tab before CR LF is not answered", {"Arn.Vivo:\t\r\n"}, {}, 0},
    {"lines between keep-alives are handled in order",
     {"Arn.Vivo:\r\nArn.Resp:256=1:\r\nArn.Vivo:\r\n"},
     {"send \"Arn.Vivo:\\r\\n\"", "pair 256=1", "send \"Arn.Vivo:\\r\\n\""},
     0},
    {"a lone LF does not end a line",
     {"Arn.Resp:256=1:\n", "Arn.Resp:257=2:\r\n"},
     {"pair 256=1", "pair 257=2"},
     0},
    {"a lone CR does not end a line, so the keep-alive behind it is no keep-alive",
     {"Arn.Vivo:\rArn.Vivo:\r\n"},
     {},
     0},
    {"CR at the end of one arrival and LF at the start of the next end a line",
     {"Arn.Vivo:\r", "\nArn.Resp:256=3:\r\n"},
     {"send \"Arn.Vivo:\\r\\n\"", "pair 256=3"},
     0},
    {"LF CR is no line end", {"Arn.Vivo:\n\r"}, {}, 11},
    {"other lines are dropped without answer",
     {"Hello\r\n", "arn.resp:256=1:\r\n", "Arn.Fin:\r\n", "\r\n"},
     {},
     0},
    {"a values line alone changes nothing", {"Arn.Resp:\r\n"}, {}, 0},
    {"items without = are skipped",
     {"Arn.Resp:junk:256=1::257=2:\r\n"},
     {"pair 256=1", "pair 257=2"},
     0},
    {"an empty value counts as 0", {"Arn.Resp:256=:\r\n"}, {"pair 256=0"}, 0},
    {"the value is the text after the first =",
     {"Arn.Resp:256=1=2:\r\n"},
     {"error '1=2' is not a valid integer value"},
     0},
    {"a prefix that is not at the start makes no values line", {"xArn.Resp:256=1:\r\n"}, {}, 0},
    {"numbers and values are 32-bit signed",
     {"Arn.Resp:256=2147483647:257=-2147483648:\r\n"},
     {"pair 256=2147483647", "pair 257=-2147483648"},
     0},
};

const std::vector<ReceiveCase> kErrorCases = {
    {"a bad value mid-line: earlier pairs applied, the rest of the line lost",
     {"Arn.Resp:256=1:257=x:258=3:\r\n"},
     {"pair 256=1", "error 'x' is not a valid integer value"},
     0},
    {"a bad number is reported with its text",
     {"Arn.Resp:25a=1:\r\n"},
     {"error '25a' is not a valid integer value"},
     0},
    {"an empty number fails", {"Arn.Resp:=5:\r\n"}, {"error '' is not a valid integer value"}, 0},
    {"the value is converted before the number",
     {"Arn.Resp:n=v:\r\n"},
     {"error 'v' is not a valid integer value"},
     0},
    {"the last pair without its colon keeps CR LF in its value",
     {"Arn.Resp:256=1:257=5\r\n"},
     {"pair 256=1", "error '5\\x0D\\x0A' is not a valid integer value"},
     0},
    {"a value out of the 32-bit range fails",
     {"Arn.Resp:256=2147483648:\r\n"},
     {"error '2147483648' is not a valid integer value"},
     0},
    {"a tab is no space and spoils the value",
     {"Arn.Resp:256=\t1:\r\n"},
     {"error '\t1' is not a valid integer value"},
     0},
    {"lines after a failing one wait for the next arrival",
     {"Arn.Resp:256=x:\r\nArn.Vivo:\r\nArn.Resp:257=2:\r\n", "Arn.Resp:258=3:\r\n"},
     {"error 'x' is not a valid integer value", "send \"Arn.Vivo:\\r\\n\"", "pair 257=2",
      "pair 258=3"},
     0},
    {"control bytes of a bad text are written out, so the message stays whole",
     {"Arn.Resp:256=1\x00\x1b[2J\x7f:\r\n"s},
     {"error '1\\x00\\x1B[2J\\x7F' is not a valid integer value"},
     0},
    {"a long bad text is cut to 80 characters",
     {"Arn.Resp:256=" + std::string(100, 'a') + ":\r\n"},
     {"error '" + std::string(80, 'a') + "...' is not a valid integer value"},
     0},
    {"each failing line is its own error",
     {"Arn.Resp:256=x:\r\nArn.Resp:257=y:\r\n", ""},
     {"error 'x' is not a valid integer value", "error 'y' is not a valid integer value"},
     0},
};

void PrintTo(const ReceiveCase& c, std::ostream* os) {
  *os << c.name;
}

class ReceiveTable : public ::testing::TestWithParam<ReceiveCase> {};

TEST_P(ReceiveTable, HandlesTheArrivalsAsExpected) {
  const ReceiveCase& c = GetParam();
  ReceiveRecorder recorder;
  for (const std::string& bytes : c.arrivals) recorder.feed(bytes);
  EXPECT_THAT(recorder.events, ElementsAreArray(c.expected));
  EXPECT_EQ(recorder.buffer.size(), c.left_waiting);
}

std::string case_name(const ::testing::TestParamInfo<ReceiveCase>& info) {
  std::string name;
  for (const char* p = info.param.name; *p; ++p) {
    name += (std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_');
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Framing, ReceiveTable, ::testing::ValuesIn(kFramingCases), case_name);
INSTANTIATE_TEST_SUITE_P(Errors, ReceiveTable, ::testing::ValuesIn(kErrorCases), case_name);

// However the stream is cut into arrivals, the same things happen in the same
// order: cut at every single position, and byte by byte.
TEST(ReceiveChunking, CuttingTheStreamAnywhereChangesNothing) {
  const std::string stream =
      "Arn.Vivo:\r\n Arn.Resp: 256 = 11800 :257=:\r\nnoise\r\r\n"
      "Arn.Resp:258=x:259=1:\r\nArn.Vivo:\r\nArn.Resp:311=7700\r\nArn.Resp:254=10800:\r\n"
      "Arn.Vivo:\r";
  ReceiveRecorder whole;
  whole.feed_all({stream});
  ASSERT_EQ(whole.events.size(), 7u);  // the stream exercises every kind of outcome

  for (size_t cut = 1; cut < stream.size(); ++cut) {
    ReceiveRecorder split;
    split.feed_all({stream.substr(0, cut), stream.substr(cut)});
    EXPECT_EQ(split.events, whole.events) << "cut at " << cut;
    EXPECT_EQ(split.buffer.size(), whole.buffer.size()) << "cut at " << cut;
  }
  std::vector<std::string> bytes;
  for (char c : stream) bytes.emplace_back(1, c);
  ReceiveRecorder byte_by_byte;
  byte_by_byte.feed_all(bytes);
  EXPECT_EQ(byte_by_byte.events, whole.events);
}

TEST(ReceiveBuffer, ClearDropsAnUnfinishedLine) {
  ReceiveRecorder recorder;
  recorder.feed("Arn.Resp:256=1");
  recorder.buffer.clear();
  recorder.feed(":257=2:\r\nArn.Vivo:\r\n");
  EXPECT_THAT(recorder.events, ElementsAreArray({"send \"Arn.Vivo:\\r\\n\""}));
  EXPECT_EQ(recorder.buffer.size(), 0u);
}

}  // namespace
}  // namespace tarvion
