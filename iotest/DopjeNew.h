#pragma once

#include <QColor>
#include <QPen>
#include <QWidget>

class QPainter;

// The shapes a lamp can take: a full circle, a square, four triangles (named after the
// corner they leave out) and four squares with one rounded corner.
enum class TPinShape {
  Empty,
  Circle,
  Square,
  ArcNW,
  TrianNE,
  TrianNW,
  TrianSW,
  TrianSE,
  ArcNE,
  ArcSW,
  ArcSE
};

// A lamp: one input or output shown as a coloured shape, 16 x 16 unless resized. It has
// no focus and paints on its parent's surface.
class TDopjeNew : public QWidget {
  Q_OBJECT

 public:
  explicit TDopjeNew(QWidget* parent = nullptr);

  TPinShape PinShape() const { return pinShape_; }
  void SetPinShape(TPinShape value);
  const QColor& BackColor() const { return backColor_; }
  void SetBackColor(const QColor& value);
  const QPen& Pen() const { return pen_; }
  // Copies the pen's attributes into the lamp's own pen and repaints.
  void SetPen(const QPen& value);

  // Draws the lamp into `painter`, whose pen on entry gives the inset of the polygons.
  void Paint(QPainter& painter) const;

 Q_SIGNALS:
  void onClick();
  void OnMouseDown(Qt::MouseButton button, QPoint at);
  void OnMouseUp(Qt::MouseButton button, QPoint at);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  TPinShape pinShape_ = TPinShape::Empty;
  QColor backColor_{0, 0, 0};
  QPen pen_{QColor(0, 0, 0), 1};
  bool pressed_ = false;
};
