#include "udev_broadcast.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarvion::testing {
namespace {

// The header the daemon puts in front of the properties; every field is
// 32 bits, the magic and the hashes in network order.
struct MonitorHeader {
  char prefix[8];
  uint32_t magic;
  uint32_t header_size;
  uint32_t properties_off;
  uint32_t properties_len;
  uint32_t filter_subsystem_hash;
  uint32_t filter_devtype_hash;
  uint32_t filter_tag_bloom_hi;
  uint32_t filter_tag_bloom_lo;
};

constexpr uint32_t kMagic = 0xfeedcafe;
constexpr uint32_t kUdevGroup = 2;

std::string value_of(const std::vector<std::string>& properties, const std::string& key) {
  for (const std::string& p : properties) {
    if (p.rfind(key + "=", 0) == 0) return p.substr(key.size() + 1);
  }
  return "";
}

}  // namespace

uint32_t murmur_hash2(std::string_view text) {
  constexpr uint32_t m = 0x5bd1e995;
  uint32_t h = static_cast<uint32_t>(text.size());  // seed 0
  std::size_t i = 0;
  for (; i + 4 <= text.size(); i += 4) {
    uint32_t k;
    std::memcpy(&k, text.data() + i, 4);
    k *= m;
    k ^= k >> 24;
    k *= m;
    h *= m;
    h ^= k;
  }
  switch (text.size() - i) {
    case 3:
      h ^= static_cast<uint32_t>(static_cast<uint8_t>(text[i + 2])) << 16;
      [[fallthrough]];
    case 2:
      h ^= static_cast<uint32_t>(static_cast<uint8_t>(text[i + 1])) << 8;
      [[fallthrough]];
    case 1:
      h ^= static_cast<uint8_t>(text[i]);
      h *= m;
  }
  h ^= h >> 13;
  h *= m;
  h ^= h >> 15;
  return h;
}

std::vector<std::string> hidraw_event(const std::string& action, const std::string& devpath,
                                      uint64_t seqnum) {
  std::string name = devpath.substr(devpath.rfind('/') + 1);
  return {"ACTION=" + action, "DEVPATH=" + devpath, "SUBSYSTEM=hidraw", "DEVNAME=/dev/" + name,
          "SEQNUM=" + std::to_string(seqnum)};
}

bool broadcast_udev_event(const std::vector<std::string>& properties) {
  std::string body;
  for (const std::string& p : properties) {
    body += p;
    body.push_back('\0');
  }
  MonitorHeader header{};
  std::memcpy(header.prefix, "libudev", 8);
  header.magic = htonl(kMagic);
  header.header_size = sizeof header;
  header.properties_off = sizeof header;
  header.properties_len = static_cast<uint32_t>(body.size());
  header.filter_subsystem_hash = htonl(murmur_hash2(value_of(properties, "SUBSYSTEM")));
  std::string devtype = value_of(properties, "DEVTYPE");
  if (!devtype.empty()) header.filter_devtype_hash = htonl(murmur_hash2(devtype));

  int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
  if (fd < 0) return false;
  sockaddr_nl to{};
  to.nl_family = AF_NETLINK;
  to.nl_groups = kUdevGroup;
  iovec parts[2] = {{&header, sizeof header}, {body.data(), body.size()}};
  msghdr message{};
  message.msg_name = &to;
  message.msg_namelen = sizeof to;
  message.msg_iov = parts;
  message.msg_iovlen = 2;
  ssize_t sent = sendmsg(fd, &message, 0);
  int error = errno;
  ::close(fd);
  // With nobody listening the kernel answers ECONNREFUSED; that is no failure.
  if (sent < 0 && error != ECONNREFUSED) {
    errno = error;
    return false;
  }
  return true;
}

}  // namespace tarvion::testing
