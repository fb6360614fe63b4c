// Seams for a program without that hardware or service: no HID devices, no
// device notifications, no FSUIPC. Used until (and where) nothing better exists.
#pragma once

#include "fsuipc/ipc_transport.h"
#include "hid/device_notifier.h"
#include "hid/hid_access.h"

namespace tarvion {

class NullHidAccess : public HidAccess {
 public:
  bool bound() const override { return false; }
  std::vector<HidInterface> list_interfaces() override { return {}; }
  HidHandle open(const std::string&, HidOpenMode) override { return kNoHidHandle; }
  HidOpenError last_open_error() const override { return HidOpenError::other; }
  void close(HidHandle) override {}
  bool get_attributes(HidHandle, HidAttributes&) override { return false; }
  bool get_caps(HidHandle, HidCaps&) override { return false; }
  bool get_product_string(HidHandle, std::u16string&) override { return false; }
  bool write(HidHandle, const uint8_t*, std::size_t, std::size_t& written) override {
    written = 0;
    return false;
  }
  bool start_read(HidHandle, uint8_t*, std::size_t) override { return false; }
  std::optional<std::size_t> wait_read(HidHandle, uint32_t) override { return std::size_t{0}; }
  void cancel_read(HidHandle) override {}
  uint32_t last_error() const override { return 0; }
};

class NullDeviceNotifier : public DeviceNotifier {
 public:
  void set_handler(DeviceChangeHandler) override {}
  void post(int32_t) override {}
};
// No FSUIPC or WideClient here: no server window is ever found, so every
// connect attempt ends before anything is acquired.
class NullIpcTransport : public IpcTransport {
 public:
  IpcWindow find_window(const std::string&) override { return kNoIpcWindow; }
  uint32_t register_message(const std::string&) override { return 0; }
  uint16_t add_atom(const std::string&) override { return 0; }
  void delete_atom(uint16_t) override {}
  IpcMapping create_mapping(const std::string&, std::size_t, bool& already_existed) override {
    already_existed = false;
    return kNoIpcMapping;
  }
  std::span<uint8_t> map_view(IpcMapping) override { return {}; }
  void unmap_view(std::span<uint8_t>) override {}
  void close_mapping(IpcMapping) override {}
  bool send_message(IpcWindow, uint32_t, uint64_t, int64_t, uint32_t, int64_t& answer) override {
    answer = 0;
    return false;
  }
  uint32_t last_error() override { return 0; }
  void wait(uint32_t) override {}
  uint32_t process_id() override { return 0; }
};

}  // namespace tarvion
