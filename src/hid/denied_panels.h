// Panels the system will not let the program open (no udev rule for them, or
// another program holding them): their device list lines, and the one report
// per plug that tells the user how to let the program in.
#pragma once

#include <string>
#include <vector>

#include "hid/hid_controller.h"

namespace tarvion {

// "/dev/hidraw3 - no access"
std::string denied_panel_line(const std::string& path);
// What the user is told, without its full stop.
std::string denied_panel_report(const std::string& path, HidOpenError reason);

class DeniedPanels {
 public:
  // Takes the devices denied now and returns the reports of the panels among
  // them not reported before. A panel stays reported while it stays listed as
  // denied: the retry at every device change says nothing new.
  std::vector<std::string> update(const std::vector<HidDeniedDevice>& denied);
  // One device list line per panel denied now.
  const std::vector<std::string>& lines() const { return lines_; }

 private:
  std::vector<std::string> reported_;  // identities
  std::vector<std::string> lines_;
};

}  // namespace tarvion
