#include "platform/virtual/virtual_hid.h"

#include <algorithm>
#include <chrono>

namespace tarvion {
namespace {

thread_local uint32_t thread_last_error = 0;
thread_local HidOpenError thread_open_error = HidOpenError::other;
constexpr const char* kPathPrefix = "virtual-hid:";

}  // namespace

VirtualHid::VirtualHid(VirtualDeviceNotifier* notifier) : notifier_(notifier) {}

bool VirtualHid::fail(uint32_t code) const {
  thread_last_error = code;
  return false;
}

uint32_t VirtualHid::last_error() const {
  return thread_last_error;
}

HidOpenError VirtualHid::last_open_error() const {
  return thread_open_error;
}

int VirtualHid::plug(VirtualHidTraits traits, VirtualHidFaults faults) {
  int id = 0;
  {
    std::lock_guard lock(mutex_);
    id = next_device_++;
    Device device;
    if (traits.identity.empty()) traits.identity = "virtual-instance-" + std::to_string(id);
    device.traits = std::move(traits);
    device.faults = faults;
    device.path = kPathPrefix + std::to_string(id);
    devices_.emplace(id, std::move(device));
  }
  if (notifier_) notifier_->notify_system();
  return id;
}

bool VirtualHid::unplug(int id) {
  std::vector<std::shared_ptr<std::condition_variable>> waiters;
  {
    std::lock_guard lock(mutex_);
    auto it = devices_.find(id);
    if (it == devices_.end() || !it->second.present) return false;
    it->second.present = false;
    it->second.input_count = 0;
    std::erase_if(handles_, [&](const auto& entry) {
      if (entry.second.device != id) return false;
      waiters.push_back(entry.second.done);
      return true;
    });
  }
  for (const auto& waiter : waiters) waiter->notify_all();
  write_resumed_.notify_all();
  if (notifier_) notifier_->notify_system();
  return true;
}

void VirtualHid::forget(int id) {
  std::lock_guard lock(mutex_);
  auto it = devices_.find(id);
  if (it != devices_.end() && !it->second.present) devices_.erase(it);
}

void VirtualHid::set_faults(int id, VirtualHidFaults faults) {
  {
    std::lock_guard lock(mutex_);
    auto it = devices_.find(id);
    if (it != devices_.end()) it->second.faults = faults;
  }
  write_resumed_.notify_all();
}

void VirtualHid::set_bound(bool bound) {
  std::lock_guard lock(mutex_);
  bound_ = bound;
}

bool VirtualHid::bound() const {
  std::lock_guard lock(mutex_);
  return bound_;
}

void VirtualHid::set_output_listener(
    std::function<void(int id, const std::vector<uint8_t>& report)> listener) {
  std::lock_guard lock(mutex_);
  output_listener_ = std::move(listener);
}

std::vector<HidInterface> VirtualHid::list_interfaces() {
  std::lock_guard lock(mutex_);
  std::vector<HidInterface> present;
  if (!bound_) return present;
  for (const auto& [id, device] : devices_) {
    if (device.present) {
      present.push_back({device.traits.identity, device.path, device.traits.driver_key,
                         HidAttributes{device.traits.vendor_id, device.traits.product_id, 0}});
    }
  }
  return present;
}

VirtualHid::Device* VirtualHid::device_of(HidHandle handle) {
  auto it = handles_.find(handle);
  if (it == handles_.end()) return nullptr;
  auto device = devices_.find(it->second.device);
  if (device == devices_.end() || !device->second.present) return nullptr;
  return &device->second;
}

HidHandle VirtualHid::open(const std::string& path, HidOpenMode mode) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(devices_.begin(), devices_.end(), [&path](const auto& entry) {
    return entry.second.present && entry.second.path == path;
  });
  if (it == devices_.end()) {
    fail(kVirtualFileNotFound);
    thread_open_error = HidOpenError::other;
    return kNoHidHandle;
  }
  Device& device = it->second;
  const VirtualHidFaults& faults = device.faults;
  if (faults.cannot_open || (faults.query_only && mode != HidOpenMode::query_only)) {
    fail(faults.error_code);
    thread_open_error = faults.open_error;
    return kNoHidHandle;
  }
  ++device.opens;
  HidHandle handle = next_handle_++;
  handles_[handle] = Handle{it->first, mode, nullptr, 0, false, false, 0};
  return handle;
}

