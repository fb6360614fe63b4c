#include "bridge/flightgear_adapter.h"

#include "base/shown_text.h"

namespace tarvion::bridge {

FlightGearAdapter::FlightGearAdapter(const BridgeMapping& mapping, std::string where,
                                     FlightGearConnection connection, SimulatorReport report,
                                     std::function<void()> lost, ZempServerHooks log)
    : mapping_(mapping),
      where_(std::move(where)),
      connection_(std::move(connection)),
      report_(std::move(report)),
      lost_(std::move(lost)),
      log_(std::move(log)) {}

void FlightGearAdapter::tick(Clock::time_point now) {
  if (state_ != State::Idle || now < next_attempt_) return;
  state_ = State::Connecting;
  connection_.connect();
}

void FlightGearAdapter::connected() {
  state_ = State::Connected;
  said_unreachable_ = false;
  lines_.clear();
  pending_gets_.clear();
  log_.log("connected to FlightGear at " + where_);
  // Data mode: no prompts, and a get answers with the value alone.
  // The gets go first: their bare answers then come before anything the
  // subscriptions bring (FlightGear 2020.3 echoes each subscribe line).
  std::string out = "data\r\n";
  const auto& variables = mapping_.variables();
  for (size_t i = 0; i < variables.size(); ++i) {
    out += "get " + variables[i].name + "\r\n";
    pending_gets_.push_back(i);
  }
  for (const MappedVariable& variable : variables) out += "subscribe " + variable.name + "\r\n";
  connection_.send(out);
}

void FlightGearAdapter::failed(Clock::time_point now) {
  const bool was_connected = state_ == State::Connected;
  state_ = State::Idle;
  next_attempt_ = now + kFlightGearRetry;
  if (was_connected) {
    log_.log("FlightGear at " + where_ + " closed the connection: connecting again every " +
             std::to_string(kFlightGearRetry.count() / 1000) + " s");
    lost_();
  } else if (!said_unreachable_) {
    said_unreachable_ = true;
    log_.log("FlightGear's property server at " + where_ + " does not answer (is fgfs running " +
             "with --telnet?): trying every " + std::to_string(kFlightGearRetry.count() / 1000) +
             " s");
  }
}

void FlightGearAdapter::data(std::string_view bytes) {
  lines_.add(bytes, [this](std::string_view line) { handle_line(line); });
}

std::optional<size_t> FlightGearAdapter::index_of(const std::string& normalised_path) const {
  const auto& variables = mapping_.variables();
  for (size_t i = 0; i < variables.size(); ++i) {
    if (normalise_property_path(variables[i].name) == normalised_path) return i;
  }
  return std::nullopt;
}

void FlightGearAdapter::handle_line(std::string_view line) {
  std::optional<size_t> index;
  std::string_view value = line;
  if (auto update = parse_property_update(line)) {
    index = index_of(update->path);
    if (!index) {
      log_.verbose("FlightGear: ignored '" + shown_text(line) + "'");
      return;
    }
    value = line.substr(line.find('=') + 1);
  } else {
    // The echo of a command is no answer to a get.
    if (line.starts_with("subscribe ") || line.starts_with("unsubscribe ")) return;
    if (pending_gets_.empty()) return;  // nothing asked: stray text
    index = pending_gets_.front();
    pending_gets_.pop_front();
  }
  if (auto number = property_number(value)) {
    report_(*index, *number);
  } else {
    log_.verbose("FlightGear: " + mapping_.variables()[*index].name + " is not a number: '" +
                 shown_text(value) + "'");
  }
}

void FlightGearAdapter::write(size_t index, double value) {
  const std::string& name = mapping_.variables().at(index).name;
  if (state_ != State::Connected) {
    log_.verbose("FlightGear not connected: " + name + " not written");
    return;
  }
  connection_.send("set " + name + " " + property_text(value) + "\r\n");
}

}  // namespace tarvion::bridge
