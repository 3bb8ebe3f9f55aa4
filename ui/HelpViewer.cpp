#include "HelpViewer.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <stdexcept>
#include <utility>

#include "Convert.h"
#include "Form.h"

namespace kvel {
namespace {

constexpr int kContextRole = Qt::UserRole;

// The help window: contents and index tabs beside the page view.
class HelpWindow : public QWidget {
 public:
  HelpWindow(QWidget* owner, const std::map<int, HelpPage>* pages)
      : QWidget(owner, Qt::Window), pages_(pages) {
    setObjectName(QStringLiteral("helpWindow"));
    setWindowTitle(QStringLiteral("KVEL Help"));
    resize(760, 520);
    auto* tabs = new QTabWidget;
    tabs_ = tabs;
    tabs->setAccessibleName(QStringLiteral("Help topics"));
    contents_ = new QListWidget;
    contents_->setObjectName(QStringLiteral("helpContents"));
    contents_->setAccessibleName(QStringLiteral("Contents"));
    tabs->addTab(contents_, QStringLiteral("Contents"));
    auto* indexPage = new QWidget;
    auto* indexLayout = new QVBoxLayout(indexPage);
    search_ = new QLineEdit;
    search_->setObjectName(QStringLiteral("helpIndexSearch"));
    search_->setPlaceholderText(QStringLiteral("Type the words to find"));
    index_ = new QListWidget;
    index_->setObjectName(QStringLiteral("helpIndexList"));
    index_->setAccessibleName(QStringLiteral("Index"));
    indexLayout->addWidget(search_);
    indexLayout->addWidget(index_);
    tabs->addTab(indexPage, QStringLiteral("Index"));
    page_ = new QTextBrowser;
    page_->setObjectName(QStringLiteral("helpPage"));
    page_->setAccessibleName(QStringLiteral("Help page"));
    page_->setOpenLinks(false);
    auto* splitter = new QSplitter;
    splitter->addWidget(tabs);
    splitter->addWidget(page_);
    splitter->setStretchFactor(1, 3);
    splitter_ = splitter;
    auto* close = new QPushButton(QStringLiteral("Close"));
    close->setObjectName(QStringLiteral("helpClose"));
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter);
    layout->addLayout(buttons);

    auto open = [this](QListWidgetItem* item) {
      if (item != nullptr) ShowPage(item->data(kContextRole).toInt());
    };
    connect(contents_, &QListWidget::itemActivated, this, open);
    connect(contents_, &QListWidget::itemClicked, this, open);
    connect(index_, &QListWidget::itemActivated, this, open);
    connect(index_, &QListWidget::itemClicked, this, open);
    connect(search_, &QLineEdit::textChanged, this, [this] { FillIndex(); });
    connect(search_, &QLineEdit::returnPressed, this, [this, open] { open(index_->item(0)); });
    connect(page_, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) { Follow(url); });
    Refill();
  }

  void Refill() {
    contents_->clear();
    words_.clear();
    for (const auto& [context, page] : *pages_) {
      auto* item = new QListWidgetItem(ToQt(page.title), contents_);
      item->setData(kContextRole, context);
      item->setToolTip(ToQt(page.title));
      QTextDocument document;
      document.setHtml(ToQt(page.html));
      words_[context] = (ToQt(page.title) + u' ' + document.toPlainText()).toCaseFolded();
    }
    FillIndex();
    FitSidebar();
  }

  // The contents and index lists as wide as their longest title, within reason; a title cut
  // all the same (the user narrowed them) is whole in the entry's hint.
  void FitSidebar() {
    const int scrollBar = contents_->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const int frame = 2 * contents_->frameWidth();
    const int needed = std::max(contents_->sizeHintForColumn(0), index_->sizeHintForColumn(0));
    // The tab page's own margins around the index list, and the tab frame.
    const int wanted = needed + frame + scrollBar + 32;
    const int sidebar = std::clamp(wanted, 220, width() / 2);
    splitter_->setSizes({sidebar, std::max(300, width() - sidebar)});
  }

  // The page of `context`; false when there is none.
  bool ShowPage(int context) {
    const auto found = pages_->find(context);
    if (found == pages_->end()) return false;
    page_->setHtml(ToQt(found->second.html));
    return true;
  }

  void ShowContentsTab(int contentsContext) {
    tabs_->setCurrentIndex(0);
    ShowContentsPage(contentsContext);
  }

  void ShowIndexTab(int contentsContext) {
    tabs_->setCurrentIndex(1);
    if (page_->document()->isEmpty()) ShowContentsPage(contentsContext);
    search_->setFocus();
    search_->selectAll();
  }

