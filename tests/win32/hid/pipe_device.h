// A HID device played by the test: a named pipe whose client ends the backend
// opens as the device path. Each input report goes out as one message of the
// device's input report length, as a HID device always delivers whole
// reports of that length, so the backend's reads frame them exactly even in
// the pipe's byte read mode. Each write of the backend arrives as one message.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarvion::test {

using Bytes = std::vector<uint8_t>;

class PipeDevice {
 public:
  // Serves "\\.\pipe\<name>" on a thread of its own.
  explicit PipeDevice(const std::string& name);
  ~PipeDevice();

  PipeDevice(const PipeDevice&) = delete;
  PipeDevice& operator=(const PipeDevice&) = delete;

  const std::string& path() const { return path_; }

  // One input report to every client that has the device open now.
  void send(const Bytes& report);
  // Closes every pipe instance: reads outstanding end with 109, opens fail.
  void unplug();

  // The output reports received so far, in order.
  std::vector<Bytes> received() const;
  bool wait_received(std::size_t count, std::chrono::milliseconds bound);

 private:
  struct Instance;
  void run();
  bool add_listening();
  bool start_read(Instance& instance);
  // An instance's connect or read is over.
  void handle(std::size_t index);
  // Handles every instance whose event is set now.
  void drain();
  void drop(std::size_t index);

  std::string path_;
  HANDLE wake_ = nullptr;
  std::vector<Instance*> instances_;  // server thread only

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Bytes> outgoing_;
  std::vector<Bytes> received_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tarvion::test
