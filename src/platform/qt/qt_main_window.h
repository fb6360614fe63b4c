// The main window Form1 on Linux (Qt Widgets) with its notification-area icon.
// It draws what the logic shows and forwards the user's events to the handlers.
#pragma once

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QSystemTrayIcon>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "shell/main_window_view.h"

namespace tarvion {

// Where the desktop has no notification area: whether one exists right now.
using TrayProbe = std::function<bool()>;

class QtMainWindow : public MainWindowView {
 public:
  // title: the application title (error box caption, tray tip).
  explicit QtMainWindow(std::string title, TrayProbe tray_available = {});
  ~QtMainWindow() override;

  void set_handlers(WindowHandlers handlers) { handlers_ = std::move(handlers); }

  void set_text(Control control, const std::string& text) override;
  void set_device_list(const std::vector<std::string>& lines) override;
  void set_trackbar_position(int position) override;
  void hide() override;
  void show() override;
  bool tray_add() override;
  void tray_delete() override;
  void show_error(const std::string& text) override;

  // Closes the window as its close button does: FormClose once, then the
  // event loop ends. Also what SIGINT and SIGTERM do.
  void close();
  bool closed() const { return closed_; }

  // The about box names the Tarvion.ini that was read: there are two places.
  void set_settings_file(const std::string& path);

  // The widgets, for the program's tests and screenshots.
  QWidget& form();
  QSystemTrayIcon& tray_icon() { return *tray_; }
  QLabel* label(const std::string& name) const;

 private:
  class Form;
  void build();

  std::string title_;
  TrayProbe tray_available_;
  WindowHandlers handlers_;
  std::unique_ptr<Form> form_;
  std::unique_ptr<QSystemTrayIcon> tray_;
  std::map<std::string, QLabel*> labels_;
  QListWidget* list_ = nullptr;
  QSlider* trackbar_ = nullptr;
  QPushButton* button_ = nullptr;
  QLabel* tray_note_ = nullptr;
  bool closed_ = false;
};

}  // namespace tarvion
