#include "DopjeNew.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <cmath>
#include <vector>

#include "ui/Form.h"

namespace {

constexpr int kDefaultSize = 16;

// x rounded to the nearest integer, halves to even.
int R(double x) {
  return static_cast<int>(std::nearbyint(x));
}

// The corner points of every shape but the circle, for a control W x H whose polygons are
// inset by the pen width p.
QPolygon ShapePoints(TPinShape shape, int W, int H, int p) {
  const int w = W - p;
  const int h = H - p;
  const int cx = W / 2;
  const int cy = H / 2;
  const double fw = w;
  const double fh = h;
  std::vector<QPoint> points;
  switch (shape) {
    case TPinShape::Empty:
    case TPinShape::Circle:
      points = {{cx - 3, cy - 3}, {cx + 3, cy - 3}, {cx + 3, cy + 3}, {cx - 3, cy + 3}};
      break;
    case TPinShape::Square:
      points = {{p, p}, {p, h}, {w, h}, {w, p}};
      break;
    case TPinShape::TrianNE:
      points = {{p, p}, {p, h}, {w, h}};
      break;
    case TPinShape::TrianNW:
      points = {{w, p}, {p, h}, {w, h}};
      break;
    case TPinShape::TrianSW:
      points = {{p, p}, {w, p}, {w, h}};
      break;
    case TPinShape::TrianSE:
      points = {{p, p}, {w, p}, {p, h}};
      break;
    case TPinShape::ArcNW:
      points = {{w, p},
                {w, h},
                {p, h},
                {R(0.04 * fw), R(0.75 * fh)},
                {R(0.13 * fw), R(0.5 * fh)},
                {R(0.29 * fw), R(0.29 * fh)},
                {R(0.5 * fw), R(0.13 * fh)},
                {R(0.75 * fw), R(0.04 * fh)}};
      break;
    case TPinShape::ArcNE:
      points = {{p, p},
                {p, h},
                {w, h},
                {R(0.96 * fw), R(0.75 * fh)},
                {R(0.86 * fw), R(0.48 * fh)},
                {R(0.71 * fw), R(0.29 * fh)},
                {R(0.5 * fw), R(0.12 * fh)},
                {R(0.25 * fw), R(0.04 * fh)}};
      break;
    case TPinShape::ArcSW:
      points = {{p, p},
                {w, p},
                {w, h},
                {R(0.75 * fw), R(0.96 * fh)},
                {R(0.5 * fw), R(0.85 * fh)},
                {R(0.29 * fw), R(0.71 * fh)},
                {R(0.13 * fw), R(0.5 * fh)},
                {R(0.04 * fw), R(0.25 * fh)}};
      break;
    case TPinShape::ArcSE:
      points = {{w, p},
                {p, p},
                {p, h},
                {R(0.25 * fw), R(0.96 * fh)},
                {R(0.5 * fw), R(0.85 * fh)},
                {R(0.7 * fw), R(0.7 * fh)},
                {R(0.86 * fw), R(0.5 * fh)},
                {R(0.96 * fw), R(0.25 * fh)}};
      break;
  }
  return QPolygon(QList<QPoint>(points.begin(), points.end()));
}

}  // namespace

TDopjeNew::TDopjeNew(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::NoFocus);
  // Drawn on the parent's surface: whatever the shape leaves out shows the parent.
  setAttribute(Qt::WA_NoSystemBackground);
  setAutoFillBackground(false);
  resize(kDefaultSize, kDefaultSize);
}

void TDopjeNew::SetPinShape(TPinShape value) {
  kvel::RepaintOnChange(*this, pinShape_, value);
}

void TDopjeNew::SetBackColor(const QColor& value) {
  kvel::RepaintOnChange(*this, backColor_, value);
}

void TDopjeNew::SetPen(const QPen& value) {
  pen_ = value;
  update();
}

void TDopjeNew::Paint(QPainter& painter) const {
  const int p = painter.pen().width();
  QPen pen = pen_;
  pen.setStyle(Qt::SolidLine);
  painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setPen(pen);
  painter.setBrush(QBrush(backColor_, Qt::SolidPattern));
  const int W = width();
  const int H = height();
  if (pinShape_ == TPinShape::Circle) {
    // The ellipse of the whole control; its right and bottom edges lie inside it.
    painter.drawEllipse(QRect(0, 0, W - 1, H - 1));
    return;
  }
  painter.drawPolygon(ShapePoints(pinShape_, W, H, p));
}

void TDopjeNew::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setPen(QPen(QColor(0, 0, 0), 1));
  Paint(painter);
}

void TDopjeNew::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton;
  Q_EMIT OnMouseDown(event->button(), event->position().toPoint());
}

void TDopjeNew::mouseReleaseEvent(QMouseEvent* event) {
  Q_EMIT OnMouseUp(event->button(), event->position().toPoint());
  if (pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
    Q_EMIT onClick();
  pressed_ = false;
}
