// Device numbers of hidraw devices: the same for a device across listings,
// the same for a panel plugged back into its port, never shared.
#include "platform/linux/hidraw_numbering.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "hid/panel_recognition.h"

namespace tarvion {
namespace {

using Listing = std::vector<HidrawSeat>;
using Numbers = std::map<std::string, uint16_t>;  // identity -> number

// Runs one listing and checks what holds after every listing: every device
// has a four-digit number and no two share one.
Numbers list(DeviceNumberMemory& memory, const Listing& present) {
  std::vector<uint16_t> numbers = assign_device_numbers(present, memory);
  EXPECT_EQ(numbers.size(), present.size());
  Numbers by_identity;
  std::set<uint16_t> seen;
  for (std::size_t i = 0; i < present.size() && i < numbers.size(); ++i) {
    EXPECT_GE(numbers[i], kFirstDeviceNumber) << present[i].identity;
    EXPECT_LE(numbers[i], kLastDeviceNumber) << present[i].identity;
    EXPECT_TRUE(seen.insert(numbers[i]).second)
        << present[i].identity << " shares number " << numbers[i];
    by_identity[present[i].identity] = numbers[i];
  }
  return by_identity;
}

// Two different ports that ask for the same number.
std::pair<std::string, std::string> colliding_ports() {
  std::map<uint16_t, std::string> first_at;
  for (int i = 0;; ++i) {
    std::string port = "usb-0000:00:14.0-" + std::to_string(i) + "/input0";
    auto [it, inserted] = first_at.emplace(port_number_hint(port), port);
    if (!inserted) return {it->second, port};
  }
}

// A port that asks for the first number of all.
std::string port_asking_for_first_number() {
  for (int i = 0;; ++i) {
    std::string port = "usb-0000:00:1d.0-" + std::to_string(i) + "/input0";
    if (port_number_hint(port) == kFirstDeviceNumber) return port;
  }
}

struct NumberingCase {
  // Failures name the case, not its bytes.
  friend void PrintTo(const NumberingCase& c, std::ostream* os) { *os << c.name; }
  std::string name;
  std::vector<Listing> listings;
  // Given the numbers after each listing.
  std::function<void(const std::vector<Numbers>&)> check;
};

class Numbering : public ::testing::TestWithParam<NumberingCase> {};

TEST_P(Numbering, FollowsTheRule) {
  DeviceNumberMemory memory;
  std::vector<Numbers> history;
  for (const Listing& listing : GetParam().listings) history.push_back(list(memory, listing));
  GetParam().check(history);
}

const std::string kPort1 = "usb-0000:00:14.0-1/input0";
const std::string kPort2 = "usb-0000:00:14.0-2/input0";
const std::string kPort3 = "usb-0000:00:14.0-3/input0";

std::vector<NumberingCase> cases() {
  auto [pa, pb] = colliding_ports();
  std::string first = port_asking_for_first_number();
  return {
      {"device_keeps_its_number_across_listings_in_any_order",
       {{{"A", kPort1}, {"B", kPort2}, {"C", ""}},
        {{"C", ""}, {"B", kPort2}, {"A", kPort1}},
        {{"B", kPort2}, {"A", kPort1}, {"C", ""}}},
       [](const auto& h) {
         for (const char* id : {"A", "B", "C"}) {
           EXPECT_EQ(h[1].at(id), h[0].at(id)) << id;
           EXPECT_EQ(h[2].at(id), h[0].at(id)) << id;
         }
       }},
      {"device_keeps_its_number_while_others_come_and_go",
       {{{"A", kPort1}}, {{"B", kPort2}, {"A", kPort1}, {"C", kPort3}}, {{"A", kPort1}}},
       [](const auto& h) {
         EXPECT_EQ(h[1].at("A"), h[0].at("A"));
         EXPECT_EQ(h[2].at("A"), h[0].at("A"));
       }},
      {"panel_plugged_back_into_its_port_gets_its_number_again",
       {{{"A", kPort1}, {"B", kPort2}}, {{"B", kPort2}}, {{"A2", kPort1}, {"B", kPort2}}},
       [](const auto& h) { EXPECT_EQ(h[2].at("A2"), h[0].at("A")); }},
      {"panels_swapped_between_ports_take_the_ports_numbers",
       {{{"A", kPort1}, {"B", kPort2}}, {}, {{"B2", kPort1}, {"A2", kPort2}}},
       [](const auto& h) {
         EXPECT_EQ(h[2].at("B2"), h[0].at("A"));
         EXPECT_EQ(h[2].at("A2"), h[0].at("B"));
       }},
      {"colliding_ports_get_distinct_numbers_and_keep_them_on_replug",
       {{{"A", pa}, {"B", pb}}, {}, {{"B2", pb}}, {{"B2", pb}, {"A2", pa}}},
       [](const auto& h) {
         EXPECT_NE(h[0].at("A"), h[0].at("B"));
         // B lost the collision at first; plugged in alone later it still
         // gets the number it had, not the one its port asks for...
         EXPECT_EQ(h[2].at("B2"), h[0].at("B"));
         // ...and leaves A's number to A.
         EXPECT_EQ(h[3].at("A2"), h[0].at("A"));
       }},
      {"new_port_keeps_clear_of_a_number_another_port_remembers",
       {{{"A", pa}}, {}, {{"B", pb}}, {{"B", pb}, {"A2", pa}}},
       [](const auto& h) {
         EXPECT_NE(h[2].at("B"), h[0].at("A"));
         EXPECT_EQ(h[3].at("A2"), h[0].at("A"));
       }},
      {"port_remembers_a_number_its_own_hint_could_not_give",
       // A device without a port holds the number the port asks for, so the
       // panel gets another; plugged back in alone it gets that one again.
       {{{"Z", ""}, {"P", first}}, {}, {{"P2", first}}},
       [](const auto& h) {
         EXPECT_NE(h[0].at("P"), kFirstDeviceNumber);
         EXPECT_EQ(h[2].at("P2"), h[0].at("P"));
       }},
      {"devices_sharing_a_port_get_distinct_numbers",
       {{{"A", kPort1}, {"B", kPort1}}, {{"B", kPort1}, {"A", kPort1}}},
       [](const auto& h) {
         EXPECT_EQ(h[1].at("A"), h[0].at("A"));
         EXPECT_EQ(h[1].at("B"), h[0].at("B"));
       }},
      {"devices_without_a_port_take_the_lowest_free_numbers",
       {{{"X", ""}, {"Y", ""}}, {{"Y", ""}}, {{"Y", ""}, {"Z", ""}}},
       [](const auto& h) {
         EXPECT_EQ(h[0].at("X"), 1);
         EXPECT_EQ(h[0].at("Y"), 2);
         EXPECT_EQ(h[2].at("Z"), 1);
       }},
      {"a_device_listed_twice_does_not_share_its_number",
       {{{"A", kPort1}, {"A", kPort1}}},
       [](const auto&) {}},
  };
}

INSTANTIATE_TEST_SUITE_P(Rule, Numbering, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return info.param.name; });

TEST(NumberingAcrossRuns, APortGetsTheSameNumberInAFreshProgram) {
  // A restarted program has no memory; the port alone decides, so panels
  // keep their numbers (and their COM1/COM2 roles) from run to run.
  for (const std::string& port : {kPort1, kPort2, kPort3}) {
    DeviceNumberMemory first_run, second_run;
    Numbers a = list(first_run, {{"A", port}});
    Numbers b = list(second_run, {{"other-identity", port}});
    EXPECT_EQ(a.at("A"), b.at("other-identity")) << port;
  }
}

TEST(NumberingAcrossRuns, DifferentPortsAskForDifferentNumbers) {
  // Not a guarantee (collisions are resolved above) but the hint must spread:
  // a constant hint would turn every port into a collision.
  std::set<uint16_t> hints;
  for (int i = 0; i < 50; ++i) hints.insert(port_number_hint("usb-1-" + std::to_string(i)));
  EXPECT_GE(hints.size(), 45u);
}

TEST(DriverKey, EndsInTheNumberAsFourDigitsThatTheProgramReadsBack) {
  for (uint16_t number : {uint16_t{1}, uint16_t{42}, uint16_t{777}, uint16_t{9999}}) {
    std::string key = driver_key_text(number);
    ASSERT_GE(key.size(), 4u);
    std::string last4 = key.substr(key.size() - 4);
    EXPECT_TRUE(std::all_of(last4.begin(), last4.end(), ::isdigit)) << key;
    EXPECT_EQ(device_number_of_driver_key(key), number) << key;
  }
}

}  // namespace
}  // namespace tarvion
