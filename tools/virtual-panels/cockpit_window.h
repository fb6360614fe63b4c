// The virtual cockpit: one window drawing every plugged panel, with menus to
// plug and unplug panels and to record what passes to and from Tarvion.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "panel_host.h"

namespace virtual_panels {

struct CockpitOptions {
  std::string record_file;               // recording from the start, saved there at the end
  std::function<bool()> stop_requested;  // polled: true closes the window (signals)
  bool trace = false;                    // "drawn ..." and "control ..." lines on stdout, for tests
};

// Opens the display, then start() (listen, plug; false: exit status 2), then
// runs the host inside the window's event loop until the window closes or the
// host ends (quit); the exit status. A display that cannot be opened ends the
// program before it listens, so whoever waits for its port sees it fail.
int run_cockpit(PanelHost& host, const CockpitOptions& options, const std::function<bool()>& start,
                int argc, char** argv);

}  // namespace virtual_panels
