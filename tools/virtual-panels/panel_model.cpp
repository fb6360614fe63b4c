#include "panel_model.h"

#include <cstdio>
#include <map>

namespace virtual_panels {
namespace {

struct Named {
  const char* name;
  uint16_t kind;
};
constexpr Named kKinds[] = {{"multi", 8}, {"switch", 12}, {"com", 13}, {"nav", 14},
                            {"adf", 15},  {"xpdr", 16},   {"rmp", 17}};

// Quadrature cycle: position 0..3 gives phases (A, B).
constexpr int kPhaseA[4] = {0, 1, 1, 0};
constexpr int kPhaseB[4] = {0, 0, 1, 1};

// Payload bit numbers (byte * 8 + bit) of the named inputs, by kind. Kinds 8
// and 17 carry a 16-bit word with payload byte 0 as its high byte, so word
// bit w is payload bit w + 8 for w < 8 and w - 8 above.
constexpr int word_bit(int w) {
  return w < 8 ? w + 8 : w - 8;
}

const std::map<std::string, int>& inputs_of(uint16_t kind) {
  static const std::map<std::string, int> single = {{"swap", 6}, {"test", 2}, {"bit17", 7}};
  static const std::map<std::string, int> adf = {{"swap", 6}, {"annunciator", 2}, {"adfswitch", 7}};
  static const std::map<std::string, int> xpdr = {{"annunciator", 7}, {"bit17", 8}, {"test", 11}};
  static const std::map<std::string, int> multi = {{"swap", word_bit(0)},
                                                   {"flagset", word_bit(3)},
                                                   {"flagclear", word_bit(5)},
                                                   {"test", word_bit(13)}};
  static const std::map<std::string, int> rmp = {
      {"nav1", word_bit(0)},  {"nav2", word_bit(1)},  {"adf", word_bit(2)}, {"swap", word_bit(12)},
      {"com1", word_bit(13)}, {"com2", word_bit(14)}, {"nav", word_bit(15)}};
  // Switch panel: payload bytes 0 and 1 are one word, byte 0 low; byte 2 bits 0
  // and 1 are the flaps buttons.
  static const std::map<std::string, int> efis = {
      {"panel", 5}, {"light1", 6},   {"light2", 7},    {"light3", 8}, {"light4", 9},
      {"sw1", 10},  {"sw2", 11},     {"sw3", 12},      {"sw4", 13},   {"sw5", 14},
      {"gear", 15}, {"flapsup", 16}, {"flapsdown", 17}};
  static const std::map<std::string, int> none;
  switch (kind) {
    case 12:
      return efis;
    case 13:
    case 14:
      return single;
    case 15:
      return adf;
    case 16:
      return xpdr;
    case 8:
      return multi;
    case 17:
      return rmp;
    default:
      return none;
  }
}

const std::map<std::string, int>& selector_of(uint16_t kind) {
  static const std::map<std::string, int> multi = {
      {"com1", word_bit(4)},  {"com2", word_bit(8)},  {"nav1", word_bit(9)}, {"nav2", word_bit(10)},
      {"xpdr", word_bit(12)}, {"adf1", word_bit(14)}, {"adf2", word_bit(15)}};
  static const std::map<std::string, int> xpdr = {{"0", 0}, {"1", 1}, {"2", 2}, {"3", 3}, {"4", 4}};
  static const std::map<std::string, int> none;
  // The switch panel's rotary selector uses the same bits as the transponder's mode switch.
  return kind == 8 ? multi : (kind == 16 || kind == 12) ? xpdr : none;
}

std::string hex2(uint8_t b) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", b);
  return text;
}

char digit_char(unsigned d) {
  return d <= 9 ? static_cast<char>('0' + d) : d == 10 ? ' ' : '?';
}

// Packed digits: position p (1..12) is in byte (p-1)/2, odd positions low.
unsigned packed(const std::vector<uint8_t>& r, int p) {
  uint8_t byte = r[1 + (p - 1) / 2];
  return p % 2 == 1 ? (byte & 0x0F) : (byte >> 4);
}

// Positions from high to low: how the display reads left to right.
std::string packed_field(const std::vector<uint8_t>& r, int high, int low) {
  std::string text;
  for (int p = high; p >= low; --p) text += digit_char(packed(r, p));
  return text;
}

}  // namespace

std::optional<uint16_t> kind_of(const std::string& name) {
  for (const Named& k : kKinds) {
    if (name == k.name) return k.kind;
  }
  try {
    std::size_t used = 0;
    int value = std::stoi(name, &used);
    if (used == name.size() && (value == 8 || (value >= 12 && value <= 17)))
      return static_cast<uint16_t>(value);
  } catch (...) {
  }
  return std::nullopt;
}

std::string kind_name(uint16_t kind) {
  for (const Named& k : kKinds) {
    if (k.kind == kind) return k.name;
  }
  return std::to_string(kind);
}

