// Device names from the kernel and the virtual panel host (UTF-8) as the
// UTF-16 product strings the HID layer lists: well-formed text kept,
// malformed bytes replaced, never overrun.
#include "base/utf16.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace tarvion {
namespace {

struct Utf16Case {
  // Failures name the case, not its bytes.
  friend void PrintTo(const Utf16Case& c, std::ostream* os) { *os << c.name; }
  std::string name;
  std::string utf8;
  std::u16string utf16;
};

class Utf8ToUtf16 : public ::testing::TestWithParam<Utf16Case> {};

TEST_P(Utf8ToUtf16, Converts) {
  EXPECT_EQ(utf8_to_utf16(GetParam().utf8), GetParam().utf16);
}

INSTANTIATE_TEST_SUITE_P(
    Text, Utf8ToUtf16,
    ::testing::Values(Utf16Case{"ascii", "Pendra COM Panel", u"Pendra COM Panel"},
                      Utf16Case{"two_byte",
                                "Pendra \xC3\x91"
                                "AV",
                                u"Pendra \u00D1AV"},
                      Utf16Case{"three_byte", "\xE2\x82\xAC 1", u"\u20AC 1"},
                      Utf16Case{"four_byte_becomes_surrogate_pair", "A\xF0\x9F\x9B\xA9",
                                u"A\U0001F6E9"},
                      Utf16Case{"stops_at_nul", std::string("RMP\0junk", 8), u"RMP"},
                      Utf16Case{"empty", "", u""},
                      Utf16Case{"stray_continuation_byte",
                                "A\x80"
                                "B",
                                u"A\uFFFD"
                                "B"},
                      Utf16Case{"lead_byte_never_used", "\xC0\xAF\xFF", u"\uFFFD\uFFFD\uFFFD"},
                      Utf16Case{"overlong_three_byte", "\xE0\x80\xAF", u"\uFFFD"},
                      Utf16Case{"encoded_surrogate", "\xED\xA0\x80", u"\uFFFD"},
                      Utf16Case{"past_10FFFF", "\xF4\x90\x80\x80", u"\uFFFD"},
                      Utf16Case{"cut_at_end", "OK\xE2\x82", u"OK\uFFFD"},
                      Utf16Case{"cut_by_next_lead",
                                "\xE2\x82"
                                "A",
                                u"\uFFFD"
                                "A"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace tarvion
