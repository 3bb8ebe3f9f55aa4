#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "KVELUnit1.h"
#include "TestFiles.h"
#include "serial/MemoryLine.h"
#include "ui/Dialogs.h"
#include "ui/VirtualClock.h"

// A main window in a temporary folder of its own: the current folder (error.log), the INI
// folder and HOME point there, time is virtual, COM1 is an in-memory line and message boxes
// are recorded and answered by the test.
class AppTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Creates and shows the main window (FormCreate, FormShow).
  TForm1& Start();
  void WriteIni(const std::string& text) const;
  std::string IniText() const;
  bool IniExists() const;
  // error.log split at its CR LF line ends (the text after the last one is dropped).
  std::vector<std::string> LogLines() const;
  std::string Panel(int index) const;
  std::string Caption() const;
  std::string Folder() const { return folder_.path().toStdString(); }
  std::string IniPathInFolder() const { return Folder() + "/KVEL_32.INI"; }

  QTemporaryDir folder_;
  std::filesystem::path previousFolder_;
  kvel::VirtualClock clock_;
  std::shared_ptr<kvel::MemoryLine> line_;
  std::unique_ptr<TForm1> form_;
  std::vector<kvel::MessageBoxRequest> boxes_;
  kvel::MsgResult answer_ = kvel::MsgResult::Ok;
  std::function<void(const kvel::MessageBoxRequest&)> onBox_;
  // While set, every message step clears RunFlag, so a receive poll that a command starts
  // runs one round and returns. Tests of the poll clear it and stop the poll themselves.
  bool endPolls_ = true;
};

// The lines every start writes after the time stamp line, and the group of a unit-type change.
extern const std::vector<std::string> kStartLines;
extern const std::vector<std::string> kUnitTypeLines;
