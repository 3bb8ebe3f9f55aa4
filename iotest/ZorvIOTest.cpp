#include "ZorvIOTest.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>
#include <utility>
#include <vector>

#include "DopjeNew.h"
#include "Gauges.h"
#include "KVEL_Text.h"
#include "KVEL_Var.h"
#include "WindowSupport.h"
#include "serial/CPort.h"
#include "ui/Clock.h"
#include "ui/ErrorDisplay.h"
#include "ui/HelpViewer.h"

namespace {

constexpr int kMaxInputs = 19;
constexpr int kMaxOutputs = 8;
constexpr int kZorvOptoWidth = 172;
constexpr int kGrvOptoWidth = 212;

// Reply texts of the drive are numbers with "." as the decimal separator, whatever the
// PC's own number format: leading and trailing blanks, a sign, digits with an optional
// fraction and an optional exponent.
bool ParseDecimal(const std::string& text, double* value) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return false;
  const std::size_t last = text.find_last_not_of(' ');
  std::string number = text.substr(first, last - first + 1);
  bool negative = false;
  if (number[0] == '+' || number[0] == '-') {
    negative = number[0] == '-';
    number.erase(0, 1);
  }
  // from_chars also reads "inf" and "nan", which are no numbers of a drive.
  if (number.empty() || (number[0] != '.' && (number[0] < '0' || number[0] > '9'))) return false;
  double parsed = 0;
  const char* end = number.data() + number.size();
  const auto [ptr, ec] = std::from_chars(number.data(), end, parsed);
  if (ec != std::errc() || ptr != end) return false;
  *value = negative ? -parsed : parsed;
  return true;
}

// A whole decimal integer, optionally signed.
bool ParseInteger(const std::string& text, int* value) {
  if (text.empty()) return false;
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (*begin == '+') ++begin;
  const auto [ptr, ec] = std::from_chars(begin, end, *value);
  return ec == std::errc() && ptr == end && begin != end;
}

// `value` with exactly `decimals` decimals and "." as the separator, as the program's own
// texts have it whatever the PC's number format; `width` zero-pads the whole to that length
// (after the sign).
std::string Fixed(double value, int decimals, int width = 0) {
  char text[400];
  const auto [end, ec] =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  if (ec != std::errc()) return "0";
  std::string fixed(text, end);
  const std::size_t length = fixed.size();
  if (width > 0 && length < static_cast<std::size_t>(width)) {
    const std::size_t digits = fixed[0] == '-' ? 1 : 0;
    fixed.insert(digits, static_cast<std::size_t>(width) - length, '0');
  }
  return fixed;
}

// The horizontal centres of the numbers in a numbers label such as "1    2     3", in the
// label's parent's coordinates, so that lamps and boxes stand right above their numbers.
std::vector<int> NumberCentres(const QLabel* label) {
  const QFontMetrics metrics(label->font());
  const QString text = label->text();
  std::vector<int> centres;
  int start = -1;
  for (int i = 0; i <= text.size(); ++i) {
    const bool digit = i < text.size() && text[i].isDigit();
    if (digit && start < 0) start = i;
    if (!digit && start >= 0) {
      const int left = metrics.horizontalAdvance(text.left(start));
      const int right = metrics.horizontalAdvance(text.left(i));
      centres.push_back(label->x() + label->contentsMargins().left() + (left + right) / 2);
      start = -1;
    }
  }
  return centres;
}

void PlaceAbove(QWidget* widget, int centreX, int top) {
  widget->move(centreX - widget->width() / 2, top);
}

// Moves the first `count` of `controls` into `group`, each above its number in the two
// numbers labels taken together.
template <typename Control>
void PlaceOverNumbers(QGroupBox* group, const QLabel* first, const QLabel* second,
                      Control* const* controls, std::size_t count) {
  std::vector<int> centres = NumberCentres(first);
  const std::vector<int> more = NumberCentres(second);
  centres.insert(centres.end(), more.begin(), more.end());
  for (std::size_t i = 0; i < count && i < centres.size(); ++i) {
    controls[i]->setParent(group);
    PlaceAbove(controls[i], centres[i], 19);
    controls[i]->show();
  }
}

