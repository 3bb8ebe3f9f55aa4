#pragma once

#include "indexer/IndexerHost.h"

class TForm1;

// The main window as the indexer dialogues see it.
class KVELIndexerHost : public IndexerHost {
 public:
  explicit KVELIndexerHost(TForm1& form) : form_(form) {}

  TCustomComPort& Port() override;
  QWidget* Window() override;
  void SetWindowEnabled(bool enabled) override;
  void PutTerminalText(const std::string& text) override;
  void SetUnitStatus(const std::string& text) override;
  void ClearUnitsList() override;
  void AddUnitEntry(const std::string& entry) override;
  void ShowNoControlSelected() override;
  void StartReceivePoll() override;
  void ReadLParametersView() override;
  std::optional<std::string> RunSaveDialog(const std::string& filter,
                                           const std::string& defaultExt) override;
  void ShowTransferResult(const std::string& text, const std::string& detail) override;
  void ProgramFileSent(const std::string& path) override;

 private:
  TForm1& form_;
};
