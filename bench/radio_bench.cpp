// Input path of the radio logic: one report decoded, handled and the panel's
// image composed. Each report is one knob detent, so every one acts.
#include <benchmark/benchmark.h>

#include <array>
#include <memory>

#include "base/config.h"
#include "radio/display.h"
#include "radio/input_decoding.h"
#include "radio/panels.h"

namespace tarvion {
namespace {

struct Setup {
  Config config;
  RadioState state;
  PanelLists lists;
  RadioContext ctx{state, lists, config};

  Setup() {
    state.radio_value = {118000, 118000, 10800, 10800, 1000, 1000, 1200};
    state.flaps_step = 2047;
    // A full cockpit: the lists are walked by sharing and by the RMP light rule.
    const std::array<std::array<uint16_t, 3>, 8> panels{{{kMultiRadio, 1, 0},
                                                         {kComPanel, 2, 16},
                                                         {kComPanel, 3, 256},
                                                         {kNavPanel, 4, 512},
                                                         {kAdfPanel, 5, 16384},
                                                         {kTransponderPanel, 6, 4096},
                                                         {kRmp, 7, 1},
                                                         {kRmp, 8, 2}}};
    for (const auto& p : panels) {
      lists.radios.push_back(std::make_unique<c_rad>(make_c_rad(p[0], p[1], p[2])));
      compose_display(ctx, *lists.radios.back(), DisplayFill::blank);
      load_active_values(state, *lists.radios.back());
    }
    lists.switches.push_back(std::make_unique<c_efis>());
    lists.switches.back()->number = 9;
  }
};

// Phase bits A, B of quadrature positions 0..3.
constexpr std::array<uint8_t, 4> kPhases{0x0, 0x1, 0x3, 0x2};

void BM_ComPanelOuterDetent(benchmark::State& bs) {
  Setup s;
  std::array<uint8_t, 1> payload{};
  unsigned pos = 0;
  for (auto _ : bs) {
    pos = (pos + 1) % 4;
    payload[0] = static_cast<uint8_t>(~kPhases[pos]);
    decode_input_report(s.ctx, kComPanel, 2, payload.data(), payload.size());
    benchmark::DoNotOptimize(s.lists.radios[1]->digits);
  }
  bs.SetItemsProcessed(bs.iterations());
}
BENCHMARK(BM_ComPanelOuterDetent);

// The RMP's image also relights every other RMP.
void BM_RmpInnerDetent(benchmark::State& bs) {
  Setup s;
  std::array<uint8_t, 2> payload{0xFF, 0xFF};
  unsigned pos = 0;
  for (auto _ : bs) {
    pos = (pos + 1) % 4;
    payload[0] = static_cast<uint8_t>(~kPhases[pos]);  // inner phases: word bits 8, 9
    decode_input_report(s.ctx, kRmp, 7, payload.data(), payload.size());
    benchmark::DoNotOptimize(s.lists.radios[6]->leds);
  }
  bs.SetItemsProcessed(bs.iterations());
}
BENCHMARK(BM_RmpInnerDetent);

// A transponder digit goes live and is shared with every other panel.
void BM_TransponderInnerDetent(benchmark::State& bs) {
  Setup s;
  std::array<uint8_t, 2> payload{0xFF, 0xFF};
  unsigned pos = 0;
  for (auto _ : bs) {
    pos = (pos + 1) % 4;
    payload[1] = static_cast<uint8_t>(~(kPhases[pos] << 1));  // inner phases: byte 1 bits 1, 2
    decode_input_report(s.ctx, kTransponderPanel, 6, payload.data(), payload.size());
    benchmark::DoNotOptimize(s.state.radio_value);
  }
  bs.SetItemsProcessed(bs.iterations());
}
BENCHMARK(BM_TransponderInnerDetent);

void BM_SwitchPanelTrimDetent(benchmark::State& bs) {
  Setup s;
  // word_b at rest is bytes 2-3 = 0F CF; the trim phases are its bits 2 and 3.
  std::array<uint8_t, 5> payload{0xFF, 0xFF, 0x0F, 0xCF, 0x00};
  unsigned pos = 0;
  for (auto _ : bs) {
    pos = (pos + 1) % 4;
    payload[2] = static_cast<uint8_t>(0x0F & ~(kPhases[pos] << 2));
    decode_input_report(s.ctx, kSwitchPanel, 9, payload.data(), payload.size());
    benchmark::DoNotOptimize(s.state.switch_value);
  }
  bs.SetItemsProcessed(bs.iterations());
}
BENCHMARK(BM_SwitchPanelTrimDetent);

}  // namespace
}  // namespace tarvion
