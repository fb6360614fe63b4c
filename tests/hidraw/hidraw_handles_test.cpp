// The handle table over real file descriptors. A SOCK_SEQPACKET socket pair
// stands in for a hidraw node: like hidraw it hands out one whole message per
// read, and hangs up when its far end goes, as a removed device does.
#include "platform/linux/hidraw_handles.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <ostream>
#include <thread>
#include <vector>

namespace tarvion {
namespace {

using Bytes = std::vector<uint8_t>;

std::size_t open_fds() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

// One fake device: the handle table holds one end, the test plays the device
// at the other.
struct FakeNode {
  HidrawHandles& handles;
  int device_fd = -1;
  HidHandle handle = kNoHidHandle;

  FakeNode(HidrawHandles& table, HidOpenMode mode, bool numbered) : handles(table) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) return;
    device_fd = fds[1];
    HidReportLayout layout;
    layout.valid = true;
    layout.numbered = numbered;
    handle = handles.add(fds[0], mode, layout, true);
  }
  ~FakeNode() { unplug(); }

  void send(const Bytes& report) const {
    ASSERT_EQ(::write(device_fd, report.data(), report.size()),
              static_cast<ssize_t>(report.size()));
  }
  // The next message the device got.
  Bytes receive() const {
    pollfd readable{device_fd, POLLIN, 0};
    ::poll(&readable, 1, 5000);
    Bytes message(64);
    ssize_t n = ::recv(device_fd, message.data(), message.size(), MSG_DONTWAIT);
    message.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return message;
  }
  void unplug() {
    if (device_fd >= 0) ::close(device_fd);
    device_fd = -1;
  }
};

// Starts a read into a buffer of the given length and waits for it.
std::optional<Bytes> read_report(HidrawHandles& handles, HidHandle handle, std::size_t length,
                                 uint32_t timeout_ms = 5000) {
  Bytes buffer(length, 0xEE);
  if (!handles.start_read(handle, buffer.data(), buffer.size())) return std::nullopt;
  std::optional<std::size_t> done = handles.wait_read(handle, timeout_ms);
  if (!done) {
    handles.cancel_read(handle);
    return std::nullopt;
  }
  buffer.resize(*done);
  return buffer;
}

struct FramingCase {
  // Failures name the case, not its bytes.
  friend void PrintTo(const FramingCase& c, std::ostream* os) { *os << c.name; }
  std::string name;
  bool numbered;
  Bytes sent;  // what the kernel hands out
  std::size_t buffer_length;
  Bytes seen;  // what the logic gets
};

class ReadFraming : public ::testing::TestWithParam<FramingCase> {};

TEST_P(ReadFraming, ReportReachesTheLogicFramedAsOnWindows) {
  const FramingCase& c = GetParam();
  HidrawHandles handles;
  FakeNode node(handles, HidOpenMode::read, c.numbered);
  ASSERT_NE(node.handle, kNoHidHandle);
  node.send(c.sent);
  std::optional<Bytes> got = read_report(handles, node.handle, c.buffer_length);
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, c.seen);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, ReadFraming,
    ::testing::Values(
        // hidraw drops the 0 report ID of unnumbered reports; it comes back.
        FramingCase{
            "unnumbered_gets_report_id_0", false, {0xBF, 0xFF, 0xFF}, 4, {0x00, 0xBF, 0xFF, 0xFF}},
        FramingCase{
            "numbered_keeps_its_report_id", true, {0x05, 0x12, 0x34}, 3, {0x05, 0x12, 0x34}},
        // A report longer than the device's input length is cut to it.
        FramingCase{"longer_report_cut_to_buffer", false, {1, 2, 3, 4, 5, 6}, 4, {0, 1, 2, 3}},
        FramingCase{"shorter_report_keeps_its_length", false, {0x7E}, 4, {0x00, 0x7E}},
        FramingCase{"buffer_of_report_id_only", false, {1, 2}, 1, {0x00}}),
    [](const auto& info) { return info.param.name; });

