// The scripted devices that our stand-in hid.dll and setupapi.dll report:
// plain C records the test hands to both libraries through their extra
// exports. Each device's path is a named pipe that the test serves.
#pragma once

#include <windows.h>

#include <cstdint>

namespace tarvion::standin {

inline constexpr int kMaxDevices = 16;

// The interface class the stand-in hid.dll gives out; the stand-in
// setupapi.dll lists nothing for any other (nor for other flags).
inline constexpr GUID kStandinHidGuid = {
    0x1E2B6AF1, 0x77C4, 0x4F0B, {0x9A, 0x31, 0x5D, 0x0E, 0x42, 0x6C, 0x18, 0x73}};

struct Device {
  char path[96];  // "\\.\pipe\<name>"
  // SPDRP_DRIVER: these bytes as given (no NUL unless counted); -1 fails.
  char driver_key[64];
  int driver_key_bytes;
  // SetupDiGetDeviceInterfaceDetailA fails for this interface: 1 at the
  // size query, 2 at the second call.
  int detail_fails;
  // HidD_GetAttributes fails when set.
  int attributes_fail;
  uint16_t vendor_id;
  uint16_t product_id;
  uint16_t version;
  // HidD_GetPreparsedData fails: 1; HidP_GetCaps reports an error: 2.
  int caps_fail;
  uint16_t input_length;
  uint16_t output_length;
  // HidD_GetProductString copies this many bytes of product (at most what
  // the caller's buffer holds); -1 fails.
  int product_bytes;
  wchar_t product[320];
};

struct Script {
  int device_count;
  Device devices[kMaxDevices];
  // SetupDiGetClassDevsA fails when set.
  int class_devs_fail;
  // SetupDiEnumDeviceInterfaces fails with ERROR_INVALID_DATA at this index
  // (-1: only past the end, with ERROR_NO_MORE_ITEMS).
  int enum_breaks_at;
};

// What the libraries saw, for leak and argument checks.
struct Counters {
  long sets_created;
  long sets_destroyed;
  long preparsed_taken;
  long preparsed_freed;
  long unknown_handles;  // hid.dll calls on a handle that is no scripted pipe
};

// The extra exports (both libraries export both).
using SetScriptFn = void(WINAPI*)(const Script* script);
using GetCountersFn = void(WINAPI*)(Counters* counters);
inline constexpr const char* kSetScript = "StandinSetScript";
inline constexpr const char* kGetCounters = "StandinGetCounters";

}  // namespace tarvion::standin
