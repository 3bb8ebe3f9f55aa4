#pragma once

#include <QLabel>
#include <QString>

namespace kvel {

// A sunken status-bar panel that shows its whole text where it can: it is `width` wide and
// grows with a longer text up to `maxWidth`; in a crowded status bar it may shrink down to
// `minWidth`. A text it cannot show whole ends in "..." and the whole text is its hint.
class StatusPanel : public QLabel {
  Q_OBJECT

 public:
  StatusPanel(const QString& text, int width, int maxWidth, int minWidth, QWidget* parent);

  // Sets the text with a longer form for the hint (a file named by its whole path).
  void SetText(const QString& text, const QString& detail);
  // The text as the panel shows it at its present width.
  QString ShownText() const;
  bool Elided() const { return ShownText() != text(); }
  // What hovering shows: the longer form given with the present text, or else the whole
  // text when it is cut; empty when the panel shows everything there is.
  QString Hint() const;
  // The panel width that shows `text` whole.
  int WidthFor(const QString& text) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  int Padding() const;
  int TextWidth(const QString& text) const;

  int width_;
  int maxWidth_;
  int minWidth_;
  QString detail_;
  QString detailFor_;  // the text the detail belongs to
};

}  // namespace kvel
