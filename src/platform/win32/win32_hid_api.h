// hid.dll and setupapi.dll bound at run time: the program starts and runs on
// a system (or a Wine prefix) where either is missing, it just sees no panels.
#pragma once

// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include <windows.h>
// The headers give the entries' types; nothing of them is linked.
#include <hidsdi.h>
#include <setupapi.h>

#include <string>

namespace tarvion {

// The library names Win32HidAccess binds by default: bare names, so found in
// System32 and nowhere else.
inline constexpr const char* kSetupApiLibrary = "setupapi.dll";
inline constexpr const char* kHidLibrary = "hid.dll";

// Every entry Win32HidAccess calls. All set, or the object is unbound.
struct HidApi {
  decltype(&::SetupDiGetClassDevsA) GetClassDevs = nullptr;
  decltype(&::SetupDiEnumDeviceInterfaces) EnumDeviceInterfaces = nullptr;
  decltype(&::SetupDiGetDeviceInterfaceDetailA) GetDeviceInterfaceDetail = nullptr;
  decltype(&::SetupDiGetDeviceRegistryPropertyA) GetDeviceRegistryProperty = nullptr;
  decltype(&::SetupDiDestroyDeviceInfoList) DestroyDeviceInfoList = nullptr;

  decltype(&::HidD_GetHidGuid) GetHidGuid = nullptr;
  decltype(&::HidD_GetAttributes) GetAttributes = nullptr;
  decltype(&::HidD_GetPreparsedData) GetPreparsedData = nullptr;
  decltype(&::HidD_FreePreparsedData) FreePreparsedData = nullptr;
  decltype(&::HidP_GetCaps) GetCaps = nullptr;
  decltype(&::HidD_GetProductString) GetProductString = nullptr;
};

// Owns the two loaded libraries. The set-up library is bound first and the
// HID library only when that worked; one missing entry leaves both unbound.
class HidLibraries {
 public:
  // A bare name (UTF-8) is looked for in System32 only; a full path is loaded
  // from there (the tests' stand-ins).
  HidLibraries(const std::string& setupapi_name, const std::string& hid_name);
  ~HidLibraries();

  HidLibraries(const HidLibraries&) = delete;
  HidLibraries& operator=(const HidLibraries&) = delete;

  bool bound() const { return bound_; }
  // Only meaningful while bound().
  const HidApi& api() const { return api_; }

 private:
  void unload();

  HMODULE setupapi_ = nullptr;
  HMODULE hid_ = nullptr;
  HidApi api_;
  bool bound_ = false;
};

}  // namespace tarvion
