#pragma once

#include <QColor>
#include <QObject>

#include "ui/Convert.h"
#include "ui/ErrorDisplay.h"
#include "ui/Form.h"

// Small helpers the test windows share.

// An input lamp lit and dark.
inline const QColor kInputOn(255, 255, 0);
inline const QColor kInputOff(128, 0, 0);

// `handler` runs on every click of `button`, under the default error display; the connection
// ends with `context`.
template <class Button, class Handler>
void OnClick(Button* button, QObject* context, Handler handler) {
  QObject::connect(button, &Button::clicked, context, [handler] { kvel::Guarded(handler); });
}

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

// The form helpers and the text conversion, as the test windows call them.
using kvel::AddButton;
using kvel::AddCheckBox;
using kvel::AddGroup;
using kvel::AddLabel;
using kvel::CentreOver;
using kvel::ToQt;
