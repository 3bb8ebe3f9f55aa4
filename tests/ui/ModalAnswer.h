#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace kvel::test {

// Answers the next modal dialog once it is up; `answer` returns false to keep waiting.
inline void WhenModal(std::function<bool(QWidget*)> answer) {
  auto* timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, [timer, answer] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && answer(modal)) timer->deleteLater();
  });
  timer->start(10);
}

}  // namespace kvel::test
