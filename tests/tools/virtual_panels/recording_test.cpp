// A recording is a host script: timed raw input reports, the output reports
// as expectations, plugging as commands; the host's script reader reads it back.
#include "recording.h"

#include <gtest/gtest.h>

#include <sstream>

#include "host_text.h"

namespace virtual_panels {
namespace {

TEST(Recording, WritesEachReportWithItsDelayAsAReplayableScript) {
  Recording rec({panel_argument("com1", 13, "0001", "com"), panel_argument("sw", 12, "7", "")});
  auto hex = [](const std::string& text) { return *from_hex(text); };
  rec.output(1000, "com1", hex("000080110080118879"));
  rec.input(1250, "com1", hex("00feff"));
  rec.output(1270, "com1", hex("000080110090118879"));
  rec.output(1290, "com1", hex("000080110090118879"));  // shown already: not again
  rec.input(1290, "com1", hex("00bfff"));
  rec.plugged(2000, "rmp1", 17, "0002", "rmp");
  rec.output(2010, "rmp1", hex("000080110090118879"));  // another panel's first
  rec.unplugged(2500, "rmp1");
  rec.output(2600, "com1", hex("000080110080118879"));  // back to an earlier image
  const std::string expected =
      "# virtual-panels recording; replay with:\n"
      "# virtual-panels --script FILE com1=com:0001:com sw=switch:7\n"
      "expect com1 000080110080118879 5000\n"
      "+250 raw com1 00feff\n"
      "+20 expect com1 000080110090118879 5000\n"
      "+20 raw com1 00bfff\n"
      "+710 plug rmp1 rmp 0002 rmp\n"
      "+10 expect rmp1 000080110090118879 5000\n"
      "+490 unplug rmp1\n"
      "+100 expect com1 000080110080118879 5000\n";
  EXPECT_EQ(rec.script(), expected);

  std::istringstream in(rec.script());
  auto lines = parse_script(in);
  ASSERT_EQ(lines.size(), 8u);
  int total = 0;
  for (const auto& line : lines) total += line.delay_ms;
  EXPECT_EQ(total, 1600);
  EXPECT_EQ(lines[1].command, "raw com1 00feff");
}

}  // namespace
}  // namespace virtual_panels
