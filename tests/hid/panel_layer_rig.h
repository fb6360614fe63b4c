// A panel layer over virtual devices, with the state the program would own.
#pragma once

#include <string>
#include <vector>

#include "hid/panel_layer.h"
#include "hid_rig.h"

namespace tarvion::testing {

struct PanelLayerRig : HidRig {
  Config config;
  RadioState state;
  PanelLists lists;
  ProgramFlags flags;
  std::vector<std::vector<std::string>> device_lists;  // every rebuild of the list box
  PanelLayer layer{hid,
                   notifier,
                   main_thread,
                   RadioContext{state, lists, config},
                   flags,
                   PanelLayerHooks{[this](const std::vector<std::string>& lines) {
                     device_lists.push_back(lines);
                   }}};

  // Start-up as the program does it, then the posted notification.
  void start() {
    layer.panel_layer_start();
    layer.discover_panels();
    notifier.deliver_pending();
  }
  c_rad* radio(uint16_t number) {
    for (auto& r : lists.radios) {
      if (r->number == number) return r.get();
    }
    return nullptr;
  }
  std::vector<std::string> last_lines() const {
    return device_lists.empty() ? std::vector<std::string>{} : device_lists.back();
  }
};

}  // namespace tarvion::testing
