// THidDevice: one HID device present on the machine. Opens on demand, caches
// its product string and report lengths, writes output reports and, while lent
// to the program with a data handler, reads input reports on its own thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/error.h"
#include "base/main_thread.h"
#include "base/thread_launcher.h"
#include "hid/hid_access.h"
#include "hid/hid_handler.h"
#include "hid/output_queue.h"

namespace tarvion {

class THidDevice;
class THidDeviceController;
class THidDeviceReadThread;

using THidPlugEvent = HidHandler<void(THidDevice& HidDev)>;
using THidEnumerateEvent = HidHandler<bool(THidDevice& HidDev, int Idx)>;
// Data points at the bytes after the report ID and is valid only during the call.
using THidDataEvent =
    HidHandler<void(THidDevice& HidDev, uint8_t ReportID, const uint8_t* Data, uint16_t Size)>;
using THidDataErrorEvent = HidHandler<void(THidDevice& HidDev, uint32_t Error)>;

// Where a device is and what the system knows of it. Only the properties a
// platform can give are kept; the program reads the driver key alone.
struct THidPnPInfo {
  std::string DeviceInstance;  // equal exactly for the same physical device
  std::string DevicePath;
  std::string Driver;  // the driver key (SPDRP_DRIVER)
};

inline constexpr const char* kDeviceCannotBeOpened = "device cannot be opened";
inline constexpr const char* kDeviceCannotBeIdentified = "device cannot be identified";

class EControllerError : public TarvionError {
 public:
  explicit EControllerError(const std::string& message,
                            HidOpenError open_error = HidOpenError::other)
      : TarvionError(message), open_error_(open_error) {}

  // Why the device could not be opened; other for every other failure.
  HidOpenError open_error() const { return open_error_; }

 private:
  HidOpenError open_error_;
};

// Error code handed to OnDataError when a read cannot start because the device
// may not be read any more (gone, or no longer lent); the code Windows gives
// for a read on a closed handle.
inline constexpr uint32_t kReadHandleInvalid = 6;

class THidDevice {
 public:
  // Main thread. Opens the device to identify it, then closes it again.
  // Throws EControllerError when it cannot be opened or identified.
  THidDevice(HidAccess& hid, MainThread& main_thread, THidPnPInfo info, THidDataEvent on_data,
             THidPlugEvent on_unplug);
  ~THidDevice();

  THidDevice(const THidDevice&) = delete;
  THidDevice& operator=(const THidDevice&) = delete;

  const HidAttributes& Attributes() const { return attributes_; }
  const THidPnPInfo& PnPInfo() const { return pnp_; }

  // Read once and cached; empty while it could not be read.
  std::u16string ProductName();
  // Report lengths; zero while the device's capabilities cannot be had.
  void GetCaps(HidCaps& caps);
  // One output report, buffer[0] being the report ID, written here and now.
  // No retry, no event.
  bool WriteReport(const uint8_t* buffer, std::size_t length, std::size_t& written);
  // One output report for the device's writer thread: the main thread never
  // waits for a device that stopped taking reports, and of the reports still
  // waiting for it the newest of each kind wins.
  OutputResult PostReport(OutputKind kind, const uint8_t* buffer, std::size_t length);

  // Replaces the data handler, stopping and (when it may) starting the read
  // thread. A read thread that cannot be created raises "Thread creation
  // error: %s"; the handler stays set and the device is not read.
  void SetOnData(THidDataEvent handler);
  const THidDataEvent& OnData() const { return on_data_; }
  void SetOnDataError(THidDataErrorEvent handler) { on_data_error_ = std::move(handler); }
  const THidDataErrorEvent& OnDataError() const { return on_data_error_; }
  void SetOnUnplug(THidPlugEvent handler) { on_unplug_ = std::move(handler); }
  const THidPlugEvent& OnUnplug() const { return on_unplug_; }

  // Accepts 10 to 10000 ms; anything else is ignored.
  void SetThreadSleepTime(int milliseconds);
  int ThreadSleepTime() const { return thread_sleep_time_.load(std::memory_order_relaxed); }

  bool PluggedIn() const { return plugged_in_; }
  bool Claimed() const { return claimed_; }
  bool Enumerating() const { return enumerating_; }
  bool ReadWriteAccess() const { return read_write_access_; }
  // Why identification could open the device for queries alone; other when
  // it opened it fully, or when the system did not say.
  HidOpenError open_refusal() const { return refusal_; }
  bool Reading() const { return read_thread_ != nullptr; }

  // Identifies the object for as long as it lives; never reused.
  uint64_t serial() const { return serial_; }

 private:
  friend class THidDeviceController;
  friend class THidDeviceReadThread;

  // Controller side, main thread.
  void set_thread_launcher(ThreadLauncher launcher) { launcher_ = std::move(launcher); }
  void set_claimed(bool claimed);
  void set_enumerating(bool enumerating);
  void unplug();
  void close_handles();
  void try_start_read_thread();
  void stop_read_thread();

  bool accessible() const { return plugged_in_ && (claimed_ || enumerating_); }
  bool open_main_handle();
  void close_main_handle();
  void ensure_caps();

  // Any thread: no read handle is opened any more, and the open one is
  // closed, which ends a wait on it at once.
  void end_reads();

  // Read thread side.
  HidHandle open_read_handle(uint32_t& error);
  void deliver(uint8_t report_id, const uint8_t* data, uint16_t size);  // on the main thread
  void deliver_error(uint32_t error);                                   // on the main thread

  HidAccess& hid_;
  MainThread& main_thread_;
  THidPnPInfo pnp_;
  HidAttributes attributes_;
  uint64_t serial_;

  // Written on the main thread under io_mutex_, which the read thread takes to
  // decide whether it may still open the device for reading.
  std::mutex io_mutex_;
  bool plugged_in_ = true;
  bool claimed_ = false;
  bool enumerating_ = false;
  bool reading_stopped_ = true;
  HidHandle read_handle_ = kNoHidHandle;

  HidHandle main_handle_ = kNoHidHandle;
  bool read_write_access_ = false;
  HidOpenError refusal_ = HidOpenError::other;
  std::u16string product_name_;
  std::optional<HidCaps> caps_;
  std::atomic<int> thread_sleep_time_{100};

  THidDataEvent on_data_;
  THidDataErrorEvent on_data_error_;
  THidPlugEvent on_unplug_;
  ThreadLauncher launcher_;
  std::unique_ptr<THidDeviceReadThread> read_thread_;
  // Made at the first posted report; stopped before the main handle closes.
  std::unique_ptr<HidOutputQueue> output_;
};

}  // namespace tarvion
