// Output reports to what the cockpit window draws: digits, blanks, decimal
// points, lamps and brightness for every panel kind (display_golden.txt).
#include <gtest/gtest.h>

#include "golden_file.h"
#include "host_text.h"
#include "panel_display.h"
#include "panel_model.h"

namespace virtual_panels {
namespace {

TEST(PanelDisplay, EveryKindShowsWhatItsOutputReportsSay) {
  auto blocks = testing::read_golden("display_golden.txt");
  ASSERT_EQ(blocks.size(), 7u);  // every panel kind
  for (const auto& block : blocks) {
    auto kind = kind_of(block.kind);
    ASSERT_TRUE(kind) << block.kind;
    PanelView view = initial_view(*kind);
    for (const auto& line : block.lines) {
      SCOPED_TRACE("display_golden.txt:" + std::to_string(line.line_number));
      auto report = from_hex(line.left);
      ASSERT_TRUE(report);
      EXPECT_EQ(apply_output(view, *report), report->size() >= 9);
      EXPECT_EQ(shown_text(view), line.right);
    }
  }
}

TEST(PanelDisplay, BeforeAnyReportEverythingIsDarkAndBrightnessDims) {
  PanelView view = initial_view(17);
  EXPECT_EQ(shown_text(view), "[      ] [      ] lamps - bright 0");
  EXPECT_FALSE(view.told);
  EXPECT_EQ(glow(0), 0.0);
  EXPECT_LT(glow(1), glow(60));
  EXPECT_LT(glow(60), glow(121));
  EXPECT_EQ(glow(121), 1.0);
  EXPECT_EQ(glow(255), 1.0);
}

}  // namespace
}  // namespace virtual_panels
