// HID access on Windows: devices listed through setupapi.dll, identified and
// queried through hid.dll (both bound at run time), read and written with
// the file functions on their device paths.
#pragma once

// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include <windows.h>

#include <string>
#include <vector>

#include "hid/hid_access.h"
#include "platform/win32/win32_hid_api.h"
#include "platform/win32/win32_hid_handles.h"

namespace tarvion {

class Win32HidAccess : public HidAccess {
 public:
  // Binds the two libraries by these names: bare ones from System32 only, full
  // paths as given (tests name missing libraries, and their stand-ins by path).
  explicit Win32HidAccess(const std::string& setupapi_name = kSetupApiLibrary,
                          const std::string& hid_name = kHidLibrary);

  bool bound() const override { return libraries_.bound(); }
  std::vector<HidInterface> list_interfaces() override;

  HidHandle open(const std::string& path, HidOpenMode mode) override;
  // ERROR_ACCESS_DENIED and ERROR_SHARING_VIOLATION: another program holds it.
  HidOpenError last_open_error() const override;
  void close(HidHandle handle) override { handles_.close(handle); }

  bool get_attributes(HidHandle handle, HidAttributes& attributes) override;
  bool get_caps(HidHandle handle, HidCaps& caps) override;
  bool get_product_string(HidHandle handle, std::u16string& text) override;

  bool write(HidHandle handle, const uint8_t* data, std::size_t length,
             std::size_t& written) override;
  bool start_read(HidHandle handle, uint8_t* buffer, std::size_t length) override {
    return handles_.start_read(handle, buffer, length);
  }
  std::optional<std::size_t> wait_read(HidHandle handle, uint32_t timeout_ms) override {
    return handles_.wait_read(handle, timeout_ms);
  }
  void cancel_read(HidHandle handle) override { handles_.cancel_read(handle); }

  uint32_t last_error() const override { return win32_hid_last_error(); }

  // The HID interface class the listing asks for (HidD_GetHidGuid).
  const GUID& hid_guid() const { return hid_guid_; }
  // Handle numbers open now, and OS handles not yet closed (a leak shows here).
  std::size_t open_handles() const { return handles_.size(); }
  std::size_t os_handles() const { return handles_.os_handles(); }

 private:
  // The interface's device path and driver key; false when its details
  // cannot be read.
  bool read_interface(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& interface_data, HidInterface& found);
  std::string driver_key(HDEVINFO set, SP_DEVINFO_DATA& devinfo);

  HidLibraries libraries_;
  // The fixed HID class until the library says otherwise.
  GUID hid_guid_{0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
  Win32HidHandles handles_;
};

}  // namespace tarvion
