// Single instance: the lock file keeps a second guard out while the first
// lives, the second's signal reaches the first's "Kelvane" socket, and
// nothing a dead instance left behind blocks the next one.
#include "platform/linux/qt_instance_guard.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <optional>

#include "qt_test_app.h"

namespace tarvion {
namespace {

using test::process_until;
using test::qt_app;

struct Dir {
  QTemporaryDir tmp;
  std::string path() const { return tmp.path().toStdString(); }
};

TEST(QtInstanceGuard, SecondGuardIsRefusedWhileTheFirstLivesThenAdmitted) {
  qt_app();
  Dir dir;
  {
    QtInstanceGuard first(dir.path());
    ASSERT_TRUE(first.acquire());
    QtInstanceGuard second(dir.path());
    EXPECT_FALSE(second.acquire());
    EXPECT_FALSE(second.acquire());  // still refused on a retry
  }
  QtInstanceGuard third(dir.path());
  EXPECT_TRUE(third.acquire());
}

TEST(QtInstanceGuard, SecondInstancesSignalReachesTheRunningOne) {
  qt_app();
  Dir dir;
  QtInstanceGuard first(dir.path());
  ASSERT_TRUE(first.acquire());
  for (int n = 1; n <= 2; ++n) {
    QtInstanceGuard second(dir.path());
    ASSERT_FALSE(second.acquire());
    second.signal_running();
    ASSERT_TRUE(process_until([&] { return first.signals_received() == n; }));
  }
}

TEST(QtInstanceGuard, LeftoversOfADeadInstanceDoNotBlock) {
  qt_app();
  Dir dir;
  {
    // A lock file and a socket file with nobody holding them.
    std::ofstream(dir.path() + "/tarvion.lock") << "12345\n";
    std::ofstream(dir.path() + "/Kelvane") << "";
  }
  QtInstanceGuard guard(dir.path());
  ASSERT_TRUE(guard.acquire());
  QtInstanceGuard second(dir.path());
  ASSERT_FALSE(second.acquire());
  second.signal_running();
  EXPECT_TRUE(process_until([&] { return guard.signals_received() == 1; }));
}

TEST(QtInstanceGuard, SignalWithNobodyListeningReturns) {
  qt_app();
  Dir dir;
  QtInstanceGuard lone(dir.path());
  lone.signal_running();  // must neither hang nor throw
  EXPECT_TRUE(lone.acquire());
}

TEST(QtInstanceGuard, FolderFollowsXdgRuntimeDirWhenItIsPrivate) {
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

}  // namespace
}  // namespace tarvion
