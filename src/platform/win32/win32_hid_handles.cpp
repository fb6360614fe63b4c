// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include "platform/win32/win32_hid_handles.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

namespace tarvion {
namespace {

thread_local uint32_t last_error = 0;

// How long a cancelled read (cancel_read, or a close under wait_read) is
// waited for. Cancelling is immediate for every driver seen; the bound keeps
// a broken driver from holding the read thread, and with it the close, for
// ever. Short: the close has a few seconds for every panel.
constexpr auto kCancelBound = std::chrono::seconds(1);

// Queued to a reader to end its alertable wait; the wait itself looks why.
void CALLBACK wake_reader(ULONG_PTR) {}

DWORD remaining_ms(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return static_cast<DWORD>(std::clamp<int64_t>(left.count(), 0, 1'000'000));
}

}  // namespace

uint32_t win32_hid_last_error() {
  return last_error;
}
void set_win32_hid_last_error(uint32_t error) {
  last_error = error;
}

struct Win32HidHandles::Entry {
  Entry(HANDLE handle, HidOpenMode open_mode, std::shared_ptr<std::atomic<std::size_t>> counter)
      : os(handle), mode(open_mode), os_count(std::move(counter)) {
    ++*os_count;
  }
  ~Entry() {
    if (reader) CloseHandle(reader);
    CloseHandle(os);
    --*os_count;
  }

  // Queued by the system to the thread that started the read; runs in its
  // next alertable wait. Drops the reference the read held.
  static void CALLBACK read_completed(DWORD error, DWORD bytes, LPOVERLAPPED overlapped) {
    auto* entry = static_cast<Entry*>(overlapped->hEvent);
    std::shared_ptr<Entry> held;
    std::lock_guard lock(entry->mutex);
    entry->completed = true;
    entry->result_error = error;
    entry->result_bytes = bytes;
    held = std::move(entry->in_flight);
    // held is released after the lock: it may be the last reference.
  }

  const HANDLE os;
  const HidOpenMode mode;
  const std::shared_ptr<std::atomic<std::size_t>> os_count;

  std::mutex mutex;
  bool closed = false;
  std::chrono::steady_clock::time_point closed_at;
  // The thread that started the read, so a close can wake its wait.
  HANDLE reader = nullptr;
  DWORD reader_id = 0;
  // The read: the system writes into scratch, never into the caller's
  // buffer, so a closed or cancelled read can finish late without harm.
  OVERLAPPED overlapped{};
  std::vector<uint8_t> scratch;
  uint8_t* buffer = nullptr;
  std::size_t length = 0;
  bool pending = false;    // started and not yet collected by wait or cancel
  bool completed = false;  // the completion routine has run
  DWORD result_error = 0;
  DWORD result_bytes = 0;
  // This entry itself, while the system owns overlapped and scratch.
  std::shared_ptr<Entry> in_flight;
};

Win32HidHandles::~Win32HidHandles() {
  std::vector<HidHandle> open;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [handle, entry] : entries_) open.push_back(handle);
  }
  for (HidHandle handle : open) close(handle);
}

HidHandle Win32HidHandles::add(HANDLE os_handle, HidOpenMode mode) {
  auto entry = std::make_shared<Entry>(os_handle, mode, os_handles_);
  std::lock_guard lock(mutex_);
  std::erase_if(draining_, [](const auto& item) { return item.second.expired(); });
  HidHandle handle = next_++;
  entries_.emplace(handle, std::move(entry));
  return handle;
}

std::shared_ptr<Win32HidHandles::Entry> Win32HidHandles::live(HidHandle handle) const {
  std::lock_guard lock(mutex_);
  auto found = entries_.find(handle);
  return found == entries_.end() ? nullptr : found->second;
}

std::shared_ptr<Win32HidHandles::Entry> Win32HidHandles::live_or_draining(HidHandle handle) {
  std::lock_guard lock(mutex_);
  if (auto found = entries_.find(handle); found != entries_.end()) return found->second;
  if (auto found = draining_.find(handle); found != draining_.end()) return found->second.lock();
  return nullptr;
}

HANDLE Win32HidHandles::sync_os_handle(const std::shared_ptr<Entry>& entry) const {
  if (!entry || entry->mode == HidOpenMode::read) return INVALID_HANDLE_VALUE;
  return entry->os;
}

std::size_t Win32HidHandles::size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

