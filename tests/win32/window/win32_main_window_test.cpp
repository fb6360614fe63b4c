// Form1 on Win32, in-process: controls where the window description puts
// them, the logic's texts shown, the user's events forwarded once each, and
// the close that ends the message loop.
#include "platform/win32/win32_main_window.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cwchar>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/win32_main_window_ids.h"
#include "platform/win32/win32_main_window_tray.h"
#include "shell/view_text.h"

namespace tarvion {
namespace {

struct Events {
  std::vector<std::string> seen;
  WindowHandlers handlers() {
    return WindowHandlers{
        [this] { seen.push_back("Button1Click"); },
        [this](int p) { seen.push_back("TrackBar1Change " + std::to_string(p)); },
        [this](int m) { seen.push_back("TrayIconMessage " + std::to_string(m)); },
        [this] { seen.push_back("FormClose"); },
    };
  }
};

HWND child(HWND form, const char* name) {
  struct Search {
    int id;
    HWND found;
  } search{form1::control_id(name), nullptr};
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

// Left, top, width, height in the parent's client area.
RECT place(HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
  return RECT{r.left, r.top, r.right - r.left, r.bottom - r.top};
}

std::wstring text_of(HWND control) {
  wchar_t buffer[256] = {};
  GetWindowTextW(control, buffer, 256);
  return buffer;
}

std::wstring list_line(HWND list, int index) {
  wchar_t buffer[256] = {};
  SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

struct Place {
  const char* name;
  const char* parent;
  int left, top, width, height;
  bool sized_by_text;  // a label: width and height follow its text and font
};

// The window description at 96 dpi.
const Place kPlaces[] = {
    {"Panel1", "Form1", 8, 8, 209, 97, false},
    {"Image2", "Panel1", 8, 8, 65, 33, false},
    {"Label3", "Panel1", 88, 9, 112, 16, true},
    {"Label4", "Panel1", 112, 27, 75, 13, true},
    {"Bevel1", "Panel1", 8, 48, 193, 5, false},
    {"Label14", "Panel1", 58, 57, 0, 13, true},  // free texts: width not fixed
    {"Label5", "Panel1", 34, 73, 0, 13, true},
    {"ListBox1", "Form1", 232, 8, 185, 73, false},
    {"Label11", "Form1", 240, 92, 100, 16, true},
    {"TrackBar1", "Form1", 232, 112, 145, 33, false},
    {"Label12", "Form1", 376, 116, 22, 13, true},
    {"Label10", "Form1", 32, 116, 82, 13, true},
    {"Label1", "Form1", 8, 140, 39, 13, true},
    {"Label2", "Form1", 48, 140, 21, 13, true},
    {"Label6", "Form1", 8, 156, 40, 13, true},
    {"Label7", "Form1", 48, 156, 21, 13, true},
    {"Label8", "Form1", 8, 172, 49, 13, true},
    {"Label9", "Form1", 64, 172, 79, 13, true},
    {"Label13", "Form1", 32, 196, 45, 13, true},
    {"Label15", "Form1", 8, 220, 49, 13, true},
    {"Label16", "Form1", 64, 220, 79, 13, true},
    {"Button1", "Form1", 384, 216, 41, 17, false},
};

void expect_places(HWND form, int dpi) {
  auto s = [dpi](int v) { return MulDiv(v, dpi, 96); };
  for (const Place& p : kPlaces) {
    SCOPED_TRACE(p.name);
    HWND control = child(form, p.name);
    ASSERT_NE(control, nullptr);
    HWND parent = std::string(p.parent) == "Form1" ? form : child(form, p.parent);
    EXPECT_EQ(GetParent(control), parent);
    RECT at = place(control);
    EXPECT_EQ(at.left, s(p.left));
    EXPECT_EQ(at.top, s(p.top));
    if (!p.sized_by_text) {
      EXPECT_EQ(at.right, s(p.width));
      EXPECT_EQ(at.bottom, s(p.height));
      continue;
    }
    // The fonts differ from system to system, so the sizes of the description
    // are met only roughly; a label not sized to its text, or in the wrong
    // font size, is far off.
    EXPECT_NEAR(at.bottom, s(p.height), s(3));
    if (p.width) {
      EXPECT_NEAR(at.right, s(p.width), s(p.width) * 0.35);
    }
  }
}

TEST(Win32MainWindow, FixedWindowWithTheControlsWhereTheDescriptionPutsThem) {
  Win32MainWindow window("Tarvion");
  HWND form = window.hwnd();
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(FindWindowW(form1::kWindowClass, L"Tarvion"), form);
  EXPECT_FALSE(IsWindowVisible(form));  // shown by the program, not at creation
  RECT client, outer;
  GetClientRect(form, &client);
  GetWindowRect(form, &outer);
  EXPECT_EQ(client.right, 433);
  EXPECT_EQ(client.bottom, 241);
  EXPECT_EQ(outer.left, 373);
  EXPECT_EQ(outer.top, 223);
  LONG style = GetWindowLongW(form, GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
  auto icon = reinterpret_cast<HICON>(SendMessageW(form, WM_GETICON, ICON_BIG, 0));
  ICONINFO info{};
  ASSERT_TRUE(icon && GetIconInfo(icon, &info));
  BITMAP picture{};
  GetObjectW(info.hbmColor, sizeof(picture), &picture);
  EXPECT_EQ(picture.bmWidth, 32);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);

  expect_places(form, 96);
  const std::pair<const char*, const wchar_t*> texts[] = {
      {"Label3", L"Pendra Modules"}, {"Label4", L"Ver 1.7Beta1"}, {"Label11", L"Bright control :"},
      {"Label12", L"121"},           {"Label10", L"ZEMP-XPLANE"}, {"Label1", L"Host : "},
      {"Label2", L"     "},          {"Label6", L"Port  : "},     {"Label7", L"     "},
      {"Label9", L"Disconnected"},   {"Label13", L"FSUIPC"},      {"Label16", L"Disconnected"},
      {"Button1", L"Tray"},
  };
  for (auto [name, text] : texts) EXPECT_EQ(text_of(child(form, name)), text) << name;

  // Tab order: ListBox1, Button1, and the track bar passed by.
  HWND list = child(form, "ListBox1"), button = child(form, "Button1");
  HWND bar = child(form, "TrackBar1");
  EXPECT_FALSE(GetWindowLongW(bar, GWL_STYLE) & WS_TABSTOP);
  EXPECT_EQ(GetNextDlgTabItem(form, list, FALSE), button);
  EXPECT_EQ(GetNextDlgTabItem(form, button, FALSE), list);
  EXPECT_EQ(SendMessageW(bar, TBM_GETRANGEMIN, 0, 0), 1);
  EXPECT_EQ(SendMessageW(bar, TBM_GETRANGEMAX, 0, 0), 121);
  EXPECT_EQ(SendMessageW(bar, TBM_GETPOS, 0, 0), 121);
  EXPECT_EQ(SendMessageW(bar, TBM_GETTHUMBLENGTH, 0, 0), 15);
  EXPECT_EQ(SendMessageW(bar, TBM_GETNUMTICS, 0, 0), 13);  // the two ends and 11..111
  EXPECT_EQ(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0), 13);
}

TEST(Win32MainWindow, OnAScreenOfTwiceTheDpiEverythingIsTwiceAsLarge) {
  Win32MainWindow window("Tarvion");
  HWND form = window.hwnd();
  RECT suggested{100, 50, 1000, 600};
  SendMessageW(form, WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
  RECT client, outer;
  GetClientRect(form, &client);
  GetWindowRect(form, &outer);
  EXPECT_EQ(client.right, 866);
  EXPECT_EQ(client.bottom, 482);
  EXPECT_EQ(outer.left, 100);
  expect_places(form, 192);
  EXPECT_EQ(SendMessageW(child(form, "TrackBar1"), TBM_GETTHUMBLENGTH, 0, 0), 30);
  EXPECT_EQ(SendMessageW(child(form, "ListBox1"), LB_GETITEMHEIGHT, 0, 0), 26);
  // The icons are drawn anew for the new scale, not stretched.
  for (auto [which, side] : {std::pair{ICON_SMALL, 32}, std::pair{ICON_BIG, 64}}) {
    ICONINFO info{};
    auto icon = reinterpret_cast<HICON>(SendMessageW(form, WM_GETICON, which, 0));
    ASSERT_TRUE(icon && GetIconInfo(icon, &info));
    BITMAP bitmap{};
    GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    EXPECT_EQ(bitmap.bmWidth, side);
  }
}

TEST(Win32MainWindow, LabelsAndTheListShowTheLogicsTexts) {
  Win32MainWindow window("Tarvion");
  HWND form = window.hwnd();
  HWND status = child(form, "Label16");
  LONG narrow = place(status).right;
  window.set_text(Control::Label16, "Cannot link to FSUIPC or WideClient");
  EXPECT_EQ(text_of(status), L"Cannot link to FSUIPC or WideClient");
  EXPECT_GT(place(status).right, narrow);  // the label grew with its text
  for (Control control : kControls) {
    // Each control reaches the window's label of its name; UTF-8 in, shown as such.
    std::string name = control_name(control);
    window.set_text(control, "Zürich " + name);
    EXPECT_EQ(text_of(child(form, name.c_str())),
              L"Z\u00fcrich " + std::wstring(name.begin(), name.end()));
  }
  EXPECT_EQ(text_of(child(form, "Button1")), L"Tray");

  HWND list = child(form, "ListBox1");
  window.set_device_list({"PANEL - Device = 13", "PANEL - Device = 14 \u00e9"});
  ASSERT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 2);
  EXPECT_EQ(list_line(list, 0), L"PANEL - Device = 13");
  EXPECT_EQ(list_line(list, 1), L"PANEL - Device = 14 \u00e9");
  window.set_device_list({"PANEL - Device = 8"});
  ASSERT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 1);
  EXPECT_EQ(list_line(list, 0), L"PANEL - Device = 8");
  window.set_device_list({});
  EXPECT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 0);
}

TEST(Win32MainWindow, EveryScrollNotificationRunsTheHandlerTheProgramMovingTheBarDoesNot) {
  Win32MainWindow window("Tarvion");
  Events events;
  window.set_handlers(events.handlers());
  HWND form = window.hwnd(), bar = child(form, "TrackBar1");
  window.set_trackbar_position(60);
  EXPECT_EQ(SendMessageW(bar, TBM_GETPOS, 0, 0), 60);
  EXPECT_TRUE(events.seen.empty());

  // A drag that stays put still reports each step, and the end of the drag.
  auto scroll = [&](int code) {
    SendMessageW(form, WM_HSCROLL, MAKEWPARAM(code, 60), reinterpret_cast<LPARAM>(bar));
  };
  scroll(TB_THUMBTRACK);
  scroll(TB_THUMBTRACK);
  scroll(TB_ENDTRACK);
  // The bar's own notification: a key press moves it one line.
  SendMessageW(bar, WM_KEYDOWN, VK_LEFT, 0);
  EXPECT_EQ(events.seen, (std::vector<std::string>{"TrackBar1Change 60", "TrackBar1Change 60",
                                                   "TrackBar1Change 60", "TrackBar1Change 59"}));
}

TEST(Win32MainWindow, TabMovesTheFocusThroughTheMessageLoopsPreTranslate) {
  Win32MainWindow window("Tarvion");
  window.show();
  HWND form = window.hwnd(), list = child(form, "ListBox1"), button = child(form, "Button1");
  SetFocus(list);
  ASSERT_EQ(GetFocus(), list);
  MSG tab{list, WM_KEYDOWN, VK_TAB, 0, 0, {}};
  EXPECT_TRUE(window.pre_translate(tab));
  EXPECT_EQ(GetFocus(), button);
  tab.hwnd = button;
  EXPECT_TRUE(window.pre_translate(tab));
  EXPECT_EQ(GetFocus(), list);                           // past the track bar, which is no tab stop
  MSG elsewhere{nullptr, WM_KEYDOWN, VK_TAB, 0, 0, {}};  // a thread message: not Form1's
  EXPECT_FALSE(window.pre_translate(elsewhere));
}

TEST(Win32MainWindow, TrayButtonAndIconMessagesReachTheirHandlers) {
  Win32MainWindow window("Tarvion");
  Events events;
  window.set_handlers(events.handlers());
  window.show();
  HWND form = window.hwnd();
  EXPECT_TRUE(IsWindowVisible(form));
  SendMessageW(child(form, "Button1"), BM_CLICK, 0, 0);
  // The icon's message from anyone: the mouse message goes to the logic as it is.
  for (LPARAM mouse : {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MOUSEMOVE})
    SendMessageW(form, form1::kTrayMessage, form1::kTrayIconId, mouse);
  EXPECT_EQ(events.seen, (std::vector<std::string>{"Button1Click", "TrayIconMessage 513",
                                                   "TrayIconMessage 516", "TrayIconMessage 512"}));
  window.hide();
  EXPECT_FALSE(IsWindowVisible(form));
}

TEST(Win32MainWindow, CloseButtonAndSessionEndRunFormCloseOnceAndEndTheMessageLoop) {
  struct Case {
    const char* name;
    std::vector<std::pair<UINT, WPARAM>> messages;
  };
  // A logoff asks first; a session end that another program cancelled
  // (WM_ENDSESSION with FALSE) leaves Tarvion running.
  for (const Case& c : {Case{"close button", {{WM_CLOSE, 0}}}, Case{"logoff",
                                                                    {{WM_QUERYENDSESSION, 0},
                                                                     {WM_ENDSESSION, FALSE},
                                                                     {WM_QUERYENDSESSION, 0},
                                                                     {WM_ENDSESSION, TRUE}}}}) {
    SCOPED_TRACE(c.name);
    Win32MainWindow window("Tarvion");
    Events events;
    window.set_handlers(events.handlers());
    HWND form = window.hwnd();
    for (auto [message, wparam] : c.messages) {
      EXPECT_FALSE(window.closed()) << "closed before message " << message;
      LRESULT answer = SendMessageW(form, message, wparam, ENDSESSION_LOGOFF);
      if (message == WM_QUERYENDSESSION) {
        EXPECT_EQ(answer, TRUE) << "never holds the session up";
      }
    }
    EXPECT_TRUE(window.closed());
    EXPECT_FALSE(IsWindow(form));
    window.close();  // already closed: nothing more
    EXPECT_EQ(events.seen, std::vector<std::string>{"FormClose"});
    MSG message{};
    ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 0u);
    EXPECT_FALSE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));  // one quit only
  }
}

