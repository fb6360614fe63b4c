// Gestures on the cockpit window's controls to the exact input reports the
// real panels send (input_golden.txt), through the same control table, detent
// counting and host commands the window uses.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "golden_file.h"
#include "panel_controls.h"
#include "panel_host.h"

namespace virtual_panels {
namespace {

// One panel in a host with no program connected; the reports it would send.
struct Bench {
  explicit Bench(uint16_t kind) : host(out, err) {
    HostEvents events;
    events.input = [this](const std::string&, const std::vector<uint8_t>& report) {
      sent.push_back(to_hex(report));
    };
    host.set_events(events);
    EXPECT_TRUE(host.plug("p", kind, "0001", "panel"));
  }
  const PanelModel& model() const { return host.panels().at(0).model; }
  const Control* control(const std::string& name) const {
    for (const Control& c : controls_of(model().kind())) {
      if (c.name == name) return &c;
    }
    return nullptr;
  }
  // A gesture as the window takes it: wheel and drag amounts counted into detents.
  void gesture(const std::string& what, const std::string& name, int amount) {
    const Control* c = control(name);
    ASSERT_NE(c, nullptr) << name;
    std::optional<std::string> command;
    if (what == "wheel" || what == "drag") {
      auto& counters = what == "wheel" ? wheel : drag;
      auto& counter = counters.try_emplace(name, what == "wheel" ? kWheelPerNotch : kDragPerDetent)
                          .first->second;
      command = command_for("p", model(), *c, Gesture::turn, counter.take(amount));
    } else {
      ASSERT_TRUE(what == "press" || what == "release") << what;
      command = command_for("p", model(), *c, what == "press" ? Gesture::press : Gesture::release);
    }
    if (command) {
      EXPECT_TRUE(host.execute(*command)) << *command << ": " << err.str();
    }
  }

  std::ostringstream out, err;
  PanelHost host;
  std::vector<std::string> sent;
  std::map<std::string, DetentCounter> wheel, drag;
};

TEST(PanelGestures, EveryGestureOfEveryKindSendsTheRealPanelsReports) {
  auto blocks = testing::read_golden("input_golden.txt");
  ASSERT_EQ(blocks.size(), 7u);  // every panel kind
  for (const auto& block : blocks) {
    auto kind = kind_of(block.kind);
    ASSERT_TRUE(kind) << block.kind;
    Bench bench(*kind);
    for (const auto& line : block.lines) {
      SCOPED_TRACE("input_golden.txt:" + std::to_string(line.line_number));
      bench.sent.clear();
      std::istringstream words(line.left);
      std::string what, name;
      int amount = 0;
      words >> what >> name >> amount;
      if (what == "rest") {
        bench.sent.push_back(to_hex(bench.model().input_report()));
      } else {
        bench.gesture(what, name, amount);
      }
      std::string sent;
      for (const auto& hex : bench.sent) sent += (sent.empty() ? "" : " ") + hex;
      EXPECT_EQ(sent.empty() ? "-" : sent, line.right);
    }
  }
}

// The outer knob's quadrature position from a COM panel's report (phases
// active low in byte 1 bits 0 and 1), in the order one detent up steps it.
int quadrature(const std::string& hex) {
  int byte = std::stoi(hex.substr(2, 2), nullptr, 16);
  bool a = (byte & 1) == 0, b = (byte & 2) == 0;
  return a ? (b ? 2 : 1) : (b ? 3 : 0);
}

TEST(PanelGestures, FastWheelSpinsNeitherLoseNorDoubleDetents) {
  Bench bench(13);
  // Notches of a spun wheel arrive merged into large deltas, a smooth wheel
  // sends eighths of notches, and the spin turns back.
  const int deltas[] = {120, 600, 1200, 15, 15, 15, 15, 15, 15, 15, 15, -840, -2400, 45, -45};
  int notches = 0;
  for (int delta : deltas) {
    notches += delta;
    bench.gesture("wheel", "outer", delta);
  }
  notches /= kWheelPerNotch;
  int position = 0, net = 0;
  for (const auto& hex : bench.sent) {
    int next = quadrature(hex);
    int step = (next - position + 4) % 4;
    ASSERT_TRUE(step == 1 || step == 3) << "a report skipped or repeated a phase: " << hex;
    net += step == 1 ? 1 : -1;
    position = next;
  }
  EXPECT_EQ(net, notches);
  // 1 + 5 + 10 + 1 notches up, then 7 + 20 down: one report each.
  EXPECT_EQ(bench.sent.size(), 44u);
}

}  // namespace
}  // namespace virtual_panels
