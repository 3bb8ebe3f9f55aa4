#include "Gauges.h"

#include <QPainter>
#include <QRect>
#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "ui/Form.h"

namespace {

constexpr int kDefaultSize = 100;
constexpr std::int64_t kLowestBound = -std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kHighestBound = std::numeric_limits<std::int32_t>::max();

int R(double x) {
  return static_cast<int>(std::nearbyint(x));
}

// The bounds are computed in 64 bits: MaxValue - 1 of the lowest integer would wrap.
[[noreturn]] void RaiseOutOfRange(std::int64_t low, std::int64_t high) {
  throw EInvalidOperation("Value must be between " + std::to_string(low) + " and " +
                          std::to_string(high));
}

}  // namespace

TGauge::TGauge(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  color_ = palette().color(QPalette::Window);
  resize(kDefaultSize, kDefaultSize);
}

void TGauge::SetKind(TGaugeKind value) {
  kvel::RepaintOnChange(*this, kind_, value);
}

void TGauge::SetMinValue(std::int32_t value) {
  if (value == minValue_) return;
  if (value > maxValue_) RaiseOutOfRange(kLowestBound, std::int64_t{maxValue_} - 1);
  minValue_ = value;
  progress_ = std::max(progress_, value);
  update();
}

void TGauge::SetMaxValue(std::int32_t value) {
  if (value == maxValue_) return;
  if (value < minValue_) RaiseOutOfRange(std::int64_t{minValue_} + 1, kHighestBound);
  maxValue_ = value;
  progress_ = std::min(progress_, value);
  update();
}

void TGauge::SetProgress(std::int32_t value) {
  const std::int32_t clamped = std::clamp(value, minValue_, maxValue_);
  if (clamped == progress_) return;
  const int before = DonePercent();
  progress_ = clamped;
  if (DonePercent() != before) update();
}

void TGauge::SetShowText(bool value) {
  kvel::RepaintOnChange(*this, showText_, value);
}

void TGauge::SetBorderStyle(TGaugeBorderStyle value) {
  kvel::RepaintOnChange(*this, borderStyle_, value);
}

void TGauge::SetForeColor(const QColor& value) {
  kvel::RepaintOnChange(*this, foreColor_, value);
}

void TGauge::SetBackColor(const QColor& value) {
  kvel::RepaintOnChange(*this, backColor_, value);
}

void TGauge::SetColor(const QColor& value) {
  kvel::RepaintOnChange(*this, color_, value);
}

int TGauge::DonePercent() const {
  if (maxValue_ == minValue_) return 0;
  // In 64 bits: the span of two 32-bit values times 100 does not fit in 32.
  const std::int64_t done = std::int64_t{progress_} - minValue_;
  const std::int64_t span = std::int64_t{maxValue_} - minValue_;
  return static_cast<int>(done * 100 / span);
}

std::string TGauge::PercentText() const {
  return std::to_string(DonePercent()) + "%";
}

QImage TGauge::Picture() const {
  QImage image(size(), QImage::Format_RGB32);
  image.fill(color_);
  PaintImage(image);
  return image;
}

void TGauge::paintEvent(QPaintEvent* /*event*/) {
  const QImage image = Picture();
  QPainter painter(this);
  painter.drawImage(0, 0, image);
}

void TGauge::PaintImage(QImage& image) const {
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing, false);
  const int W = image.width();
  const int H = image.height();
  QRect work(0, 0, W, H);
  if (borderStyle_ == TGaugeBorderStyle::bsSingle) {
    painter.setPen(QPen(QColor(0, 0, 0), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(0, 0, W - 1, H - 1));
    work.adjust(1, 1, -1, -1);
  }
  if (work.width() <= 0 || work.height() <= 0) return;
  const int percent = DonePercent();

  switch (kind_) {
    case gkText:
      painter.fillRect(work, backColor_);
      break;
    case gkHorizontalBar: {
      painter.fillRect(work, backColor_);
      const int barWidth = std::min(work.width(), work.width() * percent / 100);
      if (barWidth >= 1)
        painter.fillRect(QRect(work.left(), work.top(), barWidth, work.height()), foreColor_);
      break;
    }
    case gkVerticalBar: {
      painter.fillRect(work, backColor_);
      const int barHeight = std::min(work.height(), work.height() * percent / 100);
      if (barHeight >= 1) {
        painter.fillRect(QRect(work.left(), work.bottom() + 1 - barHeight, work.width(), barHeight),
                         foreColor_);
      }
      break;
    }
    case gkPie: {
      painter.fillRect(work, color_);
      const QRect disc(work.left(), work.top(), work.width() - 1, work.height() - 1);
      painter.setPen(QPen(foreColor_, 1));
      painter.setBrush(backColor_);
      painter.drawEllipse(disc);
      if (percent > 0) {
        // From 12 o'clock clockwise; Qt counts angles counter-clockwise in 1/16 degree.
        painter.setBrush(foreColor_);
        painter.drawPie(disc, 90 * 16, -R(percent * 3.6 * 16));
      }
      break;
    }
    case gkNeedle: {
      painter.fillRect(work, color_);
      // The upper half of an ellipse as high as twice the work area, closed by its base line.
      const QRect half(work.left(), work.top(), work.width() - 1, 2 * work.height() - 2);
      painter.setPen(QPen(foreColor_, 1));
      painter.setBrush(backColor_);
      painter.drawChord(half, 0, 180 * 16);
      if (percent > 0) {
        const double phi = percent / 100.0 * std::numbers::pi;
        const int bottom = work.height() - 1;
        const QPoint from(work.left() + work.width() / 2, work.top() + bottom);
        const QPoint to(work.left() + R((1 - std::cos(phi)) * work.width() / 2),
                        work.top() + R((1 - std::sin(phi)) * (bottom - 1)));
        painter.drawLine(from, to);
      }
      break;
    }
  }

  if (showText_) {
    // White text combined by exclusive-or stays readable over bar and background alike.
    QFont textFont = font();
    textFont.setStyleStrategy(QFont::NoAntialias);
    painter.setFont(textFont);
    painter.setPen(QColor(255, 255, 255));
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.drawText(work, Qt::AlignCenter, QString::fromLatin1(PercentText()));
  }
}
