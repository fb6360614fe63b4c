#include "panel_widget.h"

#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <cmath>
#include <iostream>

namespace virtual_panels {
namespace {

constexpr int kDigitW = 22, kDigitH = 38, kSeg = 4, kDigitGap = 6;
constexpr int kButtonW = 72, kButtonH = 26, kGap = 6, kMargin = 12;
constexpr int kDisplayTop = 30, kRowH = kDigitH + 14;

// Segments a (top), b, c (right, down), d (bottom), e, f (left, up), g (middle).
constexpr uint8_t kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

uint8_t segments_of(char ch) {
  if (ch >= '0' && ch <= '9') return kSegments[ch - '0'];
  return ch == '?' ? 0x40 : 0;
}

QColor mix(QColor dark, QColor full, double k) {
  auto at = [k](int a, int b) { return static_cast<int>(a + (b - a) * k); };
  return QColor(at(dark.red(), full.red()), at(dark.green(), full.green()),
                at(dark.blue(), full.blue()));
}

}  // namespace

PanelWidget::PanelWidget(std::string id, uint16_t kind, const std::string& caption, ModelOf model,
                         Send send, bool trace, QWidget* parent)
    : QWidget(parent),
      id_(std::move(id)),
      kind_(kind),
      caption_(QString::fromStdString(caption)),
      model_(std::move(model)),
      send_(std::move(send)),
      view_(initial_view(kind)),
      trace_(trace) {
  setFocusPolicy(Qt::StrongFocus);
  setToolTip(QString::fromStdString(id_ + " (click it first), keys:\n" + shortcut_help(kind)));
  setAccessibleName(QString::fromStdString(id_));
  setAccessibleDescription(QString::fromStdString(shown_text(view_)));
  lay_out();
}

void PanelWidget::lay_out() {
  int rows_bottom = kDisplayTop + static_cast<int>(view_.rows.size()) * kRowH;
  knob_centre_ = {kWidth - kMargin - outer_radius_ - 8, kDisplayTop + outer_radius_ + 6};
  int top = std::max(rows_bottom, knob_centre_.y() + outer_radius_ + 14) + 4;
  int x = kMargin, y = top;
  for (const Control& c : controls()) {
    if (c.type == ControlType::knob) {
      bool inner = c.name == "inner";
      int r = inner ? inner_radius_ : outer_radius_;
      places_.push_back({&c, QRect(knob_centre_ - QPoint(r, r), QSize(2 * r, 2 * r))});
      if (c.name == "trim") inner_radius_ = 0;  // one wheel, no cap
      continue;
    }
    if (x + kButtonW > kWidth - kMargin) {
      x = kMargin;
      y += kButtonH + kGap;
    }
    places_.push_back({&c, QRect(x, y, kButtonW, kButtonH)});
    x += kButtonW + kGap;
  }
  height_ = y + kButtonH + kMargin;
}

const PanelWidget::Place* PanelWidget::hit(QPoint at) const {
  QPoint d = at - knob_centre_;
  double distance = std::hypot(d.x(), d.y());
  const Place* ring = nullptr;
  for (const Place& place : places_) {
    if (place.control->type != ControlType::knob) {
      if (place.rect.contains(at)) return &place;
      continue;
    }
    int r = place.rect.width() / 2;
    if (distance > r) continue;
    if (ring == nullptr || r < ring->rect.width() / 2) ring = &place;
  }
  return ring;
}

QPoint PanelWidget::control_point(const std::string& name) const {
  for (const Place& place : places_) {
    if (place.control->name != name) continue;
    if (place.control->name == "outer")
      return knob_centre_ + QPoint(0, -(outer_radius_ + inner_radius_) / 2);
    return place.rect.center();
  }
  return {-1, -1};
}

void PanelWidget::show_output(const std::vector<uint8_t>& report) {
  if (!apply_output(view_, report)) return;
  setAccessibleDescription(QString::fromStdString(shown_text(view_)));
  update();
}

void PanelWidget::gesture(const Control& control, Gesture g, int detents) {
  const PanelModel* model = model_();
  if (model == nullptr) return;
  auto command = command_for(id_, *model, control, g, detents);
  if (!command) return;
  if (g == Gesture::turn) turned_[control.name] += detents;
  send_(*command);
  update();
}

bool PanelWidget::lit(const Control& control) const {
  const PanelModel* model = model_();
  if (model == nullptr) return false;
  switch (control.type) {
    case ControlType::position:
      return model->selected(control.name);
    case ControlType::momentary:
    case ControlType::toggle:
      return held_ == &control || model->input_active(control.name);
    case ControlType::knob:
      return false;
  }
  return false;
}

void PanelWidget::mousePressEvent(QMouseEvent* event) {
  setFocus();
  const Place* place = hit(event->position().toPoint());
  if (place == nullptr || event->button() != Qt::LeftButton) return;
  if (place->control->type == ControlType::knob) {
    dragging_ = place->control;
    drag_y_ = event->position().toPoint().y();
    drag_.try_emplace(dragging_->name, kDragPerDetent).first->second.reset();
    return;
  }
  if (place->control->type == ControlType::momentary) held_ = place->control;
  gesture(*place->control, Gesture::press);
}

void PanelWidget::mouseMoveEvent(QMouseEvent* event) {
  if (dragging_ == nullptr) return;
  int y = event->position().toPoint().y();
  int detents = drag_.at(dragging_->name).take(drag_y_ - y);  // dragging up turns up
  drag_y_ = y;
  if (detents != 0) gesture(*dragging_, Gesture::turn, detents);
}

void PanelWidget::mouseReleaseEvent(QMouseEvent*) {
  dragging_ = nullptr;
  if (held_ == nullptr) return;
  const Control* released = held_;
  held_ = nullptr;
  gesture(*released, Gesture::release);
}

void PanelWidget::wheelEvent(QWheelEvent* event) {
  const Place* place = hit(event->position().toPoint());
  if (place == nullptr || place->control->type != ControlType::knob) {
    event->ignore();  // the scroll area scrolls
    return;
  }
  auto& counter = wheel_.try_emplace(place->control->name, kWheelPerNotch).first->second;
  int detents = counter.take(event->angleDelta().y());
  if (detents != 0) gesture(*place->control, Gesture::turn, detents);
  event->accept();
}

void PanelWidget::keyPressEvent(QKeyEvent* event) {
  QString key = QKeySequence(event->key()).toString();
  for (const Control& c : controls()) {
    if (c.type == ControlType::knob) {
      int detents = key == QString::fromStdString(c.key)        ? 1
                    : key == QString::fromStdString(c.key_down) ? -1
                                                                : 0;
      if (detents == 0) continue;
      gesture(c, Gesture::turn, detents);  // a held key keeps turning
      return;
    }
    if (key != QString::fromStdString(c.key)) continue;
    if (!event->isAutoRepeat()) gesture(c, Gesture::press);
    return;
  }
  QWidget::keyPressEvent(event);
}

void PanelWidget::keyReleaseEvent(QKeyEvent* event) {
  QString key = QKeySequence(event->key()).toString();
  for (const Control& c : controls()) {
    if (c.type == ControlType::momentary && key == QString::fromStdString(c.key) &&
        !event->isAutoRepeat()) {
      gesture(c, Gesture::release);
      return;
    }
  }
  QWidget::keyReleaseEvent(event);
}

void PanelWidget::draw_digits(QPainter& p, QPoint at, const std::vector<Digit>& row) const {
  double k = view_.told ? 0.12 + 0.88 * glow(view_.bright) : 0.0;
  QColor ghost(34, 10, 8), on = mix(ghost, QColor(255, 72, 28), k);
  int width = static_cast<int>(row.size()) * (kDigitW + kDigitGap) + kDigitGap;
  p.fillRect(QRect(at, QSize(width, kDigitH + 8)), QColor(12, 6, 6));
  int x = at.x() + kDigitGap, y = at.y() + 4, w = kDigitW, h = kDigitH, t = kSeg;
  for (const Digit& d : row) {
    uint8_t lit_segments = segments_of(d.ch);
    const QRect segs[7] = {{x + t, y, w - 2 * t, t},
                           {x + w - t, y + t, t, h / 2 - t},
                           {x + w - t, y + h / 2 + 1, t, h / 2 - t},
                           {x + t, y + h - t, w - 2 * t, t},
                           {x, y + h / 2 + 1, t, h / 2 - t},
                           {x, y + t, t, h / 2 - t},
                           {x + t, y + h / 2 - t / 2, w - 2 * t, t}};
    for (int s = 0; s < 7; ++s) p.fillRect(segs[s], (lit_segments >> s & 1) != 0 ? on : ghost);
    p.setBrush(d.point ? on : ghost);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPoint(x + w + 3, y + h - 2), 2, 2);
    x += kDigitW + kDigitGap;
  }
}

