// Runs the calling thread's message loop in tests until a condition holds or
// a generous real-time bound passes.
#pragma once

#include <chrono>
#include <functional>

namespace tarvion::test {

// True when done() became true within bound.
bool pump_messages_until(const std::function<bool()>& done,
                         std::chrono::milliseconds bound = std::chrono::seconds(10));

}  // namespace tarvion::test
