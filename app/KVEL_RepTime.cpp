#include "KVEL_RepTime.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "ui/Convert.h"
#include "ui/Form.h"

TForm2::TForm2(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowContextHelpButtonHint | Qt::WindowStaysOnTopHint),
      owner_(owner) {
  setWindowTitle(QStringLiteral("Repeat Setup"));
  // 175 wide is too narrow for the title bar to show the title; the controls stay centred.
  const int width = std::max(175, TitleBarWidth(font(), windowTitle()));
  const int x = (width - 175) / 2;
  kvel::FixForm(this, "Form2", width, 100, false);

  Label1 = kvel::AddLabel(this, "Label1", "Repeat time (ms)", QRect(x + 16, 12, 140, 16));
  Edit1 = kvel::AddEdit(this, "Edit1", QRect(x + 16, 32, 140, 21));
  Edit1->installEventFilter(this);
  Button2 = kvel::AddDefaultButton(this, "Button2", "OK", QRect(x + 12, 66, 72, 25));
  Button1 = kvel::AddCancelButton(this, "Button1", "Cancel", QRect(x + 92, 66, 72, 25));
  for (QWidget* control : {static_cast<QWidget*>(Button1), static_cast<QWidget*>(Button2)}) {
    control->installEventFilter(this);
  }
}

void TForm2::FormShow() {
  kvel::CentreOver(this, owner_, 20, kvel::Centred::ClientArea);
}

void TForm2::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

bool TForm2::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
  const auto* key = static_cast<QKeyEvent*>(event);
  // Enter presses "OK" whichever control has the focus, "Cancel" included.
  if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
    Button2->click();
    return true;
  }
  if (watched == Edit1) {
    // Only printable characters are typed text; Esc, Delete, Tab and the Ctrl keys keep their
    // work (cancel, delete, next control, paste), and Esc thus still reaches "Cancel".
    const QString text = key->text();
    if (text.size() == 1) {
      const QChar c = text.front();
      const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
      const bool printable = c.unicode() >= 32 && c.unicode() != 127;
      if (printable && !digit) return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

int TitleBarWidth(const QFont& windowFont, const QString& title) {
  // Title bars commonly use a bold font a good quarter larger than a dialog's text, and put
  // an icon and up to three buttons of about a title bar's height beside the title.
  QFont titleFont = windowFont;
  titleFont.setBold(true);
  titleFont.setPointSizeF(std::max(10.0, titleFont.pointSizeF() * 1.3));
  const QFontMetrics metrics(titleFont);
  const int button = metrics.height() + 12;
  return metrics.horizontalAdvance(title) + 4 * button + 24;
}

std::uint16_t RepeatDelayFromText(const std::string& text) {
  const int value = kvel::StrToInt(text);
  if (value < 0 || value > 65535) {
    throw std::range_error("'" + text + "' is not a valid repeat time: use 0 ... 65535 ms");
  }
  return static_cast<std::uint16_t>(value);
}
