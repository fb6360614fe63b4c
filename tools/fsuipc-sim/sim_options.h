// fsuipc-sim's command line: which window class it offers and which fault it
// plays.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fsuipc_sim {

extern const char kUsage[];

struct Options {
  std::string window_class = "UIPCMAIN";
  std::optional<uint32_t> fsuipc_version;  // the word at 0x3304
  bool no_answer = false;
  bool answer_zero = false;
  bool corrupt = false;
  uint32_t travel_ms = 4000;  // gear and flaps, end to end
  bool help = false;
};

// Empty error: options is filled in.
Options parse_options(const std::vector<std::string>& args, std::string& error);

}  // namespace fsuipc_sim
