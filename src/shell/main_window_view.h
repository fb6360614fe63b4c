// The main window seam: what the logic shows (labels, the device list, the
// track bar, errors) and the window's visibility and notification icon.
// Drawing is the view's; the handlers are Program's (main_window.cpp).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tarvion {

// The window's controls whose text the logic writes.
enum class Control { Label2, Label7, Label9, Label12, Label16 };

// The control's name: the window's own name for it and the start of its
// console line ("Label9: Online"), which other programs read.
constexpr const char* control_name(Control control) {
  switch (control) {
    case Control::Label2:
      return "Label2";
    case Control::Label7:
      return "Label7";
    case Control::Label9:
      return "Label9";
    case Control::Label12:
      return "Label12";
    case Control::Label16:
      return "Label16";
  }
  return "";
}

// Every control, for the views and tests that go through them all.
inline constexpr Control kControls[] = {Control::Label2, Control::Label7, Control::Label9,
                                        Control::Label12, Control::Label16};

class MainWindowView {
 public:
  virtual ~MainWindowView() = default;
  virtual void set_text(Control control, const std::string& text) = 0;
  // ListBox1, rebuilt whole: one line per recognised panel, then one per panel
  // the system does not let the program open ("<node> - no access").
  virtual void set_device_list(const std::vector<std::string>& lines) = 0;
  // Moves TrackBar1 without firing its change handler.
  virtual void set_trackbar_position(int position) = 0;
  virtual void hide() = 0;
  virtual void show() = 0;
  // Adds the notification-area icon (a second add adds no second icon).
  // False when the desktop has no notification area.
  virtual bool tray_add() = 0;
  virtual void tray_delete() = 0;
  // The error box: text is the error's message with its full stop, and when
  // the error carries a hint, a line break and the hint below it.
  virtual void show_error(const std::string& text) = 0;
};

// The program's handlers of the window's own events, all run on the main thread.
struct WindowHandlers {
  std::function<void()> Button1Click;
  std::function<void(int position)> TrackBar1Change;
  std::function<void(int mouse_message)> TrayIconMessage;  // kTrayLeftButtonDown, ...
  std::function<void()> FormClose;
};

// The tray icon's mouse messages that the window reacts to.
constexpr int kTrayLeftButtonDown = 0x201;
constexpr int kTrayRightButtonDown = 0x204;

}  // namespace tarvion
