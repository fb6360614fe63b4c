// Single instance: the lock file keeps a second guard out while the first
// lives, the second's signal reaches the first's "Kelvane" socket, and
// nothing a dead instance left behind blocks the next one.
#include "platform/posix/unix_instance_guard.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>

#include "platform/qt/qt_fd_watcher.h"
#include "qt_test_app.h"

namespace tarvion {
namespace {

using test::process_until;
using test::qt_app;

// The guard's socket is served by the Qt loop, as in the window program.
QtFdWatcher& loop() {
  qt_app();
  static QtFdWatcher watcher;
  return watcher;
}

struct Dir {
  QTemporaryDir tmp;
  std::string path() const { return tmp.path().toStdString(); }
};

TEST(UnixInstanceGuard, SecondGuardIsRefusedWhileTheFirstLivesThenAdmitted) {
  qt_app();
  Dir dir;
  {
    UnixInstanceGuard first(loop(), dir.path());
    ASSERT_TRUE(first.acquire());
    UnixInstanceGuard second(loop(), dir.path());
    EXPECT_FALSE(second.acquire());
    EXPECT_FALSE(second.acquire());  // still refused on a retry
  }
  UnixInstanceGuard third(loop(), dir.path());
  EXPECT_TRUE(third.acquire());
}

TEST(UnixInstanceGuard, SecondInstancesSignalReachesTheRunningOne) {
  qt_app();
  Dir dir;
  UnixInstanceGuard first(loop(), dir.path());
  ASSERT_TRUE(first.acquire());
  for (int n = 1; n <= 2; ++n) {
    UnixInstanceGuard second(loop(), dir.path());
    ASSERT_FALSE(second.acquire());
    second.signal_running();
    ASSERT_TRUE(process_until([&] { return first.signals_received() == n; }));
  }
}

TEST(UnixInstanceGuard, LeftoversOfADeadInstanceDoNotBlock) {
  qt_app();
  Dir dir;
  {
    // A lock file and a socket file with nobody holding them.
    std::ofstream(dir.path() + "/tarvion.lock") << "12345\n";
    std::ofstream(dir.path() + "/Kelvane") << "";
  }
  UnixInstanceGuard guard(loop(), dir.path());
  ASSERT_TRUE(guard.acquire());
  UnixInstanceGuard second(loop(), dir.path());
  ASSERT_FALSE(second.acquire());
  second.signal_running();
  EXPECT_TRUE(process_until([&] { return guard.signals_received() == 1; }));
}

TEST(UnixInstanceGuard, SignalWithNobodyListeningReturns) {
  qt_app();
  Dir dir;
  UnixInstanceGuard lone(loop(), dir.path());
  lone.signal_running();  // must neither hang nor throw
  EXPECT_TRUE(lone.acquire());
}

TEST(UnixInstanceGuard, FolderFollowsXdgRuntimeDirWhenItIsPrivate) {
  Dir good, open_dir;
  ::chmod(good.path().c_str(), 0700);
  ::chmod(open_dir.path().c_str(), 0777);
  std::string fallback = QDir::tempPath().toStdString() + "/tarvion-" + std::to_string(::getuid());
  struct Case {
    const char* name;
    std::optional<std::string> xdg;
    std::string expected;
  };
  const Case cases[] = {
      {"private runtime folder", good.path(), good.path()},
      {"unset", std::nullopt, fallback},
      {"empty", std::string(), fallback},
      {"missing folder", good.path() + "/gone", fallback},
      {"folder others can write", open_dir.path(), fallback},
  };
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  std::optional<std::string> restore = saved ? std::optional<std::string>(saved) : std::nullopt;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.xdg)
      ::setenv("XDG_RUNTIME_DIR", c.xdg->c_str(), 1);
    else
      ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(default_instance_dir(), c.expected);
  }
  if (restore)
    ::setenv("XDG_RUNTIME_DIR", restore->c_str(), 1);
  else
    ::unsetenv("XDG_RUNTIME_DIR");
  struct stat st {};
  ASSERT_EQ(::stat(fallback.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);  // the fallback is ours alone
}

// Restores an environment variable when the test ends.
struct EnvRestore {
  std::string name;
  std::optional<std::string> saved;
  explicit EnvRestore(std::string n) : name(std::move(n)) {
    if (const char* v = std::getenv(name.c_str())) saved = v;
  }
  ~EnvRestore() {
    if (saved)
      ::setenv(name.c_str(), saved->c_str(), 1);
    else
      ::unsetenv(name.c_str());
  }
};

TEST(UnixInstanceGuard, FallbackFolderPlantedByAnotherUserIsNotUsed) {
  EnvRestore xdg("XDG_RUNTIME_DIR"), tmpdir("TMPDIR");
  ::unsetenv("XDG_RUNTIME_DIR");
  struct Case {
    const char* name;
    std::function<void(const std::string& path, const std::string& elsewhere)> plant;
    bool used;
  };
  const Case cases[] = {
      {"nothing there: made private", [](const std::string&, const std::string&) {}, true},
      {"ours and private already",
       [](const std::string& p, const std::string&) { ::mkdir(p.c_str(), 0700); }, true},
      {"symlink to a folder",
       [](const std::string& p, const std::string& e) { ::symlink(e.c_str(), p.c_str()); }, false},
      {"plain file", [](const std::string& p, const std::string&) { std::ofstream(p) << "x"; },
       false},
      {"folder others can enter",
       [](const std::string& p, const std::string&) {
         ::mkdir(p.c_str(), 0700);
         ::chmod(p.c_str(), 0755);
       },
       false},
      {"folder of another user",
       [](const std::string& p, const std::string&) {
         ::mkdir(p.c_str(), 0700);
         ASSERT_EQ(::chown(p.c_str(), 65534, 65534), 0);
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Changing a folder's owner needs root; elsewhere that row cannot be set up.
    if (std::string(c.name) == "folder of another user" && ::getuid() != 0) continue;
    Dir tmp, elsewhere;
    ::chmod(elsewhere.path().c_str(), 0700);
    ::setenv("TMPDIR", tmp.path().c_str(), 1);
    const std::string path = tmp.path() + "/tarvion-" + std::to_string(::getuid());
    c.plant(path, elsewhere.path());
    const std::string dir = default_instance_dir();
    EXPECT_EQ(dir, c.used ? path : std::string());
    struct stat st {};
    if (c.used) {
      ASSERT_EQ(::lstat(path.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
    // Nothing is made through a planted symlink.
    EXPECT_FALSE(QDir(QString::fromStdString(elsewhere.path())).exists("tarvion.lock"));
  }
}

TEST(UnixInstanceGuard, WithoutASafeFolderEveryInstanceRunsUnguarded) {
  qt_app();
  UnixInstanceGuard first(loop(), ""), second(loop(), "");
  EXPECT_TRUE(first.acquire());
  EXPECT_TRUE(second.acquire());
  second.signal_running();  // nobody to tell; returns at once
  EXPECT_EQ(first.signals_received(), 0);
}

}  // namespace
}  // namespace tarvion
