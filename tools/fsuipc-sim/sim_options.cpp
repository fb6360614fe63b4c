#include "sim_options.h"

#include <stdexcept>

namespace fsuipc_sim {

const char kUsage[] =
    "usage: fsuipc-sim [--fs98] [--version HEX] [--no-answer | --answer-zero | --corrupt]\n"
    "                  [--travel-ms MS]\n"
    "Stands in for FSUIPC and a simulator: a window of class UIPCMAIN that answers\n"
    "the message \"FsasmLib:IPC\" from an offset space, with gear and flaps that move.\n"
    "  --fs98         the window class FS98MAIN, as WideClient offers\n"
    "  --version HEX  the FSUIPC version word at 0x3304 (default 49990000)\n"
    "  --no-answer    answer nothing (until \"answer on\"): the client's sends time out\n"
    "  --answer-zero  answer 0 without doing the requests\n"
    "  --corrupt      do the requests, then spoil the block's first record\n"
    "  --travel-ms MS time for the gear or the flaps to go end to end (default 4000)\n"
    "Prints a line for each watched offset that changes: the offset, its name, its\n"
    "bytes and what they mean. Commands on stdin:\n"
    "  gear up | gear down   move the simulator's gear lever (0x0BE8)\n"
    "  flaps N               set the flaps to detent N (0x0BDC)\n"
    "  show                  print every watched offset\n"
    "  answer off | answer on  stop answering (as --no-answer) or answer again\n"
    "  quit\n";

namespace {

uint32_t number(const std::string& text, int base) {
  std::size_t used = 0;
  const unsigned long value = std::stoul(text, &used, base);
  if (used != text.size() || value > 0xFFFFFFFFul) throw std::invalid_argument(text);
  return static_cast<uint32_t>(value);
}

}  // namespace

Options parse_options(const std::vector<std::string>& args, std::string& error) {
  Options options;
  error.clear();
  int faults = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool has_value = i + 1 < args.size();
    try {
      if (arg == "--help" || arg == "-h") {
        options.help = true;
      } else if (arg == "--fs98") {
        options.window_class = "FS98MAIN";
      } else if (arg == "--version" && has_value) {
        options.fsuipc_version = number(args[++i], 16);
      } else if (arg == "--travel-ms" && has_value) {
        options.travel_ms = number(args[++i], 10);
        if (options.travel_ms == 0) throw std::invalid_argument("0");
      } else if (arg == "--no-answer") {
        options.no_answer = true;
        ++faults;
      } else if (arg == "--answer-zero") {
        options.answer_zero = true;
        ++faults;
      } else if (arg == "--corrupt") {
        options.corrupt = true;
        ++faults;
      } else {
        error = "not an option: " + arg;
        return options;
      }
    } catch (const std::exception&) {
      error = "not a good value for " + arg + ": " + args[i];
      return options;
    }
  }
  if (faults > 1) error = "one fault at a time";
  return options;
}

}  // namespace fsuipc_sim
