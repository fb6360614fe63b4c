// The Qt window: the controls of Form1 where the window description puts
// them, the logic's texts shown, and the user's events forwarded once each.
#include "platform/qt/qt_main_window.h"

#include <gtest/gtest.h>

#include <QAbstractSlider>
#include <QCoreApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "qt_test_app.h"
#include "shell/view_text.h"

namespace tarvion {
namespace {

using test::qt_app;

struct Events {
  std::vector<std::string> seen;
  WindowHandlers handlers() {
    return WindowHandlers{
        [this] { seen.push_back("Button1Click"); },
        [this](int p) { seen.push_back("TrackBar1Change " + std::to_string(p)); },
        [this](int m) { seen.push_back("TrayIconMessage " + std::to_string(m)); },
        [this] { seen.push_back("FormClose"); },
    };
  }
};

template <typename T>
T* child(QtMainWindow& window, const char* name) {
  return window.form().findChild<T*>(QString::fromLatin1(name));
}

TEST(QtMainWindow, FixedClientAreaWithTheControlsWhereTheDescriptionPutsThem) {
  qt_app();
  QtMainWindow window("tarvion", [] { return true; });
  QWidget& form = window.form();
  EXPECT_EQ(form.windowTitle(), "Tarvion");
  EXPECT_EQ(form.size(), QSize(433, 241));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());  // not resizable
  EXPECT_FALSE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(form.palette().color(QPalette::Window), QColor(166, 202, 240));

