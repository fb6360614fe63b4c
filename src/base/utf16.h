// Text between the UTF-16 of devices (USB product strings) and the UTF-8 the
// rest of the program, the kernel and the virtual panel host write.
#pragma once

#include <string>
#include <string_view>

namespace tarvion {

// A lone surrogate becomes U+FFFD rather than broken UTF-8.
std::string utf16_to_utf8(std::u16string_view text);

// Up to the first NUL. A malformed sequence (stray continuation byte, overlong
// form, surrogate, value past U+10FFFF, cut short) becomes one U+FFFD.
std::u16string utf8_to_utf16(std::string_view text);

}  // namespace tarvion
