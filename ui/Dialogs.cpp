#include "Dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <utility>

#include "Convert.h"
#include "IniFile.h"
#include "RecentFiles.h"
#include "Shutdown.h"

namespace kvel {
namespace {

std::function<MsgResult(const MessageBoxRequest&)>& MessageBoxHook() {
  static std::function<MsgResult(const MessageBoxRequest&)> hook;
  return hook;
}
std::function<std::optional<std::string>(const FileDialogRequest&)>& FileDialogHook() {
  static std::function<std::optional<std::string>(const FileDialogRequest&)> hook;
  return hook;
}
std::function<void()>& BeepHook() {
  static std::function<void()> hook;
  return hook;
}

void RequireApplication(const char* what) {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    throw std::logic_error(std::string("No application object to show ") + what);
  }
}

QMessageBox::Icon IconOf(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::Information:
      return QMessageBox::Information;
    case MsgIcon::Warning:
      return QMessageBox::Warning;
    case MsgIcon::Error:
      return QMessageBox::Critical;
    case MsgIcon::Question:
      return QMessageBox::Question;
    case MsgIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

std::vector<std::string> Split(const std::string& text, const std::string& separators) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t at = text.find_first_of(separators, start);
    parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

std::string CaseVariant(std::string s, bool upper) {
  for (char& c : s) {
    if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

MsgResult EscapeResult(MsgButtons buttons) {
  switch (buttons) {
    case MsgButtons::Ok:
      return MsgResult::Ok;
    case MsgButtons::YesNo:
      return MsgResult::No;
    case MsgButtons::OkCancel:
    case MsgButtons::YesNoCancel:
      break;
  }
  return MsgResult::Cancel;
}

// The folders last chosen, by filter: kept for the session and in the user's state folder.
constexpr const char* kFolderSection = "Folders";

std::string FolderMemoryPath() {
  return UserStateFile("dialog-folders.ini");
}

std::map<std::string, std::string>& RememberedFolders() {
  static std::map<std::string, std::string> folders;
  return folders;
}

bool IsFolder(const std::string& path) {
  return !path.empty() && QFileInfo(QFile::decodeName(path.c_str())).isDir();
}

}  // namespace

std::string FileDialogStartFolder(const FileDialogRequest& request) {
  if (const std::size_t slash = request.fileName.rfind('/'); slash != std::string::npos) {
    const std::string folder = slash == 0 ? "/" : request.fileName.substr(0, slash);
    if (IsFolder(folder)) return folder;
  } else if (!request.fileName.empty() &&
             QFileInfo::exists(QFile::decodeName(request.fileName.c_str()))) {
    // The file the program uses now (a log in its working folder): shown where it is.
    return QFile::encodeName(QFileInfo(QFile::decodeName(request.fileName.c_str())).absolutePath())
        .toStdString();
  }
  auto& folders = RememberedFolders();
  auto known = folders.find(request.filter);
  if (known == folders.end()) {
    std::string stored;
    if (const std::string path = FolderMemoryPath(); !path.empty()) {
      stored = IniFile(path).ReadString(kFolderSection, request.filter, "");
    }
    known = folders.emplace(request.filter, stored).first;
  }
  if (IsFolder(known->second)) return known->second;
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (!documents.isEmpty() && QFileInfo(documents).isDir()) {
    return QFile::encodeName(documents).toStdString();
  }
  return QFile::encodeName(QDir::homePath()).toStdString();
}

void RememberFileDialogFolder(const FileDialogRequest& request, const std::string& chosen) {
  const QFileInfo file(QFile::decodeName(chosen.c_str()));
  const std::string folder = QFile::encodeName(file.absolutePath()).toStdString();
  std::string& known = RememberedFolders()[request.filter];
  if (known == folder) return;
  known = folder;
  if (const std::string path = FolderMemoryPath(); !path.empty()) {
    // Only a convenience: a state folder that cannot be written leaves it for this run.
    try {
      QDir().mkpath(QFileInfo(QFile::decodeName(path.c_str())).absolutePath());
      IniFile(path).WriteString(kFolderSection, request.filter, folder);
    } catch (const std::exception&) {
    }
  }
}

MsgResult ShowMessageBox(QWidget* parent, const MessageBoxRequest& request) {
  // A copy, so that a hook may replace itself while it answers.
  if (ShutdownRequested()) {
    // Nobody is left to answer: say it where a log catches it and take the escape button.
    std::fprintf(stderr, "KVEL: %s: %s\n", request.caption.c_str(), request.text.c_str());
    return EscapeResult(request.buttons);
  }
  if (const auto hook = MessageBoxHook()) return hook(request);
  RequireApplication("a message box");
  QMessageBox box(IconOf(request.icon), ToQt(request.caption), ToQt(request.text),
                  QMessageBox::NoButton, parent);
  box.setWindowModality(Qt::ApplicationModal);
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton first = QMessageBox::Ok;
  QMessageBox::StandardButton escape = QMessageBox::Ok;
  switch (request.buttons) {
    case MsgButtons::Ok:
      buttons = QMessageBox::Ok;
      break;
    case MsgButtons::OkCancel:
      buttons = QMessageBox::Ok | QMessageBox::Cancel;
      escape = QMessageBox::Cancel;
      break;
    case MsgButtons::YesNo:
      buttons = QMessageBox::Yes | QMessageBox::No;
      first = QMessageBox::Yes;
      escape = QMessageBox::No;
      break;
    case MsgButtons::YesNoCancel:
      buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
      first = QMessageBox::Yes;
      escape = QMessageBox::Cancel;
      break;
  }
  box.setStandardButtons(buttons);
  box.setDefaultButton(first);
  box.setEscapeButton(escape);
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  switch (clicked != nullptr ? box.standardButton(clicked) : escape) {
    case QMessageBox::Yes:
      return MsgResult::Yes;
    case QMessageBox::No:
      return MsgResult::No;
    case QMessageBox::Cancel:
      return MsgResult::Cancel;
    default:
      return MsgResult::Ok;
  }
}

std::vector<std::string> ConvertFileFilter(const std::string& classicFilter) {
  std::vector<std::string> filters;
  if (classicFilter.empty()) return filters;
  const std::vector<std::string> parts = Split(classicFilter, "|");
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    std::vector<std::string> patterns;
    auto add = [&patterns](const std::string& p) {
      for (const std::string& known : patterns) {
        if (known == p) return;
      }
      patterns.push_back(p);
    };
    for (const std::string& pattern : Split(parts[i + 1], "; ")) {
      if (pattern.empty()) continue;
      add(pattern);
      add(CaseVariant(pattern, false));
      add(CaseVariant(pattern, true));
    }
    if (patterns.empty()) continue;
    std::string filter = parts[i] + " (";
    for (std::size_t k = 0; k < patterns.size(); ++k) filter += (k ? " " : "") + patterns[k];
    filters.push_back(filter + ")");
  }
  return filters;
}

std::optional<std::string> RunFileDialog(QWidget* parent, const FileDialogRequest& request) {
  if (ShutdownRequested()) return std::nullopt;
  if (const auto hook = FileDialogHook()) {
    std::optional<std::string> chosen = hook(request);
    if (chosen && !chosen->empty()) RememberFileDialogFolder(request, *chosen);
    return chosen;
  }
  RequireApplication("a file dialog");
  QFileDialog dialog(parent);
  dialog.setWindowModality(Qt::ApplicationModal);
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  // The filter list shows the descriptions alone; the two-case pattern lists stay hidden.
  dialog.setOption(QFileDialog::HideNameFilterDetails, true);
  // Like the classic save dialog: choosing an existing file is not questioned, since the
  // program may append to it (the terminal log).
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  QStringList filters;
  for (const std::string& f : ConvertFileFilter(request.filter)) filters << ToQt(f);
  if (!filters.isEmpty()) dialog.setNameFilters(filters);
  if (!request.defaultExt.empty()) dialog.setDefaultSuffix(ToQt(request.defaultExt));
  dialog.setDirectory(QFile::decodeName(FileDialogStartFolder(request).c_str()));
  if (!request.fileName.empty()) {
    const QFileInfo preset(QFile::decodeName(request.fileName.c_str()));
    dialog.selectFile(preset.fileName());
  }
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  std::string path = QFile::encodeName(chosen.first()).toStdString();
  RememberFileDialogFolder(request, path);
  return path;
}

void Beep() {
  if (const auto hook = BeepHook()) {
    hook();
    return;
  }
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) QApplication::beep();
}

void SetMessageBoxHook(std::function<MsgResult(const MessageBoxRequest&)> hook) {
  MessageBoxHook() = std::move(hook);
}
void SetFileDialogHook(std::function<std::optional<std::string>(const FileDialogRequest&)> hook) {
  FileDialogHook() = std::move(hook);
}
void SetBeepHook(std::function<void()> hook) {
  BeepHook() = std::move(hook);
}

}  // namespace kvel
