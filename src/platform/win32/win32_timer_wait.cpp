// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include "platform/win32/win32_timer_wait.h"

#include <timeapi.h>

#include <algorithm>
#include <chrono>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace tarvion {

Win32TimerWait::Win32TimerWait() {
  timer_ = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                  TIMER_ALL_ACCESS);
  high_resolution_ = timer_ != nullptr;
  if (!timer_) {
    // Before Windows 10 1803 the flag is refused (ERROR_INVALID_PARAMETER).
    // A raised system tick serves there; Windows 11 ignores it for a process
    // whose windows are hidden, but those systems take the flag.
    timer_ = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    raised_period_ = timer_ != nullptr && timeBeginPeriod(1) == TIMERR_NOERROR;
  }
  event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

Win32TimerWait::~Win32TimerWait() {
  if (raised_period_) timeEndPeriod(1);
  if (timer_) CloseHandle(timer_);
  if (event_) CloseHandle(event_);
}

void Win32TimerWait::wait_until(std::unique_lock<std::mutex>& lock,
                                std::chrono::steady_clock::time_point deadline) {
  using hundred_ns = std::chrono::duration<long long, std::ratio<1, 10000000>>;
  auto left = std::chrono::ceil<hundred_ns>(deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return;
  LARGE_INTEGER due;
  due.QuadPart = -left.count();  // negative: relative to now
  if (!SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE)) {
    // Not expected with a timer of our own; a millisecond wait on the event
    // keeps the deadline, coarser but never late by more than a tick.
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    lock.unlock();
    WaitForSingleObject(event_, static_cast<DWORD>(std::min<long long>(ms, INFINITE - 1)));
    lock.lock();
    return;
  }
  HANDLE handles[] = {event_, timer_};
  lock.unlock();
  WaitForMultipleObjects(2, handles, FALSE, INFINITE);
  lock.lock();
}

void Win32TimerWait::wait(std::unique_lock<std::mutex>& lock) {
  lock.unlock();
  WaitForSingleObject(event_, INFINITE);
  lock.lock();
}

void Win32TimerWait::wake() {
  SetEvent(event_);
}

std::unique_ptr<TimerWait> make_win32_timer_wait() {
  auto wait = std::make_unique<Win32TimerWait>();
  if (!wait->usable()) return make_condition_timer_wait();
  return wait;
}

}  // namespace tarvion
