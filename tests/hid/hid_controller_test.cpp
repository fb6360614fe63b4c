// THidDeviceController: reconciliation of its list with the devices present,
// the events it fires, claiming and releasing, and enumeration.
#include "hid/hid_controller.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "base/error.h"
#include "hid_rig.h"

namespace tarvion {
namespace {

using testing::HidRig;
using testing::panel_traits;

// Records the controller's events by name and device driver key.
struct EventLog {
  std::vector<std::string> entries;
  TNotifyEvent change() {
    return TNotifyEvent(&code_change,
                        [this](THidDeviceController&) { entries.push_back("change"); });
  }
  THidPlugEvent plug(const std::string& name) {
    return THidPlugEvent(
        name == "arrival"   ? &code_arrival
        : name == "removal" ? &code_removal
                            : &code_unplug,
        [this, name](THidDevice& d) { entries.push_back(name + " " + d.PnPInfo().Driver); });
  }
  std::vector<std::string> take() { return std::exchange(entries, {}); }
  char code_change = 0, code_arrival = 0, code_removal = 0, code_unplug = 0;
};

class HidControllerTest : public ::testing::Test {
 protected:
  void wire_all() {
    controller.SetOnArrival(log.plug("arrival"));
    controller.SetOnRemoval(log.plug("removal"));
    controller.SetOnDeviceUnplug(log.plug("unplug"));
    controller.SetOnDeviceChange(log.change());
  }
  std::vector<std::string> keys() const {
    std::vector<std::string> out;
    for (const auto& d : controller.devices()) out.push_back(d->PnPInfo().Driver);
    return out;
  }

