// The real `tarvion --console` with the real tools: tools/virtual-panels as
// the Pendra panels and tools/zemp-peer as the simulator, over loopback.
#include <gtest/gtest.h>
#include <signal.h>

#include <map>

#include "child_process.h"
#include "tarvion_run.h"

namespace tarvion::e2e {
namespace {

using std::chrono::seconds;

// The port a tool prints in its "listening on 127.0.0.1:PORT" line.
int listening_port(ChildProcess& tool) {
  for (int i = 0; i < 20; ++i) {
    auto line = tool.next_out_line(seconds(10));
    if (!line) return 0;
    auto at = line->find("listening on 127.0.0.1:");
    if (at != std::string::npos) return std::stoi(line->substr(at + 23));
  }
  return 0;
}

bool has_line(const std::vector<std::string>& lines, const std::string& text) {
  for (const auto& line : lines) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

TEST(TarvionWithTools, ComKnobAndTransferReachThePanelAndTheServerAndCloseDarkensEveryPanel) {
  TempFolder tools;
  ChildProcess peer({TARVION_ZEMP_PEER, "--port", "0", "--keepalive", "1"}, tools.path(), {});
  int peer_port = listening_port(peer);
  ASSERT_GT(peer_port, 0);

  // The script waits for each display report before the next input, so the
  // steps do not depend on timing. The COM panel's reports, byte for byte:
  const std::string start = "000080110080118879";     // 118.000 active, 118.000 standby
  const std::string outer_up = "000080110090118879";  // standby 119.000
  const std::string swapped = "000090110080118879";   // 119.000 active, 118.000 standby
  tools.write("script", "expect com1 " + start + " 20000\n" + "turn com1 outer 1\n" +
                            "expect com1 " + outer_up + " 10000\n" + "tap com1 swap\n" +
                            "expect com1 " + swapped + " 10000\n" + "+600000 list\n");
  ChildProcess panels({TARVION_VIRTUAL_PANELS_BIN, "--port", "0", "--no-stdin", "--script",
                       tools.path() + "/script", "--panels", "multi,com,nav,switch"},
                      tools.path(), {});
  int panel_port = listening_port(panels);
  ASSERT_GT(panel_port, 0);

  TempFolder folder, runtime;
  folder.write("Tarvion.ini",
               zemp_ini(peer_port, "FIRST_DEVICE_COM1=YES\nFIRST_DEVICE_NAV1=YES\n"));
  ChildProcess tarvion({TARVION_BIN, "--console"}, folder.path(),
                       {{"XDG_RUNTIME_DIR", runtime.path()},
                        {"TARVION_VIRTUAL_PANELS", "127.0.0.1:" + std::to_string(panel_port)}});
  ASSERT_TRUE(tarvion.wait_out_line("Label9: Online", seconds(20)));

  // The transfer: the panel shows the swapped pair and the server gets COM1
  // alone, in units of 10 kHz.
  ASSERT_TRUE(panels.wait_out_line("OUTPUT com1 " + swapped +
                                       "    com1 display [119000] [118000]"
                                       "  dots 88  bright 121",
                                   seconds(30)))
      << "panel output seen: " << panels.out_lines().size() << " lines";
  EXPECT_TRUE(has_line(panels.out_lines(), "OUTPUT com1 " + outer_up));
  bool sent = false;
  bool kept_alive = false;
  for (int i = 0; i < 200 && !(sent && kept_alive); ++i) {
    auto line = peer.next_out_line(seconds(5));
    if (!line) break;
    sent = sent || line->ends_with("recv \"Arn.Resp:256=11900:\\r\\n\"");
    kept_alive = kept_alive || line->ends_with("recv \"Arn.Vivo:\\r\\n\"");
  }
  EXPECT_TRUE(sent) << "no one-pair COM1 line at the server";
  EXPECT_TRUE(kept_alive) << "keep-alive not answered";

  // The close: goodbye to the server, every radio panel blank at brightness 1,
  // the switch panel's lamps off.
  tarvion.signal(kCloseSignal);
  EXPECT_EQ(tarvion.wait_exit(seconds(15)), 0);
  bool goodbye = false;
  for (int i = 0; i < 200 && !goodbye; ++i) {
    auto line = peer.next_out_line(seconds(5));
    if (!line) break;
    goodbye = line->ends_with("recv \"Arn.Fin:\" (no line end)");
  }
  EXPECT_TRUE(goodbye);
  ASSERT_TRUE(panels.wait_out_line("program disconnected", seconds(10)));
  std::map<std::string, std::string> last;  // panel -> its last output line
  for (const auto& line : panels.out_lines()) {
    if (!line.starts_with("OUTPUT ")) continue;
    std::string panel = line.substr(7, line.find(' ', 7) - 7);
    last[panel] = line;
  }
  for (const char* radio : {"multi1", "com1", "nav1"}) {
    SCOPED_TRACE(radio);
    EXPECT_TRUE(last[radio].starts_with("OUTPUT " + std::string(radio) + " 00aaaaaaaaaaaa0001"))
        << last[radio];
  }
  EXPECT_NE(last["switch1"].find(" lights 00"), std::string::npos) << last["switch1"];
}

}  // namespace
}  // namespace tarvion::e2e
