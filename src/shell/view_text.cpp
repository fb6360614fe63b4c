#include "shell/view_text.h"

namespace tarvion {

std::string label_line(const std::string& control, const std::string& text) {
  return control + ": " + text;
}

std::vector<std::string> device_list_lines(const std::vector<std::string>& items) {
  if (items.empty()) return {"ListBox1:"};
  std::vector<std::string> lines;
  for (const std::string& item : items) lines.push_back("ListBox1: " + item);
  return lines;
}

std::string error_line(const std::string& text) {
  return "Error: " + text;
}

std::string tray_tip(const std::string& title) {
  constexpr std::size_t kTipChars = 63;
  return title.size() > kTipChars ? title.substr(0, kTipChars) : title;
}

}  // namespace tarvion
