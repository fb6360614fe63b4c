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

std::unique_ptr<ChildProcess> start(const std::string& folder, const std::string& runtime) {
  return std::make_unique<ChildProcess>(
      std::vector<std::string>{TARVION_BIN, "--console"}, folder,
      std::map<std::string, std::string>{{"XDG_RUNTIME_DIR", runtime},
                                         {"DISPLAY", ""},
                                         {"WAYLAND_DISPLAY", ""},
                                         {"TARVION_VIRTUAL_PANELS", ""}});
}

}  // namespace

TarvionRun::TarvionRun(const std::optional<std::string>& ini) {
  if (ini) folder.write("Tarvion.ini", *ini);
  process = start(folder.path(), runtime.path());
}

std::unique_ptr<ChildProcess> TarvionRun::start_again() const {
  return start(folder.path(), runtime.path());
}

}  // namespace tarvion::e2e
