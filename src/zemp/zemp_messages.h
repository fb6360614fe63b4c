// The texts the ZEMP link puts on the wire: the values line, the keep-alive
// answer and the goodbye.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tarvion {

inline constexpr std::string_view kZempLineEnd = "\r\n";
inline constexpr std::string_view kZempValuesPrefix = "Arn.Resp:";
// The server's keep-alive and the program's answer: the same 11 bytes.
inline constexpr std::string_view kZempKeepAlive = "Arn.Vivo:\r\n";
// Sent alone, without a line end, right before the program closes the socket.
inline constexpr std::string_view kZempGoodbye = "Arn.Fin:";

struct ZempPair {
  int32_t number = 0;
  int32_t value = 0;
};

// "Arn.Resp:" then "number=value:" per pair in the order given, then CR LF.
std::string build_values_message(std::span<const ZempPair> pairs);

}  // namespace tarvion
