// Virtual HID devices for tests and demos: plugged and unplugged at will
// (firing the notifier), fed input reports, recording the latest output
// reports, and failing on request. Thread-safe: read threads wait here for real.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hid/hid_access.h"
#include "platform/virtual/virtual_device_notifier.h"

namespace tarvion {

struct VirtualHidTraits {
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  std::u16string product_string;
  std::string driver_key;
  uint16_t input_report_length = 3;  // with the report-ID byte
  uint16_t output_report_length = 9;
  std::string identity;  // empty: one is made up, unique to this plug
};

struct VirtualHidFaults {
  bool cannot_open = false;  // every open fails
  bool query_only = false;   // only query-only opens succeed
  bool attributes_fail = false;
  bool caps_fail = false;
  bool product_string_fails = false;
  bool write_fails = false;
  // A write waits until the fault is lifted or the handle closes: a panel
  // that stops acknowledging output reports.
  bool write_stalls = false;
  bool read_start_fails = false;
  uint32_t error_code = 1167;  // what last_error() reports for these
  // What last_open_error() reports for a refused open: a panel without the
  // udev rule (no_permission), or one another program holds (held_elsewhere).
  HidOpenError open_error = HidOpenError::other;
};

// Output reports kept per device for outputs(): the newest, so that a long
// run (the virtual panel link serves the real program) does not grow.
inline constexpr std::size_t kVirtualOutputRecord = 1024;

// Input reports a device holds while no read is outstanding (the kernel's
// hidraw queue per open file); past it the oldest is dropped and counted.
inline constexpr std::size_t kVirtualInputQueue = 64;

// Error codes of the virtual backend, after the Windows ones.
inline constexpr uint32_t kVirtualFileNotFound = 2;
inline constexpr uint32_t kVirtualInvalidHandle = 6;

class VirtualHid : public HidAccess {
 public:
  // notifier (may be null) hears of every plug and unplug.
  explicit VirtualHid(VirtualDeviceNotifier* notifier = nullptr);

  // Returns the device's id (also its path's suffix).
  int plug(VirtualHidTraits traits, VirtualHidFaults faults = {});
  // False when the id is not plugged. Closes the device's handles, ending reads.
  bool unplug(int id);
  // Drops the record (outputs, counters) of an unplugged device.
  void forget(int id);
  void set_faults(int id, VirtualHidFaults faults);
  // Any thread. The report, report-ID byte first, completes an outstanding
  // read or waits in the device's queue (kVirtualInputQueue reports; past
  // that the oldest is dropped and counted). Wakes only the reader it completes.
  bool inject_input(int id, const uint8_t* report, std::size_t length);
  bool inject_input(int id, const std::vector<uint8_t>& report) {
    return inject_input(id, report.data(), report.size());
  }
  // Reports the device's full queue has dropped so far.
  uint64_t dropped_inputs(int id) const;
  // Called on the injecting thread, with no lock held, after each drop;
  // dropped is the device's count so far.
  void set_drop_listener(std::function<void(int id, uint64_t dropped)> listener);
  // Called on the writing thread after each successful write.
  void set_output_listener(
      std::function<void(int id, const std::vector<uint8_t>& report)> listener);

  // The device's latest output reports (at most kVirtualOutputRecord), oldest first.
  std::vector<std::vector<uint8_t>> outputs(int id) const;
  std::vector<int> plugged() const;
  std::size_t open_handle_count() const;
  std::size_t read_start_count(int id) const;
  std::size_t open_count(int id) const;
  void set_bound(bool bound);

  bool bound() const override;
  std::vector<HidInterface> list_interfaces() override;
  HidHandle open(const std::string& path, HidOpenMode mode) override;
  HidOpenError last_open_error() const override;
  void close(HidHandle handle) override;
  bool get_attributes(HidHandle handle, HidAttributes& attributes) override;
  bool get_caps(HidHandle handle, HidCaps& caps) override;
  bool get_product_string(HidHandle handle, std::u16string& text) override;
  bool write(HidHandle handle, const uint8_t* data, std::size_t length,
             std::size_t& written) override;
  bool start_read(HidHandle handle, uint8_t* buffer, std::size_t length) override;
  std::optional<std::size_t> wait_read(HidHandle handle, uint32_t timeout_ms) override;
  void cancel_read(HidHandle handle) override;
  uint32_t last_error() const override;

 private:
  struct Device {
    VirtualHidTraits traits;
    VirtualHidFaults faults;
    std::string path;
    bool present = true;
    // A ring whose slots keep their storage: queueing does not allocate once warm.
    std::vector<std::vector<uint8_t>> input{kVirtualInputQueue};
    std::size_t input_first = 0;
    std::size_t input_count = 0;
    uint64_t dropped = 0;
    std::deque<std::vector<uint8_t>> outputs;
    std::size_t read_starts = 0;
    std::size_t opens = 0;
  };
  struct Handle {
    int device = 0;
    HidOpenMode mode = HidOpenMode::read_write;
    uint8_t* buffer = nullptr;  // the outstanding read's
    std::size_t length = 0;
    bool outstanding = false;
    bool completed = false;
    std::size_t bytes = 0;
    // Its own wake-up, so that a report wakes only its reader. Shared: a
    // waiter keeps it while close() erases the handle.
    std::shared_ptr<std::condition_variable> done = std::make_shared<std::condition_variable>();
  };

  Device* device_of(HidHandle handle);  // lock held; null when gone
  bool fail(uint32_t code) const;       // sets last_error, returns false
  // Lock held: copies the report into the read's buffer.
  void complete(Handle& handle, const uint8_t* report, std::size_t length);

  VirtualDeviceNotifier* notifier_;
  mutable std::mutex mutex_;
  bool bound_ = true;
  int next_device_ = 1;
  HidHandle next_handle_ = 1;
  std::map<int, Device> devices_;
  std::map<HidHandle, Handle> handles_;
  // Wakes stalled writes: faults changed, a handle closed, a device unplugged.
  std::condition_variable write_resumed_;
  std::function<void(int, const std::vector<uint8_t>&)> output_listener_;
  std::function<void(int, uint64_t)> drop_listener_;
};

}  // namespace tarvion
