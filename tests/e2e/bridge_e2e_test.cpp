// The whole chain with the real programs over loopback: tools/virtual-panels
// -> tarvion -> tarvion-bridge -> tools/sim-standin (X-Plane's UDP interface
// or FlightGear's property server), and back with FOLLOW_SIM=YES. Then the
// bridge alone against raw ZEMP clients and a broken simulator. Under Wine the
// same tests run tarvion-bridge.exe and tarvion-console.exe.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <set>
#include <thread>

#include "child_process.h"
#include "loopback_server.h"
#include "tarvion_run.h"

namespace tarvion::e2e {
namespace {

using std::chrono::seconds;

int listening_port(ChildProcess& tool, const std::string& prefix = "listening on 127.0.0.1:") {
  for (int i = 0; i < 20; ++i) {
    auto line = tool.next_out_line(seconds(20));
    if (!line) return 0;
    auto at = line->find(prefix);
    if (at != std::string::npos) return std::stoi(line->substr(at + prefix.size()));
  }
  return 0;
}

// Reads a tool's stdout until a line contains text (lines read stay in out_lines()).
bool saw(ChildProcess& tool, const std::string& text, seconds bound = seconds(20)) {
  const auto until = std::chrono::steady_clock::now() + bound;
  for (const auto& line : tool.out_lines()) {
    if (line.find(text) != std::string::npos) return true;
  }
  while (std::chrono::steady_clock::now() < until) {
    auto line = tool.next_out_line(
        std::chrono::duration_cast<Ms>(until - std::chrono::steady_clock::now()));
    if (!line) return false;
    if (line->find(text) != std::string::npos) return true;
  }
  return false;
}

// A free UDP port on loopback, for a stand-in that must come up later.
int free_udp_port() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t n = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  ::close(fd);
  return ntohs(a.sin_port);
}

std::unique_ptr<Connection> zemp_client(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<Connection>(fd);
}

// Reads values lines until one holds text; keep-alives are answered as Tarvion does.
bool client_gets(Connection& client, const std::string& text, seconds bound = seconds(20)) {
  const auto until = std::chrono::steady_clock::now() + bound;
  while (std::chrono::steady_clock::now() < until) {
    auto line = client.read_line(Ms(500));
    if (!line) continue;
    if (*line == "Arn.Vivo:") client.send("Arn.Vivo:\r\n");
    if (line->find(text) != std::string::npos) return true;
  }
  return false;
}

struct Simulator {
  const char* name;                // the bridge's first argument, the stand-in's mode
  const char* com1;                // how the stand-in prints a COM1 write of 119.00 MHz
  const char* com1_name;           // dataref or property the stand-in's "set" takes
  const char* com1_12150;          // 121.50 MHz in the simulator's unit
  std::vector<std::string> names;  // all seven, as printed with each write
  const char* last_name;           // the last one the bridge subscribes
};

const Simulator kXPlane{"xplane",
                        "DREF sim/cockpit/radios/com1_freq_hz=11900",
                        "sim/cockpit/radios/com1_freq_hz",
                        "12150",
                        {"com1_freq_hz=", "com2_freq_hz=", "nav1_freq_hz=", "nav2_freq_hz=",
                         "adf1_freq_hz=", "adf2_freq_hz=", "transponder_code="},
                        "sim/cockpit/radios/transponder_code"};
const Simulator kFlightGear{
    "flightgear",
    "set /instrumentation/comm[0]/frequencies/selected-mhz=119",
    "/instrumentation/comm[0]/frequencies/selected-mhz",
    "121.5",
    {"comm[0]/frequencies/selected-mhz=", "comm[1]/frequencies/selected-mhz=",
     "nav[0]/frequencies/selected-mhz=", "nav[1]/frequencies/selected-mhz=",
     "adf[0]/frequencies/selected-khz=", "adf[1]/frequencies/selected-khz=",
     "transponder/id-code="},
    "/instrumentation/transponder/id-code"};

class BridgeChain : public testing::TestWithParam<const Simulator*> {};

TEST_P(BridgeChain, KnobAndTransferLandInTheSimulatorAndItsOwnChangeReachesThePanel) {
  const Simulator& sim = *GetParam();
  TempFolder tools;
  ChildProcess standin({TARVION_SIM_STANDIN, sim.name, "--port", "0"}, tools.path(), {}, true);
  const int sim_port = listening_port(standin);
  ASSERT_GT(sim_port, 0);
  ChildProcess bridge({TARVION_BRIDGE_BIN, sim.name, "127.0.0.1:" + std::to_string(sim_port),
                       "--listen", "127.0.0.1:0", "--verbose"},
                      tools.path(), {});
  const int bridge_port = listening_port(bridge);
  ASSERT_GT(bridge_port, 0);
  // The simulator's values known first: with FOLLOW_SIM a radio it reports
  // after Tarvion has connected would be taken by the panels instead.
  ASSERT_TRUE(saw(bridge, std::string("simulator ") + sim.last_name));

  const std::string start = "000080110080118879";     // 118.000 active and standby
  const std::string outer_up = "000080110090118879";  // standby 119.000
  const std::string swapped = "000090110080118879";   // 119.000 active
  tools.write("script", "expect com1 " + start + " 30000\nturn com1 outer 1\nexpect com1 " +
                            outer_up + " 10000\ntap com1 swap\nexpect com1 " + swapped +
                            " 10000\n+600000 list\n");
  ChildProcess panels({TARVION_VIRTUAL_PANELS_BIN, "--port", "0", "--no-stdin", "--script",
                       tools.path() + "/script", "--panels", "com"},
                      tools.path(), {});
  const int panel_port = listening_port(panels);
  ASSERT_GT(panel_port, 0);

  TempFolder folder, runtime;
  folder.write("Tarvion.ini", zemp_ini(bridge_port, "FIRST_DEVICE_COM1=YES\nFOLLOW_SIM=YES\n"));
  ChildProcess tarvion({TARVION_BIN, "--console"}, folder.path(),
                       {{"XDG_RUNTIME_DIR", runtime.path()},
                        {"TARVION_VIRTUAL_PANELS", "127.0.0.1:" + std::to_string(panel_port)}});
  ASSERT_TRUE(tarvion.wait_out_line("Label9: Online", seconds(30)));

  // Knob and transfer: 119.00 MHz lands on the simulator's COM1.
  ASSERT_TRUE(saw(standin, sim.com1, seconds(40)));
  // Start-up: all seven radios were written.
  for (const std::string& name : sim.names) {
    EXPECT_TRUE(saw(standin, name, seconds(10))) << name << " never written";
  }
  if (HasFailure()) {
    while (bridge.next_out_line(Ms(200))) {
    }
    for (const auto& line : bridge.out_lines()) std::fprintf(stderr, "bridge: %s\n", line.c_str());
    for (const auto& line : standin.out_lines()) std::fprintf(stderr, "sim: %s\n", line.c_str());
  }

  // The pilot tunes COM1 in the simulator: the panel follows.
  standin.write_in(std::string("set ") + sim.com1_name + " " + sim.com1_12150 + "\n");
  ASSERT_TRUE(saw(panels, "com1 display [121500] [118000]", seconds(30)));
  // Well past the 2 s refresh, nothing went back and the panel still shows it.
  std::this_thread::sleep_for(seconds(3));
  while (standin.next_out_line(Ms(200))) {
  }
  size_t writes_after = 0;
  bool seen_set = false;
  for (const auto& line : standin.out_lines()) {
    if (line.find(std::string("set ") + sim.com1_name) != std::string::npos)
      seen_set = true;
    else if (seen_set && line.find(sim.names[0]) != std::string::npos)
      ++writes_after;
  }
  EXPECT_EQ(writes_after, 0u) << "the refresh sent the panel's old value back";
  while (panels.next_out_line(Ms(200))) {
  }
  std::string last;
  for (const auto& line : panels.out_lines()) {
    if (line.starts_with("OUTPUT com1 ")) last = line;
  }
  EXPECT_NE(last.find("com1 display [121500] [118000]"), std::string::npos) << last;

  tarvion.signal(kCloseSignal);
  EXPECT_EQ(tarvion.wait_exit(seconds(20)), 0);
  EXPECT_TRUE(saw(bridge, "said goodbye", seconds(20)));
}

INSTANTIATE_TEST_SUITE_P(Simulators, BridgeChain, testing::Values(&kXPlane, &kFlightGear),
                         [](const auto& info) { return std::string(info.param->name); });

TEST(BridgeFaults, LateAndRestartingXPlaneGarbageAndClientsThatVanishOrShare) {
  TempFolder tools;
  const int sim_port = free_udp_port();
  ChildProcess bridge({TARVION_BRIDGE_BIN, "xplane", "127.0.0.1:" + std::to_string(sim_port),
                       "--listen", "127.0.0.1:0"},
                      tools.path(), {});
  const int bridge_port = listening_port(bridge);
  ASSERT_GT(bridge_port, 0);
  const int bridge_udp = listening_port(bridge, "from UDP port ");
  ASSERT_GT(bridge_udp, 0);

  // A client registers while X-Plane is not there yet.
  auto a = zemp_client(bridge_port);
  ASSERT_TRUE(a);
  a->send("Arn.Resp:256=11800:254=10800:311=1200:258=100:257=11800:255=10800:259=100:\r\n");
  ASSERT_TRUE(saw(bridge, "no answer from X-Plane", seconds(20)));

  // X-Plane comes up later: subscribed, and its values reach the client.
  ChildProcess standin({TARVION_SIM_STANDIN, "xplane", "--port", std::to_string(sim_port)},
                       tools.path(), {}, true);
  ASSERT_TRUE(saw(standin, "RREF subscribe 0 sim/cockpit/radios/com1_freq_hz", seconds(20)));
  ASSERT_TRUE(client_gets(*a, "256=11830:"));

  // Garbage datagrams from X-Plane's address change nothing.
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(static_cast<uint16_t>(bridge_udp));
  for (const std::string& junk : {std::string("RREF"), std::string(2000, '\xff'),
                                  std::string("RREF,\x00\x00\x00\x00\xff\xff\xff\x7f", 13),
                                  std::string("RREF,\x63\x00\x00\x00\x00\x00\x80\x3f", 13)}) {
    ::sendto(fd, junk.data(), junk.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  ::close(fd);

  // A client vanishing mid-line; another sharing the radios with the first.
  {
    auto b = zemp_client(bridge_port);
    ASSERT_TRUE(b);
    b->send("Arn.Resp:257=12");
  }
  auto c = zemp_client(bridge_port);
  ASSERT_TRUE(c);
  c->send("Arn.Resp:257=12100:\r\n");
  ASSERT_TRUE(saw(standin, "DREF sim/cockpit/radios/com2_freq_hz=12100"));
  EXPECT_TRUE(client_gets(*a, "257=12100:")) << "the other client did not learn the change";

  // X-Plane restarts and forgets its subscriptions: the bridge subscribes again.
  standin.write_in("restart\n");
  ASSERT_TRUE(saw(bridge, "X-Plane stopped answering", seconds(20)));
  ASSERT_TRUE(saw(standin, "RREF subscribe 6 sim/cockpit/radios/transponder_code", seconds(20)));
  a->send("Arn.Resp:256=12000:\r\n");
  EXPECT_TRUE(saw(standin, "DREF sim/cockpit/radios/com1_freq_hz=12000"));
  EXPECT_TRUE(bridge.running());
  for (const auto& line : standin.out_lines()) {
    EXPECT_EQ(line.find("DREF sim/cockpit/radios/com2_freq_hz=12\n"), std::string::npos) << line;
  }
  bridge.signal(kCloseSignal);
  EXPECT_EQ(bridge.wait_exit(seconds(20)), 0);
}

TEST(BridgeFaults, LateFlightGearGarbagePropertyLinesAndAFlightGearThatRestarts) {
  LoopbackServer fgfs(false);  // refuses until FlightGear "starts"
  TempFolder tools;
  ChildProcess bridge({TARVION_BRIDGE_BIN, "flightgear", "127.0.0.1:" + std::to_string(fgfs.port()),
                       "--listen", "127.0.0.1:0"},
                      tools.path(), {});
  const int bridge_port = listening_port(bridge);
  ASSERT_GT(bridge_port, 0);
  auto a = zemp_client(bridge_port);
  ASSERT_TRUE(a);
  ASSERT_TRUE(saw(bridge, "does not answer (is fgfs running with --telnet?)"));
  fgfs.listen();
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    auto fg = fgfs.accept(Ms(20000));
    ASSERT_TRUE(fg);
    EXPECT_EQ(fg->read_line(Ms(10000)), "data");
    // Seven gets, then seven subscribes, which FlightGear echoes.
    std::string echoes;
    for (int i = 0; i < 14; ++i) {
      const auto line = fg->read_line(Ms(10000));
      ASSERT_TRUE(line);
      if (line->starts_with("subscribe ")) echoes += *line + "\r\n";
    }
    const std::string value = round == 0 ? "118.3" : "121.75";
    fg->send(echoes + std::string("\x01\xff garbage\r\n", 11) + std::string(9000, 'x') + "\r\n" +
             "/instrumentation/comm/frequencies/selected-mhz=" + value + "\r\n" +
             "/instrumentation/comm/frequencies/selected-mhz=not-a-number\r\n");
    EXPECT_TRUE(client_gets(*a, round == 0 ? "256=11830:" : "256=12175:"));
    // FlightGear quits; a new one is connected to.
    fg.reset();
  }
  EXPECT_TRUE(bridge.running());
}

}  // namespace
}  // namespace tarvion::e2e
