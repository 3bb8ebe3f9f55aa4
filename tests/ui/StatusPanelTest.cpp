#include <gtest/gtest.h>

#include <QApplication>
#include <QStatusBar>

#include "StatusPanel.h"

namespace kvel {
namespace {

// Two panels as the main window has them: a port panel that grows and an information panel
// that gives up room, in a status bar of a fixed width.
class StatusPanelTest : public testing::Test {
 protected:
  void SetUp() override {
    bar_.setSizeGripEnabled(false);
    bar_.setFixedWidth(520);
    bar_.addWidget(port_);
    bar_.addWidget(info_);
    bar_.show();
    Settle();
  }
  static void Settle() {
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
  }

  QStatusBar bar_;
  StatusPanel* port_ = new StatusPanel(QStringLiteral(" COM1 9600 8 None 1"), 115, 280, 115, &bar_);
  StatusPanel* info_ = new StatusPanel(QString(), 300, 300, 150, &bar_);
};

TEST_F(StatusPanelTest, ThePortPanelGrowsToShowItsTextWholeUpToItsLimit) {
  EXPECT_EQ(info_->width(), 300);
  EXPECT_GE(port_->width(), 115);
  EXPECT_FALSE(port_->Elided());

  for (const char* text : {" COM99 Custom 8 Space 1.5",
                           "COM1 closed: no permission on /dev/ttyUSB0", " COM2 reconnecting"}) {
    port_->setText(QString::fromLatin1(text));
    Settle();
    EXPECT_GE(port_->width(), port_->WidthFor(port_->text())) << text;
    EXPECT_GE(port_->width(), 115) << text;
    EXPECT_FALSE(port_->Elided()) << text;
    EXPECT_TRUE(port_->Hint().isEmpty()) << text;
    // The information panel gives up what the port panel needs, down to its least.
    EXPECT_GE(info_->width(), 150) << text;
  }

  const QString unplugged = QStringLiteral(
      "COM1 unplugged: waiting for /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
  port_->setText(unplugged);
  Settle();
  EXPECT_EQ(port_->width(), 280);
  EXPECT_TRUE(port_->Elided());
  EXPECT_TRUE(port_->ShownText().endsWith(QChar(0x2026))) << port_->ShownText().toStdString();
  EXPECT_LE(port_->fontMetrics().horizontalAdvance(port_->ShownText()),
            port_->contentsRect().width());
  EXPECT_EQ(port_->Hint(), unplugged);
}

TEST_F(StatusPanelTest, ALongerFormIsTheHintOfItsOwnTextOnly) {
  info_->SetText(QStringLiteral(" Saved MU-10.PGM: 61 lines"),
                 QStringLiteral("Saved /home/u/Documents/MU-10.PGM: 61 lines"));
  Settle();
  EXPECT_FALSE(info_->Elided());
  EXPECT_EQ(info_->Hint().toStdString(), "Saved /home/u/Documents/MU-10.PGM: 61 lines");
  // Another text written over it has no such hint.
  info_->setText(QStringLiteral(" Unit : E XMU VORTAN V2.1"));
  EXPECT_TRUE(info_->Hint().isEmpty());
  const QString cut(80, QLatin1Char('W'));
  info_->setText(cut);
  EXPECT_TRUE(info_->Elided());
  EXPECT_EQ(info_->Hint(), cut);
}

}  // namespace
}  // namespace kvel
