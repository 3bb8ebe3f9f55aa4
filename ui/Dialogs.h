#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace kvel {

enum class MsgIcon { None, Information, Warning, Error, Question };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgResult { Ok, Cancel, Yes, No };

struct MessageBoxRequest {
  std::string text;
  std::string caption;
  MsgIcon icon = MsgIcon::None;
  MsgButtons buttons = MsgButtons::Ok;
};

// Shows a modal message box (application-modal) and returns the button pressed. Once a
// shutdown is requested (ui/Shutdown.h) nothing is shown: the text goes to standard error and
// the escape button answers (Cancel, No, or Ok for a box with only Ok); a file dialog answers
// as cancelled.
MsgResult ShowMessageBox(QWidget* parent, const MessageBoxRequest& request);
inline MsgResult ShowMessageBox(QWidget* parent, const std::string& text,
                                const std::string& caption, MsgIcon icon,
                                MsgButtons buttons = MsgButtons::Ok) {
  return ShowMessageBox(parent, MessageBoxRequest{text, caption, icon, buttons});
}

// File choosers. `filter` is given in the classic form "Logfiles (*.LOG)|*.LOG"; its
// patterns match both letter cases on Linux. Returns the chosen path, or nothing on cancel.
struct FileDialogRequest {
  bool save = false;
  std::string fileName;  // preset
  std::string filter;
  std::string defaultExt;  // without the dot
};
// A dialog starts in the folder a preset names; with a preset that is a file in the current
// folder, there; else in the folder last chosen in a dialog with the same filter (programs,
// logs and command files each remember their own, across runs); else in the user's documents
// folder.
std::optional<std::string> RunFileDialog(QWidget* parent, const FileDialogRequest& request);
std::string FileDialogStartFolder(const FileDialogRequest& request);
// Remembers the folder of `chosen` for dialogs with the filter of `request`.
void RememberFileDialogFolder(const FileDialogRequest& request, const std::string& chosen);
// The classic filter as Qt name filters, one per description: each keeps its description
// for display and lists its patterns in both letter cases
// ("Logfiles (*.LOG)|*.LOG" gives "Logfiles (*.LOG) (*.LOG *.log)").
std::vector<std::string> ConvertFileFilter(const std::string& classicFilter);

// The system beep.
void Beep();

// Tests answer dialogs without a person: while a hook is set, it is called instead of
// showing anything. Pass an empty function to show real dialogs again.
void SetMessageBoxHook(std::function<MsgResult(const MessageBoxRequest&)> hook);
void SetFileDialogHook(std::function<std::optional<std::string>(const FileDialogRequest&)> hook);
void SetBeepHook(std::function<void()> hook);

}  // namespace kvel
