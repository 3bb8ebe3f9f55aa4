// The main window's status texts around the commands: how a transfer ended, whether
// auto-repeat runs, and the program files sent from the recent list or dropped on the window.
#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QStyle>
#include <QTimer>
#include <memory>

#include "KVELIndexerHost.h"
#include "KVELProgramFiles.h"
#include "KVELUnit1.h"
#include "KVEL_Var.h"
#include "indexer/PCtoIDX.h"
#include "ui/Convert.h"
#include "ui/ErrorDisplay.h"
#include "ui/StatusPanel.h"

namespace {

// The longest command shown in the auto-repeat text; the panel's hint has it whole.
constexpr std::size_t kShownCommand = 24;

}  // namespace

void TForm1::CreateRecentProgramsMenu() {
  RecentPrograms1 = new QMenu(QStringLiteral("Recent Programs"), Commands1);
  RecentPrograms1->setObjectName(QStringLiteral("RecentPrograms1"));
  // Right below "Send Program".
  const QList<QAction*> items = Commands1->actions();
  const qsizetype at = items.indexOf(KVEL1);
  QAction* before = at >= 0 && at + 1 < items.size() ? items[at + 1] : nullptr;
  Commands1->insertMenu(before, RecentPrograms1);
  programFiles_ = new KVELProgramFiles(this, RecentPrograms1,
                                       [this](const std::string& path) { SendProgramFile(path); });
  setAcceptDrops(true);
}

void TForm1::SendProgramFile(const std::string& path) {
  SendProgramDialog(Indexer(), path);
}

void TForm1::ShowStatusResult(const std::string& text, const std::string& detail) {
  auto* panel = qobject_cast<kvel::StatusPanel*>(Panels[2]);
  const QString shown = kvel::ToQt(" " + text);
  if (panel != nullptr) {
    panel->SetText(shown, kvel::ToQt(detail));
  } else {
    Panels[2]->setText(shown);
  }
}

void TForm1::ConnectStatusTexts() {
  // The auto-repeat text names the entry it sends: a new choice shows at once.
  connect(ComboBox1, &QComboBox::currentIndexChanged, this, [this] {
    if (repeatShown_) ShowAutoRepeatState();
  });
  // An identification text longer than the list is wide is whole in its hint, and the
  // drop-down is as wide as its longest entry.
  connect(ComboBox2, &QComboBox::currentTextChanged, this,
          [this](const QString& text) { ComboBox2->setToolTip(text); });
  connect(ComboBox2->model(), &QAbstractItemModel::rowsInserted, this, [this] {
    QAbstractItemView* view = ComboBox2->view();
    view->setMinimumWidth(view->sizeHintForColumn(0) + 2 * view->frameWidth() +
                          view->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
  });
}

std::string TForm1::AutoRepeatText(bool shortened) const {
  if (!AutoRepeat) return {};
  if (!Timer1->isActive()) {
    // Started with a repeat time of 0 ms: it never ticks.
    if (Timer1->interval() != 0) return {};
    return " Auto repeat sends nothing: the repeat time is 0 ms (Setup / Repeat Setup)";
  }
  std::string command = SelectedEntry();
  if (command.empty()) {
    command = "an empty line";
  } else if (shortened && command.size() > kShownCommand) {
    command = command.substr(0, kShownCommand - 3) + "...";
  }
  // What stops it: a key typed in the terminal area, for the unit types whose keys are sent,
  // and the scan for indexers for every type.
  const std::string stop = UnitType >= 4 && UnitType <= 7 ? "a key typed in the terminal stops it"
                                                          : "Scan for indexer (Alt+S) stops it";
  return " Auto repeat: " + command + " every " + std::to_string(Timer1->interval()) + " ms; " +
         stop;
}

void TForm1::ShowAutoRepeatState() {
  QLabel* panel = Panels[2];
  const std::string text = AutoRepeatText();
  if (!text.empty()) {
    // What the panel showed before (or was given since) comes back when auto-repeat stops.
    if (!repeatShown_ || panel->text() != repeatText_) panelBeforeRepeat_ = panel->text();
    repeatShown_ = true;
    repeatText_ = kvel::ToQt(text);
    if (auto* status = qobject_cast<kvel::StatusPanel*>(panel)) {
      status->SetText(repeatText_, kvel::ToQt(AutoRepeatText(false)));
    } else {
      panel->setText(repeatText_);
    }
    return;
  }
  if (!repeatShown_) return;
  repeatShown_ = false;
  if (panel->text() == repeatText_) panel->setText(panelBeforeRepeat_);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (KVELProgramFiles::Examine(event->mimeData())) event->acceptProposedAction();
}

void TForm1::dragMoveEvent(QDragMoveEvent* event) {
  if (KVELProgramFiles::Examine(event->mimeData())) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  if (!KVELProgramFiles::Examine(event->mimeData())) return;
  event->acceptProposedAction();
  // The drag's source waits for the drop to return: the dialog opens once it has.
  auto* held = new QMimeData;
  held->setUrls(event->mimeData()->urls());
  QTimer::singleShot(0, this, [this, held] {
    const std::unique_ptr<QMimeData> owned(held);
    kvel::Guarded([this, &owned] { programFiles_->Drop(owned.get()); });
  });
}
