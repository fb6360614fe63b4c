// fsuipc-sim started as a child process for the Windows FSUIPC tests: its
// output read line by line with time bounds, commands written to its stdin.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace tarvion::win32_test {

class SimProcess {
 public:
  // args: fsuipc-sim's options. Returns once it said it is listening, or
  // once it did not within the bound (ready() then is false).
  explicit SimProcess(const std::string& args);
  ~SimProcess();  // "quit", and the hard way if that is not enough
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  bool ready() const { return ready_; }
  // Reads output lines until one contains part; false if none did in time.
  bool wait_line(const std::string& part, DWORD bound_ms);
  void command(const std::string& line);

 private:
  void read_output(HANDLE from);

  PROCESS_INFORMATION process_{};
  HANDLE stdin_ = nullptr;
  bool ready_ = false;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<std::string> lines_;
  bool ended_ = false;
};

}  // namespace tarvion::win32_test