// Gives the numbers label `numbers` its text and stands the `count` controls from
// `controls` on above its numbers, where they already are in its group.
template <typename Control>
void Renumber(QLabel* numbers, const QString& text, Control* const* controls, std::size_t count) {
  numbers->setText(text);
  numbers->adjustSize();
  const std::vector<int> centres = NumberCentres(numbers);
  for (std::size_t i = 0; i < count && i < centres.size(); ++i) {
    PlaceAbove(controls[i], centres[i], 19);
  }
}

}  // namespace

TUpDown::TUpDown(QWidget* parent) : QWidget(parent) {
  UpButton = new QToolButton(this);
  UpButton->setArrowType(Qt::UpArrow);
  DownButton = new QToolButton(this);
  DownButton->setArrowType(Qt::DownArrow);
  connect(UpButton, &QToolButton::clicked, this, [this] { Click(+1); });
  connect(DownButton, &QToolButton::clicked, this, [this] { Click(-1); });
  resize(17, 34);
  UpButton->setGeometry(0, 0, 17, 17);
  DownButton->setGeometry(0, 17, 17, 17);
}

void TUpDown::SetPosition(int value) {
  position_ = std::clamp(value, min_, max_);
}

void TUpDown::SetRange(int min, int max) {
  min_ = min;
  max_ = max;
  SetPosition(position_);
}

void TUpDown::Click(int direction) {
  Q_EMIT OnChanging();
  SetPosition(position_ + direction * increment_);
}

std::string DriveErrorText(int number) {
  static const std::pair<int, const char*> kMessages[] = {
      {0, "There is no Error"},
      {1, "Could nort burn Flash succesfully"},
      {2, "Could not download file"},
      {3, "Not enough memory to execute user program"},
      {4, "Attempt to acces non-existing array element"},
      {5, "Real data too large to convert to integer data."},
      {6, "Attempt to set accel data <= 0"},
      {7, "Attempt to set decel data <= 0"},
      {8, "Attempt to acces non-existing output"},
      {9, "Attempt to acces non-existing input"},
      {10, "Attempt to divide by zero"},
      {11, "Received serial data will not fit in buffer"},
      {12, "Motion occuring when program ended"},
      {13, "Attempt to execute user program that is not present"},
      {14, "Incorrect user program checksum"},
      {15, "Attempt to set Kp out of range"},
      {16, "Attempt to set Kd out of range"},
      {17, "Attempt to set Ki out of range"},
      {18, "Attempt to set Kvff out of range"},
      {19, "Attempt to set FOLERR < 0"},
      {20, "Attempt to set INTLIM out of range"},
      {21, "Move distance too large"},
      {22, "Function not implemented"},
      {23, "INPUT command error occured"},
      {24, "NVR specified location out of range(1-400)"},
      {25, "NVR device not detected."},
      {128, "+ limit switch activated"},
      {129, "- limit switch activated"},
      {130, "+ software travel limit exceeded"},
      {131, "- software travel limit exceeded"},
      {132, "This code is reserved for future use"},
      {133, "Excessive position error"},
      {134, "Registration distance too small"},
      {135, "Attempt to move with drive not enable"},
      {136, "Attempt to move with drive not ready"},
      {137, "Gearing backlog overflow"},
      {138, "NVR data corrupt"},
  };
  for (const auto& [n, text] : kMessages) {
    if (n == number) return text;
  }
  return "---- Unknown Error ----";
}

TZorvIOForm::TZorvIOForm(IoTestHost& host, QWidget* parent) : IoTestDialog(parent), host_(host) {
  setWindowTitle(QStringLiteral(" Zorvdrive I/O test"));
  setProperty("helpContext", 100);
  kvel::FixForm(this, "ZorvIOForm", 472, 236);
  CreateControls();
  InputStates.assign(kMaxInputs, '0');
  OutputPending.assign(kMaxOutputs, '0');
}

