// The panel input path under load: virtual devices fed with reports, each
// device's read thread handing every report to the data handler on the main
// thread (a plain pump) and waiting for it to run. Per report: the time, the
// wake-ups of the main loop and the threads' voluntary context switches.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "hid/hid_controller.h"
#include "platform/virtual/virtual_device_notifier.h"
#include "platform/virtual/virtual_hid.h"
#include "platform/virtual/virtual_main_thread.h"

namespace tarvion {
namespace {

// Reports queued per device per round: below the queue's limit, so none drops.
constexpr int kBurst = 32;

struct CountingMainThread : VirtualMainThread {
  std::atomic<uint64_t> wakes{0};
  void wake() override { wakes.fetch_add(1, std::memory_order_relaxed); }
};

long voluntary_switches() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_nvcsw;
}

void BM_ReportToMainThreadHandler(benchmark::State& state) {
  const auto devices = static_cast<int>(state.range(0));
  CountingMainThread main_thread;
  VirtualDeviceNotifier notifier;
  VirtualHid hid{&notifier};
  std::vector<int> ids;
  for (int d = 0; d < devices; ++d) {
    VirtualHidTraits traits;
    traits.product_id = 13;
    traits.driver_key = "00" + std::to_string(10 + d);
    ids.push_back(hid.plug(traits));
  }
  uint64_t handled = 0;  // main thread only
  uint64_t bytes = 0;
  {
    THidDeviceController controller(hid, notifier, main_thread);
    static const char data_code = 0, change_code = 0;
    controller.SetOnDeviceData(
        THidDataEvent(&data_code, [&](THidDevice&, uint8_t, const uint8_t* data, uint16_t size) {
          ++handled;
          bytes += size != 0 ? data[0] : 0;
        }));
    controller.SetOnDeviceChange(TNotifyEvent(&change_code, [](THidDeviceController&) {}));
    std::vector<THidDevice*> lent;
    for (THidDevice* device = nullptr; controller.ClaimFirst(device);) lent.push_back(device);
    if (static_cast<int>(lent.size()) != devices) {
      state.SkipWithError("not every device could be lent");
      return;
    }

    uint64_t expected = 0;
    uint64_t wakes_before = main_thread.wakes.load();
    long switches_before = voluntary_switches();
    for (auto _ : state) {
      for (int n = 0; n < kBurst; ++n) {
        const uint8_t report[3] = {0x00, static_cast<uint8_t>(n), 0xFF};
        for (int id : ids) hid.inject_input(id, report, sizeof report);
      }
      expected += static_cast<uint64_t>(kBurst) * ids.size();
      main_thread.pump_until([&] { return handled == expected; });
    }
    auto reports = static_cast<double>(expected);
    state.SetItemsProcessed(static_cast<int64_t>(expected));
    state.counters["wakes/report"] =
        static_cast<double>(main_thread.wakes.load() - wakes_before) / reports;
    state.counters["switches/report"] =
        static_cast<double>(voluntary_switches() - switches_before) / reports;
    uint64_t dropped = 0;
    for (int id : ids) dropped += hid.dropped_inputs(id);
    state.counters["dropped"] = static_cast<double>(dropped);
    benchmark::DoNotOptimize(bytes);
    for (THidDevice* device : lent) controller.Release(device);
  }
}
BENCHMARK(BM_ReportToMainThreadHandler)->Arg(1)->Arg(4)->Arg(8)->UseRealTime();

}  // namespace
}  // namespace tarvion
