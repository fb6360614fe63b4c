// The hot-plug notifier with its real worker thread and netlink socket:
// delivery on the main thread, later, in order; a clean stop; and which
// source it listens to. Kernel events themselves are exercised in tests/vm.
#include "platform/linux/udev_notifier.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "platform/virtual/virtual_main_thread.h"
#include "pump.h"
#include "udev_broadcast.h"

namespace tarvion {
namespace {

using testing::pump_until_or_timeout;

// Every notification a handler saw, and whether it ran on the main thread.
struct Seen {
  explicit Seen(VirtualMainThread& thread) : main_thread(thread) {}
  VirtualMainThread& main_thread;
  std::vector<int32_t> params;
  bool off_main_thread = false;

  DeviceChangeHandler handler() {
    return [this](int32_t param) {
      if (!main_thread.is_main_thread()) off_main_thread = true;
      params.push_back(param);
    };
  }
  bool has(int32_t param) const {
    return std::find(params.begin(), params.end(), param) != params.end();
  }
};

// Posts a marker and runs the main thread until it has come through: every
// notification the worker had in hand before it has come through too.
bool round_trip(UdevNotifier& notifier, VirtualMainThread& main_thread, Seen& seen,
                int32_t marker) {
  notifier.post(marker);
  return pump_until_or_timeout(main_thread, [&] { return seen.has(marker); });
}

TEST(UdevNotifier, PostedNotificationsArriveLaterOnTheMainThreadInOrder) {
  VirtualMainThread main_thread;
  UdevNotifier notifier(main_thread);
  Seen seen(main_thread);
  notifier.set_handler(seen.handler());
  notifier.post(-1);
  notifier.post(5);
  EXPECT_TRUE(seen.params.empty()) << "delivered inside post()";
  ASSERT_TRUE(pump_until_or_timeout(main_thread, [&] { return seen.params.size() == 2; }));
  EXPECT_EQ(seen.params, (std::vector<int32_t>{-1, 5}));
  EXPECT_FALSE(seen.off_main_thread);
}

TEST(UdevNotifier, NotificationWithNoHandlerIsDropped) {
  VirtualMainThread main_thread;
  UdevNotifier notifier(main_thread);
  notifier.post(1);
  // Its hand-over runs on the main thread while there is no handler.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  int ran = 0;
  while (ran == 0 && std::chrono::steady_clock::now() < deadline) {
    ran += main_thread.run_pending();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_GT(ran, 0);
  Seen seen(main_thread);
  notifier.set_handler(seen.handler());
  ASSERT_TRUE(round_trip(notifier, main_thread, seen, 2));
  EXPECT_EQ(seen.params, std::vector<int32_t>{2});
}

TEST(UdevNotifier, ReplacedHandlerGetsWhatComesAfter) {
  VirtualMainThread main_thread;
  UdevNotifier notifier(main_thread);
  Seen first(main_thread), second(main_thread);
  notifier.set_handler(first.handler());
  ASSERT_TRUE(round_trip(notifier, main_thread, first, 1));
  notifier.set_handler(second.handler());
  ASSERT_TRUE(round_trip(notifier, main_thread, second, 2));
  EXPECT_EQ(first.params, std::vector<int32_t>{1});
  EXPECT_EQ(second.params, std::vector<int32_t>{2});
}

TEST(UdevNotifier, AHandlerThatThrowsDoesNotEndDelivery) {
  VirtualMainThread main_thread;
  UdevNotifier notifier(main_thread);
  Seen seen(main_thread);
  DeviceChangeHandler record = seen.handler();
  notifier.set_handler([&](int32_t param) {
    record(param);
    if (param == 1) throw std::runtime_error("handler failed");
  });
  notifier.post(1);
  ASSERT_TRUE(round_trip(notifier, main_thread, seen, 2));
  EXPECT_EQ(seen.params, (std::vector<int32_t>{1, 2}));
}

TEST(UdevNotifier, StopsWhileItsWorkerWaitsForTheMainThread) {
  VirtualMainThread main_thread;
  Seen seen(main_thread);
  {
    UdevNotifier notifier(main_thread);
    notifier.set_handler(seen.handler());
    notifier.post(3);
    // The worker is blocked handing 3 over (or about to be); the destructor
    // must run that hand-over itself, or the two would wait on each other.
  }
  EXPECT_TRUE(seen.params.empty()) << "delivered to a handler while shutting down";
  EXPECT_EQ(main_thread.run_pending(), 0);
}

// A temporary file standing for the udev daemon's control socket.
struct DaemonMarker {
  std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("tarvion-udev-control-" + std::to_string(getpid()));
  explicit DaemonMarker(bool present) {
    if (present) std::ofstream(path) << "";
  }
  ~DaemonMarker() { std::filesystem::remove(path); }
};

struct SourceCase {
  // Failures name the case, not its bytes.
  friend void PrintTo(const SourceCase& c, std::ostream* os) { *os << c.name; }
  std::string name;
  UdevSource source;
  bool daemon_running;     // the marker file exists
  std::string subsystem;   // of the event the daemon announces
  std::string listens_to;  // the source chosen
  bool heard;
};

class NotifierSource : public ::testing::TestWithParam<SourceCase> {};

TEST_P(NotifierSource, HearsTheDaemonsHidrawEventsOnlyFromTheUdevSource) {
  const SourceCase& c = GetParam();
  VirtualMainThread main_thread;
  DaemonMarker marker(c.daemon_running);
  UdevNotifier notifier(main_thread, c.source, marker.path.string());
  EXPECT_EQ(notifier.source(), c.listens_to);
  Seen seen(main_thread);
  notifier.set_handler(seen.handler());

  std::vector<std::string> event = testing::hidraw_event(
      "add", "/devices/virtual/misc/uhid/0003:0000:000D.0001/hidraw/hidraw0", 1);
  event[2] = "SUBSYSTEM=" + c.subsystem;
  if (!testing::broadcast_udev_event(event)) {
    GTEST_SKIP() << "cannot announce device events here: " << std::strerror(errno);
  }
  // The event is in the monitor's socket once the broadcast returns; two
  // round trips later the worker has handled it.
  ASSERT_TRUE(round_trip(notifier, main_thread, seen, 100));
  ASSERT_TRUE(round_trip(notifier, main_thread, seen, 101));
  EXPECT_EQ(seen.has(0), c.heard) << "notifications: " << ::testing::PrintToString(seen.params);
  EXPECT_FALSE(seen.off_main_thread);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, NotifierSource,
    ::testing::Values(SourceCase{"udev_hears_hidraw", UdevSource::udev, false, "hidraw", "udev",
                                 true},
                      SourceCase{"udev_ignores_other_subsystems", UdevSource::udev, false, "input",
                                 "udev", false},
                      SourceCase{"automatic_with_daemon_listens_to_udev", UdevSource::automatic,
                                 true, "hidraw", "udev", true},
                      SourceCase{"automatic_without_daemon_listens_to_kernel",
                                 UdevSource::automatic, false, "hidraw", "kernel", false},
                      SourceCase{"kernel_ignores_the_daemon", UdevSource::kernel, true, "hidraw",
                                 "kernel", false}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace tarvion
