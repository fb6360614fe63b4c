#include "fsuipc/fsuipc_exchange.h"

#include "fsuipc/fsuipc_values.h"
#include "radio/display.h"
#include "radio/radio_panel.h"

namespace tarvion {

namespace {

enum ReadEntry : std::size_t { kLeg1, kLeg2, kLeg3, kFlapIncrement, kFlapPosition, kFlapIndicator };

struct TableRow {
  uint8_t size;
  uint16_t offset;
};
constexpr std::array<TableRow, kFsuipcReadEntries> kReadRows{{
    {4, 0x0BEC},  // gear legs, 0 up .. 16383 down
    {4, 0x0BF0},
    {4, 0x0BF4},
    {2, 0x3BFA},  // flap detent increment
    {2, 0x30E0},  // flap position 0..16383
    {4, 0x0BE0},  // flaps position indicator
}};

// What a radio write puts at its offset, from v = radio_value[radio].
enum class RadioForm { com, nav, adf_main, adf_extended, switch_flag, atc };

struct RadioWrite {
  int radio;
  uint16_t offset;
  uint8_t size;
  RadioForm form;
  int flag;  // mode_flag index for switch_flag
};

// In the order the writes are queued.
constexpr std::array<RadioWrite, 12> kRadioWrites{{
    {COM1, 0x034E, 2, RadioForm::com, 0},
    {COM2, 0x3118, 2, RadioForm::com, 0},
    {NAV1, 0x0350, 2, RadioForm::nav, 0},
    {NAV2, 0x0352, 2, RadioForm::nav, 0},
    {ADF1, 0x034C, 2, RadioForm::adf_main, 0},
    {ADF1, 0x0356, 2, RadioForm::adf_extended, 0},
    {ADF1, 0x3107, 1, RadioForm::switch_flag, 5},
    {ADF2, 0x02D4, 2, RadioForm::adf_main, 0},
    {ADF2, 0x02D6, 2, RadioForm::adf_extended, 0},
    {ADF2, 0x02FB, 1, RadioForm::switch_flag, 6},
    {ATC, 0x0354, 2, RadioForm::atc, 0},
    {ATC, 0x7B91, 1, RadioForm::switch_flag, 7},
}};

int64_t radio_wire_value(const RadioState& state, const RadioWrite& w) {
  // 64-bit so a SET_ value near the int32 limits cannot overflow here.
  const int64_t v = state.radio_value[w.radio];
  switch (w.form) {
    case RadioForm::com:
      return bcd4(v / 10 - 10000);  // the 5 kHz digit is dropped
    case RadioForm::nav:
      return bcd4(v - 10000);
    case RadioForm::adf_main:
      return bcd4((v % 10000) / 10);  // hundreds, tens and ones of kHz
    case RadioForm::adf_extended:
      return bcd4((v / 10000) * 100 + v % 10);  // thousands in bits 8..11, tenths in 0..3
    case RadioForm::switch_flag:
      return state.mode_flag[w.flag] != 0 ? 1 : 0;
    case RadioForm::atc:
      return bcd4(v);
  }
  return 0;
}

// Which of its radio's two read-back words an offset holds; -1 for the switch
// flags, which are not read back.
int echo_word(RadioForm form) {
  switch (form) {
    case RadioForm::adf_extended:
      return 1;
    case RadioForm::switch_flag:
      return -1;
    default:
      return 0;
  }
}

// radio_value from a radio's read-back words, the inverse of radio_wire_value;
// nullopt for words no write could have made.
std::optional<int64_t> radio_from_words(int radio, uint32_t words) {
  const std::optional<int32_t> main = from_bcd4(static_cast<uint16_t>(words));
  const std::optional<int32_t> extended = from_bcd4(static_cast<uint16_t>(words >> 16));
  if (!main || !extended) return std::nullopt;
  switch (radio) {
    case COM1:
    case COM2:
      return (int64_t{*main} + 10000) * 10;  // the 5 kHz digit was never there
    case NAV1:
    case NAV2:
      return int64_t{*main} + 10000;
    case ADF1:
    case ADF2:
      // Main: hundreds, tens and ones of kHz. Extended: thousands * 100 + tenths.
      if (*main > 999 || *extended % 100 > 9) return std::nullopt;
      return int64_t{*extended / 100} * 10000 + *main * 10 + *extended % 100;
    default:
      return *main;
  }
}

struct SwitchWrite {
  int k;  // switch_value index
  uint16_t offset;
  uint8_t size;
};

// Rows of one k are written together, in this order. Engine offsets of the
// on/off switches are 0xC0 apart, the magnetos 0x98 apart.
constexpr std::array<SwitchWrite, 19> kSwitchWrites{{
    {0, 0x0BE8, 4},                                                  // gear lever
    {1, 0x0D0C, 2},                                                  // light bits
    {2, 0x3B78, 4}, {2, 0x3AB8, 4}, {2, 0x39F8, 4}, {2, 0x3938, 4},  // on/off 1
    {3, 0x3102, 1},                                                  // on/off 2
    {4, 0x3103, 1},                                                  // on/off 3
    {5, 0x029C, 1},                                                  // on/off 4
    {6, 0x3B98, 4}, {6, 0x3AD8, 4}, {6, 0x3A18, 4}, {6, 0x3958, 4},  // on/off 5
    {7, 0x0892, 2}, {7, 0x092A, 2}, {7, 0x09C2, 2}, {7, 0x0A5A, 2},  // magnetos
    {8, 0x0BC0, 2},                                                  // elevator trim
    {9, 0x0BDC, 4},                                                  // flaps
}};

int32_t widen(const FsuipcReadEntry& e) {
  if (e.size == 1) return e.buffer[0];
  if (e.size == 2) return e.buffer[0] | e.buffer[1] << 8;
  return static_cast<int32_t>(get_le32(e.buffer, 0));
}

// Takes a new reading; true when it differs from the previous one.
bool changed(FsuipcReadEntry& e) {
  if (e.current == e.previous) return false;
  e.previous = e.current;
  return true;
}

}  // namespace

void FsuipcExchange::reset_exchange_state() {
  for (FsuipcReadEntry& e : table_) {
    e.buffer.fill(0);
    e.current = 0;
    e.previous = 99999;
  }
  echoes_ = {};
}

void FsuipcExchange::fill_fsuipc_read_table() {
  for (std::size_t i = 0; i < kFsuipcReadEntries; ++i) {
    table_[i].size = kReadRows[i].size;
    table_[i].offset = kReadRows[i].offset;
  }
}

bool FsuipcExchange::fsuipc_exchange() {
  const bool read_ok = read_simulator();
  update_switch_panel();
  // Only words the simulator has just given count: after a failed read the
  // buffers hold old words, or zeros before the first good read, and zeros
  // are a valid transponder code. Before the writes, so that a radio marked
  // for sending carries the simulator's value.
  if (read_ok && ctx_.config.follow_sim) follow_simulator_radios();
  int queued = 0;
  if (!ctx_.lists.radios.empty()) queued += queue_radio_writes();
  if (!ctx_.lists.switches.empty()) queued += queue_switch_writes();
  if (queued == 0) return true;
  FsuipcCode code;
  return client_.fsuipc_process(code);
}

bool FsuipcExchange::read_simulator() {
  FsuipcCode code;
  for (FsuipcReadEntry& e : table_) {
    client_.fsuipc_read(e.offset, e.size, std::span<uint8_t>(e.buffer).first(e.size), code);
  }
  if (ctx_.config.follow_sim) queue_radio_reads();
  // The switch panel ignores a failure on purpose: after a failed read the
  // buffers keep the last good values; a lost link shows up on the next write.
  const bool read_ok = client_.fsuipc_process(code);
  for (FsuipcReadEntry& e : table_) e.current = widen(e);
  return read_ok;
}

void FsuipcExchange::queue_radio_reads() {
  FsuipcCode code;
  for (const RadioWrite& w : kRadioWrites) {
    const int word = echo_word(w.form);
    if (word < 0) continue;
    std::span<uint8_t> buffer(echoes_[static_cast<std::size_t>(w.radio)].buffer);
    client_.fsuipc_read(w.offset, w.size, buffer.subspan(2 * static_cast<std::size_t>(word), 2),
                        code);
  }
}

void FsuipcExchange::follow_simulator_radios() {
  for (int radio = 0; radio < kRadioCount; ++radio) {
    FsuipcRadioEcho& echo = echoes_[static_cast<std::size_t>(radio)];
    const uint32_t words = get_le32(echo.buffer, 0);
    // A simulator that has not yet taken a write still shows the words it
    // showed before; taken as its own change, that would undo the panel's.
    // So only words that differ from the last reading count, and not when
    // they are what was written.
    const bool news = words != echo.last_read && words != echo.last_value;
    echo.last_read = words;
    if (!news) continue;
    const std::optional<int64_t> value = radio_from_words(radio, words);
    if (value && take_simulator_value(ctx_, static_cast<RadioIndex>(radio), *value)) {
      echo.last_value = words;
    }
  }
}

void FsuipcExchange::update_switch_panel() {
  RadioState& s = ctx_.state;
  const bool all_lights = ctx_.config.all_lights;
  // Once for each leg that changed.
  for (std::size_t leg : {kLeg1, kLeg2, kLeg3}) {
    if (!changed(table_[leg])) continue;
    s.switch_value[10] =
        gear_light_bits(s.switch_value[10], s.switch_value[0],
                        {table_[kLeg1].current, table_[kLeg2].current, table_[kLeg3].current});
    set_switch_leds(ctx_, s.switch_value[10], all_lights);
  }
  if (changed(table_[kFlapIncrement])) {
    // A new aircraft: its trim starts centred.
    s.flaps_step = table_[kFlapIncrement].current;
    s.switch_value[8] = 0;
    s.switch_dirty[8] = 1;
  }
  if (changed(table_[kFlapPosition])) {
    set_switch_digits(ctx_, flap_display_value(table_[kFlapPosition].current, ctx_.config.mflaps));
  }
  if (changed(table_[kFlapIndicator])) {
    s.switch_value[10] |= kLightFlapsMoving;
  } else {
    s.switch_value[10] &= ~kLightFlapsMoving;
  }
  set_switch_leds(ctx_, s.switch_value[10], all_lights);
}

int FsuipcExchange::queue_write(uint16_t offset, uint8_t size, int64_t value) {
  std::array<uint8_t, 4> scratch{};
  for (uint8_t i = 0; i < size; ++i) scratch[i] = static_cast<uint8_t>(value >> (8 * i));
  FsuipcCode code;
  // A refused write is dropped: one exchange queues far less than a block holds.
  return client_.fsuipc_write(offset, std::span<const uint8_t>(scratch).first(size), code) ? 1 : 0;
}

int FsuipcExchange::queue_radio_writes() {
  RadioState& s = ctx_.state;
  int queued = 0;
  for (int radio = 0; radio < kRadioCount; ++radio) {
    // An option set to NO leaves the radio marked: nothing else clears it.
    if (!ctx_.config.active_write[radio] || s.radio_dirty[radio] == 0) continue;
    s.radio_dirty[radio] = 0;
    uint32_t words = 0;
    for (const RadioWrite& w : kRadioWrites) {
      if (w.radio != radio) continue;
      const int64_t value = radio_wire_value(s, w);
      queued += queue_write(w.offset, w.size, value);
      const int word = echo_word(w.form);
      if (word >= 0) words |= static_cast<uint32_t>(value & 0xFFFF) << (16 * word);
    }
    echoes_[static_cast<std::size_t>(radio)].last_value = words;
  }
  return queued;
}

int FsuipcExchange::queue_switch_writes() {
  RadioState& s = ctx_.state;
  int queued = 0;
  // switch_dirty[10] is never acted on: the lights are not the simulator's.
  for (int k = 0; k < 10; ++k) {
    if (s.switch_dirty[k] == 0) continue;
    s.switch_dirty[k] = 0;
    for (const SwitchWrite& w : kSwitchWrites) {
      if (w.k == k) queued += queue_write(w.offset, w.size, s.switch_value[k]);
    }
  }
  return queued;
}

}  // namespace tarvion
