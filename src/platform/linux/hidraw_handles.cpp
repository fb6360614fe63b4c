#include "platform/linux/hidraw_handles.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/linux/linux_only.h"

namespace tarvion {
namespace {

thread_local uint32_t last_error = 0;
std::atomic<uint64_t> next_serial{1};

// What a read reports once the device is gone (hidraw answers EIO to a read
// and POLLHUP/POLLERR to a poll of a removed device).
constexpr uint32_t kDeviceGone = ENODEV;

int remaining_ms(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::clamp<int64_t>(left.count(), 0, 1'000'000));
}

}  // namespace

uint32_t hidraw_last_error() {
  return last_error;
}
void set_hidraw_last_error(uint32_t error) {
  last_error = error;
}

struct HidrawHandles::Entry : HidrawFile {
  ~Entry() {
    ::close(fd);
    if (wake_fd >= 0) ::close(wake_fd);
  }

  // Read handles only: written by close() so that a poll wakes at once.
  int wake_fd = -1;
  std::atomic<bool> closed{false};

  // The outstanding read. Held while bytes go into the caller's buffer, so
  // close() and cancel_read() return only when nothing more is written there.
  std::mutex read_mutex;
  uint8_t* buffer = nullptr;
  std::size_t length = 0;
  bool pending = false;
  // Set once the device is seen gone: every later read fails to start.
  uint32_t gone_error = 0;
};

namespace {

// The read this thread started last. A read is driven by one thread, so its
// wait (which follows at once) skips the map and its lock. Keyed by the
// object's serial, never its address, which a later object may reuse.
struct ReadingEntry {
  uint64_t owner = 0;
  HidHandle handle = kNoHidHandle;
  std::weak_ptr<HidrawHandles::Entry> entry;
};
thread_local ReadingEntry reading;

}  // namespace

HidrawHandles::HidrawHandles() : serial_(next_serial.fetch_add(1, std::memory_order_relaxed)) {}

HidrawHandles::~HidrawHandles() = default;

HidHandle HidrawHandles::add(int fd, HidOpenMode mode, const HidReportLayout& layout,
                             bool descriptor_read) {
  auto entry = std::make_shared<Entry>();
  entry->fd = fd;
  entry->mode = mode;
  entry->layout = layout;
  entry->descriptor_read = descriptor_read;
  if (mode == HidOpenMode::read) {
    // A read never blocks: it takes what is queued, and the wait polls.
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK) == 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    entry->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (entry->wake_fd < 0) {
      set_hidraw_last_error(static_cast<uint32_t>(errno));
      return kNoHidHandle;  // the entry closes fd
    }
  }
  std::lock_guard lock(mutex_);
  HidHandle handle = next_++;
  entries_.emplace(handle, std::move(entry));
  return handle;
}

std::shared_ptr<HidrawHandles::Entry> HidrawHandles::entry(HidHandle handle) const {
  std::lock_guard lock(mutex_);
  auto found = entries_.find(handle);
  if (found == entries_.end()) return nullptr;
  return found->second;
}

std::shared_ptr<HidrawHandles::Entry> HidrawHandles::reading_entry(HidHandle handle) const {
  if (reading.owner == serial_ && reading.handle == handle) {
    // Expired once the handle is closed and its last holder let go: the map
    // has no entry for it then either.
    if (auto file = reading.entry.lock()) return file;
  }
  return entry(handle);
}

std::shared_ptr<const HidrawFile> HidrawHandles::find(HidHandle handle) const {
  return entry(handle);
}

std::size_t HidrawHandles::size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

void HidrawHandles::close(HidHandle handle) {
  std::shared_ptr<Entry> closing;
  {
    std::lock_guard lock(mutex_);
    auto found = entries_.find(handle);
    if (found == entries_.end()) return;
    closing = std::move(found->second);
    entries_.erase(found);
  }
  closing->closed.store(true, std::memory_order_release);
  if (closing->wake_fd >= 0) eventfd_write(closing->wake_fd, 1);
  std::lock_guard read_lock(closing->read_mutex);
  closing->pending = false;
  closing->buffer = nullptr;
  // The file itself closes with the last holder: a thread still polling it
  // must not find its descriptor number given to another file.
}

