// The link as the spine drives it: the connect attempt and its status text,
// and what a lost link does to the flags, the label and the radio marks.
#include "fsuipc/fsuipc_link.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/virtual/in_memory_fsuipc.h"

namespace tarvion {
namespace {

struct LinkRig {
  InMemoryFsuipc service;
  RadioState state;
  PanelLists lists;
  Config config;
  ProgramFlags flags;
  std::vector<std::string> statuses;
  FsuipcLink link{service, RadioContext{state, lists, config}, flags,
                  FsuipcHooks{[this](const std::string& text) { statuses.push_back(text); }}};

  LinkRig() {
    link.reset_exchange_state();
    link.fill_fsuipc_read_table();
    flags.fsuipc_retry = true;
  }
};

TEST(FsuipcLink, ConnectAttemptShowsItsOutcome) {
  struct Case {
    std::string name;
    std::function<void(InMemoryFsuipc&)> setup;
    std::string status;
  };
  const std::vector<Case> cases = {
      {"simulator running", [](InMemoryFsuipc&) {}, "Ok"},
      {"no simulator", [](InMemoryFsuipc& s) { s.window_class.clear(); },
       "Cannot link to FSUIPC or WideClient"},
      {"WideClient without FS",
       [](InMemoryFsuipc& s) {
         s.window_class = "FS98MAIN";
         s.set_versions(0x40000000, 0x00000008);
       },
       "Maybe running on WideClient, but FS not running on Server, or wrong FSUIPC"},
      {"service hanging", [](InMemoryFsuipc& s) { s.faults.failing_sends = 10; },
       "IPC timed out all retries"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LinkRig rig;
    c.setup(rig.service);
    rig.link.fsuipc_connect();
    const bool ok = c.status == "Ok";
    EXPECT_EQ(rig.statuses, std::vector<std::string>{c.status});
    EXPECT_EQ(rig.flags.fsuipc_linked, ok);
    EXPECT_EQ(rig.flags.fsuipc_retry, !ok);
  }
}

TEST(FsuipcLink, AFailedWriteDropsTheLinkAndTheNextAttemptReopensIt) {
  LinkRig rig;
  rig.link.fsuipc_connect();
  ASSERT_TRUE(rig.flags.fsuipc_linked);
  rig.lists.radios.push_back(std::make_unique<c_rad>(make_c_rad(kComPanel, 1, 16)));
  rig.lists.switches.push_back(std::make_unique<c_efis>());
  rig.state.radio_dirty.fill(1);
  rig.link.fsuipc_exchange();
  EXPECT_EQ(rig.state.radio_dirty, (std::array<uint8_t, kRadioCount>{}));

  // The service stops answering properly: the next write exchange fails.
  rig.service.faults.answer = 0;
  rig.state.radio_dirty[COM2] = 1;
  rig.state.switch_dirty[3] = 1;
  rig.link.fsuipc_exchange();
  EXPECT_FALSE(rig.flags.fsuipc_linked);
  EXPECT_TRUE(rig.flags.fsuipc_retry);
  EXPECT_EQ(rig.statuses.back(), "Disconnected");
  EXPECT_EQ(rig.state.radio_dirty, (std::array<uint8_t, kRadioCount>{1, 1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(rig.state.switch_dirty[3], 0) << "switch values are not marked again";
  EXPECT_TRUE(rig.link.client().is_open()) << "closed by the next attempt, not here";

  rig.link.fsuipc_connect();
  EXPECT_EQ(rig.statuses.back(), "IPC request contains bad data");
  EXPECT_EQ(rig.service.atoms_held(), 0) << "the failed attempt released everything";

  rig.service.faults.answer.reset();
  rig.link.fsuipc_connect();
  EXPECT_EQ(rig.statuses.back(), "Ok");
  EXPECT_TRUE(rig.flags.fsuipc_linked);
  EXPECT_EQ(rig.service.atoms_held(), 1);
  EXPECT_EQ(rig.service.mappings_held(), 1);
}

}  // namespace
}  // namespace tarvion
