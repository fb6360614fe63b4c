#include "panel_display.h"

#include <algorithm>
#include <array>

namespace virtual_panels {
namespace {

char digit_char(unsigned code) {
  return code <= 9 ? static_cast<char>('0' + code) : code == 10 ? ' ' : '?';
}

// Packed digits: position p (1..12) is in report byte 1 + (p-1)/2, odd positions low.
unsigned packed(const std::vector<uint8_t>& r, int p) {
  uint8_t byte = r[1 + (p - 1) / 2];
  return p % 2 == 1 ? (byte & 0x0F) : (byte >> 4);
}

// The digit position each bit of the points byte lights (0: none). The wiring
// is the panel's, not Tarvion's; this is the one under which every points byte
// Tarvion sends puts the point where its frequency needs it (118.000, 108.00,
// 0379.5). Bits that no mode needs light nothing here.
using PointWiring = std::array<int, 8>;
PointWiring point_wiring(uint16_t kind) {
  switch (kind) {
    case 8:
    case 13:
      return {1, 2, 3, 4, 7, 8, 9, 10};  // low half the active display, high half standby
    case 14:
      return {0, 0, 3, 0, 0, 8, 0, 0};
    case 15:
      return {0, 2, 0, 0, 0, 7, 0, 0};
    case 17:
      return {3, 4, 9, 10, 2, 8, 0, 0};
    default:
      return {};
  }
}

// Positions high to low: a display reads left to right.
std::vector<Digit> packed_row(const std::vector<uint8_t>& r, int high, int low, uint8_t points,
                              const PointWiring& wiring) {
  std::vector<Digit> row;
  for (int p = high; p >= low; --p) {
    Digit d{digit_char(packed(r, p)), false};
    for (int bit = 0; bit < 8; ++bit) {
      if (wiring[bit] == p && (points >> bit & 1) != 0) d.point = true;
    }
    row.push_back(d);
  }
  return row;
}

std::vector<Lamp> lamps_of(uint16_t kind) {
  switch (kind) {
    case 12:  // green: leg down and locked; red: leg in transit
      return {{"G1"}, {"R1"}, {"G2"}, {"R2"}, {"G3"}, {"R3"}, {"FLAPS"}};
    case 15:
      return {{"ANN"}};
    case 16:
      return {{"NORM"}, {"ANN"}, {"ON"}};
    case 17:
      return {{"COM1"}, {"COM2"}, {"SEL"}, {"NAV2"}, {"ADF"}, {"NAV"}, {"NAV1"}};
    default:
      return {};
  }
}

void set_lamps(PanelView& view, const std::vector<int>& bits, uint8_t byte) {
  for (std::size_t i = 0; i < bits.size() && i < view.lamps.size(); ++i)
    view.lamps[i].on = (byte >> bits[i] & 1) != 0;
}

}  // namespace

PanelView initial_view(uint16_t kind) {
  PanelView view;
  view.kind = kind;
  std::size_t widths[2] = {6, 6};
  std::size_t count = 2;
  if (kind == 14 || kind == 15) widths[0] = widths[1] = 5;
  if (kind == 16) {
    widths[0] = 4;
    count = 1;
  }
  if (kind == 12) {
    widths[0] = 2;
    count = 1;
  }
  for (std::size_t i = 0; i < count; ++i) view.rows.emplace_back(widths[i]);
  view.lamps = lamps_of(kind);
  return view;
}

bool apply_output(PanelView& view, const std::vector<uint8_t>& r) {
  if (r.size() < 9) return false;
  view.told = true;
  if (view.kind == 12) {
    view.bright = r[1];
    view.rows = {{{digit_char(r[2]), false}, {digit_char(r[3]), false}}};
    set_lamps(view, {1, 4, 2, 5, 0, 3, 6}, r[4]);
    return true;
  }
  view.bright = r[8];
  if (view.kind == 17 && (r[7] & 0x80) != 0) {
    // The light report: the key lamps. Its digit bytes repeat the display's
    // but lack the first, so the digits come from display reports only.
    set_lamps(view, {0, 1, 2, 3, 4, 6, 7}, r[1]);
    return true;
  }
  uint8_t points = r[7];
  PointWiring wiring = point_wiring(view.kind);
  switch (view.kind) {
    case 16: {
      std::vector<Digit> row;
      for (int i = 4; i >= 1; --i) row.push_back({digit_char(r[1 + i]), false});
      view.rows = {row};
      set_lamps(view, {0, 1, 2}, points);
      break;
    }
    case 14:
    case 15:
      view.rows = {packed_row(r, 5, 1, points, wiring), packed_row(r, 10, 6, points, wiring)};
      if (view.kind == 15) view.lamps[0].on = packed(r, 11) == 6;
      break;
    default:
      view.rows = {packed_row(r, 6, 1, points, wiring), packed_row(r, 12, 7, points, wiring)};
      break;
  }
  return true;
}

std::string shown_text(const PanelView& view) {
  std::string text;
  for (const auto& row : view.rows) {
    text += text.empty() ? "[" : " [";
    for (const Digit& d : row) {
      text += d.ch;
      if (d.point) text += '.';
    }
    text += "]";
  }
  if (!view.lamps.empty()) {
    text += " lamps";
    bool any = false;
    for (const Lamp& lamp : view.lamps) {
      if (!lamp.on) continue;
      text += " " + lamp.label;
      any = true;
    }
    if (!any) text += " -";
  }
  return text + " bright " + std::to_string(view.bright);
}

double glow(int bright) {
  return std::clamp(bright, 0, 121) / 121.0;
}

}  // namespace virtual_panels
