// What the panel layer keeps between calls: the panel lists it fills, the
// device of every panel, whether discovery runs, and the hooks to the window.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/program_flags.h"
#include "radio/panels.h"

namespace tarvion {

class THidDevice;

struct PanelLayerHooks {
  // ListBox1: a line per panel, then one per panel the system will not open.
  std::function<void(const std::vector<std::string>&)> set_device_list;
  // An error to show the user, without its full stop (a panel the program may not open).
  std::function<void(const std::string&)> report_error = {};
};

struct PanelLayerState {
  RadioContext ctx;     // the radio and switch panel lists live in ctx.lists
  ProgramFlags& flags;  // panels_ready: the layer is started and its lists exist
  PanelLayerHooks hooks;
  bool discovery_suspended = true;
  // Every recognised panel, in order of discovery. Valid only because
  // thidctl::release_panel removes a device here before it releases it.
  std::vector<THidDevice*> panel_devices;
};

}  // namespace tarvion
