// Where both Linux programs look for Tarvion.ini: the current folder first,
// as on Windows, then the user's configuration folder, because a program
// started from the menu runs in the home folder and the systemd user service
// runs in ~/.config/tarvion.
#pragma once

// clang-format off
#include "platform/linux/linux_only.h"  // first: this file is Linux-only
// clang-format on

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace tarvion {

// Absolute paths, so the about box and the not-found hint say where.
inline std::vector<std::string> linux_config_paths() {
  namespace fs = std::filesystem;
  std::vector<std::string> paths;
  char cwd[PATH_MAX];
  // A current folder that is gone still gets its try, by the relative name.
  paths.push_back(::getcwd(cwd, sizeof cwd) ? (fs::path(cwd) / "Tarvion.ini").string()
                                            : std::string("Tarvion.ini"));
  // The XDG rule: $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
  fs::path folder;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  if (xdg && fs::path(xdg).is_absolute()) {
    folder = xdg;
  } else if (home && *home) {
    folder = fs::path(home) / ".config";
  } else {
    return paths;
  }
  std::string own = (folder / "tarvion" / "Tarvion.ini").lexically_normal().string();
  // Started in that folder (the service): one place, looked at once.
  if (own != fs::path(paths.front()).lexically_normal().string()) paths.push_back(own);
  return paths;
}

}  // namespace tarvion
