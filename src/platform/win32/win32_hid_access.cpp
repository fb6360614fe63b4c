// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include "platform/win32/win32_hid_access.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <memory>
#include <optional>

namespace tarvion {
namespace {

// The product string buffer: 254 UTF-16 characters.
constexpr std::size_t kProductBytes = 508;
constexpr std::size_t kProductChars = kProductBytes / sizeof(wchar_t);

// Driver keys are a class GUID and a four-digit instance ("{...}\0001"),
// 43 characters; anything longer is not one.
constexpr std::size_t kDriverKeyBytes = 256;

// Where the path starts inside the detail record, whatever its packing.
constexpr std::size_t kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);

thread_local HidOpenError open_error = HidOpenError::other;

void note_error() {
  set_win32_hid_last_error(GetLastError());
}

// The four hexadecimal digits after key ("vid_", "pid_") in a device path,
// whatever their case; nullopt when the path has none.
std::optional<uint16_t> path_id(const std::string& path, const char* key) {
  std::string lower = path;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  std::size_t at = lower.find(key);
  if (at == std::string::npos) return std::nullopt;
  at += std::strlen(key);
  if (lower.size() < at + 4) return std::nullopt;
  uint16_t value = 0;
  for (std::size_t i = at; i < at + 4; ++i) {
    char c = lower[i];
    int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) return std::nullopt;
    value = static_cast<uint16_t>(value * 16 + digit);
  }
  return value;
}

// A USB HID device's path names its IDs ("\\?\hid#vid_0000&pid_000d#...").
std::optional<HidAttributes> ids_of_path(const std::string& path) {
  std::optional<uint16_t> vendor = path_id(path, "vid_");
  std::optional<uint16_t> product = path_id(path, "pid_");
  if (!vendor || !product) return std::nullopt;
  return HidAttributes{*vendor, *product, 0};
}

}  // namespace

Win32HidAccess::Win32HidAccess(const std::string& setupapi_name, const std::string& hid_name)
    : libraries_(setupapi_name, hid_name) {
  if (libraries_.bound()) libraries_.api().GetHidGuid(&hid_guid_);
}

std::vector<HidInterface> Win32HidAccess::list_interfaces() {
  std::vector<HidInterface> interfaces;
  if (!bound()) return interfaces;
  const HidApi& api = libraries_.api();
  HDEVINFO set =
      api.GetClassDevs(&hid_guid_, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) {
    note_error();
    return interfaces;
  }
  for (DWORD index = 0;; ++index) {
    // Every record's size from the headers: the system checks cbSize
    // against its own layout, which differs between 32 and 64 bits.
    SP_DEVICE_INTERFACE_DATA interface_data{};
    interface_data.cbSize = sizeof interface_data;
    if (!api.EnumDeviceInterfaces(set, nullptr, &hid_guid_, index, &interface_data)) break;
    HidInterface found;
    // An interface whose details cannot be read is left out; the next one
    // may still be fine.
    if (read_interface(set, interface_data, found)) interfaces.push_back(std::move(found));
  }
  api.DestroyDeviceInfoList(set);
  return interfaces;
}

bool Win32HidAccess::read_interface(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& interface_data,
                                    HidInterface& found) {
  const HidApi& api = libraries_.api();
  SP_DEVINFO_DATA devinfo{};
  devinfo.cbSize = sizeof devinfo;
  DWORD size = 0;
  if (api.GetDeviceInterfaceDetail(set, &interface_data, nullptr, 0, &size, &devinfo) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) {
    note_error();
    return false;
  }
  // At least the fixed part, so that cbSize can be written; zeroed, so a
  // path that fills the buffer still ends.
  std::size_t bytes = std::max<std::size_t>(size, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) + 1;
  auto storage = std::make_unique<std::max_align_t[]>(bytes / sizeof(std::max_align_t) + 1);
  std::memset(storage.get(), 0, bytes);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.get());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!api.GetDeviceInterfaceDetail(set, &interface_data, detail, size, nullptr, &devinfo)) {
    note_error();
    return false;
  }
  const char* path = reinterpret_cast<const char*>(storage.get()) + kPathOffset;
  std::size_t path_room = size > kPathOffset ? size - kPathOffset : 0;
  found.path.assign(path, strnlen(path, path_room));
  if (found.path.empty()) return false;
  // The device path names one interface of one attached device and stays
  // the same while the device stays plugged in.
  found.identity = found.path;
  found.driver_key = driver_key(set, devinfo);
  found.listed_ids = ids_of_path(found.path);
  return true;
}

