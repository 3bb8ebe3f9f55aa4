#include <QApplication>
#include <QEvent>
#include <QImage>
#include <QPainter>

#include "DopjeNew.h"
#include "Gauges.h"
#include "IoTestSupport.h"

namespace {

const QColor kPaper(255, 255, 255);
const QColor kYellow(255, 255, 0);
const QColor kMaroon(128, 0, 0);
const QColor kBlack(0, 0, 0);

// The lamp drawn on white paper the size of the control.
QImage PaintLamp(const TDopjeNew& lamp) {
  QImage image(lamp.size(), QImage::Format_RGB32);
  image.fill(kPaper);
  QPainter painter(&image);
  lamp.Paint(painter);
  return image;
}

QColor At(const QImage& image, int x, int y) {
  return image.pixelColor(x, y);
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
  int count = 0;

 protected:
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++count;
    return false;
  }
};

TEST(Lamp, SquareOnSixteenBySixteenFillsOneOneToFifteenFifteen) {
  TDopjeNew lamp;
  lamp.SetPinShape(TPinShape::Square);
  lamp.SetBackColor(kYellow);
  const QImage image = PaintLamp(lamp);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(At(image, i, 0), kPaper) << i;  // the top row and left column stay free
    EXPECT_EQ(At(image, 0, i), kPaper) << i;
  }
  for (const auto& [x, y] : {std::pair{1, 1}, {15, 1}, {1, 15}, {15, 15}, {8, 1}, {15, 8}}) {
    EXPECT_EQ(At(image, x, y), kBlack) << x << "," << y;  // the outline
  }
  for (int y = 2; y <= 14; ++y) {
    for (int x = 2; x <= 14; ++x) EXPECT_EQ(At(image, x, y), kYellow) << x << "," << y;
  }
}

TEST(Lamp, CircleFillsTheControlAndLeavesTheCornersToTheParent) {
  TDopjeNew lamp;
  lamp.SetPinShape(TPinShape::Circle);
  lamp.SetBackColor(kMaroon);
  const QImage image = PaintLamp(lamp);
  EXPECT_EQ(At(image, 8, 8), kMaroon);
  EXPECT_EQ(At(image, 0, 0), kPaper);
  EXPECT_EQ(At(image, 15, 15), kPaper);
  EXPECT_EQ(At(image, 0, 8), kBlack);   // the outline touches the left edge
  EXPECT_EQ(At(image, 15, 8), kBlack);  // ... and the right one
  EXPECT_EQ(At(image, 8, 0), kBlack);
}

struct ShapeRow {
  TPinShape shape;
  QPoint filled;  // a point inside the shape
  QPoint free;    // a point the shape leaves out
};

class LampShapes : public ::testing::TestWithParam<ShapeRow> {};

TEST_P(LampShapes, PolygonCoversItsSideAndLeavesItsCornerOut) {
  TDopjeNew lamp;
  lamp.resize(32, 32);
  lamp.SetPinShape(GetParam().shape);
  lamp.SetBackColor(kYellow);
  const QImage image = PaintLamp(lamp);
  EXPECT_EQ(At(image, GetParam().filled.x(), GetParam().filled.y()), kYellow);
  EXPECT_EQ(At(image, GetParam().free.x(), GetParam().free.y()), kPaper);
}

INSTANTIATE_TEST_SUITE_P(Rows, LampShapes,
                         ::testing::Values(ShapeRow{TPinShape::Empty, {16, 16}, {5, 5}},
                                           ShapeRow{TPinShape::TrianNE, {5, 25}, {25, 5}},
                                           ShapeRow{TPinShape::TrianNW, {25, 25}, {5, 5}},
                                           ShapeRow{TPinShape::TrianSW, {25, 5}, {5, 25}},
                                           ShapeRow{TPinShape::TrianSE, {5, 5}, {25, 25}},
                                           ShapeRow{TPinShape::ArcNW, {25, 25}, {3, 3}},
                                           ShapeRow{TPinShape::ArcNE, {5, 25}, {28, 3}},
                                           ShapeRow{TPinShape::ArcSW, {25, 5}, {3, 28}},
                                           ShapeRow{TPinShape::ArcSE, {5, 5}, {28, 28}}));

TEST(Lamp, RepaintsOnlyWhenShapeOrColourChange) {
  QWidget parent;
  parent.resize(40, 40);
  auto* lamp = new TDopjeNew(&parent);
  parent.show();
  QApplication::processEvents();
  PaintCounter counter(lamp);
  lamp->SetPinShape(TPinShape::Empty);
  lamp->SetBackColor(QColor(0, 0, 0));
  QApplication::processEvents();
  EXPECT_EQ(counter.count, 0);
  lamp->SetPinShape(TPinShape::Circle);
  QApplication::processEvents();
  EXPECT_EQ(counter.count, 1);
  lamp->SetBackColor(kYellow);
  QApplication::processEvents();
  EXPECT_EQ(counter.count, 2);
  lamp->SetPen(QPen(kMaroon, 2));
  QApplication::processEvents();
  EXPECT_EQ(counter.count, 3);
}

// Columns of the first image row (below the frame, if any) in the bar colour.
int FilledColumns(const QImage& image, int y, const QColor& colour) {
  int n = 0;
  for (int x = 0; x < image.width(); ++x) n += image.pixelColor(x, y) == colour ? 1 : 0;
  return n;
}

