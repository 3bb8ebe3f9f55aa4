#pragma once

#include <QDialog>
#include <QFont>
#include <QString>
#include <cstdint>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

// "Repeat Setup": asks for the auto-repeat delay in milliseconds.
class TForm2 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* owner);

  QLabel* Label1 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QPushButton* Button2 = nullptr;  // "OK"
  QPushButton* Button1 = nullptr;  // "Cancel"

  // Centred on `owner` horizontally, 20 pixels below centre vertically.
  void FormShow();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* owner_;
};

// The width a dialog needs for the window manager to show `title` whole in its title bar:
// the title in a bold, larger font than the window's, beside the icon and the buttons.
int TitleBarWidth(const QFont& windowFont, const QString& title);

// The delay typed into the dialog: raises the conversion error for a text that is no
// integer, and refuses values outside 0 ... 65535 instead of keeping their low 16 bits.
std::uint16_t RepeatDelayFromText(const std::string& text);
