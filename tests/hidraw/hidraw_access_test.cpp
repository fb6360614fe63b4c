// The hidraw backend against a device tree of its own: listing and numbering,
// opening with its fallbacks, and what it answers for files that are not
// hidraw devices. Real hidraw devices are exercised in tests/vm.
#include "platform/linux/hidraw_access.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <ostream>

#include "hid/hid_controller.h"
#include "hid/panel_recognition.h"
#include "platform/virtual/null_seams.h"
#include "platform/virtual/virtual_main_thread.h"

namespace tarvion {
namespace {

namespace fs = std::filesystem;

// A temporary folder standing in for /dev, with the nodes the lister names.
struct FakeDevTree {
  fs::path root;
  std::vector<HidrawNode> present;

  FakeDevTree() {
    root = fs::temp_directory_path() / ("tarvion-hidraw-" + std::to_string(getpid()) + "-" +
                                        std::to_string(reinterpret_cast<uintptr_t>(this)));
    fs::create_directories(root);
  }
  ~FakeDevTree() { fs::remove_all(root); }

  // A plain file where a device node would be.
  std::string add(const std::string& syspath, const std::string& name, const std::string& port) {
    std::string path = (root / name).string();
    std::ofstream(path) << "";
    present.push_back(HidrawNode{syspath, path, port});
    return path;
  }
  HidrawLister lister() {
    return [this] { return present; };
  }
};

uint16_t number_of(const HidInterface& interface) {
  return device_number_of_driver_key(interface.driver_key);
}

TEST(HidrawListing, EachNodeIsListedWithItsIdentityPathAndANumberOfItsOwn) {
  FakeDevTree tree;
  std::string com = tree.add("/sys/devices/usb1/1-1/0003:0000:000D.0001/hidraw/hidraw0", "hidraw0",
                             "usb-0000:00:14.0-1/input0");
  std::string sw = tree.add("/sys/devices/usb1/1-2/0003:0000:000C.0002/hidraw/hidraw1", "hidraw1",
                            "usb-0000:00:14.0-2/input0");
  HidrawAccess hid(tree.lister());
  EXPECT_TRUE(hid.bound());

  std::vector<HidInterface> first = hid.list_interfaces();
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0].identity, tree.present[0].syspath);
  EXPECT_EQ(first[0].path, com);
  EXPECT_EQ(first[1].path, sw);
  EXPECT_NE(number_of(first[0]), number_of(first[1]));
  EXPECT_NE(number_of(first[0]), 0);

  // Listed again: the same identities and numbers.
  std::vector<HidInterface> again = hid.list_interfaces();
  ASSERT_EQ(again.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(again[i].identity, first[i].identity);
    EXPECT_EQ(again[i].driver_key, first[i].driver_key);
  }

  // The COM panel unplugged and plugged back into its port: a new device
  // (new identity), its old number.
  tree.present.erase(tree.present.begin());
  EXPECT_EQ(hid.list_interfaces().size(), 1u);
  tree.add("/sys/devices/usb1/1-1/0003:0000:000D.0003/hidraw/hidraw0", "hidraw0",
           "usb-0000:00:14.0-1/input0");
  std::vector<HidInterface> replugged = hid.list_interfaces();
  ASSERT_EQ(replugged.size(), 2u);
  EXPECT_NE(replugged[1].identity, first[0].identity);
  EXPECT_EQ(number_of(replugged[1]), number_of(first[0]));
  EXPECT_EQ(number_of(replugged[0]), number_of(first[1]));
}

struct OpenCase {
  // Failures name the case, not its bytes.
  friend void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.name; }
  std::string name;
  std::function<std::string(FakeDevTree&)> make;
  HidOpenMode mode;
  int error;  // 0: opens
};

class HidrawOpen : public ::testing::TestWithParam<OpenCase> {};

TEST_P(HidrawOpen, OpensOrSaysWhyNot) {
  FakeDevTree tree;
  HidrawAccess hid(tree.lister());
  std::string path = GetParam().make(tree);
  HidHandle handle = hid.open(path, GetParam().mode);
  if (GetParam().error == 0) {
    EXPECT_NE(handle, kNoHidHandle);
    EXPECT_EQ(hid.open_handles(), 1u);
  } else {
    EXPECT_EQ(handle, kNoHidHandle);
    EXPECT_EQ(hid.last_error(), static_cast<uint32_t>(GetParam().error));
    EXPECT_EQ(hid.open_handles(), 0u);
  }
  hid.close(handle);
  EXPECT_EQ(hid.open_handles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, HidrawOpen,
    ::testing::Values(
        OpenCase{"missing_node", [](FakeDevTree& t) { return (t.root / "gone").string(); },
                 HidOpenMode::read_write, ENOENT},
        OpenCase{"missing_node_for_reading",
                 [](FakeDevTree& t) { return (t.root / "gone").string(); }, HidOpenMode::read,
                 ENOENT},
        // Refused for writing (even to root): the query-only fallback still opens.
        OpenCase{"not_writable", [](FakeDevTree& t) { return t.root.string(); },
                 HidOpenMode::read_write, EISDIR},
        OpenCase{"not_writable_query_only", [](FakeDevTree& t) { return t.root.string(); },
                 HidOpenMode::query_only, 0},
        OpenCase{"plain_file", [](FakeDevTree& t) { return t.add("s", "hidraw0", ""); },
                 HidOpenMode::read_write, 0},
        OpenCase{"plain_file_for_reading", [](FakeDevTree& t) { return t.add("s", "hidraw0", ""); },
                 HidOpenMode::read, 0}),
    [](const auto& info) { return info.param.name; });

TEST(HidrawQueries, AFileThatIsNotAHidrawDeviceAnswersNoQuery) {
  FakeDevTree tree;
  HidrawAccess hid(tree.lister());
  for (std::string path : {tree.add("s", "hidraw0", ""), std::string("/dev/null")}) {
    HidHandle handle = hid.open(path, HidOpenMode::read_write);
    ASSERT_NE(handle, kNoHidHandle) << path;
    HidAttributes attributes;
    EXPECT_FALSE(hid.get_attributes(handle, attributes)) << path;
    EXPECT_EQ(hid.last_error(), static_cast<uint32_t>(ENOTTY)) << path;
    HidCaps caps;
    EXPECT_FALSE(hid.get_caps(handle, caps)) << path;
    std::u16string name;
    EXPECT_FALSE(hid.get_product_string(handle, name)) << path;
    hid.close(handle);
    // A closed handle answers nothing either.
    EXPECT_FALSE(hid.get_attributes(handle, attributes));
    EXPECT_EQ(hid.last_error(), static_cast<uint32_t>(EBADF));
  }
}

TEST(HidrawWithController, NodesThatCannotBeIdentifiedAreLeftOutWithoutLeakingHandles) {
  FakeDevTree tree;
  tree.add("/sys/a", "hidraw0", "usb-1");
  tree.add("/sys/b", "hidraw1", "usb-2");
  HidrawAccess hid(tree.lister());
  VirtualMainThread main_thread;
  NullDeviceNotifier notifier;
  THidDeviceController controller(hid, notifier, main_thread);
  // Assigning the handler lists the devices at once.
  static const char code = 0;
  controller.SetOnDeviceChange(TNotifyEvent(&code, [](THidDeviceController&) {}));
  EXPECT_TRUE(controller.devices().empty());
  EXPECT_EQ(hid.open_handles(), 0u);
}

}  // namespace
}  // namespace tarvion
