// The panel layer inside a whole Program on the virtual platform: start-up
// finds the panels, the 20 ms cycle writes their images, input changes them,
// closing leaves them dark and handed back, and a panel the system will not
// open is listed and reported.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "hid/hid_device.h"
#include "hid_rig.h"
#include "platform/virtual/null_seams.h"
#include "platform/virtual/recording_view.h"
#include "platform/virtual/virtual_clock.h"
#include "shell/program.h"
#include "support/recording_socket.h"

namespace tarvion {
namespace {

using testing::HidRig;
using testing::panel_traits;
using testing::RecordingSocket;

using Report = std::vector<uint8_t>;

struct ProgramRig : HidRig {
  VirtualClock clock;
  RecordingView view;
  RecordingSocket socket;
  NullIpcTransport ipc;
  std::unique_ptr<Program> program;

  explicit ProgramRig(std::string config) {
    program = std::make_unique<Program>(ProgramSeams{main_thread, clock, view, socket, hid,
                                                     notifier, ipc, [config] { return config; }});
  }
  ~ProgramRig() { program.reset(); }
};

const char* const kConfig =
    "ZEMP_HOST=127.0.0.1\nZEMP_PORT=8080\nFIRST_DEVICE_COM1=YES\nMINIMIZED=NO\nSET_COM1=121500\n";

TEST(PanelsInTheProgram, FoundAtStartUpDrivenByTheCycleAndLeftDarkAtClose) {
  ProgramRig rig(kConfig);
  int com = rig.hid.plug(panel_traits(13, "0012", u"COM PANEL"));
  int sw = rig.hid.plug(panel_traits(12, "0004", u"SWITCH PANEL"));
  rig.program->FormCreate();
  rig.notifier.deliver_pending();  // the controller's own notification: discovery again
  EXPECT_EQ(rig.view.device_list,
            (std::vector<std::string>{"COM PANEL - Device = 12", "SWITCH PANEL - Device = 4"}));
  EXPECT_TRUE(rig.program->flags.panels_ready);
  EXPECT_EQ(rig.hid.outputs(sw), std::vector<Report>{Report(9, 0)});

  // The blank image composed at discovery goes out on the first tick.
  rig.clock.advance(20);
  EXPECT_EQ(rig.hid.outputs(com),
            (std::vector<Report>{{0x00, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0x00, 0x79}}));

  // The resting report selects COM1, which shows the configured value.
  rig.hid.inject_input(com, {0x00, 0xFF, 0xFF});
  ASSERT_TRUE(rig.pump_until([&] { return rig.program->panels.radios.at(0)->mode == 1; }));
  rig.clock.advance(20);
  EXPECT_EQ(rig.hid.outputs(com).back(),
            (Report{0x00, 0x00, 0x15, 0x12, 0x00, 0x80, 0x11, 0x88, 0x79}));
  rig.clock.advance(200);
  EXPECT_EQ(rig.hid.outputs(com).size(), 2u);  // nothing changed: nothing sent

  rig.program->FormClose();
  EXPECT_EQ(rig.hid.outputs(com).back(),
            (Report{0x00, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0x00, 0x01}));
  EXPECT_EQ(rig.hid.outputs(sw).back(),
            (Report{0x00, 0x01, 0x0A, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_FALSE(rig.program->flags.panels_ready);
  EXPECT_TRUE(rig.program->panels.radios.empty());
  for (const auto& device : rig.program->panel_layer().controller().devices()) {
    EXPECT_FALSE(device->Claimed());
    EXPECT_FALSE(device->Reading());
  }
  EXPECT_EQ(rig.hid.open_handle_count(), 0u);
}

TEST(PanelsInTheProgram, PanelPluggedWhileRunningIsFoundAndUnpluggedIsGone) {
  ProgramRig rig(kConfig);
  rig.program->FormCreate();
  rig.notifier.deliver_pending();
  EXPECT_TRUE(rig.view.device_list.empty());
  int nav = rig.hid.plug(panel_traits(14, "0007", u"NAV"));
  rig.notifier.deliver_pending();
  EXPECT_EQ(rig.view.device_list, std::vector<std::string>{"NAV - Device = 7"});
  rig.hid.unplug(nav);
  rig.notifier.deliver_pending();
  EXPECT_TRUE(rig.view.device_list.empty());
  EXPECT_TRUE(rig.program->panels.radios.empty());
  rig.clock.advance(100);  // the cycle runs on with no panel
  rig.program->FormClose();
}

TEST(PanelsInTheProgram, ProgramDestroyedWithoutCloseStopsEveryReadThread) {
  ProgramRig rig(kConfig);
  int com = rig.hid.plug(panel_traits(13, "0012"));
  rig.program->FormCreate();
  rig.notifier.deliver_pending();
  rig.hid.inject_input(com, {0x00, 0xFE, 0xFF});
  ASSERT_TRUE(rig.pump_until([&] { return rig.program->panels.radios.at(0)->input != 0; }));
  rig.program.reset();
  EXPECT_EQ(rig.hid.open_handle_count(), 0u);
}

TEST(PanelsInTheProgram, APanelTheSystemWillNotOpenIsListedAndReportedOncePerPlug) {
  struct Case {
    const char* name;
    VirtualHidFaults faults;
    bool listed_as_panel;  // opened for queries alone: a panel of the program all the same
    const char* fix;
  };
  const Case cases[] = {
      {"no udev rule",
       {.cannot_open = true, .open_error = HidOpenError::no_permission},
       false,
       "install the udev rule packaging/udev/70-tarvion-panels.rules (see the README), then "
       "replug the panel."},
      {"held by another program",
       {.query_only = true, .open_error = HidOpenError::held_elsewhere},
       true,
       "another program holds it; close that program, then replug the panel."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramRig rig(kConfig);
    int com = rig.hid.plug(panel_traits(13, "0012", u"COM PANEL"));
    int nav = rig.hid.plug(panel_traits(14, "0007", u"NAV PANEL"), c.faults);
    // A keyboard is as closed to the user, and none of the program's business.
    VirtualHidTraits keyboard = panel_traits(1, "0003", u"KEYBOARD");
    keyboard.vendor_id = 0x046D;
    rig.hid.plug(keyboard, c.faults);
    rig.program->FormCreate();
    rig.notifier.deliver_pending();

    std::string path = "virtual-hid:" + std::to_string(nav);
    std::vector<std::string> list{"COM PANEL - Device = 12"};
    if (c.listed_as_panel) list.push_back("NAV PANEL - Device = 7");
    list.push_back(path + " - no access");
    EXPECT_EQ(rig.view.device_list, list);
    std::vector<std::string> reports{"No access to the panel at " + path + ": " + c.fix};
    EXPECT_EQ(rig.view.errors, reports);

    // Rescans, with and without a change, do not repeat it.
    rig.hid.plug(panel_traits(12, "0004", u"SWITCH PANEL"));
    rig.notifier.deliver_pending();
    rig.notifier.notify_system();
    rig.notifier.deliver_pending();
    list.insert(list.end() - 1, "SWITCH PANEL - Device = 4");
    EXPECT_EQ(rig.view.device_list, list);
    EXPECT_EQ(rig.view.errors, reports);

    // The panel beside it works.
    rig.hid.inject_input(com, {0x00, 0xFF, 0xFF});
    ASSERT_TRUE(rig.pump_until([&] {
      for (const auto& rad : rig.program->panels.radios) {
        if (rad->kind == 13 && rad->mode == 1) return true;
      }
      return false;
    }));
    rig.clock.advance(20);
    EXPECT_EQ(rig.hid.outputs(com).back(),
              (Report{0x00, 0x00, 0x15, 0x12, 0x00, 0x80, 0x11, 0x88, 0x79}));

    // Unplugged, it leaves the list; plugged in again and still refused, it is told again.
    rig.hid.unplug(nav);
    rig.notifier.deliver_pending();
    EXPECT_EQ(rig.view.device_list,
              (std::vector<std::string>{"COM PANEL - Device = 12", "SWITCH PANEL - Device = 4"}));
    int again = rig.hid.plug(panel_traits(14, "0007", u"NAV PANEL"), c.faults);
    rig.notifier.deliver_pending();
    ASSERT_EQ(rig.view.errors.size(), 2u);
    EXPECT_EQ(rig.view.errors[1],
              "No access to the panel at virtual-hid:" + std::to_string(again) + ": " + c.fix);
    rig.program->FormClose();
  }
}

// The main thread that tells when a worker's call waits in its queue.
struct WatchedMainThread : VirtualMainThread {
  std::mutex mutex;
  std::condition_variable queued_cv;
  int queued = 0;
  void wake() override {
    {
      std::lock_guard lock(mutex);
      ++queued;
    }
    queued_cv.notify_all();
  }
  bool wait_queued(int count) {
    std::unique_lock lock(mutex);
    return queued_cv.wait_for(lock, std::chrono::seconds(20), [&] { return queued >= count; });
  }
};

TEST(PanelsInTheProgram, NothingLightsAPanelAgainOnceTheCloseHasDarkenedIt) {
  WatchedMainThread main_thread;
  VirtualDeviceNotifier notifier;
  VirtualHid hid{&notifier};
  VirtualClock clock;
  RecordingView view;
  RecordingSocket socket;
  NullIpcTransport ipc;
  int rmp = hid.plug(panel_traits(17, "0001", u"RMP"));  // released first at the close
  int com = hid.plug(panel_traits(13, "0012", u"COM"));
  Program program(ProgramSeams{main_thread, clock, view, socket, hid, notifier, ipc,
                               [] { return std::string(kConfig); }});
  program.FormCreate();
  notifier.deliver_pending();
  hid.inject_input(rmp, {0x00, 0xFF, 0xFF});
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  main_thread.pump_until([&] {
    for (const auto& rad : program.panels.radios) {
      if (rad->kind == 17 && rad->started != 0) return true;
    }
    return std::chrono::steady_clock::now() > deadline;
  });
  clock.advance(20);
  ASSERT_NE(hid.outputs(rmp).back().at(1), 0x00) << "the RMP's lamps are lit before the close";

  // Input from the COM panel and a main-cycle tick, waiting to run while the
  // close releases the RMP and waits for its read thread.
  THidDevice* com_device = nullptr;
  for (THidDevice* device : program.panel_layer().panel_devices()) {
    if (device->Attributes().product_id == 13) com_device = device;
  }
  ASSERT_NE(com_device, nullptr);
  int before = main_thread.queued;
  std::thread worker([&] {
    main_thread.run_and_wait([&] {
      const uint8_t com1_selected[2] = {0xFF, 0xFF};
      program.panel_layer().controller().HidCtlDeviceData(*com_device, 0, com1_selected, 2);
      program.ThreadedTimer2Timer();
    });
  });
  ASSERT_TRUE(main_thread.wait_queued(before + 1));
  program.FormClose();
  worker.join();
  clock.advance(100);

  const Report blank_display{0x00, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0x00, 0x01};
  EXPECT_EQ(hid.outputs(com).back(), blank_display);
  auto rmp_outputs = hid.outputs(rmp);
  ASSERT_GE(rmp_outputs.size(), 2u);
  EXPECT_EQ(rmp_outputs[rmp_outputs.size() - 2], blank_display);
  EXPECT_EQ(rmp_outputs.back(), (Report{0x00, 0x00, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0x80, 0x01}))
      << "the RMP's lamps go dark too";
}

}  // namespace
}  // namespace tarvion
