// One virtual panel drawn as the hardware looks (seven-segment digits, lamps,
// knobs, buttons), turning mouse and keyboard gestures into host commands.
#pragma once

#include <QWidget>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "panel_controls.h"
#include "panel_display.h"
#include "panel_model.h"

namespace virtual_panels {

class PanelWidget : public QWidget {
 public:
  using Send = std::function<void(const std::string& command)>;
  using ModelOf = std::function<const PanelModel*()>;
  // trace: print "drawn ID WHAT" on stdout each time something new was drawn.
  PanelWidget(std::string id, uint16_t kind, const std::string& caption, ModelOf model, Send send,
              bool trace, QWidget* parent = nullptr);

  const std::string& id() const { return id_; }
  const PanelView& view() const { return view_; }
  void show_output(const std::vector<uint8_t>& report);
  // Where a control sits, in this widget's coordinates (knobs: their ring).
  QPoint control_point(const std::string& name) const;
  const std::vector<Control>& controls() const { return controls_of(kind_); }

  QSize sizeHint() const override { return {kWidth, height_}; }
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  static constexpr int kWidth = 640;
  struct Place {
    const Control* control;
    QRect rect;
  };
  void lay_out();
  // The control under a point; a knob's inner cap wins over its outer ring.
  const Place* hit(QPoint at) const;
  void gesture(const Control& control, Gesture g, int detents = 0);
  bool lit(const Control& control) const;
  void draw_digits(QPainter& p, QPoint at, const std::vector<Digit>& row) const;
  void draw_knobs(QPainter& p) const;
  void draw_buttons(QPainter& p) const;
  void draw_lamps(QPainter& p) const;

  std::string id_;
  uint16_t kind_;
  QString caption_;
  ModelOf model_;
  Send send_;
  PanelView view_;
  std::vector<Place> places_;
  QPoint knob_centre_;
  int outer_radius_ = 44, inner_radius_ = 26;
  int height_ = 0;
  std::map<std::string, DetentCounter> wheel_, drag_;
  std::map<std::string, int> turned_;  // detents so far, for the knob's marker
  const Control* held_ = nullptr;      // a button held by the mouse
  const Control* dragging_ = nullptr;  // a knob dragged by the mouse
  int drag_y_ = 0;
  bool trace_;
  std::string last_drawn_;
};

}  // namespace virtual_panels
