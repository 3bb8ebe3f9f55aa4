#include "WindowSupport.h"

#include <QWidget>

void CentreOver(QWidget* window, const QWidget* owner, int down) {
  if (owner == nullptr) return;
  const QRect frame = owner->frameGeometry();
  const QSize own = window->frameGeometry().size();
  window->move(frame.left() + (frame.width() - own.width()) / 2,
               frame.top() + (frame.height() - own.height()) / 2 + down);
}

void UseWindowFont(QWidget* window) {
  QFont font = window->font();
  font.setFamily(QStringLiteral("Arial"));
  font.setPointSize(8);
  window->setFont(font);
}
