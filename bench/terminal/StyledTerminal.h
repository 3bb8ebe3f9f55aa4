#pragma once

#include <QColor>
#include <QFont>

#include "CPortCtl.h"

// Styles `terminal` as the main window has it (Courier New at 12 pixels, navy on white, long
// lines wrapped) and sizes it to `columns` x `rows` cells with `margin` pixels to spare.
inline void StyleLikeMainWindow(kvel::TComTerminal& terminal, int columns, int rows, int margin) {
  QFont font(QStringLiteral("Courier New"));
  font.setPixelSize(12);
  terminal.SetTermFont(font);
  terminal.SetColor(Qt::white);
  terminal.SetFontColor(QColor(0, 0, 128));
  terminal.SetWrapLines(true);
  terminal.resize(columns * terminal.CellWidth() + margin, rows * terminal.CellHeight() + margin);
}
