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