void VirtualHid::close(HidHandle handle) {
  std::shared_ptr<std::condition_variable> waiter;
  {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(handle);
    if (it == handles_.end()) return;
    waiter = std::move(it->second.done);
    handles_.erase(it);
  }
  waiter->notify_all();
  write_resumed_.notify_all();
}

bool VirtualHid::get_attributes(HidHandle handle, HidAttributes& attributes) {
  std::lock_guard lock(mutex_);
  Device* device = device_of(handle);
  if (!device) return fail(kVirtualInvalidHandle);
  if (device->faults.attributes_fail) return fail(device->faults.error_code);
  attributes = HidAttributes{device->traits.vendor_id, device->traits.product_id, 0x0100};
  return true;
}

bool VirtualHid::get_caps(HidHandle handle, HidCaps& caps) {
  std::lock_guard lock(mutex_);
  Device* device = device_of(handle);
  if (!device) return fail(kVirtualInvalidHandle);
  if (device->faults.caps_fail) return fail(device->faults.error_code);
  caps = HidCaps{device->traits.input_report_length, device->traits.output_report_length};
  return true;
}

bool VirtualHid::get_product_string(HidHandle handle, std::u16string& text) {
  std::lock_guard lock(mutex_);
  Device* device = device_of(handle);
  if (!device) return fail(kVirtualInvalidHandle);
  if (device->faults.product_string_fails) return fail(device->faults.error_code);
  text = device->traits.product_string;
  return true;
}

bool VirtualHid::write(HidHandle handle, const uint8_t* data, std::size_t length,
                       std::size_t& written) {
  written = 0;
  std::function<void(int, const std::vector<uint8_t>&)> listener;
  std::vector<uint8_t> report;
  int id = 0;
  {
    std::unique_lock lock(mutex_);
    Device* device = device_of(handle);
    while (device && device->faults.write_stalls) {
      write_resumed_.wait(lock);
      device = device_of(handle);
    }
    if (!device) return fail(kVirtualInvalidHandle);
    HidOpenMode mode = handles_[handle].mode;
    if (mode != HidOpenMode::read_write || device->faults.write_fails) {
      return fail(device->faults.error_code);
    }
    report.assign(data, data + length);
    if (device->outputs.size() == kVirtualOutputRecord) device->outputs.pop_front();
    device->outputs.push_back(report);
    written = length;
    id = handles_[handle].device;
    listener = output_listener_;
  }
  if (listener) listener(id, report);
  return true;
}

void VirtualHid::complete(Handle& handle, const uint8_t* report, std::size_t length) {
  std::size_t bytes = std::min(length, handle.length);
  std::copy_n(report, bytes, handle.buffer);
  handle.bytes = bytes;
  handle.outstanding = false;
  handle.completed = true;
  handle.buffer = nullptr;
}

bool VirtualHid::inject_input(int id, const uint8_t* report, std::size_t length) {
  std::shared_ptr<std::condition_variable> waiter;
  uint64_t dropped = 0;
  {
    std::lock_guard lock(mutex_);
    auto it = devices_.find(id);
    if (it == devices_.end() || !it->second.present) return false;
    auto waiting = std::find_if(handles_.begin(), handles_.end(), [id](const auto& entry) {
      return entry.second.device == id && entry.second.outstanding;
    });
    if (waiting != handles_.end()) {
      complete(waiting->second, report, length);
      waiter = waiting->second.done;
    } else {
      Device& device = it->second;
      if (device.input_count == kVirtualInputQueue) {
        device.input_first = (device.input_first + 1) % kVirtualInputQueue;
        --device.input_count;
        dropped = ++device.dropped;
      }
      std::size_t slot = (device.input_first + device.input_count) % kVirtualInputQueue;
      device.input[slot].assign(report, report + length);
      ++device.input_count;
    }
  }
  if (waiter) waiter->notify_one();
  if (dropped != 0) {
    std::function<void(int, uint64_t)> listener;
    {
      std::lock_guard lock(mutex_);
      listener = drop_listener_;
    }
    if (listener) listener(id, dropped);
  }
  return true;
}

