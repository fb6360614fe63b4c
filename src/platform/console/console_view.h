// The window of console mode: every change of a label or of the device list
// is one line on standard output, every error one line on standard error.
// Portable: both programs use it.
#pragma once

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "shell/main_window_view.h"

namespace tarvion {

class ConsoleView : public MainWindowView {
 public:
  // Lines go to out and err, each flushed at once (journald and pipes read them).
  ConsoleView(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}

  // A text set again unchanged prints nothing: the logic sets some texts on
  // every retry (the FSUIPC status every 500 ms), and a log of the same line
  // for ever hides the changes.
  void set_text(Control control, const std::string& text) override;
  void set_device_list(const std::vector<std::string>& lines) override;
  void set_trackbar_position(int) override {}
  // There is no window to hide or show.
  void hide() override {}
  void show() override {}
  // No notification area in a console: the "window" never goes away.
  bool tray_add() override { return false; }
  void tray_delete() override {}
  // Every error prints, the same one too: each is a new event. A hint under
  // the message is a line of its own after the Error line.
  void show_error(const std::string& text) override;

 private:
  void write_line(std::FILE* stream, const std::string& line);

  std::FILE* out_;
  std::FILE* err_;
  std::map<Control, std::string> shown_;  // each control's last line
  std::optional<std::vector<std::string>> shown_list_;
};

}  // namespace tarvion
