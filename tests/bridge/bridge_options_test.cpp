// tarvion-bridge's command line and map files: what users type, and the
// mistakes they make.
#include "bridge/bridge_options.h"

#include <gtest/gtest.h>

#include "base/error.h"

namespace tarvion::bridge {
namespace {

TEST(BridgeOptions, CommandLinesAndTheirErrors) {
  struct Case {
    std::vector<std::string> args;
    std::string expected;  // "sim host port listen:port" or "error: <part of the message>"
  };
  const Case cases[] = {
      {{"xplane"}, "x  0 127.0.0.1:8092"},
      {{"xplane", "192.168.1.20"}, "x 192.168.1.20 49000 127.0.0.1:8092"},
      {{"flightgear"}, "f 127.0.0.1 5401 127.0.0.1:8092"},
      {{"fgfs", "simpc:5500", "--listen", "0.0.0.0:9000"}, "f simpc 5500 0.0.0.0:9000"},
      {{"xplane", "[::1]:49001", "--listen", "[::1]"}, "x ::1 49001 ::1:8092"},
      {{}, "error: name the simulator"},
      {{"msfs"}, "error: unknown simulator 'msfs'"},
      {{"xplane", "host:70000"}, "error: '70000' is not a port number"},
      {{"xplane", "host:"}, "error: '' is not a port number"},
      {{"xplane", "--listen"}, "error: --listen needs a value"},
      {{"xplane", "a", "b"}, "error: unexpected argument 'b'"},
      {{"xplane", "--bogus"}, "error: unknown option '--bogus'"},
  };
  for (const Case& c : cases) {
    std::string got;
    try {
      const BridgeOptions o = parse_bridge_options(c.args);
      got = std::string(o.simulator == Simulator::XPlane ? "x" : "f") + " " + o.sim_host + " " +
            std::to_string(o.sim_port) + " " + o.listen_host + ":" + std::to_string(o.listen_port);
    } catch (const TarvionError& e) {
      got = std::string("error: ") + e.what();
    }
    EXPECT_TRUE(got.starts_with(c.expected)) << got;
  }
}

TEST(BridgeMapping, MapFilesReplaceOrAddNamesAndKeepTheRadiosRanges) {
  BridgeMapping mapping = BridgeMapping::builtin(Simulator::XPlane);
  mapping.apply_map_file(
      "# a Boeing with radios of its own\r\n"
      "256 = laminar/B738/com1_freq 0.001\n"
      "; comment\n\n"
      "400=aircraft/custom/dial\n");
  const auto com1 = mapping.find(256);
  ASSERT_TRUE(com1);
  EXPECT_EQ(mapping.variables()[*com1].name, "laminar/B738/com1_freq");
  EXPECT_DOUBLE_EQ(*mapping.to_simulator(*com1, 11830), 11.83);
  EXPECT_FALSE(mapping.to_simulator(*com1, 0)) << "the radio's band stays";
  EXPECT_EQ(mapping.to_wire(*com1, 11.83), 11830);
  EXPECT_EQ(mapping.to_simulator(*mapping.find(400), -5), -5.0);
  EXPECT_EQ(mapping.variables().size(), 8u);

  for (const char* bad :
       {"256", "x=name", "256=", "256=name zero", "256=name 0", "256=name 1e999", "256=name 1 2"}) {
    EXPECT_THROW(mapping.apply_map_file(std::string("\n") + bad), TarvionError) << bad;
  }
  try {
    mapping.apply_map_file("\n\n256");
  } catch (const TarvionError& e) {
    EXPECT_STREQ(e.what(), "map file line 3: expected NUMBER=NAME [FACTOR] ('256')");
  }
}

}  // namespace
}  // namespace tarvion::bridge