void PanelWidget::draw_lamps(QPainter& p) const {
  // In columns beside the displays; the switch panel's gear lights pair up per leg.
  int per_column = kind_ == 12 ? 2 : 4;
  int left = kMargin + 6 * (kDigitW + kDigitGap) + kDigitGap + 24;
  double k = view_.told ? 0.2 + 0.8 * glow(view_.bright) : 0.0;
  for (std::size_t i = 0; i < view_.lamps.size(); ++i) {
    const Lamp& lamp = view_.lamps[i];
    int x = left + static_cast<int>(i) / per_column * 68;
    int y = kDisplayTop + 4 + static_cast<int>(i) % per_column * 18;
    bool gear = kind_ == 12 && lamp.label.size() == 2;
    QColor full = !gear                  ? QColor(255, 190, 40)
                  : lamp.label[0] == 'G' ? QColor(40, 230, 60)
                                         : QColor(240, 40, 30);
    p.setPen(QColor(90, 90, 90));
    p.setBrush(lamp.on ? mix(QColor(30, 30, 30), full, k) : QColor(30, 30, 30));
    p.drawEllipse(QPoint(x + 6, y + 6), 6, 6);
    p.setPen(QColor(200, 200, 200));
    p.drawText(QPoint(x + 18, y + 11), QString::fromStdString(lamp.label));
  }
}

