// Shared radio values, their send flags and the switch panel values: the data
// every subsystem revolves around. One instance, owned by Program.
#pragma once

#include <array>
#include <cstdint>

namespace tarvion {

// Radio index 0..6. Units: COM kHz, NAV 10 kHz, ADF 0.1 kHz, ATC the code.
enum RadioIndex : int { COM1 = 0, COM2 = 1, NAV1 = 2, NAV2 = 3, ADF1 = 4, ADF2 = 5, ATC = 6 };
constexpr int kRadioCount = 7;
constexpr int kSwitchValueCount = 11;

// Panel kinds: the device's product ID.
enum PanelKind : uint16_t {
  kMultiRadio = 8,
  kSwitchPanel = 12,
  kComPanel = 13,
  kNavPanel = 14,
  kAdfPanel = 15,
  kTransponderPanel = 16,
  kRmp = 17,
};

struct RadioState {
  std::array<int32_t, kRadioCount> radio_value{};
  std::array<uint8_t, kRadioCount> radio_dirty{};  // 1 = to be sent
  // By panel mode 0..9; 5 and 6 are the ADF switch flags, 7 the transponder's.
  std::array<uint8_t, 10> mode_flag{};
  int32_t brightness = 121;  // 1..121

  std::array<int32_t, kSwitchValueCount> switch_value{};
  std::array<uint8_t, kSwitchValueCount> switch_dirty{};
  int32_t flaps_step = 0;
};

}  // namespace tarvion
