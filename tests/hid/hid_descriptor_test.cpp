// Report lengths from raw descriptors, and what a broken or hostile
// descriptor gives instead: zero lengths, never a read past its end.
#include "hid/hid_descriptor.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "hidraw/panel_descriptors.h"

namespace tarvion {
namespace {

using testing::DescriptorBuilder;
using testing::panel_descriptor;

HidReportLayout parse(const std::vector<uint8_t>& bytes) {
  // A copy of exactly the descriptor's size: AddressSanitizer then catches
  // any read past its end.
  auto copy = std::make_unique<uint8_t[]>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), copy.get());
  return parse_report_descriptor(std::span<const uint8_t>(copy.get(), bytes.size()));
}

struct LayoutCase {
  // Failures name the case, not its bytes.
  friend void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }
  std::string name;
  std::vector<uint8_t> descriptor;
  uint16_t input, output, feature;
  bool numbered;
};

class ValidDescriptor : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(ValidDescriptor, GivesTheLongestReportOfEachKindWithItsReportIdByte) {
  const LayoutCase& c = GetParam();
  HidReportLayout layout = parse(c.descriptor);
  EXPECT_TRUE(layout.valid);
  EXPECT_EQ(layout.input_report_length, c.input);
  EXPECT_EQ(layout.output_report_length, c.output);
  EXPECT_EQ(layout.feature_report_length, c.feature);
  EXPECT_EQ(layout.numbered, c.numbered);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, ValidDescriptor,
    ::testing::Values(
        // The panels: unnumbered, the report-ID byte still counted.
        LayoutCase{"com_panel", panel_descriptor(3, 8), 4, 9, 0, false},
        LayoutCase{"switch_panel", panel_descriptor(5, 8), 6, 9, 0, false},
        LayoutCase{"numbered_panel", panel_descriptor(3, 8, 5), 4, 9, 0, true},
        // Two numbered reports of one kind: the longer one sets the length.
        LayoutCase{"longest_of_two_reports",
                   DescriptorBuilder{}
                       .collection()
                       .report_id(1)
                       .inputs(8, 2)
                       .report_id(2)
                       .inputs(8, 7)
                       .report_id(3)
                       .outputs(8, 1)
                       .end_collection()
                       .bytes,
                   8, 2, 0, true},
        // Fields of one report add up; bits are rounded up to whole bytes.
        LayoutCase{"bits_round_up",
                   DescriptorBuilder{}
                       .collection()
                       .inputs(1, 3)
                       .inputs(1, 6)
                       .outputs(4, 1)
                       .features(16, 2)
                       .end_collection()
                       .bytes,
                   3, 2, 5, false},
        // Pop brings back the report size and ID that Push saved.
        LayoutCase{"push_pop_restore",
                   DescriptorBuilder{}
                       .report_id(1)
                       .report_size(8)
                       .push()
                       .report_id(2)
                       .report_size(1)
                       .report_count(1)
                       .input()
                       .pop()
                       .report_count(4)
                       .input()
                       .bytes,
                   5, 0, 0, true},
        // A long item (prefix 0xFE, size, tag, data) is skipped whole.
        LayoutCase{"long_item_skipped",
                   DescriptorBuilder{}.raw({0xFE, 0x03, 0x10, 0x81, 0x02, 0x91}).inputs(8, 2).bytes,
                   3, 0, 0, false},
        LayoutCase{"empty", {}, 0, 0, 0, false},
        // The largest report hidraw passes on.
        LayoutCase{"largest_report", DescriptorBuilder{}.inputs(256, 511).inputs(8, 31).bytes,
                   static_cast<uint16_t>(kMaxReportBytes), 0, 0, false}),
    [](const auto& info) { return info.param.name; });

class BrokenDescriptor
    : public ::testing::TestWithParam<std::pair<std::string, std::vector<uint8_t>>> {};

TEST_P(BrokenDescriptor, GivesZeroLengths) {
  HidReportLayout layout = parse(GetParam().second);
  EXPECT_FALSE(layout.valid);
  EXPECT_EQ(layout.input_report_length, 0);
  EXPECT_EQ(layout.output_report_length, 0);
  EXPECT_EQ(layout.feature_report_length, 0);
  EXPECT_FALSE(layout.numbered);
}

