#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>
#include <cstdint>
#include <stdexcept>
#include <string>

// An operation that the control's state does not allow (a minimum above the maximum ...).
class EInvalidOperation : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum TGaugeKind { gkText, gkHorizontalBar, gkVerticalBar, gkPie, gkNeedle };
enum class TGaugeBorderStyle { bsNone, bsSingle };

// A gauge: a value between a minimum and a maximum shown as text, bar, pie or needle, with
// its percentage written over it. Painted off screen and copied in one step.
class TGauge : public QWidget {
  Q_OBJECT

 public:
  explicit TGauge(QWidget* parent = nullptr);

  TGaugeKind Kind() const { return kind_; }
  void SetKind(TGaugeKind value);
  std::int32_t MinValue() const { return minValue_; }
  void SetMinValue(std::int32_t value);
  std::int32_t MaxValue() const { return maxValue_; }
  void SetMaxValue(std::int32_t value);
  std::int32_t Progress() const { return progress_; }
  void SetProgress(std::int32_t value);
  bool ShowText() const { return showText_; }
  void SetShowText(bool value);
  TGaugeBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TGaugeBorderStyle value);
  const QColor& ForeColor() const { return foreColor_; }
  void SetForeColor(const QColor& value);
  const QColor& BackColor() const { return backColor_; }
  void SetBackColor(const QColor& value);
  // The area outside the pie and the needle's half disc.
  const QColor& Color() const { return color_; }
  void SetColor(const QColor& value);

  // (Progress - MinValue) * 100 / (MaxValue - MinValue), 0 when the range is empty.
  int DonePercent() const;
  // The text written over the gauge, "45%".
  std::string PercentText() const;
  // The whole picture as the control shows it.
  QImage Picture() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void PaintImage(QImage& image) const;

  TGaugeKind kind_ = gkHorizontalBar;
  std::int32_t minValue_ = 0;
  std::int32_t maxValue_ = 100;
  std::int32_t progress_ = 0;
  bool showText_ = true;
  TGaugeBorderStyle borderStyle_ = TGaugeBorderStyle::bsSingle;
  QColor foreColor_{0, 0, 0};
  QColor backColor_{255, 255, 255};
  QColor color_;
};