void TZorvIOForm::CreateControls() {
  auto* modes = new QButtonGroup(this);
  modes->setExclusive(true);
  const std::pair<QToolButton**, const char*> modeButtons[] = {
      {&BtBCD, "BCD"}, {&BtBCDIO, "BCD I/O"}, {&BtAnalogIO, "Analog"}, {&BtEncoder, "Encoder"}};
  int x = 8;
  for (const auto& [member, caption] : modeButtons) {
    auto* button = new QToolButton(this);
    button->setText(ToQt(caption));
    button->setCheckable(true);
    button->setGeometry(x, 8, 68, 24);
    modes->addButton(button);
    *member = button;
    x += 72;
  }
  BtBCD->setObjectName(QStringLiteral("BtBCD"));
  BtBCDIO->setObjectName(QStringLiteral("BtBCDIO"));
  BtAnalogIO->setObjectName(QStringLiteral("BtAnalogIO"));
  BtEncoder->setObjectName(QStringLiteral("BtEncoder"));
  BtBCD->setChecked(true);
  SpeedButton3 = new QToolButton(this);
  SpeedButton3->setObjectName(QStringLiteral("SpeedButton3"));
  SpeedButton3->setText(QStringLiteral("Help"));
  SpeedButton3->setGeometry(396, 8, 68, 24);
  OnClick(BtBCD, this, [this] { BtBCDClick(); });
  OnClick(BtBCDIO, this, [this] { BtBCDIOClick(); });
  OnClick(BtAnalogIO, this, [this] { BtAnalogIOClick(); });
  OnClick(BtEncoder, this, [this] { BtEncoderClick(); });
  OnClick(SpeedButton3, this, [this] { SpeedButton3Click(); });

  for (std::size_t i = 0; i < IN.size(); ++i) {
    IN[i] = new TDopjeNew(this);
    IN[i]->setObjectName(QString::fromStdString("IN" + std::to_string(i + 1)));
  }
  for (std::size_t i = 0; i < OUT.size(); ++i) {
    OUT[i] = new QCheckBox(this);
    OUT[i]->setObjectName(QString::fromStdString("OUT" + std::to_string(i + 1)));
    OUT[i]->setProperty("tag", static_cast<int>(i) + 1);
    OUT[i]->resize(16, 16);
    const int k = static_cast<int>(i) + 1;
    connect(OUT[i], &QCheckBox::clicked, this,
            [this, k] { kvel::Guarded([this, k] { OutputClick(k); }); });
  }

  // Left column: opto inputs and outputs, drive enable, status and the two buttons.
  OptoIn = AddGroup(this, "OptoIn", " Opto In ", QRect(8, 40, kGrvOptoWidth, 58));
  OptoIn->setProperty("helpContext", 200);
  OptoInNumbers =
      AddLabel(OptoIn, nullptr, "1    2     3     4     5    6     7    8", QRect(10, 38, 160, 14));
  OptoInNumbers->adjustSize();
  const int after8 =
      OptoInNumbers->x() + QFontMetrics(OptoInNumbers->font())
                               .horizontalAdvance(OptoInNumbers->text() + QStringLiteral("    "));
  OptoInNumbers910 = AddLabel(OptoIn, nullptr, "9    10", QRect(after8, 38, 40, 14));
  OptoInNumbers910->adjustSize();
  PlaceOverNumbers(OptoIn, OptoInNumbers, OptoInNumbers910, IN.data(), 10);

  OptoOut = AddGroup(this, "OptoOut", " Opto Out ", QRect(8, 102, 100, 58));
  OptoOut->setProperty("helpContext", 200);
  OptoOutNumbers12 = AddLabel(OptoOut, nullptr, "1    2 ", QRect(10, 38, 40, 14));
  OptoOutNumbers12->adjustSize();
  OptoOutNumbers34 =
      AddLabel(OptoOut, nullptr, "3    4 ", QRect(10 + OptoOutNumbers12->width() + 8, 38, 40, 14));
  OptoOutNumbers34->adjustSize();
  PlaceOverNumbers(OptoOut, OptoOutNumbers12, OptoOutNumbers34, OUT.data(), 4);

  DrvReadyBox = AddGroup(this, "DrvReadyBox", " Drive Enable   ", QRect(116, 102, 104, 58));
  IN[18]->setParent(DrvReadyBox);
  IN[18]->move(44, 24);
  IN[18]->show();

  Label12 = AddLabel(this, "Label12", "Status", QRect(8, 172, 40, 20));
  RunLabel = AddLabel(this, "RunLabel", "  Stopped  ", QRect(52, 170, 100, 22));
  RunLabel->setFrameShape(QFrame::Panel);
  RunLabel->setFrameShadow(QFrame::Sunken);
  RunLabel->setEnabled(false);

  StopBtn = AddButton(this, "StopBtn", "Exit", QRect(8, 202, 75, 25));
  Button2 = AddButton(this, "Button2", "Start", QRect(90, 202, 75, 25));
  OnClick(StopBtn, this, [this] { StopBtnClick(); });
  OnClick(Button2, this, [this] { Button2Click(); });

  // Right column: the pages; the mode buttons choose which show.
  const QRect page(228, 40, 236, 76);
  BCDswitch = AddGroup(this, "BCDswitch", " BCD ", page);
  BCDswitch->setToolTip(QStringLiteral("Click to enable"));
  Label2 = AddLabel(BCDswitch, "Label2", " +0000000 ", QRect(12, 22, 212, 40));
  QFont bcdFont = Label2->font();
  bcdFont.setPointSize(20);
  bcdFont.setBold(true);
  Label2->setFont(bcdFont);

  BCDBox = AddGroup(this, "BCDBox", " BCD In", QRect(228, 40, 236, 58));
  BCDBox->setToolTip(QStringLiteral("Click to enable"));
  BCDInNumbers =
      AddLabel(BCDBox, nullptr, "11   12  13   14   15  16   17   18", QRect(10, 38, 200, 14));
  for (std::size_t i = 10; i < 18; ++i) {
    IN[i]->setParent(BCDBox);
    IN[i]->show();
  }
  BCDOut = AddGroup(this, "BCDOut", " BCD Out ", QRect(228, 102, 236, 58));
  BCDOut->setToolTip(QStringLiteral("Click to enable"));
  BCDOut->setProperty("helpContext", 400);
  BCDOut->setEnabled(false);
  BCDOutNumbers = AddLabel(BCDOut, nullptr, "3    4    5    6", QRect(10, 38, 200, 14));
  for (std::size_t i = 4; i < OUT.size(); ++i) {
    OUT[i]->setParent(BCDOut);
    OUT[i]->show();
  }

  AnalogIn = AddGroup(this, "AnalogIn", " Analog In ", page);
  Analog = new TGauge(AnalogIn);
  Analog->setObjectName(QStringLiteral("Analog"));
  Analog->setGeometry(12, 20, 212, 18);
  Analog->SetShowText(false);
  Analog->SetForeColor(QColor(0, 0, 128));
  Label3 = AddLabel(AnalogIn, "Label3", "+", QRect(12, 46, 14, 20));
  Label1 = AddLabel(AnalogIn, "Label1", " +0.000 ", QRect(28, 46, 100, 20));
  VoltLabel = AddLabel(AnalogIn, nullptr, "Volt", QRect(132, 46, 40, 20));

  AnalogOut = AddGroup(this, "AnalogOut", " Analog Out ", QRect(228, 122, 236, 58));
  AnalogOut->setToolTip(QStringLiteral("Disabled (not ready)"));
  VoltOut = AddLabel(AnalogOut, "VoltOut", "0.00", QRect(12, 24, 60, 20));
  UpDown1 = new TUpDown(AnalogOut);
  UpDown1->setObjectName(QStringLiteral("UpDown1"));
  UpDown1->move(76, 18);
  UpDown1->SetRange(-500, 500);
  UpDown1->SetIncrement(5);
  UpDown1->SetPosition(0);
  connect(UpDown1, &TUpDown::OnChanging, this,
          [this] { kvel::Guarded([this] { UpDown1Changing(); }); });
  AnOutOff = AddButton(AnalogOut, "AnOutOff", "On", QRect(112, 22, 60, 25));
  OnClick(AnOutOff, this, [this] { AnOutOffClick(); });

  encoderbox = AddGroup(this, "encoderbox", " Encoders ", page);
  Label13 = AddLabel(encoderbox, "Label13", " Enc1", QRect(12, 22, 40, 20));
  ENC1 = AddLabel(encoderbox, "ENC1", " +000000.000000 ", QRect(56, 22, 170, 20));
  ENC2Label = AddLabel(encoderbox, "ENC2Label", " Enc2", QRect(12, 46, 40, 20));
  ENC2 = AddLabel(encoderbox, "ENC2", " +000000.000000 ", QRect(56, 46, 170, 20));

  ApplyUnitType();
  HideAllPages();
  BCDswitch->show();
}

