// The real `tarvion` window under Xvfb with trayer as the tray host: a
// screenshot of the window, a click on "Tray", then one on the tray icon.
// Skips (does not fail) where Xvfb, trayer or xdotool is not installed.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QColor>
#include <QImage>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "child_process.h"
#include "loopback_server.h"
#include "tarvion_run.h"

namespace tarvion::e2e {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

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

// One X display with a tray host, and the tools to look at and click it.
class Desktop {
 public:
  bool start(bool with_tray = true) {
    xvfb_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{on_path("Xvfb"), "-displayfd", "1", "-screen", "0", "1024x768x24",
                                 "-nolisten", "tcp"},
        "/", std::map<std::string, std::string>{});
    auto number = xvfb_->next_out_line(seconds(20));
    if (!number) return false;
    display_ = ":" + *number;
    if (!with_tray) return true;
    tray_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{on_path("trayer"), "--edge", "top", "--align", "right",
                                 "--widthtype", "pixel", "--width", "120", "--height", "32",
                                 "--transparent", "false"},
        "/", env());
    return !wait_windows({"--class", "trayer"}, seconds(20)).empty();
  }
  ~Desktop() {
    if (tray_) tray_->signal(SIGTERM);
    if (xvfb_) xvfb_->signal(SIGTERM);
  }
  std::map<std::string, std::string> env() const {
    return {{"DISPLAY", display_}, {"WAYLAND_DISPLAY", ""}};
  }
  // xdotool's output lines.
  std::vector<std::string> xdotool(std::vector<std::string> args) const {
    args.insert(args.begin(), on_path("xdotool"));
    ChildProcess run(args, "/", env());
    std::vector<std::string> lines;
    while (auto line = run.next_out_line(seconds(10))) lines.push_back(*line);
    run.wait_exit(seconds(10));
    return lines;
  }
  // Visible windows matching the search, polled until there are some.
  std::vector<std::string> wait_windows(std::vector<std::string> search, milliseconds bound) const {
    search.insert(search.begin(), {"search", "--onlyvisible"});
    auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
      auto found = xdotool(search);
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
  void click(const std::string& window, int x, int y) const {
    xdotool({"mousemove", "--window", window, std::to_string(x), std::to_string(y), "click", "1"});
  }
  QImage shot(const std::string& window, const std::string& file) const {
    ChildProcess run({TARVION_X11_SHOT, window, file}, "/", env());
    if (run.wait_exit(seconds(20)) != 0) return {};
    return QImage(QString::fromStdString(file));
  }

 private:
  std::string display_;
  std::unique_ptr<ChildProcess> xvfb_, tray_;
};

bool has_colour_near(const QImage& image, QRect area, QColor want, int tolerance) {
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      QColor c = image.pixelColor(x, y);
      if (std::abs(c.red() - want.red()) <= tolerance &&
          std::abs(c.green() - want.green()) <= tolerance &&
          std::abs(c.blue() - want.blue()) <= tolerance)
        return true;
    }
  }
  return false;
}

// tarvion's environment on the desktop. Under LeakSanitizer, the libraries
// behind a window (fontconfig, D-Bus) keep caches for the life of the process;
// they are not Tarvion's leaks.
std::map<std::string, std::string> program_env(const Desktop& desktop, const TempFolder& runtime) {
  auto env = desktop.env();
  env["XDG_RUNTIME_DIR"] = runtime.path();
  env["TARVION_VIRTUAL_PANELS"] = "";
  runtime.write("lsan.supp", "leak:libfontconfig\nleak:libdbus-1\n");
  env["LSAN_OPTIONS"] = "suppressions=" + runtime.path() + "/lsan.supp";
  return env;
}

