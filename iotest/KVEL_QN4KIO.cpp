#include "KVEL_QN4KIO.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <exception>

#include "DopjeNew.h"
#include "KVEL_Text.h"
#include "WindowSupport.h"
#include "serial/CPort.h"
#include "ui/Clock.h"
#include "ui/ErrorDisplay.h"
#include "ui/HelpViewer.h"

namespace {

constexpr int kHelpContext = 150;
constexpr int kStopped = 10;
constexpr int kMaxAttempts = 6;
// The first three letters of the brand word, which every unit of the brand names in its
// identification.
constexpr const char* kBrandLetters = "VOR";
constexpr int kColumn = 26;

QLabel* AddNumber(QWidget* parent, int number, int centreX, int y) {
  QLabel* label =
      AddLabel(parent, nullptr, std::to_string(number).c_str(), QRect(centreX - 12, y, 24, 14));
  label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  return label;
}

TDopjeNew* AddLamp(QWidget* parent, const std::string& name, int centreX, int y) {
  auto* lamp = new TDopjeNew(parent);
  lamp->setObjectName(QString::fromStdString(name));
  lamp->move(centreX - lamp->width() / 2, y);
  return lamp;
}

}  // namespace

TQN4K_IO_Form::TQN4K_IO_Form(IoTestHost& host, QWidget* parent)
    : IoTestDialog(parent), host_(host) {
  setWindowTitle(QStringLiteral(" QN4100I I/O Test"));
  kvel::FixForm(this, "QN4K_IO_Form", 488, 214);
  CreateControls();
}

void TQN4K_IO_Form::CreateControls() {
  for (std::size_t i = 0; i < TopLamps.size(); ++i) {
    TopLamps[i] =
        AddLamp(this, "DopjeNew" + std::to_string(9 + i), 20 + kColumn * static_cast<int>(i), 8);
  }

  OptoBox = AddGroup(this, "GroupBox1", " Opto I/O ", QRect(8, 30, 228, 140));
  for (int i = 0; i < 8; ++i) {
    const int x = 20 + kColumn * i;
    OPTO_IN[static_cast<std::size_t>(i)] =
        AddLamp(OptoBox, "OPTO_IN" + std::to_string(i + 1), x, 20);
    AddNumber(OptoBox, i + 1, x, 37);
    OPTO_IN[static_cast<std::size_t>(i + 8)] =
        AddLamp(OptoBox, "OPTO_IN" + std::to_string(i + 9), x, 56);
    AddNumber(OptoBox, i + 9, x, 73);
    OUT[static_cast<std::size_t>(i)] = AddCheckBox(OptoBox, ("OUT" + std::to_string(i + 1)).c_str(),
                                                   nullptr, QRect(x - 7, 94, 16, 16));
    AddNumber(OptoBox, i + 1, x, 112);
  }

  BcdBox = AddGroup(this, "GroupBox2", " BCD I/O ", QRect(244, 30, 236, 76));
  for (int i = 0; i < 8; ++i) {
    const int x = 24 + kColumn * i;
    BCD_IN[static_cast<std::size_t>(i)] = AddLamp(BcdBox, "BCD_IN" + std::to_string(i + 1), x, 20);
    OUT[static_cast<std::size_t>(i + 8)] = AddCheckBox(
        BcdBox, ("OUT" + std::to_string(i + 9)).c_str(), nullptr, QRect(x - 7, 46, 16, 16));
  }

  StatusBox = AddGroup(this, "GroupBox3", " Status ", QRect(244, 112, 236, 58));
  Label5 = AddLabel(StatusBox, "Label5", nullptr, QRect(12, 24, 212, 18));

  Button1 = AddButton(this, "Button1", "Close", QRect(8, 180, 75, 25));
  Button2 = AddButton(this, "Button2", "Info", QRect(90, 180, 75, 25));
  Button3 = AddButton(this, "Button3", nullptr, QRect());
  Button3->hide();
  OnClick(Button1, this, [this] { Button1Click(); });
  OnClick(Button2, this, [this] { Button2Click(); });
  OnClick(Button3, this, [this] { Button3Click(); });
}

void TQN4K_IO_Form::FormShow() {
  running_ = true;
  CentreOver(this, host_.MainWindow(), 0);
  for (TDopjeNew* lamp : findChildren<TDopjeNew*>()) {
    lamp->SetPinShape(TPinShape::Circle);
    lamp->SetBackColor(kInputOff);
  }
}

void TQN4K_IO_Form::ShownAnew() {
  finished_ = false;
}

bool TQN4K_IO_Form::event(QEvent* event) {
  const bool handled = QDialog::event(event);
  if (event->type() == QEvent::WindowActivate) kvel::Guarded([this] { FormActivate(); });
  return handled;
}

