#include "KVELProgramFiles.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QUrl>
#include <utility>

#include "ui/Dialogs.h"
#include "ui/ErrorDisplay.h"

namespace {

constexpr const char* kCaption = "Send Program";

QString Local(const std::string& path) {
  return QFile::decodeName(path.c_str());
}

std::string Bytes(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

// A menu caption shows "&" only doubled.
QString MenuText(QString text) {
  return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

}  // namespace

KVELProgramFiles::KVELProgramFiles(QWidget* window, QMenu* menu,
                                   std::function<void(const std::string&)> send)
    : QObject(window),
      window_(window),
      menu_(menu),
      send_(std::move(send)),
      recent_(kvel::UserStateFile("recent-programs"), kRecentLimit) {
  menu_->setToolTipsVisible(true);
  Refill();
}

void KVELProgramFiles::Sent(const std::string& path) {
  recent_.Add(path);
  Refill();
}

void KVELProgramFiles::Open(const std::string& path) {
  if (!QFileInfo(Local(path)).isFile()) {
    recent_.Remove(path);
    Refill();
    kvel::ShowMessageBox(window_,
                         "The program file " + path +
                             " is no longer there.\nIt has been taken off the recent programs.",
                         kCaption, kvel::MsgIcon::Warning);
    return;
  }
  // Sending it again puts it at the top.
  send_(path);
}

void KVELProgramFiles::Refill() {
  menu_->clear();
  const auto& entries = recent_.Entries();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const QFileInfo file(Local(entries[i]));
    // The first nine are reached by their digit.
    const QString number =
        i < 9 ? QStringLiteral("&%1 ").arg(i + 1) : QStringLiteral("%1 ").arg(i + 1);
    QAction* item = menu_->addAction(number + MenuText(file.fileName()) + QStringLiteral(" (") +
                                     MenuText(file.absolutePath()) + QStringLiteral(")"));
    item->setObjectName(QStringLiteral("RecentProgram%1").arg(i + 1));
    item->setToolTip(file.absoluteFilePath());
    const std::string path = entries[i];
    connect(item, &QAction::triggered, this,
            [this, path] { kvel::Guarded([this, path] { Open(path); }); });
  }
  if (!entries.empty()) {
    menu_->addSeparator();
    QAction* clear = menu_->addAction(QStringLiteral("Clear list"));
    clear->setObjectName(QStringLiteral("ClearRecentPrograms"));
    connect(clear, &QAction::triggered, this, [this] {
      recent_.Clear();
      Refill();
    });
  }
  // With nothing to offer the menu is there, but cannot be opened.
  menu_->menuAction()->setEnabled(!entries.empty());
}

std::optional<KVELProgramFiles::Dropped> KVELProgramFiles::Examine(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls()) return std::nullopt;
  const QList<QUrl> urls = data->urls();
  if (urls.isEmpty()) return std::nullopt;
  if (urls.size() > 1) {
    return Dropped{{},
                   std::to_string(urls.size()) +
                       " files were dropped. Drop one program file at a time to send it."};
  }
  const QUrl& url = urls.front();
  if (!url.isLocalFile()) {
    return Dropped{{},
                   "Only a file on this computer can be sent as a program, not " +
                       Bytes(url.toDisplayString()) + "."};
  }
  const std::string path = Bytes(url.toLocalFile());
  const QFileInfo file(url.toLocalFile());
  if (file.isDir()) {
    return Dropped{{}, path + " is a folder. Drop a program file to send it."};
  }
  if (!file.exists()) return Dropped{{}, "The file " + path + " is not there."};
  return Dropped{path, {}};
}

void KVELProgramFiles::Drop(const QMimeData* data) {
  const std::optional<Dropped> dropped = Examine(data);
  if (!dropped) return;
  if (!dropped->problem.empty()) {
    kvel::ShowMessageBox(window_, dropped->problem, kCaption, kvel::MsgIcon::Warning);
    return;
  }
  send_(dropped->path);
}
