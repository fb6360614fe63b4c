#include "platform/qt/qt_main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QFrame>
#include <QMessageBox>
#include <QPalette>

#include "platform/qt/qt_pictures.h"
#include "shell/view_text.h"

namespace tarvion {

namespace {

const QColor kSkyBlue(166, 202, 240);
const QColor kNavy(0, 0, 128);
const QColor kRed(255, 0, 0);

QFont window_font(int pixels, bool bold, bool underline = false) {
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixels);
  font.setBold(bold);
  font.setUnderline(underline);
  return font;
}

struct LabelLook {
  int pixels = 11;
  bool bold = true;
  bool underline = false;
  QColor color = Qt::black;
};

}  // namespace

class QtMainWindow::Form : public QWidget {
 public:
  explicit Form(QtMainWindow& owner) : owner_(owner) {}

 protected:
  void closeEvent(QCloseEvent* event) override {
    owner_.close();
    event->accept();
  }

 private:
  QtMainWindow& owner_;
};

QtMainWindow::QtMainWindow(std::string title, TrayProbe tray_available)
    : title_(std::move(title)), tray_available_(std::move(tray_available)) {
  if (!tray_available_) tray_available_ = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
  build();
}

QtMainWindow::~QtMainWindow() {
  tray_.reset();
  form_.reset();
}

void QtMainWindow::build() {
  form_ = std::make_unique<Form>(*this);
  QWidget* form = form_.get();
  form->setObjectName(QStringLiteral("Form1"));
  // Caption bar with the system menu and the close button only.
  form->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  form->setWindowTitle(QStringLiteral("Tarvion"));
  form->setWindowIcon(window_icon());
  form->setFixedSize(433, 241);
  form->move(373, 223);
  form->setFont(window_font(11, false));
  QPalette palette = form->palette();
  palette.setColor(QPalette::Window, kSkyBlue);
  form->setPalette(palette);
  form->setAutoFillBackground(true);

  auto add_label = [this](QWidget* parent, const char* name, QRect at, const QString& text,
                          LabelLook look) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(window_font(look.pixels, look.bold, look.underline));
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, look.color);
    label->setPalette(p);
    label->setGeometry(at);
    label->adjustSize();  // labels size themselves to their text
    labels_[name] = label;
    return label;
  };

  // The about box.
  auto* panel = new QFrame(form);
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setGeometry(8, 8, 209, 97);
  auto* image = new QLabel(panel);
  image->setObjectName(QStringLiteral("Image2"));
  image->setGeometry(8, 8, 65, 33);
  image->setPixmap(draw_about_picture(65, 33));
  add_label(panel, "Label3", {88, 9, 112, 16}, QStringLiteral("Pendra Modules"), {13, true});
  add_label(panel, "Label4", {112, 27, 75, 13}, QStringLiteral("Ver 1.7Beta1"), {});
  auto* bevel = new QFrame(panel);
  bevel->setObjectName(QStringLiteral("Bevel1"));
  bevel->setFrameStyle(QFrame::HLine | QFrame::Sunken);
  bevel->setGeometry(8, 48, 193, 5);
  add_label(panel, "Label14", {58, 57, 95, 13}, QStringLiteral("Tarvion for Linux"), {});
  add_label(panel, "Label5", {34, 73, 135, 13}, QStringLiteral("No Tarvion.ini read"), {});

  list_ = new QListWidget(form);
  list_->setObjectName(QStringLiteral("ListBox1"));
  list_->setGeometry(232, 8, 185, 73);
  list_->setUniformItemSizes(true);

  add_label(form, "Label11", {240, 92, 100, 16}, QStringLiteral("Bright control :"), {13, true});
  trackbar_ = new QSlider(Qt::Horizontal, form);
  trackbar_->setObjectName(QStringLiteral("TrackBar1"));
  trackbar_->setGeometry(232, 112, 145, 33);
  trackbar_->setRange(1, 121);
  trackbar_->setValue(121);
  trackbar_->setTickPosition(QSlider::TicksBelow);
  trackbar_->setTickInterval(10);
  // Not a tab stop, but a click gives it the focus, so the keys move it too.
  trackbar_->setFocusPolicy(Qt::ClickFocus);
  // Every scroll notification of the user (keys, wheel, paging, dragging) runs
  // the handler, also one that leaves the position where it was (a key
  // pressed at the end of the range); so does letting go of the thumb. The
  // logic's own moves run nothing (set_trackbar_position).
  auto push = [this] {
    if (handlers_.TrackBar1Change) handlers_.TrackBar1Change(trackbar_->sliderPosition());
  };
  QObject::connect(trackbar_, &QSlider::actionTriggered, form, push);
  QObject::connect(trackbar_, &QSlider::sliderReleased, form, push);
  add_label(form, "Label12", {376, 116, 22, 13}, QStringLiteral("121"), {11, true, false, kRed});

  // The ZEMP section.
  add_label(form, "Label10", {32, 116, 82, 13}, QStringLiteral("ZEMP-XPLANE"), {11, true, true});
  add_label(form, "Label1", {8, 140, 39, 13}, QStringLiteral("Host : "), {});
  add_label(form, "Label2", {48, 140, 21, 13}, QStringLiteral("     "), {11, true, false, kNavy});
  add_label(form, "Label6", {8, 156, 40, 13}, QStringLiteral("Port  : "), {});
  add_label(form, "Label7", {48, 156, 21, 13}, QStringLiteral("     "), {11, true, false, kNavy});
  add_label(form, "Label8", {8, 172, 49, 13}, QStringLiteral("Status : "), {});
  add_label(form, "Label9", {64, 172, 79, 13}, QStringLiteral("Disconnected"),
            {11, true, false, kNavy});

  // The FSUIPC section.
  add_label(form, "Label13", {32, 196, 45, 13}, QStringLiteral("FSUIPC"), {11, true, true});
  add_label(form, "Label15", {8, 220, 49, 13}, QStringLiteral("Status : "), {});
  add_label(form, "Label16", {64, 220, 79, 13}, QStringLiteral("Disconnected"),
            {11, true, false, kNavy});

  // Said only when the Tray button finds no notification area to go to.
  tray_note_ = add_label(form, "TrayNote", {160, 220, 220, 13},
                         QStringLiteral("No notification area: staying open"), {11, false});
  tray_note_->hide();

  button_ = new QPushButton(QStringLiteral("Tray"), form);
  button_->setObjectName(QStringLiteral("Button1"));
  button_->setGeometry(384, 216, 41, 17);
  QObject::connect(button_, &QPushButton::clicked, form, [this] {
    if (handlers_.Button1Click) handlers_.Button1Click();
  });

  QWidget::setTabOrder(panel, list_);
  QWidget::setTabOrder(list_, button_);

  tray_ = std::make_unique<QSystemTrayIcon>(window_icon());
  tray_->setToolTip(QString::fromStdString(tray_tip(title_)));
  QObject::connect(tray_.get(), &QSystemTrayIcon::activated, form,
                   [this](QSystemTrayIcon::ActivationReason reason) {
                     if (!handlers_.TrayIconMessage) return;
                     if (reason == QSystemTrayIcon::Trigger)
                       handlers_.TrayIconMessage(kTrayLeftButtonDown);
                     else if (reason == QSystemTrayIcon::Context)
                       handlers_.TrayIconMessage(kTrayRightButtonDown);
                   });
}