void PanelWidget::draw_knobs(QPainter& p) const {
  for (const Place& place : places_) {
    if (place.control->type != ControlType::knob) continue;
    bool inner = place.control->name == "inner";
    int r = place.rect.width() / 2;
    p.setPen(QPen(QColor(20, 20, 20), 2));
    p.setBrush(inner ? QColor(95, 95, 100) : QColor(60, 60, 66));
    p.drawEllipse(knob_centre_, r, r);
    // A marker that moves 15 degrees a detent, so every turn shows.
    auto it = turned_.find(place.control->name);
    double angle = (it == turned_.end() ? 0 : it->second) * M_PI / 12.0;
    int from = inner || inner_radius_ == 0 ? 4 : inner_radius_ + 2;
    QPointF dir(std::sin(angle), -std::cos(angle));
    p.setPen(QPen(QColor(235, 235, 235), 3));
    p.drawLine(QPointF(knob_centre_) + dir * from, QPointF(knob_centre_) + dir * (r - 4));
  }
  p.setPen(QColor(170, 170, 170));
  p.drawText(QRect(knob_centre_.x() - 60, knob_centre_.y() + outer_radius_ + 1, 120, 14),
             Qt::AlignCenter, inner_radius_ == 0 ? "TRIM" : "outer / inner");
}

void PanelWidget::draw_buttons(QPainter& p) const {
  for (const Place& place : places_) {
    const Control& c = *place.control;
    if (c.type == ControlType::knob) continue;
    bool on = lit(c);
    p.setPen(QPen(hasFocus() ? QColor(150, 150, 160) : QColor(70, 70, 76), 1));
    p.setBrush(on ? QColor(230, 160, 40) : QColor(52, 52, 58));
    p.drawRoundedRect(place.rect, 5, 5);
    p.setPen(on ? QColor(20, 20, 20) : QColor(220, 220, 220));
    p.drawText(place.rect, Qt::AlignCenter, QString::fromStdString(c.label));
  }
}

void PanelWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(hasFocus() ? QColor(120, 160, 220) : QColor(15, 15, 15), 2));
  p.setBrush(QColor(36, 36, 40));
  p.drawRoundedRect(rect().adjusted(2, 2, -2, -2), 10, 10);
  p.setPen(QColor(210, 210, 210));
  p.drawText(QPoint(kMargin, 20), caption_);
  int y = kDisplayTop;
  for (const auto& row : view_.rows) {
    draw_digits(p, {kMargin, y}, row);
    y += kRowH;
  }
  draw_lamps(p);
  draw_knobs(p);
  draw_buttons(p);
  // What was just drawn, for whoever watches stdout (the end-to-end test).
  std::string drawn = shown_text(view_);
  if (trace_ && view_.told && drawn != last_drawn_) {
    last_drawn_ = drawn;
    std::cout << "drawn " << id_ << " " << drawn << std::endl;
  }
}

}  // namespace virtual_panels