std::string Win32HidAccess::driver_key(HDEVINFO set, SP_DEVINFO_DATA& devinfo) {
  std::array<BYTE, kDriverKeyBytes> buffer{};
  DWORD type = 0;
  DWORD required = 0;
  if (!libraries_.api().GetDeviceRegistryProperty(set, &devinfo, SPDRP_DRIVER, &type, buffer.data(),
                                                  buffer.size(), &required)) {
    // No driver key (none installed, or an oversized one): recognition then
    // gives the device no instance number.
    note_error();
    return {};
  }
  std::size_t room = std::min<std::size_t>(required, buffer.size());
  const char* text = reinterpret_cast<const char*>(buffer.data());
  return std::string(text, strnlen(text, room));
}

HidHandle Win32HidAccess::open(const std::string& path, HidOpenMode mode) {
  DWORD access = 0;
  DWORD flags = 0;
  switch (mode) {
    case HidOpenMode::read_write:
      access = GENERIC_READ | GENERIC_WRITE;
      break;
    case HidOpenMode::query_only:
      // No access rights: enough for the hid.dll queries, also on devices
      // another program (or the system, for keyboards) holds exclusively.
      access = 0;
      break;
    case HidOpenMode::read:
      access = GENERIC_READ;
      flags = FILE_FLAG_OVERLAPPED;
      break;
  }
  HANDLE os = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, flags, nullptr);
  if (os == INVALID_HANDLE_VALUE) {
    note_error();
    DWORD error = win32_hid_last_error();
    // No system component holds a panel: a refusal means another program does.
    open_error = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION
                     ? HidOpenError::held_elsewhere
                     : HidOpenError::other;
    return kNoHidHandle;
  }
  return handles_.add(os, mode);
}

HidOpenError Win32HidAccess::last_open_error() const {
  return open_error;
}

bool Win32HidAccess::get_attributes(HidHandle handle, HidAttributes& attributes) {
  if (!bound()) {
    set_win32_hid_last_error(ERROR_PROC_NOT_FOUND);
    return false;
  }
  return handles_.with_sync_handle(handle, [&](HANDLE os) {
    HIDD_ATTRIBUTES got{};
    got.Size = sizeof got;
    if (!libraries_.api().GetAttributes(os, &got)) {
      note_error();
      return false;
    }
    attributes.vendor_id = got.VendorID;
    attributes.product_id = got.ProductID;
    attributes.version_number = got.VersionNumber;
    return true;
  });
}

bool Win32HidAccess::get_caps(HidHandle handle, HidCaps& caps) {
  if (!bound()) {
    set_win32_hid_last_error(ERROR_PROC_NOT_FOUND);
    return false;
  }
  return handles_.with_sync_handle(handle, [&](HANDLE os) {
    const HidApi& api = libraries_.api();
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!api.GetPreparsedData(os, &preparsed)) {
      note_error();
      return false;
    }
    HIDP_CAPS got{};
    NTSTATUS status = api.GetCaps(preparsed, &got);
    api.FreePreparsedData(preparsed);
    if (status != HIDP_STATUS_SUCCESS) {
      set_win32_hid_last_error(static_cast<uint32_t>(status));
      return false;
    }
    caps.input_report_length = got.InputReportByteLength;
    caps.output_report_length = got.OutputReportByteLength;
    return true;
  });
}

bool Win32HidAccess::get_product_string(HidHandle handle, std::u16string& text) {
  if (!bound()) {
    set_win32_hid_last_error(ERROR_PROC_NOT_FOUND);
    return false;
  }
  return handles_.with_sync_handle(handle, [&](HANDLE os) {
    std::array<wchar_t, kProductChars> buffer{};
    if (!libraries_.api().GetProductString(os, buffer.data(), kProductBytes)) {
      note_error();
      return false;
    }
    // A driver may fill the buffer without a NUL: the text ends with it.
    auto end = std::find(buffer.begin(), buffer.end(), L'\0');
    text.assign(buffer.begin(), end);
    return true;
  });
}

bool Win32HidAccess::write(HidHandle handle, const uint8_t* data, std::size_t length,
                           std::size_t& written) {
  written = 0;
  if (length > MAXDWORD) {
    set_win32_hid_last_error(ERROR_INVALID_PARAMETER);
    return false;
  }
  return handles_.with_sync_handle(handle, [&](HANDLE os) {
    DWORD done = 0;
    if (!WriteFile(os, data, static_cast<DWORD>(length), &done, nullptr)) {
      note_error();
      return false;
    }
    written = done;
    return true;
  });
}

}  // namespace tarvion