  void Present() {
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    // Each time it opens, it opens over the middle of the window it belongs to; while open,
    // it stays where the user put it.
    if (!isVisible() && parentWidget() != nullptr) {
      const QRect owner = parentWidget()->window()->frameGeometry();
      move(owner.center() - QPoint(width() / 2, height() / 2));
    }
    show();
    raise();
    activateWindow();
  }

 protected:
  // Esc closes the help, whichever of its controls has the focus.
  void keyPressEvent(QKeyEvent* event) override {
    if (!ClosedByEsc(this, event)) QWidget::keyPressEvent(event);
  }

 private:
  // The contents context's page, or else a list of links to all pages.
  void ShowContentsPage(int contentsContext) {
    if (ShowPage(contentsContext)) return;
    QString list = QStringLiteral("<h2>Contents</h2><ul>");
    for (const auto& [context, page] : *pages_) {
      list += QStringLiteral("<li><a href=\"ctx:%1\">%2</a></li>")
                  .arg(context)
                  .arg(ToQt(page.title).toHtmlEscaped());
    }
    page_->setHtml(list + QStringLiteral("</ul>"));
  }

  // Index entries, sorted by title: the pages whose title or text holds every word typed.
  void FillIndex() {
    index_->clear();
    const QStringList wanted = search_->text().toCaseFolded().split(u' ', Qt::SkipEmptyParts);
    for (const auto& [context, page] : *pages_) {
      const QString& haystack = words_[context];
      bool all = true;
      for (const QString& word : wanted) all = all && haystack.contains(word);
      if (!all) continue;
      auto* item = new QListWidgetItem(ToQt(page.title), index_);
      item->setData(kContextRole, context);
      item->setToolTip(ToQt(page.title));
    }
    index_->sortItems();
  }

  void Follow(const QUrl& url) {
    if (url.scheme() == QStringLiteral("ctx")) {
      bool ok = false;
      const int context = url.path().toInt(&ok);
      if (ok) ShowPage(context);
    }
  }

  const std::map<int, HelpPage>* pages_;
  std::map<int, QString> words_;
  QTabWidget* tabs_ = nullptr;
  QSplitter* splitter_ = nullptr;
  QListWidget* contents_ = nullptr;
  QLineEdit* search_ = nullptr;
  QListWidget* index_ = nullptr;
  QTextBrowser* page_ = nullptr;
};

}  // namespace

HelpViewer& HelpViewer::Instance() {
  static HelpViewer viewer;
  return viewer;
}

void HelpViewer::SetPages(std::map<int, HelpPage> pages, int contentsContext) {
  pages_ = std::move(pages);
  contents_ = contentsContext;
  if (window_ != nullptr) static_cast<HelpWindow*>(window_)->Refill();
}

void HelpViewer::CloseWindow() {
  delete window_;
  window_ = nullptr;
}

namespace {

// One window for the whole run, owned by the caller's top-level window so that it goes
// with it; a window without owner is destroyed when the application quits.
HelpWindow* EnsureWindow(QWidget*& window, QWidget* parent, const std::map<int, HelpPage>* pages) {
  if (window != nullptr) return static_cast<HelpWindow*>(window);
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    throw std::logic_error("No application object to show the help");
  }
  auto* created = new HelpWindow(parent != nullptr ? parent->window() : nullptr, pages);
  window = created;
  QObject::connect(created, &QObject::destroyed, [&window] { window = nullptr; });
  if (created->parent() == nullptr) {
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, created, &QObject::deleteLater);
  }
  return created;
}

}  // namespace

void HelpViewer::ShowContents(QWidget* parent) {
  lastRequest_ = "contents";
  if (headless_) return;
  HelpWindow* window = EnsureWindow(window_, parent, &pages_);
  window->ShowContentsTab(contents_);
  window->Present();
}

void HelpViewer::ShowIndex(QWidget* parent) {
  lastRequest_ = "index";
  if (headless_) return;
  HelpWindow* window = EnsureWindow(window_, parent, &pages_);
  window->Present();
  window->ShowIndexTab(contents_);
}

void HelpViewer::ShowContext(QWidget* parent, int context) {
  lastRequest_ = "context " + std::to_string(context);
  if (headless_) return;
  HelpWindow* window = EnsureWindow(window_, parent, &pages_);
  if (!window->ShowPage(context)) window->ShowContentsTab(contents_);
  window->Present();
}

}  // namespace kvel
