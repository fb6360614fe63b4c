// tarvion-console.exe under Wine linked through FSUIPC to fsuipc-sim, the
// stand-in for FSUIPC and a simulator, with tools/virtual-panels as the
// panels: the link's status, radios and switches going out, gear and flaps
// coming back to the switch panel, and the stand-in going away and returning.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <map>
#include <regex>
#include <string>

#include "fsuipc_wine_support.h"

namespace tarvion::e2e {
namespace {

using std::chrono::seconds;

const std::string kSim = std::string(TARVION_WIN32_DIR) + "/tools/fsuipc-sim/fsuipc-sim.exe";

// The port in a tool's "listening on 127.0.0.1:PORT" line.
int listening_port(ChildProcess& tool) {
  auto line = wait_line_containing(tool, "listening on 127.0.0.1:", seconds(10));
  return line ? std::stoi(line->substr(line->find(':') + 1)) : 0;
}

std::unique_ptr<TypedChild> start_sim(const TempFolder& folder,
                                      const std::vector<std::string>& options) {
  std::vector<std::string> argv{"wine", kSim, "--travel-ms", "800"};
  argv.insert(argv.end(), options.begin(), options.end());
  return std::make_unique<TypedChild>(argv, folder.path());
}

TEST(TarvionWineFsuipc, LinkCarriesRadiosAndSwitchesBothWaysAndComesBackAfterTheStandInDied) {
  TempFolder folder;
  TypedChild panels({TARVION_VIRTUAL_PANELS_BIN, "--port", "0", "--panels", "com,xpdr,switch"},
                    folder.path());
  const int panel_port = listening_port(panels.process());
  ASSERT_GT(panel_port, 0);
  // The panel host prints every output report, several a second.
  LineFeed panel_lines(panels.process());

  folder.write("Tarvion.ini",
               "XPLANE=NO\nZEMP_HOST=127.0.0.1\nZEMP_PORT=8092\nMINIMIZED=NO\n"
               "SET_COM1=118000\nSET_COM2=121500\nSET_NAV1=10800\nSET_NAV2=11030\n"
               "SET_ADF1=3795\nSET_ADF2=2500\nSET_ATC=1200\nMFLAPS=30\nRTREN=YES\n"
               "FIRST_DEVICE_COM1=YES\n");
  ChildProcess tarvion({TARVION_BIN}, folder.path(),
                       {{"TARVION_VIRTUAL_PANELS", "127.0.0.1:" + std::to_string(panel_port)}});
  ASSERT_TRUE(tarvion.wait_out_line("Label16: Cannot link to FSUIPC or WideClient", seconds(30)));

  // A WideClient whose server runs no simulator: told apart from no server.
  auto sim = start_sim(folder, {"--fs98", "--version", "19980004"});
  ASSERT_TRUE(wait_line_containing(sim->process(), "listening", seconds(20)));
  EXPECT_TRUE(tarvion.wait_out_line(
      "Label16: Maybe running on WideClient, but FS not running on Server, or wrong FSUIPC",
      seconds(10)));
  sim->type("quit");
  EXPECT_EQ(sim->process().wait_exit(seconds(10)), 0);

  // The real thing: linked within a retry or two, every radio written.
  sim = start_sim(folder, {});
  ASSERT_TRUE(wait_line_containing(sim->process(), "listening", seconds(20)));
  ASSERT_TRUE(tarvion.wait_out_line("Label16: Ok", seconds(5)));
  ASSERT_TRUE(
      wait_line_containing(sim->process(), "0x034E COM1 bytes 00 18 = 118.00 MHz", seconds(10)));
  ASSERT_TRUE(
      wait_line_containing(sim->process(), "0x0354 transponder bytes 00 12 = 1200", seconds(5)));

  // A COM transfer and a squawk digit, from the panels to the offsets in BCD.
  panels.type("turn com1 outer 1");
  panels.type("tap com1 swap");
  EXPECT_TRUE(
      wait_line_containing(sim->process(), "0x034E COM1 bytes 00 19 = 119.00 MHz", seconds(10)));
  panels.type("turn xpdr1 inner 1");
  // Which digit the knob stepped is the panel's business: whatever code it
  // shows is what must arrive.
  std::string squawk_code;
  for (auto shown = panel_lines.wait_containing("xpdr1 display [", seconds(10));
       shown && squawk_code.empty();
       shown = panel_lines.wait_containing("xpdr1 display [", seconds(10))) {
    static const std::regex displayed(R"(display \[([0-7]{4})\])");
    std::smatch digits;
    if (std::regex_search(*shown, digits, displayed) && digits[1] != "1200") {
      squawk_code = digits[1];
    }
  }
  ASSERT_FALSE(squawk_code.empty()) << "the squawk never changed";
  auto squawk = wait_line_containing(sim->process(), "0x0354 transponder", seconds(10));
  ASSERT_TRUE(squawk);
  EXPECT_TRUE(squawk->ends_with("= " + squawk_code)) << *squawk << " vs panel " << squawk_code;

  // Gear lever and flaps from the switch panel to their offsets; the
  // stand-in's gear and flaps back to the panel's lights and display.
  panels.type("press switch1 gear");
  EXPECT_TRUE(wait_line_containing(sim->process(), "0x0BE8 gear lever bytes FF 3F 00 00 = down",
                                   seconds(10)));
  // Lights 0x07: the three legs down and locked.
  EXPECT_TRUE(panel_lines.wait_containing("switch1 switch  digits [00]  lights 07", seconds(10)));
  panels.type("tap switch1 flapsdown");
  EXPECT_TRUE(
      wait_line_containing(sim->process(), "0x0BDC flaps control bytes FF 0F 00 00", seconds(10)));
  // One detent (4095 of 16383) shows as 7 of MFLAPS 30.
  EXPECT_TRUE(panel_lines.wait_containing("switch1 switch  digits [07]  lights 07", seconds(10)));
  sim->type("gear up");
  sim->type("flaps 4");
  // Lever down, legs up: 0x38, each leg in transit.
  EXPECT_TRUE(panel_lines.wait_containing("switch1 switch  digits [30]  lights 38", seconds(10)));

  // The stand-in dies. A failed read goes unnoticed (and costs the ten
  // sends), so the link is found lost at the next write: a new COM1.
  sim->process().signal(SIGKILL);
  sim->process().wait_exit(seconds(10));
  panels.type("turn com1 outer 2");  // standby 118 to 120
  panels.type("tap com1 swap");
  EXPECT_TRUE(tarvion.wait_out_line("Label16: Disconnected", seconds(20)));
  EXPECT_TRUE(tarvion.wait_out_line("Label16: Cannot link to FSUIPC or WideClient", seconds(10)));

  // It comes back: linked again, and every radio written again, COM1 with
  // the value it took while there was no link.
  sim = start_sim(folder, {});
  ASSERT_TRUE(wait_line_containing(sim->process(), "listening", seconds(20)));
  ASSERT_TRUE(tarvion.wait_out_line("Label16: Ok", seconds(5)));
  std::map<std::string, std::string> radios = {
      {"0x034E COM1", "120.00 MHz"},       {"0x3118 COM2", "121.50 MHz"},
      {"0x0350 NAV1", "108.00 MHz"},       {"0x0352 NAV2", "110.30 MHz"},
      {"0x034C ADF1", "379.5 kHz"},        {"0x02D4 ADF2", "250.0 kHz"},
      {"0x0354 transponder", squawk_code},
  };
  for (int i = 0; i < 60 && !radios.empty(); ++i) {
    auto line = sim->process().next_out_line(seconds(5));
    if (!line) break;
    for (auto it = radios.begin(); it != radios.end(); ++it) {
      if (line->starts_with(it->first + " bytes") && line->ends_with("= " + it->second)) {
        radios.erase(it);
        break;
      }
    }
  }
  for (const auto& [radio, value] : radios) ADD_FAILURE() << radio << " not written as " << value;

  tarvion.signal(SIGINT);
  EXPECT_EQ(tarvion.wait_exit(seconds(15)), 0);
}

}  // namespace
}  // namespace tarvion::e2e
