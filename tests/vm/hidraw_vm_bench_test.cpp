// A benchmark run, not a test of speed: on one uhid panel, the time from the
// device's report to the report in hand, for Tarvion's path (hidraw backend,
// the device's read thread, the hand-off to the main thread's handler) and for
// hidapi's hid_read_timeout, and what each loses of a back-to-back burst that
// fits the kernel's queue. It prints the figures; it fails only on errors.
#include <gtest/gtest.h>
#include <hidapi/hidapi.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "hid/hid_controller.h"
#include "vm_rig.h"

namespace tarvion::testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSamples = 300;
// The kernel keeps 64 reports per open hidraw file, one slot of them unused.
constexpr int kBurst = 63;

double median_us(std::vector<Clock::duration> samples) {
  std::sort(samples.begin(), samples.end());
  return std::chrono::duration<double, std::micro>(samples[samples.size() / 2]).count();
}

double p90_us(std::vector<Clock::duration> samples) {
  std::sort(samples.begin(), samples.end());
  return std::chrono::duration<double, std::micro>(samples[samples.size() * 9 / 10]).count();
}

std::vector<uint8_t> report_of(int n) {
  return {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), 0xFE};
}

struct Figures {
  std::vector<Clock::duration> latency;
  int burst_received = 0;
};

// Tarvion: the panel lent to the program, its reports handled on the main
// thread (a plain pump; the test thread is the main thread and the device).
Figures tarvion_path(UhidDevice& device, HidrawAccess& hid) {
  Figures figures;
  VirtualMainThread main_thread;
  UdevNotifier notifier(main_thread);
  THidDeviceController controller(hid, notifier, main_thread);
  int handled = 0;
  Clock::time_point handled_at;
  static const char data_code = 0, change_code = 0;
  controller.SetOnDeviceData(
      THidDataEvent(&data_code, [&](THidDevice& from, uint8_t, const uint8_t*, uint16_t) {
        if (!made_by_uhid(from.PnPInfo().DeviceInstance)) return;  // the keyboard
        handled_at = Clock::now();
        ++handled;
      }));
  controller.SetOnDeviceChange(TNotifyEvent(&change_code, [](THidDeviceController&) {}));
  THidDevice* claimed = nullptr;
  while (controller.ClaimFirst(claimed) && !made_by_uhid(claimed->PnPInfo().DeviceInstance)) {
  }
  EXPECT_NE(claimed, nullptr);
  if (claimed == nullptr) return figures;
  auto pump = [&](int count, std::chrono::milliseconds limit) {
    auto deadline = Clock::now() + limit;
    main_thread.pump_until([&] { return handled >= count || Clock::now() > deadline; });
    return handled >= count;
  };
  // A report sent before the read thread has opened the device reaches nobody.
  auto deadline = Clock::now() + 20s;
  while (handled == 0 && Clock::now() < deadline) {
    EXPECT_TRUE(device.send_input(report_of(0)));
    pump(1, 100ms);
  }
  EXPECT_GT(handled, 0) << "Tarvion's read thread never delivered";
  // Stragglers of the warm-up, then one report at a time.
  pump(1 << 30, 50ms);
  for (int n = 0; n < kSamples && handled > 0; ++n) {
    int before = handled;
    Clock::time_point sent = Clock::now();
    if (!device.send_input(report_of(n))) break;
    if (!pump(before + 1, 5s)) {
      ADD_FAILURE() << "report " << n << " never reached the handler";
      break;
    }
    figures.latency.push_back(handled_at - sent);
  }
  int before = handled;
  for (int n = 0; n < kBurst; ++n) EXPECT_TRUE(device.send_input(report_of(n)));
  pump(before + kBurst, 2s);
  pump(1 << 30, 200ms);  // anything beyond the burst would be a fault too
  figures.burst_received = handled - before;
  controller.Release(claimed);
  return figures;
}