  struct Place {
    const char* name;
    QPoint at;
  };
  for (Place p :
       {Place{"Panel1", {8, 8}}, Place{"ListBox1", {232, 8}}, Place{"TrackBar1", {232, 112}},
        Place{"Label12", {376, 116}}, Place{"Label9", {64, 172}}, Place{"Label16", {64, 220}},
        Place{"Button1", {384, 216}}, Place{"Image2", {8, 8}}, Place{"Label3", {88, 9}}}) {
    SCOPED_TRACE(p.name);
    QWidget* control = child<QWidget>(window, p.name);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->pos(), p.at);
  }
  auto* bar = child<QSlider>(window, "TrackBar1");
  EXPECT_EQ(bar->minimum(), 1);
  EXPECT_EQ(bar->maximum(), 121);
  EXPECT_EQ(bar->value(), 121);
  EXPECT_EQ(bar->tickInterval(), 10);
  EXPECT_EQ(bar->focusPolicy(), Qt::ClickFocus);  // keys after a click, yet no tab stop
  EXPECT_EQ(window.label("Label12")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_EQ(window.label("Label9")->palette().color(QPalette::WindowText), QColor(0, 0, 128));
  EXPECT_FALSE(child<QLabel>(window, "Image2")->pixmap().isNull());
}

TEST(QtMainWindow, LabelsShowTheLogicsTextsAndSizeThemselves) {
  qt_app();
  QtMainWindow window("tarvion", [] { return true; });
  int narrow = window.label("Label16")->width();
  window.set_text(Control::Label16, "Cannot link to FSUIPC or WideClient");
  EXPECT_EQ(window.label("Label16")->text(), "Cannot link to FSUIPC or WideClient");
  EXPECT_GT(window.label("Label16")->width(), narrow);
  for (Control control : kControls) {
    // Each control reaches the window's label of its name (a missing one would be ignored).
    std::string name = control_name(control);
    window.set_text(control, "shown " + name);
    ASSERT_NE(window.label(name), nullptr) << name;
    EXPECT_EQ(window.label(name)->text(), QString::fromStdString("shown " + name));
  }

  auto* list = child<QListWidget>(window, "ListBox1");
  window.set_device_list({"PANEL - Device = 13", "PANEL - Device = 14"});
  ASSERT_EQ(list->count(), 2);
  EXPECT_EQ(list->item(1)->text(), "PANEL - Device = 14");
  window.set_device_list({});
  EXPECT_EQ(list->count(), 0);
}

TEST(QtMainWindow, TrackBarMovedByTheUserRunsTheHandlerMovedByTheLogicDoesNot) {
  qt_app();
  QtMainWindow window("tarvion", [] { return true; });
  Events events;
  window.set_handlers(events.handlers());
  auto* bar = child<QSlider>(window, "TrackBar1");
  window.set_trackbar_position(60);
  EXPECT_EQ(bar->value(), 60);
  EXPECT_TRUE(events.seen.empty());
  bar->triggerAction(QAbstractSlider::SliderPageStepSub);  // the user pages down
  ASSERT_EQ(events.seen.size(), 1u);
  EXPECT_EQ(events.seen[0], "TrackBar1Change " + std::to_string(bar->value()));
  EXPECT_LT(bar->value(), 60);
}

TEST(QtMainWindow, EveryScrollNotificationPushesAlsoWhenThePositionStays) {
  qt_app();
  QtMainWindow window("tarvion", [] { return true; });
  auto* bar = child<QSlider>(window, "TrackBar1");
  struct Case {
    const char* name;
    int from;
    std::function<void()> act;
    std::vector<std::string> seen;
  };
  auto key = [bar](Qt::Key k) {
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
    QCoreApplication::sendEvent(bar, &press);
  };
  const Case cases[] = {
      {"key left", 60, [&] { key(Qt::Key_Left); }, {"TrackBar1Change 59"}},
      {"key left at the low end", 1, [&] { key(Qt::Key_Left); }, {"TrackBar1Change 1"}},
      {"key right at the high end", 121, [&] { key(Qt::Key_Right); }, {"TrackBar1Change 121"}},
      {"page up at the high end",
       121,
       [&] { bar->triggerAction(QAbstractSlider::SliderPageStepAdd); },
       {"TrackBar1Change 121"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Events events;
    window.set_handlers(events.handlers());
    window.set_trackbar_position(c.from);
    c.act();
    EXPECT_EQ(events.seen, c.seen);
  }
}

TEST(QtMainWindow, TrayButtonAndTrayIconClicksReachTheirHandlers) {
  qt_app();
  QtMainWindow window("tarvion", [] { return true; });
  Events events;
  window.set_handlers(events.handlers());
  child<QPushButton>(window, "Button1")->click();
  emit window.tray_icon().activated(QSystemTrayIcon::Trigger);
  emit window.tray_icon().activated(QSystemTrayIcon::Context);
  emit window.tray_icon().activated(QSystemTrayIcon::MiddleClick);  // nothing
  EXPECT_EQ(events.seen, (std::vector<std::string>{"Button1Click", "TrayIconMessage 513",
                                                   "TrayIconMessage 516"}));
}

TEST(QtMainWindow, WithoutANotificationAreaTheTrayIsRefusedAndTheWindowSaysSo) {
  qt_app();
  bool available = false;
  QtMainWindow window("tarvion", [&] { return available; });
  window.show();
  EXPECT_FALSE(window.tray_add());
  EXPECT_TRUE(window.form().isVisible());
  EXPECT_TRUE(window.label("TrayNote")->isVisible());
  EXPECT_FALSE(window.tray_icon().isVisible());
  available = true;  // a tray host came up later
  EXPECT_TRUE(window.tray_add());
  EXPECT_FALSE(window.label("TrayNote")->isVisible());
}

TEST(QtMainWindow, HideShowAndTrayFollowTheLogic) {
  qt_app();
  QtMainWindow window("tarvion", [] { return true; });
  window.show();
  ASSERT_TRUE(window.tray_add());
  window.hide();
  EXPECT_FALSE(window.form().isVisible());
  EXPECT_TRUE(window.tray_icon().isVisible());
  window.show();
  window.tray_delete();
  EXPECT_TRUE(window.form().isVisible());
  EXPECT_FALSE(window.tray_icon().isVisible());
}

TEST(QtMainWindow, ClosingRunsFormCloseOnceWhicheverWayItComesAndEndsTheLoop) {
  qt_app();
  QtMainWindow window("tarvion", [] { return true; });
  Events events;
  window.set_handlers(events.handlers());
  window.show();
  QTimer::singleShot(0, [&] {
    window.form().close();  // the close button
    window.close();         // a signal arriving as well
  });
  QTimer::singleShot(5000, [] { QCoreApplication::exit(1); });  // bound: a lost close
  EXPECT_EQ(QCoreApplication::exec(), 0);
  EXPECT_TRUE(window.closed());
  EXPECT_EQ(events.seen, std::vector<std::string>{"FormClose"});
  EXPECT_FALSE(window.form().isVisible());
}

TEST(QtMainWindow, ClosingDuringAModalLoopBeforeTheMainLoopEndsThatLoop) {
  // The start-up's error box runs before the main loop: a signal that closes
  // the program then must end the box's loop, or the program hangs on it.
  qt_app();
  QtMainWindow window("tarvion", [] { return true; });
  QEventLoop modal;
  QTimer::singleShot(0, [&] { window.close(); });
  QTimer::singleShot(5000, &modal, [&] { modal.exit(1); });  // bound: the loop went on
  EXPECT_EQ(modal.exec(), 0);
  // Leave the thread able to run loops again for the next tests.
  QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
  QCoreApplication::exec();
}

TEST(QtMainWindow, TrayTipFitsItsSixtyFourByteFieldCutOnACharacter) {
  struct Case {
    std::string title;
    std::string tip;
  };
  const std::string e_acute = "\xC3\xA9", euro = "\xE2\x82\xAC";
  for (const Case& c :
       {Case{"tarvion", "tarvion"}, Case{std::string(63, 'a'), std::string(63, 'a')},
        Case{std::string(64, 'b'), std::string(63, 'b')},
        Case{std::string(300, 'c'), std::string(63, 'c')},
        Case{std::string(62, 'd') + e_acute, std::string(62, 'd')},
        Case{std::string(61, 'e') + e_acute, std::string(61, 'e') + e_acute},
        Case{std::string(61, 'f') + euro, std::string(61, 'f')},
        Case{std::string(60, 'g') + euro + "h", std::string(60, 'g') + euro}}) {
    SCOPED_TRACE(c.title);
    EXPECT_EQ(tray_tip(c.title), c.tip);
  }
}

}  // namespace
}  // namespace tarvion
