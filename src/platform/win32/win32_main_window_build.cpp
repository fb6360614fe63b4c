// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include "platform/win32/win32_main_window_impl.h"
// after windows.h, which it needs
#include <commctrl.h>

#include "platform/win32/win32_main_window_ids.h"
#include "platform/win32/win32_pictures.h"

namespace tarvion {

namespace {

using form1::ControlEntry;
using form1::ControlKind;

// Entries of newer Windows versions, looked up so the program still starts
// on older ones (and on Wine versions without them).
template <typename Function>
Function user32_entry(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  return user32 ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
                : nullptr;
}

UINT window_dpi(HWND hwnd) {
  using GetDpi = UINT(WINAPI*)(HWND);
  static const GetDpi get = user32_entry<GetDpi>("GetDpiForWindow");
  if (get && hwnd) {
    UINT dpi = get(hwnd);
    if (dpi) return dpi;
  }
  HDC screen = GetDC(nullptr);
  int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// The outer size of a window whose client area is 433 x 241 at 96 dpi.
SIZE window_size(UINT dpi) {
  using Adjust = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const Adjust adjust = user32_entry<Adjust>("AdjustWindowRectExForDpi");
  RECT r{0, 0, form1::scaled(form1::kClientWidth, dpi), form1::scaled(form1::kClientHeight, dpi)};
  if (!adjust || !adjust(&r, form1::kStyle, FALSE, form1::kExStyle, dpi))
    AdjustWindowRectEx(&r, form1::kStyle, FALSE, form1::kExStyle);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

HINSTANCE instance() {
  return GetModuleHandleW(nullptr);
}

}  // namespace

// Gives the window its client area of 433 x 241 at dpi. The frame is measured,
// not computed: it is what the system draws, whatever DPI it draws it for.
void fit_client(HWND hwnd, UINT dpi) {
  RECT outer, client;
  GetWindowRect(hwnd, &outer);
  GetClientRect(hwnd, &client);
  int width = outer.right - outer.left + form1::scaled(form1::kClientWidth, dpi) - client.right;
  int height = outer.bottom - outer.top + form1::scaled(form1::kClientHeight, dpi) - client.bottom;
  SetWindowPos(hwnd, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32MainWindow::Impl::register_classes() {
  static const bool registered = [] {
    WNDCLASSEXW form{};
    form.cbSize = sizeof(form);
    form.lpfnWndProc = form_proc;
    form.hInstance = instance();
    form.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    form.lpszClassName = form1::kWindowClass;
    WNDCLASSEXW panel = form;
    panel.lpfnWndProc = panel_proc;
    panel.lpszClassName = form1::kPanelClass;
    RegisterClassExW(&form);
    RegisterClassExW(&panel);
    INITCOMMONCONTROLSEX common{sizeof(common), ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&common);
    return true;
  }();
  (void)registered;
}

void Win32MainWindow::Impl::make_icons(UINT dpi) {
  using Metric = int(WINAPI*)(int, UINT);
  static const Metric metric = user32_entry<Metric>("GetSystemMetricsForDpi");
  auto side = [dpi](int index, int at_96) {
    int pixels = metric ? metric(index, dpi) : 0;
    return pixels > 0 ? pixels : form1::scaled(at_96, dpi);
  };
  HICON old_big = big_icon, old_small = small_icon;
  big_icon = create_window_icon(side(SM_CXICON, 32));
  small_icon = create_window_icon(side(SM_CXSMICON, 16));
  SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon));
  SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon));
  if (tray) tray->set_icon(big_icon);
  // Destroyed only once nothing shows them any more.
  if (old_big) DestroyIcon(old_big);
  if (old_small) DestroyIcon(old_small);
}

void Win32MainWindow::Impl::create() {
  // Per-monitor DPI awareness (V2) comes from the programs' manifest: set at
  // run time it would come after the hidden windows, which Windows does not
  // support. Without it the system scales the window as a bitmap.
  register_classes();
  SIZE size = window_size(96);
  hwnd = CreateWindowExW(form1::kExStyle, form1::kWindowClass, form1::kCaption, form1::kStyle,
                         form1::kLeft, form1::kTop, size.cx, size.cy, nullptr, nullptr, instance(),
                         this);
  if (!hwnd) return;
  UINT dpi = window_dpi(hwnd);
  fit_client(hwnd, dpi);
  fonts.emplace(dpi);
  make_icons(dpi);
  tray.emplace(hwnd, big_icon, title, notify);
  // An elevated program would not hear from a restarted taskbar otherwise.
  ChangeWindowMessageFilterEx(hwnd, taskbar_created, MSGFLT_ALLOW, nullptr);
  create_controls();
  apply_fonts_and_layout();
}

void Win32MainWindow::Impl::create_controls() {
  for (const ControlEntry& entry : form1::controls()) {
    const wchar_t* window_class = WC_STATICW;
    DWORD style = WS_CHILD | WS_VISIBLE;
    DWORD ex_style = 0;
    switch (entry.kind) {
      case ControlKind::Panel:
        window_class = form1::kPanelClass;
        ex_style = WS_EX_CONTROLPARENT;
        break;
      case ControlKind::Picture:
        style |= SS_OWNERDRAW;
        break;
      case ControlKind::Label:
        style |= SS_LEFTNOWORDWRAP | SS_NOPREFIX;
        break;
      case ControlKind::Bevel:
        style |= SS_ETCHEDHORZ;
        break;
      case ControlKind::ListBox:
        window_class = WC_LISTBOXW;
        style |= WS_TABSTOP | WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_HASSTRINGS;
        ex_style = WS_EX_CLIENTEDGE;
        break;
      case ControlKind::TrackBar:
        window_class = TRACKBAR_CLASSW;  // no WS_TABSTOP: the tab key passes it by
        style |= TBS_HORZ | TBS_BOTTOM | TBS_AUTOTICKS | TBS_FIXEDLENGTH;
        break;
      case ControlKind::Button:
        window_class = WC_BUTTONW;
        style |= WS_TABSTOP | BS_PUSHBUTTON;
        break;
    }
    HWND parent = entry.in_panel ? panel : hwnd;
    HWND child = CreateWindowExW(
        ex_style, window_class, entry.text, style, 0, 0, 0, 0, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(form1::control_id(entry.name))), instance(),
        nullptr);
    if (!child) continue;
    controls[entry.name] = child;
    entries[child] = &entry;
    if (entry.kind == ControlKind::Panel) {
      panel = child;
      SetWindowLongPtrW(panel, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
  }
  if (HWND bar = control("TrackBar1")) {
    SendMessageW(bar, TBM_SETRANGEMIN, FALSE, 1);
    SendMessageW(bar, TBM_SETRANGEMAX, FALSE, 121);
    SendMessageW(bar, TBM_SETTICFREQ, 10, 0);
    SendMessageW(bar, TBM_SETLINESIZE, 0, 1);
    SendMessageW(bar, TBM_SETPAGESIZE, 0, 2);
    SendMessageW(bar, TBM_SETPOS, TRUE, 121);
  }
}

// Fonts and places for the window's DPI: at creation and when it moves to a
// screen of another DPI.
void Win32MainWindow::Impl::apply_fonts_and_layout() {
  for (auto& [child, entry] : entries) {
    if (entry->kind != ControlKind::Panel)
      SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(fonts->get(entry->font)), FALSE);
  }
  UINT dpi = fonts->dpi();
  if (HWND bar = control("TrackBar1"))
    SendMessageW(bar, TBM_SETTHUMBLENGTH, static_cast<WPARAM>(form1::scaled(15, dpi)), 0);
  if (HWND list = control("ListBox1"))
    SendMessageW(list, LB_SETITEMHEIGHT, 0, form1::scaled(13, dpi));
  for (auto& [child, entry] : entries) place(child);
  InvalidateRect(hwnd, nullptr, TRUE);
}

void Win32MainWindow::Impl::place(HWND child) {
  const ControlEntry& entry = *entries.at(child);
  UINT dpi = fonts->dpi();
  int width = form1::scaled(entry.width, dpi), height = form1::scaled(entry.height, dpi);
  if (entry.kind == ControlKind::Label) {
    // Labels size themselves to their text.
    int length = GetWindowTextLengthW(child);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(child, text.data(), length + 1)));
    SIZE size = form1::text_size(child, fonts->get(entry.font), text);
    width = size.cx;
    height = size.cy;
  }
  SetWindowPos(child, nullptr, form1::scaled(entry.left, dpi), form1::scaled(entry.top, dpi), width,
               height, SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(child, nullptr, TRUE);
}

}  // namespace tarvion
