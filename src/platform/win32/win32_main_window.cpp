// clang-format off
#include "platform/win32/win32_only.h"  // first: this file is Windows-only
// clang-format on

#include "platform/win32/win32_main_window.h"

#include <commctrl.h>

#include "platform/win32/win32_error_text.h"
#include "platform/win32/win32_main_window_ids.h"
#include "platform/win32/win32_main_window_impl.h"
#include "platform/win32/win32_pictures.h"

namespace tarvion {

void Win32MainWindow::Impl::close() {
  if (closed) return;
  closed = true;  // first: FormClose may pump messages, and a second close must not run it again
  if (handlers.FormClose) handlers.FormClose();
  if (hwnd) DestroyWindow(hwnd);
  // Ends the message loop, and a modal one (an error box) on the way.
  PostQuitMessage(0);
}

void Win32MainWindow::Impl::show() {
  if (!hwnd) return;
  ShowWindow(hwnd, SW_SHOW);
  SetForegroundWindow(hwnd);
}

LRESULT Win32MainWindow::Impl::colour(HDC dc, HWND child) {
  auto it = entries.find(child);
  COLORREF text = GetSysColor(COLOR_WINDOWTEXT);
  if (it != entries.end() && it->second->colour != form1::kWindowText) text = it->second->colour;
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
    // Hidden and without its icon the window could not be got back: it shows,
    // as when the Tray button finds no notification area.
    if (tray && !tray->taskbar_created()) show();
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
      // Drawn anew at the new size rather than scaled by the system.
      make_icons(dpi);
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
    case WM_QUERYENDSESSION:
      return TRUE;  // Tarvion never holds a logoff or shutdown up
    case WM_ENDSESSION:
      // The same close as the close button, before answering: once this is
      // answered the process may be ended at any moment.
      if (wparam) close();
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
      entries.clear();
      return DefWindowProcW(gone, message, wparam, lparam);
    }
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

Win32MainWindow::Win32MainWindow(std::string title, ShellNotify notify)
    : impl_(std::make_unique<Impl>(std::move(title), std::move(notify))) {
  impl_->create();
}

Win32MainWindow::~Win32MainWindow() {
  if (impl_->hwnd) DestroyWindow(impl_->hwnd);
}

void Win32MainWindow::set_handlers(WindowHandlers handlers) {
  impl_->handlers = std::move(handlers);
}

void Win32MainWindow::set_text(Control control, const std::string& text) {
  if (HWND label = impl_->control(control_name(control))) {
    SetWindowTextW(label, form1::widen(text).c_str());
    impl_->place(label);
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
  impl_->show();
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
  show_error_box(owner, impl_->title, text);
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
