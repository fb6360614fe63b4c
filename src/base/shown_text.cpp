#include "base/shown_text.h"

namespace tarvion {
namespace {

unsigned char byte_at(std::string_view text, std::size_t i) {
  return static_cast<unsigned char>(text[i]);
}

// Length of the well-formed UTF-8 character at text[i] (no overlong forms, no
// surrogates, nothing past U+10FFFF); 0 when the byte starts none.
std::size_t utf8_length(std::string_view text, std::size_t i) {
  const unsigned char lead = byte_at(text, i);
  if (lead < 0x80) return 1;
  std::size_t n = 0;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  if (byte_at(text, i + 1) < low || byte_at(text, i + 1) > high) return 0;
  for (std::size_t k = 2; k < n; ++k) {
    if (byte_at(text, i + k) < 0x80 || byte_at(text, i + k) > 0xBF) return 0;
  }
  return n;
}

bool is_control(std::string_view text, std::size_t i, std::size_t length) {
  const unsigned char lead = byte_at(text, i);
  if (length == 1) return (lead < 0x20 && lead != '\t') || lead == 0x7F;
  // U+0080 to U+009F: some terminals take U+009B as the start of a sequence.
  return length == 2 && lead == 0xC2 && byte_at(text, i + 1) < 0xA0;
}

}  // namespace

std::string shown_text(std::string_view text, std::size_t max_bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string shown;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t length = utf8_length(text, i);
    const std::size_t step = length == 0 ? 1 : length;
    if (i + step > max_bytes) break;
    if (length == 0 || is_control(text, i, length)) {
      for (std::size_t k = i; k < i + step; ++k) {
        shown += "\\x";
        shown += kHex[byte_at(text, k) >> 4];
        shown += kHex[byte_at(text, k) & 15];
      }
    } else {
      shown.append(text.substr(i, step));
    }
    i += step;
  }
  if (i < text.size()) shown += "...";
  return shown;
}

std::string_view utf8_prefix(std::string_view text, std::size_t max_bytes) {
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t length = utf8_length(text, i);
    const std::size_t step = length == 0 ? 1 : length;
    if (i + step > max_bytes) break;
    i += step;
  }
  return text.substr(0, i);
}

}  // namespace tarvion
