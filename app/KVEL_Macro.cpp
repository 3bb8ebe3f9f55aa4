#include "KVEL_Macro.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <algorithm>

#include "KVELUnit1.h"
#include "KVEL_Var.h"
#include "serial/PortMap.h"
#include "terminal/CPortCtl.h"
#include "ui/Convert.h"
#include "ui/Dialogs.h"
#include "ui/Form.h"

namespace {

constexpr int kClientWidth = 420;
constexpr int kClientHeight = 333;
constexpr int kRowTop = 20;  // first macro row inside the group
constexpr int kRowStep = 14;
constexpr int kTextLeft = 52;
constexpr int kEditWidth = 341;

// Text labels by row, then the "Alt n" labels by row.
constexpr std::array<const char*, 10> kTextLabelNames{"Label3",  "Label5",  "Label9",  "Label7",
                                                      "Label16", "Label17", "Label13", "Label11",
                                                      "Label24", "Label25"};
constexpr std::array<const char*, 10> kAltLabelNames{"Label2",  "Label4",  "Label8",  "Label6",
                                                     "Label15", "Label14", "Label12", "Label10",
                                                     "Label23", "Label22"};
constexpr const char* kTagProperty = "tag";

}  // namespace

// ---- TMacroForm ----------------------------------------------------------------------------

TMacroForm::TMacroForm(TForm1* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), owner_(owner) {
  kvel::FixForm(this, "MacroForm", kClientWidth, kClientHeight);

  Label1 = kvel::AddLabel(this, "Label1", "Editor", QRect(8, 10, 48, 16));
  Edit1 = kvel::AddEdit(this, "Edit1", QRect(60, 8, 318, 21));
  KiesEditor = kvel::AddButton(this, "KiesEditor", "..", QRect(384, 8, 28, 21), "Choose editor");
  Label18 = kvel::AddLabel(this, "Label18", "LogFile ", QRect(8, 36, 48, 16));
  Edit3 = kvel::AddEdit(this, "Edit3", QRect(60, 34, 318, 21));
  KiesLogFile =
      kvel::AddButton(this, "KiesLogFile", "..", QRect(384, 34, 28, 21), "Select a log filename");

  COMSelect = kvel::AddRadioGroup(this, "COMSelect", " COM Port ", {"COM1", "COM2", "COM3", "COM4"},
                                  2, QRect(8, 60, 128, 72));
  BaudSelect = kvel::AddRadioGroup(this, "BaudSelect", " Baud Rate ",
                                   {"300", "1200", "2400", "9600", "19200", "38400"}, 2,
                                   QRect(144, 60, 132, 72), 3);
  EmuSelect = kvel::AddRadioGroup(this, "EmuSelect", " Emulation ",
                                  {"TTY", "ANSI", "VT52", "VT100"}, 2, QRect(284, 60, 128, 72), 0);

  GroupBox1 = kvel::AddGroup(this, "GroupBox1", " Keyboard macro's ",
                             QRect(8, 136, 404, kRowTop + 10 * kRowStep + 6));
  for (std::size_t n = 0; n < TextLabels.size(); ++n) {
    const int top = kRowTop + kRowStep * static_cast<int>(n);
    const std::string alt = "Alt " + std::to_string(n);
    AltLabels[n] = kvel::AddLabel(GroupBox1, kAltLabelNames[n], alt.c_str(), QRect(8, top, 40, 14));
    TextLabels[n] =
        kvel::AddLabel(GroupBox1, kTextLabelNames[n], "", QRect(kTextLeft, top, 341, 14));
    for (QLabel* label : {AltLabels[n], TextLabels[n]}) {
      label->setProperty(kTagProperty, static_cast<int>(n));
      label->installEventFilter(this);
    }
  }
  Edit2 = kvel::AddEdit(GroupBox1, "Edit2", QRect(kTextLeft, kRowTop, kEditWidth, 14));
  Edit2->setFrame(false);
  Edit2->raise();
  Edit2->installEventFilter(this);

  const int buttonTop = GroupBox1->geometry().bottom() + 4;
  Button2 = kvel::AddButton(this, "Button2", "OK", QRect(kClientWidth / 2 - 84, buttonTop, 75, 25),
                            "Save changes and exit");
  Button3 = kvel::AddButton(this, "Button3", "Cancel",
                            QRect(kClientWidth / 2 + 9, buttonTop, 75, 25), "Cancel all changes");
  PortDevice = kvel::AddLabel(this, "PortDevice", "", QRect(150, 137, 262, 14));
  PortDevice->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  PortChoice = new QComboBox(COMSelect);
  PortChoice->setObjectName(QStringLiteral("PortChoice"));
  PortChoice->setGeometry(6, 53, COMSelect->width() - 12, 17);
  connect(PortChoice, &QComboBox::activated, this, &TMacroForm::PortChoicePicked);
  for (int i = 0; i < COMSelect->Count(); ++i) {
    connect(COMSelect->Item(i), &QRadioButton::toggled, this,
            [this, i](bool checked) { ComItemToggled(i, checked); });
  }
  connect(Button2, &QPushButton::clicked, this, [this] {
    Button2Click();
    accept();
  });
  connect(Button3, &QPushButton::clicked, this, &QDialog::reject);
  connect(KiesEditor, &QPushButton::clicked, this, &TMacroForm::KiesEditorClick);
  connect(KiesLogFile, &QPushButton::clicked, this, &TMacroForm::KiesLogFileClick);

  kvel::SetTabOrder({Edit1, KiesEditor, Edit3, KiesLogFile});
  FormCreate();
}