QWidget& QtMainWindow::form() {
  return *form_;
}

QLabel* QtMainWindow::label(const std::string& name) const {
  auto it = labels_.find(name);
  return it == labels_.end() ? nullptr : it->second;
}

void QtMainWindow::set_text(Control control, const std::string& text) {
  QLabel* target = label(control_name(control));
  if (!target) return;
  target->setText(QString::fromStdString(text));
  target->adjustSize();
}

void QtMainWindow::set_settings_file(const std::string& path) {
  QLabel* target = label("Label5");
  const QString full = QFile::decodeName(path.c_str());
  QString shown = full;
  const QString home = QDir::homePath();
  if (home != QStringLiteral("/") && shown.startsWith(home + QLatin1Char('/'))) {
    shown.replace(0, home.size(), QStringLiteral("~"));
  }
  // The about box is narrow: a long path loses its start, as the folder and
  // the file name tell the two places apart; the tooltip keeps it whole.
  const int room = target->parentWidget()->width() - target->x() - 8;
  target->setText(target->fontMetrics().elidedText(shown, Qt::ElideLeft, room));
  target->setToolTip(QStringLiteral("Settings: ") + full);
  target->adjustSize();
}

void QtMainWindow::set_device_list(const std::vector<std::string>& lines) {
  list_->clear();
  for (const std::string& line : lines) list_->addItem(QString::fromStdString(line));
}

void QtMainWindow::set_trackbar_position(int position) {
  // The logic moves the bar itself and runs the handler when it means to.
  QSignalBlocker quiet(trackbar_);
  trackbar_->setValue(position);
}

void QtMainWindow::hide() {
  form_->hide();
}

void QtMainWindow::show() {
  form_->show();
  form_->raise();
  form_->activateWindow();
}

bool QtMainWindow::tray_add() {
  if (!tray_available_()) {
    tray_note_->show();
    return false;
  }
  tray_note_->hide();
  tray_->show();  // showing a shown icon adds no second one
  return true;
}

void QtMainWindow::tray_delete() {
  tray_->hide();
}

void QtMainWindow::show_error(const std::string& text) {
  // A modal loop: queued calls (timer ticks, panel input) go on running in it.
  QWidget* parent = form_->isVisible() ? form_.get() : nullptr;
  QMessageBox box(QMessageBox::Critical, QString::fromStdString(title_),
                  QString::fromStdString(text), QMessageBox::Ok, parent);
  box.exec();
}

void QtMainWindow::close() {
  if (closed_) return;
  closed_ = true;
  if (handlers_.FormClose) handlers_.FormClose();
  form_->hide();
  // exit(), not quit(): it also ends a modal loop that is running (an error box
  // open during start-up, before the main loop runs), which quit() ignores.
  QCoreApplication::exit(0);
}

}  // namespace tarvion
