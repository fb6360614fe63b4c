// FlightGear's property server as the bridge reads it: CR LF (or LF) lines,
// "path=value" for a subscribed property's change and a bare value for the
// answer to a get in data mode.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tarvion::bridge {

// Longer lines are dropped whole: no property the bridge reads comes near it.
inline constexpr size_t kMaxPropertyLine = 4096;

class PropertyLineBuffer {
 public:
  // Calls line() for every complete line, without its line end.
  void add(std::string_view bytes, const std::function<void(std::string_view)>& line);
  void clear();

 private:
  std::string pending_;
  bool discarding_ = false;
};

struct PropertyUpdate {
  std::string path;  // normalised
  std::string value;
};
// "path=value"; nothing for a line without "=" before any space.
std::optional<PropertyUpdate> parse_property_update(std::string_view line);

// A path with every "[0]" dropped: FlightGear names index 0 both ways.
std::string normalise_property_path(std::string_view path);

// A property's text as a number; nothing for anything else.
std::optional<double> property_number(std::string_view text);
// A number as the bridge writes it: fixed point, no trailing zeros ("118.3", "200").
std::string property_text(double value);

}  // namespace tarvion::bridge
