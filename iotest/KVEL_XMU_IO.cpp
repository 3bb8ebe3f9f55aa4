#include "KVEL_XMU_IO.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <utility>

#include "ErrorReportEngine.h"
#include "KVEL_Text.h"
#include "KVEL_Var.h"
#include "WindowSupport.h"
#include "serial/CPort.h"
#include "ui/Clock.h"
#include "ui/ErrorDisplay.h"
#include "ui/HelpViewer.h"

namespace {

constexpr int kHelpContext = 5100;
constexpr int kNoResult = 999;
constexpr const char* kTagProperty = "tag";
const QString kStartCaption = QStringLiteral("Click on \"Start\"");

}  // namespace

std::string AutoTestResultText(int code) {
  static constexpr const char* kTexts[] = {
      " = I/O port is good.",    " = Strobe 0 error",    " = Strobe 1 error",
      " = Strobe 2 error",       " = Strobe 3 error",    " = Strobe 4 error",
      " = Strobe 5 error",       " = Strobe 6 error",    " = Strobe 7 error",
      " = Output 1 error",       " = Output 2 error",    " = CW/CCW dir error",
      " = A.W.O. error",         " = Motion Busy error", " = Input failure",
      " = Initialization error", " = EEPROM error",
  };
  if (code < 0 || code >= static_cast<int>(std::size(kTexts))) return " = Communication error";
  return kTexts[code];
}

TXMU_IO_Form::TXMU_IO_Form(IoTestHost& host, QWidget* parent) : IoTestDialog(parent), host_(host) {
  setWindowTitle(QStringLiteral(" (X)MU   I/O Test "));
  kvel::FixForm(this, "XMU_IO_Form", 400, 266);
  CreateControls();
  FormCreate();
}

void TXMU_IO_Form::CreateControls() {
  OutputsBox = AddGroup(this, "GroupBox1", " (X)MU Outputs ", QRect(8, 8, 120, 218));
  const std::pair<const char*, const char*> outputs[] = {
      {"CheckBox1", "Output 1"}, {"CheckBox2", "Output 2"}, {"CheckBox3", "DIR"},
      {"CheckBox4", "Busy"},     {"CheckBox5", "AWO"},      {"CheckBox6", "Boost"},
      {"CheckBox7", "Reduce"}};
  std::array<QCheckBox**, 7> outputBoxes{&CheckBox1, &CheckBox2, &CheckBox3, &CheckBox4,
                                         &CheckBox5, &CheckBox6, &CheckBox7};
  for (std::size_t i = 0; i < outputBoxes.size(); ++i) {
    QCheckBox* box = AddCheckBox(OutputsBox, outputs[i].first, outputs[i].second,
                                 QRect(12, 22 + 22 * static_cast<int>(i), 100, 20));
    box->setProperty(kTagProperty, 97 - static_cast<int>(i));
    connect(box, &QCheckBox::toggled, this,
            [this, box] { kvel::Guarded([this, box] { CheckBox1Click(box); }); });
    *outputBoxes[i] = box;
  }
  AllOutOFF = AddButton(OutputsBox, "AllOutOFF", "OFF", QRect(12, 184, 96, 25));
  OnClick(AllOutOFF, this, [this] { AllOutOFFClick(); });

  StrobeBox = AddGroup(this, "StrobeBox", " Strobe test ", QRect(136, 8, 256, 76));
  for (int tag = 0; tag < 8; ++tag) {
    const std::string name = "RadioButton" + std::to_string(tag + 1);
    auto* radio = new QRadioButton(QString::number(tag), StrobeBox);
    radio->setObjectName(QString::fromStdString(name));
    radio->setProperty(kTagProperty, tag);
    // "0" on the right, "7" on the left.
    radio->setGeometry(12 + (7 - tag) * 29, 20, 29, 20);
    connect(radio, &QRadioButton::clicked, this,
            [this, radio] { kvel::Guarded([this, radio] { RadioGroup1Click(radio); }); });
    RadioButtons[static_cast<std::size_t>(tag)] = radio;
  }
  StrobesON = AddButton(StrobeBox, "StrobesON", "ON", QRect(12, 44, 64, 25));
  OnClick(StrobesON, this, [this] { StobesONClick(); });

  InputsBox = AddGroup(this, "GroupBox3", " Inputs ", QRect(136, 90, 256, 76));
  InputPanel = kvel::AddPanel(InputsBox, "Panel1", QRect(8, 18, 244, 22));
  InputPanel->setEnabled(false);
  std::array<QCheckBox**, 4> inputBoxes{&CheckBox8, &CheckBox9, &CheckBox10, &CheckBox11};
  for (std::size_t i = 0; i < inputBoxes.size(); ++i) {
    const std::string name = "CheckBox" + std::to_string(8 + i);
    const std::string caption = "Input " + std::to_string(1 + i);
    *inputBoxes[i] = AddCheckBox(InputPanel, name.c_str(), caption.c_str(),
                                 QRect(4 + 60 * static_cast<int>(i), 1, 60, 20));
  }
  ReadInput = AddButton(InputsBox, "ReadInput", "Read", QRect(12, 44, 64, 25));
  OnClick(ReadInput, this, [this] { ReadInputClick(); });

  AutoTestBox = AddGroup(this, "GroupBox4", " Automatic I/OTest ", QRect(136, 172, 256, 86));
  Label1 = AddLabel(AutoTestBox, "Label1", nullptr, QRect(12, 20, 236, 16));
  Label1->setText(kStartCaption);
  Label2 = AddLabel(AutoTestBox, "Label2", nullptr, QRect(12, 38, 236, 16));
  Button3 = AddButton(AutoTestBox, "Button3", "Start", QRect(12, 56, 75, 25));
  connect(Button3, &QPushButton::clicked, this, [this] {
    kvel::Guarded([this] { Button3Click(); });
    CloseIfWanted();
  });

  Button1 = AddButton(this, "Button1", "Exit", QRect(8, 233, 56, 25));
  Button2 = AddButton(this, "Button2", "Info", QRect(72, 233, 56, 25));
  connect(Button1, &QPushButton::clicked, this, [this] {
    exitFailed_ = false;
    kvel::Guarded([this] {
      try {
        Button1Click();
      } catch (...) {
        exitFailed_ = true;
        throw;
      }
    });
    close();
    exitFailed_ = false;
  });
  OnClick(Button2, this, [this] { Button2Click(); });
}