bool HidrawHandles::write(HidHandle handle, const uint8_t* data, std::size_t length,
                          std::size_t& written) {
  written = 0;
  std::shared_ptr<Entry> file = entry(handle);
  if (!file) {
    set_hidraw_last_error(EBADF);
    return false;
  }
  ssize_t n;
  do {
    n = ::write(file->fd, data, length);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    set_hidraw_last_error(static_cast<uint32_t>(errno));
    return false;
  }
  written = static_cast<std::size_t>(n);
  return true;
}

bool HidrawHandles::start_read(HidHandle handle, uint8_t* buffer, std::size_t length) {
  std::shared_ptr<Entry> file = entry(handle);
  if (!file || file->mode != HidOpenMode::read) {
    set_hidraw_last_error(EBADF);
    return false;
  }
  // The wait that follows on this thread finds the entry here, not in the map.
  reading = {serial_, handle, file};
  std::lock_guard lock(file->read_mutex);
  if (file->gone_error != 0) {
    set_hidraw_last_error(file->gone_error);
    return false;
  }
  if (buffer == nullptr || length == 0) {
    set_hidraw_last_error(EINVAL);
    return false;
  }
  if (file->pending) {
    set_hidraw_last_error(EBUSY);
    return false;
  }
  file->buffer = buffer;
  file->length = length;
  file->pending = true;
  return true;
}

std::optional<std::size_t> HidrawHandles::wait_read(HidHandle handle, uint32_t timeout_ms) {
  std::shared_ptr<Entry> file = reading_entry(handle);
  if (!file || file->mode != HidOpenMode::read) return std::size_t{0};
  bool forever = timeout_ms == kHidWaitForever;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  bool hung_up = false;
  for (;;) {
    {
      std::lock_guard lock(file->read_mutex);
      if (file->closed.load(std::memory_order_acquire) || !file->pending) return std::size_t{0};
      // A report already queued is taken at once: under load no poll is made.
      // Reports still queued are also read before a hang-up counts (hidraw
      // answers EIO once the queue of a removed device is empty).
      std::optional<std::size_t> got = read_report(*file);
      if (got) return got;
      if (hung_up) return device_gone(*file);
    }
    pollfd fds[2] = {{file->fd, POLLIN, 0}, {file->wake_fd, POLLIN, 0}};
    int ready = ::poll(fds, 2, forever ? -1 : remaining_ms(deadline));
    if (ready < 0) {
      if (errno == EINTR) continue;
      auto poll_error = static_cast<uint32_t>(errno);
      std::lock_guard lock(file->read_mutex);
      if (file->closed.load(std::memory_order_acquire) || !file->pending) return std::size_t{0};
      set_hidraw_last_error(poll_error);
      file->pending = false;
      return std::size_t{0};
    }
    if (ready == 0) return std::nullopt;
    hung_up = (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && !(fds[0].revents & POLLIN);
  }
}

std::optional<std::size_t> HidrawHandles::read_report(Entry& file) {
  // hidraw drops the report-ID byte of unnumbered reports; the logic expects
  // it as on Windows, so the report goes in one byte further on. A report
  // longer than the buffer is cut, as the kernel cuts it.
  std::size_t offset = file.layout.numbered ? 0 : 1;
  uint8_t spare = 0;  // where a report goes that has no room left (a 1-byte buffer)
  uint8_t* into = file.length > offset ? file.buffer + offset : &spare;
  std::size_t room = file.length > offset ? file.length - offset : 1;
  ssize_t n;
  do {
    n = ::read(file.fd, into, room);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && errno == EAGAIN) return std::nullopt;
  if (n <= 0) return device_gone(file);
  file.pending = false;
  if (offset == 1) file.buffer[0] = 0;
  return std::min(offset + static_cast<std::size_t>(n), file.length);
}

std::size_t HidrawHandles::device_gone(Entry& file) {
  file.pending = false;
  file.gone_error = kDeviceGone;
  set_hidraw_last_error(kDeviceGone);
  return 0;
}

void HidrawHandles::cancel_read(HidHandle handle) {
  std::shared_ptr<Entry> file = entry(handle);
  if (!file) return;
  std::lock_guard lock(file->read_mutex);
  file->pending = false;
  file->buffer = nullptr;
}

}  // namespace tarvion
