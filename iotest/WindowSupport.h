#pragma once

#include <QRect>
#include <QString>
#include <string>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QWidget;

// Small helpers the test windows share.

// Whether the program is ending while a window's loop runs: a shutdown has been requested,
// or RunFlag, set when the loop began, has dropped to 0. The windows take either as their
// Cancel. A loop that began with RunFlag at 0 heeds only the shutdown request.
class EndingWatch {
 public:
  // Notes RunFlag as a loop begins.
  void Begin();
  bool Ending() const;

 private:
  bool runFlagSet_ = false;
};

// Counts the handlers on the stack that run a loop or a step with message handling, for the
// scope of one of them.
class NestingCount {
 public:
  explicit NestingCount(int& count) : count_(count) { ++count_; }
  ~NestingCount() { --count_; }
  NestingCount(const NestingCount&) = delete;
  NestingCount& operator=(const NestingCount&) = delete;

 private:
  int& count_;
};

// Line bytes as a label shows them, one character per byte.
inline QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Places `window` over `owner`: left = owner left + (owner width - width) / 2, top likewise
// plus `down` pixels, halves truncated toward zero. Nothing happens without an owner.
void CentreOver(QWidget* window, const QWidget* owner, int down);

// The font of the program's windows.
void UseWindowFont(QWidget* window);

// Controls placed at fixed positions, named as the windows' code refers to them. A label
// without a name (nullptr) keeps none; buttons never become the default on Enter.
QCheckBox* AddCheckBox(QWidget* parent, const char* name, const char* caption, QRect at);
QPushButton* AddButton(QWidget* parent, const char* name, const char* caption, QRect at);
QGroupBox* AddGroup(QWidget* parent, const char* name, const char* caption, QRect at);
QLabel* AddLabel(QWidget* parent, const char* name, const char* caption, QRect at);
