#include "recording.h"

#include "host_text.h"
#include "panel_model.h"

namespace virtual_panels {

void Recording::add(int64_t ms, const std::string& command) {
  if (start_ < 0) start_ = last_ = ms;
  int64_t delay = ms > last_ ? ms - last_ : 0;
  last_ = ms > last_ ? ms : last_;
  lines_.push_back((delay > 0 ? "+" + std::to_string(delay) + " " : "") + command);
}

// Raw bytes, not the command that made them: a replay then sends exactly what
// Tarvion received, whatever state the host's own panel models are in.
void Recording::input(int64_t ms, const std::string& id, const std::vector<uint8_t>& report) {
  add(ms, "raw " + id + " " + to_hex(report));
}

void Recording::output(int64_t ms, const std::string& id, const std::vector<uint8_t>& report) {
  std::string hex = to_hex(report);
  auto [it, added] = last_output_.try_emplace(id, hex);
  if (!added) {
    if (it->second == hex) return;
    it->second = hex;
  }
  add(ms, "expect " + id + " " + hex + " " + std::to_string(kReplayExpectMs));
}

void Recording::plugged(int64_t ms, const std::string& id, uint16_t kind, const std::string& key,
                        const std::string& name) {
  add(ms, "plug " + id + " " + kind_name(kind) + " " + key + (name.empty() ? "" : " " + name));
}

void Recording::unplugged(int64_t ms, const std::string& id) {
  last_output_.erase(id);
  add(ms, "unplug " + id);
}

std::string Recording::script() const {
  std::string text = "# virtual-panels recording; replay with:\n# virtual-panels --script FILE";
  for (const std::string& p : panels_) text += " " + p;
  text += "\n";
  for (const std::string& line : lines_) text += line + "\n";
  return text;
}

std::string panel_argument(const std::string& id, uint16_t kind, const std::string& key,
                           const std::string& name) {
  return id + "=" + kind_name(kind) + ":" + key + (name.empty() ? "" : ":" + name);
}

}  // namespace virtual_panels
