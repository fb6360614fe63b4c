// tarvion-window-driver: works a running Tarvion's window from outside, as
// another program on the desktop can, and prints what it sees, one line each.
// The Wine + Xvfb end-to-end test runs it between its checks.
//
//   tarvion-window-driver COMMAND [ARG...] [COMMAND [ARG...]]...
//     labels                 every label, "Label9: Online"
//     list                   ListBox1's lines, "ListBox1: ..."
//     visible                "visible: yes" or "visible: no"
//     wait-visible yes|no    waits (15 s at most) for that, then prints visible
//     wait-label NAME TEXT   waits (15 s at most) for that text, then prints the label
//     click NAME             presses a button (BM_CLICK)
//     icon MOUSE             the notification icon's message with that mouse message
//     trackbar N             moves TrackBar1 to N as a drag does, then its end
//     pixel X Y              "pixel X Y: R G B", the screen at that client point
//     has-colour NAME R G B  "NAME shows R G B: yes" when the screen shows that colour
//                            (each part within 60) somewhere on the control, else "no"
//     shot FILE              the window as the screen shows it, as PNG
//     close                  the close button's WM_CLOSE; waits until the window is gone
//
//   tarvion-window-driver session-end CLASS
//     a logoff as Windows tells a top-level window of that class (Tarvion.exe's
//     TarvionForm1, the console program's TarvionSessionEnd): WM_QUERYENDSESSION,
//     "query: N" its answer, then WM_ENDSESSION, "ended" once it is answered
#include <windows.h>
// after windows.h, which it needs
#include <commctrl.h>
#include <fcntl.h>
#include <io.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/win32_controls.h"
#include "platform/win32/win32_main_window_ids.h"
#include "shell/view_text.h"
#include "window_driver_png.h"

