#include "platform/virtual/virtual_panel_link.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>

#include "base/utf16.h"

namespace tarvion {
namespace {

constexpr std::size_t kMaxIdLength = 32;
constexpr std::size_t kMaxDriverKeyLength = 200;
constexpr unsigned kMaxReportLength = 1024;

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Takes the next token (up to a space) and the spaces after it.
std::string_view next_token(std::string_view& rest) {
  std::size_t end = rest.find(' ');
  std::string_view token = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end);
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  return token;
}

bool valid_id(std::string_view id) {
  return !id.empty() && id.size() <= kMaxIdLength && std::all_of(id.begin(), id.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
           c == '-' || c == '.';
  });
}

std::optional<uint16_t> hex4(std::string_view text) {
  if (text.size() != 4) return std::nullopt;
  uint16_t value = 0;
  for (char c : text) {
    int digit = hex_value(c);
    if (digit < 0) return std::nullopt;
    value = static_cast<uint16_t>(value * 16 + digit);
  }
  return value;
}

std::optional<unsigned> decimal(std::string_view text, unsigned max) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || value > max) return std::nullopt;
  return value;
}

bool is_loopback_ipv4(std::string_view host) {
  int parts = 0;
  std::string_view rest = host;
  unsigned first = 0;
  while (true) {
    std::size_t dot = rest.find('.');
    std::string_view part = rest.substr(0, dot);
    if (part.empty() || part.size() > 3) return false;
    auto value = decimal(part, 255);
    if (!value) return false;
    if (parts == 0) first = *value;
    ++parts;
    if (dot == std::string_view::npos) break;
    rest = rest.substr(dot + 1);
  }
  return parts == 4 && first == 127;
}

}  // namespace

