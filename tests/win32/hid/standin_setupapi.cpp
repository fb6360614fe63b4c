// Our own setupapi.dll for the tests: lists the scripted devices with the
// checks the real one makes on its callers (record sizes, buffer sizes).
// Loaded instead of Wine's through WINEDLLOVERRIDES=setupapi=n,b.
#define _SETUPAPI_  // define the entries here instead of importing them
#include <windows.h>
// After windows.h, which it needs.
#include <setupapi.h>

#include <cstddef>
#include <cstring>

#include "standin_script.h"

using namespace tarvion::standin;

namespace {

CRITICAL_SECTION lock;
Script script{};
Counters counters{};

// One listing: the script as it was when the set was made.
struct DeviceSet {
  static constexpr uint32_t kMagic = 0x53455453;
  uint32_t magic = kMagic;
  Script snapshot;
};

DeviceSet* as_set(HDEVINFO handle) {
  auto* set = static_cast<DeviceSet*>(handle);
  return set && set != INVALID_HANDLE_VALUE && set->magic == DeviceSet::kMagic ? set : nullptr;
}

BOOL fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

constexpr std::size_t kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    InitializeCriticalSection(&lock);
    // Proof in the test log that this library, not Wine's, was loaded.
    OutputDebugStringA("tarvion stand-in setupapi.dll loaded\n");
  }
  return TRUE;
}

void WINAPI StandinSetScript(const Script* next) {
  EnterCriticalSection(&lock);
  script = *next;
  LeaveCriticalSection(&lock);
}

void WINAPI StandinGetCounters(Counters* out) {
  EnterCriticalSection(&lock);
  out->sets_created = counters.sets_created;
  out->sets_destroyed = counters.sets_destroyed;
  LeaveCriticalSection(&lock);
}

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* guid, PCSTR enumerator, HWND, DWORD flags) {
  bool asked_right = guid && std::memcmp(guid, &kStandinHidGuid, sizeof(GUID)) == 0 &&
                     !enumerator && flags == (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  DeviceSet* set = nullptr;
  EnterCriticalSection(&lock);
  if (asked_right && !script.class_devs_fail) {
    set = new DeviceSet{};
    set->snapshot = script;
    ++counters.sets_created;
  }
  LeaveCriticalSection(&lock);
  if (!set) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  return set;
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA, const GUID* guid,
                                        DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
  DeviceSet* set = as_set(handle);
  if (!set) return fail(ERROR_INVALID_HANDLE);
  if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
    return fail(ERROR_INVALID_USER_BUFFER);
  }
  if (!guid || std::memcmp(guid, &kStandinHidGuid, sizeof(GUID)) != 0) {
    return fail(ERROR_NO_MORE_ITEMS);
  }
  const Script& s = set->snapshot;
  if (s.enum_breaks_at >= 0 && index >= static_cast<DWORD>(s.enum_breaks_at)) {
    return fail(ERROR_INVALID_DATA);
  }
  if (index >= static_cast<DWORD>(s.device_count)) return fail(ERROR_NO_MORE_ITEMS);
  data->InterfaceClassGuid = kStandinHidGuid;
  data->Flags = SPINT_ACTIVE;
  data->Reserved = index;
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA data,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                                             PDWORD required, PSP_DEVINFO_DATA devinfo) {
  DeviceSet* set = as_set(handle);
  if (!set || !data) return fail(ERROR_INVALID_HANDLE);
  if (data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return fail(ERROR_INVALID_USER_BUFFER);
  std::size_t index = data->Reserved;
  if (index >= static_cast<std::size_t>(set->snapshot.device_count)) {
    return fail(ERROR_NO_MORE_ITEMS);
  }
  const Device& device = set->snapshot.devices[index];
  if (devinfo && devinfo->cbSize != sizeof(SP_DEVINFO_DATA)) {
    return fail(ERROR_INVALID_USER_BUFFER);
  }
  DWORD needed = static_cast<DWORD>(kPathOffset + strlen(device.path) + 1);
  if (!detail) {
    if (device.detail_fails == 1) return fail(ERROR_INVALID_DATA);
    if (required) *required = needed;
    return fail(ERROR_INSUFFICIENT_BUFFER);
  }
  if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
    return fail(ERROR_INVALID_USER_BUFFER);
  }
  if (size < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
  if (device.detail_fails == 2) return fail(ERROR_INVALID_DATA);
  std::memcpy(detail->DevicePath, device.path, strlen(device.path) + 1);
  if (devinfo) {
    devinfo->ClassGuid = kStandinHidGuid;
    devinfo->DevInst = static_cast<DWORD>(index);
    devinfo->Reserved = index;
  }
  return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO handle, PSP_DEVINFO_DATA devinfo,
                                              DWORD property, PDWORD type, PBYTE buffer, DWORD size,
                                              PDWORD required) {
  DeviceSet* set = as_set(handle);
  if (!set || !devinfo) return fail(ERROR_INVALID_HANDLE);
  if (devinfo->cbSize != sizeof(SP_DEVINFO_DATA)) return fail(ERROR_INVALID_USER_BUFFER);
  std::size_t index = devinfo->Reserved;
  if (index >= static_cast<std::size_t>(set->snapshot.device_count)) {
    return fail(ERROR_NO_SUCH_DEVINST);
  }
  if (property != SPDRP_DRIVER) return fail(ERROR_INVALID_DATA);
  const Device& device = set->snapshot.devices[index];
  if (device.driver_key_bytes < 0) return fail(ERROR_INVALID_DATA);
  DWORD bytes = static_cast<DWORD>(device.driver_key_bytes);
  if (required) *required = bytes;
  if (type) *type = REG_SZ;
  if (size < bytes || (!buffer && bytes > 0)) return fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(buffer, device.driver_key, bytes);
  return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
  DeviceSet* set = as_set(handle);
  if (!set) return fail(ERROR_INVALID_HANDLE);
  set->magic = 0;
  delete set;
  EnterCriticalSection(&lock);
  ++counters.sets_destroyed;
  LeaveCriticalSection(&lock);
  return TRUE;
}

}  // extern "C"
