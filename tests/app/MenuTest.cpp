#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <sstream>

#include "AppTestSupport.h"
#include "KVEL_32.h"
#include "KVEL_Help.h"
#include "KVEL_Var.h"
#include "terminal/CPortCtl.h"
#include "ui/HelpViewer.h"

namespace {

struct ItemRow {
  const char* name;
  const char* menu;  // object name of the menu holding it; "" = on the window only
  const char* caption;
  const char* shortcut;  // portable text, "" = none
  int helpContext;       // 0 = none
};

class MenuItemTest : public AppTest, public ::testing::WithParamInterface<ItemRow> {};

TEST_P(MenuItemTest, HasCaptionShortcutHelpContextAndPlace) {
  const ItemRow& row = GetParam();
  TForm1& form = Start();
  auto* item = form.findChild<QAction*>(QLatin1String(row.name));
  ASSERT_NE(item, nullptr) << row.name;
  EXPECT_EQ(item->text().toStdString(), row.caption);
  EXPECT_EQ(item->shortcut().toString().toStdString(), row.shortcut);
  EXPECT_EQ(item->property(kHelpContextProperty).toInt(), row.helpContext);
  const std::string menu = row.menu;
  bool inMenu = false;
  for (QObject* holder : item->associatedObjects()) {
    if (auto* owner = qobject_cast<QMenu*>(holder)) {
      inMenu = true;
      EXPECT_EQ(owner->objectName().toStdString(), menu) << row.name;
    }
  }
  EXPECT_EQ(inMenu, !menu.empty()) << row.name;
  if (menu.empty()) {
    // Shortcuts of items that are never shown work only on a visible action of the window.
    EXPECT_TRUE(item->isVisible());
    EXPECT_TRUE(form.actions().contains(item));
  }
}

INSTANTIATE_TEST_SUITE_P(
    WholeMenu, MenuItemTest,
    ::testing::Values(ItemRow{"Copy1", "Edit1", "Copy to clipboard", "Ctrl+C", 1100},
                      ItemRow{"Clearscreen1", "Edit1", "Clear screen\tAlt+C", "", 1100},
                      ItemRow{"Editmacros1", "Setup1", "Unit setup", "Alt+M", 1210},
                      ItemRow{"RepSetup", "Setup1", "Repeat Setup", "Alt+W", 1220},
                      ItemRow{"Terminal1", "Setup1", "Terminal", "", 1230},
                      ItemRow{"SetCom1", "Setup1", "Communication", "F2", 1240},
                      ItemRow{"RQMKQB11", "UnitSelect1", "RQM / KQB&1", "", 0},
                      ItemRow{"RQMKQB21", "UnitSelect1", "RQM / KQB&2", "", 0},
                      ItemRow{"HLVX1", "UnitSelect1", "&HLVX", "", 0},
                      ItemRow{"QN4100I1", "UnitSelect1", "&QN4100I", "", 0},
                      ItemRow{"MUXMU1", "UnitSelect1", "&MU / XMU", "", 0},
                      ItemRow{"GRV1", "UnitSelect1", "&GRV", "", 0},
                      ItemRow{"ZorvDrive1", "UnitSelect1", "&ZorvDrive", "", 0},
                      ItemRow{"Ostrav24Emulator1", "UnitSelect1", "&Ostrav24 Emulator", "", 0},
                      ItemRow{"HEXMode1", "Commands1", "&HEX Mode", "Alt+H", 1400},
                      ItemRow{"Clearscreen2", "Commands1", "&Clear screen", "Alt+C", 1400},
                      ItemRow{"Scanforindexer1", "Commands1", "Scan for indexer", "Alt+S", 1410},
                      ItemRow{"ReadLParameters1", "IDXtpoPC", "Parameters", "F4", 1420},
                      ItemRow{"IDXtpoPC1", "IDXtpoPC", "Program", "", 1430},
                      ItemRow{"ProgPar1", "IDXtpoPC", "Prog + Par", "F6", 1440},
                      ItemRow{"KVEL1", "Commands1", "Send Program", "F5", 0},
                      ItemRow{"Viewlogfile1", "Commands1", "View log file", "Alt+V", 1460},
                      ItemRow{"Contents1", "Help1", "&Contents", "", 0},
                      ItemRow{"helpIndex1", "Help1", "&Index", "", 0},
                      ItemRow{"About1", "Help1", "&About", "", 0},
                      ItemRow{"N01", "", "0", "Alt+0", 0}, ItemRow{"N51", "", "5", "Alt+5", 0},
                      ItemRow{"N91", "", "9", "Alt+9", 0}, ItemRow{"N101", "", "10", "Alt+T", 0},
                      ItemRow{"Autorepeat1", "", "Auto repeat", "Alt+Q", 1450},
                      ItemRow{"Repeat1", "", "Repeat", "Alt+R", 1400}));

using WindowTest = AppTest;

TEST_F(WindowTest, MenuBarAndToolBarInOrder) {
  TForm1& form = Start();
  QStringList bar;
  for (QAction* top : form.menuBar()->actions()) bar << top->text();
  EXPECT_EQ(bar.join(u'|').toStdString(), "Exit|Edit|Setup|Unit Select|Commands|Help");
  EXPECT_EQ(form.Exit1->shortcut().toString().toStdString(), "Alt+X");
  EXPECT_EQ(form.Exit1->property(kHelpContextProperty).toInt(), 1000);
  const std::pair<QMenu*, int> menus[] = {
      {form.Edit1, 1100}, {form.Setup1, 1200}, {form.UnitSelect1, 1300}, {form.Commands1, 1400}};
  for (const auto& [menu, context] : menus) {
    EXPECT_EQ(menu->menuAction()->property(kHelpContextProperty).toInt(), context);
  }
  EXPECT_FALSE(form.HLVX1->isEnabled());
  EXPECT_FALSE(form.Ostrav24Emulator1->isEnabled());
  for (int n = 0; n < 10; ++n) {
    EXPECT_EQ(form.MacroItems[static_cast<std::size_t>(n)]->data().toInt(), n);
  }

  QStringList tools;
  for (QAction* tool : form.ToolBar1->actions()) {
    QWidget* widget = form.ToolBar1->widgetForAction(tool);
    tools << (widget != nullptr ? widget->objectName() : QString());
  }
  EXPECT_EQ(tools.join(u'|').toStdString(),
            "SpeedButton1|IOButton2|SpeedButton3|ComboBox1|RepeatButton4|SpeedButton5|"
            "SpeedButton6|ComboBox2");
  EXPECT_EQ(form.SpeedButton3->text().toStdString(), "Log is OFF");
  EXPECT_EQ(form.RepeatButton4->toolTip().toStdString(), "Repeat last command");
  EXPECT_TRUE(form.RepeatButton4->font().bold() && form.RepeatButton4->font().italic());
  EXPECT_EQ(form.SpeedButton6->text().toStdString(), "");
}

TEST_F(WindowTest, FixedSizeClientAreaAndHiddenGrid) {
  TForm1& form = Start();
  EXPECT_EQ(form.width(), 657);
  EXPECT_EQ(form.height() - form.menuBar()->height(), 412);
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(form.font().family().toStdString(), "Arial");
  EXPECT_EQ(form.StringGrid1->columnCount(), 3);
  EXPECT_EQ(form.StringGrid1->rowCount(), 17);
  EXPECT_EQ(form.StringGrid1->columnWidth(2), 200);
  EXPECT_EQ(form.StringGrid1->rowHeight(16), 16);
  EXPECT_TRUE(form.StringGrid1->isHidden());
  EXPECT_EQ(form.Label1->text().toStdString(), "L Parameters ");
  EXPECT_EQ(form.Label2->text().toStdString(), "Info : ");
  // The port panel is at least 115 wide, and wider where its text needs it.
  EXPECT_GE(form.Panels[0]->width(), 115);
  EXPECT_GE(form.Panels[0]->width(),
            form.Panels[0]->fontMetrics().horizontalAdvance(form.Panels[0]->text()));
  EXPECT_EQ(form.Panels[1]->width(), 70);
  EXPECT_EQ(form.Panels[2]->width(), 300);

  form.SpeedButton1Click();
  EXPECT_TRUE(form.StringGrid1->isVisible());
  EXPECT_TRUE(form.Label1->isVisible());
  EXPECT_TRUE(form.ComTerminal1->isHidden());
  EXPECT_EQ(form.SpeedButton1->text().toStdString(), "Terminal");
  form.SpeedButton1Click();
  EXPECT_TRUE(form.StringGrid1->isHidden());
  EXPECT_EQ(form.SpeedButton1->text().toStdString(), "Parameters");
}

TEST_F(WindowTest, ShortcutsReachTheirCommands) {
  TForm1& form = Start();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  form.ComTerminal1->setFocus();
  kvel::HelpViewer& help = kvel::HelpViewer::Instance();

  QTest::keyClick(form.ComTerminal1, Qt::Key_F1);
  EXPECT_EQ(help.LastRequest(), "contents");

  form.ComTerminal1->PutText("garbage");
  QTest::keyClick(form.ComTerminal1, Qt::Key_C, Qt::AltModifier);
  std::ostringstream screen;
  form.ComTerminal1->WriteScreenText(screen);
  EXPECT_EQ(screen.str().find("garbage"), std::string::npos);

  answer_ = kvel::MsgResult::Cancel;
  QTest::keyClick(form.ComTerminal1, Qt::Key_X, Qt::AltModifier);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].caption, "Stop this program");
}

