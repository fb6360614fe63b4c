#include "cockpit_window.h"

#include <QApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QInputDialog>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>

#include "panel_widget.h"
#include "recording.h"

namespace virtual_panels {
namespace {

class CockpitWindow : public QMainWindow {
 public:
  CockpitWindow(PanelHost& host, const CockpitOptions& options)
      : host_(host), stop_requested_(options.stop_requested), trace_(options.trace) {
    setWindowTitle("Tarvion virtual cockpit");
    auto* scroll = new QScrollArea(this);
    auto* inside = new QWidget;
    grid_ = new QGridLayout(inside);
    scroll->setWidget(inside);
    scroll->setWidgetResizable(true);
    scroll->setStyleSheet("background: #1c1c20;");
    setCentralWidget(scroll);
    build_menus();
    for (const Panel& panel : host_.panels()) add_widget(panel);
    host_.set_events(events());
    if (!options.record_file.empty()) start_recording(options.record_file);
    update_status();
    connect(&pump_, &QTimer::timeout, this, [this] { pump(); });
    pump_.start(5);
  }

  int status() const { return host_.status(); }

 protected:
  void closeEvent(QCloseEvent* event) override {
    stop_recording();
    QMainWindow::closeEvent(event);
  }
  void resizeEvent(QResizeEvent* event) override {
    QMainWindow::resizeEvent(event);
    if (columns() != columns_) lay_out();
  }
  void showEvent(QShowEvent* event) override {
    QMainWindow::showEvent(event);
    lay_out();
  }

 private:
  using Clock = std::chrono::steady_clock;

  HostEvents events() {
    HostEvents e;
    e.plugged = [this](const Panel& panel) {
      add_widget(panel);
      if (recording_)
        recording_->plugged(now(), panel.id, panel.model.kind(), panel.driver_key, panel.name);
    };
    e.unplugged = [this](const std::string& id) {
      if (PanelWidget* w = widget(id)) w->deleteLater();
      widgets_.erase(std::remove_if(widgets_.begin(), widgets_.end(),
                                    [&](PanelWidget* w) { return w->id() == id; }),
                     widgets_.end());
      lay_out();
      if (recording_) recording_->unplugged(now(), id);
    };
    e.input = [this](const std::string& id, const std::vector<uint8_t>& report) {
      if (recording_) recording_->input(now(), id, report);
      if (PanelWidget* w = widget(id)) w->update();
    };
    e.output = [this](const Panel& panel, const std::vector<uint8_t>& report) {
      if (recording_) recording_->output(now(), panel.id, report);
      if (PanelWidget* w = widget(panel.id)) w->show_output(report);
    };
    e.connection = [this](bool) { update_status(); };
    return e;
  }

  int64_t now() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started_).count();
  }

  void pump() {
    if (!host_.poll_once(0) || (stop_requested_ && stop_requested_())) close();
  }

  PanelWidget* widget(const std::string& id) const {
    for (PanelWidget* w : widgets_) {
      if (w->id() == id) return w;
    }
    return nullptr;
  }

  void add_widget(const Panel& panel) {
    std::string id = panel.id;
    std::string caption =
        id + "  ·  " + kind_name(panel.model.kind()) + " panel  ·  driver key " + panel.driver_key;
    auto* w = new PanelWidget(
        id, panel.model.kind(), caption,
        [this, id]() -> const PanelModel* {
          for (const Panel& p : host_.panels()) {
            if (p.id == id) return &p.model;
          }
          return nullptr;
        },
        [this](const std::string& command) { host_.execute(command); }, trace_);
    widgets_.push_back(w);
    lay_out();
  }

  // As many columns of panels as the window's width takes.
  int columns() const {
    int panel = widgets_.empty() ? 660 : widgets_[0]->sizeHint().width() + 20;
    return std::max(1, width() / panel);
  }

  void lay_out() {
    while (grid_->count() > 0) delete grid_->takeAt(0);
    for (int r = 0; r < grid_->rowCount(); ++r) grid_->setRowStretch(r, 0);
    for (int c = 0; c < grid_->columnCount(); ++c) grid_->setColumnStretch(c, 0);
    columns_ = columns();
    int n = static_cast<int>(widgets_.size());
    for (int i = 0; i < n; ++i)
      grid_->addWidget(widgets_[i], i / columns_, i % columns_, Qt::AlignTop);
    grid_->setRowStretch((n + columns_ - 1) / columns_, 1);
    grid_->setColumnStretch(columns_, 1);
    QTimer::singleShot(100, this, [this] { print_places(); });
  }

