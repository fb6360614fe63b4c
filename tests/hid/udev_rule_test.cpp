// The udev rule that opens the panels' hidraw nodes to the user must name
// exactly the panel kinds the program recognises: one missing there leaves a
// panel closed to the user, one too many opens a stranger's device.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <string_view>

#include "radio/panel_kinds.h"

namespace tarvion {
namespace {

// udev's match: '|' separates alternatives; '*', '?' and '[...]' as in a shell glob.
bool glob_match(std::string_view pattern, std::string_view text) {
  if (pattern.empty()) return text.empty();
  if (pattern[0] == '*') {
    for (std::size_t skip = 0; skip <= text.size(); ++skip) {
      if (glob_match(pattern.substr(1), text.substr(skip))) return true;
    }
    return false;
  }
  if (text.empty()) return false;
  if (pattern[0] == '[') {
    std::size_t close = pattern.find(']', 1);
    if (close == std::string_view::npos) return false;
    std::string_view set = pattern.substr(1, close - 1);
    bool in = false;
    for (std::size_t i = 0; i < set.size(); ++i) {
      if (i + 2 < set.size() && set[i + 1] == '-') {
        in = in || (text[0] >= set[i] && text[0] <= set[i + 2]);
        i += 2;
      } else {
        in = in || text[0] == set[i];
      }
    }
    return in && glob_match(pattern.substr(close + 1), text.substr(1));
  }
  return (pattern[0] == '?' || pattern[0] == text[0]) &&
         glob_match(pattern.substr(1), text.substr(1));
}

bool udev_match(std::string_view pattern, std::string_view text) {
  for (;;) {
    std::size_t bar = pattern.find('|');
    if (glob_match(pattern.substr(0, bar), text)) return true;
    if (bar == std::string_view::npos) return false;
    pattern.remove_prefix(bar + 1);
  }
}

// The quoted value after key=="; empty when the line has none.
std::string value_of(const std::string& line, const std::string& key) {
  std::size_t at = line.find(key + "==\"");
  if (at == std::string::npos) return {};
  at += key.size() + 3;
  return line.substr(at, line.find('"', at) - at);
}

TEST(UdevRule, OpensExactlyThePanelKindsOfTheTable) {
  std::ifstream in(std::string(TARVION_TEST_DATA) +
                   "/../../packaging/udev/70-tarvion-panels.rules");
  ASSERT_TRUE(in) << "the udev rule cannot be read";
  std::set<uint16_t> kinds;
  for (const PanelKindTraits& traits : kPanelKinds) kinds.insert(traits.kind);
  int active_rules = 0;
  for (std::string line; std::getline(in, line);) {
    std::string products = value_of(line, "ATTRS{idProduct}");
    if (products.empty()) continue;
    if (line.rfind('#', 0) != 0) ++active_rules;
    SCOPED_TRACE(line);
    EXPECT_EQ(value_of(line, "ATTRS{idVendor}"), "0000");
    // sysfs gives the ID as four lower-case hex digits.
    std::set<uint16_t> opened;
    for (uint32_t id = 0; id <= 0xFFFF; ++id) {
      char text[5];
      std::snprintf(text, sizeof text, "%04x", id);
      if (udev_match(products, text)) opened.insert(static_cast<uint16_t>(id));
    }
    EXPECT_EQ(opened, kinds);
  }
  EXPECT_EQ(active_rules, 1);
}

}  // namespace
}  // namespace tarvion
