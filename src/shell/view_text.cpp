#include "shell/view_text.h"

#include "base/shown_text.h"

namespace tarvion {

std::string label_line(const std::string& control, const std::string& text) {
  return control + ": " + shown_text(text, kMaxLineText);
}

std::string label_line(Control control, const std::string& text) {
  return label_line(std::string(control_name(control)), text);
}

std::vector<std::string> device_list_lines(const std::vector<std::string>& items) {
  if (items.empty()) return {"ListBox1:"};
  std::vector<std::string> lines;
  for (const std::string& item : items)
    lines.push_back("ListBox1: " + shown_text(item, kMaxLineText));
  return lines;
}

std::string error_line(const std::string& text) {
  return "Error: " + shown_text(text, kMaxLineText);
}

std::string tray_tip(const std::string& title) {
  constexpr std::size_t kTipBytes = 63;
  return std::string(utf8_prefix(title, kTipBytes));
}

}  // namespace tarvion
