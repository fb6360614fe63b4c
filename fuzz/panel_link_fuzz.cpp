// Arbitrary bytes from a virtual panel host: malformed lines are counted and
// ignored, never a crash or an out-of-bounds read.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/virtual/virtual_panel_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  tarvion::VirtualPanelLink link([](const std::string&) {});
  link.receive_bytes(bytes);
  std::string reason;
  (void)tarvion::parse_panel_host_endpoint(bytes.substr(0, 64), reason);
  link.connection_lost();
  return 0;
}
