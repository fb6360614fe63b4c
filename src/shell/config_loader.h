// Reads Tarvion.ini: KEY=VALUE lines, spaces removed and letters upper-cased,
// unknown lines ignored. The parse is pure (bytes to values) for tests and fuzzing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

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
inline constexpr const char* kConfigNotAFile = "Not a regular file";
inline constexpr const char* kConfigTooLarge = "File too large (over 1 MiB)";

// Reads a whole regular file of at most kMaxConfigFileBytes; throws
// TarvionError with the run-time's message ("File not found", "File access
// denied", ...), kConfigNotAFile or kConfigTooLarge.
std::string read_config_file(const std::string& path);

// The loader: defaults, read, parse, then the labels and the BRIGHT clamp.
void load_configuration(const std::function<std::string()>& read_file, Config& config,
                        int32_t& brightness, MainWindowView& view);

}  // namespace tarvion
