#pragma once

#include <optional>
#include <string>

class QWidget;
class TCustomComPort;

// What the indexer dialogues need of the main window. The main window implements it; tests
// implement it without any main window, so the dialogues run against a bare port.
class IndexerHost {
 public:
  virtual ~IndexerHost() = default;

  // The main window's open port.
  virtual TCustomComPort& Port() = 0;
  // The main window: parent of the modal dialogues and the frame the windows centre over.
  virtual QWidget* Window() = 0;
  // Disables or enables the main window (menus and shortcuts included).
  virtual void SetWindowEnabled(bool enabled) = 0;
  // Writes into the terminal (not logged).
  virtual void PutTerminalText(const std::string& text) = 0;
  // Status-bar panel 2.
  virtual void SetUnitStatus(const std::string& text) = 0;
  // The units list: emptied (text and items), or one entry added and made the list's text.
  virtual void ClearUnitsList() = 0;
  virtual void AddUnitEntry(const std::string& entry) = 0;
  // "There is no control selected." message.
  virtual void ShowNoControlSelected() = 0;
  // Starts the main window's receive poll again.
  virtual void StartReceivePoll() = 0;
  // The main window's "Parameters" command: heading, L-parameter upload and grid refresh.
  virtual void ReadLParametersView() = 0;
  // The main window's save-file dialog with the given filter and default extension.
  virtual std::optional<std::string> RunSaveDialog(const std::string& filter,
                                                   const std::string& defaultExt) = 0;
  // The main window's open-file dialog with the given filter and default extension (nothing
  // when it is cancelled).
  virtual std::optional<std::string> RunOpenDialog(const std::string& filter,
                                                   const std::string& defaultExt);
  // How a download or upload ended, for the status bar: `text` names the file by its name
  // ("Saved MU-10.PGM: 61 lines"), `detail` says the same with the whole path.
  virtual void ShowTransferResult(const std::string& text, const std::string& detail) = 0;
  // A program file the download has read and begins to send (for the recent programs).
  virtual void ProgramFileSent(const std::string& path) = 0;
};