void TMacroForm::FormCreate() {
  Edit2->resize(Edit2->width(), 14);
  row_ = 0;
  for (std::size_t n = 0; n < TextLabels.size(); ++n)
    TextLabels[n]->setText(kvel::ToQt(MacroText[n]));
  Edit1->setText(kvel::ToQt(EditorPath));
  Edit2->setText(TextLabels[0]->text());
  Edit3->setText(kvel::ToQt(LogFileName));
  for (int i = 0; i < COMSelect->Count(); ++i) {
    const std::string name = "COM" + std::to_string(i + 1);
    const bool present = std::find(PortList.begin(), PortList.end(), name) != PortList.end();
    COMSelect->Item(i)->setEnabled(present);
    COMSelect->Item(i)->setToolTip(kvel::ToQt(kvel::PortDeviceHint(name)));
  }
  FillPortChoice();
  COMSelect->SetItemIndex(ComPortNumber >= 1 && ComPortNumber <= 4 ? ComPortNumber - 1 : -1);
  PortChoice->setCurrentIndex(PortChoice->findData(ComPortNumber));
  const auto baud = std::find(kMacroBaudRates.begin(), kMacroBaudRates.end(), BaudValue);
  if (baud != kMacroBaudRates.end())
    BaudSelect->SetItemIndex(static_cast<int>(baud - kMacroBaudRates.begin()));
  EmuSelect->SetItemIndex(std::clamp(EmulationIndex, -1, 3));
  ShowPortDevice();
}

void TMacroForm::FillPortChoice() {
  // The listed ports by number, and the stored one also when it is not listed now: the
  // choice shows it, and OK keeps it unless the user picks another.
  std::vector<int> numbers;
  for (const std::string& name : PortList) {
    if (const int n = kvel::ComNumber(name); n > 0) numbers.push_back(n);
  }
  if (ComPortNumber > 0) numbers.push_back(ComPortNumber);
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  PortChoice->clear();
  for (const int n : numbers) {
    const std::string name = "COM" + std::to_string(n);
    PortChoice->addItem(kvel::ToQt(kvel::PortItemText(name)), n);
    PortChoice->setItemData(PortChoice->count() - 1, kvel::ToQt(kvel::PortDeviceHint(name)),
                            Qt::ToolTipRole);
  }
  PortChoice->view()->setMinimumWidth(PortChoice->view()->sizeHintForColumn(0) + 24);
}

void TMacroForm::PortChoicePicked(int index) {
  const int n = index < 0 ? 0 : PortChoice->itemData(index).toInt();
  COMSelect->SetItemIndex(n >= 1 && n <= 4 ? n - 1 : -1);
  ShowPortDevice();
}

void TMacroForm::ComItemToggled(int item, bool checked) {
  if (checked) PortChoice->setCurrentIndex(PortChoice->findData(item + 1));
  ShowPortDevice();
}

int TMacroForm::ChosenPort() const {
  const int index = PortChoice->currentIndex();
  return index < 0 ? 0 : PortChoice->itemData(index).toInt();
}

void TMacroForm::ShowPortDevice() {
  const int n = ChosenPort();
  if (n <= 0) {
    PortDevice->clear();
    PortDevice->setToolTip({});
    return;
  }
  const std::string name = "COM" + std::to_string(n);
  PortDevice->setText(kvel::ToQt(kvel::PortItemText(name)));
  PortDevice->setToolTip(kvel::ToQt(kvel::PortDeviceHint(name)));
}

void TMacroForm::FormShow() {
  kvel::CentreOver(this, owner_, 0, kvel::Centred::ClientArea);
  setWindowTitle(kvel::ToQt((" Unit Setup -- " + UnitCaption).substr(0, 50)));
  Edit3->resize(Edit3->width(), 20);
  Edit1->resize(Edit1->width(), 20);
  // Which settings file OK writes: beside the program, or the user's own when that one
  // cannot be written.
  Button2->setToolTip(QStringLiteral("Save changes and exit\nSettings file: ") +
                      QString::fromLocal8Bit(IniPath.c_str()));
}