// Whether the shell holds Form1's icon: only a present icon can be modified.
bool icon_present(HWND form) {
  NOTIFYICONDATAW probe = tray_record(form, nullptr, "Tarvion");
  probe.uFlags = NIF_TIP;
  return Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
}

TEST(Win32MainWindow, TrayIconComesBackWithTheTaskbarAndGoesWithTheWindow) {
  auto window = std::make_unique<Win32MainWindow>("Tarvion");
  HWND form = window->hwnd();
  if (!window->tray_add()) GTEST_SKIP() << "no notification area here";
  EXPECT_TRUE(icon_present(form));
  EXPECT_TRUE(window->tray_add());  // already there: still one icon
  UINT taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");
  NOTIFYICONDATAW record = tray_record(form, nullptr, "Tarvion");
  Shell_NotifyIconW(NIM_DELETE, &record);  // what a taskbar restart does to it
  ASSERT_FALSE(icon_present(form));
  SendMessageW(form, taskbar_created, 0, 0);
  EXPECT_TRUE(icon_present(form));
  window->tray_delete();
  EXPECT_FALSE(icon_present(form));
  SendMessageW(form, taskbar_created, 0, 0);  // not in the tray: stays away
  EXPECT_FALSE(icon_present(form));
  window->tray_add();
  window.reset();
  EXPECT_FALSE(icon_present(form)) << "the icon outlived its window";
}

