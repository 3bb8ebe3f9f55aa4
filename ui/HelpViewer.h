#pragma once

#include <functional>
#include <map>
#include <string>

class QWidget;

namespace kvel {

// One page of the program's help: its context number, title and HTML body.
struct HelpPage {
  int context = 0;
  std::string title;
  std::string html;
};

// The help viewer that stands in for the classic help file: a contents page, an index
// with search, and one page per context number. The program registers its pages once.
class HelpViewer {
 public:
  static HelpViewer& Instance();

  void SetPages(std::map<int, HelpPage> pages, int contentsContext);
  void ShowContents(QWidget* parent);
  void ShowIndex(QWidget* parent);                 // the index with the search field focused
  void ShowContext(QWidget* parent, int context);  // unknown contexts show the contents

  // What the viewer was asked to show last ("contents", "index" or "context N"); tests read it.
  const std::string& LastRequest() const { return lastRequest_; }
  // While set, requests are only recorded, nothing is shown.
  void SetHeadless(bool on) { headless_ = on; }
  const std::map<int, HelpPage>& Pages() const { return pages_; }
  // The viewer's window while it exists (created by the first request that shows it).
  QWidget* Window() const { return window_; }
  // Closes and destroys the window; the next request creates it again.
  void CloseWindow();

 private:
  std::map<int, HelpPage> pages_;
  int contents_ = 0;
  std::string lastRequest_;
  bool headless_ = false;
  QWidget* window_ = nullptr;
};

}  // namespace kvel