PanelModel::PanelModel(uint16_t kind) : kind_(kind), active_(input_length() - 1, 0) {
  switch (kind) {
    case 13:
    case 14:
    case 15:
      outer_ = {0, 1};
      inner_ = {5, 4};
      break;
    case 16:
      outer_ = {5, 6};
      inner_ = {9, 10};
      break;
    case 8:
      outer_ = {word_bit(1), word_bit(2)};
      inner_ = {word_bit(6), word_bit(7)};
      break;
    case 17:
      outer_ = {word_bit(10), word_bit(11)};
      inner_ = {word_bit(8), word_bit(9), 0, true};
      break;
    case 12:
      trim_ = {18, 19};  // payload byte 2 bits 2 and 3
      break;
    default:
      break;
  }
  // A real mode switch or rotary selector always sits somewhere.
  if (kind == 16 || kind == 12) set_bit(0, true);
  if (kind == 8) select("com1");
}

uint16_t PanelModel::input_length() const {
  return kind_ == 12 ? 6 : 3;
}

std::vector<uint8_t> PanelModel::input_report() const {
  std::vector<uint8_t> report(input_length(), 0);
  for (std::size_t i = 0; i < active_.size(); ++i) {
    // The switch panel's fifth byte is read as it is; everything else is active low.
    bool raw = kind_ == 12 && i == 4;
    report[i + 1] = raw ? active_[i] : static_cast<uint8_t>(~active_[i]);
  }
  return report;
}

bool PanelModel::set_bit(unsigned n, bool active) {
  if (n / 8 >= active_.size()) return false;
  auto mask = static_cast<uint8_t>(1u << (n % 8));
  if (active) {
    active_[n / 8] |= mask;
  } else {
    active_[n / 8] &= static_cast<uint8_t>(~mask);
  }
  return true;
}

PanelModel::Encoder* PanelModel::encoder(const std::string& knob) {
  Encoder* e = knob == "outer"   ? &outer_
               : knob == "inner" ? &inner_
               : knob == "trim"  ? &trim_
                                 : nullptr;
  return e != nullptr && e->bit_a >= 0 ? e : nullptr;
}

void PanelModel::apply(const Encoder& e) {
  set_bit(static_cast<unsigned>(e.bit_a), kPhaseA[e.position] != 0);
  set_bit(static_cast<unsigned>(e.bit_b), kPhaseB[e.position] != 0);
}

bool PanelModel::turn(const std::string& knob, int step) {
  Encoder* e = encoder(knob);
  if (e == nullptr || (step != 1 && step != -1)) return false;
  if (e->reversed) step = -step;
  e->position = (e->position + step + 4) % 4;
  apply(*e);
  return true;
}

bool PanelModel::set_input(const std::string& name, bool active) {
  const auto& inputs = inputs_of(kind_);
  auto it = inputs.find(name);
  return it != inputs.end() && set_bit(static_cast<unsigned>(it->second), active);
}

bool PanelModel::input_active(const std::string& name) const {
  const auto& inputs = inputs_of(kind_);
  auto it = inputs.find(name);
  return it != inputs.end() && bit(static_cast<unsigned>(it->second));
}

bool PanelModel::selected(const std::string& position) const {
  const auto& positions = selector_of(kind_);
  auto it = positions.find(position);
  return it != positions.end() && bit(static_cast<unsigned>(it->second));
}

bool PanelModel::select(const std::string& position) {
  const auto& positions = selector_of(kind_);
  auto it = positions.find(position);
  if (it == positions.end()) return false;
  for (const auto& [name, bit] : positions) set_bit(static_cast<unsigned>(bit), false);
  return set_bit(static_cast<unsigned>(it->second), true);
}

std::string PanelModel::describe_output(const std::vector<uint8_t>& r) const {
  if (r.size() < 9) return "short output report (" + std::to_string(r.size()) + " bytes)";
  if (kind_ == 12) {
    return "switch  digits [" + std::string(1, digit_char(r[2])) + digit_char(r[3]) + "]  lights " +
           hex2(r[4]) + "  bright " + std::to_string(r[1]);
  }
  if (kind_ == 17 && (r[7] & 0x80) != 0) {
    return "lights  " + hex2(r[1]) + "  bright " + std::to_string(r[8]);
  }
  std::string shown;
  if (kind_ == 16) {
    for (int i = 4; i >= 1; --i) shown += digit_char(r[1 + i]);
    shown = "[" + shown + "]";
  } else if (kind_ == 14 || kind_ == 15) {
    shown = "[" + packed_field(r, 5, 1) + "] [" + packed_field(r, 10, 6) + "]";
  } else {
    shown = "[" + packed_field(r, 6, 1) + "] [" + packed_field(r, 12, 7) + "]";
  }
  return "display " + shown + "  dots " + hex2(r[7]) + "  bright " + std::to_string(r[8]);
}

}  // namespace virtual_panels