  // Where each control is, in window coordinates: for scripted clicks (tests).
  void print_places() {
    if (!trace_) return;
    std::string text;
    for (PanelWidget* w : widgets_) {
      for (const Control& c : w->controls()) {
        QPoint at = w->mapTo(this, w->control_point(c.name));
        text += "control " + w->id() + " " + c.name + " " + std::to_string(at.x()) + " " +
                std::to_string(at.y()) + "\n";
      }
    }
    if (text == places_printed_) return;
    places_printed_ = text;
    std::cout << text << std::flush;
  }

  void build_menus() {
    QMenu* panels = menuBar()->addMenu("&Panels");
    QMenu* add = panels->addMenu("&Add panel");
    for (const char* kind : {"com", "nav", "adf", "xpdr", "multi", "rmp", "switch"}) {
      add->addAction(QString(kind), this, [this, kind] { add_panel(kind); });
    }
    QMenu* remove = panels->addMenu("&Remove panel");
    connect(remove, &QMenu::aboutToShow, this, [this, remove] {
      remove->clear();
      for (const Panel& p : host_.panels()) {
        std::string id = p.id;
        remove->addAction(QString::fromStdString(id + " (driver key " + p.driver_key + ")"), this,
                          [this, id] { host_.execute("unplug " + id); });
      }
    });
    panels->addSeparator();
    panels->addAction("&Quit", QKeySequence::Quit, this, [this] { close(); });
    QMenu* record = menuBar()->addMenu("&Recording");
    record->addAction("&Start", this, [this] { start_recording(""); });
    record->addAction("Stop and &save...", this, [this] { stop_recording(); });
  }

  void add_panel(const std::string& kind) {
    int n = 1;
    auto taken = [this](const std::string& id) {
      for (const Panel& p : host_.panels()) {
        if (p.id == id) return true;
      }
      return false;
    };
    while (taken(kind + std::to_string(n))) ++n;
    char key[8];
    std::snprintf(key, sizeof key, "%04zu", host_.panels().size() + 1);
    bool ok = false;
    QString text =
        QInputDialog::getText(this, "Add a panel",
                              QString::fromStdString("Driver key of the new " + kind +
                                                     " panel (panels with the same key pair up):"),
                              QLineEdit::Normal, key, &ok);
    if (!ok || text.trimmed().isEmpty()) return;
    std::string id = kind + std::to_string(n);
    if (!host_.execute("plug " + id + " " + kind + " " + text.trimmed().toStdString() + " " + kind))
      QMessageBox::warning(this, "Add a panel", "The driver key must be one word.");
  }

  void start_recording(const std::string& file) {
    std::vector<std::string> panels;
    for (const Panel& p : host_.panels())
      panels.push_back(panel_argument(p.id, p.model.kind(), p.driver_key, p.name));
    recording_.emplace(panels);
    record_file_ = file;
    update_status();
  }

  void stop_recording() {
    if (!recording_) return;
    std::string file = record_file_;
    if (file.empty()) {
      file = QFileDialog::getSaveFileName(this, "Save the recording", "recording.script")
                 .toStdString();
    }
    if (!file.empty()) {
      std::ofstream out(file);
      out << recording_->script();
      std::cout << (out ? "recording saved to " : "cannot write ") << file << std::endl;
    }
    recording_.reset();
    update_status();
  }

  void update_status() {
    std::string text = "listening on 127.0.0.1:" + std::to_string(host_.port()) + "  ·  " +
                       (host_.connected() ? "Tarvion connected" : "waiting for Tarvion");
    if (recording_) text += "  ·  recording";
    statusBar()->showMessage(QString::fromStdString(text));
  }

  PanelHost& host_;
  std::function<bool()> stop_requested_;
  bool trace_ = false;
  QGridLayout* grid_ = nullptr;
  int columns_ = 1;
  std::string places_printed_;
  std::vector<PanelWidget*> widgets_;
  QTimer pump_;
  std::optional<Recording> recording_;
  std::string record_file_;
  Clock::time_point started_ = Clock::now();
};

}  // namespace

int run_cockpit(PanelHost& host, const CockpitOptions& options, const std::function<bool()>& start,
                int argc, char** argv) {
  QApplication app(argc, argv);
  if (!start()) return 2;
  host.set_keep_serving(true);
  CockpitWindow window(host, options);
  QSize room = app.primaryScreen()->availableSize();
  window.resize(std::min(1340, room.width()), std::min(900, room.height()));
  window.show();
  app.exec();
  host.close();
  return window.status();
}

}  // namespace virtual_panels
