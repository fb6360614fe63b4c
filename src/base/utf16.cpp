#include "base/utf16.h"

#include <cstddef>
#include <cstdint>

namespace tarvion {
namespace {

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

constexpr char16_t kReplacement = u'\uFFFD';

// Length of the sequence a lead byte starts, and the bits it carries; 0 for a
// byte that cannot start one.
int sequence_length(uint8_t lead, uint32_t& bits) {
  if (lead < 0x80) {
    bits = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    bits = lead & 0x1F;
    return 2;
  }
  if (lead >= 0xE0 && lead <= 0xEF) {
    bits = lead & 0x0F;
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    bits = lead & 0x07;
    return 4;
  }
  return 0;
}

}  // namespace

std::string utf16_to_utf8(std::u16string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    append_utf8(out, c);
  }
  return out;
}

std::u16string utf8_to_utf16(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::u16string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    uint32_t code = 0;
    int length = sequence_length(static_cast<uint8_t>(text[pos]), code);
    if (length == 0) {
      out.push_back(kReplacement);
      ++pos;
      continue;
    }
    int taken = 1;
    for (; taken < length && pos + taken < text.size(); ++taken) {
      auto byte = static_cast<uint8_t>(text[pos + taken]);
      if ((byte & 0xC0) != 0x80) break;
      code = (code << 6) | (byte & 0x3F);
    }
    bool complete = taken == length;
    static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    bool overlong = complete && code < kSmallest[length];
    bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    if (!complete || overlong || surrogate || code > 0x10FFFF) {
      // The bytes taken so far form one malformed sequence.
      out.push_back(kReplacement);
      pos += static_cast<std::size_t>(taken);
      continue;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
    pos += static_cast<std::size_t>(length);
  }
  return out;
}

}  // namespace tarvion
