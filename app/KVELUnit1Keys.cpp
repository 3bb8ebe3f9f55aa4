// The main window's keyboard side: typed keys, the command buffer, repeat, macros.
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QTableWidget>
#include <QTimer>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "KVELUnit1.h"
#include "KVEL_RepTime.h"
#include "KVEL_Text.h"
#include "KVEL_Var.h"
#include "terminal/CPortCtl.h"
#include "ui/Clock.h"
#include "ui/Convert.h"
#include "ui/Dialogs.h"

namespace {

constexpr int kHistorySize = 16;

bool Recorded(std::uint8_t key) {
  return (key >= 32 && key <= 34) || (key >= 37 && key <= 41) || (key >= 43 && key <= 127);
}

// The index of the entry equal to `text` regardless of letter case, -1 when none is.
int FindEntry(const QComboBox& box, const std::string& text) {
  const std::string wanted = UpperCase(text);
  for (int i = 0; i < box.count(); ++i) {
    if (UpperCase(kvel::FromQt(box.itemText(i))) == wanted) return i;
  }
  return -1;
}

bool IsWithin(const QWidget* widget, const QWidget* ancestor) {
  for (; widget != nullptr; widget = widget->parentWidget()) {
    if (widget == ancestor) return true;
  }
  return false;
}

}  // namespace

QWidget* TForm1::KeyOwner(QWidget* widget) const {
  if (widget == nullptr) return nullptr;
  // The drop-down lists are windows of their own, owned by their combo box.
  if (IsWithin(widget, ComboBox1)) return ComboBox1;
  if (IsWithin(widget, ComboBox2)) return ComboBox2;
  if (widget->window() != this) return nullptr;
  if (IsWithin(widget, StringGrid1)) return StringGrid1;
  return widget;
}

bool TForm1::OwnKey(const QWidget* widget) const {
  // Only keys this window itself receives are typed keys. A key that a menu (Esc closing it
  // included), the menu bar, a dialog, a message box or the help viewer takes is theirs,
  // even when it is delivered to a control of this window meanwhile.
  if (IsWithin(widget, menuBar())) return false;
  if (const QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal != this)
    return false;
  const QWidget* popup = QApplication::activePopupWidget();
  return popup == nullptr || popup == ComboBox1->view()->window() ||
         popup == ComboBox2->view()->window();
}

bool TForm1::PreviewKey(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyRelease) {
    passedKey_ = nullptr;
    return false;
  }
  if (event->type() != QEvent::KeyPress) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  // A key let through comes back here while it propagates to the parents of the control it
  // was let through to. The address alone does not tell: the next key, pressed before this
  // one is released, is usually built at the same place on the stack.
  if (event == passedKey_ && widget != nullptr && widget != passedTo_ &&
      IsWithin(passedTo_, widget)) {
    return false;
  }
  QWidget* owner = KeyOwner(widget);
  if (owner == nullptr || !isEnabled() || !OwnKey(widget)) return false;
  const auto* key = static_cast<QKeyEvent*>(event);

  if (key->key() == Qt::Key_Delete && owner == ComboBox1 && ComboBox1->view()->isVisible()) {
    ComboBox1KeyDown(Qt::Key_Delete);
    return true;
  }
  // Alt combinations are shortcuts or nothing; only plain characters are typed keys.
  if ((key->modifiers() & (Qt::AltModifier | Qt::MetaModifier)) != 0) return false;
  if (key->key() == Qt::Key_Delete) return false;
  const QString text = key->text();
  if (text.size() != 1 || text.front().unicode() > 255) return false;
  auto ch = static_cast<std::uint8_t>(text.front().unicode());
  if ((key->modifiers() & Qt::ControlModifier) != 0 && ch >= 64 && ch < 128) {
    ch = static_cast<std::uint8_t>(ch & 0x1F);
  }
  if (FormKeyPress(owner, ch)) return true;
  if (owner == ComboBox1 && ComboBox1KeyPress(ch)) return true;
  passedKey_ = event;
  passedTo_ = widget;
  return false;
}

bool TForm1::FormKeyPress(QWidget* target, std::uint8_t key) {
  const std::string typed(1, static_cast<char>(key));
  if (LogOn) LogWrite(typed, false);
  if (target == ComboBox1 || target == StringGrid1) return false;
  if (UnitType < 4 || UnitType > 7) return true;

  // A port waiting for its device takes no keys: they are neither sent nor echoed.
  if (!SendTypedKeys({})) return true;
  if (key == '\r') {
    DisplayText("\r\n");
    if (!SendTypedKeys("\r")) return true;
    LineSent = true;
    const bool err = UpperCase(CommandLine) == "ERR";
    if (UnitType == 4 || UnitType == 5) {
      if (err) {
        if (OnXmuErrorReport) OnXmuErrorReport();
        CommandLine.clear();
      } else {
        AddToHistory(CommandLine);
      }
    } else {
      AddToHistory(CommandLine);
      if (err) {
        if (OnDriveErrorReport) OnDriveErrorReport();
        CommandLine.clear();
      }
    }
    return true;
  }

  // Typing stops auto-repeat. Timer1 also makes the tick that first starts the receive poll:
  // that tick must come whatever is typed, or nothing the controller sends is ever shown.
  if (AutoRepeat) {
    AutoRepeat = false;
    if (pollStarted_) {
      Timer1->stop();
    } else {
      Timer1->start(kPollStartMs);
    }
    ShowAutoRepeatState();
  }
  if (!SendTypedKeys(typed)) return true;
  if (ComTerminal1->LocalEcho()) ComTerminal1->PutText(typed);
  if (LineSent) {
    CommandLine.clear();
    LineSent = false;
  }
  if (Recorded(key)) {
    CommandLine += typed;
  } else if (key == 8 && !CommandLine.empty()) {
    CommandLine.pop_back();
  }
  return true;
}

