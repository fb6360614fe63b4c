#include "zemp/zemp_messages.h"

#include <charconv>

namespace tarvion {

namespace {

void append_int(std::string& out, int32_t value) {
  char digits[16];
  auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

}  // namespace

std::string build_values_message(std::span<const ZempPair> pairs) {
  std::string message;
  message.reserve(kZempValuesPrefix.size() + pairs.size() * 24 + kZempLineEnd.size());
  message.append(kZempValuesPrefix);
  for (const ZempPair& pair : pairs) {
    append_int(message, pair.number);
    message.push_back('=');
    append_int(message, pair.value);
    message.push_back(':');
  }
  message.append(kZempLineEnd);
  return message;
}

}  // namespace tarvion
