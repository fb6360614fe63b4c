// The controls of each panel kind as the cockpit window offers them, and how a
// gesture on one becomes a host command (and so the panel's input reports).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "panel_model.h"

namespace virtual_panels {

enum class ControlType {
  knob,       // an encoder: "outer", "inner", "trim"
  momentary,  // a button, active while held
  toggle,     // a switch that stays where it was put
  position,   // one position of a selector
};

struct Control {
  std::string name;   // the host command's knob, input or position name
  std::string label;  // as printed on the panel
  ControlType type;
  std::string key;       // keyboard: press (knob: one detent up)
  std::string key_down;  // knob: one detent down
};

// Every control of a kind, in the order the window lays them out.
const std::vector<Control>& controls_of(uint16_t kind);

// "Up/Down: outer knob, Space: transfer, ..." for a tooltip.
std::string shortcut_help(uint16_t kind);

enum class Gesture { press, release, turn };

// The host command for a gesture on a control of panel id, given the panel's
// present state (a toggle flips); nothing when the gesture does nothing there.
// detents: the signed number of detents of a turn.
std::optional<std::string> command_for(const std::string& id, const PanelModel& model,
                                       const Control& control, Gesture gesture, int detents = 0);

// Wheel and drag input to whole detents. The remainder is kept, so slow and
// smooth scrolling adds up and a fast spin gives exactly its notches.
class DetentCounter {
 public:
  explicit DetentCounter(int per_detent) : per_detent_(per_detent) {}
  int take(int amount);  // signed detents now due
  void reset() { rest_ = 0; }

 private:
  int per_detent_;
  int rest_ = 0;
};

inline constexpr int kWheelPerNotch = 120;  // a wheel notch's angle delta (1/8 degree units)
inline constexpr int kDragPerDetent = 12;   // pixels of vertical drag per detent

}  // namespace virtual_panels
