#include "platform/virtual/recording_view.h"

#include "shell/view_text.h"

namespace tarvion {

void RecordingView::record(const std::string& line) {
  lines.push_back(line);
  if (on_line) on_line(line);
}

void RecordingView::set_text(Control control, const std::string& text) {
  texts[control] = text;
  record(label_line(control, text));
}

void RecordingView::set_device_list(const std::vector<std::string>& items) {
  device_list = items;
  for (const std::string& line : device_list_lines(items)) record(line);
}

void RecordingView::set_trackbar_position(int position) {
  trackbar_position = position;
  record("TrackBar1: " + std::to_string(position));
}

void RecordingView::hide() {
  visible = false;
  record("Window: hidden");
}

void RecordingView::show() {
  visible = true;
  record("Window: shown");
}

bool RecordingView::tray_add() {
  if (!tray_available) return false;
  ++tray_adds;
  if (!tray_icon) record("Tray: added");
  tray_icon = true;
  return true;
}

void RecordingView::tray_delete() {
  tray_icon = false;
  record("Tray: removed");
}

void RecordingView::show_error(const std::string& text) {
  errors.push_back(text);
  record(error_line(text));
}

std::string RecordingView::text(Control control) const {
  auto it = texts.find(control);
  return it == texts.end() ? std::string() : it->second;
}

}  // namespace tarvion
