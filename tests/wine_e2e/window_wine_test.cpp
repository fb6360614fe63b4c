// Tarvion.exe's window under Wine on a real X display (Xvfb, Wine's X11
// driver in a prefix of its own), worked from outside by
// tarvion-window-driver.exe as another program on the desktop would: what the
// labels and the list show, the Tray button and the notification icon (the
// real one in trayer's tray when trayer and xdotool are installed), the
// brightness track bar reaching the panels, and the close.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <thread>

#include "child_process.h"
#include "loopback_server.h"
#include "tarvion_run.h"

namespace tarvion::e2e {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using Lines = std::vector<std::string>;

const std::string kWin32Dir = TARVION_WIN32_DIR;
const std::string kTarvionExe = kWin32Dir + "/src/main/Tarvion.exe";
const std::string kDriverExe = kWin32Dir + "/tests/win32/window/tarvion-window-driver.exe";
const std::string kWindowTestsExe =
    kWin32Dir + "/tests/win32/window/tarvion_win32_window_tests.exe";

std::string on_path(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    std::string candidate = dir + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

bool has(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string joined(const Lines& lines) {
  std::string all;
  for (const std::string& line : lines) all += line + "\n";
  return all;
}

// Every stdout line of a program that ends within the bound. Wine's helper
// processes may keep the pipe open after the program ends, so its end is
// the program's exit, not the pipe's.
Lines run_lines(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                milliseconds bound) {
  ChildProcess run(argv, "/", env);
  auto deadline = std::chrono::steady_clock::now() + bound;
  while (std::chrono::steady_clock::now() < deadline) {
    if (run.next_out_line(milliseconds(200))) continue;
    if (!run.running()) break;
  }
  while (run.next_out_line(milliseconds(100))) {
  }
  run.wait_exit(seconds(5));
  return run.out_lines();
}

// An X display, a Wine prefix that draws on it, and optionally a tray host.
class WineDesktop {
 public:
  bool start() {
    xvfb_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{on_path("Xvfb"), "-displayfd", "1", "-screen", "0", "1024x768x24",
                                 "-nolisten", "tcp"},
        "/", std::map<std::string, std::string>{});
    auto number = xvfb_->next_out_line(seconds(20));
    if (!number) return false;
    display_ = ":" + *number;
    if (!prepare_prefix()) return false;
    // A server of its own, kept running between the programs and not holding
    // anyone's output open.
    run_lines({"/bin/sh", "-c", "exec wineserver -p >/dev/null 2>&1"}, env(), seconds(30));
    if (!on_path("trayer").empty() && !on_path("xdotool").empty()) {
      tray_ = std::make_unique<ChildProcess>(
          std::vector<std::string>{on_path("trayer"), "--edge", "top", "--align", "right",
                                   "--widthtype", "pixel", "--width", "120", "--height", "32",
                                   "--transparent", "false"},
          "/", env());
      if (wait_windows({"--class", "trayer"}, seconds(20)).empty()) tray_.reset();
    }
    return true;
  }
  ~WineDesktop() {
    if (!display_.empty()) run_lines({on_path("wineserver"), "-k"}, env(), seconds(30));
    if (tray_) tray_->signal(SIGTERM);
    if (xvfb_) xvfb_->signal(SIGTERM);
  }

  std::map<std::string, std::string> env() const {
    return {{"DISPLAY", display_},
            {"WAYLAND_DISPLAY", ""},
            {"WINEPREFIX", prefix_},
            {"WINEDEBUG", "-all"},
            {"WINEDLLOVERRIDES", "mscoree,mshtml="}};  // no Mono or Gecko set-up dialogs
  }
  bool has_tray() const { return tray_ != nullptr; }

  Lines driver(std::vector<std::string> args) const {
    args.insert(args.begin(), {on_path("wine"), kDriverExe});
    return run_lines(args, env(), seconds(90));
  }
  Lines xdotool(std::vector<std::string> args) const {
    args.insert(args.begin(), on_path("xdotool"));
    return run_lines(args, env(), seconds(10));
  }
  // Visible X windows matching the search, polled until there are some.
  Lines wait_windows(std::vector<std::string> search, milliseconds bound) const {
    search.insert(search.begin(), {"search", "--onlyvisible"});
    auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
      Lines found = xdotool(search);
      if (!found.empty() || std::chrono::steady_clock::now() > deadline) return found;
      std::this_thread::sleep_for(milliseconds(100));
    }
  }
  bool wait_gone(std::vector<std::string> search, milliseconds bound) const {
    search.insert(search.begin(), {"search", "--onlyvisible"});
    auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
      if (xdotool(search).empty()) return true;
      std::this_thread::sleep_for(milliseconds(100));
    }
    return false;
  }

