// Win32HidAccess against scripted devices: our stand-in setupapi.dll and
// hid.dll list and describe them, and named pipes served by the test carry
// their reports, so every file operation of the backend is the real one.
// The system's libraries are never taken from the program's folder.
#include "platform/win32/win32_hid_access.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <ostream>
#include <thread>

#include "pipe_device.h"
#include "win32_hid_rig.h"

namespace tarvion {
namespace {

using test::Bytes;
using test::PipeDevice;
using namespace std::chrono_literals;

class Win32HidAccessTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(standins.loaded()) << test::kStandinsMissing; }

  // The counters must show every set and every preparsed record handed back.
  void expect_nothing_held() {
    standin::Counters counters = standins.counters();
    EXPECT_EQ(counters.sets_created, counters.sets_destroyed);
    EXPECT_EQ(counters.preparsed_taken, counters.preparsed_freed);
    EXPECT_EQ(counters.unknown_handles, 0);
  }

  test::Standins standins;
};

standin::Script script_of(std::initializer_list<standin::Device> devices) {
  standin::Script script{};
  script.enum_breaks_at = -1;
  for (const standin::Device& device : devices) script.devices[script.device_count++] = device;
  return script;
}

struct BindCase {
  const char* name;
  std::string setupapi;
  std::string hid;
  bool bound;
};

std::ostream& operator<<(std::ostream& out, const BindCase& c) {
  return out << c.name;
}

