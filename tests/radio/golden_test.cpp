// Golden wire tests: each fixture under fixtures/ is a short script of input
// reports (payload hex, as the panel sends it after the report-ID byte) and
// the nine-byte output reports and sent values they must produce. Every image
// marked for sending and every value marked for the simulator must be named
// by the script before the next action: nothing may go out unannounced.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "radio/output_frames.h"
#include "radio_rig.h"

namespace tarvion::test {
namespace {

const std::map<std::string, int> kRadioNames{{"COM1", 0}, {"COM2", 1}, {"NAV1", 2}, {"NAV2", 3},
                                             {"ADF1", 4}, {"ADF2", 5}, {"ATC", 6}};

class Script {
 public:
  explicit Script(std::string name) : name_(std::move(name)) {}

  void run(std::istream& in) {
    std::string line;
    while (std::getline(in, line)) {
      ++line_no_;
      if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
      std::istringstream words(line);
      std::vector<std::string> w;
      for (std::string t; words >> t;) w.push_back(t);
      if (!w.empty()) step(w);
    }
    settled();
  }

 private:
  std::string where() const { return name_ + ":" + std::to_string(line_no_); }

  static long num(const std::string& t) { return std::stol(t, nullptr, 0); }

  static std::vector<uint8_t> hex(const std::vector<std::string>& w, size_t from) {
    std::vector<uint8_t> bytes;
    for (size_t i = from; i < w.size(); ++i) {
      bytes.push_back(static_cast<uint8_t>(std::stoul(w[i], nullptr, 16)));
    }
    return bytes;
  }

  static std::string hex_text(const OutputFrame& f) {
    std::string s;
    char buf[4];
    for (uint8_t b : f) {
      std::snprintf(buf, sizeof buf, "%02X ", b);
      s += buf;
    }
    return s;
  }

  c_rad& radio_panel(const std::string& number) {
    for (auto& r : rig_.lists.radios) {
      if (r->number == num(number)) return *r;
    }
    throw std::runtime_error(where() + ": no radio panel " + number);
  }

  c_efis& switch_panel(const std::string& number) {
    for (auto& e : rig_.lists.switches) {
      if (e->number == num(number)) return *e;
    }
    throw std::runtime_error(where() + ": no switch panel " + number);
  }

  void expect_frame(uint8_t& mark, const OutputFrame& got, const std::vector<std::string>& w) {
    ASSERT_EQ(w.size(), 11u) << where() << ": nine bytes expected";
    EXPECT_EQ(mark, 1) << where() << ": " << w[0] << " of panel " << w[1] << " not marked";
    OutputFrame want{};
    const auto bytes = hex(w, 2);
    std::copy(bytes.begin(), bytes.end(), want.begin());
    EXPECT_EQ(hex_text(got), hex_text(want)) << where();
    mark = 0;
  }

  // Nothing may be pending that the script has not named.
  void settled() {
    for (auto& r : rig_.lists.radios) {
      EXPECT_EQ(r->display_changed, 0) << where() << ": unexpected display of panel " << r->number
                                       << ": " << hex_text(display_report(*r));
      EXPECT_EQ(r->leds_changed, 0) << where() << ": unexpected lights of panel " << r->number
                                    << ": " << hex_text(light_report(*r));
    }
    for (auto& e : rig_.lists.switches) {
      EXPECT_EQ(e->changed, 0) << where() << ": unexpected switch image " << e->number;
    }
    for (int i = 0; i < kRadioCount; ++i) {
      EXPECT_EQ(rig_.state.radio_dirty[i], 0)
          << where() << ": radio " << i << " marked with " << rig_.state.radio_value[i];
    }
    for (int i = 0; i < kSwitchValueCount; ++i) {
      EXPECT_EQ(rig_.state.switch_dirty[i], 0)
          << where() << ": switch value " << i << " marked with " << rig_.state.switch_value[i];
    }
  }