 private:
  // The shared prefix uses Wine's null driver (no display); this one draws on
  // X, and Wine draws the frame itself since no window manager runs.
  bool prepare_prefix() {
    prefix_ = std::string(TARVION_SHOT_DIR) + "/wineprefix-x11";
    if (std::filesystem::exists(prefix_ + "/system.reg")) return true;
    run_lines({on_path("wineboot"), "--init"}, env(), seconds(300));
    run_lines({on_path("wine"), "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Decorated",
               "/d", "N", "/f"},
              env(), seconds(120));
    // The registry reaches its files when the server ends.
    run_lines({on_path("wineserver"), "-w"}, env(), seconds(120));
    return std::filesystem::exists(prefix_ + "/system.reg");
  }

  std::string display_, prefix_;
  std::unique_ptr<ChildProcess> xvfb_, tray_;
};

int listening_port(ChildProcess& tool) {
  for (int i = 0; i < 20; ++i) {
    auto line = tool.next_out_line(seconds(10));
    if (!line) return 0;
    const std::string prefix = "listening on 127.0.0.1:";
    if (line->starts_with(prefix)) return std::stoi(line->substr(prefix.size()));
  }
  return 0;
}

TEST(TarvionWineWindow, LabelsTrayIconAndBrightnessWorkFromOutsideAndCloseEndsIt) {
  for (const char* tool : {"Xvfb", "wine", "wineboot", "wineserver"}) {
    if (on_path(tool).empty()) GTEST_SKIP() << tool << " is not installed";
  }
  ASSERT_TRUE(std::filesystem::exists(kTarvionExe)) << kTarvionExe;
  ASSERT_TRUE(std::filesystem::exists(kDriverExe)) << kDriverExe;
  WineDesktop desktop;
  ASSERT_TRUE(desktop.start()) << "Xvfb or the Wine prefix did not come up";

  LoopbackServer zemp;  // its backlog takes the connection: the link goes online
  TempFolder tools, folder;
  ChildProcess panels({TARVION_VIRTUAL_PANELS_BIN, "--port", "0", "--no-stdin", "--panels", "com"},
                      tools.path(), {});
  int panel_port = listening_port(panels);
  ASSERT_GT(panel_port, 0);
  folder.write("Tarvion.ini", zemp_ini(zemp.port()));
  auto env = desktop.env();
  env["TARVION_VIRTUAL_PANELS"] = "127.0.0.1:" + std::to_string(panel_port);
  ChildProcess tarvion({on_path("wine"), kTarvionExe}, folder.path(), env);

  // The texts the program put there, read through the window's messages.
  Lines seen = desktop.driver({"wait-label", "Label9", "Online", "labels", "list"});
  for (const std::string& line :
       Lines{"Label9: Online", "Label2: 127.0.0.1", "Label7: " + std::to_string(zemp.port()),
             "Label16: Disconnected", "Label12: 121",
             "Label11: Bright control :", "ListBox1: com - Device = 1"}) {
    EXPECT_TRUE(has(seen, line)) << line << "\nseen:\n" << joined(seen);
  }

  // What the screen shows: sky blue, the brightness in red, the status in navy.
  std::string shot = std::string(TARVION_SHOT_DIR) + "/win32-window.png";
  seen = desktop.driver({"pixel", "225", "190", "has-colour", "Label12",
                         "255",   "0",   "0",   "has-colour", "Label9",
                         "0",     "0",   "128", "has-colour", "Image2",
                         "48",    "52",  "58",  "shot",       "Z:" + shot});
  for (const char* line : {"pixel 225 190: 166 202 240", "Label12 shows 255 0 0: yes",
                           "Label9 shows 0 0 128: yes", "Image2 shows 48 52 58: yes"}) {
    EXPECT_TRUE(has(seen, line)) << line << "\nseen:\n" << joined(seen);
  }
  EXPECT_TRUE(std::filesystem::exists(shot));

  // "Tray": the window goes and the icon comes; in a real tray a right click
  // on it does nothing and a left click brings the window back and removes it.
  EXPECT_TRUE(has(desktop.driver({"click", "Button1", "wait-visible", "no"}), "visible: no"));
  const std::vector<std::string> icon_search{"--class", "explorer.exe"};
  if (!desktop.has_tray())
    std::cout << "[   NOTE   ] no trayer or xdotool: the real icon not clicked\n";
  if (desktop.has_tray()) {
    Lines icons = desktop.wait_windows(icon_search, seconds(15));
    ASSERT_EQ(icons.size(), 1u) << "no icon in the tray";
    desktop.xdotool({"mousemove", "--window", icons[0], "8", "8", "click", "3"});
    std::this_thread::sleep_for(milliseconds(1000));  // time for a wrong reaction to show
    EXPECT_TRUE(has(desktop.driver({"visible"}), "visible: no")) << "a right click showed it";
    desktop.xdotool({"mousemove", "--window", icons[0], "8", "8", "click", "1"});
    EXPECT_TRUE(has(desktop.driver({"wait-visible", "yes"}), "visible: yes"));
    EXPECT_TRUE(desktop.wait_gone(icon_search, seconds(10))) << "the icon stayed";
    EXPECT_TRUE(has(desktop.driver({"click", "Button1", "wait-visible", "no"}), "visible: no"));
  }
  // The icon's message as anyone may send it: the driver's sends return once
  // the window has handled them.
  seen = desktop.driver({"icon", "516", "visible", "icon", "513", "visible"});
  EXPECT_EQ(seen, (Lines{"icon 516", "visible: no", "icon 513", "visible: yes"}));
  if (desktop.has_tray()) {
    EXPECT_TRUE(desktop.wait_gone(icon_search, seconds(10)));
  }

  // The track bar moved as a drag does: the label and the panel follow.
  seen = desktop.driver({"trackbar", "40", "labels"});
  EXPECT_TRUE(has(seen, "Label12: 40")) << joined(seen);
  bool dimmed = false;
  for (int i = 0; i < 200 && !dimmed; ++i) {
    auto line = panels.next_out_line(seconds(10));
    if (!line) break;
    dimmed = line->starts_with("OUTPUT com1 ") && line->ends_with(" bright 40");
  }
  EXPECT_TRUE(dimmed) << "the panel never got brightness 40:\n" << joined(panels.out_lines());

  // The close button's message ends the program cleanly, also from the tray,
  // and leaves no icon behind.
  EXPECT_TRUE(has(desktop.driver({"click", "Button1", "wait-visible", "no", "close"}), "closed"));
  EXPECT_EQ(tarvion.wait_exit(seconds(30)), 0);
  if (desktop.has_tray()) {
    EXPECT_TRUE(desktop.wait_gone(icon_search, seconds(10))) << "a dead icon stayed";
  }
}

// The in-process window tests whose notification icon needs a desktop that
// has a notification area, which the shared prefix's null driver lacks.
TEST(TarvionWineWindow, TrayIconTestsPassOnARealDesktop) {
  for (const char* tool : {"Xvfb", "wine", "wineboot", "wineserver"}) {
    if (on_path(tool).empty()) GTEST_SKIP() << tool << " is not installed";
  }
  ASSERT_TRUE(std::filesystem::exists(kWindowTestsExe)) << kWindowTestsExe;
  WineDesktop desktop;
  ASSERT_TRUE(desktop.start()) << "Xvfb or the Wine prefix did not come up";
  Lines seen = run_lines({on_path("wine"), kWindowTestsExe, "--gtest_filter=*Tray*"}, desktop.env(),
                         seconds(120));
  std::string all = joined(seen);
  EXPECT_NE(all.find("[  PASSED  ] 3 tests."), std::string::npos) << all;
  EXPECT_EQ(all.find("SKIPPED"), std::string::npos) << all;
}

}  // namespace
}  // namespace tarvion::e2e
