// What Form1 is made of, as data: each control's kind, place (96-dpi pixels),
// text, font and colour; the fonts at one DPI; UTF-8 to UTF-16 for the W API.
#pragma once

// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include <windows.h>

#include <map>
#include <span>
#include <string>
#include <string_view>

namespace tarvion::form1 {

inline constexpr COLORREF kSkyBlue = RGB(166, 202, 240);
inline constexpr COLORREF kNavy = RGB(0, 0, 128);
inline constexpr COLORREF kRed = RGB(255, 0, 0);
inline constexpr COLORREF kBlack = RGB(0, 0, 0);
// Stands for the system's window-text colour, which a theme may change.
inline constexpr COLORREF kWindowText = CLR_INVALID;

// The client area at 96 dpi.
inline constexpr int kClientWidth = 433;
inline constexpr int kClientHeight = 241;
inline constexpr int kLeft = 373;
inline constexpr int kTop = 223;
inline constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
inline constexpr DWORD kExStyle = WS_EX_CONTROLPARENT;

enum class ControlKind { Panel, Picture, Label, Bevel, ListBox, TrackBar, Button };

struct FontLook {
  int pixels = 11;  // character height at 96 dpi
  bool bold = false;
  bool underline = false;
  auto operator<=>(const FontLook&) const = default;
};

struct ControlEntry {
  const char* name;
  ControlKind kind;
  bool in_panel;  // a child of Panel1, placed in its client area
  int left, top, width, height;
  const wchar_t* text;
  FontLook font;
  COLORREF colour;  // a label's text colour
};

// In creation order, which is also the tab order (Panel1, ListBox1, Button1).
std::span<const ControlEntry> controls();

// A length in 96-dpi pixels at dpi.
inline int scaled(int pixels, UINT dpi) {
  return MulDiv(pixels, static_cast<int>(dpi), 96);
}

// UTF-8 text to UTF-16; an incomplete sequence at the end is dropped rather
// than shown as a replacement character (texts cut to a byte length).
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view text);

// The face of Form1's fonts at dpi: MS Sans Serif, a bitmap font that looks
// right only at its own 96 dpi; above that its TrueType twin with the same
// metrics, which scales cleanly.
const wchar_t* font_face(UINT dpi);

// The fonts of one DPI, each made on first use and freed with the set.
class FontSet {
 public:
  explicit FontSet(UINT dpi) : dpi_(dpi) {}
  ~FontSet();
  FontSet(const FontSet&) = delete;
  FontSet& operator=(const FontSet&) = delete;

  HFONT get(FontLook look);
  UINT dpi() const { return dpi_; }

 private:
  UINT dpi_;
  std::map<FontLook, HFONT> fonts_;
};

// What a label takes up with its text in its font: text width by line height.
SIZE text_size(HWND label, HFONT font, const std::wstring& text);

}  // namespace tarvion::form1
