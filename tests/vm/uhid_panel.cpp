// A Pendra COM panel made through /dev/uhid for the Wine tests in the VM.
//   tarvion-uhid-panel <seconds>
//     for the probe: sends an input report every 100 ms and prints each
//     output report it gets, until its time is up.
//   tarvion-uhid-panel script <seconds>
//     for the whole program: waits for its first display, turns the outer
//     knob until the standby digits change, presses transfer, then goes on
//     printing every output report until its time is up. Each step is a
//     line, so the VM's script can follow it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "panel_descriptors.h"
#include "uhid_device.h"

using namespace tarvion::testing;
using Clock = std::chrono::steady_clock;

namespace {

std::unique_ptr<UhidDevice> plug_in() {
  // Three input bytes and eight output bytes, unnumbered, as the COM panel has.
  return std::make_unique<UhidDevice>(
      UhidDescription{"Pendra COM Panel", "usb-vm-1/input0", 0, 13, panel_descriptor(3, 8)});
}

std::string hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  for (uint8_t b : bytes) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", b);
    text += pair;
  }
  return text;
}

void say(const std::string& line) {
  std::printf("UHID-PANEL: %s\n", line.c_str());
  std::fflush(stdout);
}

// The report's six digit bytes (after the report-ID byte): active, then standby.
std::string digits_of(const std::vector<uint8_t>& report) {
  return report.size() >= 7 ? hex({report.begin() + 1, report.begin() + 7}) : "";
}

int run_script(Clock::time_point deadline) {
  auto panel = plug_in();
  if (!panel->created()) return say("cannot create"), 1;
  say("created");
  // Everything released (active low); the outer knob's two phase bits are
  // byte 0 bits 0 and 1, transfer is bit 6.
  uint8_t phase_bits[4] = {0x00, 0x01, 0x03, 0x02};
  int position = 0;
  auto idle = [&] { return std::vector<uint8_t>{static_cast<uint8_t>(~phase_bits[position]), 0xFF, 0xFF}; };
  std::string first_digits, last_digits;
  enum class Step { first_display, turning, pressing, done } step = Step::first_display;
  auto step_began = Clock::now();
  int turns = 0;
  while (Clock::now() < deadline) {
    std::vector<uint8_t> input = idle();
    if (step == Step::pressing) input[0] &= static_cast<uint8_t>(~0x40);
    panel->send_input(input);
    if (auto output = panel->next_output(std::chrono::milliseconds(100))) {
      say("output " + hex(*output));
      last_digits = digits_of(*output);
      if (step == Step::first_display && last_digits != "aaaaaaaaaaaa") {
        // The first display with values (a blank one may come before it).
        first_digits = last_digits;
        step = Step::turning;
        say("first display");
      }
    }
    if (step == Step::turning) {
      if (last_digits != first_digits) {
        say("standby changed");
        step = Step::pressing;
        step_began = Clock::now();
      } else if (turns < 400) {
        position = (position + 1) % 4;  // one quarter of a detent, clockwise
        ++turns;
      }
    } else if (step == Step::pressing && Clock::now() - step_began > std::chrono::milliseconds(400)) {
      say("transfer pressed");
      step = Step::done;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool script = argc > 1 && std::strcmp(argv[1], "script") == 0;
  int seconds = argc > 1 + script ? std::atoi(argv[1 + script]) : 120;
  auto deadline = Clock::now() + std::chrono::seconds(seconds);
  if (script) return run_script(deadline);
  auto panel = plug_in();
  if (!panel->created()) return say("cannot create"), 1;
  say("created");
  while (Clock::now() < deadline) {
    // Active low: a distinct pattern the probe looks for.
    panel->send_input({0xFE, 0xDC, 0xBA});
    if (auto output = panel->next_output(std::chrono::milliseconds(100))) say("output " + hex(*output));
  }
  return 0;
}
