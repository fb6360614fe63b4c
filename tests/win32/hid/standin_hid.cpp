// Our own hid.dll for the tests: answers for the scripted devices, which it
// recognises by the name of the pipe behind the handle it is given.
// Loaded instead of Wine's through WINEDLLOVERRIDES=hid=n,b.
#include <windows.h>
// hidsdi.h declares the entries without C linkage; ours have it.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cstring>

#include "standin_script.h"

using namespace tarvion::standin;

namespace {

CRITICAL_SECTION lock;
Script script{};
Counters counters{};

struct Preparsed {
  static constexpr uint32_t kMagic = 0x50524550;
  uint32_t magic = kMagic;
  int index;
};

// The scripted device whose pipe the handle is a client of, or -1.
int device_of(HANDLE handle) {
  alignas(FILE_NAME_INFO) char info[sizeof(FILE_NAME_INFO) + 512] = {};
  if (!GetFileInformationByHandleEx(handle, FileNameInfo, info, sizeof info)) return -1;
  const auto* name = reinterpret_cast<const FILE_NAME_INFO*>(info);
  // The pipe's name as "\<name>"; the scripted path is "\\.\pipe\<name>".
  char narrow[256] = {};
  std::size_t chars = std::min<std::size_t>(name->FileNameLength / 2, sizeof narrow - 1);
  for (std::size_t i = 0; i < chars; ++i) narrow[i] = static_cast<char>(name->FileName[i]);
  for (int i = 0; i < script.device_count; ++i) {
    const char* path = script.devices[i].path;
    const char* tail = std::strrchr(path, '\\');
    if (tail && _stricmp(tail, narrow) == 0) return i;
  }
  return -1;
}

// Runs fn(device) under the lock for a scripted device's handle.
template <typename Fn>
BOOLEAN with_device(HANDLE handle, Fn&& fn) {
  EnterCriticalSection(&lock);
  int index = device_of(handle);
  BOOLEAN result = FALSE;
  if (index < 0) {
    ++counters.unknown_handles;
    SetLastError(ERROR_INVALID_HANDLE);
  } else {
    result = fn(script.devices[index], index);
  }
  LeaveCriticalSection(&lock);
  return result;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    InitializeCriticalSection(&lock);
    OutputDebugStringA("tarvion stand-in hid.dll loaded\n");
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
  out->preparsed_taken = counters.preparsed_taken;
  out->preparsed_freed = counters.preparsed_freed;
  out->unknown_handles = counters.unknown_handles;
  LeaveCriticalSection(&lock);
}

void NTAPI HidD_GetHidGuid(LPGUID guid) {
  *guid = kStandinHidGuid;
}

BOOLEAN NTAPI HidD_GetAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes) {
  return with_device(handle, [&](const Device& device, int) -> BOOLEAN {
    if (device.attributes_fail) {
      SetLastError(ERROR_GEN_FAILURE);
      return FALSE;
    }
    attributes->Size = sizeof(HIDD_ATTRIBUTES);
    attributes->VendorID = device.vendor_id;
    attributes->ProductID = device.product_id;
    attributes->VersionNumber = device.version;
    return TRUE;
  });
}

BOOLEAN NTAPI HidD_GetPreparsedData(HANDLE handle, PHIDP_PREPARSED_DATA* preparsed) {
  return with_device(handle, [&](const Device& device, int index) -> BOOLEAN {
    if (device.caps_fail == 1) {
      SetLastError(ERROR_GEN_FAILURE);
      return FALSE;
    }
    *preparsed = reinterpret_cast<PHIDP_PREPARSED_DATA>(new Preparsed{Preparsed::kMagic, index});
    ++counters.preparsed_taken;
    return TRUE;
  });
}

BOOLEAN NTAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsed) {
  auto* data = reinterpret_cast<Preparsed*>(preparsed);
  if (!data || data->magic != Preparsed::kMagic) return FALSE;
  data->magic = 0;
  delete data;
  EnterCriticalSection(&lock);
  ++counters.preparsed_freed;
  LeaveCriticalSection(&lock);
  return TRUE;
}

NTSTATUS NTAPI HidP_GetCaps(PHIDP_PREPARSED_DATA preparsed, PHIDP_CAPS caps) {
  auto* data = reinterpret_cast<Preparsed*>(preparsed);
  if (!data || data->magic != Preparsed::kMagic) return HIDP_STATUS_INVALID_PREPARSED_DATA;
  EnterCriticalSection(&lock);
  const Device& device = script.devices[data->index];
  NTSTATUS status = HIDP_STATUS_INVALID_PREPARSED_DATA;
  if (device.caps_fail != 2) {
    std::memset(caps, 0, sizeof(HIDP_CAPS));
    caps->InputReportByteLength = device.input_length;
    caps->OutputReportByteLength = device.output_length;
    status = HIDP_STATUS_SUCCESS;
  }
  LeaveCriticalSection(&lock);
  return status;
}

BOOLEAN NTAPI HidD_GetProductString(HANDLE handle, PVOID buffer, ULONG length) {
  return with_device(handle, [&](const Device& device, int) -> BOOLEAN {
    if (device.product_bytes < 0) {
      SetLastError(ERROR_GEN_FAILURE);
      return FALSE;
    }
    // As a driver does: as much as fits, with no room kept for a NUL.
    ULONG bytes = std::min<ULONG>(length, static_cast<ULONG>(device.product_bytes));
    std::memcpy(buffer, device.product, bytes);
    return TRUE;
  });
}

}  // extern "C"
