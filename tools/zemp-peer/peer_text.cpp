#include "peer_text.h"

#include <charconv>
#include <cstdio>

namespace zemp_peer {

bool parse_int(std::string_view text, int& value) {
  if (text.starts_with('+')) return false;
  const char* end = text.data() + text.size();
  auto result = std::from_chars(text.data(), end, value);
  return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

std::optional<std::vector<Pair>> parse_pairs(std::string_view text) {
  std::vector<Pair> pairs;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find_first_of(": ,", at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view item = text.substr(at, end - at);
    at = end + 1;
    if (item.empty()) continue;
    size_t eq = item.find('=');
    int number = 0, value = 0;
    if (eq == std::string_view::npos || !parse_int(item.substr(0, eq), number) ||
        !parse_int(item.substr(eq + 1), value)) {
      return std::nullopt;
    }
    pairs.emplace_back(number, value);
  }
  if (pairs.empty()) return std::nullopt;
  return pairs;
}

std::optional<std::vector<Pair>> read_values_line(std::string_view line) {
  std::string text;
  for (char c : line) {
    if (c != ' ' && c != '\r' && c != '\n') text += c;
  }
  constexpr std::string_view kPrefix = "Arn.Resp:";
  if (!std::string_view(text).starts_with(kPrefix)) return std::nullopt;
  std::vector<Pair> pairs;
  std::string_view rest = std::string_view(text).substr(kPrefix.size());
  while (!rest.empty()) {
    size_t colon = rest.find(':');
    std::string_view item = rest.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    size_t eq = item.find('=');
    if (eq == std::string_view::npos) continue;
    int number = 0, value = 0;
    std::string_view value_text = item.substr(eq + 1);
    if (!parse_int(item.substr(0, eq), number)) return std::nullopt;
    if (!value_text.empty() && !parse_int(value_text, value)) return std::nullopt;
    pairs.emplace_back(number, value);
  }
  return pairs;
}

std::string values_line(const std::vector<Pair>& pairs) {
  std::string line = "Arn.Resp:";
  for (const Pair& pair : pairs) {
    line += std::to_string(pair.first) + "=" + std::to_string(pair.second) + ":";
  }
  return line + "\r\n";
}

std::string show(std::string_view bytes) {
  std::string out = "\"";
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += hex;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string unescape(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    if (next == 'r') {
      out += '\r';
    } else if (next == 'n') {
      out += '\n';
    } else if (next == 't') {
      out += '\t';
    } else if (next == 'x' && i + 2 < text.size()) {
      unsigned value = 0;
      auto result = std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
      if (result.ec == std::errc() && result.ptr == text.data() + i + 3) {
        out += static_cast<char>(value);
        i += 2;
      } else {
        out += "\\x";
      }
    } else {
      out += next;  // \\ and anything else: the character itself
    }
  }
  return out;
}

}  // namespace zemp_peer
