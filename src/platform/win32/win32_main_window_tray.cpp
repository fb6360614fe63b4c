// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include "platform/win32/win32_main_window_tray.h"

#include <iterator>

#include "platform/win32/win32_controls.h"
#include "platform/win32/win32_main_window_ids.h"
#include "shell/view_text.h"

namespace tarvion {

NOTIFYICONDATAW tray_record(HWND window, HICON icon, const std::string& title) {
  NOTIFYICONDATAW record{};
  record.cbSize = sizeof(record);
  record.hWnd = window;
  record.uID = form1::kTrayIconId;
  record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  record.uCallbackMessage = form1::kTrayMessage;
  record.hIcon = icon;
  std::wstring tip = form1::widen(tray_tip(title));
  std::size_t room = std::size(record.szTip) - 1;
  if (tip.size() > room) {
    tip.resize(room);
    // Half of a surrogate pair would show as a box.
    if (IS_HIGH_SURROGATE(tip.back())) tip.pop_back();
  }
  tip.copy(record.szTip, tip.size());
  record.szTip[tip.size()] = L'\0';
  return record;
}

TrayIcon::TrayIcon(HWND window, HICON icon, const std::string& title)
    : record_(tray_record(window, icon, title)) {}

TrayIcon::~TrayIcon() {
  remove();
}

bool TrayIcon::add() {
  if (!present_) present_ = Shell_NotifyIconW(NIM_ADD, &record_) != FALSE;
  return present_;
}

void TrayIcon::remove() {
  if (!present_) return;
  Shell_NotifyIconW(NIM_DELETE, &record_);
  present_ = false;
}

void TrayIcon::taskbar_created() {
  if (!present_) return;
  // The old icon went with the old taskbar; add it to the new one.
  present_ = Shell_NotifyIconW(NIM_ADD, &record_) != FALSE;
}

}  // namespace tarvion
