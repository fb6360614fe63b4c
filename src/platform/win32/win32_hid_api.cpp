// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include "platform/win32/win32_hid_api.h"

#include "base/utf16.h"

namespace tarvion {
namespace {

// GetProcAddress gives a generic function pointer; the detour through
// void(*)() is the cast the compiler accepts between function types.
template <typename Entry>
bool bind(HMODULE module, const char* name, Entry& entry) {
  FARPROC address = GetProcAddress(module, name);
  entry = reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(address));
  return entry != nullptr;
}

// A bare name from System32 alone: the usual search looks in the program's
// folder first, and hid.dll is no KnownDLL, so a hid.dll lying beside
// Tarvion.exe (a zip unpacked in Downloads) would be taken. A full path names
// its file; what that file needs comes from System32 too.
HMODULE load_system_library(const std::string& name) {
  std::u16string utf16 = utf8_to_utf16(name);
  std::wstring wide(utf16.begin(), utf16.end());
  return LoadLibraryExW(wide.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

HidLibraries::HidLibraries(const std::string& setupapi_name, const std::string& hid_name) {
  setupapi_ = load_system_library(setupapi_name);
  if (!setupapi_) return;
  hid_ = load_system_library(hid_name);
  if (!hid_) {
    unload();
    return;
  }
  bool all = true;
  all &= bind(setupapi_, "SetupDiGetClassDevsA", api_.GetClassDevs);
  all &= bind(setupapi_, "SetupDiEnumDeviceInterfaces", api_.EnumDeviceInterfaces);
  all &= bind(setupapi_, "SetupDiGetDeviceInterfaceDetailA", api_.GetDeviceInterfaceDetail);
  all &= bind(setupapi_, "SetupDiGetDeviceRegistryPropertyA", api_.GetDeviceRegistryProperty);
  all &= bind(setupapi_, "SetupDiDestroyDeviceInfoList", api_.DestroyDeviceInfoList);
  all &= bind(hid_, "HidD_GetHidGuid", api_.GetHidGuid);
  all &= bind(hid_, "HidD_GetAttributes", api_.GetAttributes);
  all &= bind(hid_, "HidD_GetPreparsedData", api_.GetPreparsedData);
  all &= bind(hid_, "HidD_FreePreparsedData", api_.FreePreparsedData);
  all &= bind(hid_, "HidP_GetCaps", api_.GetCaps);
  all &= bind(hid_, "HidD_GetProductString", api_.GetProductString);
  if (!all) {
    unload();
    return;
  }
  bound_ = true;
}

HidLibraries::~HidLibraries() {
  unload();
}

void HidLibraries::unload() {
  bound_ = false;
  api_ = HidApi{};
  if (hid_) FreeLibrary(hid_);
  if (setupapi_) FreeLibrary(setupapi_);
  hid_ = nullptr;
  setupapi_ = nullptr;
}

}  // namespace tarvion
