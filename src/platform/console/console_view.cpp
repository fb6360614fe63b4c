#include "platform/console/console_view.h"

#include "shell/view_text.h"

namespace tarvion {

void ConsoleView::write_line(std::FILE* stream, const std::string& line) {
  // The line comes from view_text, which escapes every control byte of the
  // texts in it: one line per change, and nothing that could drive a terminal.
  std::string out = line + '\n';
  std::fwrite(out.data(), 1, out.size(), stream);
  std::fflush(stream);
}

void ConsoleView::set_text(Control control, const std::string& text) {
  write_line(out_, label_line(control, text));
}

void ConsoleView::set_device_list(const std::vector<std::string>& lines) {
  for (const std::string& line : device_list_lines(lines)) write_line(out_, line);
}

void ConsoleView::show_error(const std::string& text) {
  write_line(err_, error_line(text));
}

}  // namespace tarvion
