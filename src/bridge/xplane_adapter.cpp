#include "bridge/xplane_adapter.h"

#include "bridge/xplane_packets.h"

namespace tarvion::bridge {

void XPlaneAdapter::set_target(const std::string& where, Clock::time_point now) {
  target_ = where;
  answering_ = false;
  said_silent_ = false;
  subscribe(now);
}

void XPlaneAdapter::subscribe(Clock::time_point now) {
  const auto& variables = mapping_.variables();
  for (size_t i = 0; i < variables.size(); ++i) {
    send_(rref_request(kRrefRate, static_cast<int32_t>(i), variables[i].name));
  }
  last_answer_ = now;  // the silence is counted from the request
  next_subscribe_ = now + kXPlaneSilence;
}

void XPlaneAdapter::unsubscribe() {
  if (!has_target()) return;
  const auto& variables = mapping_.variables();
  for (size_t i = 0; i < variables.size(); ++i) {
    send_(rref_request(0, static_cast<int32_t>(i), variables[i].name));
  }
}

void XPlaneAdapter::on_datagram(std::string_view datagram, Clock::time_point now) {
  const auto values = parse_rref_answer(datagram);
  if (!values) {
    log_.verbose("ignored a datagram of " + std::to_string(datagram.size()) + " bytes");
    return;
  }
  last_answer_ = now;
  next_subscribe_ = now + kXPlaneSilence;
  if (!answering_) {
    answering_ = true;
    said_silent_ = false;
    log_.log("X-Plane at " + target_ + " answers");
  }
  for (const RrefValue& value : *values) {
    // Indexes are ours; anything else is an answer to someone else's subscription.
    if (value.index >= 0 && size_t(value.index) < mapping_.variables().size()) {
      report_(size_t(value.index), value.value);
    }
  }
}

void XPlaneAdapter::write(size_t index, double value) {
  if (!has_target()) return;
  send_(dref_request(static_cast<float>(value), mapping_.variables().at(index).name));
}

void XPlaneAdapter::tick(Clock::time_point now) {
  if (!has_target() || now < next_subscribe_) return;
  if (!said_silent_) {
    said_silent_ = true;
    log_.log(std::string(answering_ ? "X-Plane stopped answering" : "no answer from X-Plane") +
             " at " + target_ + ": subscribing again every " +
             std::to_string(kXPlaneSilence.count() / 1000) + " s");
  }
  answering_ = false;
  subscribe(now);
}

}  // namespace tarvion::bridge