void Win32HidHandles::close(HidHandle handle) {
  std::shared_ptr<Entry> closing;
  {
    std::lock_guard lock(mutex_);
    auto found = entries_.find(handle);
    if (found == entries_.end()) return;
    closing = std::move(found->second);
    entries_.erase(found);
    // The read thread still collects or cancels its read by this number.
    if (closing->mode == HidOpenMode::read) draining_[handle] = closing;
    std::erase_if(draining_, [](const auto& item) { return item.second.expired(); });
  }
  std::lock_guard lock(closing->mutex);
  closing->closed = true;
  closing->closed_at = std::chrono::steady_clock::now();
  closing->buffer = nullptr;
  if (!closing->in_flight) return;
  // CancelIoEx, not CancelIo: the read was started by another thread. Its
  // completion (995) then wakes that thread's wait at once.
  cancel_(closing->os, &closing->overlapped);
  // A driver that never completes the cancelled read would leave that wait
  // asleep: wake it, and it gives the read a bounded time.
  if (closing->reader) QueueUserAPC(wake_reader, closing->reader, 0);
}

bool Win32HidHandles::start_read(HidHandle handle, uint8_t* buffer, std::size_t length) {
  std::shared_ptr<Entry> entry = live(handle);
  if (!entry || entry->mode != HidOpenMode::read) {
    set_win32_hid_last_error(ERROR_INVALID_HANDLE);
    return false;
  }
  if (buffer == nullptr || length == 0 || length > MAXDWORD) {
    set_win32_hid_last_error(ERROR_INVALID_PARAMETER);
    return false;
  }
  std::lock_guard lock(entry->mutex);
  if (entry->closed) {
    set_win32_hid_last_error(ERROR_INVALID_HANDLE);
    return false;
  }
  if (entry->pending || entry->in_flight) {
    set_win32_hid_last_error(ERROR_BUSY);
    return false;
  }
  if (entry->reader_id != GetCurrentThreadId()) {
    if (entry->reader) CloseHandle(entry->reader);
    entry->reader = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &entry->reader, 0,
                    FALSE, DUPLICATE_SAME_ACCESS);
    entry->reader_id = GetCurrentThreadId();
  }
  entry->scratch.assign(length, 0);
  entry->overlapped = OVERLAPPED{};
  // ReadFileEx leaves hEvent to the caller: it carries the entry to the routine.
  entry->overlapped.hEvent = entry.get();
  entry->completed = false;
  entry->result_error = 0;
  entry->result_bytes = 0;
  entry->in_flight = entry;
  if (!ReadFileEx(entry->os, entry->scratch.data(), static_cast<DWORD>(length), &entry->overlapped,
                  &Entry::read_completed)) {
    set_win32_hid_last_error(GetLastError());
    entry->in_flight.reset();
    return false;
  }
  entry->buffer = buffer;
  entry->length = length;
  entry->pending = true;
  return true;
}

std::optional<std::size_t> Win32HidHandles::wait_read(HidHandle handle, uint32_t timeout_ms) {
  std::shared_ptr<Entry> entry = live_or_draining(handle);
  if (!entry) return std::size_t{0};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    auto until = deadline;
    {
      std::lock_guard lock(entry->mutex);
      if (!entry->pending) return std::size_t{0};
      if (entry->completed) {
        entry->pending = false;
        if (entry->closed) return std::size_t{0};
        if (entry->result_error != ERROR_SUCCESS) {
          set_win32_hid_last_error(entry->result_error);
          return std::size_t{0};
        }
        std::size_t bytes = std::min<std::size_t>(entry->result_bytes, entry->length);
        std::memcpy(entry->buffer, entry->scratch.data(), bytes);
        entry->buffer = nullptr;
        return bytes;
      }
      if (entry->closed) until = std::min(deadline, entry->closed_at + kCancelBound);
      if (std::chrono::steady_clock::now() >= until) {
        if (!entry->closed) return std::nullopt;
        // Closed, and the system has not handed the read back yet: it is
        // over for the caller all the same, whose buffer it never touches.
        entry->pending = false;
        return std::size_t{0};
      }
    }
    // Alertable: the completion routine, or a close's wake-up, ends it.
    SleepEx(remaining_ms(until), TRUE);
  }
}

void Win32HidHandles::cancel_read(HidHandle handle) {
  std::shared_ptr<Entry> entry = live_or_draining(handle);
  if (!entry) return;
  {
    std::lock_guard lock(entry->mutex);
    if (!entry->pending) return;
    entry->pending = false;
    entry->buffer = nullptr;
    if (entry->completed) return;
    // Called by the thread that started the read.
    cancel_(entry->os, &entry->overlapped);
  }
  // The completion is queued to this thread and runs only in its alertable
  // waits; a thread that ended first would leave the entry held for ever.
  auto deadline = std::chrono::steady_clock::now() + kCancelBound;
  for (;;) {
    {
      std::lock_guard lock(entry->mutex);
      if (entry->completed) return;
    }
    if (std::chrono::steady_clock::now() >= deadline) return;
    SleepEx(remaining_ms(deadline), TRUE);
  }
}

}  // namespace tarvion
