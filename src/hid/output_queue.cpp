#include "hid/output_queue.h"

#include <algorithm>
#include <chrono>

#include "base/error.h"

namespace tarvion {
namespace {

// How long a report for an idle device waits for its result: long enough for
// any healthy device (and a busy machine's scheduler), short enough that a
// device which just stopped taking reports costs the main thread one blink.
constexpr std::chrono::milliseconds kResultWait{200};

}  // namespace

HidOutputQueue::HidOutputQueue(HidAccess& hid, ThreadLauncher launcher)
    : hid_(hid), launcher_(std::move(launcher)) {}

HidOutputQueue::~HidOutputQueue() {
  stop();
}

OutputResult HidOutputQueue::post(HidHandle handle, OutputKind kind, const uint8_t* data,
                                  std::size_t length) {
  std::unique_lock lock(mutex_);
  if (!writer_.joinable() && !no_thread_) {
    try {
      writer_ = launch_thread(launcher_, [this] { run(); });
    } catch (const TarvionError&) {
      // No thread to be had: reports are written here, as they come.
      no_thread_ = true;
    }
  }
  Report report{handle, kind, std::vector<uint8_t>(data, data + length)};
  if (no_thread_) {
    lock.unlock();
    return write_here(report);
  }
  bool idle = !writing_ && waiting_.empty();
  auto same = std::find_if(waiting_.begin(), waiting_.end(),
                           [kind](const Report& r) { return r.kind == kind; });
  if (same != waiting_.end()) {
    *same = std::move(report);
  } else {
    waiting_.push_back(std::move(report));
  }
  changed_.notify_all();
  if (!idle) return OutputResult::waiting;
  // Idle: the writer's next report is this one, and nothing else is handed
  // over (only this thread posts) before its result is in.
  uint64_t mine = handed_ + 1;
  if (!changed_.wait_for(lock, kResultWait, [&] { return done_ >= mine; })) {
    return OutputResult::waiting;
  }
  if (!last_ok_) {
    last_error_ = last_write_error_;
    return OutputResult::failed;
  }
  return OutputResult::written;
}

OutputResult HidOutputQueue::write_here(const Report& report) {
  std::size_t written = 0;
  if (!hid_.write(report.handle, report.bytes.data(), report.bytes.size(), written)) {
    last_error_ = hid_.last_error();
    return OutputResult::failed;
  }
  return OutputResult::written;
}

void HidOutputQueue::run() {
  for (;;) {
    Report report;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
      // What was handed over before the stop still goes out.
      if (waiting_.empty()) break;
      report = std::move(waiting_.front());
      waiting_.pop_front();
      writing_ = true;
      ++handed_;
    }
    std::size_t written = 0;
    bool ok = hid_.write(report.handle, report.bytes.data(), report.bytes.size(), written);
    uint32_t error = ok ? 0 : hid_.last_error();
    {
      std::lock_guard lock(mutex_);
      writing_ = false;
      last_ok_ = ok;
      last_write_error_ = error;
      ++done_;
    }
    changed_.notify_all();
  }
}

bool HidOutputQueue::drain(std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, wait, [this] { return !writing_ && waiting_.empty(); });
}

void HidOutputQueue::stop() {
  std::thread writer;
  {
    std::lock_guard lock(mutex_);
    if (!writer_.joinable()) return;
    stopping_ = true;
    writer = std::move(writer_);
  }
  changed_.notify_all();
  writer.join();
  // A later post (the device lent again) starts a new writer.
  std::lock_guard lock(mutex_);
  stopping_ = false;
}

}  // namespace tarvion
