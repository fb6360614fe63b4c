// THidDevice over virtual devices: identification, on-demand opening, cached
// queries, writes, and the read thread's hand-over to the main thread.
#include "hid/hid_device.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "hid/hid_controller.h"
#include "hid_rig.h"

namespace tarvion {
namespace {

using testing::HidRig;
using testing::panel_traits;

THidPnPInfo info_of(VirtualHid& hid, int id) {
  for (const HidInterface& present : hid.list_interfaces()) {
    if (present.path == "virtual-hid:" + std::to_string(id)) {
      return {present.identity, present.path, present.driver_key};
    }
  }
  throw std::logic_error("no such virtual device");
}

struct Received {
  uint8_t report_id;
  std::vector<uint8_t> payload;
  bool on_main_thread;
};

// Devices are lent by a controller; the tests borrow them the same way.
class HidDeviceTest : public ::testing::Test {
 protected:
  THidDevice* plug_and_claim(VirtualHidTraits traits, VirtualHidFaults faults = {}) {
    device_id = rig.hid.plug(std::move(traits), faults);
    rig.notifier.deliver_pending();
    THidDevice* device = nullptr;
    EXPECT_TRUE(controller.ClaimFirst(device));
    return device;
  }
  THidDataEvent recorder() {
    return THidDataEvent(
        &received, [this](THidDevice&, uint8_t id, const uint8_t* data, uint16_t size) {
          received.push_back(
              {id, std::vector<uint8_t>(data, data + size), rig.main_thread.is_main_thread()});
        });
  }

