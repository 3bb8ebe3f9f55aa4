#include "IoTestDialog.h"

#include <QShowEvent>

#include "ui/ErrorDisplay.h"

IoTestDialog::IoTestDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {}

void IoTestDialog::CloseForHost() {
  Leave();
}

void IoTestDialog::reject() {
  if (closing_) {
    QDialog::reject();
    return;
  }
  kvel::Guarded([this] { Leave(); });
}

void IoTestDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) ShownAnew();
  if (shown_) return;
  shown_ = true;
  kvel::Guarded([this] { FormShow(); });
}
