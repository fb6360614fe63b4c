// The panel layer as the program spine sees it: start, discovery, the output
// of marked images, stop. Owns the program's one HID device controller.
#pragma once

#include <vector>

#include "base/main_thread.h"
#include "base/program_flags.h"
#include "hid/device_notifier.h"
#include "hid/hid_access.h"
#include "hid/panel_layer_state.h"
#include "hid/thidctl.h"
#include "radio/panels.h"

namespace tarvion {

class PanelLayer {
 public:
  // Program load: creates the controller, which lists the devices present.
  PanelLayer(HidAccess& hid, DeviceNotifier& notifier, MainThread& main_thread, RadioContext ctx,
             ProgramFlags& flags, PanelLayerHooks hooks);

  PanelLayer(const PanelLayer&) = delete;
  PanelLayer& operator=(const PanelLayer&) = delete;

  // Fresh lists, panels_ready set, discovery let through.
  void panel_layer_start();
  // One discovery pass now.
  void discover_panels();
  void send_pending_reports();
  // Discovery suspended, every device handed back, lists dropped. Nothing is
  // written to a panel from its start on: the close has just sent the dark
  // images, and input or a tick that runs while a release waits for its read
  // thread must not light a panel again.
  void panel_layer_stop();

  thidctl& controller() { return controller_; }
  const std::vector<THidDevice*>& panel_devices() const { return state_.panel_devices; }
  bool discovery_suspended() const { return state_.discovery_suspended; }

 private:
  PanelLayerState state_;
  bool output_closed_ = false;  // from panel_layer_stop until the next start
  thidctl controller_;          // after state_: it calls into the state until it is gone
};

}  // namespace tarvion