void TZorvIOForm::ApplyUnitType() {
  grv_ = UnitType == 6;
  setWindowTitle(grv_ ? QStringLiteral(" GRV I/O Test ") : QStringLiteral(" ZorvDrive I/O Test "));
  InputCount = grv_ ? 19 : 17;
  OutputCount = 8;

  IN[8]->setVisible(grv_);
  IN[9]->setVisible(grv_);
  OptoInNumbers910->setVisible(grv_);
  OptoIn->resize(grv_ ? kGrvOptoWidth : kZorvOptoWidth, OptoIn->height());

  Renumber(BCDInNumbers,
           grv_ ? QStringLiteral("11   12  13   14   15  16   17   18")
                : QStringLiteral("  9   10  11   12   13  14   15   16"),
           &IN[10], 8);

  OUT[2]->setVisible(!grv_);
  OUT[3]->setVisible(!grv_);
  OptoOutNumbers34->setVisible(!grv_);
  Renumber(BCDOutNumbers,
           grv_ ? QStringLiteral("3    4    5    6") : QStringLiteral("5    6     7     8"),
           &OUT[4], 4);

  AnalogOut->setEnabled(grv_);
  ENC2->setVisible(grv_);
  ENC2Label->setVisible(grv_);
}

void TZorvIOForm::FormShow() {
  ApplyUnitType();
  AnalogOutState = 0;
  CentreOver(this, host_.MainWindow(), 0);
  for (TDopjeNew* lamp : IN) {
    lamp->SetPinShape(TPinShape::Circle);
    lamp->SetBackColor(kInputOff);
  }
  InputStates.assign(kMaxInputs, '0');
  OutputPending.assign(kMaxOutputs, '0');
  ReadOutputs();
  BcdIoMode = false;
  HideAllPages();
  Label2->setText(QStringLiteral(" +0000000 "));
  BCDswitch->show();
}

