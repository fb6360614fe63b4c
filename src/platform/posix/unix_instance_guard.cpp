// clang-format off
#include "platform/posix/posix_only.h"  // first: this file is POSIX-only
// clang-format on

#include "platform/posix/unix_instance_guard.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/posix/descriptors.h"

namespace tarvion {

namespace {

// A folder only this user can use: a real directory (lstat: a symlink is not
// followed), owned by us, with no access for group or others.
bool is_private_dir(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
         (st.st_mode & 077) == 0;
}

}  // namespace

std::string default_instance_dir() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime && is_private_dir(runtime)) return runtime;
  // The temporary folder is shared by every user: a private folder of our own
  // keeps another user from holding our lock or answering on our socket.
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp && *tmp == '/' ? tmp : "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  std::string dir = base + "/tarvion-" + std::to_string(::getuid());
  ::mkdir(dir.c_str(), 0700);
  // Another user may have made that name first (a folder with a held lock
  // would keep us from starting, a symlink would move our lock and socket):
  // whatever is there now must be ours and private, or we run unguarded.
  if (!is_private_dir(dir)) return {};
  return dir;
}

// The socket's address; false when the path does not fit one.
static bool unix_address(const std::string& path, sockaddr_un& address) {
  address = sockaddr_un{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

UnixInstanceGuard::UnixInstanceGuard(FdWatcher& loop, std::string dir)
    : loop_(loop), dir_(std::move(dir)) {}

UnixInstanceGuard::~UnixInstanceGuard() {
  if (server_fd_ >= 0) {
    loop_.unwatch(server_fd_);
    ::close(server_fd_);
  }
  if (lock_fd_ >= 0) ::close(lock_fd_);  // releases the lock
}

bool UnixInstanceGuard::acquire() {
  if (lock_fd_ >= 0) return true;
  // No safe folder: running unguarded is better than not running at all.
  if (dir_.empty()) return true;
  int fd = ::open(lock_path().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    // No place for a lock (read-only or missing folder): running unguarded is
    // better than not running at all.
    return true;
  }
  // flock ends with the process however it ends, so a crash leaves no stale lock.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  lock_fd_ = fd;
  listen();
  return true;
}

void UnixInstanceGuard::listen() {
  sockaddr_un address;
  if (!unix_address(socket_path(), address)) return;
  int fd = owned_socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return;
  // We hold the lock, so a socket file left there is a dead instance's.
  ::unlink(address.sun_path);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::chmod(address.sun_path, 0600) != 0 || ::listen(fd, 8) != 0) {
    // Without the socket a second instance still stays out; it only cannot say so.
    ::close(fd);
    return;
  }
  server_fd_ = fd;
  loop_.watch(server_fd_, [this] { accept_all(); });
}

void UnixInstanceGuard::accept_all() {
  for (;;) {
    int peer = owned_accept(server_fd_);
    if (peer < 0) return;
    ++signals_received_;
    ::close(peer);
  }
}

void UnixInstanceGuard::signal_running() {
  sockaddr_un address;
  if (dir_.empty() || !unix_address(socket_path(), address)) return;
  int fd = owned_socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
      (errno == EAGAIN || errno == EINPROGRESS)) {
    // The first instance's queue is full: give it a second to take us.
    pollfd wait{fd, POLLOUT, 0};
    ::poll(&wait, 1, 1000);
  }
  ::close(fd);
}

}  // namespace tarvion
