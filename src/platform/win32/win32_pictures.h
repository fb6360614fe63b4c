// The program's own pictures on Windows, drawn at run time with GDI: the
// window and tray icon and the about box's panel picture. No image files.
#pragma once

// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include <windows.h>

#include <cstdint>
#include <span>
#include <vector>

namespace tarvion {

// The sizes of the icon file (Explorer, the taskbar, shortcuts: 16 to 256 px).
inline constexpr int kIconFileSizes[] = {16, 20, 24, 32, 40, 48, 64, 256};

// The window icon's picture, size x size pixels, top row first, each
// 0xAARRGGBB with straight alpha: a radio panel face with two displays and a
// knob on a transparent surround.
std::vector<uint32_t> window_icon_pixels(int size);

// That picture as an HICON; the caller destroys it (DestroyIcon).
HICON create_window_icon(int size);

// An .ico file of the picture at each size, every image a 32-bit bitmap
// with its mask: what packaging/windows/tarvion.ico holds.
std::vector<uint8_t> window_icon_file(std::span<const int> sizes);

// A panel face showing an active and a standby COM frequency, filling area
// on background.
void draw_about_picture(HDC dc, const RECT& area, COLORREF background);

}  // namespace tarvion
