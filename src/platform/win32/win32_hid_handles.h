// The open device handles of one Win32HidAccess: numbers that are never
// reused, and overlapped reads (ReadFileEx) that a close on another thread
// ends at once without pulling memory from under the system.
#pragma once

// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "hid/hid_access.h"

namespace tarvion {

// The error code of the calling thread's last failed operation. Per thread,
// as GetLastError itself is.
uint32_t win32_hid_last_error();
void set_win32_hid_last_error(uint32_t error);

// Every operation may run on any thread; one handle's read is driven by one
// thread at a time (start_read, wait_read, cancel_read), as the read loop does.
class Win32HidHandles {
 public:
  // How a read is cancelled: CancelIoEx; a test passes one that does
  // nothing, as a driver does that never hands a cancelled read back.
  using CancelIoFn = BOOL(WINAPI*)(HANDLE, LPOVERLAPPED);
  explicit Win32HidHandles(CancelIoFn cancel = CancelIoEx) : cancel_(cancel) {}
  ~Win32HidHandles();
  Win32HidHandles(const Win32HidHandles&) = delete;
  Win32HidHandles& operator=(const Win32HidHandles&) = delete;

  // Takes the OS handle over.
  HidHandle add(HANDLE os_handle, HidOpenMode mode);
  // Ends the handle's outstanding read: nothing more reaches its buffer once
  // this returns, and its wait ends with 0 bytes (at once, or after a
  // second when the driver does not hand the cancelled read back). The OS handle itself is
  // closed when no thread uses it any more and no read of it is in flight.
  void close(HidHandle handle);

  // Runs fn(os_handle) for an open synchronous handle (queries, writes); the
  // OS handle stays valid during the call even if another thread closes the
  // number. False, with error 6, for a closed, unknown or read handle.
  template <typename Fn>
  bool with_sync_handle(HidHandle handle, Fn&& fn);

  bool start_read(HidHandle handle, uint8_t* buffer, std::size_t length);
  std::optional<std::size_t> wait_read(HidHandle handle, uint32_t timeout_ms);
  void cancel_read(HidHandle handle);

  // Handle numbers open now.
  std::size_t size() const;
  // OS handles not yet closed (a closed number whose read is still draining
  // counts here until its completion has run).
  std::size_t os_handles() const { return os_handles_->load(); }

 private:
  struct Entry;
  std::shared_ptr<Entry> live(HidHandle handle) const;
  // Also a closed read handle whose read has not completed yet.
  std::shared_ptr<Entry> live_or_draining(HidHandle handle);
  HANDLE sync_os_handle(const std::shared_ptr<Entry>& entry) const;

  const CancelIoFn cancel_;
  mutable std::mutex mutex_;
  std::map<HidHandle, std::shared_ptr<Entry>> entries_;
  std::map<HidHandle, std::weak_ptr<Entry>> draining_;
  HidHandle next_ = 1;
  // Shared with the entries, which may outlive the table (a read in flight).
  std::shared_ptr<std::atomic<std::size_t>> os_handles_ =
      std::make_shared<std::atomic<std::size_t>>(0);
};

template <typename Fn>
bool Win32HidHandles::with_sync_handle(HidHandle handle, Fn&& fn) {
  std::shared_ptr<Entry> entry = live(handle);
  HANDLE os = sync_os_handle(entry);
  if (os == INVALID_HANDLE_VALUE) {
    set_win32_hid_last_error(ERROR_INVALID_HANDLE);
    return false;
  }
  return fn(os);
}

}  // namespace tarvion
