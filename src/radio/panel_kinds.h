// The panel kinds: one row per Pendra product with everything the program
// does differently for it, so that a new kind, or a changed one, is one row.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "base/config.h"
#include "radio/panels.h"

namespace tarvion {

// Which list a panel's object joins, and so which logic serves it.
enum class PanelList : uint8_t { radios, switches };

// How the input report's payload becomes the panel's input word.
enum class InputLayout : uint8_t {
  word,         // two inverted bytes, high first (multi-radio, RMP)
  com_nav,      // one byte of knobs and buttons
  adf,          // one byte, the ADF panel's own bits
  transponder,  // two bytes, the transponder's bits
  switches,     // five bytes: two words and a byte (switch panel)
};

// What the input word drives.
enum class InputHandler : uint8_t { radio, rmp, switches };

// How the panel's digits are composed from its mode and values.
enum class DisplayRule : uint8_t { none, multi_or_com, nav, adf, transponder, rmp };

// What the knobs edit.
enum class EncoderRule : uint8_t {
  by_mode,      // the radio of the panel's mode, as the radio's own rules step it
  adf_panel,    // coarse 100.0 / fine 0.1 steps within the ADF band
  transponder,  // the code shown, digit by digit
};

struct PanelKindTraits {
  PanelKind kind;  // the device's product ID (vendor 0)
  PanelList list;
  // The FIRST_DEVICE_ pair that shares out the base input of two panels of
  // this kind; null for a kind that is never paired.
  BasePair Config::*pair;
  uint16_t fixed_base_input;  // the base input of a kind that is never paired
  InputLayout input;
  std::size_t payload_bytes;  // what the layout reads of a report's payload
  InputHandler handler;
  DisplayRule display;
  bool shows_test_pattern;  // lights every segment while the test switch is on
  bool light_report;        // its lamps travel in a report of their own
  EncoderRule encoder;
  PanelMode first_mode;
};

inline constexpr std::array<PanelKindTraits, 7> kPanelKinds{{
    {kMultiRadio, PanelList::radios, nullptr, 0, InputLayout::word, 2, InputHandler::radio,
     DisplayRule::multi_or_com, false, false, EncoderRule::by_mode, kModeNone},
    {kSwitchPanel, PanelList::switches, nullptr, 0, InputLayout::switches, 5,
     InputHandler::switches, DisplayRule::none, false, false, EncoderRule::by_mode, kModeNone},
    {kComPanel, PanelList::radios, &Config::com_pair, 0, InputLayout::com_nav, 1,
     InputHandler::radio, DisplayRule::multi_or_com, true, false, EncoderRule::by_mode, kModeNone},
    {kNavPanel, PanelList::radios, &Config::nav_pair, 0, InputLayout::com_nav, 1,
     InputHandler::radio, DisplayRule::nav, false, false, EncoderRule::by_mode, kModeNone},
    {kAdfPanel, PanelList::radios, &Config::adf_pair, 0, InputLayout::adf, 1, InputHandler::radio,
     DisplayRule::adf, false, false, EncoderRule::adf_panel, kModeNone},
    {kTransponderPanel, PanelList::radios, nullptr, 4096, InputLayout::transponder, 2,
     InputHandler::radio, DisplayRule::transponder, false, false, EncoderRule::transponder,
     kModeNone},
    {kRmp, PanelList::radios, &Config::rmp_pair, 0, InputLayout::word, 2, InputHandler::rmp,
     DisplayRule::rmp, false, true, EncoderRule::by_mode, kModeCom1},
}};

// The row of a product ID; null for a device that is no panel.
constexpr const PanelKindTraits* panel_kind_traits(uint16_t product_id) {
  for (const PanelKindTraits& traits : kPanelKinds) {
    if (traits.kind == product_id) return &traits;
  }
  return nullptr;
}

// What a kind the table does not know gets: no input read, no digits composed.
inline constexpr PanelKindTraits kNoPanelKind{
    PanelKind{0},        PanelList::radios, nullptr, 0,     InputLayout::word,    0,
    InputHandler::radio, DisplayRule::none, false,   false, EncoderRule::by_mode, kModeNone};

constexpr const PanelKindTraits& kind_traits(uint16_t product_id) {
  const PanelKindTraits* traits = panel_kind_traits(product_id);
  return traits ? *traits : kNoPanelKind;
}

namespace panel_kind_checks {

constexpr std::size_t layout_bytes(InputLayout layout) {
  switch (layout) {
    case InputLayout::com_nav:
    case InputLayout::adf:
      return 1;
    case InputLayout::word:
    case InputLayout::transponder:
      return 2;
    case InputLayout::switches:
      return 5;
  }
  return 0;
}

// Rows in product order, each kind once: the lookup and the udev rule rely on it.
constexpr bool ids_ascend() {
  for (std::size_t i = 1; i < kPanelKinds.size(); ++i) {
    if (kPanelKinds[i - 1].kind >= kPanelKinds[i].kind) return false;
  }
  return true;
}

// A switch panel is served by the switch logic alone; a radio panel never by it.
constexpr bool rows_agree() {
  for (const PanelKindTraits& t : kPanelKinds) {
    const bool sw = t.list == PanelList::switches;
    if (sw != (t.input == InputLayout::switches) || sw != (t.handler == InputHandler::switches) ||
        sw != (t.display == DisplayRule::none))
      return false;
    if (t.payload_bytes != layout_bytes(t.input)) return false;
    // A paired kind takes its base input from the pair, never a fixed one.
    if (t.pair != nullptr && t.fixed_base_input != 0) return false;
    // The RMP's logic, display and lamps go together.
    const bool rmp = t.handler == InputHandler::rmp;
    if (rmp != (t.display == DisplayRule::rmp) || rmp != t.light_report) return false;
    if (rmp != (t.first_mode != kModeNone)) return false;
  }
  return true;
}

}  // namespace panel_kind_checks

static_assert(panel_kind_checks::ids_ascend());
static_assert(panel_kind_checks::rows_agree());
static_assert(panel_kind_traits(kRmp)->kind == kRmp && panel_kind_traits(0) == nullptr);

}  // namespace tarvion
