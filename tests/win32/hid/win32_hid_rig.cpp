#include "win32_hid_rig.h"

#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "base/utf16.h"

namespace tarvion::test {
namespace {

template <typename Fn>
Fn entry(HMODULE module, const char* name) {
  if (!module) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

HMODULE load_standin(const char* file_name) {
  std::u16string path = utf8_to_utf16(standin_path(file_name));
  return LoadLibraryW(std::wstring(path.begin(), path.end()).c_str());
}

}  // namespace

std::string standin_path(const char* file_name) {
  std::wstring program(32768, L'\0');  // the longest path there is
  program.resize(GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size())));
  program.erase(program.find_last_of(L"\\/") + 1);
  return utf16_to_utf8(std::u16string(program.begin(), program.end())) + file_name;
}

Win32HidAccess standin_access() {
  return Win32HidAccess(standin_path("setupapi.dll"), standin_path("hid.dll"));
}

Standins::Standins() {
  hid_ = load_standin("hid.dll");
  setupapi_ = load_standin("setupapi.dll");
  set_hid_ = entry<standin::SetScriptFn>(hid_, standin::kSetScript);
  set_setupapi_ = entry<standin::SetScriptFn>(setupapi_, standin::kSetScript);
  count_hid_ = entry<standin::GetCountersFn>(hid_, standin::kGetCounters);
  count_setupapi_ = entry<standin::GetCountersFn>(setupapi_, standin::kGetCounters);
  if (loaded()) set(standin::Script{0, {}, 0, -1});
}

Standins::~Standins() {
  if (hid_) FreeLibrary(hid_);
  if (setupapi_) FreeLibrary(setupapi_);
}

void Standins::set(const standin::Script& script) {
  set_hid_(&script);
  set_setupapi_(&script);
}

standin::Counters Standins::counters() const {
  standin::Counters from_hid{};
  standin::Counters from_setupapi{};
  count_hid_(&from_hid);
  count_setupapi_(&from_setupapi);
  from_hid.sets_created = from_setupapi.sets_created;
  from_hid.sets_destroyed = from_setupapi.sets_destroyed;
  return from_hid;
}

std::string unique_pipe_name() {
  static std::atomic<int> next{0};
  return "tarvion-hid-test-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(next.fetch_add(1));
}

standin::Device device_record(const std::string& path, uint16_t product_id,
                              const std::string& instance, const std::u16string& product) {
  standin::Device device{};
  std::strncpy(device.path, path.c_str(), sizeof device.path - 1);
  std::string key = "{745a17a0-74d3-11d0-b6fe-00a0c90f57da}\\" + instance;
  std::strncpy(device.driver_key, key.c_str(), sizeof device.driver_key - 1);
  device.driver_key_bytes = static_cast<int>(key.size() + 1);
  device.vendor_id = 0;
  device.product_id = product_id;
  device.version = 0x0100;
  device.input_length = 9;
  device.output_length = 9;
  std::size_t chars = std::min<std::size_t>(product.size(), std::size(device.product) - 1);
  std::copy_n(product.begin(), chars, device.product);
  device.product_bytes = static_cast<int>((chars + 1) * sizeof(wchar_t));
  return device;
}

bool pump_messages_until(const std::function<bool()>& done, std::chrono::milliseconds bound) {
  auto deadline = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    // Wakes for any message; the 10 ms only bounds how late a condition
    // changed by another thread is seen.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return true;
}

std::size_t process_threads() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  std::size_t count = 0;
  THREADENTRY32 thread{};
  thread.dwSize = sizeof thread;
  DWORD self = GetCurrentProcessId();
  for (BOOL more = Thread32First(snapshot, &thread); more; more = Thread32Next(snapshot, &thread)) {
    if (thread.th32OwnerProcessID == self) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

}  // namespace tarvion::test
