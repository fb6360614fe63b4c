// The output reports of one device on their way: a writer thread of its own,
// so a device that stops taking reports never holds up the main thread, and
// one waiting slot per kind of report, where the newest replaces the older.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "base/thread_launcher.h"
#include "hid/hid_access.h"

namespace tarvion {

// What a panel sends, each a full image of its part of the panel: a newer
// report of one kind makes a waiting one of the same kind worthless, never
// one of another kind (an RMP's lights and display share one device).
enum class OutputKind : uint8_t { display, lights, switches };

enum class OutputResult {
  written,  // the system took it
  failed,   // the system refused it; last_error() says why
  waiting,  // the device is still busy with an earlier report: it goes out next
};

class HidOutputQueue {
 public:
  HidOutputQueue(HidAccess& hid, ThreadLauncher launcher);
  // Stops the writer (stop()).
  ~HidOutputQueue();
  HidOutputQueue(const HidOutputQueue&) = delete;
  HidOutputQueue& operator=(const HidOutputQueue&) = delete;

  // Main thread. Hands the report to the writer. An idle device's result is
  // waited for a moment, so the caller learns what a healthy device did.
  OutputResult post(HidHandle handle, OutputKind kind, const uint8_t* data, std::size_t length);
  // Main thread. Waits up to wait for the reports handed over so far to go
  // out (the dark images of a close); false when the device is still busy.
  bool drain(std::chrono::milliseconds wait);
  // Main thread. Lets the reports handed over so far go out, then ends the
  // writer. Waits for a write in progress: close the handle first where that
  // write should end at once.
  void stop();
  // The calling thread's error code of the last failed post.
  uint32_t last_error() const { return last_error_; }

 private:
  struct Report {
    HidHandle handle = kNoHidHandle;
    OutputKind kind = OutputKind::display;
    std::vector<uint8_t> bytes;
  };
  void run();
  OutputResult write_here(const Report& report);

  HidAccess& hid_;
  ThreadLauncher launcher_;
  uint32_t last_error_ = 0;  // main thread

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Report> waiting_;  // at most one per kind, in the order first handed over
  bool writing_ = false;
  bool stopping_ = false;
  bool no_thread_ = false;  // none could be started: writes are made by the caller
  uint64_t handed_ = 0;     // reports taken by the writer
  uint64_t done_ = 0;       // and finished
  bool last_ok_ = true;
  uint32_t last_write_error_ = 0;
  std::thread writer_;
};

}  // namespace tarvion