void TMacroForm::FormActivate() {
  Edit2->setFocus();
}

void TMacroForm::showEvent(QShowEvent* event) {
  FormShow();
  QDialog::showEvent(event);
  FormActivate();
}

void TMacroForm::EditToLabel() {
  // A pasted text could carry a line break; a macro never does.
  QString text = Edit2->text();
  text.remove(QLatin1Char('\r'));
  text.remove(QLatin1Char('\n'));
  TextLabels[static_cast<std::size_t>(row_)]->setText(text);
}

void TMacroForm::LabelToEdit() {
  Edit2->setText(TextLabels[static_cast<std::size_t>(row_)]->text());
}

void TMacroForm::PlaceEditor() {
  Edit2->move(Edit2->x(), kRowStep * row_ + kRowTop);
  // The one editor moves from row to row: it is named after the row it edits.
  Edit2->setAccessibleName(AltLabels[static_cast<std::size_t>(row_)]->text());
}

void TMacroForm::Label5Click(const QLabel* sender) {
  EditToLabel();
  Edit2->resize(Edit2->width(), 15);
  row_ = std::clamp(sender->property(kTagProperty).toInt(), 0, 9);
  PlaceEditor();
  LabelToEdit();
}

bool TMacroForm::Edit2KeyDown(int key) {
  if (key == Qt::Key_Return || key == Qt::Key_Enter) key = Qt::Key_Down;
  if (key != Qt::Key_Down && key != Qt::Key_Up) return false;
  EditToLabel();
  row_ = key == Qt::Key_Down ? std::min(row_ + 1, 9) : std::max(row_ - 1, 0);
  LabelToEdit();
  PlaceEditor();
  return true;
}

bool TMacroForm::Edit2KeyPress(QChar key) {
  return key == QLatin1Char('\r') || key == QLatin1Char('\n');
}

void TMacroForm::KiesEditorClick() {
  kvel::FileDialogRequest request;
  request.filter = "Text Editor (*.EXE)|*.EXE";
  request.defaultExt = "EXE";
  if (const auto chosen = kvel::RunFileDialog(this, request)) Edit1->setText(kvel::ToQt(*chosen));
}

void TMacroForm::KiesLogFileClick() {
  kvel::FileDialogRequest request;
  // A log file need not exist: the chooser takes a new name as well as an existing file.
  request.save = true;
  request.filter = "terminal log files (*.LOG)|*.LOG";
  request.defaultExt = "LOG";
  if (const auto chosen = kvel::RunFileDialog(this, request)) Edit3->setText(kvel::ToQt(*chosen));
}

void TMacroForm::Button2Click() {
  EditToLabel();
  for (std::size_t n = 0; n < TextLabels.size(); ++n)
    MacroText[n] = kvel::FromQt(TextLabels[n]->text());
  EditorPath = kvel::FromQt(Edit1->text());
  LogFileName = LogFileNameWithExtension(kvel::FromQt(Edit3->text()));
  if (owner_ != nullptr) owner_->SpeedButton3->setToolTip(kvel::ToQt("Log file = " + LogFileName));
  ComPortNumber = ChosenPort();
  if (const int baud = BaudSelect->ItemIndex(); baud >= 0)
    BaudValue = kMacroBaudRates[static_cast<std::size_t>(baud)];
  EmulationIndex = EmuSelect->ItemIndex();
  ReportLogFileProblem();
  if (owner_ == nullptr) return;
  owner_->ApplyEmulationIndex();
}

void TMacroForm::ReportLogFileProblem() {
  const std::string problem = LogFileProblem(LogFileName);
  if (problem.empty()) return;
  // The name is kept as typed (its folder may be made later); the log cannot go on with it.
  std::string consequence =
      "The name is kept; the log can be switched on once the file can be written.";
  if (owner_ != nullptr && owner_->LogOn) {
    owner_->SetLogOff();
    consequence = "The name is kept and the log is switched off.";
  }
  kvel::ShowMessageBox(
      this,
      "Cannot write the terminal log file '" + LogFileName + "': " + problem + "\n" + consequence,
      "KVEL", kvel::MsgIcon::Warning);
}

bool TMacroForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Edit2 && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (Edit2KeyDown(key->key())) return true;
    if (key->text().size() == 1 && Edit2KeyPress(key->text().front())) return true;
  } else if (event->type() == QEvent::MouseButtonPress) {
    if (const auto* label = qobject_cast<QLabel*>(watched);
        label != nullptr && label->property(kTagProperty).isValid()) {
      Label5Click(label);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

std::string LogFileNameWithExtension(const std::string& name) {
  const std::size_t slash = name.find_last_of('/');
  const std::size_t dot = name.find_last_of('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return hasExtension ? name : name + ".LOG";
}
