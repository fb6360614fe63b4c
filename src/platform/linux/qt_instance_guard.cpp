// clang-format off
#include "platform/linux/linux_only.h"  // first: this file is Linux-only
// clang-format on

#include "platform/linux/qt_instance_guard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QLocalSocket>
#include <cstdlib>

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
  std::string dir = QDir::tempPath().toStdString() + "/tarvion-" + std::to_string(::getuid());
  ::mkdir(dir.c_str(), 0700);
  // Another user may have made that name first (a folder with a held lock
  // would keep us from starting, a symlink would move our lock and socket):
  // whatever is there now must be ours and private, or we run unguarded.
  if (!is_private_dir(dir)) return {};
  return dir;
}

QtInstanceGuard::QtInstanceGuard(std::string dir) : dir_(std::move(dir)) {}

QtInstanceGuard::~QtInstanceGuard() {
  if (server_) server_->close();
  if (lock_fd_ >= 0) ::close(lock_fd_);  // releases the lock
}

bool QtInstanceGuard::acquire() {
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
  server_ = std::make_unique<QLocalServer>();
  QString name = QString::fromStdString(socket_path());
  // We hold the lock, so a socket file left there is a dead instance's.
  QLocalServer::removeServer(name);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (server_->listen(name)) {
    QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this] {
      while (QLocalSocket* peer = server_->nextPendingConnection()) {
        ++signals_received_;
        peer->disconnectFromServer();
        peer->deleteLater();
      }
    });
  }
  return true;
}

void QtInstanceGuard::signal_running() {
  if (dir_.empty()) return;
  QLocalSocket socket;
  socket.connectToServer(QString::fromStdString(socket_path()));
  if (socket.waitForConnected(1000)) socket.disconnectFromServer();
}

}  // namespace tarvion
