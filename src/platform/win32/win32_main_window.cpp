// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include "platform/win32/win32_main_window.h"

#include <commctrl.h>

#include <map>
#include <optional>

#include "platform/win32/win32_controls.h"
#include "platform/win32/win32_main_window_ids.h"
#include "platform/win32/win32_main_window_tray.h"
#include "platform/win32/win32_pictures.h"

namespace tarvion {

namespace {

using form1::ControlKind;
using form1::ControlSpec;

// Entries of newer Windows versions, looked up so the program still starts
// on older ones (and on Wine versions without them).
template <typename Function>
Function user32_entry(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  return user32 ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
                : nullptr;
}

void become_dpi_aware() {
  using SetContext = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
  static const bool done = [] {
    if (auto set = user32_entry<SetContext>("SetProcessDpiAwarenessContext")) {
      if (set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) return true;
      if (set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE)) return true;
    }
    // Older systems: the system scales the window as a bitmap, which still works.
    return false;
  }();
  (void)done;
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

HINSTANCE instance() {
  return GetModuleHandleW(nullptr);
}

}  // namespace

struct Win32MainWindow::Impl {
  explicit Impl(std::string title_text) : title(std::move(title_text)) {}

  std::string title;
  WindowHandlers handlers;
  HWND hwnd = nullptr;
  HWND panel = nullptr;
  std::map<std::string, HWND> controls;  // by name
  std::map<HWND, const ControlSpec*> specs;
  std::optional<form1::FontSet> fonts;
  HBRUSH background = CreateSolidBrush(form1::kSkyBlue);
  HICON big_icon = nullptr;
  HICON small_icon = nullptr;
  std::optional<TrayIcon> tray;
  UINT taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");
  HWND focus = nullptr;         // the control that had the focus when Form1 lost it
  bool quiet_trackbar = false;  // the program is moving TrackBar1
  bool closed = false;

  ~Impl() {
    DeleteObject(background);
    if (big_icon) DestroyIcon(big_icon);
    if (small_icon) DestroyIcon(small_icon);
  }

  HWND control(const char* name) const {
    auto it = controls.find(name);
    return it == controls.end() ? nullptr : it->second;
  }

  static void register_classes();
  void create();
  void create_controls();
  void apply_fonts_and_layout();
  void place(HWND child);
  void close();
  LRESULT colour(HDC dc, HWND child);
  LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK form_proc(HWND, UINT, WPARAM, LPARAM);
  static LRESULT CALLBACK panel_proc(HWND, UINT, WPARAM, LPARAM);
};

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

void Win32MainWindow::Impl::create() {
  become_dpi_aware();
  register_classes();
  SIZE size = window_size(96);
  hwnd = CreateWindowExW(form1::kExStyle, form1::kWindowClass, form1::kCaption, form1::kStyle,
                         form1::kLeft, form1::kTop, size.cx, size.cy, nullptr, nullptr, instance(),
                         this);
  if (!hwnd) return;
  UINT dpi = window_dpi(hwnd);
  fit_client(hwnd, dpi);
  fonts.emplace(dpi);
  big_icon = create_window_icon(32);
  small_icon = create_window_icon(16);
  SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon));
  SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon));
  tray.emplace(hwnd, big_icon, title);
  // An elevated program would not hear from a restarted taskbar otherwise.
  ChangeWindowMessageFilterEx(hwnd, taskbar_created, MSGFLT_ALLOW, nullptr);
  create_controls();
  apply_fonts_and_layout();
}

