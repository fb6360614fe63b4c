#include "radio/switch_panel.h"

#include <algorithm>

#include "radio/encoder.h"

namespace tarvion {

namespace {

constexpr int32_t kAxisMax = 16383;
constexpr int32_t kNoTrimYet = 99999;
constexpr int32_t kFlapsUnknown = 99999;

enum SwitchIndex : size_t {
  kGear = 0,
  kLights = 1,
  kFirstOnOff = 2,
  kSelector = 7,
  kTrim = 8,
  kFlaps = 9,
};

struct LightInput {
  uint16_t bit;
  int32_t lights;
  bool panel_light;  // REVERSE_PANEL rather than REVERSE_SW sets its sense
};

constexpr LightInput kLightInputs[] = {
    {1 << 5, 0x20, true},  {1 << 6, 0x04, false}, {1 << 7, 0x08, false},
    {1 << 8, 0x01, false}, {1 << 9, 0x12, false},
};

void set(RadioState& st, size_t i, int32_t v) {
  st.switch_value[i] = v;
  st.switch_dirty[i] = 1;
}

void step_trim(RadioContext& ctx, c_efis& efis) {
  const bool a = efis.word_b & 0x4;
  const bool b = efis.word_b & 0x8;
  efis.trim_pos = quadrature_position(a, b);
  if (efis.trim_pos == efis.trim_last) return;
  // Before the first movement only the position is recorded.
  if (efis.trim_last != kNoTrimYet) {
    const int64_t s = detent_step(efis.trim_last, efis.trim_pos);
    const int64_t trim = ctx.state.switch_value[kTrim] + s * int64_t{ctx.config.trim_factor};
    set(ctx.state, kTrim, static_cast<int32_t>(std::clamp<int64_t>(trim, -kAxisMax, kAxisMax)));
  }
  efis.trim_last = efis.trim_pos;
}

void follow_switches(RadioContext& ctx, const c_efis& efis) {
  RadioState& st = ctx.state;
  const uint16_t a = efis.word_a;
  set(st, kGear, (a & 0x8000) ? kAxisMax : 0);

  int32_t lights = st.switch_value[kLights];
  for (const LightInput& in : kLightInputs) {
    const bool reverse = in.panel_light ? ctx.config.reverse_panel : ctx.config.reverse_sw;
    const bool on = ((a & in.bit) != 0) != reverse;
    lights = on ? (lights | in.lights) : (lights & ~in.lights);
  }
  set(st, kLights, lights);

  for (size_t k = 0; k < 5; ++k) {
    const bool on = ((a & (1u << (10 + k))) != 0) != ctx.config.reverse_sw;
    set(st, kFirstOnOff + k, on ? 1 : 0);
  }

  // Bits in order 0..4: with two set, the later one stays.
  for (int32_t pos = 0; pos < 5; ++pos) {
    if (!(a & (1u << pos))) continue;
    if (pos == 3 && st.switch_value[kSelector] == 3) continue;
    set(st, kSelector, pos);
  }
}

void step_flaps(RadioContext& ctx, c_efis& efis) {
  RadioState& st = ctx.state;
  const uint16_t buttons = efis.word_b & 0x3;
  const uint16_t pressed = buttons & static_cast<uint16_t>(~efis.flaps_last);
  efis.flaps_last = buttons;
  // The simulator has not told its flap detent increment yet.
  if (st.flaps_step == kFlapsUnknown) return;
  const int64_t flaps = st.switch_value[kFlaps];
  const int64_t step = st.flaps_step;
  // A step that would leave 0..16383 is refused whole.
  if ((pressed & 0x1) && flaps - step >= 0 && flaps - step <= kAxisMax) {
    set(st, kFlaps, static_cast<int32_t>(flaps - step));
  }
  const int64_t now = st.switch_value[kFlaps];
  if ((pressed & 0x2) && now + step <= kAxisMax && now + step >= 0) {
    set(st, kFlaps, static_cast<int32_t>(now + step));
  }
}

}  // namespace

void handle_switch_input(RadioContext& ctx, c_efis& efis) {
  step_trim(ctx, efis);
  follow_switches(ctx, efis);
  step_flaps(ctx, efis);
}

}  // namespace tarvion
