#include "hid/panel_layer.h"

#include "hid/output_reports.h"

namespace tarvion {

PanelLayer::PanelLayer(HidAccess& hid, DeviceNotifier& notifier, MainThread& main_thread,
                       RadioContext ctx, ProgramFlags& flags, PanelLayerHooks hooks)
    : state_{ctx, flags, std::move(hooks), true, {}},
      controller_(hid, notifier, main_thread, state_) {}

void PanelLayer::panel_layer_start() {
  state_.ctx.lists.radios.clear();
  state_.ctx.lists.switches.clear();
  state_.panel_devices.clear();
  state_.flags.panels_ready = true;
  state_.discovery_suspended = false;
  output_closed_ = false;
}

void PanelLayer::discover_panels() {
  controller_.HidCtlDeviceChange(controller_);
}

void PanelLayer::send_pending_reports() {
  if (output_closed_) return;
  ::tarvion::send_pending_reports(state_.ctx.lists, state_.flags);
}

void PanelLayer::panel_layer_stop() {
  output_closed_ = true;
  state_.discovery_suspended = true;
  controller_.EnumerateDevices();
  state_.flags.panels_ready = false;
  state_.ctx.lists.radios.clear();
  state_.ctx.lists.switches.clear();
  state_.panel_devices.clear();
}

}  // namespace tarvion
