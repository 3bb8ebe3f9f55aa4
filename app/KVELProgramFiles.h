#pragma once

#include <QObject>
#include <functional>
#include <optional>
#include <string>

#include "ui/RecentFiles.h"

class QAction;
class QMenu;
class QMimeData;
class QWidget;

// The program files the operator sends: the recent-programs menu beside "Send Program" and
// files dropped on the main window. Both open the download dialog with the file.
class KVELProgramFiles : public QObject {
  Q_OBJECT

 public:
  // How many programs the recent list keeps.
  static constexpr std::size_t kRecentLimit = 8;

  // `menu` is filled with the recent programs; `send` opens the download dialog with a file.
  KVELProgramFiles(QWidget* window, QMenu* menu, std::function<void(const std::string&)> send);

  kvel::RecentFiles& Recent() { return recent_; }
  // A program the download began to send goes to the top of the list.
  void Sent(const std::string& path);
  // A recent program chosen: sent again, or, when it is gone, said so and taken off the list.
  void Open(const std::string& path);

  // The one local file a drag brings, or what is wrong with the drag for sending a program.
  struct Dropped {
    std::string path;
    std::string problem;
  };
  static std::optional<Dropped> Examine(const QMimeData* data);
  // A drop on the window: the file is sent, or the reason it cannot be is shown.
  void Drop(const QMimeData* data);

 private:
  void Refill();

  QWidget* window_;
  QMenu* menu_;
  std::function<void(const std::string&)> send_;
  kvel::RecentFiles recent_;
};