void TForm1::AddToHistory(const std::string& line) {
  if (FindEntry(*ComboBox1, line) >= 0) return;
  ComboBox1->insertItem(0, kvel::ToQt(line));
  ComboBox1->setCurrentIndex(0);
  if (ComboBox1->count() > kHistorySize) ComboBox1->removeItem(kHistorySize);
}

bool TForm1::ComboBox1KeyPress(std::uint8_t key) {
  if (key != '\r') return false;
  const QString editText = ComboBox1->currentText();
  const std::string text = kvel::FromQt(editText);
  if (text.empty() || FindEntry(*ComboBox1, text) >= 0) return true;
  const std::string upper = UpperCase(text);
  int place = 0;
  while (place < ComboBox1->count() &&
         UpperCase(kvel::FromQt(ComboBox1->itemText(place))) < upper) {
    ++place;
  }
  // Inserting moves the current index along with its entry; the edit text stays as typed.
  // Qt selects the first entry put into an empty list: only the user chooses the selection.
  const bool noneSelected = ComboBox1->currentIndex() < 0;
  ComboBox1->insertItem(place, editText);
  if (noneSelected) ComboBox1->setCurrentIndex(-1);
  ComboBox1->setEditText(editText);
  return true;
}

void TForm1::ComboBox1KeyDown(int key) {
  if (key != Qt::Key_Delete) return;
  const QModelIndex highlighted = ComboBox1->view()->currentIndex();
  if (highlighted.isValid()) {
    // Qt would select a neighbour of a removed selected entry, and a running auto-repeat
    // would send that one instead: the selection is gone with its entry.
    const bool selected = highlighted.row() == ComboBox1->currentIndex();
    const QString editText = ComboBox1->currentText();
    ComboBox1->removeItem(highlighted.row());
    if (selected) {
      ComboBox1->setCurrentIndex(-1);
      ComboBox1->setEditText(editText);
    }
  }
  ComboBox1->hidePopup();
  ComboBox1->showPopup();
}

void TForm1::ClearAll1Click() {
  ComboBox1->clear();
  ComboBox1->setEditText(QStringLiteral("Command buffer"));
}

void TForm1::Save1Click() {
  const std::optional<std::string> path = kvel::RunFileDialog(
      this, kvel::FileDialogRequest{true, "", "Command files (*.TXT)|*.TXT", "TXT"});
  if (!path) return;
  std::ofstream out(*path, std::ios::binary | std::ios::trunc);
  for (int i = 0; i < ComboBox1->count(); ++i)
    out << kvel::FromQt(ComboBox1->itemText(i)) << "\r\n";
  out.close();
  if (!out) throw std::runtime_error("Cannot write the command buffer to " + *path);
}

void TForm1::Load1Click() {
  const std::optional<std::string> path = kvel::RunFileDialog(
      this, kvel::FileDialogRequest{false, "", "Command files (*.TXT)|*.TXT", "TXT"});
  if (!path) return;
  std::ifstream in(*path, std::ios::binary);
  if (!in) throw std::runtime_error("Cannot read the command buffer from " + *path);
  ComboBox1->clear();
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (FindEntry(*ComboBox1, line) < 0) ComboBox1->addItem(kvel::ToQt(line));
  }
  ComboBox1->setCurrentIndex(-1);
  ComboBox1->setEditText(QStringLiteral("Command buffer"));
}

std::string TForm1::SelectedEntry() const {
  const int index = ComboBox1->currentIndex();
  return index >= 0 ? kvel::FromQt(ComboBox1->itemText(index)) : std::string();
}

void TForm1::RepeatButton4Click() {
  const std::string command = SelectedEntry() + "\r\n";
  if (!SendTypedKeys(command)) return;
  DisplayText(command);
}

void TForm1::StartAutoRepeatTimer() {
  // A zero delay must never tick; a Qt timer with interval 0 would fire continuously.
  Timer1->setInterval(RepeatDelay);
  if (RepeatDelay == 0) {
    Timer1->stop();
  } else {
    Timer1->start();
  }
}

void TForm1::Autorepeat1Click() {
  StartAutoRepeatTimer();
  AutoRepeat = true;
  ShowAutoRepeatState();
}

void TForm1::Timer1Timer() {
  if (AutoRepeat) {
    // A transfer, an I/O test or a dialog in front owns the line and the window: a repeated
    // command in the middle of its exchange would corrupt it. The repeat goes on afterwards.
    if (!isEnabled() || QApplication::activeModalWidget() != nullptr) return;
    try {
      RepeatButton4Click();
    } catch (...) {
      // A line that failed fails again at every tick, and each tick would put up one more
      // error box over the last, faster than the operator can close them.
      AutoRepeat = false;
      Timer1->stop();
      ShowAutoRepeatState();
      throw;
    }
    return;
  }
  Timer1->stop();
  pollStarted_ = true;
  RunFlag = 1;
  PollReceive();
}

void TForm1::N01Click(const QAction* sender) {
  SendMacro(sender->data().toInt());
}

void TForm1::SendMacro(int n) {
  const std::string output = " " + ExpandMacro(MacroText.at(static_cast<std::size_t>(n)));
  if (!SendTypedKeys({})) return;
  ComTerminal1->PutText("\r\n");
  ComTerminal1->PutText(output);
  if (!SendTypedKeys(output)) return;
  kvel::Wait(100);
}

void TForm1::RepSetupClick() {
  auto dialog = std::make_unique<TForm2>(this);
  dialog->Edit1->setText(QString::number(RepeatDelay));
  if (dialog->exec() != QDialog::Accepted) return;
  RepeatDelay = RepeatDelayFromText(kvel::FromQt(dialog->Edit1->text()));
}
