// UTF-16 text from devices (USB product strings) as the UTF-8 the rest of
// the program writes.
#pragma once

#include <string>
#include <string_view>

namespace tarvion {

// A lone surrogate becomes U+FFFD rather than broken UTF-8.
std::string utf16_to_utf8(std::u16string_view text);

}  // namespace tarvion
