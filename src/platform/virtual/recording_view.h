// A main window that records what the logic shows, as the lines the console
// view prints ("Label9: Online", "ListBox1: PANEL - Device = 12").
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "shell/main_window_view.h"

namespace tarvion {

class RecordingView : public MainWindowView {
 public:
  void set_text(Control control, const std::string& text) override;
  void set_device_list(const std::vector<std::string>& lines) override;
  void set_trackbar_position(int position) override;
  void hide() override;
  void show() override;
  bool tray_add() override;
  void tray_delete() override;
  void show_error(const std::string& text) override;

  // Every call as a line, in order ("Error: File not found." for errors,
  // "Window: hidden", "Tray: added", "TrackBar1: 60" for the rest).
  std::vector<std::string> lines;
  std::map<Control, std::string> texts;
  std::vector<std::string> device_list;
  std::vector<std::string> errors;
  int trackbar_position = 121;
  bool visible = true;
  bool tray_icon = false;
  int tray_adds = 0;
  bool tray_available = true;
  std::function<void(const std::string&)> on_line;  // e.g. print as it happens

  std::string text(Control control) const;

 private:
  void record(const std::string& line);
};

}  // namespace tarvion
