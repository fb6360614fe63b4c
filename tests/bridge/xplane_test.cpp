// X-Plane's datagrams byte for byte, and the adapter's subscriptions,
// answers and silence handling with stepped time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "bridge/xplane_adapter.h"
#include "bridge/xplane_packets.h"

namespace tarvion::bridge {
namespace {

std::string le32(uint32_t v) {
  return {char(v & 0xff), char(v >> 8 & 0xff), char(v >> 16 & 0xff), char(v >> 24)};
}
std::string lef(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  return le32(bits);
}

TEST(XPlanePackets, RequestsHaveTheDocumentedLayoutAndAnswersAreReadSafely) {
  const std::string rref = rref_request(10, 3, "sim/cockpit/radios/com1_freq_hz");
  ASSERT_EQ(rref.size(), kRrefRequestSize);
  EXPECT_EQ(rref.substr(0, 13), std::string("RREF\0", 5) + le32(10) + le32(3));
  EXPECT_EQ(rref.substr(13, 32), std::string("sim/cockpit/radios/com1_freq_hz") + '\0');
  const std::string dref = dref_request(11900.0f, "sim/cockpit/radios/com1_freq_hz");
  ASSERT_EQ(dref.size(), kDrefSize);
  EXPECT_EQ(dref.substr(0, 9), std::string("DREF\0", 5) + lef(11900.0f));
  EXPECT_EQ(dref_request(1, std::string(600, 'x'))[kDrefSize - 1], '\0') << "name cut, still ended";

  struct Case {
    std::string datagram;
    std::optional<std::vector<std::pair<int32_t, float>>> pairs;
  };
  const Case cases[] = {
      {"RREF," + le32(0) + lef(11830) + le32(6) + lef(1200),
       std::vector<std::pair<int32_t, float>>{{0, 11830}, {6, 1200}}},
      {"RREFO" + le32(2) + lef(200) + "abc", std::vector<std::pair<int32_t, float>>{{2, 200}}},
      {"RREF,", std::vector<std::pair<int32_t, float>>{}},
      {"RREF", std::nullopt},
      {"DATA*" + le32(0), std::nullopt},
  };
  for (const Case& c : cases) {
    const auto parsed = parse_rref_answer(c.datagram);
    ASSERT_EQ(parsed.has_value(), c.pairs.has_value());
    if (!parsed) continue;
    std::vector<std::pair<int32_t, float>> got;
    for (const auto& v : *parsed) got.emplace_back(v.index, v.value);
    EXPECT_EQ(got, *c.pairs);
  }

  const std::string beacon = std::string("BECN\0", 5) + '\1' + '\2' + le32(1) + le32(120001) +
                             le32(1) + "\x68\xbf" + "sim-pc" + '\0' + "\x00\x00";
  const auto found = parse_beacon(beacon);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->port, 49000);
  EXPECT_EQ(found->version, 120001);
  EXPECT_EQ(found->computer_name, "sim-pc");
  EXPECT_FALSE(parse_beacon(beacon.substr(0, 20)));
  std::string planemaker = beacon;
  planemaker[7] = 2;
  EXPECT_FALSE(parse_beacon(planemaker));
}

TEST(XPlaneAdapter, SubscribesReportsAndSubscribesAgainWhenXPlaneFallsSilent) {
  const BridgeMapping mapping = BridgeMapping::builtin(Simulator::XPlane);
  std::vector<std::string> sent, log;
  std::vector<std::pair<size_t, double>> reports;
  XPlaneAdapter adapter(
      mapping, [&](const std::string& d) { sent.push_back(d); },
      [&](size_t i, double v) { reports.emplace_back(i, v); },
      {nullptr, [&](const std::string& l) { log.push_back(l); }, [](const std::string&) {}});
  auto now = Clock::time_point() + std::chrono::hours(1);

  adapter.write(0, 11900);
  EXPECT_TRUE(sent.empty()) << "no target yet";
  adapter.set_target("127.0.0.1:49000", now);
  ASSERT_EQ(sent.size(), 7u);
  EXPECT_EQ(sent[6], rref_request(kRrefRate, 6, "sim/cockpit/radios/transponder_code"));

  // Answers keep the subscriptions alive; indexes not ours are dropped.
  for (int i = 1; i <= 10; ++i) {
    now += Ms(500);
    adapter.on_datagram("RREF," + le32(6) + lef(1200) + le32(99) + lef(1), now);
    adapter.tick(now);
  }
  EXPECT_EQ(sent.size(), 7u);
  EXPECT_EQ(reports.size(), 10u);
  EXPECT_EQ(reports.back(), (std::pair<size_t, double>{6, 1200}));

  // A restarted X-Plane is silent: subscribe again, say so once.
  now += kXPlaneSilence;
  adapter.tick(now);
  EXPECT_EQ(sent.size(), 14u);
  now += kXPlaneSilence;
  adapter.tick(now);
  EXPECT_EQ(sent.size(), 21u);
  EXPECT_EQ(
      std::count_if(log.begin(), log.end(),
                    [](const std::string& l) { return l.find("stopped answering") != l.npos; }),
      1);
  adapter.write(0, 11900);
  EXPECT_EQ(sent.back(), dref_request(11900, "sim/cockpit/radios/com1_freq_hz"));
}

}  // namespace
}  // namespace tarvion::bridge
