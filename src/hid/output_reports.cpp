#include "hid/output_reports.h"

#include <algorithm>
#include <vector>

#include "hid/hid_device.h"

namespace tarvion {

bool write_frame(THidDevice& device, OutputKind kind, const OutputFrame& frame) {
  HidCaps caps;
  device.GetCaps(caps);
  // A device without a known output report takes nothing: a zero-length write
  // would only reach the system as an error.
  if (caps.output_report_length == 0) return false;
  std::vector<uint8_t> report(caps.output_report_length, 0);
  std::copy_n(frame.begin(), std::min(frame.size(), report.size()), report.begin());
  return device.PostReport(kind, report.data(), report.size()) != OutputResult::failed;
}

void send_pending_reports(PanelLists& lists, const ProgramFlags& flags) {
  if (!flags.panels_ready) return;
  for (auto it = lists.radios.rbegin(); it != lists.radios.rend(); ++it) {
    c_rad& rad = **it;
    if (rad.display_changed) {
      if (rad.device) write_frame(*rad.device, OutputKind::display, display_report(rad));
      rad.display_changed = 0;
    }
    if (rad.leds_changed) {
      if (rad.device) write_frame(*rad.device, OutputKind::lights, light_report(rad));
      rad.leds_changed = 0;
    }
  }
  for (auto it = lists.switches.rbegin(); it != lists.switches.rend(); ++it) {
    c_efis& efis = **it;
    if (efis.changed) {
      if (efis.device) write_frame(*efis.device, OutputKind::switches, switch_report(efis));
      efis.changed = 0;
    }
  }
}

void send_first_switch_report(c_efis& efis) {
  if (efis.device) write_frame(*efis.device, OutputKind::switches, OutputFrame{});
}

}  // namespace tarvion
