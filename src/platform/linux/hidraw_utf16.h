// UTF-8 text from the kernel (HID device names, USB strings) as the UTF-16
// text the HID layer takes.
#pragma once

#include <string>
#include <string_view>

#include "platform/linux/linux_only.h"

namespace tarvion {

// Up to the first NUL. A malformed sequence (stray continuation byte, overlong
// form, surrogate, value past U+10FFFF, cut short) becomes one U+FFFD.
std::u16string utf8_to_utf16(std::string_view text);

}  // namespace tarvion
