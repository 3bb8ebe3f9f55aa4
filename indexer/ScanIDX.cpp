#include "ScanIDX.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "KVEL_Var.h"
#include "ui/Form.h"

TScanForm* ScanForm = nullptr;

namespace {

constexpr int kWidth = 330;
constexpr int kHeight = 120;

QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

TScanForm::TScanForm(QWidget* mainWindow)
    : QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowStaysOnTopHint),
      mainWindow_(mainWindow) {
  setObjectName(QStringLiteral("ScanForm"));
  setAttribute(Qt::WA_DeleteOnClose, false);
  setWindowTitle(QStringLiteral(" Scanning for indexer...."));
  setFixedSize(kWidth, kHeight);
  if (mainWindow != nullptr) setFont(mainWindow->font());

  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setRange(1, 99);
  ProgressBar1->setValue(1);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setGeometry(40, 40, 250, 16);

  // Plain text: what the scan writes into them is shown as it is, never as markup.
  Label1 = kvel::AddLabel(this, "Label1", "1 ", QRect(16, 40, 22, 16));
  Label2 = kvel::AddLabel(this, "Label2", "Scanning :", QRect(16, 12, 300, 16));
  Label3 = kvel::AddLabel(this, "Label3", "99", QRect(296, 40, 30, 16));
  Label4 = kvel::AddLabel(this, "Label4", "                    ", QRect(16, 64, 300, 16));

  Button2 = new QPushButton(QStringLiteral("Cancel"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setGeometry(kWidth / 2 - 40, 88, 80, 25);
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });

  // Key preview: Esc stops the job whichever control has the focus.
  Button2->installEventFilter(this);
  installEventFilter(this);
}

TScanForm::~TScanForm() {
  if (ScanForm == this) ScanForm = nullptr;
}

void TScanForm::Button2Click() {
  RunFlag = 0;
}

void TScanForm::FormKeyDown(int key) {
  if (key == 27) RunFlag = 0;
}

void TScanForm::FormShow() {
  if (mainWindow_ == nullptr) return;
  const QRect frame = mainWindow_->frameGeometry();
  move(frame.x() + (frame.width() - width()) / 2, frame.y() + (frame.height() - height()) / 2);
}

void TScanForm::SetPosition(int position) {
  ProgressBar1->setValue(std::clamp(position, ProgressBar1->minimum(), ProgressBar1->maximum()));
}

void TScanForm::SetLabel(QLabel* label, const std::string& text) {
  label->setText(Latin1(text));
}

void TScanForm::SetCaption(const std::string& caption) {
  setWindowTitle(Latin1(caption));
}

kvel::MsgResult TScanForm::ShowMessage(const std::string& text, const std::string& caption,
                                       kvel::MsgIcon icon) {
  const bool shown = isVisible();
  const auto setOnTop = [this, shown](bool on) {
    setWindowFlag(Qt::WindowStaysOnTopHint, on);
    if (shown) show();  // a change of the flags hides the window
  };
  setOnTop(false);
  struct Restore {
    decltype(setOnTop)& f;
    ~Restore() { f(true); }
  } restore{setOnTop};
  return kvel::ShowMessageBox(this, text, caption, icon);
}

void TScanForm::closeEvent(QCloseEvent* event) {
  RunFlag = 0;
  event->ignore();
}

void TScanForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  FormShow();
}

bool TScanForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape) {
      FormKeyDown(27);
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}
