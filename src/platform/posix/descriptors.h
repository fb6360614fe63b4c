// Every descriptor the program opens is close-on-exec (the panel host or a
// helper it starts must not inherit its sockets) and, where a loop waits on
// it, non-blocking. One place sets that, with POSIX calls only.
#pragma once

// clang-format off
#include "platform/posix/posix_only.h"  // first: this file is POSIX-only
// clang-format on

namespace tarvion {

// fd itself, or -1 (fd closed, errno kept) when fd was -1 or a flag cannot be set.
int own_descriptor(int fd, bool non_blocking = true);

// socket() / socketpair() / pipe() / accept() whose descriptors come back owned as above.
int owned_socket(int family, int type, int protocol, bool non_blocking = true);
bool owned_pair(int fds[2], bool is_socket_pair);
int owned_accept(int listener);

}  // namespace tarvion
