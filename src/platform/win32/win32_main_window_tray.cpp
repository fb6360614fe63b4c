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

ShellNotify system_shell_notify() {
  return [](DWORD message, NOTIFYICONDATAW& record) {
    return Shell_NotifyIconW(message, &record) != FALSE;
  };
}

TrayIcon::TrayIcon(HWND window, HICON icon, const std::string& title, ShellNotify notify)
    : record_(tray_record(window, icon, title)), notify_(std::move(notify)) {}

TrayIcon::~TrayIcon() {
  remove();
}

bool TrayIcon::add() {
  if (present_) return true;
  added_ = true;
  present_ = notify_(NIM_ADD, record_);
  return present_;
}

void TrayIcon::remove() {
  if (!added_) return;
  notify_(NIM_DELETE, record_);
  present_ = false;
  added_ = false;
}

void TrayIcon::set_icon(HICON icon) {
  record_.hIcon = icon;
  if (present_) notify_(NIM_MODIFY, record_);
}

bool TrayIcon::taskbar_created() {
  if (!present_) return true;
  // The old icon went with the old taskbar; add it to the new one.
  present_ = false;
  return add();
}

}  // namespace tarvion