TEST(Gauge, ThirtyThreePercentOfAHundredPixelBarFillsThirtyThreePixels) {
  TGauge gauge;
  gauge.resize(100, 20);
  gauge.SetBorderStyle(TGaugeBorderStyle::bsNone);
  gauge.SetShowText(false);
  gauge.SetProgress(33);
  EXPECT_EQ(FilledColumns(gauge.Picture(), 10, kBlack), 33);
  EXPECT_EQ(gauge.Picture().pixelColor(32, 10), kBlack);
  EXPECT_EQ(gauge.Picture().pixelColor(33, 10), kPaper);

  // With the frame, the bar is measured in the area inside it: 33 % of 100 again.
  gauge.resize(102, 22);
  gauge.SetBorderStyle(TGaugeBorderStyle::bsSingle);
  const QImage framed = gauge.Picture();
  EXPECT_EQ(framed.pixelColor(1, 10), kBlack);
  EXPECT_EQ(framed.pixelColor(33, 10), kBlack);
  EXPECT_EQ(framed.pixelColor(34, 10), kPaper);
  EXPECT_EQ(framed.pixelColor(101, 10), kBlack);  // the frame
}

TEST(Gauge, VerticalBarRisesFromTheBottom) {
  TGauge gauge;
  gauge.resize(20, 100);
  gauge.SetKind(gkVerticalBar);
  gauge.SetBorderStyle(TGaugeBorderStyle::bsNone);
  gauge.SetShowText(false);
  gauge.SetProgress(25);
  const QImage image = gauge.Picture();
  EXPECT_EQ(image.pixelColor(10, 99), kBlack);
  EXPECT_EQ(image.pixelColor(10, 75), kBlack);
  EXPECT_EQ(image.pixelColor(10, 74), kPaper);
}

TEST(Gauge, PieAndNeedleStartAtTheirZeroAndTurnClockwise) {
  TGauge gauge;
  gauge.SetKind(gkPie);
  gauge.SetBorderStyle(TGaugeBorderStyle::bsNone);
  gauge.SetShowText(false);
  gauge.SetColor(QColor(0, 128, 0));
  gauge.SetProgress(25);
  QImage image = gauge.Picture();
  EXPECT_EQ(image.pixelColor(70, 30), kBlack);           // upper right quarter
  EXPECT_EQ(image.pixelColor(30, 30), kPaper);           // upper left still empty
  EXPECT_EQ(image.pixelColor(70, 70), kPaper);           // lower right too
  EXPECT_EQ(image.pixelColor(1, 1), QColor(0, 128, 0));  // outside the disc

  gauge.SetKind(gkNeedle);
  gauge.SetProgress(50);  // straight up from the middle of the base line
  image = gauge.Picture();
  EXPECT_EQ(image.pixelColor(50, 50), kBlack);
  EXPECT_EQ(image.pixelColor(30, 50), kPaper);
}

TEST(Gauge, TextIsExclusiveOrSoItShowsOnBarAndBackground) {
  TGauge gauge;
  gauge.resize(100, 30);
  gauge.SetBorderStyle(TGaugeBorderStyle::bsNone);
  gauge.SetProgress(50);
  const QImage image = gauge.Picture();
  int whiteOnBar = 0;
  int blackOnBackground = 0;
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 100; ++x) {
      if (x < 50 && image.pixelColor(x, y) == kPaper) ++whiteOnBar;
      if (x >= 50 && image.pixelColor(x, y) == kBlack) ++blackOnBackground;
    }
  }
  EXPECT_GT(whiteOnBar, 0);  // "50%" straddles the bar's end
  EXPECT_GT(blackOnBackground, 0);
  EXPECT_EQ(gauge.PercentText(), "50%");
}

TEST(Gauge, ProgressIsClampedAndBoundsAreChecked) {
  TGauge gauge;
  gauge.SetProgress(150);
  EXPECT_EQ(gauge.Progress(), 100);
  gauge.SetProgress(-5);
  EXPECT_EQ(gauge.Progress(), 0);
  try {
    gauge.SetMaxValue(-1);
    ADD_FAILURE() << "no error";
  } catch (const EInvalidOperation& error) {
    EXPECT_STREQ(error.what(), "Value must be between 1 and 2147483647");
  }
  try {
    gauge.SetMinValue(101);
    ADD_FAILURE() << "no error";
  } catch (const EInvalidOperation& error) {
    EXPECT_STREQ(error.what(), "Value must be between -2147483647 and 99");
  }
  EXPECT_EQ(gauge.MaxValue(), 100);
  gauge.SetProgress(60);
  gauge.SetMaxValue(50);  // lowers the progress with it
  EXPECT_EQ(gauge.Progress(), 50);
  gauge.SetMinValue(50);
  EXPECT_EQ(gauge.DonePercent(), 0);  // empty range
  EXPECT_EQ(gauge.PercentText(), "0%");
}

TEST(Gauge, PercentOfTheWholeIntegerRangeDoesNotOverflow) {
  TGauge gauge;
  gauge.SetMinValue(-2147483647 - 1);
  gauge.SetMaxValue(2147483647);
  gauge.SetProgress(0);
  EXPECT_EQ(gauge.DonePercent(), 50);
  gauge.SetMaxValue(-2147483647 - 1);
  gauge.SetMinValue(-2147483647 - 1);
  try {
    gauge.SetMinValue(0);
    ADD_FAILURE() << "no error";
  } catch (const EInvalidOperation& error) {
    EXPECT_STREQ(error.what(), "Value must be between -2147483647 and -2147483649");
  }
}

TEST(Gauge, ProgressRepaintsOnlyWhenThePercentChanges) {
  QWidget parent;
  parent.resize(300, 40);
  auto* gauge = new TGauge(&parent);
  gauge->SetMaxValue(1000);
  parent.show();
  QApplication::processEvents();
  PaintCounter counter(gauge);
  gauge->SetProgress(5);  // still 0 %
  QApplication::processEvents();
  EXPECT_EQ(counter.count, 0);
  gauge->SetProgress(10);
  QApplication::processEvents();
  EXPECT_EQ(counter.count, 1);
}

}  // namespace