  HidRig rig;
  THidDeviceController controller{rig.hid, rig.notifier, rig.main_thread};
  int device_id = 0;
  std::vector<Received> received;
};

TEST_F(HidDeviceTest, ConstructionIdentifiesOrRaisesTheTwoErrors) {
  struct Case {
    const char* name;
    VirtualHidFaults faults;
    const char* error;  // null: constructed
    bool read_write;
  };
  const Case cases[] = {
      {"healthy", {}, nullptr, true},
      {"query only", {.query_only = true}, nullptr, false},
      {"cannot open", {.cannot_open = true}, kDeviceCannotBeOpened, false},
      {"attributes fail", {.attributes_fail = true}, kDeviceCannotBeIdentified, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int id = rig.hid.plug(panel_traits(13, "0012"), c.faults);
    std::size_t handles_before = rig.hid.open_handle_count();
    try {
      THidDevice device(rig.hid, rig.main_thread, info_of(rig.hid, id), {}, {});
      EXPECT_EQ(c.error, nullptr);
      EXPECT_EQ(device.ReadWriteAccess(), c.read_write);
      EXPECT_EQ(device.Attributes().product_id, 13);
      EXPECT_TRUE(device.PluggedIn());
      EXPECT_FALSE(device.Claimed());
    } catch (const EControllerError& error) {
      ASSERT_NE(c.error, nullptr);
      EXPECT_STREQ(error.what(), c.error);
    }
    // Identification leaves the device closed, raised or not.
    EXPECT_EQ(rig.hid.open_handle_count(), handles_before);
    rig.hid.unplug(id);
  }
}

TEST_F(HidDeviceTest, ThreadSleepTimeAcceptsTenToTenThousandOnly) {
  THidDevice* device = plug_and_claim(panel_traits(13, "0001"));
  const std::pair<int, int> cases[] = {{9, 100},       {10, 10},   {10001, 10},
                                       {10000, 10000}, {0, 10000}, {-5, 10000}};
  for (auto [assigned, expected] : cases) {
    device->SetThreadSleepTime(assigned);
    EXPECT_EQ(device->ThreadSleepTime(), expected) << "after assigning " << assigned;
  }
}

TEST_F(HidDeviceTest, ProductNameIsCachedOnceReadAndRetriedUntilThen) {
  THidDevice* device =
      plug_and_claim(panel_traits(13, "0001", u"COM PANEL"), {.product_string_fails = true});
  EXPECT_EQ(device->ProductName(), u"");
  rig.hid.set_faults(device_id, {});
  EXPECT_EQ(device->ProductName(), u"COM PANEL");
  std::size_t opens = rig.hid.open_count(device_id);
  rig.hid.set_faults(device_id, {.cannot_open = true});
  EXPECT_EQ(device->ProductName(), u"COM PANEL");
  EXPECT_EQ(rig.hid.open_count(device_id), opens);
  EXPECT_EQ(rig.hid.open_handle_count(), 0u);
}

TEST_F(HidDeviceTest, ProductNameStopsAtNulAndAt254Characters) {
  struct Case {
    std::u16string reported;
    std::u16string expected;
  };
  const Case cases[] = {
      {std::u16string(u"PANEL\0JUNK", 10), u"PANEL"},
      {std::u16string(300, u'x'), std::u16string(254, u'x')},
  };
  for (const Case& c : cases) {
    THidDevice* device = plug_and_claim(panel_traits(13, "0001", c.reported));
    EXPECT_EQ(device->ProductName(), c.expected);
    controller.Release(device);
    rig.hid.unplug(device_id);
    rig.notifier.deliver_pending();
  }
}

TEST_F(HidDeviceTest, QueriesNeedTheDeviceLentOrEnumerated) {
  rig.hid.plug(panel_traits(13, "0001", u"COM"));
  rig.notifier.deliver_pending();
  THidDevice& listed = *controller.devices().at(0);
  EXPECT_EQ(listed.ProductName(), u"");
  HidCaps caps{5, 5};
  listed.GetCaps(caps);
  EXPECT_EQ(caps.input_report_length, 0);
  EXPECT_EQ(caps.output_report_length, 0);
  uint8_t report[9] = {};
  std::size_t written = 99;
  EXPECT_FALSE(listed.WriteReport(report, sizeof report, written));
  EXPECT_EQ(written, 0u);
}

TEST_F(HidDeviceTest, CapsAreZeroWhileTheyCannotBeRead) {
  VirtualHidTraits traits = panel_traits(12, "0003");
  THidDevice* device = plug_and_claim(traits, {.caps_fail = true});
  HidCaps caps;
  device->GetCaps(caps);
  EXPECT_EQ(caps.input_report_length, 0);
  EXPECT_EQ(caps.output_report_length, 0);
  // No input length, no read thread: it could only fail every read.
  device->SetOnData(recorder());
  EXPECT_FALSE(device->Reading());
  device->SetOnData({});
  rig.hid.set_faults(device_id, {});
  device->GetCaps(caps);
  EXPECT_EQ(caps.input_report_length, 6);
  EXPECT_EQ(caps.output_report_length, 9);
}

TEST_F(HidDeviceTest, WriteReportReachesTheDeviceOnlyWithWriteAccess) {
  struct Case {
    const char* name;
    VirtualHidFaults faults;
    bool written;
  };
  const Case cases[] = {
      {"read-write", {}, true},
      {"query only", {.query_only = true}, false},
      {"write fails", {.write_fails = true}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    THidDevice* device = plug_and_claim(panel_traits(13, "0001"), c.faults);
    const uint8_t report[9] = {0, 1, 2, 3, 4, 5, 6, 7, 8};
    std::size_t written = 0;
    EXPECT_EQ(device->WriteReport(report, sizeof report, written), c.written);
    auto outputs = rig.hid.outputs(device_id);
    if (c.written) {
      EXPECT_EQ(written, 9u);
      ASSERT_EQ(outputs.size(), 1u);
      EXPECT_EQ(outputs[0], std::vector<uint8_t>(report, report + 9));
    } else {
      EXPECT_TRUE(outputs.empty());
    }
    controller.Release(device);
    rig.hid.unplug(device_id);
    rig.notifier.deliver_pending();
  }
}

TEST_F(HidDeviceTest, InputReportsReachTheDataHandlerOnTheMainThreadInOrder) {
  THidDevice* device = plug_and_claim(panel_traits(13, "0001"));
  device->SetOnData(recorder());
  ASSERT_TRUE(device->Reading());
  rig.hid.inject_input(device_id, {0x00, 0xFE, 0xFF});
  rig.hid.inject_input(device_id, {0x07, 0xFD});  // short: size counts what was read
  ASSERT_TRUE(rig.pump_until([&] { return received.size() == 2; }));
  EXPECT_EQ(received[0].report_id, 0x00);
  EXPECT_EQ(received[0].payload, (std::vector<uint8_t>{0xFE, 0xFF}));
  EXPECT_EQ(received[1].report_id, 0x07);
  EXPECT_EQ(received[1].payload, (std::vector<uint8_t>{0xFD}));
  EXPECT_TRUE(received[0].on_main_thread);
  EXPECT_TRUE(received[1].on_main_thread);
  controller.Release(device);
}

TEST_F(HidDeviceTest, ReportLongerThanTheInputLengthIsCutToIt) {
  THidDevice* device = plug_and_claim(panel_traits(13, "0001"));
  device->SetOnData(recorder());
  rig.hid.inject_input(device_id, {0x00, 1, 2, 3, 4, 5});
  ASSERT_TRUE(rig.pump_until([&] { return received.size() == 1; }));
  EXPECT_EQ(received[0].payload, (std::vector<uint8_t>{1, 2}));
  controller.Release(device);
}

TEST_F(HidDeviceTest, ReadThreadRunsOnlyWhenLentWithHandlerAndWriteAccess) {
  THidDevice* query_only = plug_and_claim(panel_traits(13, "0001"), {.query_only = true});
  query_only->SetOnData(recorder());
  EXPECT_FALSE(query_only->Reading());
  THidDevice* healthy = plug_and_claim(panel_traits(13, "0002"));
  healthy->SetOnData(recorder());
  EXPECT_TRUE(healthy->Reading());
  healthy->SetOnData({});
  EXPECT_FALSE(healthy->Reading());
  controller.Release(query_only);
  controller.Release(healthy);
  EXPECT_EQ(rig.hid.open_handle_count(), 0u);
}

TEST_F(HidDeviceTest, ErrorInTheDataHandlerEndsReadingUntilLentAgain) {
  THidDevice* device = plug_and_claim(panel_traits(13, "0001"));
  int thrown = 0;
  device->SetOnData(THidDataEvent(&thrown, [&](THidDevice&, uint8_t, const uint8_t*, uint16_t) {
    ++thrown;
    throw TarvionError("bad report");
  }));
  rig.hid.inject_input(device_id, {0, 1, 1});
  ASSERT_TRUE(rig.pump_until([&] { return thrown == 1; }));
  // The loop has ended: this report stays with the device, unread.
  rig.hid.inject_input(device_id, {0, 2, 2});
  controller.Release(device);
  ASSERT_TRUE(controller.ClaimFirst(device));
  device->SetOnData(recorder());
  ASSERT_TRUE(rig.pump_until([&] { return received.size() == 1; }));
  EXPECT_EQ(received[0].payload, (std::vector<uint8_t>{2, 2}));
  EXPECT_EQ(thrown, 1);
  controller.Release(device);
}

TEST_F(HidDeviceTest, FailedReadStartIsReportedThenRetriedAfterThreadSleepTime) {
  THidDevice* device =
      plug_and_claim(panel_traits(13, "0001"), {.read_start_fails = true, .error_code = 31});
  device->SetThreadSleepTime(100);
  std::vector<std::chrono::steady_clock::time_point> errors;
  std::vector<uint32_t> codes;
  device->SetOnDataError(THidDataErrorEvent(&errors, [&](THidDevice&, uint32_t code) {
    errors.push_back(std::chrono::steady_clock::now());
    codes.push_back(code);
  }));
  device->SetOnData(recorder());
  ASSERT_TRUE(rig.pump_until([&] { return errors.size() == 3; }));
  controller.Release(device);
  EXPECT_EQ(codes, (std::vector<uint32_t>{31, 31, 31}));
  // A read that keeps failing must not spin: each retry waits ThreadSleepTime.
  for (std::size_t i = 1; i < errors.size(); ++i) {
    EXPECT_GE(errors[i] - errors[i - 1], std::chrono::milliseconds(90));
  }
}

TEST_F(HidDeviceTest, AReadThreadThatCannotBeCreatedRaisesTheErrorAndALaterTryReads) {
  bool refuse = true;
  controller.SetThreadLauncher([&](std::function<void()> body) {
    if (refuse)
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    return std::thread(std::move(body));
  });
  THidDevice* device = plug_and_claim(panel_traits(13, "0001"));
  const std::string expected =
      "Thread creation error: " +
      std::make_error_code(std::errc::resource_unavailable_try_again).message();
  try {
    device->SetOnData(recorder());
    ADD_FAILURE() << "no error";
  } catch (const TarvionError& e) {
    EXPECT_EQ(e.what(), expected);
  }
  EXPECT_FALSE(device->Reading());
  refuse = false;
  device->SetOnData({});
  device->SetOnData(recorder());
  ASSERT_TRUE(device->Reading());
  rig.hid.inject_input(device_id, {0x00, 0xFE, 0xFF});
  EXPECT_TRUE(rig.pump_until([&] { return received.size() == 1; }));
  controller.Release(device);
}

}  // namespace
}  // namespace tarvion
