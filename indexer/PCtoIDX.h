#pragma once

#include <QDialog>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "DownloadEngine.h"
#include "KVEL_32_IDX.h"
#include "ui/Dialogs.h"

class IndexerHost;
class QLabel;
class QLineEdit;
class QPushButton;

// The download dialog: identifies the selected indexer when it opens, proposes a program
// file for it and sends the chosen file line by line, waiting for each acknowledge.
class TToIDX_Form : public QDialog {
  Q_OBJECT

 public:
  // Runs FormCreate: the unit is identified before the dialog shows.
  explicit TToIDX_Form(IndexerHost& host);

  QLabel* Label1 = nullptr;  // "Unit ID : "
  QLabel* Label2 = nullptr;  // "Software Rev :"
  QLabel* Label3 = nullptr;  // "Suggested file name :"
  QLabel* Label4 = nullptr;  // "Unit Type "
  QLineEdit* Edit1 = nullptr;
  QPushButton* Button1 = nullptr;  // "Send File"
  QPushButton* Button2 = nullptr;  // "..."
  QPushButton* Button3 = nullptr;  // "Cancel"
  kvel::FileDialogRequest OpenDialog1;

  IndexerIdentity Identity;  // what FormCreate found

  void FormCreate();
  void FormShow();
  // Puts `path` into the file field in place of the proposal: a program the operator picked
  // from the recent programs or dropped on the main window.
  void PresetFile(const std::string& path);
  // True once the dialog has told the main window how the download ended.
  bool ResultShown() const { return resultShown_; }
  void Button1Click();
  void Button2Click();
  void Button3Click();
  // Reads `path` and sends it (raises an error naming the file when it cannot be read).
  void SendProgramFile(const std::string& path);
  // The line-by-line send of a program that has been read.
  void SendProgramLines(const std::vector<std::string>& lines);

  // Passes of the acknowledge wait that ran last (for the time-out message).
  int LastAckPasses() const { return result_.lastAckPasses; }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 public Q_SLOTS:
  // Esc and the window's close button act as Cancel.
  void reject() override;

 private:
  void SetEdit(const std::string& text);
  std::string EditText() const;
  // "L26 0" and "L48 20 N001", each with its wait: the unit leaves download mode.
  void SendClosingCommands();
  // The file to send for the proposed name when that is not in the current folder: the same
  // name in the folder the program files were last chosen from, or else the operator's
  // choice (nothing when the chooser is cancelled).
  std::optional<std::string> ResolveProposal(const std::string& proposal);
  // The status-bar result of the download of `path` from the counts of the last send.
  void ShowSendResult(const std::string& path, std::size_t lines, const std::string& failure);
  void ShowResult(const std::string& text, const std::string& detail);

  IndexerHost& host_;
  bool sending_ = false;
  std::string proposal_;    // what FormCreate put into the file field (empty: nothing)
  bool cancelled_ = false;  // the operator stopped the send
  DownloadResult result_;   // how the last send went
  bool resultShown_ = false;
};

// Opens the download dialog modally, releases it and sets RunFlag to 1. With a `path`, the
// dialog offers that file instead of its proposal.
void SendProgramDialog(IndexerHost& host, const std::string& path = {});
