// The main window's own handlers: the Tray button, the notification icon,
// the brightness track bar and the window being shown.
#include <string>

#include "radio/display.h"
#include "shell/program.h"

namespace tarvion {

void Program::Button1Click() {
  // Without a notification area the window stays shown: hiding it would leave
  // no way back.
  if (seams_.view.tray_add()) seams_.view.hide();
}

void Program::TrayIconMessage(int mouse_message) {
  if (mouse_message != kTrayLeftButtonDown) return;  // right click and others: nothing
  seams_.view.show();
  FormShow();
  seams_.view.tray_delete();
}

void Program::FormShow() {
  // Moving the track bar fires its change handler only when the position changes.
  if (trackbar_position_ == radio.brightness) return;
  trackbar_position_ = radio.brightness;
  seams_.view.set_trackbar_position(trackbar_position_);
  TrackBar1Change(trackbar_position_);
}

void Program::TrackBar1Change(int position) {
  if (position < 1) position = 1;
  if (position > 121) position = 121;
  trackbar_position_ = position;
  radio.brightness = position;
  if (flags.panels_ready) {
    RadioContext ctx = radio_context();
    push_brightness(ctx);
  }
  seams_.view.set_text(Control::Label12, std::to_string(position));
}

}  // namespace tarvion
