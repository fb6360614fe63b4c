// The program's own pictures on Windows, drawn at run time with GDI: the
// window and tray icon and the about box's panel picture. No image files.
#pragma once

// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include <windows.h>

namespace tarvion {

// size x size with a transparent surround: a radio panel face with two
// displays and a knob. The caller destroys it (DestroyIcon).
HICON create_window_icon(int size);

// A panel face showing an active and a standby COM frequency, filling area
// on background.
void draw_about_picture(HDC dc, const RECT& area, COLORREF background);

}  // namespace tarvion
