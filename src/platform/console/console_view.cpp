#include "platform/console/console_view.h"

#include <utility>

#include "base/shown_text.h"
#include "shell/view_text.h"

namespace tarvion {

namespace {

// A hint may name paths, which are longer than a label's text ever is.
constexpr std::size_t kMaxHintText = 1024;

}  // namespace

void ConsoleView::write_line(std::FILE* stream, const std::string& line) {
  // The line comes from view_text, which escapes every control byte of the
  // texts in it: one line per change, and nothing that could drive a terminal.
  std::string out = line + '\n';
  std::fwrite(out.data(), 1, out.size(), stream);
  std::fflush(stream);
}

void ConsoleView::set_text(Control control, const std::string& text) {
  // The line is compared, not the text: two texts that differ only past the
  // cut would print the same line twice.
  std::string line = label_line(control, text);
  auto shown = shown_.find(control);
  if (shown != shown_.end() && shown->second == line) return;
  write_line(out_, line);
  shown_[control] = std::move(line);
}

void ConsoleView::set_device_list(const std::vector<std::string>& lines) {
  std::vector<std::string> list = device_list_lines(lines);
  if (shown_list_ == list) return;
  for (const std::string& line : list) write_line(out_, line);
  shown_list_ = std::move(list);
}

void ConsoleView::show_error(const std::string& text) {
  const std::size_t cut = text.find('\n');
  write_line(err_, error_line(text.substr(0, cut)));
  if (cut != std::string::npos) write_line(err_, shown_text(text.substr(cut + 1), kMaxHintText));
}

}  // namespace tarvion
