// A logoff under Wine, told as Windows tells it: WM_QUERYENDSESSION, then
// WM_ENDSESSION to a top-level window of each Windows program (Tarvion.exe's
// own, the console program's hidden one). Each closes as its close button or
// Ctrl-C does, before it answers: the goodbye reaches the ZEMP server and the
// panels are left blank at brightness 1.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "child_process.h"
#include "loopback_server.h"
#include "tarvion_run.h"

namespace tarvion::e2e {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const std::string kWin32Dir = TARVION_WIN32_DIR;

// argv run by wine, found on PATH through the shell.
std::vector<std::string> under_wine(std::vector<std::string> argv) {
  argv.insert(argv.begin(), {"/bin/sh", "-c", "exec wine \"$@\"", "sh"});
  return argv;
}

TEST(TarvionWineSessionEnd, LogoffClosesEitherProgramGoodbyeFirstPanelsDark) {
  struct Case {
    const char* program;
    const char* window_class;
  };
  for (const Case& c :
       {Case{"tarvion-console.exe", "TarvionSessionEnd"}, Case{"Tarvion.exe", "TarvionForm1"}}) {
    SCOPED_TRACE(c.program);
    LoopbackServer zemp;
    TempFolder tools, folder;
    ChildProcess panels(
        {TARVION_VIRTUAL_PANELS_BIN, "--port", "0", "--no-stdin", "--panels", "com"}, tools.path(),
        {});
    auto listening = panels.next_out_line(seconds(10));
    const std::string prefix = "listening on 127.0.0.1:";
    ASSERT_TRUE(listening && listening->starts_with(prefix));
    folder.write("Tarvion.ini", zemp_ini(zemp.port()));
    ChildProcess tarvion(
        under_wine({kWin32Dir + "/src/main/" + c.program}), folder.path(),
        {{"TARVION_VIRTUAL_PANELS", "127.0.0.1:" + listening->substr(prefix.size())}});
    auto link = zemp.accept(seconds(60));
    ASSERT_TRUE(link) << "never connected";
    ASSERT_TRUE(link->read_line(seconds(20))) << "no registration";
    // Lit at full brightness before the logoff.
    bool lit = false;
    while (!lit) {
      auto line = panels.next_out_line(seconds(20));
      ASSERT_TRUE(line) << "the panel was never drawn";
      lit = line->starts_with("OUTPUT com1 ") && line->ends_with(" bright 121");
    }

    ChildProcess windows(under_wine({kWin32Dir + "/tests/win32/window/tarvion-window-driver.exe",
                                     "session-end", c.window_class}),
                         "/", {});
    std::vector<std::string> said;
    // Its two lines, not the pipe's end: Wine's helpers may hold that open.
    for (int i = 0; i < 2; ++i) {
      if (auto line = windows.next_out_line(seconds(60))) said.push_back(*line);
    }
    EXPECT_EQ(said, (std::vector<std::string>{"query: 1", "ended"}));
    // By the time the end was answered the goodbye was on its way.
    auto rest = link->read_to_end(seconds(10));
    ASSERT_TRUE(rest) << "the connection was not closed";
    EXPECT_TRUE(rest->ends_with("Arn.Fin:")) << *rest;
    EXPECT_EQ(tarvion.wait_exit(seconds(30)), 0);

    while (panels.next_out_line(milliseconds(500))) {
    }
    std::string last;
    for (const auto& line : panels.out_lines()) {
      if (line.starts_with("OUTPUT com1 ")) last = line;
    }
    EXPECT_TRUE(last.starts_with("OUTPUT com1 00aaaaaaaaaaaa0001 ")) << last;
  }
}

}  // namespace
}  // namespace tarvion::e2e