TEST(TarvionWindow, ShowsItsWindowGoesToTheTrayAndComesBackOnAClick) {
  for (const char* tool : {"Xvfb", "trayer", "xdotool"}) {
    if (on_path(tool).empty()) GTEST_SKIP() << tool << " is not installed";
  }
  Desktop desktop;
  ASSERT_TRUE(desktop.start()) << "Xvfb or trayer did not come up";

  TempFolder folder, runtime;
  LoopbackServer server;  // the picture shows a linked Tarvion, as users see it
  folder.write("Tarvion.ini", zemp_ini(server.port(), "BRIGHT=60\n"));
  ChildProcess tarvion({TARVION_BIN}, folder.path(), program_env(desktop, runtime));

  auto windows = desktop.wait_windows({"--name", "^Tarvion$"}, seconds(20));
  ASSERT_EQ(windows.size(), 1u) << "the window did not appear";
  const std::string window = windows[0];
  auto link = server.accept(milliseconds(20000));
  ASSERT_TRUE(link) << "no ZEMP connection";
  ASSERT_TRUE(link->read_line(milliseconds(10000))) << "no registration";
  // "Online" is set before the registration is sent; give X its repaint.
  std::this_thread::sleep_for(milliseconds(500));

  // What a person sees: the sky-blue window of 433 x 241, the brightness in
  // red (60 from BRIGHT, moved there when the window showed), navy status texts.
  std::string file = std::string(TARVION_SHOT_DIR) + "/tarvion-window.png";
  QImage image = desktop.shot(window, file);
  ASSERT_FALSE(image.isNull()) << "no screenshot";
  EXPECT_EQ(image.size(), QSize(433, 241));
  EXPECT_EQ(image.pixelColor(225, 190), QColor(166, 202, 240));
  EXPECT_TRUE(has_colour_near(image, {376, 116, 22, 13}, QColor(255, 0, 0), 60)) << file;
  EXPECT_TRUE(has_colour_near(image, {64, 172, 79, 13}, QColor(0, 0, 128), 40)) << file;

  // "Tray": the window goes, an icon appears in the tray host.
  desktop.click(window, 384 + 20, 216 + 8);
  ASSERT_TRUE(desktop.wait_gone({"--name", "^Tarvion$"}, seconds(10)));
  std::vector<std::string> icons;
  auto deadline = std::chrono::steady_clock::now() + seconds(10);
  while (icons.empty() && std::chrono::steady_clock::now() < deadline) {
    icons = desktop.wait_windows({"--class", "tarvion"}, seconds(1));
  }
  ASSERT_FALSE(icons.empty()) << "no tray icon";

  // A right click does nothing; a left click brings the window back.
  desktop.xdotool({"mousemove", "--window", icons[0], "8", "8", "click", "3"});
  EXPECT_FALSE(desktop.wait_windows({"--name", "^Tarvion$"}, milliseconds(1000)).size());
  desktop.click(icons[0], 8, 8);
  EXPECT_EQ(desktop.wait_windows({"--name", "^Tarvion$"}, seconds(10)).size(), 1u);

  tarvion.signal(SIGTERM);
  EXPECT_EQ(tarvion.wait_exit(seconds(15)), 0);
}

TEST(TarvionWindow, SignalWhileTheStartUpErrorBoxIsOpenEndsTheProgram) {
  if (on_path("Xvfb").empty() || on_path("xdotool").empty())
    GTEST_SKIP() << "Xvfb or xdotool is not installed";
  Desktop desktop;
  ASSERT_TRUE(desktop.start(false)) << "Xvfb did not come up";
  TempFolder folder, runtime;  // no Tarvion.ini: the error box opens during start-up
  ChildProcess tarvion({TARVION_BIN}, folder.path(), program_env(desktop, runtime));
  ASSERT_FALSE(desktop.wait_windows({"--name", "^tarvion$"}, seconds(20)).empty())
      << "no error box";
  tarvion.signal(SIGTERM);
  EXPECT_EQ(tarvion.wait_exit(seconds(15)), 0);
}

}  // namespace
}  // namespace tarvion::e2e
