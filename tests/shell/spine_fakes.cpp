#include "spine_fakes.h"

#include <algorithm>

#include "base/error.h"

namespace tarvion {

SpineRig::SpineRig(std::string text) : config_text(std::move(text)) {
  program = std::make_unique<Program>(ProgramSeams{main_thread, clock, view, socket, hid, notifier,
                                                   ipc, [this] {
                                                     if (config_missing)
                                                       throw TarvionError("File not found");
                                                     return config_text;
                                                   }});
}

std::unique_ptr<SpineRig> SpineRig::without_config() {
  auto rig = std::make_unique<SpineRig>("");
  rig->config_missing = true;
  return rig;
}

bool SpineRig::saw(const std::string& line) const {
  return std::find(view.lines.begin(), view.lines.end(), line) != view.lines.end();
}

}  // namespace tarvion