void Win32MainWindow::Impl::create_controls() {
  for (const ControlSpec& spec : form1::controls()) {
    const wchar_t* window_class = WC_STATICW;
    DWORD style = WS_CHILD | WS_VISIBLE;
    DWORD ex_style = 0;
    switch (spec.kind) {
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
    HWND parent = spec.in_panel ? panel : hwnd;
    HWND child =
        CreateWindowExW(ex_style, window_class, spec.text, style, 0, 0, 0, 0, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(form1::control_id(spec.name))),
                        instance(), nullptr);
    if (!child) continue;
    controls[spec.name] = child;
    specs[child] = &spec;
    if (spec.kind == ControlKind::Panel) {
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
  for (auto& [child, spec] : specs) {
    if (spec->kind != ControlKind::Panel)
      SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(fonts->get(spec->font)), FALSE);
  }
  UINT dpi = fonts->dpi();
  if (HWND bar = control("TrackBar1"))
    SendMessageW(bar, TBM_SETTHUMBLENGTH, static_cast<WPARAM>(form1::scaled(15, dpi)), 0);
  if (HWND list = control("ListBox1"))
    SendMessageW(list, LB_SETITEMHEIGHT, 0, form1::scaled(13, dpi));
  for (auto& [child, spec] : specs) place(child);
  InvalidateRect(hwnd, nullptr, TRUE);
}

void Win32MainWindow::Impl::place(HWND child) {
  const ControlSpec& spec = *specs.at(child);
  UINT dpi = fonts->dpi();
  int width = form1::scaled(spec.width, dpi), height = form1::scaled(spec.height, dpi);
  if (spec.kind == ControlKind::Label) {
    // Labels size themselves to their text.
    int length = GetWindowTextLengthW(child);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(child, text.data(), length + 1)));
    SIZE size = form1::text_size(child, fonts->get(spec.font), text);
    width = size.cx;
    height = size.cy;
  }
  SetWindowPos(child, nullptr, form1::scaled(spec.left, dpi), form1::scaled(spec.top, dpi), width,
               height, SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(child, nullptr, TRUE);
}

void Win32MainWindow::Impl::close() {
  if (closed) return;
  closed = true;  // first: FormClose may pump messages, and a second close must not run it again
  if (handlers.FormClose) handlers.FormClose();
  if (hwnd) DestroyWindow(hwnd);
  // Ends the message loop, and a modal one (an error box) on the way.
  PostQuitMessage(0);
}

LRESULT Win32MainWindow::Impl::colour(HDC dc, HWND child) {
  auto it = specs.find(child);
  COLORREF text = GetSysColor(COLOR_WINDOWTEXT);
  if (it != specs.end() && it->second->colour != form1::kWindowText) text = it->second->colour;
  SetTextColor(dc, text);
  SetBkColor(dc, form1::kSkyBlue);
  return reinterpret_cast<LRESULT>(background);
}

LRESULT CALLBACK Win32MainWindow::Impl::panel_proc(HWND hwnd, UINT message, WPARAM wparam,
                                                   LPARAM lparam) {
  auto* self = reinterpret_cast<Impl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self) {
    switch (message) {
      case WM_ERASEBKGND: {
        RECT area;
        GetClientRect(hwnd, &area);
        FillRect(reinterpret_cast<HDC>(wparam), &area, self->background);
        return 1;
      }
      case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd, &paint);
        RECT area;
        GetClientRect(hwnd, &area);
        DrawEdge(dc, &area, BDR_RAISEDINNER, BF_RECT);  // a raised panel, one pixel
        EndPaint(hwnd, &paint);
        return 0;
      }
      case WM_CTLCOLORSTATIC:
        return self->colour(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
      case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
        draw_about_picture(item->hDC, item->rcItem, form1::kSkyBlue);
        return TRUE;
      }
    }
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

LRESULT CALLBACK Win32MainWindow::Impl::form_proc(HWND hwnd, UINT message, WPARAM wparam,
                                                  LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Impl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self || !self->hwnd) return DefWindowProcW(hwnd, message, wparam, lparam);
  return self->handle(message, wparam, lparam);
}

