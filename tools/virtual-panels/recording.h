// A recording of what passed between the panels and Tarvion, written as a
// host script: replaying it sends the same input reports at the same pace and
// fails where Tarvion's output reports differ.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace virtual_panels {

class Recording {
 public:
  // panels: the panels plugged when the recording starts, as the command line
  // gives them ("com1=com:0001:com"); the script's first comment repeats them.
  explicit Recording(std::vector<std::string> panels) : panels_(std::move(panels)) {}

  // Times are milliseconds since any fixed moment, never decreasing.
  void input(int64_t ms, const std::string& id, const std::vector<uint8_t>& report);
  // An output report the same panel already shows is not written again.
  void output(int64_t ms, const std::string& id, const std::vector<uint8_t>& report);
  void plugged(int64_t ms, const std::string& id, uint16_t kind, const std::string& key,
               const std::string& name);
  void unplugged(int64_t ms, const std::string& id);

  std::string script() const;

 private:
  void add(int64_t ms, const std::string& command);

  std::vector<std::string> panels_;
  std::vector<std::string> lines_;
  std::map<std::string, std::string> last_output_;
  int64_t start_ = -1, last_ = 0;
};

// The time an output may take on replay before the script fails.
inline constexpr int kReplayExpectMs = 5000;

// "com1=com:0001:com": how the command line plugs a panel.
std::string panel_argument(const std::string& id, uint16_t kind, const std::string& key,
                           const std::string& name);

}  // namespace virtual_panels
