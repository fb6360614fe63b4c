// The program's own pictures, drawn at run time: the window and tray icon and
// the about box's panel picture. No image files, no third-party artwork.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace tarvion {

// 32 x 32: a radio panel face with two displays and a knob.
QPixmap draw_window_icon();
// w x h: a panel face showing an active and a standby COM frequency.
QPixmap draw_about_picture(int width, int height);

QIcon window_icon();

}  // namespace tarvion
