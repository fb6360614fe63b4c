#include "bridge/flightgear_lines.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace tarvion::bridge {

void PropertyLineBuffer::add(std::string_view bytes,
                             const std::function<void(std::string_view)>& line) {
  while (!bytes.empty()) {
    const size_t lf = bytes.find('\n');
    const std::string_view part = bytes.substr(0, lf);
    bytes.remove_prefix(lf == std::string_view::npos ? bytes.size() : lf + 1);
    if (!discarding_) {
      if (pending_.size() + part.size() > kMaxPropertyLine) {
        pending_.clear();
        discarding_ = true;
      } else {
        pending_.append(part);
      }
    }
    if (lf == std::string_view::npos) break;
    if (!discarding_) {
      std::string_view whole = pending_;
      if (!whole.empty() && whole.back() == '\r') whole.remove_suffix(1);
      line(whole);
    }
    pending_.clear();
    discarding_ = false;
  }
}

void PropertyLineBuffer::clear() {
  pending_.clear();
  discarding_ = false;
}

std::string normalise_property_path(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  while (!path.empty()) {
    if (path.starts_with("[0]")) {
      path.remove_prefix(3);
      continue;
    }
    out.push_back(path.front());
    path.remove_prefix(1);
  }
  return out;
}

std::optional<PropertyUpdate> parse_property_update(std::string_view line) {
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos || eq == 0) return std::nullopt;
  const std::string_view path = line.substr(0, eq);
  if (path.find(' ') != std::string_view::npos) return std::nullopt;
  return PropertyUpdate{normalise_property_path(path), std::string(line.substr(eq + 1))};
}

std::optional<double> property_number(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  // Prompt mode quotes values ('118.3'); data mode does not.
  if (text.size() >= 2 && text.front() == '\'' && text.back() == '\'') {
    text = text.substr(1, text.size() - 2);
  }
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() ||
      !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::string property_text(double value) {
  char text[400];  // %f of the largest double fits
  std::snprintf(text, sizeof text, "%.6f", value);
  std::string out(text);
  while (out.back() == '0') out.pop_back();
  if (out.back() == '.') out.pop_back();
  if (out == "-0") out = "0";
  return out;
}

}  // namespace tarvion::bridge