void TZorvIOForm::ShownAnew() {
  // A loop still on the stack keeps the close it is to carry out when it ends.
  if (loops_ == 0) {
    closed_ = false;
    closeRequested_ = false;
  }
}

TDopjeNew* TZorvIOForm::InputLamp(int n) const {
  if (n < 1 || n > kMaxInputs) return nullptr;
  if (n <= 8 || grv_) return IN[static_cast<std::size_t>(n - 1)];
  // ZorvDrive: inputs 9 ... 16 are the BCD lamps IN11 ... IN18, input 17 the enable lamp.
  if (n <= 16) return IN[static_cast<std::size_t>(n + 1)];
  if (n == 17) return IN[18];
  return nullptr;
}

std::string TZorvIOForm::Drain() {
  TCustomComPort& port = host_.Port();
  RxCount = port.PendingInput();
  std::string text;
  port.ReceiveText(text, RxCount);
  return text;
}

void TZorvIOForm::ReadInput(int n) {
  TCustomComPort& port = host_.Port();
  port.SendText("IN(" + std::to_string(n) + ")\r");
  kvel::Wait(15);
  std::string reply;
  char current = '0';
  int rounds = 0;
  do {
    kvel::Wait(5);
    Pump();
    std::string byte;
    port.ReceiveText(byte, 1);
    if (!byte.empty()) current = byte[0];
    if (current == '0' || current == '1') reply += current;
    // Once the loop is stopped, the query ends after this round and changes nothing.
    if (Running) {
      ++rounds;
    } else {
      rounds = 101;
    }
    Pump();
  } while (current != '\r' && rounds <= 50);
  if (rounds < 100 && !reply.empty()) InputStates[static_cast<std::size_t>(n - 1)] = reply[0];
}

void TZorvIOForm::ReadInputGroup(int first, int last) {
  // A window that must close asks no more.
  for (int n = first; n <= last && !closeRequested_; ++n) ReadInput(n);
  if (first == 1) {
    host_.PutText(InputStates.substr(0, static_cast<std::size_t>(InputCount)) + "\r\n");
  }
}