void TXMU_IO_Form::Send(const std::string& text) {
  host_.Port().SendText(text);
}

void TXMU_IO_Form::FormCreate() {
  updating_ = false;
  step_ = 0;
}

void TXMU_IO_Form::FormShow() {
  CentreOver(this, host_.MainWindow(), 20);
}

void TXMU_IO_Form::ShownAnew() {
  closed_ = false;
}

void TXMU_IO_Form::CheckBox1Click(QCheckBox* box) {
  if (updating_) return;
  const int tag = box->property(kTagProperty).toInt();
  Send("Z" + std::to_string(tag) + (box->isChecked() ? " 1" : " 0") + "\n\r");
  kvel::Wait(300);
}

void TXMU_IO_Form::AllOutOFFClick() {
  updating_ = true;
  // Whatever a send raises, the boxes must not stay deaf to the operator.
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{updating_};
  for (QCheckBox* box :
       {CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5, CheckBox6, CheckBox7}) {
    box->setChecked(false);
  }
  for (int output = 91; output <= 97; ++output) {
    Send("Z" + std::to_string(output) + " 0\r");
    kvel::Wait(10);
  }
}

void TXMU_IO_Form::RadioGroup1Click(QRadioButton* button) {
  const int tag = button->property(kTagProperty).toInt();
  Send("Z90 0\n\r");
  kvel::Wait(100);
  Send("Z90 " + std::to_string(tag + 1) + "\n\r");
  kvel::Wait(100);
}

void TXMU_IO_Form::StobesONClick() {
  // Exclusive radio buttons refuse to be all unchecked; the group is released meanwhile.
  for (QRadioButton* radio : RadioButtons) {
    radio->setAutoExclusive(false);
    radio->setChecked(false);
    radio->setAutoExclusive(true);
  }
  Send("Z90 9\n\r");
  kvel::Wait(300);
}

void TXMU_IO_Form::ReadInputClick() {
  TCustomComPort& port = host_.Port();
  port.PurgeBuffers(true, true);
  Send("H21 \n\r");
  kvel::Wait(100);
  std::string reply;
  port.ReceiveText(reply, 20);
  std::string r = FilterPrintable(reply);
  if (const std::size_t eq = r.find('='); eq != std::string::npos) r.erase(eq, 1);
  if (r.size() < 8) r.insert(0, 8 - r.size(), '0');
  // The inputs are the lowest four bits of an eight-character bit string, input 1 rightmost.
  CheckBox8->setChecked(r[7] == '1');
  CheckBox9->setChecked(r[6] == '1');
  CheckBox10->setChecked(r[5] == '1');
  CheckBox11->setChecked(r[4] == '1');
}

