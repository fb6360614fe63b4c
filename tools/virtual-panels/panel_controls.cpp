#include "panel_controls.h"

namespace virtual_panels {
namespace {

using T = ControlType;

const std::vector<Control> kRadio = {{"outer", "outer", T::knob, "Up", "Down"},
                                     {"inner", "inner", T::knob, "Right", "Left"},
                                     {"swap", "XFER", T::momentary, "Space", ""},
                                     {"test", "TEST", T::momentary, "T", ""}};
const std::vector<Control> kAdf = {{"outer", "outer", T::knob, "Up", "Down"},
                                   {"inner", "inner", T::knob, "Right", "Left"},
                                   {"swap", "XFER", T::momentary, "Space", ""},
                                   {"annunciator", "ANN", T::toggle, "A", ""},
                                   {"adfswitch", "ADF/ANT", T::toggle, "F", ""}};
const std::vector<Control> kXpdr = {
    {"outer", "outer", T::knob, "Up", "Down"}, {"inner", "inner", T::knob, "Right", "Left"},
    {"0", "OFF", T::position, "0", ""},        {"1", "SBY", T::position, "1", ""},
    {"2", "ON", T::position, "2", ""},         {"3", "ALT", T::position, "3", ""},
    {"4", "TST", T::position, "4", ""},        {"annunciator", "ANN", T::toggle, "A", ""},
    {"test", "TEST", T::momentary, "T", ""}};
const std::vector<Control> kMulti = {
    {"outer", "outer", T::knob, "Up", "Down"}, {"inner", "inner", T::knob, "Right", "Left"},
    {"com1", "COM1", T::position, "1", ""},    {"com2", "COM2", T::position, "2", ""},
    {"nav1", "NAV1", T::position, "3", ""},    {"nav2", "NAV2", T::position, "4", ""},
    {"adf1", "ADF1", T::position, "5", ""},    {"adf2", "ADF2", T::position, "6", ""},
    {"xpdr", "XPDR", T::position, "7", ""},    {"swap", "ACT", T::momentary, "Space", ""},
    {"flagset", "SET", T::momentary, "S", ""}, {"flagclear", "CLR", T::momentary, "C", ""},
    {"test", "TEST", T::momentary, "T", ""}};
const std::vector<Control> kRmp = {
    {"outer", "outer", T::knob, "Up", "Down"},  {"inner", "inner", T::knob, "Right", "Left"},
    {"com1", "COM1", T::momentary, "1", ""},    {"com2", "COM2", T::momentary, "2", ""},
    {"nav", "NAV", T::momentary, "N", ""},      {"nav1", "NAV1", T::momentary, "3", ""},
    {"nav2", "NAV2", T::momentary, "4", ""},    {"adf", "ADF", T::momentary, "5", ""},
    {"swap", "XFER", T::momentary, "Space", ""}};
const std::vector<Control> kSwitch = {{"trim", "TRIM", T::knob, "Up", "Down"},
                                      {"0", "0", T::position, "0", ""},
                                      {"1", "1", T::position, "1", ""},
                                      {"2", "2", T::position, "2", ""},
                                      {"3", "3", T::position, "3", ""},
                                      {"4", "4", T::position, "4", ""},
                                      {"gear", "GEAR", T::toggle, "G", ""},
                                      {"panel", "PANEL", T::toggle, "P", ""},
                                      {"light1", "LT1", T::toggle, "Q", ""},
                                      {"light2", "LT2", T::toggle, "W", ""},
                                      {"light3", "LT3", T::toggle, "E", ""},
                                      {"light4", "LT4", T::toggle, "R", ""},
                                      {"sw1", "SW1", T::toggle, "Z", ""},
                                      {"sw2", "SW2", T::toggle, "X", ""},
                                      {"sw3", "SW3", T::toggle, "C", ""},
                                      {"sw4", "SW4", T::toggle, "V", ""},
                                      {"sw5", "SW5", T::toggle, "B", ""},
                                      {"flapsup", "FLAPS UP", T::momentary, "U", ""},
                                      {"flapsdown", "FLAPS DN", T::momentary, "J", ""}};
const std::vector<Control> kNone;

}  // namespace

const std::vector<Control>& controls_of(uint16_t kind) {
  switch (kind) {
    case 13:
    case 14:
      return kRadio;
    case 15:
      return kAdf;
    case 16:
      return kXpdr;
    case 8:
      return kMulti;
    case 17:
      return kRmp;
    case 12:
      return kSwitch;
    default:
      return kNone;
  }
}

std::string shortcut_help(uint16_t kind) {
  std::string text;
  for (const Control& c : controls_of(kind)) {
    if (!text.empty()) text += "\n";
    if (c.type == ControlType::knob) {
      text += c.key + "/" + c.key_down + ": " + c.label + " knob";
    } else {
      text += c.key + ": " + c.label;
    }
  }
  return text;
}

std::optional<std::string> command_for(const std::string& id, const PanelModel& model,
                                       const Control& control, Gesture gesture, int detents) {
  switch (control.type) {
    case ControlType::knob:
      if (gesture != Gesture::turn || detents == 0) return std::nullopt;
      return "turn " + id + " " + control.name + " " + (detents > 0 ? "+" : "") +
             std::to_string(detents);
    case ControlType::momentary:
      if (gesture == Gesture::turn) return std::nullopt;
      return (gesture == Gesture::press ? "press " : "release ") + id + " " + control.name;
    case ControlType::toggle:
      if (gesture != Gesture::press) return std::nullopt;
      return (model.input_active(control.name) ? "release " : "press ") + id + " " + control.name;
    case ControlType::position:
      if (gesture != Gesture::press) return std::nullopt;
      return "select " + id + " " + control.name;
  }
  return std::nullopt;
}

int DetentCounter::take(int amount) {
  rest_ += amount;
  int detents = rest_ / per_detent_;  // toward zero: a part notch waits for the rest
  rest_ -= detents * per_detent_;
  return detents;
}

}  // namespace virtual_panels
