#include "tarvion_run.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace tarvion::e2e {

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarvion-e2e-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
  path_ = pattern;  // mkdtemp makes it 0700, as a runtime folder must be
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TempFolder::write(const std::string& name, const std::string& text) const {
  std::ofstream(path_ + "/" + name, std::ios::binary) << text;
}

std::string zemp_ini(int port, const std::string& extra_lines) {
  return "XPLANE=YES\nZEMP_HOST=127.0.0.1\nZEMP_PORT=" + std::to_string(port) + "\nMINIMIZED=NO\n" +
         extra_lines;
}

namespace {

std::unique_ptr<ChildProcess> start(const std::string& folder, const std::string& runtime,
                                    const std::string& config) {
  std::map<std::string, std::string> env{{"XDG_RUNTIME_DIR", runtime},
                                         {"DISPLAY", ""},
                                         {"WAYLAND_DISPLAY", ""},
                                         {"TARVION_VIRTUAL_PANELS", ""}};
#ifndef TARVION_ON_WINE
  env["XDG_CONFIG_HOME"] = config;
#else
  (void)config;  // the Windows program reads its folder only; Wine keeps its own
#endif
  return std::make_unique<ChildProcess>(std::vector<std::string>{TARVION_BIN, "--console"}, folder,
                                        env);
}

}  // namespace

TarvionRun::TarvionRun(const std::optional<std::string>& ini,
                       const std::optional<std::string>& config_ini) {
  if (ini) folder.write("Tarvion.ini", *ini);
  if (config_ini) {
    std::filesystem::create_directory(config.path() + "/tarvion");
    config.write("tarvion/Tarvion.ini", *config_ini);
  }
  process = start(folder.path(), runtime.path(), config.path());
}

std::unique_ptr<ChildProcess> TarvionRun::start_again() const {
  return start(folder.path(), runtime.path(), config.path());
}

}  // namespace tarvion::e2e