// hidapi as a program uses it: a reader thread waiting in hid_read_timeout
// (so the report wakes it, as it wakes Tarvion's read thread) stamps each
// report in hand. Also the same reads made right after each write, when the
// report is already queued and nothing has to wake: the library's floor.
Figures hidapi_path(UhidDevice& device, const std::string& path,
                    std::vector<Clock::duration>& queued_reads) {
  Figures figures;
  EXPECT_EQ(hid_init(), 0);
  hid_device* handle = hid_open_path(path.c_str());
  EXPECT_NE(handle, nullptr) << "hidapi cannot open " << path;
  if (handle == nullptr) return figures;
  unsigned char buffer[64];
  for (int n = 0; n < kSamples; ++n) {
    Clock::time_point sent = Clock::now();
    if (!device.send_input(report_of(n))) break;
    int got = hid_read_timeout(handle, buffer, sizeof buffer, 5000);
    if (got <= 0) break;
    queued_reads.push_back(Clock::now() - sent);
  }

  std::mutex mutex;
  std::condition_variable changed;
  int received = 0;
  bool stop = false;
  Clock::time_point in_hand;
  std::thread reader([&] {
    unsigned char report[64];
    for (;;) {
      int got = hid_read_timeout(handle, report, sizeof report, 100);
      Clock::time_point now = Clock::now();
      std::lock_guard lock(mutex);
      if (got > 0) {
        in_hand = now;
        ++received;
        changed.notify_all();
      } else if (got < 0 || stop) {
        return;
      }
    }
  });
  auto wait_received = [&](int count, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, limit, [&] { return received >= count; });
  };
  for (int n = 0; n < kSamples; ++n) {
    int before = 0;
    {
      std::lock_guard lock(mutex);
      before = received;
    }
    Clock::time_point sent = Clock::now();
    if (!device.send_input(report_of(n))) break;
    if (!wait_received(before + 1, 5s)) {
      ADD_FAILURE() << "hidapi's reader never got report " << n;
      break;
    }
    std::lock_guard lock(mutex);
    figures.latency.push_back(in_hand - sent);
  }
  int before = 0;
  {
    std::lock_guard lock(mutex);
    before = received;
  }
  for (int n = 0; n < kBurst; ++n) EXPECT_TRUE(device.send_input(report_of(n)));
  wait_received(before + kBurst, 2s);
  {
    std::lock_guard lock(mutex);
    stop = true;
  }
  reader.join();  // its last read ends within 100 ms
  figures.burst_received = received - before;
  hid_close(handle);
  hid_exit();
  return figures;
}

TEST(VmBench, ReportToHandlerAgainstHidapiOnTheSameDevice) {
  UhidDevice device(com_panel("usb-vm-bench/input0"));
  ASSERT_TRUE(device.created());
  HidrawAccess hid;
  std::vector<HidInterface> listed = wait_for_listing(hid, 1);
  ASSERT_EQ(listed.size(), 1u);

  Figures tarvion = tarvion_path(device, hid);
  std::vector<Clock::duration> queued_reads;
  Figures hidapi = hidapi_path(device, listed[0].path, queued_reads);
  ASSERT_FALSE(tarvion.latency.empty());
  ASSERT_FALSE(hidapi.latency.empty());

  double ours = median_us(tarvion.latency);
  double theirs = median_us(hidapi.latency);
  std::printf(
      "VM-BENCH report -> in hand, %zu/%zu samples: Tarvion (read thread -> main thread "
      "handler) median %.0f us, p90 %.0f us; hidapi (reader thread in hid_read_timeout) median "
      "%.0f us, "
      "p90 %.0f us; ratio %.2f\n",
      tarvion.latency.size(), hidapi.latency.size(), ours, p90_us(tarvion.latency), theirs,
      p90_us(hidapi.latency), ours / theirs);
  if (!queued_reads.empty()) {
    std::printf("VM-BENCH hidapi reading right after the write (nothing to wake): median %.0f us\n",
                median_us(queued_reads));
  }
  std::printf("VM-BENCH back-to-back burst of %d: Tarvion lost %d, hidapi lost %d\n", kBurst,
              kBurst - tarvion.burst_received, kBurst - hidapi.burst_received);
  std::fflush(stdout);
}

}  // namespace
}  // namespace tarvion::testing