// A taskbar that takes or refuses each add as the test says, and keeps what it
// was asked: Wine's null driver has no notification area of its own.
struct Taskbar {
  bool takes_adds = true;
  std::vector<DWORD> asked;
  ShellNotify notify() {
    return [this](DWORD message, NOTIFYICONDATAW&) {
      asked.push_back(message);
      return message != NIM_ADD || takes_adds;
    };
  }
};

TEST(Win32MainWindow, AnIconTheNewTaskbarRefusesLeavesTheWindowShownAndIsRemovedAtTheEnd) {
  Taskbar taskbar;
  auto window = std::make_unique<Win32MainWindow>("Tarvion", taskbar.notify());
  HWND form = window->hwnd();
  ASSERT_TRUE(window->tray_add());
  window->hide();
  // Refused, or made but reported failed (a time-out): the shell cannot tell.
  taskbar.takes_adds = false;
  SendMessageW(form, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_TRUE(IsWindowVisible(form)) << "hidden without an icon to bring it back";
  window.reset();
  EXPECT_EQ(taskbar.asked, (std::vector<DWORD>{NIM_ADD, NIM_ADD, NIM_DELETE}));
}

TEST(Win32MainWindow, TrayRecordHoldsTheTipWithinItsField) {
  const std::size_t field = std::size(NOTIFYICONDATAW{}.szTip);
  struct Case {
    std::string title;
    std::wstring tip;
  };
  std::string long_ascii(200, 'T');
  // 31 two-byte letters and one ASCII: the 63-byte cut ends inside a letter.
  std::string umlauts = "x";
  for (int i = 0; i < 40; ++i) umlauts += "\xC3\xA4";
  const Case cases[] = {
      {"Tarvion", L"Tarvion"},
      {long_ascii, std::wstring(63, L'T')},
      {umlauts, L"x" + std::wstring(31, L'\u00e4')},
  };
  for (const Case& c : cases) {
    NOTIFYICONDATAW record = tray_record(nullptr, nullptr, c.title);
    EXPECT_EQ(record.cbSize, sizeof(NOTIFYICONDATAW));
    EXPECT_EQ(record.uID, 1u);
    EXPECT_EQ(record.uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ(record.uCallbackMessage, 1025u);
    ASSERT_LT(wcsnlen(record.szTip, field), field);
    EXPECT_EQ(std::wstring(record.szTip), c.tip);
  }
}

}  // namespace
}  // namespace tarvion
