#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "RecentFiles.h"

namespace kvel {
namespace {

using Paths = std::vector<std::string>;

class RecentFilesTest : public testing::Test {
 protected:
  std::string Content() const {
    std::ifstream in(store_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  QTemporaryDir dir_;
  // In a folder that does not exist yet: the first change creates it.
  std::string store_ = dir_.path().toStdString() + "/state/kvel/recent-programs";
};

TEST_F(RecentFilesTest, NewestFirstWithoutRepeatsAndTheOldestDropsOut) {
  RecentFiles recent(store_, 3);
  EXPECT_TRUE(recent.Entries().empty());
  recent.Add("/p/a.PGM");
  recent.Add("/p/b.PGM");
  recent.Add("/p/c.PGM");
  EXPECT_EQ(recent.Entries(), (Paths{"/p/c.PGM", "/p/b.PGM", "/p/a.PGM"}));
  recent.Add("/p/a.PGM");  // sent again: back to the top, not listed twice
  EXPECT_EQ(recent.Entries(), (Paths{"/p/a.PGM", "/p/c.PGM", "/p/b.PGM"}));
  recent.Add("/p/d.PGM");
  EXPECT_EQ(recent.Entries(), (Paths{"/p/d.PGM", "/p/a.PGM", "/p/c.PGM"}));
  recent.Remove("/p/a.PGM");
  recent.Remove("/p/never.PGM");
  EXPECT_EQ(recent.Entries(), (Paths{"/p/d.PGM", "/p/c.PGM"}));
}

TEST_F(RecentFilesTest, TheListIsKeptAcrossRunsInItsOwnFile) {
  {
    RecentFiles recent(store_, 8);
    recent.Add("/p/a b.PGM");
    recent.Add("/p/b=1;x.PGM");
    // A path one line cannot hold is not kept (it would read back as two).
    recent.Add("/p/two\nlines.PGM");
    recent.Add("");
  }
  EXPECT_EQ(Content(), "/p/b=1;x.PGM\n/p/a b.PGM\n");
  RecentFiles again(store_, 8);
  EXPECT_EQ(again.Entries(), (Paths{"/p/b=1;x.PGM", "/p/a b.PGM"}));
  again.Clear();
  EXPECT_EQ(Content(), "");
  EXPECT_TRUE(RecentFiles(store_, 8).Entries().empty());
}

TEST_F(RecentFilesTest, AFileWrittenElsewhereIsReadWithinTheLimit) {
  RecentFiles(store_, 8).Add("/seed");
  std::ofstream(store_, std::ios::binary) << "/a\r\n\n/b\n/a\n/c\n/d";
  // CR LF line ends read as well; blank lines and repeats are skipped.
  RecentFiles recent(store_, 3);
  EXPECT_EQ(recent.Entries(), (Paths{"/a", "/b", "/c"}));
}

TEST_F(RecentFilesTest, AStoreThatCannotBeWrittenKeepsTheListForTheRun) {
  const std::string blocked = dir_.path().toStdString() + "/file";
  std::ofstream(blocked) << "x";
  RecentFiles recent(blocked + "/recent-programs", 4);
  recent.Add("/p/a.PGM");
  EXPECT_EQ(recent.Entries(), Paths{"/p/a.PGM"});
}

TEST(UserStateFileTest, TheStateFolderOrTheHomeFolder) {
  const char* state = std::getenv("XDG_STATE_HOME");
  const std::string savedState = state != nullptr ? state : "";
  const char* home = std::getenv("HOME");
  const std::string savedHome = home != nullptr ? home : "";
  ::setenv("XDG_STATE_HOME", "/state", 1);
  EXPECT_EQ(UserStateFile("recent-programs"), "/state/kvel/recent-programs");
  // A relative state folder is not one: the home folder's applies.
  ::setenv("XDG_STATE_HOME", "relative", 1);
  ::setenv("HOME", "/home/u", 1);
  EXPECT_EQ(UserStateFile("x"), "/home/u/.local/state/kvel/x");
  ::unsetenv("XDG_STATE_HOME");
  ::unsetenv("HOME");
  EXPECT_EQ(UserStateFile("x"), "");
  if (state != nullptr) ::setenv("XDG_STATE_HOME", savedState.c_str(), 1);
  if (home != nullptr) ::setenv("HOME", savedHome.c_str(), 1);
}

}  // namespace
}  // namespace kvel
