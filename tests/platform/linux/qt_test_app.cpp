#include "qt_test_app.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <cstdlib>

namespace tarvion::test {

QApplication& qt_app() {
  static int argc = 1;
  static char name[] = "tarvion_platform_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    auto* created = new QApplication(argc, argv);
    created->setQuitOnLastWindowClosed(false);
    return created;
  }();
  return *app;
}

bool process_until(const std::function<bool()>& done, int bound_ms) {
  qt_app();
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > bound_ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

void process_for(int ms) {
  qt_app();
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
}

}  // namespace tarvion::test

// LeakSanitizer asks for this when the tests run under it: fontconfig, which
// Qt loads for the window tests, keeps a cache for the life of the process.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}
