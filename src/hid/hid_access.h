// The HID access seam: what the device and controller logic needs of the OS's
// HID services. One implementation per platform (hid.dll, hidraw, virtual).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvion {

// An open device handle. Values are never reused by one HidAccess, so a read
// thread still holding a handle that the main thread closed can never reach
// another device through it.
using HidHandle = std::int64_t;
inline constexpr HidHandle kNoHidHandle = -1;

// wait_read's time-out for a wait that only a report or a close ends.
inline constexpr uint32_t kHidWaitForever = 0xFFFFFFFF;

struct HidAttributes {
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  uint16_t version_number = 0;
};

// One present HID interface as the system lists it.
struct HidInterface {
  // Stays equal for the same physical device across listings and differs
  // between attached devices; reconciliation matches devices by it.
  std::string identity;
  // What open() takes.
  std::string path;
  // The system's driver key; its last four characters are the device's
  // instance number (a stand-in with that property where the OS has none).
  std::string driver_key;
  // The vendor and product IDs as the listing gives them, without an open
  // (version_number 0); nullopt where it does not. A device the program may
  // not open is known by these alone.
  std::optional<HidAttributes> listed_ids;
};

// Why an open failed, as far as the user can do something about it.
enum class HidOpenError {
  other,
  no_permission,   // the system does not let this user open it (hidraw: no udev rule)
  held_elsewhere,  // another program holds it and shares it with nobody
};

enum class HidOpenMode {
  read_write,  // synchronous: queries and output reports
  query_only,  // synchronous, no access rights: queries only
  read,        // for the read loop: start_read / wait_read / cancel_read
};

// Report lengths count the report-ID byte.
struct HidCaps {
  uint16_t input_report_length = 0;
  uint16_t output_report_length = 0;
};

// Threads: every operation may be called from the main thread. A device's read
// thread calls open(read), start_read, wait_read and cancel_read for its own
// read handle while the main thread works on other handles, or closes that
// very handle: close() then ends the outstanding read, and a wait_read in
// progress on another thread returns at once, reporting it complete with 0
// bytes. A read thread relies on that to stop: it waits without a time-out.
// Likewise a device's writer thread calls write for a handle the main thread
// may close meanwhile: that write fails, or ends as it would have.
class HidAccess {
 public:
  virtual ~HidAccess() = default;

  // False when the platform's HID services are absent: nothing is listed and
  // no notification will come.
  virtual bool bound() const = 0;

  // The HID interfaces present now, in the system's order.
  virtual std::vector<HidInterface> list_interfaces() = 0;

  // kNoHidHandle on failure (last_error() tells why, last_open_error() in
  // the logic's words).
  virtual HidHandle open(const std::string& path, HidOpenMode mode) = 0;
  // Why the calling thread's last failed open failed.
  virtual HidOpenError last_open_error() const = 0;
  // Ends any read outstanding on the handle. Closing kNoHidHandle or a closed
  // handle does nothing.
  virtual void close(HidHandle handle) = 0;

  // False: the device cannot be identified.
  virtual bool get_attributes(HidHandle handle, HidAttributes& attributes) = 0;
  // False: the report lengths cannot be had.
  virtual bool get_caps(HidHandle handle, HidCaps& caps) = 0;
  // The product string as UTF-16, up to its first NUL.
  virtual bool get_product_string(HidHandle handle, std::u16string& text) = 0;

  // One output report, data[0] being the report ID. Returns when the system
  // has taken the report; written is the byte count it took.
  virtual bool write(HidHandle handle, const uint8_t* data, std::size_t length,
                     std::size_t& written) = 0;

  // Starts one read of an input report into buffer, which must stay valid
  // until wait_read reported completion or cancel_read/close returned. The
  // report arrives framed with its report-ID byte first (0 for devices
  // without numbered reports). False: the read did not start.
  virtual bool start_read(HidHandle handle, uint8_t* buffer, std::size_t length) = 0;
  // Waits up to timeout_ms (kHidWaitForever: no limit) for the started read.
  // nullopt: still outstanding. Otherwise the bytes read, 0 when the read
  // failed or its handle was closed.
  virtual std::optional<std::size_t> wait_read(HidHandle handle, uint32_t timeout_ms) = 0;
  // Abandons the outstanding read; the buffer is free when this returns.
  virtual void cancel_read(HidHandle handle) = 0;

  // The platform error code of the calling thread's last failed operation.
  virtual uint32_t last_error() const = 0;
};

}  // namespace tarvion
