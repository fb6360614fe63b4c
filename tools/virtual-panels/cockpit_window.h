// The virtual cockpit: one window drawing every plugged panel, with menus to
// plug and unplug panels and to record what passes to and from Tarvion.
#pragma once

#include <string>
#include <vector>

#include "panel_host.h"

namespace virtual_panels {

struct CockpitOptions {
  std::string record_file;  // recording from the start, saved there at the end
};

// Runs the host inside the window's event loop until the window closes or the
// host ends (quit, failed script); the exit status.
int run_cockpit(PanelHost& host, const CockpitOptions& options, int argc, char** argv);

}  // namespace virtual_panels
