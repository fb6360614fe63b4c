// clang-format off
#include "platform/posix/posix_only.h"  // first: this file is POSIX-only
// clang-format on

#include "platform/posix/descriptors.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace tarvion {

int own_descriptor(int fd, bool non_blocking) {
  if (fd < 0) return -1;
  int flags = ::fcntl(fd, F_GETFL);
  if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0 || flags < 0 ||
      (non_blocking && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)) {
    int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

int owned_socket(int family, int type, int protocol, bool non_blocking) {
  return own_descriptor(::socket(family, type, protocol), non_blocking);
}

bool owned_pair(int fds[2], bool is_socket_pair) {
  int made = is_socket_pair ? ::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) : ::pipe(fds);
  if (made != 0) return false;
  int first = own_descriptor(fds[0]);
  int second = own_descriptor(fds[1]);
  if (first >= 0 && second >= 0) return true;
  if (first >= 0) ::close(first);
  if (second >= 0) ::close(second);
  fds[0] = fds[1] = -1;
  return false;
}

int owned_accept(int listener) {
  return own_descriptor(::accept(listener, nullptr, nullptr), false);
}

}  // namespace tarvion