void TZorvIOForm::ShowInputs() {
  TCustomComPort& port = host_.Port();
  for (int n = 1; n <= InputCount; ++n) {
    if (TDopjeNew* lamp = InputLamp(n)) {
      lamp->SetBackColor(InputStates[static_cast<std::size_t>(n - 1)] == '1' ? kInputOn
                                                                             : kInputOff);
    }
    kvel::Wait(10);
    port.PurgeBuffers(true, true);
  }
}

void TZorvIOForm::OutputClick(int k) {
  OutputPending[static_cast<std::size_t>(k - 1)] = '1';
}

int TZorvIOForm::OutputNumber(int k) const {
  return grv_ && k > 4 ? k - 2 : k;
}

void TZorvIOForm::SendOutput(int k) {
  const bool on = OUT[static_cast<std::size_t>(k - 1)]->isChecked();
  const std::string number = std::to_string(OutputNumber(k));
  // The opto outputs take no blank before the equals sign, the BCD outputs one on each side.
  if (k <= 4) {
    host_.Port().SendText("OUT(" + number + ")= " + (on ? "1" : "0") + "\r");
  } else {
    host_.Port().SendText("OUT(" + number + ")" + (on ? " = 1" : " = 0") + "\r");
  }
  kvel::Wait(50);
  Drain();
}

void TZorvIOForm::ApplyOutputs() {
  for (int k = 1; k <= OutputCount; ++k) {
    if (OutputPending[static_cast<std::size_t>(k - 1)] == '1') {
      SendOutput(k);
      OutputPending[static_cast<std::size_t>(k - 1)] = '0';
    }
  }
  host_.PutText(OutputPending + "\r\n");
}

void TZorvIOForm::ReadOutputs() {
  TCustomComPort& port = host_.Port();
  port.SendText("\r");
  kvel::Wait(20);
  Drain();
  std::string current = "0";
  for (int k = 1; k <= OutputCount; ++k) {
    port.SendText("out(" + std::to_string(OutputNumber(k)) + ")\r");
    kvel::Wait(50);
    const std::string reply = FilterPrintable(Drain());
    if (reply.size() == 1) current = reply;
    // The box shows what the drive holds; its next click switches from there.
    if (current == "1") OUT[static_cast<std::size_t>(k - 1)]->setChecked(true);
  }
}

void TZorvIOForm::ReadBcd() {
  TCustomComPort& port = host_.Port();
  port.SendText("BCD\r");
  kvel::Wait(120);
  Pump();
  std::string reply;
  port.ReceiveText(reply, 30);
  if (reply.size() <= 8) return;
  std::string text = FilterPrintable(reply);
  std::string sign = "+";
  if (text.find('-') != std::string::npos) {
    sign = "-";
    text.erase(0, 1);
  }
  const std::size_t dot = text.find('.');
  text = dot == std::string::npos ? std::string() : text.substr(0, dot);
  if (text.size() < 7) text.insert(0, 7 - text.size(), '0');
  Label2->setText(ToQt(" " + sign + text + " "));
}

bool TZorvIOForm::ReadDecimal(const char* command, QLabel* errorLabel, double* value) {
  host_.Port().SendText(command);
  kvel::Wait(100);
  const std::string text = FilterPrintable(Drain());
  if (text.size() >= 8 && ParseDecimal(text, value)) return true;
  errorLabel->setText(QStringLiteral(" error "));
  return false;
}

void TZorvIOForm::ReadEncoder() {
  double value = 0;
  if (!ReadDecimal("EP\r", Label13, &value)) return;
  const std::string sign = value >= 0 ? "+" : "-";
  ENC1->setText(ToQt(" " + sign + Fixed(std::fabs(value), 6, 13) + " "));
}

void TZorvIOForm::ReadAnalog() {
  double value = 0;
  if (!ReadDecimal("AN\r", Label1, &value)) return;
  const std::string sign = value >= 0 ? "+" : "-";
  const double magnitude = std::fabs(value);
  Label3->setText(ToQt(sign));
  Label1->setText(ToQt(" " + sign + Fixed(magnitude, 3) + " "));
  // 10 V fills the gauge; far larger readings are held to a range an integer can take.
  Analog->SetProgress(static_cast<std::int32_t>(std::nearbyint(std::min(magnitude * 10, 1e9))));
}

