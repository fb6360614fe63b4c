// The run-on-main-thread facility: workers (timers, panel read threads) hand
// their event to the one thread that runs all program logic, and wait.
#pragma once

#include <functional>
#include <memory>
#include <type_traits>

namespace tarvion {

// A callable borrowed for one blocking call: the caller's object is run in
// place, never copied or allocated, so it must outlive the call (a lambda
// written in the call's argument list does).
class CallRef {
 public:
  template <typename F>
  requires(!std::is_same_v<std::remove_cvref_t<F>, CallRef> && std::is_invocable_v<F&>)
      CallRef(F&& fn)
  noexcept  // NOLINT(google-explicit-constructor): as a std::function would
      : object_(const_cast<void*>(static_cast<const void*>(std::addressof(fn)))),
        invoke_([](void* object) { (*static_cast<std::remove_reference_t<F>*>(object))(); }) {}

  void operator()() const { invoke_(object_); }

 private:
  void* object_;
  void (*invoke_)(void*);
};

class MainThread {
 public:
  virtual ~MainThread() = default;

  // Called from a worker thread: queues fn for the main thread, blocks until
  // it has run, and rethrows here whatever fn threw. Calling it from the main
  // thread is a bug (the call would wait on itself).
  virtual void run_and_wait(CallRef fn) = 0;

  // Main thread only: keeps running queued calls until done() is true. Used
  // while waiting for a worker to end, which may itself be blocked in
  // run_and_wait.
  virtual void pump_until(const std::function<bool()>& done) = 0;

  virtual bool is_main_thread() const = 0;
};

}  // namespace tarvion
