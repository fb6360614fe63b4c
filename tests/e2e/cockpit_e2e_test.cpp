// The virtual cockpit under Xvfb with the real `tarvion --console` and
// tools/zemp-peer: a wheel notch on the COM panel's outer knob shows the new
// standby frequency in the drawn digits, a click on transfer swaps and the
// server gets the value, and the recording of it all replays as a script
// against a fresh Tarvion. Skips (does not fail) without Xvfb or xdotool.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QImage>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "child_process.h"
#include "tarvion_run.h"

namespace tarvion::e2e {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

std::string on_path(const std::string& name) {
  std::stringstream dirs(std::getenv("PATH") ? std::getenv("PATH") : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (::access((dir + "/" + name).c_str(), X_OK) == 0) return dir + "/" + name;
  }
  return {};
}

int listening_port(ChildProcess& tool) {
  for (int i = 0; i < 20; ++i) {
    auto line = tool.next_out_line(seconds(10));
    if (!line) return 0;
    auto at = line->find("listening on 127.0.0.1:");
    if (at != std::string::npos) return std::stoi(line->substr(at + 23));
  }
  return 0;
}

// "control com1 outer X Y": where the cockpit drew a control, in window coordinates.
std::pair<std::string, std::string> control_at(ChildProcess& cockpit, const std::string& name) {
  const std::string head = "control com1 " + name + " ";
  for (int i = 0; i < 50; ++i) {
    auto line = cockpit.next_out_line(seconds(20));
    if (!line) break;
    if (!line->starts_with(head)) continue;
    std::istringstream xy(line->substr(head.size()));
    std::string x, y;
    xy >> x >> y;
    return {x, y};
  }
  return {};
}

struct Peer {
  Peer() : process({TARVION_ZEMP_PEER, "--port", "0", "--keepalive", "10"}, folder.path(), {}) {
    port = listening_port(process);
  }
  bool received(const std::string& text) {
    for (int i = 0; i < 200; ++i) {
      auto line = process.next_out_line(seconds(5));
      if (!line) return false;
      if (line->ends_with(text)) return true;
    }
    return false;
  }
  TempFolder folder;
  ChildProcess process;
  int port = 0;
};

std::unique_ptr<ChildProcess> start_tarvion(const TempFolder& folder, const TempFolder& runtime,
                                            int peer_port, int panel_port) {
  folder.write("Tarvion.ini", zemp_ini(peer_port, "FIRST_DEVICE_COM1=YES\n"));
  return std::make_unique<ChildProcess>(
      std::vector<std::string>{TARVION_BIN, "--console"}, folder.path(),
      std::map<std::string, std::string>{
          {"XDG_RUNTIME_DIR", runtime.path()},
          {"DISPLAY", ""},
          {"TARVION_VIRTUAL_PANELS", "127.0.0.1:" + std::to_string(panel_port)}});
}

TEST(VirtualCockpit, WheelOnTheOuterKnobAndAClickOnTransferReachTheDigitsAndTheServer) {
  for (const char* tool : {"Xvfb", "xdotool"}) {
    if (on_path(tool).empty()) GTEST_SKIP() << tool << " is not installed";
  }
  ChildProcess xvfb(
      {on_path("Xvfb"), "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"}, "/",
      {});
  auto number = xvfb.next_out_line(seconds(20));
  ASSERT_TRUE(number) << "Xvfb did not come up";
  TempFolder tools;
  std::map<std::string, std::string> desktop = {
      {"DISPLAY", ":" + *number}, {"WAYLAND_DISPLAY", ""}, {"XDG_RUNTIME_DIR", tools.path()}};
  auto xdotool = [&desktop](std::vector<std::string> args) {
    args.insert(args.begin(), on_path("xdotool"));
    ChildProcess run(args, "/", desktop);
    std::vector<std::string> lines;
    while (auto line = run.next_out_line(seconds(10))) lines.push_back(*line);
    run.wait_exit(seconds(10));
    return lines;
  };

  Peer peer;
  ASSERT_GT(peer.port, 0);
  // Fontconfig's caches live as long as the process: not the tool's leaks.
  tools.write("lsan.supp", "leak:libfontconfig\nleak:libdbus-1\n");
  auto cockpit_env = desktop;
  cockpit_env["LSAN_OPTIONS"] = "suppressions=" + tools.path() + "/lsan.supp";
  const std::string recording = tools.path() + "/recording.script";
  ChildProcess cockpit({TARVION_VIRTUAL_PANELS_BIN, "--window", "--port", "0", "--no-stdin",
                        "--record", recording, "--trace-window", "com1=com:0001:com"},
                       tools.path(), cockpit_env);
  int panel_port = listening_port(cockpit);
  ASSERT_GT(panel_port, 0);
  auto outer = control_at(cockpit, "outer");
  auto swap = control_at(cockpit, "swap");
  ASSERT_FALSE(outer.first.empty() || swap.first.empty()) << "no control positions";
  std::vector<std::string> windows;
  for (int i = 0; i < 100 && windows.empty(); ++i) {
    windows = xdotool({"search", "--onlyvisible", "--name", "^Tarvion virtual cockpit$"});
    if (windows.empty()) std::this_thread::sleep_for(milliseconds(100));
  }
  ASSERT_EQ(windows.size(), 1u) << "the cockpit window did not appear";
  const std::string window = windows[0];

  TempFolder folder, runtime;
  auto tarvion = start_tarvion(folder, runtime, peer.port, panel_port);
  ASSERT_TRUE(tarvion->wait_out_line("Label9: Online", seconds(20)));
  ASSERT_TRUE(cockpit.wait_out_line("drawn com1 [118.000] [118.000] bright 121", seconds(20)));

  // One wheel notch up on the outer ring: the standby display, as drawn.
  xdotool({"mousemove", "--window", window, outer.first, outer.second, "click", "4"});
  auto wheeled = std::chrono::steady_clock::now();
  ASSERT_TRUE(cockpit.wait_out_line("drawn com1 [118.000] [119.000] bright 121", seconds(10)));
  // Tarvion's 20 ms cycle, the loopback and a repaint; generous for a loaded machine.
  EXPECT_LT(std::chrono::steady_clock::now() - wheeled, seconds(2));

  std::string shot = std::string(TARVION_SHOT_DIR) + "/virtual-cockpit.png";
  ChildProcess grab({TARVION_X11_SHOT, window, shot}, "/", desktop);
  ASSERT_EQ(grab.wait_exit(seconds(20)), 0);
  QImage image(QString::fromStdString(shot));
  EXPECT_FALSE(image.isNull()) << shot;

  // Transfer: the pair swaps on the panel and COM1 reaches the server.
  xdotool({"mousemove", "--window", window, swap.first, swap.second, "click", "1"});
  ASSERT_TRUE(cockpit.wait_out_line("drawn com1 [119.000] [118.000] bright 121", seconds(10)));
  EXPECT_TRUE(peer.received("recv \"Arn.Resp:256=11900:\\r\\n\""));

  // Ctrl+Q closes the cockpit, which saves its recording; then Tarvion closes.
  xdotool({"key", "--window", window, "ctrl+q"});
  EXPECT_EQ(cockpit.wait_exit(seconds(15)), 0);
  tarvion->signal(kCloseSignal);
  EXPECT_EQ(tarvion->wait_exit(seconds(15)), 0);
  std::ifstream saved(recording);
  std::stringstream text;
  text << saved.rdbuf();
  EXPECT_NE(text.str().find(" raw com1 00feff\n"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find(" expect com1 000090110080118879 5000\n"), std::string::npos)
      << text.str();

  // The recording replays: the same reports at the same pace to a fresh
  // Tarvion, which must answer with the same output reports.
  Peer peer2;
  ChildProcess replay({TARVION_VIRTUAL_PANELS_BIN, "--no-window", "--port", "0", "--script",
                       recording, "com1=com:0001:com"},
                      tools.path(), {});
  int replay_port = listening_port(replay);
  ASSERT_GT(replay_port, 0);
  TempFolder folder2, runtime2;
  auto tarvion2 = start_tarvion(folder2, runtime2, peer2.port, replay_port);
  EXPECT_EQ(replay.wait_exit(seconds(60)), 0);
  EXPECT_TRUE(peer2.received("recv \"Arn.Resp:256=11900:\\r\\n\""));
  tarvion2->signal(kCloseSignal);
  EXPECT_EQ(tarvion2->wait_exit(seconds(15)), 0);
  xvfb.signal(SIGTERM);
}

}  // namespace
}  // namespace tarvion::e2e
