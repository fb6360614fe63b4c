// The seam between the bridge and one simulator adapter: values go in by
// mapping index, reports come out through a callback.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>

namespace tarvion::bridge {

class SimulatorLink {
 public:
  virtual ~SimulatorLink() = default;
  // Writes one mapped variable, already converted to the simulator's unit.
  virtual void write(size_t index, double value) = 0;
  // Subscriptions, reconnection and silence checks; called a few times a second.
  virtual void tick(std::chrono::steady_clock::time_point now) = 0;
};

// What an adapter reports: the variable's mapping index and the simulator's value.
using SimulatorReport = std::function<void(size_t index, double value)>;

}  // namespace tarvion::bridge
