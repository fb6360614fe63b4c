// tarvion-x11-shot WINDOW-ID OUT.png: saves what an X window shows, for the
// window tests under Xvfb (no screenshot tool needs installing).
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: tarvion-x11-shot WINDOW-ID OUT.png\n", stderr);
    return 2;
  }
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  QGuiApplication app(argc, argv);
  WId window = static_cast<WId>(std::strtoull(argv[1], nullptr, 0));
  QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(window);
  if (shot.isNull() || !shot.save(QString::fromLocal8Bit(argv[2]), "PNG")) return 1;
  return 0;
}
