// The panel layer as the program spine sees it: start, discovery, the output
// of marked images, stop.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/main_thread.h"
#include "base/program_flags.h"
#include "hid/device_notifier.h"
#include "hid/hid_access.h"
#include "radio/panels.h"

namespace tarvion {

struct PanelLayerHooks {
  std::function<void(const std::vector<std::string>&)> set_device_list;  // ListBox1
};

class PanelLayer {
 public:
  PanelLayer(HidAccess& hid, DeviceNotifier& notifier, MainThread& main_thread, RadioContext ctx,
             ProgramFlags& flags, PanelLayerHooks hooks);

  void panel_layer_start();
  void discover_panels();
  void send_pending_reports();
  void panel_layer_stop();

 private:
  HidAccess& hid_;
  DeviceNotifier& notifier_;
  MainThread& main_thread_;
  RadioContext ctx_;
  ProgramFlags& flags_;
  PanelLayerHooks hooks_;
};

}  // namespace tarvion