std::string to_hex(const std::vector<uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

bool from_hex(std::string_view text, std::vector<uint8_t>& bytes) {
  bytes.clear();
  if (text.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    int high = hex_value(text[i]);
    int low = hex_value(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return true;
}

std::optional<std::vector<uint8_t>> from_hex(std::string_view text) {
  std::vector<uint8_t> bytes;
  if (!from_hex(text, bytes)) return std::nullopt;
  return bytes;
}

std::optional<PanelHostEndpoint> panel_host_from_environment(std::string& error) {
  error.clear();
  const char* text = std::getenv(kVirtualPanelsVariable);
  if (text == nullptr || *text == '\0') return std::nullopt;
  std::string reason;
  auto endpoint = parse_panel_host_endpoint(text, reason);
  if (!endpoint) error = std::string(kVirtualPanelsVariable) + "=" + text + ": " + reason;
  return endpoint;
}

std::optional<PanelHostEndpoint> parse_panel_host_endpoint(std::string_view text,
                                                           std::string& reason) {
  std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) {
    reason = "expected HOST:PORT";
    return std::nullopt;
  }
  std::string_view host = text.substr(0, colon);
  auto port = decimal(text.substr(colon + 1), 65535);
  if (!port || *port == 0) {
    reason = "the port must be a number from 1 to 65535";
    return std::nullopt;
  }
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  PanelHostEndpoint endpoint;
  endpoint.port = static_cast<uint16_t>(*port);
  if (host == "localhost") {
    endpoint.host = "127.0.0.1";
  } else if (host == "::1" || is_loopback_ipv4(host)) {
    endpoint.host = std::string(host);
  } else {
    reason = "the virtual panel host must be on this machine (a loopback address), not '" +
             std::string(host) + "'";
    return std::nullopt;
  }
  return endpoint;
}

VirtualPanelLink::VirtualPanelLink(std::function<void(const std::string&)> send_line)
    : send_line_(std::move(send_line)) {
  hid_.set_output_listener(
      [this](int device, const std::vector<uint8_t>& report) { send_output(device, report); });
  hid_.set_drop_listener([this](int device, uint64_t count) { input_dropped(device, count); });
  report_.reserve(kMaxReportLength);
}

void VirtualPanelLink::input_dropped(int device, uint64_t count) {
  ++dropped_;
  if (count != 1) return;  // said once; the count follows when the device goes
  std::string id;
  {
    std::lock_guard lock(mutex_);
    auto it = host_id_of_.find(device);
    if (it != host_id_of_.end()) id = it->second;
  }
  std::fprintf(stderr,
               "virtual panel %s: input report dropped, %zu were waiting to be read "
               "(further drops are counted)\n",
               id.c_str(), kVirtualInputQueue);
}

void VirtualPanelLink::report_drops(int device, const std::string& id) {
  uint64_t count = hid_.dropped_inputs(device);
  if (count != 0) {
    std::fprintf(stderr, "virtual panel %s: %llu input reports dropped in all\n", id.c_str(),
                 static_cast<unsigned long long>(count));
  }
}

std::size_t VirtualPanelLink::device_count() const {
  std::lock_guard lock(mutex_);
  return device_of_.size();
}

void VirtualPanelLink::send_output(int device, const std::vector<uint8_t>& report) {
  std::string id;
  {
    std::lock_guard lock(mutex_);
    auto it = host_id_of_.find(device);
    if (it == host_id_of_.end()) return;
    id = it->second;
  }
  if (send_line_) send_line_("OUTPUT " + id + " " + to_hex(report));
}

void VirtualPanelLink::receive_bytes(std::string_view bytes) {
  while (!bytes.empty()) {
    std::size_t lf = bytes.find('\n');
    std::string_view piece = bytes.substr(0, lf);
    if (!discarding_) {
      if (partial_.size() + piece.size() > kPanelLinkMaxLine) {
        partial_.clear();
        discarding_ = true;
      } else if (lf == std::string_view::npos || !partial_.empty()) {
        partial_.append(piece);
      }
    }
    if (lf == std::string_view::npos) return;
    bytes.remove_prefix(lf + 1);
    if (discarding_) {
      ++malformed_;
      discarding_ = false;
    } else if (partial_.empty()) {
      receive_line(piece);  // the whole line came in one piece: no copy
    } else {
      // partial_ keeps its storage for the next line.
      receive_line(partial_);
      partial_.clear();
    }
  }
}

void VirtualPanelLink::receive_line(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::string_view rest = line;
  std::string_view verb = next_token(rest);
  bool ok = false;
  if (verb == "ADD") {
    ok = add(rest);
  } else if (verb == "INPUT") {
    ok = input(rest);
  } else if (verb == "REMOVE") {
    ok = remove(rest);
  }
  if (!ok) ++malformed_;
}

bool VirtualPanelLink::add(std::string_view rest) {
  std::string_view id = next_token(rest);
  auto vendor = hex4(next_token(rest));
  auto product = hex4(next_token(rest));
  auto input_length = decimal(next_token(rest), kMaxReportLength);
  auto output_length = decimal(next_token(rest), kMaxReportLength);
  // The driver key runs to the next space; the product string is the rest.
  std::size_t space = rest.find(' ');
  std::string_view driver_key = rest.substr(0, space);
  std::string_view product_string =
      space == std::string_view::npos ? std::string_view{} : rest.substr(space + 1);
  if (!valid_id(id) || !vendor || !product || !input_length || !output_length ||
      driver_key.empty() || driver_key.size() > kMaxDriverKeyLength ||
      product_string.size() > kMaxReportLength) {
    return false;
  }
  std::lock_guard lock(mutex_);
  if (device_of_.count(id) != 0) return false;
  VirtualHidTraits traits;
  traits.vendor_id = *vendor;
  traits.product_id = *product;
  traits.product_string = utf8_to_utf16(product_string);
  traits.driver_key = std::string(driver_key);
  traits.input_report_length = static_cast<uint16_t>(*input_length);
  traits.output_report_length = static_cast<uint16_t>(*output_length);
  int device = hid_.plug(std::move(traits));
  device_of_[std::string(id)] = device;
  host_id_of_[device] = std::string(id);
  input_length_of_[device] = static_cast<uint16_t>(*input_length);
  return true;
}

bool VirtualPanelLink::input(std::string_view rest) {
  std::string_view id = next_token(rest);
  std::string_view hex = next_token(rest);
  if (!rest.empty()) return false;
  if (!from_hex(hex, report_) || report_.empty()) return false;
  int device = 0;
  {
    std::lock_guard lock(mutex_);
    auto it = device_of_.find(id);
    if (it == device_of_.end()) return false;
    device = it->second;
    // A report longer than the device said its reports are is not one of its reports.
    if (report_.size() > input_length_of_[device]) return false;
  }
  return hid_.inject_input(device, report_.data(), report_.size());
}

bool VirtualPanelLink::remove(std::string_view rest) {
  std::string_view id = next_token(rest);
  if (!rest.empty()) return false;
  int device = 0;
  {
    std::lock_guard lock(mutex_);
    auto it = device_of_.find(id);
    if (it == device_of_.end()) return false;
    device = it->second;
    report_drops(device, it->first);
    device_of_.erase(it);
    host_id_of_.erase(device);
    input_length_of_.erase(device);
  }
  hid_.unplug(device);
  hid_.forget(device);
  return true;
}

void PanelOutputBacklog::push(std::string key, std::string line) {
  std::size_t same = 0;
  for (const auto& entry : queue_) same += entry.first == key ? 1 : 0;
  if (same >= kPanelBacklogPerDevice) {
    auto oldest = std::find_if(queue_.begin(), queue_.end(),
                               [&key](const auto& entry) { return entry.first == key; });
    queue_.erase(oldest);
    ++dropped_;
  }
  if (queue_.size() >= kPanelBacklogLines) {
    queue_.pop_front();
    ++dropped_;
  }
  queue_.emplace_back(std::move(key), std::move(line));
}

std::string_view PanelOutputBacklog::next() {
  if (sent_ == current_.size() && !queue_.empty()) {
    current_ = std::move(queue_.front().second);
    sent_ = 0;
    queue_.pop_front();
  }
  return std::string_view(current_).substr(sent_);
}

void PanelOutputBacklog::consume(std::size_t n) {
  sent_ = std::min(current_.size(), sent_ + n);
}

void PanelOutputBacklog::clear() {
  current_.clear();
  sent_ = 0;
  queue_.clear();
}

std::string_view panel_line_device(std::string_view line) {
  next_token(line);
  return next_token(line);
}

void VirtualPanelLink::connection_lost() {
  std::map<std::string, int, std::less<>> devices;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [id, device] : device_of_) report_drops(device, id);
    devices = std::move(device_of_);
    device_of_.clear();
    host_id_of_.clear();
    input_length_of_.clear();
  }
  for (const auto& [id, device] : devices) {
    hid_.unplug(device);
    hid_.forget(device);
  }
  partial_.clear();
  discarding_ = false;
}

}  // namespace tarvion