void TZorvIOForm::UpDown1Changing() {
  const double volts = UpDown1->Position() / 100.0;
  VoltOut->setText(ToQt(Fixed(volts, 2)));
  TorqueValue = static_cast<int>(std::nearbyint(volts * 204.8));
}

void TZorvIOForm::AnOutOffClick() {
  AnalogOutOn = !AnalogOutOn;
  if (AnalogOutOn) {
    AnOutOff->setText(QStringLiteral("Off"));
    AnalogOutState = 1;
  } else {
    AnOutOff->setText(QStringLiteral("On"));
    AnalogOutState = 2;
  }
}

void TZorvIOForm::HideAllPages() {
  BcdIoMode = false;
  for (QWidget* page : {static_cast<QWidget*>(BCDswitch), static_cast<QWidget*>(BCDBox),
                        static_cast<QWidget*>(BCDOut), static_cast<QWidget*>(AnalogOut),
                        static_cast<QWidget*>(AnalogIn), static_cast<QWidget*>(encoderbox)}) {
    page->hide();
  }
}

void TZorvIOForm::BtBCDClick() {
  HideAllPages();
  BCDswitch->show();
  for (std::size_t i = 4; i < OUT.size(); ++i) OUT[i]->setChecked(false);
}

void TZorvIOForm::BtBCDIOClick() {
  HideAllPages();
  BcdIoMode = true;
  BCDBox->show();
  BCDOut->show();
}

void TZorvIOForm::BtAnalogIOClick() {
  HideAllPages();
  if (grv_) {
    AnalogOut->show();
    AnalogOut->setEnabled(true);
  }
  AnalogIn->show();
  AnalogOutOn = false;
}

void TZorvIOForm::BtEncoderClick() {
  HideAllPages();
  encoderbox->show();
}

void TZorvIOForm::SpeedButton3Click() {
  int context = 4300;
  if (BtBCDIO->isChecked()) context = 4400;
  if (BtAnalogIO->isChecked()) context = 4500;
  if (BtEncoder->isChecked()) context = 4600;
  kvel::HelpViewer::Instance().ShowContext(this, context);
}

void TZorvIOForm::Button2Click() {
  kvel::ProcessMessages();
  // The window closes (it was closed meanwhile): nothing starts or stops any more.
  if (closeRequested_ || closed_) return;
  Running = !Running;
  if (!Running) {
    ShowStopping();
    return;
  }
  BCDOut->setEnabled(true);
  StopBtn->setEnabled(false);
  Button2->setText(QStringLiteral("Stop"));
  RunLabel->show();
  RunLabel->setEnabled(true);
  RunLabel->setText(QStringLiteral("  Running  "));
  ending_.Begin();
  std::exception_ptr error;
  {
    const NestingCount nesting(loops_);
    try {
      RunLoop();
    } catch (...) {
      error = std::current_exception();
    }
  }
  if (error) {
    // A port error has ended the loop: the window shows it stopped and lets the user leave.
    // The drive is not switched off: the port that failed would fail again, and the error
    // is shown once, by the caller.
    Running = false;
    ShowStopping();
    ShowStopped();
  }
  if (closeRequested_ && !Running) {
    exiting_ = true;
    close();
  }
  if (error) std::rethrow_exception(error);
}

void TZorvIOForm::ShowStopping() {
  BCDOut->setEnabled(false);
  Button2->setText(QStringLiteral("Start"));
  StopBtn->setEnabled(true);
}

void TZorvIOForm::ShowStopped() {
  RunLabel->show();
  RunLabel->setEnabled(false);
  RunLabel->setText(QStringLiteral("  Stopped  "));
}

bool TZorvIOForm::Pump() {
  kvel::ProcessMessages();
  if (loops_ > 0 && ending_.Ending()) Leave();
  return !closeRequested_;
}

