// The open hidraw files of one HidAccess: handle numbers that are never
// reused, and reads that a close on another thread ends at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "hid/hid_access.h"
#include "hid/hid_descriptor.h"
#include "platform/linux/linux_only.h"

namespace tarvion {

// What a query needs of an open file. The descriptor stays open for as long
// as the caller holds the pointer, even if the handle is closed meanwhile.
struct HidrawFile {
  int fd = -1;
  HidOpenMode mode = HidOpenMode::query_only;
  // Read from the device when it was opened; valid false when it could not
  // be read or parsed (the lengths are then 0).
  HidReportLayout layout;
  bool descriptor_read = false;
};

// Every operation may run on any thread; a handle's read is driven by one
// thread at a time (start_read, wait_read, cancel_read), as the HID layer does.
class HidrawHandles {
 public:
  HidrawHandles();
  ~HidrawHandles();
  HidrawHandles(const HidrawHandles&) = delete;
  HidrawHandles& operator=(const HidrawHandles&) = delete;

  // Takes fd over. kNoHidHandle (fd closed) when a read handle's wake-up
  // cannot be made.
  HidHandle add(int fd, HidOpenMode mode, const HidReportLayout& layout, bool descriptor_read);
  // Ends the handle's outstanding read: its buffer is no longer written once
  // this returns, and its wait returns at once with 0 bytes.
  void close(HidHandle handle);
  // Null for a closed or unknown handle.
  std::shared_ptr<const HidrawFile> find(HidHandle handle) const;

  // Returns once the kernel has taken the report or refused it; a device
  // that stops taking reports holds the caller up until the kernel gives up
  // (the HID layer writes from a thread of the device's own for that).
  bool write(HidHandle handle, const uint8_t* data, std::size_t length, std::size_t& written);
  bool start_read(HidHandle handle, uint8_t* buffer, std::size_t length);
  std::optional<std::size_t> wait_read(HidHandle handle, uint32_t timeout_ms);
  void cancel_read(HidHandle handle);

  // Handles open now.
  std::size_t size() const;

  struct Entry;

 private:
  std::shared_ptr<Entry> entry(HidHandle handle) const;
  // The entry of a read this thread started, or entry(handle).
  std::shared_ptr<Entry> reading_entry(HidHandle handle) const;
  // Read lock held: one queued report into the read's buffer without waiting;
  // nullopt when none is queued.
  static std::optional<std::size_t> read_report(Entry& file);
  static std::size_t device_gone(Entry& file);

  mutable std::mutex mutex_;
  std::map<HidHandle, std::shared_ptr<Entry>> entries_;
  HidHandle next_ = 1;
  uint64_t serial_;  // tells this object from any other, ever
};

// The error code (an errno value) of the calling thread's last failed
// hidraw operation. Per thread, as errno itself is.
uint32_t hidraw_last_error();
void set_hidraw_last_error(uint32_t error);

}  // namespace tarvion
