// The virtual panel link's logic: HID devices and device-change notifications
// that a separate virtual panel host process supplies over a line protocol.
// Fed with received bytes; the socket itself is the platform's.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/virtual/virtual_device_notifier.h"
#include "platform/virtual/virtual_hid.h"

namespace tarvion {

// The environment variable that selects the link: HOST:PORT of the host.
inline constexpr const char* kVirtualPanelsVariable = "TARVION_VIRTUAL_PANELS";
inline constexpr uint16_t kVirtualPanelsDefaultPort = 7650;

struct PanelHostEndpoint {
  std::string host;  // a numeric loopback address
  uint16_t port = 0;
};

// "127.0.0.1:7650", "localhost:7650", "[::1]:7650". nullopt, with the reason,
// for anything malformed and for every host that is not a loopback address:
// the link carries no authentication and must not reach another machine.
std::optional<PanelHostEndpoint> parse_panel_host_endpoint(std::string_view text,
                                                           std::string& reason);

// The host TARVION_VIRTUAL_PANELS names: nullopt with an empty error when the
// variable is not set, nullopt with the reason when it is malformed.
std::optional<PanelHostEndpoint> panel_host_from_environment(std::string& error);

// How long making the connection to the host may take; it is waited for in
// short slices so that a close request is heard meanwhile.
inline constexpr int kPanelHostConnectLimitMs = 10000;

// Longest line accepted; a longer one is dropped whole and counted.
inline constexpr std::size_t kPanelLinkMaxLine = 4096;

class VirtualPanelLink {
 public:
  // send_line: one line to the host, without its LF; called on the thread
  // that writes the output report.
  explicit VirtualPanelLink(std::function<void(const std::string&)> send_line);

  HidAccess& hid() { return hid_; }
  VirtualDeviceNotifier& notifier() { return notifier_; }

  // The connection's thread: bytes as they arrive, split into lines here.
  void receive_bytes(std::string_view bytes);
  // One line without its LF (a CR before the LF is dropped too).
  void receive_line(std::string_view line);
  // The host went away: every device it added is unplugged.
  void connection_lost();

  uint64_t malformed_lines() const { return malformed_.load(); }
  std::size_t device_count() const;
  // Input reports dropped because a device's queue was full (the program fell
  // behind its panels), all devices together. The first drop of a device and,
  // when the device goes, its count are also written to stderr.
  uint64_t dropped_inputs() const { return dropped_.load(); }

 private:
  bool add(std::string_view rest);
  bool input(std::string_view rest);
  bool remove(std::string_view rest);
  void send_output(int device, const std::vector<uint8_t>& report);
  void input_dropped(int device, uint64_t count);
  // Lock held: says how many of the device's reports were dropped, if any.
  void report_drops(int device, const std::string& id);

  VirtualDeviceNotifier notifier_;
  VirtualHid hid_{&notifier_};
  std::function<void(const std::string&)> send_line_;
  std::string partial_;
  bool discarding_ = false;  // inside a line that grew too long
  mutable std::mutex mutex_;
  std::map<std::string, int, std::less<>> device_of_;  // host id -> virtual device
  std::map<int, std::string> host_id_of_;
  std::map<int, uint16_t> input_length_of_;
  std::atomic<uint64_t> malformed_{0};
  std::atomic<uint64_t> dropped_{0};
  std::vector<uint8_t> report_;  // the report being parsed, reused line after line
};

// Output lines on their way to a host that may read slowly or not at all:
// queued instead of waited for, so no writer ever blocks. Once a device has
// kPanelBacklogPerDevice lines waiting its oldest gives way: an image is a
// full state, so a device's newest line is never the one lost. A line is sent
// whole or not begun. Not locked: the connection guards it.
inline constexpr std::size_t kPanelBacklogPerDevice = 8;
inline constexpr std::size_t kPanelBacklogLines = 512;  // all devices together

class PanelOutputBacklog {
 public:
  // line: ends in its LF. key: the device it is for.
  void push(std::string key, std::string line);
  bool empty() const { return sent_ == current_.size() && queue_.empty(); }
  // The bytes to send next: the rest of a started line, or the next line.
  std::string_view next();
  // n bytes of next() have left.
  void consume(std::size_t n);
  void clear();
  std::size_t waiting_lines() const { return queue_.size(); }
  uint64_t dropped() const { return dropped_; }

 private:
  std::string current_;  // the line being sent
  std::size_t sent_ = 0;
  std::deque<std::pair<std::string, std::string>> queue_;  // (key, line), oldest first
  uint64_t dropped_ = 0;
};

// The device a protocol line is for: its second word ("OUTPUT c1 ..." -> c1).
std::string_view panel_line_device(std::string_view line);

// Lower-case hex of the bytes, no separators.
std::string to_hex(const std::vector<uint8_t>& bytes);
// Pairs of hex digits; nullopt for an odd count or a non-hex character.
std::optional<std::vector<uint8_t>> from_hex(std::string_view text);
// The same into bytes, which keeps its storage from call to call; false
// where from_hex gives nullopt.
bool from_hex(std::string_view text, std::vector<uint8_t>& bytes);

}  // namespace tarvion
