// The Win32 notifier and HID backend under the real device logic: the
// controller, its devices and their read threads, with the test thread as
// the main thread running the message loop, and devices plugged and
// unplugged as the system announces it (a WM_DEVICECHANGE broadcast).
#include <windows.h>
// clang-format off
#include <dbt.h>
// clang-format on
#include <gtest/gtest.h>

#include <atomic>
#include <ostream>
#include <thread>

#include "hid/hid_controller.h"
#include "pipe_device.h"
#include "platform/win32/win32_device_notifier.h"
#include "platform/win32/win32_hid_access.h"
#include "platform/win32/win32_main_thread.h"
#include "win32_hid_rig.h"

namespace tarvion {
namespace {

using test::Bytes;
using test::PipeDevice;
using test::pump_messages_until;
using namespace std::chrono_literals;

// What the system does when a device comes or goes.
void announce_device_change() {
  PostMessageW(HWND_BROADCAST, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
}

standin::Script script_of(const std::vector<standin::Device>& devices) {
  standin::Script script{};
  script.enum_breaks_at = -1;
  for (const standin::Device& device : devices) script.devices[script.device_count++] = device;
  return script;
}

TEST(Win32DeviceNotifierTest, DeliversDeviceNodeChangesLaterOnTheMainThread) {
  Win32DeviceNotifier notifier;
  ASSERT_NE(notifier.hwnd(), nullptr);
  std::vector<int32_t> got;
  bool off_main_thread = false;
  DWORD main_id = GetCurrentThreadId();
  notifier.set_handler([&](int32_t change_param) {
    got.push_back(change_param);
    off_main_thread |= GetCurrentThreadId() != main_id;
  });

  notifier.post(-1);
  notifier.post(7);
  EXPECT_TRUE(got.empty());  // never inside the call
  ASSERT_TRUE(pump_messages_until([&] { return got.size() == 2; }));

  // The system's notification, sent to every top-level window from another
  // thread as from another process; the sender waits for our answer.
  // It goes to every window of this thread in turn, so the loop runs on
  // until the sender is through.
  std::atomic<bool> sent{false};
  std::thread system([&] {
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0, SMTO_ABORTIFHUNG,
                        10000, &answer);
    sent = true;
  });
  EXPECT_TRUE(pump_messages_until([&] { return sent.load(); }));
  system.join();
  ASSERT_EQ(got.size(), 3u);

  // Other device events are not ours; without a handler nothing is kept.
  PostMessageW(notifier.hwnd(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
  notifier.set_handler({});
  notifier.post(1);
  ASSERT_TRUE(pump_messages_until([&] {
    MSG pending;
    return !PeekMessageW(&pending, notifier.hwnd(), 0, 0, PM_NOREMOVE);
  }));
  notifier.set_handler([&](int32_t change_param) { got.push_back(change_param); });
  notifier.post(2);
  ASSERT_TRUE(pump_messages_until([&] { return got.size() == 4; }));

  EXPECT_EQ(got, (std::vector<int32_t>{-1, 7, 0, 2}));
  EXPECT_FALSE(off_main_thread);
}

// The program's side of the controller, as the panel layer wires it: the
// first free device is claimed with a data handler, a device that goes is
// released from its unplug handler.
class Win32HidProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(standins.loaded()) << test::kStandinsMissing;
    standins.set(script_of({}));
  }

  void start_controller() {
    controller = std::make_unique<THidDeviceController>(hid, notifier, main_thread);
    static const char data_code = 0, unplug_code = 0, change_code = 0;
    controller->SetOnDeviceData(THidDataEvent(
        &data_code, [this](THidDevice&, uint8_t report_id, const uint8_t* data, uint16_t size) {
          on_main_thread &= main_thread.is_main_thread();
          Bytes report{report_id};
          report.insert(report.end(), data, data + size);
          reports.push_back(report);
        }));
    controller->SetOnDeviceUnplug(THidPlugEvent(&unplug_code, [this](THidDevice& device) {
      ++unplugs;
      if (&device == claimed) controller->Release(claimed);
    }));
    controller->SetOnDeviceChange(TNotifyEvent(&change_code, [this](THidDeviceController&) {
      ++changes;
      if (!claimed) controller->ClaimFirst(claimed);
    }));
  }

  test::Standins standins;
  Win32MainThread main_thread;
  Win32DeviceNotifier notifier;
  Win32HidAccess hid = test::standin_access();
  std::unique_ptr<THidDeviceController> controller;
  THidDevice* claimed = nullptr;
  std::vector<Bytes> reports;
  bool on_main_thread = true;
  int unplugs = 0;
  int changes = 0;
};

TEST_F(Win32HidProgramTest, APanelIsFoundReadWrittenAndReleasedAsItComesAndGoes) {
  start_controller();
  // The construction's own notification comes through the window and
  // reports a change although there is no device.
  ASSERT_TRUE(pump_messages_until([&] { return changes == 1; }));
  EXPECT_EQ(controller->devices().size(), 0u);

  PipeDevice panel(test::unique_pipe_name());
  standin::Device record = test::device_record(panel.path(), 13, "0005", u"COM panel");
  standins.set(script_of({record}));
  announce_device_change();
  ASSERT_TRUE(pump_messages_until([&] { return claimed != nullptr; }));
  EXPECT_EQ(claimed->PnPInfo().DevicePath, panel.path());
  EXPECT_EQ(claimed->PnPInfo().Driver, std::string(record.driver_key));
  EXPECT_EQ(claimed->Attributes().product_id, 13);
  EXPECT_TRUE(claimed->ProductName() == u"COM panel");
  HidCaps caps;
  claimed->GetCaps(caps);
  EXPECT_EQ(caps.input_report_length, 9);
  EXPECT_TRUE(claimed->ReadWriteAccess());
  EXPECT_TRUE(claimed->Reading());

  // Input reports, through the read thread to the handler on the main thread.
  // The read handle: the only one open while the main thread runs the loop.
  ASSERT_TRUE(pump_messages_until([&] { return hid.open_handles() == 1; }));
  const Bytes knob{0x00, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const Bytes button{0x00, 0xFF, 0xFB, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  panel.send(knob);
  panel.send(button);
  ASSERT_TRUE(pump_messages_until([&] { return reports.size() == 2; }));
  EXPECT_EQ(reports, (std::vector<Bytes>{knob, button}));
  EXPECT_TRUE(on_main_thread);

  // An output report, synchronously.
  const Bytes display{0x00, 0x01, 0x03, 0x06, 0x09, 0x07, 0x05, 0x0F, 0x0F};
  std::size_t written = 0;
  EXPECT_TRUE(claimed->WriteReport(display.data(), display.size(), written));
  EXPECT_EQ(written, display.size());
  ASSERT_TRUE(panel.wait_received(1, 10s));
  EXPECT_EQ(panel.received(), std::vector<Bytes>{display});

  // Unplugged while its read waits: released, and nothing of it is left.
  panel.unplug();
  standins.set(script_of({}));
  announce_device_change();
  ASSERT_TRUE(pump_messages_until([&] { return unplugs == 1 && claimed == nullptr; }));
  EXPECT_EQ(controller->devices().size(), 0u);
  EXPECT_EQ(hid.open_handles(), 0u);
  EXPECT_TRUE(pump_messages_until([&] { return hid.os_handles() == 0; }));
}

TEST_F(Win32HidProgramTest, HundredPlugCyclesLeaveNoHandleOrThread) {
  start_controller();
  ASSERT_TRUE(pump_messages_until([&] { return changes == 1; }));
  int cycles = 0;
  auto plug_cycle = [&] {
    PipeDevice panel(test::unique_pipe_name());
    standins.set(script_of({test::device_record(panel.path(), 14)}));
    announce_device_change();
    ASSERT_TRUE(pump_messages_until([&] { return claimed && hid.open_handles() == 1; }));
    Bytes report(9, 0xFF);
    report[1] = static_cast<uint8_t>(cycles);
    panel.send(report);
    ASSERT_TRUE(pump_messages_until([&] { return reports.size() == std::size_t(cycles) + 1; }));
    EXPECT_EQ(reports.back(), report);
    panel.unplug();
    standins.set(script_of({}));
    announce_device_change();
    ASSERT_TRUE(pump_messages_until([&] { return claimed == nullptr; }));
    EXPECT_EQ(unplugs, ++cycles);
  };
  // The first cycle starts the helper threads that stay: GoogleTest's watcher
  // of the thread that uses SCOPED_TRACE, and any of Wine's own.
  {
    SCOPED_TRACE("first cycle");
    plug_cycle();
  }
  const std::size_t threads_before = test::process_threads();
  DWORD handles_before = 0;
  GetProcessHandleCount(GetCurrentProcess(), &handles_before);

  for (int i = 0; i < 100 && !HasFatalFailure(); ++i) {
    SCOPED_TRACE(cycles);
    plug_cycle();
  }
  EXPECT_EQ(cycles, 101);
  EXPECT_EQ(controller->devices().size(), 0u);
  EXPECT_EQ(hid.open_handles(), 0u);
  EXPECT_TRUE(pump_messages_until([&] { return hid.os_handles() == 0; }));
  EXPECT_EQ(test::process_threads(), threads_before);
  DWORD handles_after = 0;
  GetProcessHandleCount(GetCurrentProcess(), &handles_after);
  EXPECT_EQ(handles_after, handles_before);
  standin::Counters counters = standins.counters();
  EXPECT_EQ(counters.sets_created, counters.sets_destroyed);
  EXPECT_EQ(counters.preparsed_taken, counters.preparsed_freed);
}

}  // namespace
}  // namespace tarvion
