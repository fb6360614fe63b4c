// The bridge between clients and simulator: range checks before any write,
// unmapped numbers reported once, and the echo hold that keeps a stale
// simulator report from travelling back as a change.
#include "bridge/bridge_core.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

namespace tarvion::bridge {
namespace {

struct RecordingSimulator : SimulatorLink {
  std::vector<std::string> writes;
  const BridgeMapping* mapping = nullptr;
  void write(size_t index, double value) override {
    writes.push_back(mapping->variables()[index].name + "=" + std::to_string(value));
  }
  void tick(Clock::time_point) override {}
};

struct Listener : ServerConnection {
  std::string* sent;
  explicit Listener(std::string* s) : sent(s) {}
  void send(std::string_view bytes) override { sent->append(bytes); }
  size_t unsent_bytes() const override { return 0; }
  void close() override {}
};

// One step of a script: a client's values line, a simulator report (value
// in the simulator's unit) or time passing.
struct Step {
  enum Kind { ClientA, ClientB, Sim, Wait } kind;
  std::string text;  // client: the values line's pairs; sim: "NUMBER=VALUE"
  int ms = 0;        // Wait
};

struct Case {
  const char* name;
  Simulator simulator;
  std::vector<Step> steps;
  std::vector<std::string> writes;  // to the simulator, in order
  std::string broadcast;            // what a listening client received
};

TEST(BridgeCore, WritesOnlyInRangeValuesAndHoldsBackTheSimulatorsEcho) {
  const Case cases[] = {
      {"registration of zeros writes nothing; the first exchange writes",
       Simulator::XPlane,
       {{Step::ClientA, "256=0:254=0:311=0:258=0"}, {Step::ClientA, "256=11900:311=7700"}},
       {"sim/cockpit/radios/com1_freq_hz=11900.000000",
        "sim/cockpit/radios/transponder_code=7700.000000"},
       ""},
      {"stale reports after a write are held back; the written value goes to everyone",
       Simulator::XPlane,
       {{Step::Sim, "256=11830"},
        {Step::ClientA, "256=11900"},
        {Step::Sim, "256=11830"},
        {Step::Wait, "", 500},
        {Step::Sim, "256=11830"},
        {Step::Sim, "256=11900"},
        {Step::Sim, "256=11900"}},
       {"sim/cockpit/radios/com1_freq_hz=11900.000000"},
       "Arn.Resp:256=11830:\r\nArn.Resp:256=11900:\r\n"},
      {"two clients on one radio: only the last write comes back",
       Simulator::XPlane,
       {{Step::ClientA, "257=12100"},
        {Step::ClientB, "257=12200"},
        {Step::Sim, "257=12100"},
        {Step::Sim, "257=12200"}},
       {"sim/cockpit/radios/com2_freq_hz=12100.000000",
        "sim/cockpit/radios/com2_freq_hz=12200.000000"},
       "Arn.Resp:257=12200:\r\n"},
      {"a simulator that keeps another value wins once the hold has passed",
       Simulator::XPlane,
       {{Step::ClientA, "254=11000"}, {Step::Wait, "", 1600}, {Step::Sim, "254=10950"}},
       {"sim/cockpit/radios/nav1_freq_hz=11000.000000"},
       "Arn.Resp:254=10950:\r\n"},
      {"FlightGear in MHz: reported 118.3 is 11830 on the wire",
       Simulator::FlightGear,
       {{Step::Sim, "256=118.3"}, {Step::ClientA, "256=11802:258=1800:258=397"}},
       {"/instrumentation/comm[0]/frequencies/selected-mhz=118.020000",
        "/instrumentation/adf[0]/frequencies/selected-khz=397.000000"},
       "Arn.Resp:256=11830:\r\n"},
      {"a squawk with an 8 and unmapped numbers are not written",
       Simulator::XPlane,
       {{Step::ClientA, "311=1270:311=7800:300=5:300=6"}},
       {"sim/cockpit/radios/transponder_code=1270.000000"},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> log;
    ZempServerHooks hooks{nullptr, [&](const std::string& line) { log.push_back(line); },
                          [](const std::string&) {}};
    ZempServer server(hooks);
    std::string heard;
    auto now = Clock::time_point() + std::chrono::hours(1);
    server.client_connected(std::make_unique<Listener>(&heard), "listener", now);
    BridgeCore core(BridgeMapping::builtin(c.simulator), server, hooks);
    RecordingSimulator sim;
    sim.mapping = &core.mapping();
    core.set_simulator(&sim);

    for (const Step& step : c.steps) {
      if (step.kind == Step::Wait) {
        now += Ms(step.ms);
      } else if (step.kind == Step::Sim) {
        const auto eq = step.text.find('=');
        const auto index = core.mapping().find(std::stoi(step.text.substr(0, eq)));
        ASSERT_TRUE(index);
        core.simulator_report(*index, std::stod(step.text.substr(eq + 1)), now);
      } else {
        std::vector<ZempPair> pairs;
        for (size_t at = 0; at < step.text.size();) {
          const size_t end = std::min(step.text.find(':', at), step.text.size());
          const std::string item = step.text.substr(at, end - at);
          const size_t eq = item.find('=');
          pairs.push_back({std::stoi(item.substr(0, eq)), std::stoi(item.substr(eq + 1))});
          at = end + 1;
        }
        core.client_values(step.kind == Step::ClientA ? 1 : 2, pairs, now);
      }
    }
    EXPECT_EQ(sim.writes, c.writes);
    EXPECT_EQ(heard, c.broadcast);
    // An unmapped number is named once, however often it comes.
    EXPECT_LE(
        std::count_if(log.begin(), log.end(),
                      [](const std::string& l) { return l.find("300") != std::string::npos; }),
        1);
  }
}

}  // namespace
}  // namespace tarvion::bridge
