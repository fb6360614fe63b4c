#include "base/call_queue.h"

#include <cassert>
#include <chrono>

namespace tarvion {

QueuedMainThread::QueuedMainThread() : main_id_(std::this_thread::get_id()) {}

bool QueuedMainThread::is_main_thread() const {
  return std::this_thread::get_id() == main_id_;
}

void QueuedMainThread::run_and_wait(CallRef fn) {
  assert(!is_main_thread() && "run_and_wait from the main thread would wait on itself");
  Call call(fn);
  bool was_empty = false;
  {
    std::lock_guard lock(mutex_);
    was_empty = first_ == nullptr;
    if (was_empty) {
      first_ = &call;
    } else {
      last_->next = &call;
    }
    last_ = &call;
  }
  // A queue that already held calls has its wake-up on the way, or is being
  // drained: one wake-up serves them all.
  if (was_empty) {
    queued_.notify_one();
    wake();
  }
  std::unique_lock lock(mutex_);
  call.ran.wait(lock, [&] { return call.done; });
  if (call.error) std::rethrow_exception(call.error);
}

int QueuedMainThread::run_pending() {
  int count = 0;
  for (;;) {
    Call* call = nullptr;
    {
      std::lock_guard lock(mutex_);
      call = first_;
      if (call == nullptr) break;
      first_ = call->next;
      if (first_ == nullptr) last_ = nullptr;
    }
    std::exception_ptr error;
    try {
      call->fn();
    } catch (...) {
      error = std::current_exception();
    }
    {
      std::lock_guard lock(mutex_);
      // Moved, not copied: the worker alone then holds the exception, so it is
      // freed on the thread that handles it.
      call->error = std::move(error);
      call->done = true;
      // Under the lock: once it is released the worker may return, and the
      // call (with its condition variable) is gone.
      call->ran.notify_one();
    }
    ++count;
  }
  return count;
}

std::size_t QueuedMainThread::queued_calls() {
  std::lock_guard lock(mutex_);
  std::size_t count = 0;
  for (const Call* call = first_; call != nullptr; call = call->next) ++count;
  return count;
}

void QueuedMainThread::notify() {
  {
    std::lock_guard lock(mutex_);
    ++notifications_;
  }
  queued_.notify_all();
}

void QueuedMainThread::pump_until(const std::function<bool()>& done) {
  for (;;) {
    run_pending();
    if (done()) return;
    std::unique_lock lock(mutex_);
    unsigned seen = notifications_;
    // The time-out is only a safety net for a condition that changes with
    // neither a queued call nor notify(); the program's workers end with a call.
    queued_.wait_for(lock, std::chrono::milliseconds(5),
                     [&] { return first_ != nullptr || notifications_ != seen; });
  }
}

void assert_main_thread([[maybe_unused]] const MainThread& main_thread) {
  assert(main_thread.is_main_thread() && "program logic must run on the main thread");
}

}  // namespace tarvion
