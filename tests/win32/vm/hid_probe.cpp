// Tarvion's Windows HID backend against whatever HID stack it runs on: waits
// for a Pendra COM panel (vendor 0, product 13) to be listed, then reads its
// identity, sends one output report and takes one input report. One line per
// step; exit 0 only when every step worked. Run under Wine in the VM test,
// where Wine's own hid.dll/setupapi.dll see a uhid device through hidraw.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/win32/win32_hid_access.h"

namespace {

std::string hex(const uint8_t* data, std::size_t length) {
  std::string text;
  char pair[3];
  for (std::size_t i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", data[i]);
    text += pair;
  }
  return text;
}

int fail(const char* step, uint32_t error) {
  std::printf("PROBE: FAILED %s (error %u)\n", step, static_cast<unsigned>(error));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  int wait_seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  tarvion::Win32HidAccess hid;
  if (!hid.bound()) return fail("binding hid.dll and setupapi.dll", GetLastError());
  // Wine's HID bus finds the device in the background: list until it shows.
  tarvion::HidInterface panel;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(wait_seconds);
  while (panel.path.empty() && std::chrono::steady_clock::now() < deadline) {
    for (const auto& interface : hid.list_interfaces()) {
      tarvion::HidHandle h = hid.open(interface.path, tarvion::HidOpenMode::query_only);
      tarvion::HidAttributes attributes;
      if (h != tarvion::kNoHidHandle && hid.get_attributes(h, attributes) &&
          attributes.vendor_id == 0 && attributes.product_id == 13) {
        panel = interface;
      }
      hid.close(h);
    }
    if (panel.path.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  if (panel.path.empty()) return fail("listing the panel", 0);
  std::printf("PROBE: listed %s driver=%s\n", panel.path.c_str(), panel.driver_key.c_str());

  tarvion::HidHandle main = hid.open(panel.path, tarvion::HidOpenMode::read_write);
  if (main == tarvion::kNoHidHandle) return fail("opening read-write", hid.last_error());
  tarvion::HidCaps caps;
  if (!hid.get_caps(main, caps)) return fail("reading the capabilities", hid.last_error());
  std::printf("PROBE: caps input=%u output=%u\n", caps.input_report_length,
              caps.output_report_length);
  std::u16string product;
  if (hid.get_product_string(main, product)) {
    std::string ascii(product.begin(), product.end());
    std::printf("PROBE: product %s\n", ascii.c_str());
  }

  const uint8_t report[9] = {0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
  std::size_t written = 0;
  if (!hid.write(main, report, sizeof report, written)) return fail("writing", hid.last_error());
  std::printf("PROBE: wrote %zu\n", written);

  tarvion::HidHandle reader = hid.open(panel.path, tarvion::HidOpenMode::read);
  if (reader == tarvion::kNoHidHandle) return fail("opening for reading", hid.last_error());
  uint8_t buffer[64] = {};
  std::size_t length = caps.input_report_length ? caps.input_report_length : 4;
  if (!hid.start_read(reader, buffer, length)) return fail("starting a read", hid.last_error());
  auto got = hid.wait_read(reader, 10000);
  if (!got || *got == 0) {
    hid.cancel_read(reader);
    return fail("reading an input report", hid.last_error());
  }
  std::printf("PROBE: read %s\n", hex(buffer, *got).c_str());
  hid.close(reader);
  hid.close(main);
  std::printf("PROBE: done\n");
  std::fflush(stdout);
  return 0;
}