TEST_F(Win32HidAccessTest, BindsOnlyWhenEveryEntryOfBothLibrariesIsThere) {
  const std::string setupapi = test::standin_path("setupapi.dll");
  const std::string hid = test::standin_path("hid.dll");
  const BindCase cases[] = {
      {"both libraries", setupapi, hid, true},
      {"no set-up library", "tarvion-absent-setupapi.dll", hid, false},
      {"no HID library", setupapi, "tarvion-absent-hid.dll", false},
      {"a HID library without the HID entries", setupapi, "kernel32.dll", false},
      {"a set-up library without the set-up entries", "kernel32.dll", hid, false},
  };
  standins.set(script_of({test::device_record("\\\\.\\pipe\\tarvion-bind", 13)}));
  const GUID fixed_hid_class = {
      0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
  for (const BindCase& c : cases) {
    SCOPED_TRACE(c);
    Win32HidAccess access(c.setupapi, c.hid);
    EXPECT_EQ(access.bound(), c.bound);
    EXPECT_EQ(access.list_interfaces().size(), c.bound ? 1u : 0u);
    const GUID& expected = c.bound ? standin::kStandinHidGuid : fixed_hid_class;
    EXPECT_TRUE(IsEqualGUID(access.hid_guid(), expected));
  }
  expect_nothing_held();
}

struct Listed {
  std::string path;
  std::string driver_key;
  bool operator==(const Listed&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Listed& listed) {
  return out << listed.path << " [" << listed.driver_key << "]";
}

struct ListingCase {
  const char* name;
  std::function<void(standin::Script&)> change;
  std::vector<Listed> expected;
};

std::ostream& operator<<(std::ostream& out, const ListingCase& c) {
  return out << c.name;
}

void set_driver_key(standin::Device& device, const char* bytes, int count) {
  std::memset(device.driver_key, 0, sizeof device.driver_key);
  std::memcpy(device.driver_key, bytes, static_cast<std::size_t>(std::max(count, 0)));
  device.driver_key_bytes = count;
}

TEST_F(Win32HidAccessTest, ListsTheInterfacesWithPathAndDriverKey) {
  const std::string a = "\\\\.\\pipe\\tarvion-list-a";
  const std::string b = "\\\\.\\pipe\\tarvion-list-b";
  const std::string c = "\\\\.\\pipe\\tarvion-list-c";
  const std::string key = "{745a17a0-74d3-11d0-b6fe-00a0c90f57da}\\000";
  const std::string long_path = "\\\\.\\pipe\\" + std::string(80, 'x');
  const ListingCase cases[] = {
      {"three devices, in the system's order",
       [](standin::Script&) {},
       {{a, key + "1"}, {b, key + "2"}, {c, key + "3"}}},
      {"a driver key without NUL ends with its bytes",
       [&](standin::Script& s) { set_driver_key(s.devices[1], "{x}\\0042", 8); },
       {{a, key + "1"}, {b, "{x}\\0042"}, {c, key + "3"}}},
      {"a driver key ends at its first NUL",
       [&](standin::Script& s) { set_driver_key(s.devices[1], "{x}\\0042\0junk", 13); },
       {{a, key + "1"}, {b, "{x}\\0042"}, {c, key + "3"}}},
      {"a short driver key is passed on as it is",
       [&](standin::Script& s) { set_driver_key(s.devices[1], "7", 2); },
       {{a, key + "1"}, {b, "7"}, {c, key + "3"}}},
      {"an empty driver key",
       [&](standin::Script& s) { set_driver_key(s.devices[1], "", 0); },
       {{a, key + "1"}, {b, ""}, {c, key + "3"}}},
      {"a driver key that cannot be read is empty",
       [&](standin::Script& s) { s.devices[1].driver_key_bytes = -1; },
       {{a, key + "1"}, {b, ""}, {c, key + "3"}}},
      {"an interface whose detail size cannot be had is left out",
       [](standin::Script& s) { s.devices[1].detail_fails = 1; },
       {{a, key + "1"}, {c, key + "3"}}},
      {"an interface whose details cannot be read is left out",
       [](standin::Script& s) { s.devices[1].detail_fails = 2; },
       {{a, key + "1"}, {c, key + "3"}}},
      {"an enumeration that breaks off keeps what it listed",
       [](standin::Script& s) { s.enum_breaks_at = 1; },
       {{a, key + "1"}}},
      {"no device set: nothing", [](standin::Script& s) { s.class_devs_fail = 1; }, {}},
      {"a long device path arrives whole",
       [&](standin::Script& s) {
         std::strcpy(s.devices[0].path, long_path.c_str());
         s.device_count = 1;
       },
       {{long_path, key + "1"}}},
  };
  Win32HidAccess access = test::standin_access();
  ASSERT_TRUE(access.bound());
  for (const ListingCase& listing : cases) {
    SCOPED_TRACE(listing);
    standin::Script script =
        script_of({test::device_record(a, 13, "0001"), test::device_record(b, 14, "0002"),
                   test::device_record(c, 15, "0003")});
    listing.change(script);
    standins.set(script);
    std::vector<Listed> listed;
    for (const HidInterface& found : access.list_interfaces()) {
      // The path is what stays equal for the same device between listings.
      EXPECT_EQ(found.identity, found.path);
      listed.push_back({found.path, found.driver_key});
    }
    EXPECT_EQ(listed, listing.expected);
    expect_nothing_held();
  }
}

struct QueryCase {
  const char* name;
  std::function<void(standin::Device&)> change;
  std::optional<HidAttributes> attributes;
  std::optional<HidCaps> caps;
  std::optional<std::u16string> product;
};

std::ostream& operator<<(std::ostream& out, const QueryCase& c) {
  return out << c.name;
}

void set_product(standin::Device& device, const std::u16string& text, int bytes) {
  std::fill(std::begin(device.product), std::end(device.product), L'\0');
  std::copy(text.begin(), text.end(), device.product);
  device.product_bytes = bytes;
}

TEST_F(Win32HidAccessTest, AnswersTheQueriesOfAnOpenDevice) {
  const HidAttributes com{0, 13, 0x0100};
  const HidCaps nine{9, 9};
  const QueryCase cases[] = {
      {"a panel as the system describes it", [](standin::Device&) {}, com, nine, u"Pendra panel"},
      {"a product string filling the buffer without NUL stops at 254 characters",
       [](standin::Device& d) { set_product(d, std::u16string(300, u'P'), 600); }, com, nine,
       std::u16string(254, u'P')},
      {"a product string ends at its first NUL",
       [](standin::Device& d) { set_product(d, std::u16string(u"COM\0junk", 8), 16); }, com, nine,
       u"COM"},
      {"an empty product string", [](standin::Device& d) { set_product(d, u"", 0); }, com, nine,
       u""},
      {"zero report lengths are lengths too",
       [](standin::Device& d) { d.input_length = d.output_length = 0; }, com, HidCaps{0, 0},
       u"Pendra panel"},
      {"no preparsed data: no lengths", [](standin::Device& d) { d.caps_fail = 1; }, com,
       std::nullopt, u"Pendra panel"},
      {"capabilities that cannot be parsed: no lengths",
       [](standin::Device& d) { d.caps_fail = 2; }, com, std::nullopt, u"Pendra panel"},
      {"no attributes", [](standin::Device& d) { d.attributes_fail = 1; }, std::nullopt, nine,
       u"Pendra panel"},
      {"no product string", [](standin::Device& d) { d.product_bytes = -1; }, com, nine,
       std::nullopt},
  };
  Win32HidAccess access = test::standin_access();
  for (const QueryCase& c : cases) {
    SCOPED_TRACE(c);
    PipeDevice device(test::unique_pipe_name());
    standin::Device record = test::device_record(device.path(), 13);
    c.change(record);
    standins.set(script_of({record}));
    for (HidOpenMode mode : {HidOpenMode::read_write, HidOpenMode::query_only}) {
      HidHandle handle = access.open(device.path(), mode);
      ASSERT_NE(handle, kNoHidHandle) << access.last_error();
      HidAttributes attributes{};
      bool identified = access.get_attributes(handle, attributes);
      EXPECT_EQ(identified, c.attributes.has_value());
      if (identified && c.attributes) {
        EXPECT_EQ(attributes.vendor_id, c.attributes->vendor_id);
        EXPECT_EQ(attributes.product_id, c.attributes->product_id);
        EXPECT_EQ(attributes.version_number, c.attributes->version_number);
      }
      HidCaps caps{77, 77};
      bool sized = access.get_caps(handle, caps);
      EXPECT_EQ(sized, c.caps.has_value());
      if (sized && c.caps) {
        EXPECT_EQ(caps.input_report_length, c.caps->input_report_length);
        EXPECT_EQ(caps.output_report_length, c.caps->output_report_length);
      }
      std::u16string product = u"unread";
      bool named = access.get_product_string(handle, product);
      EXPECT_EQ(named, c.product.has_value());
      if (named && c.product) {
        EXPECT_TRUE(product == *c.product);
      }
      access.close(handle);
    }
    EXPECT_EQ(access.open_handles(), 0u);
    EXPECT_EQ(access.os_handles(), 0u);
    expect_nothing_held();
  }
}

// Starts a read of `length` bytes and waits for it; nullopt when none came.
std::optional<Bytes> read_report(Win32HidAccess& access, HidHandle handle, std::size_t length,
                                 uint32_t timeout_ms = 10000) {
  Bytes buffer(length, 0xEE);
  if (!access.start_read(handle, buffer.data(), buffer.size())) return std::nullopt;
  std::optional<std::size_t> done = access.wait_read(handle, timeout_ms);
  if (!done) {
    access.cancel_read(handle);
    return std::nullopt;
  }
  buffer.resize(*done);
  return buffer;
}

TEST_F(Win32HidAccessTest, InputReportsArriveWholeInOrderWithTheirReportId) {
  const Bytes reports[] = {
      {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08},
      {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
      {0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01},
  };
  PipeDevice device(test::unique_pipe_name());
  standins.set(script_of({test::device_record(device.path(), 13)}));
  Win32HidAccess access = test::standin_access();
  HidHandle handle = access.open(device.path(), HidOpenMode::read);
  ASSERT_NE(handle, kNoHidHandle) << access.last_error();

  // Queued before any read: each read still takes exactly one report.
  for (const Bytes& report : reports) device.send(report);
  for (const Bytes& report : reports) EXPECT_EQ(read_report(access, handle, 9), report);

  // Nothing sent: the wait times out, and a cancelled read leaves the next
  // one working.
  EXPECT_EQ(read_report(access, handle, 9, 50), std::nullopt);
  device.send(reports[0]);
  EXPECT_EQ(read_report(access, handle, 9), reports[0]);

  // A read handle takes no part in queries or writes.
  HidAttributes attributes;
  std::size_t written = 0;
  EXPECT_FALSE(access.get_attributes(handle, attributes));
  EXPECT_FALSE(access.write(handle, reports[0].data(), reports[0].size(), written));
  EXPECT_EQ(access.last_error(), static_cast<uint32_t>(ERROR_INVALID_HANDLE));
  access.close(handle);
  EXPECT_EQ(access.os_handles(), 0u);
}

TEST_F(Win32HidAccessTest, OutputReportsReachTheDeviceByteForByte) {
  const Bytes reports[] = {
      {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08},
      {0x00, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0x0F, 0x0F, 0x0F},
      {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
      {0x00, 0x79},
  };
  PipeDevice device(test::unique_pipe_name());
  standins.set(script_of({test::device_record(device.path(), 13)}));
  Win32HidAccess access = test::standin_access();
  HidHandle handle = access.open(device.path(), HidOpenMode::read_write);
  ASSERT_NE(handle, kNoHidHandle) << access.last_error();
  for (const Bytes& report : reports) {
    std::size_t written = 0;
    EXPECT_TRUE(access.write(handle, report.data(), report.size(), written));
    EXPECT_EQ(written, report.size());
  }
  ASSERT_TRUE(device.wait_received(std::size(reports), 10s));
  EXPECT_EQ(device.received(), std::vector<Bytes>(std::begin(reports), std::end(reports)));

  // Without access rights the system refuses the write.
  HidHandle query = access.open(device.path(), HidOpenMode::query_only);
  std::size_t written = 99;
  EXPECT_FALSE(access.write(query, reports[0].data(), reports[0].size(), written));
  EXPECT_EQ(written, 0u);
  EXPECT_NE(access.last_error(), 0u);
  access.close(query);
  access.close(handle);
}

struct EndCase {
  const char* name;
  bool unplug;  // the device goes, rather than the main thread closing the handle
};

std::ostream& operator<<(std::ostream& out, const EndCase& c) {
  return out << c.name;
}

TEST_F(Win32HidAccessTest, AWaitingReadEndsWithNoBytesWhenItsHandleOrDeviceGoes) {
  const EndCase cases[] = {
      {"the main thread closes the read handle", false},
      {"the device is unplugged", true},
  };
  for (const EndCase& c : cases) {
    SCOPED_TRACE(c);
    PipeDevice device(test::unique_pipe_name());
    standins.set(script_of({test::device_record(device.path(), 13)}));
    Win32HidAccess access = test::standin_access();
    HidHandle handle = access.open(device.path(), HidOpenMode::read);
    ASSERT_NE(handle, kNoHidHandle);
    Bytes buffer(9, 0xEE);
    std::atomic<bool> started{false};
    std::optional<std::size_t> result;
    uint32_t error = 0;
    std::chrono::milliseconds took{};
    bool restarted = true;
    std::thread reader([&] {
      if (!access.start_read(handle, buffer.data(), buffer.size())) return;
      started = true;
      auto begin = std::chrono::steady_clock::now();
      result = access.wait_read(handle, 10000);
      took = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - begin);
      error = access.last_error();
      restarted = access.start_read(handle, buffer.data(), buffer.size());
      if (restarted) access.cancel_read(handle);
    });
    while (!started) std::this_thread::yield();
    if (c.unplug) {
      device.unplug();
    } else {
      access.close(handle);
    }
    reader.join();
    EXPECT_EQ(result, std::optional<std::size_t>(0));
    EXPECT_LT(took, 5000ms);  // well before the read's own time-out
    EXPECT_FALSE(restarted);
    if (c.unplug) {
      EXPECT_EQ(error, static_cast<uint32_t>(ERROR_BROKEN_PIPE));
      EXPECT_EQ(access.open(device.path(), HidOpenMode::read), kNoHidHandle);
      EXPECT_EQ(access.last_error(), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
      access.close(handle);
    }
    EXPECT_EQ(access.open_handles(), 0u);
    EXPECT_EQ(access.os_handles(), 0u);
  }
}

// Our stand-ins lie beside the test program as a planted hid.dll would lie
// beside Tarvion.exe, and WINEDLLOVERRIDES makes Wine take them as Windows
// takes the first file its search order finds.
TEST(Win32HidLibraries, ALibraryBesideTheProgramIsNotTakenForTheSystemOne) {
  for (const char* name : {"hid.dll", "setupapi.dll"}) {
    // The plain search does find the plant; freed again, so that the bare
    // name below is not answered by a module already loaded.
    HMODULE found = LoadLibraryA(name);
    bool planted = found && GetProcAddress(found, standin::kSetScript);
    if (found) FreeLibrary(found);
    ASSERT_TRUE(planted) << name << ": " << test::kStandinsMissing;
  }
  HidLibraries system(kSetupApiLibrary, kHidLibrary);
  for (const char* name : {"hid.dll", "setupapi.dll"}) {
    HMODULE loaded = GetModuleHandleA(name);
    ASSERT_NE(loaded, nullptr) << name;
    EXPECT_EQ(GetProcAddress(loaded, standin::kSetScript), nullptr)
        << name << " was taken from beside the program";
  }
}

}  // namespace
}  // namespace tarvion