void TQN4K_IO_Form::FormActivate() {
  // Each activation would otherwise start one more start-up and polling loop inside the
  // running one, and switching between windows would pile them up without end. After a port
  // error a new start-up would only meet the same error again.
  if (activeStartUp_ || closed_ || failed_) return;
  ending_.Begin();
  std::exception_ptr error;
  {
    activeStartUp_ = true;
    struct Done {
      bool& flag;
      ~Done() { flag = false; }
    } done{activeStartUp_};
    try {
      Pump();
      kvel::Wait(500);
      Pump();
      // Closed meanwhile: a check or a loop started now would run on a window that is gone,
      // and the caller of the window would wait for it for ever.
      if (!closed_) StartUp();
    } catch (...) {
      // The test has stopped; the window says so and lets the user leave. The error is
      // shown once, by the caller.
      running_ = false;
      probing_ = false;
      failed_ = true;
      Label5->setText(QStringLiteral("Communcation error"));
      error = std::current_exception();
    }
  }
  if (leaveWanted_) Button1Click();
  if (error) std::rethrow_exception(error);
}

void TQN4K_IO_Form::StartUp() {
  Label5->setText(QStringLiteral("Initializing..."));
  const int attempts = UnitCheck();
  // A unit whose brand letters come at the fifth attempt has answered as well as one that
  // answers at the first.
  if (attempts < kMaxAttempts && !closed_) Button3Click();
  if (attempts == kStopped) Label5->setText(QStringLiteral("Aborted"));
  if (attempts == kMaxAttempts) Label5->setText(QStringLiteral("Communcation error"));
  if (!running_) Button1Click();
}

void TQN4K_IO_Form::Pump() {
  kvel::ProcessMessages();
  if (ending_.Ending()) Leave();
}

int TQN4K_IO_Form::UnitCheck() {
  if (closed_) return kStopped;
  TCustomComPort& port = host_.Port();
  probing_ = true;
  int attempts = 0;
  do {
    port.PurgeBuffers(true, true);
    port.SendText("H23\r");
    kvel::Wait(100);
    ++attempts;
    Label5->setText(Label5->text() + QStringLiteral("."));
    Pump();
    std::string reply;
    port.ReceiveText(reply, 20);
    if (!probing_) attempts = kStopped;
    if (reply.find(kBrandLetters) != std::string::npos) probing_ = false;
  } while (probing_ && attempts < kMaxAttempts);
  return attempts;
}

void TQN4K_IO_Form::ShowCheckResult(int attempts) {
  if (attempts < kMaxAttempts) Label5->setText(QStringLiteral("Running"));
  if (attempts == kStopped) Label5->setText(QStringLiteral("Aborted"));
  if (attempts == kMaxAttempts) Label5->setText(QStringLiteral("Communcation error"));
}

void TQN4K_IO_Form::Button3Click() {
  if (closed_) return;
  TCustomComPort& port = host_.Port();
  running_ = true;
  Label5->setText(QStringLiteral("Running"));
  while (running_) {
    std::string bits;
    for (int k = 8; k >= 1; --k)
      bits += OUT[static_cast<std::size_t>(k - 1)]->isChecked() ? '1' : '0';
    port.SendText("N000 G47 X" + bits + " H01\n\r");
    kvel::Wait(100);
    std::string discarded;
    port.ReceiveText(discarded, 20);

    Pump();
    if (!running_) break;
    port.PurgeBuffers(true, true);
    port.SendText("H21 \n\r");
    kvel::Wait(100);
    Pump();
    if (!running_) break;

    std::string reply;
    port.ReceiveText(reply, 20);
    std::string r;
    for (const char c : FilterPrintable(reply)) {
      if (c != ' ') r += c;
    }
    if (const std::size_t eq = r.find('='); eq != std::string::npos) r.erase(eq, 1);
    if (r.size() < 16) r.insert(0, 16 - r.size(), '0');

    Pump();
    if (!running_) break;
    kvel::Wait(50);
    // Character 16 is input 1, character 1 is input 16.
    for (std::size_t k = 1; k <= 16; ++k) {
      OPTO_IN[k - 1]->SetBackColor(r[16 - k] == '1' ? kInputOn : kInputOff);
    }
    ShowCheckResult(UnitCheck());
  }
}

void TQN4K_IO_Form::Button1Click() {
  closed_ = true;
  running_ = false;
  probing_ = false;
  leaveWanted_ = false;
  inClose_ = true;
  kvel::Wait(300);
  kvel::ProcessMessages();
  kvel::Wait(200);
  inClose_ = false;
  closing_ = true;
  close();
  closing_ = false;
  finished_ = true;
}

void TQN4K_IO_Form::Leave() {
  // "Close" already runs and closes the window, or has closed it.
  if (inClose_ || finished_) return;
  if (activeStartUp_) {
    closed_ = true;
    running_ = false;
    probing_ = false;
    leaveWanted_ = true;
    return;
  }
  Button1Click();
}

void TQN4K_IO_Form::Button2Click() {
  kvel::HelpViewer::Instance().ShowContext(this, kHelpContext);
}

void TQN4K_IO_Form::closeEvent(QCloseEvent* event) {
  // Every way of closing goes through "Close", which also ends the loops beneath; a window
  // hidden while they run would keep its caller waiting for ever.
  if (!closing_) {
    event->ignore();
    kvel::Guarded([this] { Leave(); });
    return;
  }
  QDialog::closeEvent(event);
}
