// What the Win32 HID tests share: our stand-in libraries (beside the test
// program, named by full path), scripted device records, and a bounded
// message pump.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/win32/win32_hid_access.h"
#include "standin_script.h"

namespace tarvion::test {

// The full path of a stand-in library: the file of that name beside the test
// program. A bare name would bring System32's.
std::string standin_path(const char* file_name);

// A Win32HidAccess bound to our stand-ins.
Win32HidAccess standin_access();

// The stand-in hid.dll and setupapi.dll, loaded by the paths standin_access()
// gives. loaded() is false when Wine gave its own instead.
class Standins {
 public:
  Standins();
  ~Standins();
  bool loaded() const { return set_hid_ && set_setupapi_ && count_hid_ && count_setupapi_; }
  // Both libraries answer from this script from now on.
  void set(const standin::Script& script);
  standin::Counters counters() const;

 private:
  HMODULE hid_ = nullptr;
  HMODULE setupapi_ = nullptr;
  standin::SetScriptFn set_hid_ = nullptr;
  standin::SetScriptFn set_setupapi_ = nullptr;
  standin::GetCountersFn count_hid_ = nullptr;
  standin::GetCountersFn count_setupapi_ = nullptr;
};

inline constexpr const char* kStandinsMissing =
    "our stand-in hid.dll/setupapi.dll were not loaded: run with "
    "WINEDLLOVERRIDES=hid,setupapi=n,b from the test program's folder";

// A pipe name no other test (or test run) uses.
std::string unique_pipe_name();

// A well-behaved device: driver key "{...}\<instance>", 9-byte reports.
standin::Device device_record(const std::string& path, uint16_t product_id,
                              const std::string& instance = "0001",
                              const std::u16string& product = u"Pendra panel");

// Runs the calling thread's messages until done() holds; false when it did
// not within the bound (generous: real threads under Wine on a busy machine).
bool pump_messages_until(const std::function<bool()>& done,
                         std::chrono::milliseconds bound = std::chrono::seconds(20));

// Threads of this process now (toolhelp snapshot).
std::size_t process_threads();

}  // namespace tarvion::test