namespace tarvion::window_driver {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

void say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

template <typename Done>
bool wait_for(Done done, std::chrono::milliseconds bound) {
  auto deadline = Clock::now() + bound;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

HWND child(HWND form, const std::string& name) {
  struct Search {
    int id;
    HWND found;
  } search{form1::control_id(name), nullptr};
  if (!search.id) return nullptr;
  EnumChildWindows(
      form,
      [](HWND hwnd, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        if (GetDlgCtrlID(hwnd) != s->id) return TRUE;
        s->found = hwnd;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Bounded, so a hung window fails the command instead of hanging the test.
LRESULT send(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(hwnd, message, wparam, lparam, SMTO_ABORTIFHUNG, 10000, &result);
  return static_cast<LRESULT>(result);
}

std::string text_of(HWND control) {
  wchar_t buffer[512] = {};
  send(control, WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer));
  return form1::narrow(buffer);
}

std::vector<std::string> list_items(HWND list) {
  std::vector<std::string> items;
  auto count = send(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    wchar_t buffer[512] = {};
    // The W message: Wine copies its text across processes only for it.
    if (send(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0) >= 512) continue;
    send(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer));
    items.push_back(form1::narrow(buffer));
  }
  return items;
}

// The screen's pixels under rect, RGB rows top down.
std::vector<uint8_t> grab(const RECT& rect) {
  int width = rect.right - rect.left, height = rect.bottom - rect.top;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  std::vector<uint8_t> rgb;
  if (bitmap && bits) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    const auto* pixel = static_cast<const uint32_t*>(bits);
    for (int i = 0; i < width * height; ++i) {
      rgb.push_back(static_cast<uint8_t>(pixel[i] >> 16));
      rgb.push_back(static_cast<uint8_t>(pixel[i] >> 8));
      rgb.push_back(static_cast<uint8_t>(pixel[i]));
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return rgb;
}

int run(HWND form, const std::vector<std::string>& args) {
  auto visible = [&] { return IsWindowVisible(form) ? "yes" : "no"; };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& command = args[i];
    auto arg = [&](std::size_t n) { return i + n < args.size() ? args[i + n] : std::string(); };
    if (command == "labels") {
      for (const form1::ControlId& c : form1::kControlIds) {
        if (std::string(c.name).starts_with("Label"))
          say(label_line(c.name, text_of(child(form, c.name))));
      }
    } else if (command == "list") {
      for (const std::string& line : device_list_lines(list_items(child(form, "ListBox1"))))
        say(line);
    } else if (command == "visible") {
      say(std::string("visible: ") + visible());
    } else if (command == "wait-visible") {
      wait_for([&] { return arg(1) == visible(); }, 15000ms);
      say(std::string("visible: ") + visible());
      i += 1;
    } else if (command == "wait-label") {
      HWND label = child(form, arg(1));
      wait_for([&] { return text_of(label) == arg(2); }, 15000ms);
      say(label_line(arg(1), text_of(label)));
      i += 2;
    } else if (command == "click") {
      send(child(form, arg(1)), BM_CLICK, 0, 0);
      say("clicked " + arg(1));
      i += 1;
    } else if (command == "icon") {
      send(form, form1::kTrayMessage, form1::kTrayIconId, std::atoi(arg(1).c_str()));
      say("icon " + arg(1));
      i += 1;
    } else if (command == "trackbar") {
      HWND bar = child(form, "TrackBar1");
      int position = std::atoi(arg(1).c_str());
      send(bar, TBM_SETPOS, TRUE, position);
      auto bar_handle = reinterpret_cast<LPARAM>(bar);
      send(form, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, position), bar_handle);
      send(form, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), bar_handle);
      say("TrackBar1: " + std::to_string(send(bar, TBM_GETPOS, 0, 0)));
      i += 1;
    } else if (command == "pixel") {
      POINT at{std::atoi(arg(1).c_str()), std::atoi(arg(2).c_str())};
      ClientToScreen(form, &at);
      std::vector<uint8_t> rgb = grab(RECT{at.x, at.y, at.x + 1, at.y + 1});
      if (rgb.size() != 3) return 1;
      say("pixel " + arg(1) + " " + arg(2) + ": " + std::to_string(rgb[0]) + " " +
          std::to_string(rgb[1]) + " " + std::to_string(rgb[2]));
      i += 2;
    } else if (command == "has-colour") {
      RECT area;
      GetWindowRect(child(form, arg(1)), &area);
      std::vector<uint8_t> rgb = grab(area);
      int want[3] = {std::atoi(arg(2).c_str()), std::atoi(arg(3).c_str()),
                     std::atoi(arg(4).c_str())};
      bool found = false;
      for (std::size_t p = 0; p + 2 < rgb.size() && !found; p += 3) {
        found = std::abs(rgb[p] - want[0]) <= 60 && std::abs(rgb[p + 1] - want[1]) <= 60 &&
                std::abs(rgb[p + 2] - want[2]) <= 60;
      }
      say(arg(1) + " shows " + arg(2) + " " + arg(3) + " " + arg(4) + ": " +
          (found ? "yes" : "no"));
      i += 4;
    } else if (command == "shot") {
      RECT outer;
      GetWindowRect(form, &outer);
      std::vector<uint8_t> rgb = grab(outer);
      int width = outer.right - outer.left, height = outer.bottom - outer.top;
      if (!write_png(arg(1), width, height, rgb)) return 1;
      say("shot " + std::to_string(width) + "x" + std::to_string(height));
      i += 1;
    } else if (command == "close") {
      PostMessageW(form, WM_CLOSE, 0, 0);
      say(wait_for([&] { return !IsWindow(form); }, 15000ms) ? "closed" : "still open");
    } else {
      std::fprintf(stderr, "tarvion-window-driver: unknown command %s\n", command.c_str());
      return 2;
    }
  }
  return 0;
}

int session_end(const std::wstring& window_class) {
  HWND target = nullptr;
  if (!wait_for([&] { return (target = FindWindowW(window_class.c_str(), nullptr)) != nullptr; },
                30000ms)) {
    say("no window");
    return 1;
  }
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutW(target, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000,
                           &answer)) {
    say("query: no answer");
    return 1;
  }
  say("query: " + std::to_string(answer));
  // Windows allows about five seconds here before it offers to end the program.
  bool ended = SendMessageTimeoutW(target, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL,
                                   5000, &answer) != 0;
  say(ended ? "ended" : "end: no answer");
  return ended ? 0 : 1;
}

}  // namespace
}  // namespace tarvion::window_driver

int main(int argc, char** argv) {
  using namespace tarvion;
  _setmode(_fileno(stdout), _O_BINARY);  // lines end in \n alone, as the reader expects
  if (argc == 3 && std::string(argv[1]) == "session-end") {
    std::string name = argv[2];
    return window_driver::session_end(std::wstring(name.begin(), name.end()));
  }
  // The window is there from its creation on, its controls a moment later.
  HWND form = nullptr;
  auto complete = [&] {
    form = FindWindowW(form1::kWindowClass, form1::kCaption);
    if (!form) return false;
    for (const form1::ControlId& c : form1::kControlIds) {
      if (!window_driver::child(form, c.name)) return false;
    }
    return true;
  };
  if (!window_driver::wait_for(complete, std::chrono::seconds(30))) {
    std::puts(form ? "window incomplete" : "no window");
    return 1;
  }
  return window_driver::run(form, std::vector<std::string>(argv + 1, argv + argc));
}
