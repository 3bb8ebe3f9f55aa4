#pragma once

#include <QDialog>

#include "IoTestHost.h"

class QShowEvent;

// The dialog side the I/O test windows share: the opening runs once, at the first show, and
// Esc and the main window close a window the way its own exit does.
class IoTestDialog : public QDialog, public IoTestWindow {
  Q_OBJECT

 public:
  explicit IoTestDialog(QWidget* parent);

  // The opening, at the first show, under the default error display.
  virtual void FormShow() = 0;

  void CloseForHost() override;
  // Esc: ends the dialog while the window's own close runs; otherwise it leaves the window.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  // A show that the program asked for, not a restore by the window system: the window can be
  // left again.
  virtual void ShownAnew() = 0;
  // Every way of closing but the window's own exit.
  virtual void Leave() = 0;

  bool closing_ = false;  // the window's own close runs: the dialog may end

 private:
  bool shown_ = false;
};
