#pragma once

#include <QString>
#include <string>

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
