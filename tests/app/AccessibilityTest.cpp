// What a screen reader finds in the program's windows: every control it can reach has a name,
// and a radio group is one tab stop at its checked item whose items the arrow keys select.
#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>

#include "AppTestSupport.h"
#include "KVELIndexerHost.h"
#include "KVELIoTestHost.h"
#include "KVEL_Macro.h"
#include "KVEL_RepTime.h"
#include "indexer/PCtoIDX.h"
#include "indexer/ScanIDX.h"
#include "iotest/KVEL_QN4KIO.h"
#include "iotest/KVEL_XMU_IO.h"
#include "iotest/ZorvIOTest.h"
#include "serial/CPortSetup.h"
#include "terminal/CPortCtl.h"
#include "terminal/CPortTrmSet.h"
#include "ui/HelpViewer.h"
#include "ui/TextViewer.h"

namespace {

QString Describe(QAccessibleInterface* iface) {
  QObject* object = iface->object();
  QString where = object != nullptr
                      ? QString::fromLatin1(object->metaObject()->className()) +
                            QStringLiteral(" '") + object->objectName() + QStringLiteral("'")
                      : QStringLiteral("(no object)");
  return where + QStringLiteral(" role ") + QString::number(iface->role(), 16);
}

// Walks the accessibility tree below `iface` and lists the shown controls that take the
// focus but have no name.
void CollectUnnamed(QAccessibleInterface* iface, QStringList& unnamed, int depth = 0) {
  if (depth > 40) return;
  for (int i = 0; i < iface->childCount(); ++i) {
    QAccessibleInterface* child = iface->child(i);
    if (child == nullptr || !child->isValid()) continue;
    const QAccessible::State state = child->state();
    if (state.invisible) continue;
    // The items of a table or list are its content, not controls: an empty cell reads as
    // blank, as it should.
    const QAccessible::Role role = child->role();
    const bool item = role == QAccessible::Cell || role == QAccessible::ListItem ||
                      role == QAccessible::TreeItem || role == QAccessible::Row ||
                      role == QAccessible::ColumnHeader || role == QAccessible::RowHeader;
    if (state.focusable && !item && child->text(QAccessible::Name).trimmed().isEmpty()) {
      unnamed << Describe(child);
    }
    CollectUnnamed(child, unnamed, depth + 1);
  }
}

QStringList UnnamedControls(QWidget* window) {
  QStringList unnamed;
  QAccessibleInterface* root = QAccessible::queryAccessibleInterface(window);
  if (root == nullptr) return {QStringLiteral("no accessible interface for the window")};
  CollectUnnamed(root, unnamed);
  return unnamed;
}

class AccessibilityTest : public AppTest {
 protected:
  // Shows `window` as the program does, then checks its tree.
  void ExpectAllNamed(QWidget* window, const char* what) {
    ASSERT_NE(window, nullptr) << what;
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window)) << what;
    const QStringList unnamed = UnnamedControls(window);
    EXPECT_TRUE(unnamed.isEmpty()) << what << ": focusable controls without a name:\n  "
                                   << unnamed.join(QStringLiteral("\n  ")).toStdString();
  }

  // The form as shown, with the widget that Tab starts from focused.
  static void Focus(QWidget* window, QWidget* start) {
    window->show();
    window->activateWindow();
    // A dialog counts as active while its owner is; the activation itself comes later.
    ASSERT_TRUE(QTest::qWaitFor([window] { return QApplication::activeWindow() == window; }));
    start->setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(start->hasFocus());
  }
  // The control that has the focus after the key: a button by its caption.
  static std::string Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    return Caption(QApplication::focusWidget());
  }
  static std::string Caption(const QWidget* widget) {
    if (widget == nullptr) return "(none)";
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
      return button->text().toStdString();
    }
    return widget->objectName().toStdString();
  }
};

TEST_F(AccessibilityTest, EveryFocusableControlOfEveryWindowHasAName) {
  TForm1& form = Start();
  ExpectAllNamed(&form, "main window");
  form.SpeedButton1Click();
  ExpectAllNamed(&form, "main window with the parameter view");
  form.SpeedButton1Click();

  ExpectAllNamed(std::make_unique<TMacroForm>(&form).get(), "unit setup");
  ExpectAllNamed(std::make_unique<TForm2>(&form).get(), "repeat setup");
  ExpectAllNamed(std::make_unique<kvel::TComTrmSetForm>(&form).get(), "terminal setup");
  ExpectAllNamed(std::make_unique<TComSetupFrm>(&form).get(), "port setup");
  ExpectAllNamed(std::make_unique<TToIDX_Form>(form.Indexer()).get(), "download dialog");
  ExpectAllNamed(std::make_unique<TScanForm>(&form).get(), "scan and upload progress window");
  ExpectAllNamed(std::make_unique<TXMU_IO_Form>(form.IoTests(), &form).get(), "XMU I/O test");
  ExpectAllNamed(std::make_unique<TZorvIOForm>(form.IoTests(), &form).get(), "drive I/O test");
  ExpectAllNamed(std::make_unique<TQN4K_IO_Form>(form.IoTests(), &form).get(), "QN4K I/O test");

  kvel::HelpViewer& help = kvel::HelpViewer::Instance();
  help.SetHeadless(false);
  help.ShowIndex(&form);
  ExpectAllNamed(help.Window(), "help index");
  form.About1Click();
  ExpectAllNamed(help.Window(), "about page");
  help.CloseWindow();
  help.SetHeadless(true);

  QFile log(QString::fromStdString(Folder() + "/viewed.log"));
  ASSERT_TRUE(log.open(QIODevice::WriteOnly));
  log.write("a line\r\n");
  log.close();
  QWidget* viewer = kvel::ShowTextFile(&form, log.fileName().toStdString());
  ExpectAllNamed(viewer, "text viewer");
  viewer->close();

  // A message box, as the program shows one.
  kvel::SetMessageBoxHook({});
  QStringList boxUnnamed{QStringLiteral("the message box did not show")};
  QTimer::singleShot(0, [&boxUnnamed] {
    QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr) return;
    boxUnnamed = UnnamedControls(box);
    box->close();
  });
  kvel::ShowMessageBox(
      &form, kvel::MessageBoxRequest{"Overwrite the file?", "KVEL", kvel::MsgIcon::Question,
                                     kvel::MsgButtons::YesNoCancel});
  EXPECT_TRUE(boxUnnamed.isEmpty()) << "message box: focusable controls without a name:\n  "
                                    << boxUnnamed.join(QStringLiteral("\n  ")).toStdString();
}

