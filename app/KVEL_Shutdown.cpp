#include "KVEL_Shutdown.h"

#include <QApplication>
#include <QDialog>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <utility>

#include "KVEL_Var.h"
#include "ui/Clock.h"
#include "ui/Shutdown.h"

namespace {

// Real time, whatever clock the dialogues use: the grace time is the user's.
std::int64_t SteadyMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

ProgramCloser::ProgramCloser(QWidget& mainWindow, std::function<void()> forceEnd)
    : mainWindow_(mainWindow), forceEnd_(std::move(forceEnd)) {
  timer_.setInterval(kStepMs);
  connect(&timer_, &QTimer::timeout, this, [this] { Step(); });
}

void ProgramCloser::Request() {
  kvel::RequestShutdown();
  RunFlag = 0;
  if (requested_) return;
  requested_ = true;
  startedMs_ = SteadyMs();
  timer_.start();
  // The first step at once: a box or a dialog waiting for the user is closed now.
  QTimer::singleShot(0, this, [this] { Step(); });
}

bool ProgramCloser::MayCloseNow() const {
  return QApplication::activePopupWidget() == nullptr &&
         QApplication::activeModalWidget() == nullptr && mainWindow_.isEnabled() &&
         QThread::currentThread()->loopLevel() <= 1 && kvel::MessageStepDepth() == 0;
}

void ProgramCloser::Step() {
  if (forced_) return;
  RunFlag = 0;
  const std::int64_t elapsed = SteadyMs() - startedMs_;
  for (int guard = 0; guard < 32; ++guard) {
    if (QWidget* popup = QApplication::activePopupWidget()) {
      popup->close();
      continue;
    }
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == &mainWindow_) break;
    const bool seen = std::find(rejected_.begin(), rejected_.end(), modal) != rejected_.end();
    if (!seen) {
      // Asked once, as Esc or the close box would: the window stops its loop, sends what its
      // own exit sends and closes when that loop has unwound.
      rejected_.emplace_back(modal);
      if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        dialog->reject();
      } else {
        modal->close();
      }
      continue;
    }
    if (elapsed >= kHideAfterMs) {
      modal->hide();
      continue;
    }
    break;
  }
  if (MayCloseNow()) {
    timer_.stop();
    mainWindow_.close();
    return;
  }
  if (elapsed >= kGraceMs) {
    forced_ = true;
    timer_.stop();
    forceEnd_();
  }
}