  void step(const std::vector<std::string>& w) {
    const std::string& op = w[0];
    Config& c = rig_.config;
    if (op == "option") {
      const long v = num(w[2]);
      if (w[1] == "emulate_test")
        c.emulate_test = v != 0;
      else if (w[1] == "com_frec_5")
        c.com_frec_5 = v != 0;
      else if (w[1] == "reverse_sw")
        c.reverse_sw = v != 0;
      else if (w[1] == "reverse_panel")
        c.reverse_panel = v != 0;
      else if (w[1] == "trim_factor")
        c.trim_factor = static_cast<int32_t>(v);
      else
        FAIL() << where() << ": unknown option " << w[1];
    } else if (op == "radio") {
      rig_.state.radio_value[static_cast<size_t>(kRadioNames.at(w[1]))] =
          static_cast<int32_t>(num(w[2]));
    } else if (op == "flaps_step") {
      rig_.state.flaps_step = static_cast<int32_t>(num(w[1]));
    } else if (op == "attach") {
      settled();
      const auto kind = static_cast<uint16_t>(num(w[1]));
      const auto number = static_cast<uint16_t>(num(w[2]));
      kinds_[number] = kind;
      if (kind == kSwitchPanel) {
        rig_.attach_switch_panel(number);
      } else {
        rig_.attach(kind, number, static_cast<uint16_t>(w.size() > 3 ? num(w[3]) : 0));
      }
    } else if (op == "in") {
      settled();
      const auto number = static_cast<uint16_t>(num(w[1]));
      rig_.report(kinds_.at(number), number, hex(w, 2));
    } else if (op == "display") {
      c_rad& r = radio_panel(w[1]);
      expect_frame(r.display_changed, display_report(r), w);
    } else if (op == "lights") {
      c_rad& r = radio_panel(w[1]);
      expect_frame(r.leds_changed, light_report(r), w);
    } else if (op == "switch") {
      c_efis& e = switch_panel(w[1]);
      expect_frame(e.changed, switch_report(e), w);
    } else if (op == "sent") {
      const auto i = static_cast<size_t>(kRadioNames.at(w[1]));
      EXPECT_EQ(rig_.state.radio_dirty[i], 1) << where() << ": " << w[1] << " not marked";
      EXPECT_EQ(rig_.state.radio_value[i], num(w[2])) << where();
      rig_.state.radio_dirty[i] = 0;
    } else if (op == "flag") {
      EXPECT_EQ(rig_.state.mode_flag[static_cast<size_t>(num(w[1]))], num(w[2])) << where();
    } else if (op == "switches") {
      ASSERT_EQ(w.size(), 1u + kSwitchValueCount) << where();
      for (size_t i = 0; i < kSwitchValueCount; ++i) {
        if (w[i + 1] == "-") continue;  // not marked; settled() checks that
        EXPECT_EQ(rig_.state.switch_dirty[i], 1) << where() << ": switch value " << i;
        EXPECT_EQ(rig_.state.switch_value[i], num(w[i + 1])) << where() << ": switch value " << i;
        rig_.state.switch_dirty[i] = 0;
      }
    } else if (op == "digits") {
      settled();
      set_switch_digits(rig_.ctx, static_cast<int32_t>(num(w[1])));
    } else if (op == "leds") {
      settled();
      set_switch_leds(rig_.ctx, static_cast<int32_t>(num(w[1])), num(w[2]) != 0);
    } else if (op == "close") {
      // What the program does at close, before the last reports go out.
      settled();
      rig_.state.brightness = 1;
      push_brightness(rig_.ctx);
      blank_all_panels(rig_.ctx);
      set_switch_leds(rig_.ctx, 0, true);
    } else {
      FAIL() << where() << ": unknown step " << op;
    }
  }

  std::string name_;
  int line_no_ = 0;
  RadioRig rig_;
  std::map<uint16_t, uint16_t> kinds_;
};

class GoldenFixture : public testing::TestWithParam<const char*> {};

TEST_P(GoldenFixture, ProducesTheWireImages) {
  const std::string path = std::string(TARVION_TEST_DATA) + "/fixtures/" + GetParam() + ".txt";
  std::ifstream in(path);
  ASSERT_TRUE(in) << "cannot read " << path;
  Script(GetParam()).run(in);
}

INSTANTIATE_TEST_SUITE_P(PanelKinds, GoldenFixture,
                         testing::Values("multi_radio", "com_panel", "nav_panel", "adf_panel",
                                         "transponder_panel", "rmp_pair", "switch_panel"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace tarvion::test