LRESULT Win32MainWindow::Impl::handle(UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == form1::kTrayMessage) {
    // From the icon or from anyone else: the logic decides what a click does.
    if (handlers.TrayIconMessage) handlers.TrayIconMessage(LOWORD(lparam));
    return 0;
  }
  if (message == taskbar_created && taskbar_created != 0) {
    if (tray) tray->taskbar_created();
    return 0;
  }
  switch (message) {
    case WM_ERASEBKGND: {
      RECT area;
      GetClientRect(hwnd, &area);
      FillRect(reinterpret_cast<HDC>(wparam), &area, background);
      return 1;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return colour(reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
    case WM_COMMAND:
      if (HIWORD(wparam) == BN_CLICKED && reinterpret_cast<HWND>(lparam) == control("Button1") &&
          lparam != 0) {
        if (handlers.Button1Click) handlers.Button1Click();
      }
      return 0;
    case WM_HSCROLL: {
      HWND bar = control("TrackBar1");
      // Every notification counts, also one that leaves the position as it was.
      if (bar && reinterpret_cast<HWND>(lparam) == bar && !quiet_trackbar &&
          handlers.TrackBar1Change)
        handlers.TrackBar1Change(static_cast<int>(SendMessageW(bar, TBM_GETPOS, 0, 0)));
      return 0;
    }
    case WM_ACTIVATE:
      // As a dialog does: the focus goes back to where it was.
      if (LOWORD(wparam) == WA_INACTIVE) {
        HWND now = GetFocus();
        if (now && IsChild(hwnd, now)) focus = now;
      } else {
        HWND target = focus && IsWindow(focus) ? focus : control("ListBox1");
        if (target) SetFocus(target);
      }
      return 0;
    case WM_DPICHANGED: {
      UINT dpi = HIWORD(wparam);
      if (dpi == 0) return 0;
      fonts.emplace(dpi);
      apply_fonts_and_layout();
      // The system's suggestion keeps the window under the mouse while it is
      // dragged across; the size is then made exact.
      const auto* suggested = reinterpret_cast<const RECT*>(lparam);
      SetWindowPos(hwnd, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      fit_client(hwnd, dpi);
      return 0;
    }
    case WM_CLOSE:
      close();
      return 0;
    case WM_DESTROY:
      // No dead icon in the notification area once the window is gone.
      if (tray) tray->remove();
      return 0;
    case WM_NCDESTROY: {
      HWND gone = hwnd;
      hwnd = nullptr;
      panel = nullptr;
      controls.clear();
      specs.clear();
      return DefWindowProcW(gone, message, wparam, lparam);
    }
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

Win32MainWindow::Win32MainWindow(std::string title) : impl_(std::make_unique<Impl>(title)) {
  impl_->create();
}

Win32MainWindow::~Win32MainWindow() {
  if (impl_->hwnd) DestroyWindow(impl_->hwnd);
}

void Win32MainWindow::set_handlers(WindowHandlers handlers) {
  impl_->handlers = std::move(handlers);
}

void Win32MainWindow::set_text(const std::string& control, const std::string& text) {
  if (control.starts_with("Label")) {
    if (HWND label = impl_->control(control.c_str())) {
      SetWindowTextW(label, form1::widen(text).c_str());
      impl_->place(label);
    }
  }
}

void Win32MainWindow::set_device_list(const std::vector<std::string>& lines) {
  HWND list = impl_->control("ListBox1");
  if (!list) return;
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  SendMessageW(list, LB_RESETCONTENT, 0, 0);
  for (const std::string& line : lines)
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(form1::widen(line).c_str()));
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
}

void Win32MainWindow::set_trackbar_position(int position) {
  HWND bar = impl_->control("TrackBar1");
  if (!bar) return;
  // The logic runs the change handler itself when it means to.
  impl_->quiet_trackbar = true;
  SendMessageW(bar, TBM_SETPOS, TRUE, position);
  impl_->quiet_trackbar = false;
}

void Win32MainWindow::hide() {
  if (impl_->hwnd) ShowWindow(impl_->hwnd, SW_HIDE);
}

void Win32MainWindow::show() {
  if (!impl_->hwnd) return;
  ShowWindow(impl_->hwnd, SW_SHOW);
  SetForegroundWindow(impl_->hwnd);
}

bool Win32MainWindow::tray_add() {
  return impl_->tray && impl_->tray->add();
}

void Win32MainWindow::tray_delete() {
  if (impl_->tray) impl_->tray->remove();
}

void Win32MainWindow::show_error(const std::string& text) {
  // A modal loop: queued calls (timer ticks, panel input) go on running in it.
  HWND owner = impl_->hwnd && IsWindowVisible(impl_->hwnd) ? impl_->hwnd : nullptr;
  MessageBoxW(owner, form1::widen(text).c_str(), form1::widen(impl_->title).c_str(),
              MB_OK | MB_ICONERROR);
}

void Win32MainWindow::close() {
  impl_->close();
}

bool Win32MainWindow::closed() const {
  return impl_->closed;
}

bool Win32MainWindow::pre_translate(MSG& message) {
  HWND hwnd = impl_->hwnd;
  if (!hwnd || (message.hwnd != hwnd && !IsChild(hwnd, message.hwnd))) return false;
  return IsDialogMessageW(hwnd, &message) != FALSE;
}

HWND Win32MainWindow::hwnd() const {
  return impl_->hwnd;
}

}  // namespace tarvion
