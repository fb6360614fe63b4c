#include "bridge/bridge_mapping.h"

#include <charconv>
#include <cmath>

#include "base/error.h"
#include "base/shown_text.h"
#include "base/str_to_int.h"

namespace tarvion::bridge {

namespace {

struct Radio {
  int32_t number;
  const char* xplane;
  const char* flightgear;
  double flightgear_factor;
  WireRange range;
};

// Wire units: COM and NAV in 10 kHz, ADF in kHz, the squawk as its four digits.
const Radio kRadios[] = {
    {256,
     "sim/cockpit/radios/com1_freq_hz",
     "/instrumentation/comm[0]/frequencies/selected-mhz",
     0.01,
     {11800, 13699}},
    {257,
     "sim/cockpit/radios/com2_freq_hz",
     "/instrumentation/comm[1]/frequencies/selected-mhz",
     0.01,
     {11800, 13699}},
    {254,
     "sim/cockpit/radios/nav1_freq_hz",
     "/instrumentation/nav[0]/frequencies/selected-mhz",
     0.01,
     {10800, 11795}},
    {255,
     "sim/cockpit/radios/nav2_freq_hz",
     "/instrumentation/nav[1]/frequencies/selected-mhz",
     0.01,
     {10800, 11795}},
    {258,
     "sim/cockpit/radios/adf1_freq_hz",
     "/instrumentation/adf[0]/frequencies/selected-khz",
     1,
     {100, 1799}},
    {259,
     "sim/cockpit/radios/adf2_freq_hz",
     "/instrumentation/adf[1]/frequencies/selected-khz",
     1,
     {100, 1799}},
    {311,
     "sim/cockpit/radios/transponder_code",
     "/instrumentation/transponder/id-code",
     1,
     {0, 7777, true}},
};

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

}  // namespace

bool WireRange::contains(int32_t value) const {
  if (value < min || value > max) return false;
  if (!octal_digits) return true;
  for (int32_t rest = value; rest > 0; rest /= 10) {
    if (rest % 10 > 7) return false;
  }
  return true;
}

WireRange wire_range_of(int32_t number) {
  for (const Radio& radio : kRadios) {
    if (radio.number == number) return radio.range;
  }
  return {};
}

BridgeMapping BridgeMapping::builtin(Simulator simulator) {
  BridgeMapping mapping;
  for (const Radio& radio : kRadios) {
    const bool xplane = simulator == Simulator::XPlane;
    // X-Plane's radio datarefs use the wire's own units.
    mapping.variables_.push_back({radio.number, xplane ? radio.xplane : radio.flightgear,
                                  xplane ? 1.0 : radio.flightgear_factor, radio.range});
  }
  return mapping;
}

void BridgeMapping::apply_map_file(std::string_view text) {
  int line_number = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++line_number;
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;

    const auto fail = [&](const std::string& why) {
      throw TarvionError("map file line " + std::to_string(line_number) + ": " + why + " ('" +
                         shown_text(line) + "')");
    };
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) fail("expected NUMBER=NAME [FACTOR]");
    const auto number = try_str_to_int(trim(line.substr(0, eq)));
    if (!number) fail("the variable number is not an integer");
    std::string_view rest = trim(line.substr(eq + 1));
    const size_t space = rest.find_first_of(" \t");
    const std::string_view name = rest.substr(0, space);
    if (name.empty()) fail("no simulator name");
    // Names travel in fixed-size packet fields (X-Plane's 400 bytes) and lines.
    if (name.size() > 399) fail("the simulator name is longer than 399 bytes");
    double factor = 1.0;
    if (space != std::string_view::npos) {
      const std::string_view factor_text = trim(rest.substr(space));
      const auto [ptr, ec] =
          std::from_chars(factor_text.data(), factor_text.data() + factor_text.size(), factor);
      if (ec != std::errc() || ptr != factor_text.data() + factor_text.size() ||
          !std::isfinite(factor) || factor == 0) {
        fail("the factor is not a non-zero number");
      }
    }
    MappedVariable variable{*number, std::string(name), factor, wire_range_of(*number)};
    if (auto at = find(*number)) {
      variables_[*at] = std::move(variable);
    } else {
      variables_.push_back(std::move(variable));
    }
  }
}

std::optional<size_t> BridgeMapping::find(int32_t number) const {
  for (size_t i = 0; i < variables_.size(); ++i) {
    if (variables_[i].number == number) return i;
  }
  return std::nullopt;
}

std::optional<double> BridgeMapping::to_simulator(size_t index, int32_t wire) const {
  const MappedVariable& variable = variables_.at(index);
  if (!variable.range.contains(wire)) return std::nullopt;
  return wire * variable.factor;
}

std::optional<int32_t> BridgeMapping::to_wire(size_t index, double simulator_value) const {
  const double wire = std::round(simulator_value / variables_.at(index).factor);
  if (!std::isfinite(wire) || wire < INT32_MIN || wire > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(wire);
}

}  // namespace tarvion::bridge
