// How Form1 can be found and addressed from outside: its window class, the
// tray icon's message and the child-window id of every named control.
#pragma once

// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include <windows.h>

#include <string_view>

namespace tarvion::form1 {

inline constexpr wchar_t kWindowClass[] = L"TarvionForm1";
inline constexpr wchar_t kPanelClass[] = L"TarvionPanel";
inline constexpr wchar_t kCaption[] = L"Tarvion";

// The notification icon: its id and the message it sends with the mouse
// message in lParam.
inline constexpr UINT kTrayIconId = 1;
inline constexpr UINT kTrayMessage = WM_USER + 1;  // 1025

struct ControlId {
  const char* name;
  int id;
};

// Ids start above IDOK/IDCANCEL, which IsDialogMessage sends for Enter and Esc.
inline constexpr ControlId kControlIds[] = {
    {"Panel1", 101},  {"Image2", 102},  {"Label3", 103},   {"Label4", 104},  {"Bevel1", 105},
    {"Label14", 106}, {"Label5", 107},  {"ListBox1", 108}, {"Label11", 109}, {"TrackBar1", 110},
    {"Label12", 111}, {"Label10", 112}, {"Label1", 113},   {"Label2", 114},  {"Label6", 115},
    {"Label7", 116},  {"Label8", 117},  {"Label9", 118},   {"Label13", 119}, {"Label15", 120},
    {"Label16", 121}, {"Button1", 122},
};

// 0 for a name Form1 does not have.
constexpr int control_id(std::string_view name) {
  for (const ControlId& c : kControlIds) {
    if (name == c.name) return c.id;
  }
  return 0;
}

}  // namespace tarvion::form1