std::vector<uint8_t> repeated(std::vector<uint8_t> unit, std::size_t times) {
  std::vector<uint8_t> out;
  for (std::size_t i = 0; i < times; ++i) out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

std::vector<uint8_t> with_tail(std::vector<uint8_t> head, std::vector<uint8_t> tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, BrokenDescriptor,
    ::testing::Values(
        // Truncated: an item's data runs past the end.
        std::pair{std::string("cut_in_two_byte_item"), std::vector<uint8_t>{0x26, 0xFF}},
        std::pair{std::string("cut_in_four_byte_item"), std::vector<uint8_t>{0x77, 1, 2, 3}},
        std::pair{std::string("cut_long_item_header"), std::vector<uint8_t>{0xFE, 0x05}},
        std::pair{std::string("cut_long_item_data"), std::vector<uint8_t>{0xFE, 0x05, 0x10, 1, 2}},
        std::pair{std::string("cut_inside_collection"),
                  DescriptorBuilder{}.collection().inputs(8, 3).bytes},
        // Unbalanced nesting.
        std::pair{std::string("end_without_collection"),
                  DescriptorBuilder{}.inputs(8, 3).end_collection().bytes},
        std::pair{std::string("pop_without_push"), DescriptorBuilder{}.pop().inputs(8, 1).bytes},
        // Loops a naive parser would follow without end: nesting and the
        // global stack grow without bound.
        std::pair{std::string("collections_without_end"),
                  with_tail(repeated({0xA1, 0x01}, 2000), repeated({0xC0}, 2000))},
        std::pair{std::string("push_without_end"), repeated({0xA4}, 1000)},
        // Absurd sizes.
        std::pair{std::string("report_size_over_256"), DescriptorBuilder{}.inputs(257, 1).bytes},
        std::pair{std::string("report_count_over_12288"),
                  DescriptorBuilder{}.inputs(8, 12289).bytes},
        std::pair{std::string("report_past_largest"),
                  DescriptorBuilder{}.inputs(256, 511).inputs(8, 32).bytes},
        // Each item is within bounds, their sum would wrap a 32-bit count.
        std::pair{std::string("sum_would_overflow"),
                  with_tail(DescriptorBuilder{}.report_size(256).report_count(12288).bytes,
                            repeated({0x81, 0x02}, 1400))},
        std::pair{std::string("report_id_zero"),
                  DescriptorBuilder{}.report_id(0).inputs(8, 1).bytes},
        std::pair{std::string("report_id_over_255"),
                  DescriptorBuilder{}.report_id(256).inputs(8, 1).bytes},
        std::pair{std::string("report_id_without_data"),
                  DescriptorBuilder{}.raw({0x84}).inputs(8, 1).bytes},
        // Longer than any device may have.
        std::pair{std::string("longer_than_4096"),
                  with_tail(DescriptorBuilder{}.inputs(8, 1).bytes,
                            std::vector<uint8_t>(kMaxReportDescriptorBytes, 0x00))}),
    [](const auto& info) { return info.param.first; });

TEST(DescriptorLimits, AcceptTheLargestAllowedNestingAndStack) {
  // The bounds above are limits, not a refusal of deep but sane descriptors.
  std::vector<uint8_t> nested = with_tail(repeated({0xA1, 0x01}, 64), repeated({0xC0}, 64));
  EXPECT_TRUE(parse(nested).valid);
  std::vector<uint8_t> stacked = with_tail(repeated({0xA4}, 16), repeated({0xB4}, 16));
  EXPECT_TRUE(parse(stacked).valid);
  EXPECT_FALSE(parse(with_tail(repeated({0xA1, 0x01}, 65), repeated({0xC0}, 65))).valid);
  EXPECT_FALSE(parse(with_tail(repeated({0xA4}, 17), repeated({0xB4}, 17))).valid);
}

TEST(DescriptorTruncation, EveryCutOfAPanelDescriptorIsReadWithinBounds) {
  // Cut anywhere before its end, the descriptor has a cut item, an open
  // collection, or no report fields yet: zero lengths every time, and never a
  // read past the cut.
  std::vector<uint8_t> whole = panel_descriptor(3, 8, 7);
  ASSERT_TRUE(parse(whole).valid);
  for (std::size_t cut = 1; cut < whole.size(); ++cut) {
    std::vector<uint8_t> part(whole.begin(), whole.begin() + static_cast<long>(cut));
    HidReportLayout layout = parse(part);
    EXPECT_EQ(layout.input_report_length, 0) << "cut at " << cut;
    EXPECT_EQ(layout.output_report_length, 0) << "cut at " << cut;
  }
}

}  // namespace
}  // namespace tarvion
