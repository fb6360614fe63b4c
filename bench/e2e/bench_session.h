// One benchmark run's world: the real `tarvion --console` started against the
// benchmark's own virtual panel host and ZEMP server, COM panels it turns,
// and what comes back, with kernel receive times.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "loopback_peers.h"
#include "panel_model.h"

namespace e2e_bench {

struct BenchPanel {
  std::string id;
  virtual_panels::PanelModel model{13};  // a COM panel
  int offset = 0;                        // detents turned, kept within 0..kBounce
  int direction = 1;
  std::optional<int> standby_mhz;  // as last shown
  std::optional<int> active_mhz;
  std::string last_hex;
  uint64_t outputs = 0;
};

// The outer knob goes up and down within this many detents, so a COM
// standby (19 MHz around) never wraps and a miscount shows as a difference.
inline constexpr int kBounce = 9;
inline constexpr int kComBandMhz = 19;

class BenchSession {
 public:
  // display: empty for console mode, else the X display the window opens on.
  BenchSession(std::string tarvion, int startup_timeout_ms, std::string display = {});
  // Starts Tarvion, serves it `panels` panels and takes its ZEMP connection;
  // false with the reason.
  bool start(int panels, std::string& error);
  // Before start(): Tarvion links to this ZEMP server (tarvion-bridge) instead
  // of the benchmark's own, and start() waits for the panels only.
  void use_zemp_server(uint16_t port) { zemp_port_ = port; }
  // Announces more panels while connected.
  void add_panels(int count);

  pid_t pid() const { return process_ ? process_->pid() : -1; }
  std::vector<BenchPanel>& panels() { return panels_; }

  // One detent of a panel's outer knob (bounced): the INPUT line with its LF.
  std::string turn(size_t panel);
  // The transfer button down or up: the INPUT line with its LF.
  std::string swap(size_t panel, bool down);
  // Sends lines to Tarvion now; false when it is gone. The wall time (ns)
  // right before the send is kept in last_send_ns().
  bool send(const std::string& lines);
  int64_t last_send_ns() const { return last_send_ns_; }

  // Reads both links for up to timeout_ms (returns early when something came).
  void pump(int timeout_ms) { pump_ns(int64_t{timeout_ms} * 1000000); }
  void pump_ns(int64_t timeout_ns);
  // Pumps until pred() holds or timeout_ms passed.
  bool pump_until(const std::function<bool()>& pred, int timeout_ms);
  // Pumps until no display output came for quiet_ms (at most limit_ms).
  void settle(int quiet_ms, int limit_ms);

  // Called for every display output: panel index, whether it differs from the
  // one before, kernel receive time.
  std::function<void(size_t, bool, int64_t)> on_output;
  // Kernel receive times of the values lines the ZEMP server got.
  std::vector<int64_t> zemp_values_ns;
  uint64_t untimed_reads() const;
  bool alive();
  // SIGTERM to Tarvion; its exit status, or -1 when it did not end within 5 s.
  int stop() { return process_ ? process_->stop(5000) : -1; }

 private:
  void handle_panel_line(const TimedLine& line);

  std::string tarvion_;
  int startup_timeout_ms_;
  std::string display_;
  TempFolder folder_, runtime_;
  Listener panel_listener_, zemp_listener_;
  std::unique_ptr<ChildProcess> process_;
  std::unique_ptr<TimedConnection> panel_link_, zemp_link_;
  std::vector<BenchPanel> panels_;
  std::vector<TimedLine> lines_;
  int64_t last_send_ns_ = 0;
  uint16_t zemp_port_ = 0;
};

// The standby or active frequency's MHz from a COM panel's output report (hex), or nullopt.
std::optional<int> shown_mhz(const std::string& hex, bool standby);
// A shown-minus-expected difference in detents, folded into -9..+9.
int detent_error(int start_mhz, int net_detents, int final_mhz);

}  // namespace e2e_bench
