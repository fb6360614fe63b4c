// Reads Tarvion.ini: KEY=VALUE lines, spaces removed and letters upper-cased,
// unknown lines ignored. The parse is pure (bytes to values) for tests and fuzzing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/config.h"
#include "shell/main_window_view.h"

namespace tarvion {

// Every value that has a default gets it; ZEMP_PORT, ZEMP_HOST, ZEMP_TIMEOUT
// and the base pairs keep what they hold.
void apply_config_defaults(Config& config, int32_t& brightness);

// Applies the lines of the file's bytes in order. Throws TarvionError on the
// first integer that does not convert; lines before it stay applied.
void parse_config_text(std::string_view bytes, Config& config, int32_t& brightness);

// A file of a dozen keys is tiny: a megabyte is generous.
inline constexpr size_t kMaxConfigFileBytes = 1024 * 1024;
inline constexpr const char* kConfigNotFound = "File not found";
inline constexpr const char* kConfigNotAFile = "Not a regular file";
inline constexpr const char* kConfigTooLarge = "File too large (over 1 MiB)";

// Reads a whole regular file of at most kMaxConfigFileBytes; throws
// TarvionError with the run-time's message ("File not found", "File access
// denied", ...), kConfigNotAFile or kConfigTooLarge.
std::string read_config_file(const std::string& path);

struct ConfigFile {
  std::string path;  // the one read, as given
  std::string bytes;
};

// Reads the first of paths that exists. Only a missing file sends the search
// on: one that stands there but cannot be read is reported, not passed over.
// When none exists: kConfigNotFound with a hint naming every path tried.
ConfigFile read_first_config_file(const std::vector<std::string>& paths);

// Notepad's "Unicode" is UTF-16: every key then carries NUL bytes and none
// matches, so the start-up ends at the missing ZEMP_PORT. The hint says why.
inline constexpr const char* kConfigUtf16Hint =
    "Tarvion.ini is saved as UTF-16 (Unicode): save it as plain text (ANSI or UTF-8).";
// kConfigUtf16Hint for bytes that look like UTF-16 (a byte-order mark FF FE or
// FE FF, or NUL bytes in numbers no text file has), else empty.
std::string config_encoding_hint(std::string_view bytes);

// The loader: defaults, read, parse, then the labels and the BRIGHT clamp.
// Returns config_encoding_hint of the file read, for an error that follows.
std::string load_configuration(const std::function<std::string()>& read_file, Config& config,
                               int32_t& brightness, MainWindowView& view);

}  // namespace tarvion