TEST_F(WindowTest, HelpCommandsAndAPageForEveryContext) {
  TForm1& form = Start();
  kvel::HelpViewer& help = kvel::HelpViewer::Instance();
  form.About1->trigger();
  EXPECT_EQ(help.LastRequest(), "context 99999");
  form.helpIndex1->trigger();
  EXPECT_EQ(help.LastRequest(), "index");
  form.Contents1->trigger();
  EXPECT_EQ(help.LastRequest(), "contents");

  std::vector<int> contexts{
      kContentsHelpContext, 100, 150, 200, 400, 4300, 4400, 4500, 4600, 5100, 99999};
  for (QAction* item : form.findChildren<QAction*>()) {
    const int context = item->property(kHelpContextProperty).toInt();
    if (context != 0) contexts.push_back(context);
  }
  for (int context : contexts) {
    const auto page = help.Pages().find(context);
    ASSERT_NE(page, help.Pages().end()) << context;
    EXPECT_FALSE(page->second.title.empty());
    EXPECT_GT(page->second.html.size(), 40u) << context;
  }
}

TEST_F(WindowTest, LaterStartRestoresAMinimisedWindow) {
  TForm1& form = Start();
  form.showMinimized();
  ASSERT_TRUE(form.isMinimized());
  EXPECT_TRUE(form.RaiseForOtherStart());
  EXPECT_FALSE(form.isMinimized());
  EXPECT_FALSE(form.RaiseForOtherStart());
}

TEST_F(WindowTest, LaterStartTellsWhatItDid) {
  ShowOtherInstanceMessage(kvel::SingleInstance::Outcome::OtherRestored);
  ShowOtherInstanceMessage(kvel::SingleInstance::Outcome::OtherRaised);
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(boxes_[0].text, "ShowWindow(hw,SW_Restore);");
  EXPECT_EQ(boxes_[1].text, "SetForeGroundWindow(hw);");
  for (const auto& box : boxes_) {
    EXPECT_EQ(box.caption, "mesaage");
    EXPECT_EQ(box.icon, kvel::MsgIcon::Information);
  }
  EXPECT_FALSE(std::filesystem::exists(Folder() + "/error.log"));
}

}  // namespace
