#include "ProgressWindow.h"

#include <QLabel>

void WindowProgress::Begin(const std::string& caption, const std::string& endMark,
                           const std::string& text) {
  window_ = std::make_unique<ProgressWindow>(host_);
  ProgressWindow& window = *window_;
  window->SetCaption(caption);
  window->SetLabel(window->Label3, endMark);
  window->SetLabel(window->Label2, text);
  window->show();
}

void WindowProgress::Progress(int current, int total, int bar, const std::string& text) {
  (void)current;
  (void)total;
  if (!window_) return;
  ProgressWindow& window = *window_;
  window->SetLabel(window->Label2, text);
  window->SetPosition(bar);
}

void WindowProgress::Note(const std::string& text) {
  if (window_) (*window_)->SetLabel((*window_)->Label4, text);
}

void WindowProgress::Warn(const std::string& text, const std::string& caption) {
  if (window_) {
    (*window_)->ShowMessage(text, caption, kvel::MsgIcon::Warning);
  } else {
    kvel::ShowMessageBox(host_.Window(), text, caption, kvel::MsgIcon::Warning);
  }
}
