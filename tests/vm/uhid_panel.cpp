// A Pendra COM panel made through /dev/uhid for the Wine test in the VM: it
// sends an input report every 100 ms and prints each output report it gets,
// until its time is up.
//   tarvion-uhid-panel <seconds>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "panel_descriptors.h"
#include "uhid_device.h"

using namespace tarvion::testing;

int main(int argc, char** argv) {
  int seconds = argc > 1 ? std::atoi(argv[1]) : 120;
  // Three input bytes and eight output bytes, unnumbered, as the COM panel has.
  UhidDevice panel(
      UhidDescription{"Pendra COM Panel", "usb-vm-1/input0", 0, 13, panel_descriptor(3, 8)});
  if (!panel.created()) {
    std::printf("UHID-PANEL: cannot create\n");
    return 1;
  }
  std::printf("UHID-PANEL: created\n");
  std::fflush(stdout);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    // Active low: a distinct pattern the probe looks for.
    panel.send_input({0xFE, 0xDC, 0xBA});
    if (auto output = panel.next_output(std::chrono::milliseconds(100))) {
      std::string hex;
      for (uint8_t b : *output) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", b);
        hex += pair;
      }
      std::printf("UHID-PANEL: output %s\n", hex.c_str());
      std::fflush(stdout);
    }
  }
  return 0;
}
