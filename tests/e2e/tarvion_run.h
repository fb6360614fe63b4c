// Starts the real `tarvion --console` the way a user would: in a folder of
// its own holding Tarvion.ini, with its own runtime folder (single instance)
// and its own configuration folder (never the user's Tarvion.ini).
#pragma once

#include <signal.h>

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

#include "child_process.h"

namespace tarvion::e2e {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::string& path() const { return path_; }
  void write(const std::string& name, const std::string& text) const;

 private:
  std::string path_;
};

// The signals that close Tarvion as its window's close button does. Under
// Wine only SIGINT reaches the console program (as Ctrl-C); SIGTERM ends Wine.
#ifdef TARVION_ON_WINE
inline constexpr std::initializer_list<int> kCloseSignals = {SIGINT};
#else
inline constexpr std::initializer_list<int> kCloseSignals = {SIGTERM, SIGINT};
#endif
inline constexpr int kCloseSignal = *kCloseSignals.begin();

// A ZEMP configuration for 127.0.0.1:port with the window staying put.
std::string zemp_ini(int port, const std::string& extra_lines = "");

struct TarvionRun {
  TempFolder folder;   // the current folder: Tarvion.ini
  TempFolder runtime;  // XDG_RUNTIME_DIR: the instance lock and socket
  TempFolder config;   // XDG_CONFIG_HOME: tarvion/Tarvion.ini when the folder has none
  std::unique_ptr<ChildProcess> process;

  // ini: the file's text, or no file at all; config_ini: the same for
  // XDG_CONFIG_HOME/tarvion/Tarvion.ini.
  explicit TarvionRun(const std::optional<std::string>& ini,
                      const std::optional<std::string>& config_ini = std::nullopt);
  // Another `tarvion` sharing this run's folders (a second instance).
  std::unique_ptr<ChildProcess> start_again() const;
};

}  // namespace tarvion::e2e