void TXMU_IO_Form::Button3Click() {
  ending_.Begin();
  const NestingCount nesting(steps_);
  try {
    AutoTestStep();
  } catch (...) {
    // A port error ends the test: the button must not stay disabled.
    ShowAutoTestStopped();
    throw;
  }
}

void TXMU_IO_Form::AutoTestStep() {
  ++step_;
  switch (step_) {
    case 1:
      Button3->setEnabled(false);
      Button3->setText(QStringLiteral(" Next"));
      Send("Z90 0 \r");
      if (!Pump()) return;
      kvel::Wait(500);
      Label1->setText(QStringLiteral("Switch to \"Z79\" position"));
      Button3->setEnabled(true);
      break;
    case 2:
      Button3->setEnabled(false);
      Send("Z79 \r");
      kvel::Wait(600);
      Label1->setText(QStringLiteral("Switch to \"OFF\" position"));
      Button3->setEnabled(true);
      break;
    case 3: {
      Label1->setText(QStringLiteral("Read the test result "));
      Button3->setEnabled(false);
      Label2->clear();
      TCustomComPort& port = host_.Port();
      RxCount = port.PendingInput();
      std::string reply;
      port.ReceiveText(reply, RxCount);
      std::string digits;
      for (const char c : reply) {
        if (c >= '0' && c <= '9') digits += c;
      }
      Label2->setText(ToQt(digits));
      resultCode_ = kvel::StrToIntDef(digits, kNoResult);
      if (!Pump()) return;
      kvel::Wait(1000);
      Label2->setText(ToQt(digits + AutoTestResultText(resultCode_)));
      Button3->setEnabled(true);
      Button3->setText(QStringLiteral("Finish"));
      break;
    }
    default:
      Button3->setEnabled(false);
      Send("Z90 9 \r");
      if (!Pump()) return;
      kvel::Wait(600);
      if (!Pump()) return;
      ShowAutoTestStopped();
      break;
  }
}

bool TXMU_IO_Form::Pump() {
  kvel::ProcessMessages();
  if (ending_.Ending()) closeWanted_ = true;
  return !closeWanted_;
}

void TXMU_IO_Form::ShowAutoTestStopped() {
  step_ = 0;
  Button3->setEnabled(true);
  Button3->setText(QStringLiteral(" Start"));
  Label1->setText(kStartCaption);
  Label2->clear();
}

void TXMU_IO_Form::CloseIfWanted() {
  if (closeWanted_ && steps_ == 0) close();
}

void TXMU_IO_Form::Button1Click() {
  StobesONClick();
  Send("Z90 9 \r");
  kvel::Wait(200);
  host_.Port().PurgeBuffers(true, true);
}

void TXMU_IO_Form::FormCloseQuery() {
  Button1Click();
}

void TXMU_IO_Form::Button2Click() {
  kvel::HelpViewer::Instance().ShowContext(this, kHelpContext);
}

void TXMU_IO_Form::CloseForHost() {
  close();
}

void TXMU_IO_Form::Leave() {
  // Closed already: the exit sequence has gone out.
  if (closed_) return;
  if (steps_ > 0) {
    closeWanted_ = true;
    return;
  }
  close();
}

void TXMU_IO_Form::closeEvent(QCloseEvent* event) {
  // A step of the automatic test runs beneath: it ends at its next check, and the window
  // closes then, not under its feet.
  if (steps_ > 0) {
    closeWanted_ = true;
    event->ignore();
    return;
  }
  // Closed already (the main window asks again as it closes): the exit sequence has gone
  // out.
  if (closed_) {
    event->accept();
    return;
  }
  closeWanted_ = false;
  // The close is always allowed, also when the exit sequence fails on a broken line. When
  // "Exit" has just failed to send it, it would only fail again: its error is shown once.
  if (!exitFailed_) kvel::Guarded([this] { FormCloseQuery(); });
  // The dialog's own close handler rejects the dialog, which ends it without a second exit.
  closing_ = true;
  QDialog::closeEvent(event);
  closing_ = false;
  closed_ = event->isAccepted();
}

void TXMU_IO_Form::keyPressEvent(QKeyEvent* event) {
  // Esc is the "Exit" button's key.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    Button1->click();
    return;
  }
  QDialog::keyPressEvent(event);
}

void GetXmuError(IoTestHost& host) {
  RunXmuErrorReport(
      host.Port(), UnitType, [&host] { return host.QueryUnitId(); },
      [&host](const std::string& text) { host.DisplayText(text); });
}
