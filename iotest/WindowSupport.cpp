#include "WindowSupport.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include "KVEL_Var.h"
#include "ui/Shutdown.h"

void EndingWatch::Begin() {
  runFlagSet_ = RunFlag != 0;
}

bool EndingWatch::Ending() const {
  return kvel::ShutdownRequested() || (runFlagSet_ && RunFlag == 0);
}

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

QCheckBox* AddCheckBox(QWidget* parent, const char* name, const char* caption, QRect at) {
  auto* box = new QCheckBox(QString::fromLatin1(caption), parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setGeometry(at);
  return box;
}

QPushButton* AddButton(QWidget* parent, const char* name, const char* caption, QRect at) {
  auto* button = new QPushButton(QString::fromLatin1(caption), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(at);
  button->setAutoDefault(false);
  return button;
}

QGroupBox* AddGroup(QWidget* parent, const char* name, const char* caption, QRect at) {
  auto* group = new QGroupBox(QString::fromLatin1(caption), parent);
  group->setObjectName(QString::fromLatin1(name));
  group->setGeometry(at);
  return group;
}

QLabel* AddLabel(QWidget* parent, const char* name, const char* caption, QRect at) {
  auto* label = new QLabel(QString::fromLatin1(caption), parent);
  if (name != nullptr) label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(at);
  return label;
}
