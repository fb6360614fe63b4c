// The text form of what the window shows, one line per change: the console
// view prints it and the recording view keeps it. Stable: other programs read it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "shell/main_window_view.h"

namespace tarvion {

// How much of one text a line shows. Texts come from outside (configuration
// values, USB product strings, received data): each is escaped and cut (see
// shown_text), so no line can drive a terminal or break in two.
inline constexpr std::size_t kMaxLineText = 200;

// "Label9: Online"
std::string label_line(Control control, const std::string& text);
// The same for any of the window's labels, by its name (the window tests' driver).
std::string label_line(const std::string& control, const std::string& text);
// One "ListBox1: <item>" per item, or "ListBox1:" alone when the list is empty.
std::vector<std::string> device_list_lines(const std::vector<std::string>& items);
// "Error: File not found." (text already carries its full stop)
std::string error_line(const std::string& text);
// The notification icon's tip: the title cut, on a character boundary, to what
// its 64-byte field holds with the terminating zero.
std::string tray_tip(const std::string& title);

}  // namespace tarvion
