#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QWidget>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Config.h"
#include "IndexerHost.h"
#include "MemoryLine.h"
#include "MemoryPeer.h"
#include "TestFiles.h"
#include "serial/CPort.h"
#include "ui/Dialogs.h"
#include "ui/VirtualClock.h"

// The indexer dialogues against the simulator on an in-memory COM1, in virtual time, with a
// stand-in main window that records what the dialogues asked of it. Runs in a temporary
// folder (LPARAM.TXT and program files land there).
class IndexerRig : public ::testing::Test, public IndexerHost {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Builds the simulated line from statements and opens the port on it.
  void Build(const std::string& statements);
  kvel::sim::Line& Line() { return *config_.lines.front().line; }
  // What the program wrote, one entry per write: "<ms> <bytes made visible>".
  std::vector<std::string> Writes();
  // The same, relative to the first write that equals `from`, from there on.
  std::vector<std::string> WritesFrom(const std::string& from);
  std::string Folder() const { return folder_.path().toStdString(); }
  // Presses Esc in the progress window (nothing when none is shown).
  static void PressEscInProgressWindow();

  // IndexerHost.
  TCustomComPort& Port() override { return port_; }
  QWidget* Window() override { return &window_; }
  void SetWindowEnabled(bool enabled) override;
  void PutTerminalText(const std::string& text) override { terminal_ += text; }
  void SetUnitStatus(const std::string& text) override { status_ = text; }
  void ClearUnitsList() override { units_.clear(); }
  void AddUnitEntry(const std::string& entry) override { units_.push_back(entry); }
  void ShowNoControlSelected() override { ++noControl_; }
  void StartReceivePoll() override { ++pollStarts_; }
  void ReadLParametersView() override;
  std::optional<std::string> RunSaveDialog(const std::string& filter,
                                           const std::string& defaultExt) override;
  void ShowTransferResult(const std::string& text, const std::string& detail) override {
    results_.push_back(text);
    resultDetails_.push_back(detail);
  }
  void ProgramFileSent(const std::string& path) override { sentFiles_.push_back(path); }

  QTemporaryDir folder_;
  std::filesystem::path previousFolder_;
  kvel::VirtualClock clock_;
  kvel::sim::SimConfig config_;
  std::unique_ptr<kvel::sim::MemoryPeer> peer_;
  std::shared_ptr<kvel::MemoryLine> line_;
  TComPort port_;
  QWidget window_;

  // What the stand-in main window saw.
  std::vector<bool> enabled_;
  std::string terminal_;
  std::string status_;
  std::vector<std::string> units_;
  int noControl_ = 0;
  int pollStarts_ = 0;
  int lParameterViews_ = 0;
  std::vector<kvel::MessageBoxRequest> boxes_;
  std::vector<std::string> saveRequests_;  // "filter|ext"
  std::optional<std::string> saveAnswer_;  // the save dialog's answer
  int beeps_ = 0;
  std::vector<std::string> results_;  // the status-bar results, in order
  std::vector<std::string> resultDetails_;
  std::vector<std::string> sentFiles_;  // the programs the download began to send
};
