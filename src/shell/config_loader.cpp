#include "shell/config_loader.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "base/error.h"
#include "base/str_to_int.h"

namespace tarvion {

namespace {

std::string normalise(std::string_view line) {
  std::string out;
  out.reserve(line.size());
  for (char c : line) {
    if (c == ' ') continue;
    out.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
  }
  return out;
}

bool yes(const std::string& value) {
  return value == "YES";
}

BasePair pair_for(const std::string& value, BasePair when_yes) {
  return yes(value) ? when_yes : BasePair{when_yes.second, when_yes.first};
}

// One normalised line; keys are tested in the table's order.
void apply_line(const std::string& line, Config& c, int32_t& brightness) {
  size_t eq = line.find('=');
  if (eq == std::string::npos) return;
  const std::string key = line.substr(0, eq);
  const std::string value = line.substr(eq + 1);

  static const char* const kStartKeys[7] = {"SET_COM1", "SET_COM2", "SET_NAV1", "SET_NAV2",
                                            "SET_ADF1", "SET_ADF2", "SET_ATC"};
  static const char* const kActiveKeys[7] = {"ACTIVE_COM1", "ACTIVE_COM2", "ACTIVE_NAV1",
                                             "ACTIVE_NAV2", "ACTIVE_ADF1", "ACTIVE_ADF2",
                                             "ACTIVE_ATC"};
  if (key == "ZEMP_PORT") return void(c.zemp_port_text = value);
  if (key == "XPLANE") return void(c.zemp_mode = yes(value));
  if (key == "ZEMP_HOST") return void(c.zemp_host = value);
  if (key == "RTREN") return void(c.all_lights = yes(value));
  if (key == "ZEMP_TIMEOUT") return void(c.zemp_timeout = str_to_int(value));
  if (key == "TRIM_FACTOR") return void(c.trim_factor = str_to_int(value));
  if (key == "MFLAPS") return void(c.mflaps = str_to_int(value));
  for (int i = 0; i < 7; ++i) {
    if (key == kStartKeys[i]) return void(c.start_values[i] = str_to_int(value));
  }
  for (int i = 0; i < 7; ++i) {
    if (key == kActiveKeys[i]) return void(c.active_write[i] = yes(value));
  }
  if (key == "MINIMIZED") return void(c.start_to_tray = yes(value));
  if (key == "BRIGHT") return void(brightness = str_to_int(value));
  if (key == "FIRST_DEVICE_COM1") return void(c.com_pair = pair_for(value, {16, 256}));
  if (key == "FIRST_DEVICE_NAV1") return void(c.nav_pair = pair_for(value, {512, 1024}));
  if (key == "FIRST_DEVICE_ADF1") return void(c.adf_pair = pair_for(value, {16384, 32768}));
  if (key == "FIRST_DEVICE_RMP1") return void(c.rmp_pair = pair_for(value, {1, 2}));
  if (key == "EMULATE_TEST") return void(c.emulate_test = yes(value));
  if (key == "REVERSE_SW") return void(c.reverse_sw = yes(value));
  if (key == "REVERSE_PANEL") return void(c.reverse_panel = yes(value));
  if (key == "COM_FREC_5") return void(c.com_frec_5 = yes(value));
  if (key == "FOLLOW_SIM") return void(c.follow_sim = yes(value));
}

}  // namespace

void apply_config_defaults(Config& c, int32_t& brightness) {
  Config defaults;
  c.zemp_mode = defaults.zemp_mode;
  c.all_lights = defaults.all_lights;
  c.trim_factor = defaults.trim_factor;
  c.mflaps = defaults.mflaps;
  c.start_values = defaults.start_values;
  c.active_write = defaults.active_write;
  c.start_to_tray = defaults.start_to_tray;
  c.emulate_test = defaults.emulate_test;
  c.reverse_sw = defaults.reverse_sw;
  c.reverse_panel = defaults.reverse_panel;
  c.com_frec_5 = defaults.com_frec_5;
  c.follow_sim = defaults.follow_sim;
  brightness = 121;
}

void parse_config_text(std::string_view bytes, Config& config, int32_t& brightness) {
  // Ctrl-Z ends the file, as in a DOS text file.
  size_t eof = bytes.find('\x1A');
  if (eof != std::string_view::npos) bytes = bytes.substr(0, eof);

  size_t start = 0;
  while (start < bytes.size()) {
    size_t lf = bytes.find('\n', start);
    size_t end = lf == std::string_view::npos ? bytes.size() : lf;
    std::string line;
    line.reserve(end - start);
    // A CR is dropped whether or not LF follows it: before LF it is part of
    // the line end, elsewhere it is removed from the line.
    for (size_t i = start; i < end; ++i) {
      if (bytes[i] != '\r') line.push_back(bytes[i]);
    }
    apply_line(normalise(line), config, brightness);
    if (lf == std::string_view::npos) break;
    start = lf + 1;
  }
}

std::string read_config_file(const std::string& path) {
  // Only a regular file is read: a FIFO would block the start-up for good and
  // a device such as /dev/zero would never end. Whatever stands there is
  // looked at before it is opened (opening a FIFO already blocks); what is
  // missing or cannot be looked at goes on to the open, which names the error.
  std::error_code ec;
  const auto type = std::filesystem::status(path, ec).type();
  if (!ec && type != std::filesystem::file_type::regular) throw TarvionError(kConfigNotAFile);
  errno = 0;
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) {
    int err = errno;
    switch (err) {
      case ENOENT:
        throw TarvionError(kConfigNotFound);
      case EACCES:
      case EPERM:
        throw TarvionError("File access denied");
      case EMFILE:
      case ENFILE:
        throw TarvionError("Too many open files");
      case EINVAL:
      case ENAMETOOLONG:
        throw TarvionError("Invalid filename");
      default:
        throw TarvionError("I/O error " + std::to_string(err));
    }
  }
  // Read one byte past the limit, so a file that grows meanwhile (or was
  // swapped) is caught too, without reading it all.
  std::string bytes;
  char buffer[65536];
  size_t got;
  while (bytes.size() <= kMaxConfigFileBytes &&
         (got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
    bytes.append(buffer, got);
  }
  if (std::ferror(file.get())) throw TarvionError("I/O error " + std::to_string(errno));
  if (bytes.size() > kMaxConfigFileBytes) throw TarvionError(kConfigTooLarge);
  return bytes;
}

ConfigFile read_first_config_file(const std::vector<std::string>& paths) {
  std::string tried;
  for (const std::string& path : paths) {
    try {
      return ConfigFile{path, read_config_file(path)};
    } catch (const TarvionError& error) {
      if (std::string_view(error.what()) != kConfigNotFound) throw;
    }
    tried += (tried.empty() ? "Looked for " : ", then ") + path;
  }
  throw TarvionError(kConfigNotFound, tried.empty() ? std::string() : tried + ".");
}

std::string config_encoding_hint(std::string_view bytes) {
  if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) return kConfigUtf16Hint;
  // Without a mark: UTF-16 of plain keys is every other byte NUL. A quarter
  // leaves room for lines of other scripts, yet no text file comes near it.
  const std::string_view head = bytes.substr(0, 4096);
  size_t nuls = 0;
  for (char c : head) nuls += c == '\0';
  return nuls >= 2 && nuls * 4 >= head.size() ? kConfigUtf16Hint : "";
}

std::string load_configuration(const std::function<std::string()>& read_file, Config& config,
                               int32_t& brightness, MainWindowView& view) {
  apply_config_defaults(config, brightness);
  const std::string bytes = read_file();
  std::string hint = config_encoding_hint(bytes);
  parse_config_text(bytes, config, brightness);

  view.set_text(Control::Label2, config.zemp_host);
  view.set_text(Control::Label7, config.zemp_port_text);
  if (config.zemp_mode) {
    view.set_text(Control::Label16, "Disconnected");
  } else {
    view.set_text(Control::Label9, "Fsimulator");
  }
  if (brightness > 121) brightness = 121;
  if (brightness < 1) brightness = 1;
  view.set_text(Control::Label12, std::to_string(brightness));
  return hint;
}

}  // namespace tarvion