TEST(HidrawRead, ReportsQueuedBeforeAnUnplugAreStillRead) {
  HidrawHandles handles;
  FakeNode node(handles, HidOpenMode::read, false);
  node.send({0x11});
  node.send({0x22});
  node.unplug();
  EXPECT_EQ(read_report(handles, node.handle, 2), (Bytes{0, 0x11}));
  EXPECT_EQ(read_report(handles, node.handle, 2), (Bytes{0, 0x22}));
  // Then the hang-up: the read completes empty...
  EXPECT_EQ(read_report(handles, node.handle, 2), Bytes{});
  // ...and no read starts any more, with "device gone" as the reason.
  Bytes buffer(2);
  EXPECT_FALSE(handles.start_read(node.handle, buffer.data(), buffer.size()));
  EXPECT_EQ(hidraw_last_error(), static_cast<uint32_t>(ENODEV));
}

TEST(HidrawRead, WaitWithNothingToReadTimesOutStillOutstanding) {
  HidrawHandles handles;
  FakeNode node(handles, HidOpenMode::read, false);
  Bytes buffer(4);
  ASSERT_TRUE(handles.start_read(node.handle, buffer.data(), buffer.size()));
  EXPECT_EQ(handles.wait_read(node.handle, 20), std::nullopt);
  // Still outstanding: a report that comes now completes the same read.
  node.send({0x42});
  EXPECT_EQ(handles.wait_read(node.handle, 5000), std::optional<std::size_t>(2));
  EXPECT_EQ(buffer[1], 0x42);
}

