#include "hid/panel_layer.h"

namespace tarvion {

PanelLayer::PanelLayer(HidAccess& hid, DeviceNotifier& notifier, MainThread& main_thread,
                       RadioContext ctx, ProgramFlags& flags, PanelLayerHooks hooks)
    : hid_(hid),
      notifier_(notifier),
      main_thread_(main_thread),
      ctx_(ctx),
      flags_(flags),
      hooks_(std::move(hooks)) {}

// Not built yet: the HID layer fills in discovery; until then the lists stay
// empty but exist, as with no panel attached.
void PanelLayer::panel_layer_start() { flags_.panels_ready = true; }
// Not built yet: panel discovery arrives with the HID layer.
void PanelLayer::discover_panels() {}
// Not built yet: the output reports arrive with the HID layer.
void PanelLayer::send_pending_reports() {}
// Not built yet: releasing devices arrives with the HID layer.
void PanelLayer::panel_layer_stop() {
  flags_.panels_ready = false;
  ctx_.lists.radios.clear();
  ctx_.lists.switches.clear();
}

}  // namespace tarvion