void TZorvIOForm::RunLoop() {
  TCustomComPort& port = host_.Port();
  if (Pump()) {
    ReadInputGroup(1, 7);
    ReadInputGroup(8, 10);
    ReadInputGroup(11, 15);
    ReadInputGroup(16, InputCount);
    if (!closeRequested_) {
      ReadBcd();
      ShowInputs();
      port.SendText("ledtest\r");
      kvel::Wait(20);
    }
  }
  // A window that must close leaves the rest of the cycle out and switches the drive off
  // at once.
  while (!closeRequested_) {
    RunCycle();
    if (!Running) break;
  }

  port.SendText("TORQUE=0\r");
  port.SendText("SERVOOUT=1\r");
  port.SendText("TORQUE=0\r");
  port.SendText("WNDGS=0\r");
  ShowStopped();
}

void TZorvIOForm::RunCycle() {
  TCustomComPort& port = host_.Port();
  RunLabel->show();
  port.SendText("ledtest\r");
  if (!Pump()) return;
  kvel::Wait(150);
  if (!Pump()) return;
  ReadInputGroup(1, 7);
  if (!encoderbox->isHidden() && !closeRequested_) ReadEncoder();
  if (!Pump()) return;
  ReadInputGroup(8, 10);
  // Hidden here and shown at the start of the next cycle: the label blinks once a cycle.
  RunLabel->hide();
  if (!Pump()) return;
  if (BcdIoMode) ReadInputGroup(11, 15);
  if (!Pump()) return;
  ReadInputGroup(16, InputCount);
  if (closeRequested_) return;
  ShowInputs();

  if (AnalogOutState == 1) {
    port.SendText("SERVOOUT=1\r");
    port.SendText("SERVOOUT=0\r");
    port.SendText("WNDGS=1\r");
    AnalogOutState = 9;
  }
  if (AnalogOutState == 2) {
    port.SendText("TORQUE=0\r");
    port.SendText("SERVOOUT=1\r");
    port.SendText("TORQUE=0\r");
    AnalogOutState = 0;
  }
  if (AnalogOutState == 9) port.SendText("TORQUE=" + std::to_string(TorqueValue) + "\r");

  kvel::Wait(100);
  ApplyOutputs();
  if (!BcdIoMode) ReadBcd();
  if (!Pump()) return;
  if (!AnalogIn->isHidden()) ReadAnalog();
}

void TZorvIOForm::StopBtnClick() {
  exiting_ = true;
  close();
}

void TZorvIOForm::Leave() {
  if (closed_) return;
  // A loop still on the stack ends its cycle at the next check and switches the drive off;
  // the window closes then. (A loop that a port error ended is no longer on it.)
  if (loops_ > 0) {
    closeRequested_ = true;
    Running = false;
    ShowStopping();
    return;
  }
  Running = false;
  exiting_ = true;
  close();
}

void TZorvIOForm::closeEvent(QCloseEvent* event) {
  // Closed while the loop runs: taken as "Exit" once the loop has switched the drive off.
  if (loops_ > 0) {
    event->ignore();
    Leave();
    return;
  }
  // Otherwise the window closes only through "Exit", which is disabled while the loop runs.
  if (!exiting_ || Running) {
    event->ignore();
    return;
  }
  exiting_ = false;
  // The dialog's own close handler rejects the dialog, which ends it.
  closing_ = true;
  QDialog::closeEvent(event);
  closing_ = false;
  closed_ = event->isAccepted();
}

void TZorvIOForm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  if (event->key() == Qt::Key_F1) {
    // The help of the group the focused control lies in, else the window's.
    int context = 100;
    for (const QWidget* w = focusWidget(); w != nullptr && w != this; w = w->parentWidget()) {
      if (w->property("helpContext").isValid()) {
        context = w->property("helpContext").toInt();
        break;
      }
    }
    kvel::HelpViewer::Instance().ShowContext(this, context);
    return;
  }
  QDialog::keyPressEvent(event);
}

void TZorvIOForm::ReportDriveError() {
  kvel::Wait(20);
  std::string reply;
  host_.Port().ReceiveText(reply, 5);
  const std::string text = FilterPrintable(reply);
  host_.DisplayText("Error #" + text + " : ");
  int number = 0;
  if (ParseInteger(text, &number)) host_.DisplayText(DriveErrorText(number) + "\r\n");
}
