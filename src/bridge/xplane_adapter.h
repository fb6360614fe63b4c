// The bridge's X-Plane side: subscribes every mapped dataref with RREF, turns
// the answers into reports, writes with DREF, and subscribes again when
// X-Plane stops answering (a restart forgets every subscription).
#pragma once

#include <functional>
#include <string>

#include "bridge/bridge_mapping.h"
#include "bridge/simulator.h"
#include "bridge/zemp_server.h"

namespace tarvion::bridge {

// Answers per second asked of X-Plane for each dataref.
inline constexpr int32_t kRrefRate = 10;
// Silence after which the subscriptions are sent again.
inline constexpr Ms kXPlaneSilence{3000};

class XPlaneAdapter : public SimulatorLink {
 public:
  using SendDatagram = std::function<void(const std::string&)>;
  XPlaneAdapter(const BridgeMapping& mapping, SendDatagram send, SimulatorReport report,
                ZempServerHooks log)
      : mapping_(mapping),
        send_(std::move(send)),
        report_(std::move(report)),
        log_(std::move(log)) {}

  // Where X-Plane is (given, or found from its beacon); subscribes at once.
  // Until then writes go nowhere.
  void set_target(const std::string& where, Clock::time_point now);
  bool has_target() const { return !target_.empty(); }
  void on_datagram(std::string_view datagram, Clock::time_point now);
  // Ends the subscriptions (at exit), so X-Plane stops sending.
  void unsubscribe();

  void write(size_t index, double value) override;
  void tick(Clock::time_point now) override;

 private:
  void subscribe(Clock::time_point now);

  const BridgeMapping& mapping_;
  SendDatagram send_;
  SimulatorReport report_;
  ZempServerHooks log_;
  std::string target_;
  bool answering_ = false;
  bool said_silent_ = false;
  Clock::time_point last_answer_{};
  Clock::time_point next_subscribe_{};
};

}  // namespace tarvion::bridge
