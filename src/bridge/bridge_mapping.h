// Which simulator quantity each ZEMP variable stands for, how its wire value
// converts to the simulator's unit, and which values may be written at all.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvion::bridge {

enum class Simulator { XPlane, FlightGear };

// The band a radio's wire value must lie in before it reaches the simulator.
struct WireRange {
  int32_t min = INT32_MIN;
  int32_t max = INT32_MAX;
  bool octal_digits = false;  // a squawk: every decimal digit 0..7
  bool contains(int32_t value) const;
};

struct MappedVariable {
  int32_t number = 0;
  std::string name;     // dataref or property path
  double factor = 1.0;  // simulator value = wire value x factor
  WireRange range;
};

class BridgeMapping {
 public:
  // The seven radios of Tarvion's variable table under the simulator's standard names.
  static BridgeMapping builtin(Simulator simulator);

  // Adds or replaces the mapping of each "NUMBER=NAME [FACTOR]" line; blank
  // lines and lines starting with # or ; are comments. A known radio number
  // keeps its range. Throws TarvionError naming the line for anything else.
  void apply_map_file(std::string_view text);

  const std::vector<MappedVariable>& variables() const { return variables_; }
  // Index into variables(), or nothing for a number no mapping knows.
  std::optional<size_t> find(int32_t number) const;

  // The simulator's value for a wire value, or nothing when the value is out
  // of the radio's band (a registration line carries 0 before the first exchange).
  std::optional<double> to_simulator(size_t index, int32_t wire) const;
  // The wire value for what the simulator reports, rounded to the nearest
  // integer; nothing for values that are no number or do not fit 32 bits.
  std::optional<int32_t> to_wire(size_t index, double simulator_value) const;

 private:
  std::vector<MappedVariable> variables_;
};

// The band of one of Tarvion's seven radio variables, or any value for other numbers.
WireRange wire_range_of(int32_t number);

}  // namespace tarvion::bridge
