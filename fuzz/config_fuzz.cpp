// Arbitrary bytes as Tarvion.ini: the parser must give its error or nothing,
// never crash, hang or read out of bounds.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/error.h"
#include "shell/config_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tarvion::Config config;
  int32_t brightness = 0;
  try {
    tarvion::parse_config_text(std::string_view(reinterpret_cast<const char*>(data), size), config,
                               brightness);
  } catch (const tarvion::TarvionError&) {
  }
  return 0;
}
