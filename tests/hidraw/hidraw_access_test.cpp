// The hidraw backend against a device tree of its own: listing and numbering,
// opening with its fallbacks and its refusals, and what it answers for files
// that are not hidraw devices. Real hidraw devices are exercised in tests/vm.
#include "platform/linux/hidraw_access.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <utility>

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
  std::string add(const std::string& syspath, const std::string& name, const std::string& port,
                  const std::string& hid_id = "") {
    std::string path = (root / name).string();
    std::ofstream(path) << "";
    present.push_back(HidrawNode{syspath, path, port, hid_id});
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

TEST(HidrawListing, TheIdsOfADeviceNobodyMayOpenComeFromItsHidId) {
  const std::pair<const char*, std::optional<std::pair<uint16_t, uint16_t>>> cases[] = {
      {"0003:00000000:0000000D", std::pair<uint16_t, uint16_t>{0x0000, 0x000D}},
      {"0005:0000046d:0000B01A", std::pair<uint16_t, uint16_t>{0x046D, 0xB01A}},
      {"", std::nullopt},
      {"0003:00000000", std::nullopt},
      {"0003:00000000:", std::nullopt},
      {"0003:0000000G:0000000C", std::nullopt},
      {"0003:00010000:0000000C", std::nullopt},  // no 16-bit ID
      {"0003:000000000:0000000C", std::nullopt},
  };
  for (const auto& [hid_id, ids] : cases) {
    SCOPED_TRACE(hid_id);
    FakeDevTree tree;
    tree.add("/sys/a", "hidraw0", "usb-1", hid_id);
    HidrawAccess hid(tree.lister());
    std::vector<HidInterface> listed = hid.list_interfaces();
    ASSERT_EQ(listed.size(), 1u);
    ASSERT_EQ(listed[0].listed_ids.has_value(), ids.has_value());
    if (!ids) continue;
    EXPECT_EQ(listed[0].listed_ids->vendor_id, ids->first);
    EXPECT_EQ(listed[0].listed_ids->product_id, ids->second);
  }
}

// What a user without the udev rule meets: a node closed to them, refused in
// every mode, and said to be a matter of permission (a missing node is not).
// 0: as expected; otherwise the first thing that was not.
int refusal_of_closed_node(HidrawAccess& hid, const std::string& closed,
                           const std::string& missing) {
  for (HidOpenMode mode : {HidOpenMode::read_write, HidOpenMode::query_only, HidOpenMode::read}) {
    if (hid.open(closed, mode) != kNoHidHandle) return 1;
    if (hid.last_error() != static_cast<uint32_t>(EACCES)) return 2;
    if (hid.last_open_error() != HidOpenError::no_permission) return 3;
  }
  if (hid.open(missing, HidOpenMode::read_write) != kNoHidHandle) return 4;
  if (hid.last_open_error() != HidOpenError::other) return 5;
  return 0;
}

TEST(HidrawOpen, ANodeClosedToTheUserIsRefusedForWantOfPermission) {
  FakeDevTree tree;
  fs::permissions(tree.root, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
  std::string closed = tree.add("/sys/a", "hidraw0", "usb-1");
  fs::permissions(closed, fs::perms::none);
  std::string missing = (tree.root / "gone").string();
  HidrawAccess hid(tree.lister());
  if (geteuid() != 0) {
    EXPECT_EQ(refusal_of_closed_node(hid, closed, missing), 0);
    return;
  }
  // Root opens whatever the permissions say. The user without the rule is
  // played by nobody, in a child, which the kernel refuses for real.
  constexpr int kNoNobody = 100;
  constexpr int kFolderClosed = 101;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const gid_t nobody = 65534;
    if (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 ||
        setresuid(nobody, nobody, nobody) != 0) {
      _exit(kNoNobody);
    }
    // The node itself must be what refuses, not a folder on the way to it.
    struct stat status {};
    if (stat(closed.c_str(), &status) != 0) _exit(kFolderClosed);
    _exit(refusal_of_closed_node(hid, closed, missing));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == kNoNobody) GTEST_SKIP() << "root here cannot become nobody";
  if (WEXITSTATUS(status) == kFolderClosed) {
    GTEST_SKIP() << "the temporary folder is closed to nobody: " << tree.root;
  }
  EXPECT_EQ(WEXITSTATUS(status), 0);
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
