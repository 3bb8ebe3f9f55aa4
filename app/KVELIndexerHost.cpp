#include "KVELIndexerHost.h"

#include <QComboBox>
#include <QLabel>

#include "KVELProgramFiles.h"
#include "KVELUnit1.h"
#include "terminal/CPortCtl.h"
#include "ui/Convert.h"
#include "ui/Dialogs.h"

namespace {}  // namespace

TCustomComPort& KVELIndexerHost::Port() {
  return form_.ComPort1;
}

QWidget* KVELIndexerHost::Window() {
  return &form_;
}

void KVELIndexerHost::SetWindowEnabled(bool enabled) {
  form_.setEnabled(enabled);
}

void KVELIndexerHost::PutTerminalText(const std::string& text) {
  form_.ComTerminal1->PutText(text);
}

void KVELIndexerHost::SetUnitStatus(const std::string& text) {
  form_.Panels[2]->setText(kvel::ToQt(text));
}

void KVELIndexerHost::ClearUnitsList() {
  form_.ComboBox2->clear();
  form_.ComboBox2->setCurrentIndex(-1);
}

void KVELIndexerHost::AddUnitEntry(const std::string& entry) {
  form_.ComboBox2->addItem(kvel::ToQt(entry));
  form_.ComboBox2->setCurrentIndex(form_.ComboBox2->count() - 1);
}

void KVELIndexerHost::ShowNoControlSelected() {
  form_.ShowNoControlSelected();
}

void KVELIndexerHost::StartReceivePoll() {
  form_.PollReceive();
}

void KVELIndexerHost::ReadLParametersView() {
  // The "Parameters" command enables the main window when it ends; an upload that calls it
  // as its first step keeps the window disabled until the whole upload has ended.
  const bool wasEnabled = form_.isEnabled();
  form_.ReadLParameters1Click();
  if (!wasEnabled) form_.setEnabled(false);
}

std::optional<std::string> KVELIndexerHost::RunSaveDialog(const std::string& filter,
                                                          const std::string& defaultExt) {
  return kvel::RunFileDialog(&form_, kvel::FileDialogRequest{true, {}, filter, defaultExt});
}

void KVELIndexerHost::ShowTransferResult(const std::string& text, const std::string& detail) {
  form_.ShowStatusResult(text, detail);
}

void KVELIndexerHost::ProgramFileSent(const std::string& path) {
  form_.ProgramFiles().Sent(path);
}