  HidRig rig;
  THidDeviceController controller{rig.hid, rig.notifier, rig.main_thread};
  EventLog log;
};

TEST_F(HidControllerTest, ConstructionNotificationReportsAChangeEvenWithNothingNew) {
  wire_all();
  EXPECT_EQ(log.take(), std::vector<std::string>{});  // nothing present, nothing changed
  ASSERT_EQ(rig.notifier.pending(), 1u);
  rig.notifier.deliver_pending();
  EXPECT_EQ(log.take(), std::vector<std::string>{"change"});
  rig.notifier.notify_system();
  rig.notifier.deliver_pending();
  EXPECT_EQ(log.take(), std::vector<std::string>{});
}

TEST_F(HidControllerTest, WithoutHidServicesNothingIsListedOrPosted) {
  HidRig unbound;
  unbound.hid.set_bound(false);
  unbound.hid.plug(panel_traits(13, "0001"));
  unbound.notifier.deliver_pending();
  THidDeviceController absent(unbound.hid, unbound.notifier, unbound.main_thread);
  EXPECT_EQ(unbound.notifier.pending(), 0u);
  absent.DeviceChange();
  EXPECT_TRUE(absent.devices().empty());
}

TEST_F(HidControllerTest, AssigningADifferentChangeHandlerRunsDeviceChangeAtOnce) {
  rig.notifier.deliver_pending();
  rig.hid.plug(panel_traits(13, "0001"));
  controller.SetOnDeviceChange(log.change());
  EXPECT_EQ(keys(), std::vector<std::string>{"0001"});
  EXPECT_EQ(log.take(), std::vector<std::string>{"change"});
  rig.hid.plug(panel_traits(13, "0002"));
  controller.SetOnDeviceChange(log.change());  // same code: nothing runs
  EXPECT_EQ(keys(), std::vector<std::string>{"0001"});
  EXPECT_EQ(log.take(), std::vector<std::string>{});
}

TEST_F(HidControllerTest, ReconcilesArrivalsAndRemovalsInOneChange) {
  wire_all();
  rig.notifier.deliver_pending();
  log.take();
  int a = rig.hid.plug(panel_traits(13, "000A"));
  rig.hid.plug(panel_traits(14, "000B"));
  // Two notifications: the first finds both devices, the second nothing new.
  rig.notifier.deliver_pending();
  EXPECT_EQ(keys(), (std::vector<std::string>{"000A", "000B"}));
  EXPECT_EQ(log.take(), (std::vector<std::string>{"arrival 000A", "arrival 000B", "change"}));

  rig.hid.plug(panel_traits(15, "000C"));
  rig.hid.unplug(a);
  rig.notifier.deliver_pending();
  EXPECT_EQ(keys(), (std::vector<std::string>{"000B", "000C"}));
  EXPECT_EQ(log.take(),
            (std::vector<std::string>{"unplug 000A", "removal 000A", "arrival 000C", "change"}));
}

TEST_F(HidControllerTest, RemovalsRunFromLastToFirst) {
  wire_all();
  rig.notifier.deliver_pending();
  int ids[3];
  for (int i = 0; i < 3; ++i)
    ids[i] = rig.hid.plug(panel_traits(13, "000" + std::to_string(i + 1)));
  rig.notifier.deliver_pending();
  log.take();
  for (int id : ids) rig.hid.unplug(id);
  rig.notifier.deliver_pending();
  EXPECT_EQ(log.take(),
            (std::vector<std::string>{"unplug 0003", "removal 0003", "unplug 0002", "removal 0002",
                                      "unplug 0001", "removal 0001", "change"}));
  EXPECT_TRUE(controller.devices().empty());
}

TEST_F(HidControllerTest, DeviceListedAgainKeepsItsObjectClaimAndHandlers) {
  rig.notifier.deliver_pending();
  rig.hid.plug(panel_traits(13, "0001"));
  rig.notifier.deliver_pending();
  THidDevice* claimed = nullptr;
  ASSERT_TRUE(controller.ClaimFirst(claimed));
  uint64_t serial = claimed->serial();
  rig.notifier.notify_system();
  rig.notifier.deliver_pending();
  ASSERT_EQ(controller.devices().size(), 1u);
  EXPECT_EQ(controller.devices()[0]->serial(), serial);
  EXPECT_TRUE(controller.devices()[0]->Claimed());
  controller.Release(claimed);
  EXPECT_EQ(claimed, nullptr);
}

TEST_F(HidControllerTest, GoneButClaimedIsCountedAgainUntilReleasedButUnpluggedOnce) {
  rig.notifier.deliver_pending();
  wire_all();
  int id = rig.hid.plug(panel_traits(13, "0001"));
  rig.notifier.deliver_pending();
  log.take();
  THidDevice* claimed = nullptr;
  ASSERT_TRUE(controller.ClaimFirst(claimed));
  rig.hid.unplug(id);
  rig.notifier.deliver_pending();
  EXPECT_EQ(log.take(), (std::vector<std::string>{"unplug 0001", "removal 0001", "change"}));
  EXPECT_FALSE(claimed->PluggedIn());
  ASSERT_EQ(controller.devices().size(), 1u);

  rig.notifier.notify_system();
  rig.notifier.deliver_pending();
  EXPECT_EQ(log.take(), (std::vector<std::string>{"removal 0001", "change"}));

  // Nothing else to lend: a gone device is never offered.
  THidDevice* other = nullptr;
  EXPECT_FALSE(controller.ClaimFirst(other));
  controller.Release(claimed);
  EXPECT_TRUE(controller.devices().empty());
  EXPECT_EQ(rig.hid.open_handle_count(), 0u);
}

TEST_F(HidControllerTest, UnplugHandlerThatReleasesDestroysTheDevice) {
  rig.notifier.deliver_pending();
  int removals = 0;
  controller.SetOnRemoval(THidPlugEvent(&removals, [&](THidDevice&) { ++removals; }));
  controller.SetOnDeviceUnplug(THidPlugEvent(&log, [&](THidDevice& d) {
    THidDevice* released = &d;
    controller.Release(released);
  }));
  int id = rig.hid.plug(panel_traits(13, "0001"));
  rig.notifier.deliver_pending();
  THidDevice* claimed = nullptr;
  ASSERT_TRUE(controller.ClaimFirst(claimed));
  rig.hid.unplug(id);
  rig.notifier.deliver_pending();
  EXPECT_TRUE(controller.devices().empty());
  EXPECT_EQ(removals, 0);
}

TEST_F(HidControllerTest, DeviceThatCannotBeIdentifiedIsLeftOutAndTriedAgain) {
  rig.notifier.deliver_pending();
  int id = rig.hid.plug(panel_traits(13, "0001"), {.attributes_fail = true});
  rig.notifier.deliver_pending();
  EXPECT_TRUE(controller.devices().empty());
  rig.hid.set_faults(id, {});
  rig.notifier.notify_system();
  rig.notifier.deliver_pending();
  EXPECT_EQ(keys(), std::vector<std::string>{"0001"});
}

TEST_F(HidControllerTest, ClaimFirstLendsInListOrderAndReleaseTakesBack) {
  rig.notifier.deliver_pending();
  rig.hid.plug(panel_traits(13, "0001"));
  rig.hid.plug(panel_traits(13, "0002"));
  rig.notifier.deliver_pending();
  THidDevice *a = nullptr, *b = nullptr, *c = nullptr;
  ASSERT_TRUE(controller.ClaimFirst(a));
  ASSERT_TRUE(controller.ClaimFirst(b));
  EXPECT_FALSE(controller.ClaimFirst(c));
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(a->PnPInfo().Driver, "0001");
  EXPECT_EQ(b->PnPInfo().Driver, "0002");
  controller.Release(a);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(controller.devices().size(), 2u);
  ASSERT_TRUE(controller.ClaimFirst(c));
  EXPECT_EQ(c->PnPInfo().Driver, "0001");
  THidDevice* none = nullptr;
  controller.Release(none);  // nothing to do
}

TEST_F(HidControllerTest, EnumerateVisitsPluggedDevicesAndStopsWhenTold) {
  rig.notifier.deliver_pending();
  EXPECT_EQ(controller.EnumerateDevices(), 0);
  for (const char* key : {"0001", "0002", "0003"}) rig.hid.plug(panel_traits(13, key));
  rig.notifier.deliver_pending();
  EXPECT_EQ(controller.EnumerateDevices(), 1);  // no handler: stops after the first

  struct Case {
    int stop_at;  // index answering false, -1: never
    int visited;
  };
  for (Case c : {Case{-1, 3}, Case{0, 1}, Case{1, 2}}) {
    std::vector<int> indices;
    controller.SetOnEnumerate(THidEnumerateEvent(&indices, [&](THidDevice& d, int idx) {
      indices.push_back(idx);
      EXPECT_TRUE(d.Enumerating());
      return idx != c.stop_at;
    }));
    EXPECT_EQ(controller.EnumerateDevices(), c.visited);
    EXPECT_EQ(static_cast<int>(indices.size()), c.visited);
  }
  for (const auto& d : controller.devices()) EXPECT_FALSE(d->Enumerating());
  EXPECT_EQ(rig.hid.open_handle_count(), 0u);
}

TEST_F(HidControllerTest, NotificationDuringEnumerationWaitsUntilTheWalkIsOver) {
  rig.notifier.deliver_pending();
  int a = rig.hid.plug(panel_traits(13, "0001"));
  rig.hid.plug(panel_traits(13, "0002"));
  rig.notifier.deliver_pending();
  std::vector<std::size_t> sizes;
  controller.SetOnEnumerate(THidEnumerateEvent(&sizes, [&](THidDevice&, int) {
    // As a platform may let a notification in while the main thread waits.
    rig.hid.unplug(a);
    rig.notifier.deliver_pending();
    sizes.push_back(controller.devices().size());
    return true;
  }));
  EXPECT_EQ(controller.EnumerateDevices(), 2);
  EXPECT_EQ(sizes, (std::vector<std::size_t>{2, 2}));
  EXPECT_EQ(controller.devices().size(), 1u);  // the held-back change ran after the walk
}

TEST_F(HidControllerTest, HandlerSettersPassTheNewHandlerToDevicesCarryingTheOldOne) {
  rig.notifier.deliver_pending();
  rig.hid.plug(panel_traits(13, "0001"));
  rig.hid.plug(panel_traits(13, "0002"));
  rig.notifier.deliver_pending();
  char own = 0, first = 0, second = 0;
  THidPlugEvent own_handler(&own, [](THidDevice&) {});
  controller.devices()[1]->SetOnUnplug(own_handler);
  controller.SetOnDeviceUnplug(THidPlugEvent(&first, [](THidDevice&) {}));
  EXPECT_EQ(controller.devices()[0]->OnUnplug(), THidPlugEvent(&first, [](THidDevice&) {}));
  EXPECT_EQ(controller.devices()[1]->OnUnplug(), own_handler);
  // Same code bound elsewhere counts as the same handler.
  controller.SetOnDeviceUnplug(THidPlugEvent(&second, [](THidDevice&) {}));
  EXPECT_EQ(controller.devices()[0]->OnUnplug(), THidPlugEvent(&second, [](THidDevice&) {}));
  rig.hid.plug(panel_traits(13, "0003"));
  rig.notifier.deliver_pending();
  EXPECT_EQ(controller.devices()[2]->OnUnplug(), THidPlugEvent(&second, [](THidDevice&) {}));
}

TEST_F(HidControllerTest, DevThreadSleepTimeFollowsOnlyDevicesThatKeptTheOldValue) {
  rig.notifier.deliver_pending();
  rig.hid.plug(panel_traits(13, "0001"));
  rig.hid.plug(panel_traits(13, "0002"));
  rig.notifier.deliver_pending();
  controller.devices()[1]->SetThreadSleepTime(250);
  controller.SetDevThreadSleepTime(20);
  EXPECT_EQ(controller.DevThreadSleepTime(), 20);
  EXPECT_EQ(controller.devices()[0]->ThreadSleepTime(), 20);
  EXPECT_EQ(controller.devices()[1]->ThreadSleepTime(), 250);
  // Out of a device's range: the controller keeps it, the devices refuse it.
  controller.SetDevThreadSleepTime(5);
  EXPECT_EQ(controller.devices()[0]->ThreadSleepTime(), 20);
  EXPECT_EQ(controller.Version(), "1.0.34");
}

TEST(HidControllerHeldBack, AnErrorOfAHeldBackChangeReachesTheCaller) {
  struct World {
    HidRig rig;
    THidDeviceController controller{rig.hid, rig.notifier, rig.main_thread};
  };
  // The change held back during a walk or a device change runs after it; an
  // error from its handlers (a read thread that cannot be created, say) must
  // come out of the call, not end the process from a destructor.
  struct Case {
    const char* name;
    std::function<void(World&, int unplugged)> act;
    int held_back_change;  // which change from here on is the held-back one
  };
  const Case cases[] = {
      {"during a walk",
       [](World& t, int unplugged) {
         bool once = false;
         t.controller.SetOnEnumerate(
             THidEnumerateEvent(&once, [&t, &once, unplugged](THidDevice&, int) {
               if (!std::exchange(once, true)) t.rig.hid.unplug(unplugged);
               t.rig.notifier.deliver_pending();
               return true;
             }));
         t.controller.EnumerateDevices();
       },
       1},
      {"during a device change",
       [](World& t, int unplugged) {
         char code = 0;
         t.controller.SetOnRemoval(THidPlugEvent(&code, [&t](THidDevice&) {
           t.rig.hid.plug(panel_traits(13, "0003"));
           t.rig.notifier.deliver_pending();
         }));
         t.rig.hid.unplug(unplugged);
         t.rig.notifier.deliver_pending();
       },
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    World t;
    t.rig.notifier.deliver_pending();
    int a = t.rig.hid.plug(panel_traits(13, "0001"));
    t.rig.hid.plug(panel_traits(13, "0002"));
    t.rig.notifier.deliver_pending();
    int changes = 0;
    const int failing = c.held_back_change;
    t.controller.SetOnDeviceChange(
        TNotifyEvent(&changes, [&changes, failing](THidDeviceController&) {
          if (++changes == failing) throw TarvionError("Thread creation error: refused");
        }));
    changes = 0;  // assigning the handler ran one change
    EXPECT_THROW(c.act(t, a), TarvionError);
    EXPECT_EQ(changes, failing);
  }
}

}  // namespace
}  // namespace tarvion
