#include "TextViewer.h"

#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWidget>
#include <stdexcept>

#include "Convert.h"
#include "Form.h"

namespace kvel {
namespace {

class TextWindow : public QWidget {
 public:
  explicit TextWindow(QWidget* owner) : QWidget(owner, Qt::Window) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("textViewer"));
    resize(720, 480);
  }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (!ClosedByEsc(this, event)) QWidget::keyPressEvent(event);
  }
};

}  // namespace

QWidget* ShowTextFile(QWidget* owner, const std::string& path) {
  const QString name = QFile::decodeName(path.c_str());
  QFile file(name);
  if (QFileInfo(name).isDir() || !file.open(QIODevice::ReadOnly)) {
    throw std::runtime_error("Cannot read the file '" + path +
                             "': " + file.errorString().toStdString());
  }
  const qint64 size = file.size();
  const bool cut = size > kTextViewerLimit;
  if (cut) file.seek(size - kTextViewerLimit);
  // The log holds the line's bytes as they came: each byte is one character.
  const QByteArray bytes = file.read(kTextViewerLimit);
  file.close();

  auto* window = new TextWindow(owner != nullptr ? owner->window() : nullptr);
  window->setWindowTitle(QStringLiteral("KVEL - %1").arg(QFileInfo(name).fileName()));
  auto* layout = new QVBoxLayout(window);
  if (cut) {
    auto* note = new QLabel(QStringLiteral("Only the last %1 MB of %2 are shown.")
                                .arg(kTextViewerLimit / (1024 * 1024))
                                .arg(name));
    note->setObjectName(QStringLiteral("textViewerNote"));
    layout->addWidget(note);
  }
  auto* text = new QPlainTextEdit;
  text->setObjectName(QStringLiteral("textViewerText"));
  text->setAccessibleName(QFileInfo(name).fileName());
  text->setReadOnly(true);
  text->setLineWrapMode(QPlainTextEdit::NoWrap);
  text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  // Line ends as the line sends them: CR LF, LF CR or a lone CR each end one line.
  QString content =
      ToQt(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
  content.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  content.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
  content.replace(u'\r', u'\n');
  text->setPlainText(content);
  layout->addWidget(text);
  auto* close = new QPushButton(QStringLiteral("Close"));
  close->setObjectName(QStringLiteral("textViewerClose"));
  QObject::connect(close, &QPushButton::clicked, window, &QWidget::close);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(close);
  layout->addLayout(buttons);
  if (owner != nullptr) {
    const QRect area = owner->window()->frameGeometry();
    window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
  }
  window->show();
  text->verticalScrollBar()->setValue(text->verticalScrollBar()->maximum());
  text->setFocus();
  return window;
}

}  // namespace kvel
