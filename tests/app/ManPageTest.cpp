#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <set>

#include "AppTestSupport.h"

namespace {

class ManPageTest : public AppTest {};

// Every key the main window answers to (its menus and the invisible items alike) is in the
// KEYS section of kvel(1).
TEST_F(ManPageTest, KeysSectionListsEveryShortcutOfTheMainWindow) {
  TForm1& form = Start();
  const std::string page = ReadFile(KVEL_MAN_PAGE);
  const std::size_t keys = page.find(".SH KEYS");
  ASSERT_NE(keys, std::string::npos);
  const std::string section = page.substr(keys, page.find(".SH ", keys + 1) - keys);
  std::set<std::string> shortcuts;
  for (const QAction* action : form.findChildren<QAction*>()) {
    for (const QKeySequence& key : action->shortcuts()) {
      shortcuts.insert(key.toString(QKeySequence::PortableText).toStdString());
    }
  }
  EXPECT_GE(shortcuts.size(), 25U);
  for (const std::string& key : shortcuts) {
    if (key.size() == 5 && key.rfind("Alt+", 0) == 0 && key[4] >= '0' && key[4] <= '9') {
      EXPECT_NE(section.find(".BR Alt+0 \" ... \" Alt+9"), std::string::npos) << key;
      continue;
    }
    EXPECT_NE(section.find(".B " + key + "\n"), std::string::npos) << key << " is not in kvel(1)";
  }
}

}  // namespace
