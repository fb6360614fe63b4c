// fsuipc-sim started as a child process for the Windows FSUIPC tests: its
// output read line by line with time bounds, commands written to its stdin.
#pragma once

#include <windows.h>

#include <string>

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
  // Why it is not ready: what it said so far and how it stands.
  std::string state();
  // Reads output lines until one contains part; false if none did in time.
  bool wait_line(const std::string& part, DWORD bound_ms);
  void command(const std::string& line);

 private:
  void start(const std::string& args);
  void stop();  // "quit", and the hard way if that is not enough
  // Whatever output is waiting, without blocking; false at its end.
  bool read_available();

  PROCESS_INFORMATION process_{};
  HANDLE stdin_ = nullptr;
  HANDLE stdout_ = nullptr;
  bool ready_ = false;
  std::string pending_;  // output not yet taken as lines
  std::string said_;     // every line taken, for state()
};

}  // namespace tarvion::win32_test
