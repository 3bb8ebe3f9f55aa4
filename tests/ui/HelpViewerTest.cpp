#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QUrl>
#include <QWidget>
#include <map>

#include "HelpViewer.h"

namespace kvel {
namespace {

class HelpViewerTest : public testing::Test {
 protected:
  void SetUp() override {
    std::map<int, HelpPage> pages;
    pages[1] = {1, "Contents", "<p>See <a href=\"ctx:100\">the main window</a>.</p>"};
    pages[100] = {100, "Main window", "<p>The terminal shows replies of the indexer.</p>"};
    pages[99999] = {99999, "About KVEL", "<p>Version and copyright.</p>"};
    pages[310] = {310, "MU / XMU I/O test", "<p>Inputs and outputs of an indexer.</p>"};
    viewer_.SetPages(pages, 1);
  }
  void TearDown() override {
    viewer_.CloseWindow();
    viewer_.SetHeadless(false);
  }
  QString PageText() const {
    return viewer_.Window()->findChild<QTextBrowser*>(QStringLiteral("helpPage"))->toPlainText();
  }
  QListWidget* IndexList() const {
    return viewer_.Window()->findChild<QListWidget*>(QStringLiteral("helpIndexList"));
  }

  HelpViewer& viewer_ = HelpViewer::Instance();
};

TEST_F(HelpViewerTest, HeadlessOnlyRecordsRequests) {
  viewer_.SetHeadless(true);
  viewer_.ShowContents(nullptr);
  EXPECT_EQ(viewer_.LastRequest(), "contents");
  viewer_.ShowIndex(nullptr);
  EXPECT_EQ(viewer_.LastRequest(), "index");
  viewer_.ShowContext(nullptr, 99999);
  EXPECT_EQ(viewer_.LastRequest(), "context 99999");
  EXPECT_EQ(viewer_.Window(), nullptr);
}

TEST_F(HelpViewerTest, OneWindowShowsPagesByContextAndFollowsLinks) {
  QWidget owner;
  viewer_.ShowContext(&owner, 99999);
  QWidget* window = viewer_.Window();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->isWindow());
  EXPECT_FALSE(window->isModal());
  EXPECT_TRUE(PageText().contains(QStringLiteral("Version and copyright")));

  viewer_.ShowContext(&owner, 12345);  // unknown: the contents page
  EXPECT_EQ(viewer_.Window(), window);
  EXPECT_TRUE(PageText().contains(QStringLiteral("See the main window")));

  auto* page = window->findChild<QTextBrowser*>(QStringLiteral("helpPage"));
  Q_EMIT page->anchorClicked(QUrl(QStringLiteral("ctx:100")));
  EXPECT_TRUE(PageText().contains(QStringLiteral("replies of the indexer")));

  window->showMinimized();
  viewer_.ShowContents(&owner);
  EXPECT_EQ(viewer_.Window(), window);
  EXPECT_FALSE(window->isMinimized());
  auto* contents = window->findChild<QListWidget*>(QStringLiteral("helpContents"));
  EXPECT_EQ(contents->count(), 4);
}

TEST_F(HelpViewerTest, IndexSearchFiltersByTitleAndText) {
  viewer_.ShowIndex(nullptr);
  auto* tabs = viewer_.Window()->findChild<QTabWidget*>();
  EXPECT_EQ(tabs->currentIndex(), 1);
  auto* search = viewer_.Window()->findChild<QLineEdit*>(QStringLiteral("helpIndexSearch"));
  EXPECT_EQ(IndexList()->count(), 4);
  search->setText(QStringLiteral("INDEXER"));  // in two page texts, either case
  EXPECT_EQ(IndexList()->count(), 2);
  search->setText(QStringLiteral("indexer outputs"));  // every word must be found
  ASSERT_EQ(IndexList()->count(), 1);
  EXPECT_EQ(IndexList()->item(0)->text(), QStringLiteral("MU / XMU I/O test"));
  Q_EMIT IndexList()->itemActivated(IndexList()->item(0));
  EXPECT_TRUE(PageText().contains(QStringLiteral("Inputs and outputs")));
  search->setText(QStringLiteral("nothing like this"));
  EXPECT_EQ(IndexList()->count(), 0);
}

TEST_F(HelpViewerTest, OpensCentredOverItsOwnerAndEscOrCloseCloseIt) {
  QWidget owner;
  owner.setGeometry(200, 150, 640, 420);
  owner.show();
  viewer_.ShowContents(&owner);
  QWidget* window = viewer_.Window();
  ASSERT_NE(window, nullptr);
  const QPoint middle = window->frameGeometry().center();
  EXPECT_LE((middle - owner.frameGeometry().center()).manhattanLength(), 2)
      << middle.x() << "," << middle.y();

  // Esc in the search field, and the Close button.
  viewer_.ShowIndex(&owner);
  auto* search = window->findChild<QLineEdit*>(QStringLiteral("helpIndexSearch"));
  QTest::keyClick(search, Qt::Key_Escape);
  EXPECT_FALSE(window->isVisible());
  viewer_.ShowContents(&owner);
  EXPECT_TRUE(window->isVisible());
  window->findChild<QPushButton*>(QStringLiteral("helpClose"))->click();
  EXPECT_FALSE(window->isVisible());
}

TEST_F(HelpViewerTest, WindowGoesWithItsOwner) {
  auto* owner = new QWidget;
  viewer_.ShowContents(owner);
  ASSERT_NE(viewer_.Window(), nullptr);
  delete owner;
  EXPECT_EQ(viewer_.Window(), nullptr);
  viewer_.ShowContents(nullptr);  // created anew
  EXPECT_NE(viewer_.Window(), nullptr);
}

TEST_F(HelpViewerTest, TheSidebarShowsEveryTitleWhole) {
  std::map<int, HelpPage> pages;
  pages[1] = {1, "Contents", "<p>All pages.</p>"};
  pages[200] = {200, "ZorvDrive / GRV opto inputs and outputs", "<p>Opto.</p>"};
  pages[440] = {440, "Read program and parameters from the indexer", "<p>Upload.</p>"};
  viewer_.SetPages(pages, 1);
  viewer_.ShowContents(nullptr);
  QWidget* window = viewer_.Window();
  ASSERT_NE(window, nullptr);
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
  auto* contents = window->findChild<QListWidget*>(QStringLiteral("helpContents"));
  ASSERT_EQ(contents->count(), 3);
  for (int row = 0; row < contents->count(); ++row) {
    const QListWidgetItem* item = contents->item(row);
    EXPECT_LE(contents->visualItemRect(item).left() +
                  contents->fontMetrics().horizontalAdvance(item->text()),
              contents->viewport()->width())
        << item->text().toStdString();
    // Narrowed by the user, an entry is whole in its hint.
    EXPECT_EQ(item->toolTip(), item->text());
  }
}

}  // namespace
}  // namespace kvel
