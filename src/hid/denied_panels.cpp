#include "hid/denied_panels.h"

#include <algorithm>
#include <optional>

#include "base/shown_text.h"
#include "hid/panel_recognition.h"

namespace tarvion {

std::string denied_panel_line(const std::string& path) {
  return path + " - no access";
}

std::string denied_panel_report(const std::string& path, HidOpenError reason) {
  std::string report = "No access to the panel at " + shown_text(path) + ": ";
  if (reason == HidOpenError::held_elsewhere) {
    return report + "another program holds it; close that program, then replug the panel";
  }
  return report +
         "install the udev rule packaging/udev/70-tarvion-panels.rules (see the README), then "
         "replug the panel";
}

std::vector<std::string> DeniedPanels::update(const std::vector<HidDeniedDevice>& denied) {
  std::vector<std::string> reports;
  std::vector<std::string> still_reported;
  lines_.clear();
  for (const HidDeniedDevice& device : denied) {
    // Without the IDs nothing says it is a panel, and every keyboard and mouse
    // node is closed to the user too.
    const std::optional<HidAttributes>& ids = device.listed.listed_ids;
    if (!ids || !is_panel(ids->vendor_id, ids->product_id)) continue;
    lines_.push_back(denied_panel_line(device.listed.path));
    if (std::find(reported_.begin(), reported_.end(), device.listed.identity) == reported_.end()) {
      reports.push_back(denied_panel_report(device.listed.path, device.reason));
    }
    still_reported.push_back(device.listed.identity);
  }
  reported_ = std::move(still_reported);
  return reports;
}

}  // namespace tarvion
