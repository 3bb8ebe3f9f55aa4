#include "StatusPanel.h"

#include <QFontMetricsF>
#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>
#include <algorithm>
#include <cmath>

namespace kvel {

StatusPanel::StatusPanel(const QString& text, int width, int maxWidth, int minWidth,
                         QWidget* parent)
    : QLabel(text, parent),
      width_(width),
      maxWidth_(std::max(width, maxWidth)),
      minWidth_(std::min(width, minWidth)) {
  setFrameShape(QFrame::Panel);
  setFrameShadow(QFrame::Sunken);
  setSizePolicy(minWidth_ < width_ ? QSizePolicy::Preferred : QSizePolicy::Fixed,
                QSizePolicy::Preferred);
}

void StatusPanel::SetText(const QString& text, const QString& detail) {
  setText(text);
  detail_ = detail;
  detailFor_ = text;
}

int StatusPanel::Padding() const {
  // As a framed label indents its text: half the width of an "x".
  return fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2;
}

int StatusPanel::TextWidth(const QString& text) const {
  // Measured as the text is laid out, in fractions of a pixel, and rounded up.
  return static_cast<int>(std::ceil(QFontMetricsF(font()).horizontalAdvance(text)));
}

int StatusPanel::WidthFor(const QString& text) const {
  return 2 * (frameWidth() + margin() + Padding()) + TextWidth(text);
}

QString StatusPanel::ShownText() const {
  const int room = width() - 2 * (frameWidth() + margin() + Padding());
  if (TextWidth(text()) <= room) return text();
  return fontMetrics().elidedText(text(), Qt::ElideRight, std::max(0, room));
}

QString StatusPanel::Hint() const {
  if (!detail_.isEmpty() && detailFor_ == text() && detail_ != text()) return detail_;
  return Elided() ? text() : QString();
}

QSize StatusPanel::sizeHint() const {
  return {std::clamp(WidthFor(text()), width_, maxWidth_), QLabel::sizeHint().height()};
}

QSize StatusPanel::minimumSizeHint() const {
  return {minWidth_, QLabel::minimumSizeHint().height()};
}

void StatusPanel::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter painter(this);
  const int inset = margin() + Padding();
  const QRect room = contentsRect().adjusted(inset, 0, -inset, 0);
  style()->drawItemText(&painter, room, Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(),
                        ShownText(), foregroundRole());
}

bool StatusPanel::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    const QString hint = Hint();
    if (hint.isEmpty()) {
      QToolTip::hideText();
    } else {
      QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), hint, this);
    }
    return true;
  }
  return QLabel::event(event);
}

}  // namespace kvel