void VirtualHid::set_drop_listener(std::function<void(int id, uint64_t dropped)> listener) {
  std::lock_guard lock(mutex_);
  drop_listener_ = std::move(listener);
}

uint64_t VirtualHid::dropped_inputs(int id) const {
  std::lock_guard lock(mutex_);
  auto it = devices_.find(id);
  return it == devices_.end() ? 0 : it->second.dropped;
}

bool VirtualHid::start_read(HidHandle handle, uint8_t* buffer, std::size_t length) {
  std::lock_guard lock(mutex_);
  Device* device = device_of(handle);
  if (!device) return fail(kVirtualInvalidHandle);
  ++device->read_starts;
  Handle& state = handles_[handle];
  if (state.mode != HidOpenMode::read || device->faults.read_start_fails || state.outstanding) {
    return fail(device->faults.error_code);
  }
  state.buffer = buffer;
  state.length = length;
  state.outstanding = true;
  state.completed = false;
  state.bytes = 0;
  if (device->input_count > 0) {
    const std::vector<uint8_t>& queued = device->input[device->input_first];
    complete(state, queued.data(), queued.size());
    device->input_first = (device->input_first + 1) % kVirtualInputQueue;
    --device->input_count;
  }
  return true;
}

std::optional<std::size_t> VirtualHid::wait_read(HidHandle handle, uint32_t timeout_ms) {
  std::unique_lock lock(mutex_);
  auto it = handles_.find(handle);
  if (it == handles_.end()) return std::size_t{0};
  std::shared_ptr<std::condition_variable> done = it->second.done;
  auto finished = [&] {
    it = handles_.find(handle);
    return it == handles_.end() || it->second.completed || !it->second.outstanding;
  };
  if (timeout_ms == kHidWaitForever) {
    done->wait(lock, finished);
  } else if (!done->wait_for(lock, std::chrono::milliseconds(timeout_ms), finished)) {
    return std::nullopt;
  }
  if (it == handles_.end() || !it->second.completed) return std::size_t{0};
  it->second.completed = false;
  return it->second.bytes;
}

void VirtualHid::cancel_read(HidHandle handle) {
  std::lock_guard lock(mutex_);
  auto it = handles_.find(handle);
  if (it == handles_.end()) return;
  it->second.outstanding = false;
  it->second.completed = false;
  it->second.buffer = nullptr;
}

std::vector<std::vector<uint8_t>> VirtualHid::outputs(int id) const {
  std::lock_guard lock(mutex_);
  auto it = devices_.find(id);
  if (it == devices_.end()) return {};
  return {it->second.outputs.begin(), it->second.outputs.end()};
}

std::vector<int> VirtualHid::plugged() const {
  std::lock_guard lock(mutex_);
  std::vector<int> ids;
  for (const auto& [id, device] : devices_) {
    if (device.present) ids.push_back(id);
  }
  return ids;
}

std::size_t VirtualHid::open_handle_count() const {
  std::lock_guard lock(mutex_);
  return handles_.size();
}

std::size_t VirtualHid::read_start_count(int id) const {
  std::lock_guard lock(mutex_);
  auto it = devices_.find(id);
  return it == devices_.end() ? 0 : it->second.read_starts;
}

std::size_t VirtualHid::open_count(int id) const {
  std::lock_guard lock(mutex_);
  auto it = devices_.find(id);
  return it == devices_.end() ? 0 : it->second.opens;
}

}  // namespace tarvion