TEST(HidrawRead, CloseFromAnotherThreadEndsTheWaitAtOnce) {
  HidrawHandles handles;
  FakeNode node(handles, HidOpenMode::read, false);
  Bytes buffer(4, 0xEE);
  ASSERT_TRUE(handles.start_read(node.handle, buffer.data(), buffer.size()));
  std::optional<std::size_t> result;
  // A wait far longer than the test's own limit: only the close can end it.
  std::thread reader([&] { result = handles.wait_read(node.handle, 60'000); });
  handles.close(node.handle);
  reader.join();
  EXPECT_EQ(result, std::optional<std::size_t>(0));
  EXPECT_EQ(buffer, Bytes(4, 0xEE)) << "nothing may be written after close";
  // The closed handle's file is gone with it, and a wait on it ends at once.
  EXPECT_EQ(handles.find(node.handle), nullptr);
  EXPECT_EQ(handles.wait_read(node.handle, 60'000), std::optional<std::size_t>(0));
  EXPECT_EQ(buffer, Bytes(4, 0xEE));
}

TEST(HidrawRead, CancelledReadCompletesWithNothing) {
  HidrawHandles handles;
  FakeNode node(handles, HidOpenMode::read, false);
  Bytes buffer(4, 0xEE);
  ASSERT_TRUE(handles.start_read(node.handle, buffer.data(), buffer.size()));
  handles.cancel_read(node.handle);
  node.send({0x01});
  EXPECT_EQ(handles.wait_read(node.handle, 10), std::optional<std::size_t>(0));
  EXPECT_EQ(buffer, Bytes(4, 0xEE));
  // The report stays queued for the next read.
  EXPECT_EQ(read_report(handles, node.handle, 2), (Bytes{0, 0x01}));
}

TEST(HidrawRead, OnlyReadHandlesReadAndOnlyOneReadAtATime) {
  HidrawHandles handles;
  FakeNode query(handles, HidOpenMode::read_write, false);
  FakeNode reader(handles, HidOpenMode::read, false);
  Bytes buffer(4), second(4);
  EXPECT_FALSE(handles.start_read(query.handle, buffer.data(), buffer.size()));
  EXPECT_FALSE(handles.start_read(reader.handle, buffer.data(), 0));
  ASSERT_TRUE(handles.start_read(reader.handle, buffer.data(), buffer.size()));
  EXPECT_FALSE(handles.start_read(reader.handle, second.data(), second.size()));
  EXPECT_EQ(hidraw_last_error(), static_cast<uint32_t>(EBUSY));
}

TEST(HidrawWrite, FrameGoesOutByteForByteWithItsReportIdFirst) {
  HidrawHandles handles;
  FakeNode node(handles, HidOpenMode::read_write, false);
  Bytes frame{0x00, 0x0A, 0x01, 0x02, 0x03, 0x04, 0x05, 0x00, 0x79};
  std::size_t written = 0;
  ASSERT_TRUE(handles.write(node.handle, frame.data(), frame.size(), written));
  EXPECT_EQ(written, frame.size());
  EXPECT_EQ(node.receive(), frame);
}

TEST(HidrawWrite, WriteToAnUnpluggedOrClosedDeviceFails) {
  HidrawHandles handles;
  FakeNode node(handles, HidOpenMode::read_write, false);
  Bytes frame(9, 0);
  std::size_t written = 1;
  // The stand-in is a socket, which would raise SIGPIPE where hidraw answers ENODEV.
  std::signal(SIGPIPE, SIG_IGN);
  node.unplug();
  EXPECT_FALSE(handles.write(node.handle, frame.data(), frame.size(), written));
  EXPECT_EQ(written, 0u);
  handles.close(node.handle);
  EXPECT_FALSE(handles.write(node.handle, frame.data(), frame.size(), written));
  EXPECT_EQ(hidraw_last_error(), static_cast<uint32_t>(EBADF));
}

TEST(HidrawWrite, ReportTheDeviceDoesNotTakeIsNeverCountedAsWritten) {
  HidrawHandles handles;
  FakeNode stuck(handles, HidOpenMode::read_write, false);
  // Nothing reads the far end: its small buffer fills, and a write into it
  // then gives up after a moment, as the kernel does with a device that stops
  // acknowledging.
  int fd = handles.find(stuck.handle)->fd;
  int small = 4096;
  ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  timeval moment{0, 100'000};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &moment, sizeof moment);
  Bytes frame(9, 0);
  std::size_t written = 0;
  bool taken = true;
  int counted = 0;
  for (; counted < 10000; ++counted) {
    frame[1] = static_cast<uint8_t>(counted);
    taken = handles.write(stuck.handle, frame.data(), frame.size(), written);
    if (!taken) break;
  }
  ASSERT_FALSE(taken);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(hidraw_last_error(), static_cast<uint32_t>(EAGAIN));
  // Every report counted as written is at the device.
  int arrived = 0;
  Bytes message(64);
  while (::recv(stuck.device_fd, message.data(), message.size(), MSG_DONTWAIT) > 0) ++arrived;
  EXPECT_EQ(arrived, counted);
}

TEST(HidrawHandleTable, HandlesAreNeverReusedAndClosingReleasesTheirFiles) {
  std::size_t fds_before = open_fds();
  {
    HidrawHandles handles;
    std::set<HidHandle> seen;
    for (int i = 0; i < 50; ++i) {
      FakeNode node(handles, i % 2 ? HidOpenMode::read : HidOpenMode::read_write, false);
      ASSERT_NE(node.handle, kNoHidHandle);
      EXPECT_TRUE(seen.insert(node.handle).second) << "handle " << node.handle << " reused";
      handles.close(node.handle);
      handles.close(node.handle);  // twice: harmless
      EXPECT_EQ(handles.find(node.handle), nullptr);
    }
    EXPECT_EQ(handles.size(), 0u);
    handles.close(kNoHidHandle);
  }
  EXPECT_EQ(open_fds(), fds_before);
}

TEST(HidrawHandleTable, FileStaysOpenWhileAQueryHoldsIt) {
  // A query on the main thread may still hold a file that another thread
  // closes; its descriptor must not be handed to a new file meanwhile.
  HidrawHandles handles;
  FakeNode node(handles, HidOpenMode::read_write, false);
  std::shared_ptr<const HidrawFile> held = handles.find(node.handle);
  ASSERT_TRUE(held);
  handles.close(node.handle);
  Bytes frame{0x00, 0x55};
  EXPECT_EQ(::write(held->fd, frame.data(), frame.size()), 2);
  EXPECT_EQ(node.receive(), frame);
}

TEST(HidrawHandleTable, TableClosesWhatIsStillOpenWhenItGoes) {
  std::size_t fds_before = open_fds();
  {
    HidrawHandles handles;
    FakeNode reader(handles, HidOpenMode::read, false);
    FakeNode writer(handles, HidOpenMode::read_write, false);
    reader.unplug();
    writer.unplug();
  }
  EXPECT_EQ(open_fds(), fds_before);
}

}  // namespace
}  // namespace tarvion
