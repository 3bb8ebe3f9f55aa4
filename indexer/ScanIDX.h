#pragma once

#include <QWidget>
#include <string>

#include "ui/Dialogs.h"

class QLabel;
class QProgressBar;
class QPushButton;

// The progress window of the scan and of both uploads: a small window on top of the main
// window, shown without being modal while the job runs; Cancel and Esc stop the job through
// RunFlag.
class TScanForm : public QWidget {
  Q_OBJECT

 public:
  // `mainWindow` is the frame the window centres over; the window is not its child, so that
  // disabling the main window leaves Cancel usable.
  explicit TScanForm(QWidget* mainWindow);
  ~TScanForm() override;

  QProgressBar* ProgressBar1 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  QPushButton* Button2 = nullptr;  // "Cancel"

  void Button2Click();
  void FormKeyDown(int key);
  void FormShow();
  // The bar's position, kept within its range as the bar itself would.
  void SetPosition(int position);
  void SetLabel(QLabel* label, const std::string& text);
  void SetCaption(const std::string& caption);
  // A message box of the job, in front of this window: the box belongs to it, and the
  // window gives up staying on top while the box is shown (a window manager would otherwise
  // keep the box beneath it).
  kvel::MsgResult ShowMessage(const std::string& text, const std::string& caption,
                              kvel::MsgIcon icon);

 protected:
  void showEvent(QShowEvent* event) override;
  // A close from the window manager or the program's end acts as Cancel; the job releases
  // the window when it has stopped.
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* mainWindow_;
};

// The progress window while a job shows one (nullptr otherwise).
extern TScanForm* ScanForm;
