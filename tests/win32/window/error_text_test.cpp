// What the Windows programs say when something fails reaches the user whole:
// the system's messages in any language, and UTF-8 titles and texts in the
// error box (the start-up's fatal error and the window's errors).
#include <gtest/gtest.h>

#include <string>

#include "platform/win32/win32_error_text.h"

namespace tarvion {
namespace {

TEST(Win32ErrorText, TheSystemsMessageArrivesInUtf8) {
  // German whatever the system's own language: beyond ASCII, and in the ANSI
  // code page not UTF-8.
  EXPECT_EQ(win32_error_text(ERROR_INVALID_FUNCTION, MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)),
            "Ung\u00fcltige Funktion");
}

struct SeenBox {
  std::wstring title;
  std::wstring text;
};
SeenBox g_seen;
HHOOK g_hook = nullptr;

// Reads the box once it is made and closes it, as the user's OK would.
LRESULT CALLBACK after_message(int code, WPARAM wparam, LPARAM lparam) {
  const auto* sent = reinterpret_cast<const CWPRETSTRUCT*>(lparam);
  if (code == HC_ACTION && sent->message == WM_INITDIALOG) {
    wchar_t buffer[256] = {};
    GetWindowTextW(sent->hwnd, buffer, 256);
    g_seen.title = buffer;
    GetDlgItemTextW(sent->hwnd, 0xFFFF, buffer, 256);  // the box's text control
    g_seen.text = buffer;
    PostMessageW(sent->hwnd, WM_COMMAND, IDOK, 0);
  }
  return CallNextHookEx(g_hook, code, wparam, lparam);
}

TEST(Win32ErrorBox, ShowsTitleAndTextGivenInUtf8) {
  g_hook = SetWindowsHookExW(WH_CALLWNDPROCRET, after_message, nullptr, GetCurrentThreadId());
  ASSERT_NE(g_hook, nullptr);
  show_error_box(nullptr, "Tarvion \u2013 Z\u00fcrich",
                 "Kein Zugang zu \u201eCOM\u201c \u2192 \u03a9.");
  UnhookWindowsHookEx(g_hook);
  EXPECT_EQ(g_seen.title, L"Tarvion \u2013 Z\u00fcrich");
  EXPECT_EQ(g_seen.text, L"Kein Zugang zu \u201eCOM\u201c \u2192 \u03a9.");
}

}  // namespace
}  // namespace tarvion
