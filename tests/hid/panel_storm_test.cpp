// Panels unplugged while their input flows: a single unplug, and a storm of
// plug/unplug cycles that must leave no panel object, thread or handle behind.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "panel_layer_rig.h"

namespace tarvion {
namespace {

using testing::panel_traits;
using testing::PanelLayerRig;

// Feeds alternating COM panel reports (outer knob phase A on, off) into
// whichever device is current, until stopped.
class InputFeeder {
 public:
  explicit InputFeeder(VirtualHid& hid) : hid_(hid), thread_([this] { run(); }) {}
  ~InputFeeder() {
    stop_ = true;
    thread_.join();
  }
  void feed(int id) { current_ = id; }

 private:
  void run() {
    uint8_t phase = 0;
    while (!stop_) {
      int id = current_;
      if (id != 0 && hid_.inject_input(id, {0x00, static_cast<uint8_t>(0xFE | phase), 0xFF}))
        phase ^= 1;
      std::this_thread::yield();
    }
  }
  VirtualHid& hid_;
  std::atomic<bool> stop_{false};
  std::atomic<int> current_{0};
  std::thread thread_;
};

TEST(Unplug, DuringInputRemovesThePanelOnceAndReleasesItsDevice) {
  PanelLayerRig rig;
  rig.state.radio_value[0] = 118000;
  int id = rig.hid.plug(panel_traits(13, "0003"));
  rig.start();
  int unplugs = 0;
  THidDevice* device = rig.layer.panel_devices().at(0);
  THidPlugEvent release = device->OnUnplug();
  device->SetOnUnplug(THidPlugEvent(&unplugs, [&](THidDevice& d) {
    ++unplugs;
    release(d);
  }));
  {
    InputFeeder feeder(rig.hid);
    feeder.feed(id);
    ASSERT_TRUE(rig.pump_until([&] { return rig.radio(3)->outer_last >= 0; }));
    rig.hid.unplug(id);
    rig.notifier.deliver_pending();
    EXPECT_EQ(unplugs, 1);
    EXPECT_TRUE(rig.lists.radios.empty());
    EXPECT_TRUE(rig.layer.panel_devices().empty());
    EXPECT_TRUE(rig.layer.controller().devices().empty());
    rig.notifier.notify_system();
    rig.notifier.deliver_pending();
    EXPECT_EQ(unplugs, 1);
  }
  EXPECT_EQ(rig.hid.open_handle_count(), 0u);
  rig.layer.panel_layer_stop();
}

TEST(Storm, ThousandPlugUnplugCyclesWithInputFlowingLeaveNothingBehind) {
  PanelLayerRig rig;
  rig.start();
  const uint16_t kinds[] = {13, 14, 15, 16, 8, 17};
  int delivered_cycles = 0;
  {
    InputFeeder feeder(rig.hid);
    for (int cycle = 0; cycle < 1000; ++cycle) {
      uint16_t kind = kinds[cycle % 6];
      int id = rig.hid.plug(panel_traits(kind, "0042"));
      feeder.feed(id);
      rig.notifier.deliver_pending();
      ASSERT_EQ(rig.lists.radios.size(), 1u) << "cycle " << cycle;
      // Every tenth cycle waits for input to arrive; the rest unplug at once,
      // wherever the read thread happens to be.
      if (cycle % 10 == 0) {
        c_rad* rad = rig.lists.radios[0].get();
        ASSERT_TRUE(rig.pump_until([&] { return rad->last_input != 0; })) << "cycle " << cycle;
        ++delivered_cycles;
      } else {
        rig.main_thread.run_pending();
      }
      rig.layer.send_pending_reports();
      rig.hid.unplug(id);
      feeder.feed(0);
      rig.notifier.deliver_pending();
      ASSERT_TRUE(rig.lists.radios.empty()) << "cycle " << cycle;
      rig.hid.forget(id);
    }
  }
  EXPECT_EQ(delivered_cycles, 100);
  EXPECT_TRUE(rig.lists.radios.empty());
  EXPECT_TRUE(rig.layer.panel_devices().empty());
  EXPECT_TRUE(rig.layer.controller().devices().empty());
  EXPECT_EQ(rig.hid.open_handle_count(), 0u);
  EXPECT_EQ(rig.main_thread.run_pending(), 0);
  rig.layer.panel_layer_stop();
}

}  // namespace
}  // namespace tarvion