TEST_F(AccessibilityTest, FieldsAreNamedAfterTheLabelBesideThem) {
  TForm1& form = Start();
  TMacroForm dialog(&form);
  dialog.show();
  EXPECT_EQ(QAccessible::queryAccessibleInterface(dialog.Edit1)->text(QAccessible::Name),
            QStringLiteral("Editor"));
  EXPECT_EQ(QAccessible::queryAccessibleInterface(dialog.Edit3)->text(QAccessible::Name),
            QStringLiteral("LogFile"));
  // A caption stays the name of its own control.
  EXPECT_EQ(QAccessible::queryAccessibleInterface(dialog.Button2)->text(QAccessible::Name),
            QStringLiteral("OK"));
}

TEST_F(AccessibilityTest, TabEntersARadioGroupAtItsCheckedItemAndArrowsSelect) {
  TForm1& form = Start();
  TMacroForm dialog(&form);
  // Values set before the groups ever had the focus; a checked port that is not there.
  for (int i = 0; i < dialog.COMSelect->Count(); ++i) dialog.COMSelect->Item(i)->setEnabled(i != 2);
  dialog.COMSelect->SetItemIndex(2);
  dialog.BaudSelect->SetItemIndex(2);
  Focus(&dialog, dialog.KiesLogFile);

  // The disabled checked item cannot take the focus: the group is entered at its first item.
  EXPECT_EQ(Press(Qt::Key_Tab), "COM1");
  EXPECT_EQ(Press(Qt::Key_Tab), "2400");
  // The items stand in two columns: 300, 1200, 2400 and 9600, 19200, 38400.
  EXPECT_EQ(Press(Qt::Key_Up), "1200");
  EXPECT_EQ(dialog.BaudSelect->ItemIndex(), 1);
  EXPECT_EQ(Press(Qt::Key_Right), "19200");
  EXPECT_EQ(dialog.BaudSelect->ItemIndex(), 4);

  // Tab leaves the group for the next one, which it enters at its checked item.
  EXPECT_EQ(Press(Qt::Key_Tab), Caption(dialog.EmuSelect->Item(dialog.EmuSelect->ItemIndex())));
  // Back again: the group at the item checked last.
  EXPECT_EQ(Press(Qt::Key_Backtab, Qt::ShiftModifier), "19200");
  EXPECT_EQ(Press(Qt::Key_Backtab, Qt::ShiftModifier), "COM1");

  // A change from the program moves the tab stop with the check.
  dialog.BaudSelect->SetItemIndex(5);
  dialog.KiesLogFile->setFocus(Qt::OtherFocusReason);
  Press(Qt::Key_Tab);
  EXPECT_EQ(Press(Qt::Key_Tab), "38400");
  EXPECT_EQ(dialog.BaudSelect->ItemIndex(), 5);
}

TEST_F(AccessibilityTest, TheStrobeButtonsAreOneGroupForTabAndArrows) {
  TForm1& form = Start();
  TXMU_IO_Form window(form.IoTests(), &form);
  window.show();
  QRadioButton* zero = window.RadioButtons[0];
  QRadioButton* three = window.RadioButtons[3];
  three->setChecked(true);
  // The control before the group in the tab chain.
  auto inGroup = [&window](QWidget* widget) {
    return std::find(window.RadioButtons.begin(), window.RadioButtons.end(), widget) !=
           window.RadioButtons.end();
  };
  QWidget* before = zero->previousInFocusChain();
  while (before != zero && (inGroup(before) || (before->focusPolicy() & Qt::TabFocus) == 0 ||
                            !before->isVisibleTo(&window) || !before->isEnabled())) {
    before = before->previousInFocusChain();
  }
  ASSERT_NE(before, zero);
  Focus(&window, before);
  EXPECT_EQ(Press(Qt::Key_Tab), Caption(three));
  // "0" stands on the right: Left goes to the higher number.
  EXPECT_EQ(Press(Qt::Key_Left), Caption(window.RadioButtons[4]));
  EXPECT_TRUE(window.RadioButtons[4]->isChecked());
}

}  // namespace
