#include "bench_session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "host_text.h"

namespace e2e_bench {
namespace {

int64_t steady_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Packed display digit p (1..12) of an output report: byte (p-1)/2, odd positions low.
unsigned packed(const std::vector<uint8_t>& r, int p) {
  uint8_t byte = r[1 + (p - 1) / 2];
  return p % 2 == 1 ? (byte & 0x0F) : (byte >> 4);
}

}  // namespace

std::optional<int> shown_mhz(const std::string& hex, bool standby) {
  auto report = virtual_panels::from_hex(hex);
  if (!report || report->size() < 9) return std::nullopt;
  int value = 0;
  const int high = standby ? 12 : 6;  // the left-hand MHz digit of the field
  for (int p = high; p >= high - 2; --p) {
    unsigned digit = packed(*report, p);
    if (digit > 9) return std::nullopt;
    value = value * 10 + static_cast<int>(digit);
  }
  return value;
}

int detent_error(int start_mhz, int net_detents, int final_mhz) {
  int error = ((final_mhz - start_mhz - net_detents) % kComBandMhz + kComBandMhz) % kComBandMhz;
  return error > kComBandMhz / 2 ? error - kComBandMhz : error;
}

BenchSession::BenchSession(std::string tarvion, int startup_timeout_ms, std::string display)
    : tarvion_(std::move(tarvion)),
      startup_timeout_ms_(startup_timeout_ms),
      display_(std::move(display)) {}

bool BenchSession::start(int panels, std::string& error) {
  if (!panel_listener_.ok() || !zemp_listener_.ok()) {
    error = "cannot listen on 127.0.0.1";
    return false;
  }
  // The first COM panel drives COM1, whose value goes to the server on transfer.
  folder_.write("Tarvion.ini", "XPLANE=YES\nZEMP_HOST=127.0.0.1\nZEMP_PORT=" +
                                   std::to_string(zemp_port_ ? zemp_port_ : zemp_listener_.port()) +
                                   "\nMINIMIZED=NO\nFIRST_DEVICE_COM1=YES\n");
  std::vector<std::string> argv{tarvion_};
  if (display_.empty()) argv.push_back("--console");
  process_ = std::make_unique<ChildProcess>(
      argv, folder_.path(),
      std::map<std::string, std::string>{
          {"XDG_RUNTIME_DIR", runtime_.path()},
          {"DISPLAY", display_},
          {"WAYLAND_DISPLAY", ""},
          {"TARVION_VIRTUAL_PANELS", "127.0.0.1:" + std::to_string(panel_listener_.port())}});
  // A Tarvion that ends at start (a bad path, a crash) is noticed at once.
  int fd = -1;
  for (int waited = 0; fd < 0 && waited < startup_timeout_ms_ && process_->running(); waited += 100)
    fd = panel_listener_.accept_one(100);
  if (fd < 0) {
    error = "tarvion did not connect to the panel host";
    return false;
  }
  panel_link_ = std::make_unique<TimedConnection>(fd);
  add_panels(panels);
  if (zemp_port_) {
    const bool shown = pump_until(
        [this] {
          for (const auto& p : panels_)
            if (!p.standby_mhz) return false;
          return true;
        },
        startup_timeout_ms_);
    if (!shown) error = "tarvion did not show every panel";
    return shown;
  }
  fd = zemp_listener_.accept_one(startup_timeout_ms_);
  if (fd < 0) {
    error = "tarvion did not connect to the ZEMP server";
    return false;
  }
  zemp_link_ = std::make_unique<TimedConnection>(fd);
  // Registered with the server, and every panel showing its first image.
  bool ready = pump_until(
      [this] {
        if (zemp_values_ns.empty()) return false;
        for (const auto& p : panels_)
          if (!p.standby_mhz) return false;
        return true;
      },
      startup_timeout_ms_);
  zemp_values_ns.clear();
  if (!ready) error = "tarvion did not register with the server and show every panel";
  return ready;
}

void BenchSession::add_panels(int count) {
  std::string lines;
  for (int i = 0; i < count; ++i) {
    BenchPanel panel;
    panel.id = "p" + std::to_string(panels_.size() + 1);
    char key[48];
    std::snprintf(key, sizeof key, "%04zu", panels_.size() + 1);
    lines += "ADD " + panel.id + " 0000 000d " + std::to_string(panel.model.input_length()) + " " +
             std::to_string(panel.model.output_length()) + " " + key + " com\n";
    lines += "INPUT " + panel.id + " " + virtual_panels::to_hex(panel.model.input_report()) + "\n";
    panels_.push_back(std::move(panel));
  }
  send(lines);
}

std::string BenchSession::turn(size_t index) {
  BenchPanel& p = panels_[index];
  if (p.offset >= kBounce) p.direction = -1;
  if (p.offset <= 0) p.direction = 1;
  p.model.turn("outer", p.direction);
  p.offset += p.direction;
  return "INPUT " + p.id + " " + virtual_panels::to_hex(p.model.input_report()) + "\n";
}

std::string BenchSession::swap(size_t index, bool down) {
  BenchPanel& p = panels_[index];
  p.model.set_input("swap", down);
  return "INPUT " + p.id + " " + virtual_panels::to_hex(p.model.input_report()) + "\n";
}

bool BenchSession::send(const std::string& lines) {
  last_send_ns_ = wall_ns();
  return panel_link_ && panel_link_->send_all(lines);
}

void BenchSession::handle_panel_line(const TimedLine& line) {
  // "OUTPUT <id> <hex>"
  if (line.text.rfind("OUTPUT p", 0) != 0) return;
  size_t space = line.text.find(' ', 7);
  if (space == std::string::npos) return;
  size_t index = std::stoul(line.text.substr(8, space - 8)) - 1;
  if (index >= panels_.size()) return;
  BenchPanel& p = panels_[index];
  std::string hex = line.text.substr(space + 1);
  bool changed = hex != p.last_hex;
  if (changed) {
    p.last_hex = hex;
    if (auto mhz = shown_mhz(hex, true)) p.standby_mhz = mhz;
    if (auto mhz = shown_mhz(hex, false)) p.active_mhz = mhz;
  }
  ++p.outputs;
  if (on_output) on_output(index, changed, line.kernel_ns);
}

void BenchSession::pump_ns(int64_t timeout_ns) {
  std::vector<int> fds;
  if (panel_link_ && panel_link_->open()) fds.push_back(panel_link_->fd());
  if (zemp_link_ && zemp_link_->open()) fds.push_back(zemp_link_->fd());
  wait_readable(fds, std::max<int64_t>(timeout_ns, 0));
  lines_.clear();
  if (panel_link_) panel_link_->read_available(lines_);
  for (const auto& line : lines_) handle_panel_line(line);
  lines_.clear();
  if (zemp_link_) zemp_link_->read_available(lines_);
  for (const auto& line : lines_) {
    if (line.text.rfind("Arn.Resp:", 0) == 0) zemp_values_ns.push_back(line.kernel_ns);
  }
}

bool BenchSession::pump_until(const std::function<bool()>& pred, int timeout_ms) {
  int64_t deadline = steady_ms() + timeout_ms;
  while (!pred()) {
    int64_t left = deadline - steady_ms();
    if (left <= 0 || !alive()) return pred();
    pump(static_cast<int>(std::min<int64_t>(left, 50)));
  }
  return true;
}

void BenchSession::settle(int quiet_ms, int limit_ms) {
  int64_t deadline = steady_ms() + limit_ms;
  int64_t last = steady_ms();
  auto saved = std::move(on_output);
  on_output = [&last](size_t, bool, int64_t) { last = steady_ms(); };
  while (steady_ms() < deadline && steady_ms() - last < quiet_ms && alive()) pump(10);
  on_output = std::move(saved);
}

uint64_t BenchSession::untimed_reads() const {
  return (panel_link_ ? panel_link_->untimed_reads() : 0) +
         (zemp_link_ ? zemp_link_->untimed_reads() : 0);
}

bool BenchSession::alive() {
  return process_ && process_->running() && panel_link_ && panel_link_->open();
}

}  // namespace e2e_bench
