#include "platform/console/console_view.h"

#include "shell/view_text.h"

namespace tarvion {

void ConsoleView::write_line(std::FILE* stream, const std::string& line) {
  // A line break inside a text would break the one-line-per-change format that
  // readers rely on; received and configured texts are outside input.
  std::string clean = line;
  for (char& c : clean) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  clean += '\n';
  std::fwrite(clean.data(), 1, clean.size(), stream);
  std::fflush(stream);
}

void ConsoleView::set_text(const std::string& control, const std::string& text) {
  write_line(out_, label_line(control, text));
}

void ConsoleView::set_device_list(const std::vector<std::string>& lines) {
  for (const std::string& line : device_list_lines(lines)) write_line(out_, line);
}

void ConsoleView::show_error(const std::string& text) {
  write_line(err_, error_line(text));
}

}  // namespace tarvion
