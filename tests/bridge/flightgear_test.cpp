// FlightGear's property server lines and the adapter's conversation with it:
// data mode, subscriptions, answers in order, writes, and reconnecting.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "bridge/flightgear_adapter.h"
#include "bridge/flightgear_lines.h"

namespace tarvion::bridge {
namespace {

TEST(FlightGearLines, LinesAreCutSafelyAndValuesReadAsFlightGearWritesThem) {
  std::vector<std::string> lines;
  PropertyLineBuffer buffer;
  const auto keep = [&](std::string_view l) { lines.emplace_back(l); };
  buffer.add("/instrumentation/comm/frequencies/selected-mhz=121.5\r\n118.", keep);
  buffer.add("3\n" + std::string(kMaxPropertyLine + 10, 'x'), keep);
  buffer.add("tail of the long line\r\nafter\r\n", keep);
  EXPECT_THAT(lines, testing::ElementsAre("/instrumentation/comm/frequencies/selected-mhz=121.5",
                                          "118.3", "after"));

  const auto update =
      parse_property_update("/instrumentation/nav[1]/frequencies/selected-mhz=110.5");
  ASSERT_TRUE(update);
  EXPECT_EQ(update->path, "/instrumentation/nav[1]/frequencies/selected-mhz");
  EXPECT_EQ(normalise_property_path("/instrumentation/comm[0]/frequencies[0]/x[10]"),
            "/instrumentation/comm/frequencies/x[10]");
  EXPECT_FALSE(parse_property_update("Valid commands are: get x=1"));

  struct Case {
    const char* text;
    std::optional<double> number;
  };
  const Case numbers[] = {{"118.3", 118.3}, {" '1200' ", 1200}, {"-0.5", -0.5}, {"", {}},
                          {"nan", {}},      {"1e999", {}},      {"12abc", {}},  {"'", {}}};
  for (const Case& c : numbers) EXPECT_EQ(property_number(c.text), c.number) << c.text;
  EXPECT_EQ(property_text(11830 * 0.01), "118.3");
  EXPECT_EQ(property_text(200), "200");
  EXPECT_EQ(property_text(11802 * 0.01), "118.02");
}

TEST(FlightGearAdapter, SubscribesReadsWritesAndConnectsAgainAfterFlightGearRestarts) {
  const BridgeMapping mapping = BridgeMapping::builtin(Simulator::FlightGear);
  int connects = 0, lost = 0;
  std::string sent;
  std::vector<std::pair<size_t, double>> reports;
  std::vector<std::string> log;
  FlightGearAdapter adapter(
      mapping, "127.0.0.1:5401",
      {[&] { ++connects; }, [&](const std::string& s) { sent += s; }, [] {}},
      [&](size_t i, double v) { reports.emplace_back(i, v); }, [&] { ++lost; },
      {nullptr, [&](const std::string& l) { log.push_back(l); }, [](const std::string&) {}});
  auto now = Clock::time_point() + std::chrono::hours(1);

  // Not there yet: one attempt per retry period, said once.
  for (int i = 0; i < 2; ++i) {
    adapter.tick(now);
    adapter.tick(now);  // an attempt under way is not doubled
    adapter.failed(now);
    now += kFlightGearRetry;
  }
  EXPECT_EQ(connects, 2);
  EXPECT_EQ(log.size(), 1u);
  adapter.write(0, 119);
  EXPECT_EQ(sent, "");

  adapter.tick(now);
  adapter.connected();
  EXPECT_TRUE(
      sent.starts_with("data\r\nget /instrumentation/comm[0]/frequencies/selected-mhz\r\n"));
  EXPECT_THAT(sent, testing::HasSubstr("get /instrumentation/transponder/id-code\r\nsubscribe "
                                       "/instrumentation/comm[0]/frequencies/selected-mhz\r\n"));

  // Answers to the gets come in order, bare, among FlightGear's echoes of the
  // subscribe lines; updates name the path without [0].
  adapter.data("subscribe /instrumentation/comm[0]/frequencies/selected-mhz\r\n118.3\r\n");
  adapter.data("128.3\r\n/instrumentation/comm/frequencies/selected-mhz=121.5\r\n");
  adapter.data("/instrumentation/comm[1]/frequencies/selected-mhz=122.8\r\n112\r\nbogus\r\n");
  EXPECT_THAT(reports, testing::ElementsAre(
                           std::pair<size_t, double>{0, 118.3}, std::pair<size_t, double>{1, 128.3},
                           std::pair<size_t, double>{0, 121.5}, std::pair<size_t, double>{1, 122.8},
                           std::pair<size_t, double>{2, 112}));
  sent.clear();
  adapter.write(0, 11950 * 0.01);
  EXPECT_EQ(sent, "set /instrumentation/comm[0]/frequencies/selected-mhz 119.5\r\n");

  // FlightGear restarts: the values are forgotten and a new connection follows.
  adapter.failed(now);
  EXPECT_EQ(lost, 1);
  adapter.tick(now + kFlightGearRetry - Ms(1));
  EXPECT_EQ(connects, 3);
  adapter.tick(now + kFlightGearRetry);
  EXPECT_EQ(connects, 4);
}

}  // namespace
}  // namespace tarvion::bridge
