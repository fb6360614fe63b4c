#include "hid/hid_device.h"

#include <algorithm>
#include <array>
#include <chrono>

#include "hid/hid_read_thread.h"

namespace tarvion {
namespace {

std::atomic<uint64_t> next_serial{1};

// What the product string buffer of the system call holds, in characters.
constexpr std::size_t kProductNameMax = 254;

// How long a close waits for a busy device to take the reports posted to it.
constexpr std::chrono::milliseconds kOutputDrain{200};

}  // namespace

THidDevice::THidDevice(HidAccess& hid, MainThread& main_thread, THidPnPInfo info,
                       THidDataEvent on_data, THidPlugEvent on_unplug)
    : hid_(hid),
      main_thread_(main_thread),
      pnp_(std::move(info)),
      serial_(next_serial.fetch_add(1, std::memory_order_relaxed)),
      on_data_(std::move(on_data)),
      on_unplug_(std::move(on_unplug)) {
  // Identification opens the device whether or not it is lent.
  main_handle_ = hid_.open(pnp_.DevicePath, HidOpenMode::read_write);
  read_write_access_ = main_handle_ != kNoHidHandle;
  if (!read_write_access_) {
    refusal_ = hid_.last_open_error();
    main_handle_ = hid_.open(pnp_.DevicePath, HidOpenMode::query_only);
  }
  if (main_handle_ == kNoHidHandle) {
    throw EControllerError(kDeviceCannotBeOpened, hid_.last_open_error());
  }
  bool identified = hid_.get_attributes(main_handle_, attributes_);
  close_main_handle();
  if (!identified) throw EControllerError(kDeviceCannotBeIdentified);
}

THidDevice::~THidDevice() {
  stop_read_thread();
  on_unplug_ = {};
  close_handles();
}

bool THidDevice::open_main_handle() {
  if (accessible() && main_handle_ == kNoHidHandle) {
    main_handle_ = hid_.open(pnp_.DevicePath, HidOpenMode::read_write);
    read_write_access_ = main_handle_ != kNoHidHandle;
    if (!read_write_access_) main_handle_ = hid_.open(pnp_.DevicePath, HidOpenMode::query_only);
  }
  return main_handle_ != kNoHidHandle;
}

void THidDevice::close_main_handle() {
  hid_.close(main_handle_);
  main_handle_ = kNoHidHandle;
}

void THidDevice::close_handles() {
  // The reports already posted (the dark images of a close) go out first,
  // unless the device stopped taking them: closing ends what it still holds.
  if (output_) output_->drain(kOutputDrain);
  close_main_handle();
  if (output_) output_->stop();
  std::lock_guard lock(io_mutex_);
  hid_.close(read_handle_);
  read_handle_ = kNoHidHandle;
}

std::u16string THidDevice::ProductName() {
  if (product_name_.empty() && open_main_handle()) {
    std::u16string text;
    if (hid_.get_product_string(main_handle_, text)) {
      text = text.substr(0, std::min(text.find(u'\0'), kProductNameMax));
      product_name_ = std::move(text);
    }
    close_main_handle();
  }
  return product_name_;
}

void THidDevice::ensure_caps() {
  if (caps_ || !open_main_handle()) return;
  HidCaps caps;
  if (hid_.get_caps(main_handle_, caps)) caps_ = caps;
  close_main_handle();
}

void THidDevice::GetCaps(HidCaps& caps) {
  caps = HidCaps{};
  ensure_caps();
  if (caps_) caps = *caps_;
}

bool THidDevice::WriteReport(const uint8_t* buffer, std::size_t length, std::size_t& written) {
  written = 0;
  if (!open_main_handle()) return false;
  return hid_.write(main_handle_, buffer, length, written);
}

OutputResult THidDevice::PostReport(OutputKind kind, const uint8_t* buffer, std::size_t length) {
  if (!open_main_handle()) return OutputResult::failed;
  // A query-only handle takes no report: no writer thread for it.
  if (!read_write_access_) return OutputResult::failed;
  if (!output_) output_ = std::make_unique<HidOutputQueue>(hid_, launcher_);
  return output_->post(main_handle_, kind, buffer, length);
}

void THidDevice::SetOnData(THidDataEvent handler) {
  if (!handler) stop_read_thread();
  on_data_ = std::move(handler);
  try_start_read_thread();
}

void THidDevice::SetThreadSleepTime(int milliseconds) {
  if (milliseconds >= 10 && milliseconds <= 10000) {
    thread_sleep_time_.store(milliseconds, std::memory_order_relaxed);
  }
}

void THidDevice::set_claimed(bool claimed) {
  std::lock_guard lock(io_mutex_);
  claimed_ = claimed;
}

void THidDevice::set_enumerating(bool enumerating) {
  std::lock_guard lock(io_mutex_);
  enumerating_ = enumerating;
}

void THidDevice::try_start_read_thread() {
  if (!on_data_ || !plugged_in_ || !claimed_ || read_thread_) return;
  // The lengths are fetched here, on the main thread, so that the read
  // thread never touches the main handle.
  HidCaps caps;
  GetCaps(caps);
  if (!read_write_access_) return;
  // A device whose input report length is unknown would fail every read for
  // ever; it gets no read thread (its report descriptor could not be read).
  if (caps.input_report_length == 0) return;
  {
    std::lock_guard lock(io_mutex_);
    reading_stopped_ = false;
  }
  read_thread_ = std::make_unique<THidDeviceReadThread>(*this, hid_, main_thread_,
                                                        caps.input_report_length, launcher_);
  try {
    read_thread_->Start();
  } catch (...) {
    // No thread: the device stays lent but unread, and a later claim or
    // handler tries again.
    read_thread_.reset();
    std::lock_guard lock(io_mutex_);
    reading_stopped_ = true;
    throw;
  }
}

void THidDevice::stop_read_thread() {
  if (!read_thread_) return;
  read_thread_->Terminate();  // closes the read handle too: end_reads()
  read_thread_->WaitFor();
  read_thread_.reset();
}

void THidDevice::end_reads() {
  std::lock_guard lock(io_mutex_);
  reading_stopped_ = true;
  hid_.close(read_handle_);
  read_handle_ = kNoHidHandle;
}

void THidDevice::unplug() {
  close_main_handle();
  // After the close: a write still in progress fails at once on a gone device.
  if (output_) output_->stop();
  {
    std::lock_guard lock(io_mutex_);
    plugged_in_ = false;
    hid_.close(read_handle_);
    read_handle_ = kNoHidHandle;
  }
  // Taken before the call: the handler may release, and so destroy, this device.
  THidPlugEvent handler = std::move(on_unplug_);
  on_unplug_ = {};
  if (handler) handler(*this);
}

HidHandle THidDevice::open_read_handle(uint32_t& error) {
  std::lock_guard lock(io_mutex_);
  if (reading_stopped_ || !accessible()) {
    error = kReadHandleInvalid;
    return kNoHidHandle;
  }
  if (read_handle_ == kNoHidHandle) {
    read_handle_ = hid_.open(pnp_.DevicePath, HidOpenMode::read);
    if (read_handle_ == kNoHidHandle) error = hid_.last_error();
  }
  return read_handle_;
}

void THidDevice::deliver(uint8_t report_id, const uint8_t* data, uint16_t size) {
  if (on_data_) on_data_(*this, report_id, data, size);
}

void THidDevice::deliver_error(uint32_t error) {
  if (on_data_error_) on_data_error_(*this, error);
}

}  // namespace tarvion
