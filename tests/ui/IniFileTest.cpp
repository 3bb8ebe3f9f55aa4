#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include <unistd.h>

#include "Convert.h"
#include "IniFile.h"

namespace kvel {
namespace {

class IniFileTest : public testing::Test {
 protected:
  std::string PathOf(const std::string& name) const {
    return dir_.path().toStdString() + "/" + name;
  }
  std::string Content() const {
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  void SetContent(const std::string& text) const { std::ofstream(path_, std::ios::binary) << text; }
  bool Exists() const { return std::ifstream(path_).good(); }

  QTemporaryDir dir_;
  std::string path_ = PathOf("KVEL_32.INI");
  IniFile ini_{path_};
};

TEST_F(IniFileTest, NoFileUntilTheFirstWriteAndDefaultsMeanwhile) {
  EXPECT_EQ(ini_.ReadString("MainSection", "Control Type ", "4"), "4");
  EXPECT_EQ(ini_.ReadInteger("MainSection", "Control Type ", 4), 4);
  EXPECT_FALSE(ini_.SectionExists("MainSection"));
  EXPECT_FALSE(Exists());
  ini_.WriteInteger("MainSection", "Control Type ", 5);
  EXPECT_EQ(Content(), "[MainSection]\r\nControl Type =5\r\n");
}

TEST_F(IniFileTest, SectionsAndKeysIgnoreCaseButKeepTheirExactText) {
  ini_.WriteString("MainSection", "Control Type ", "5");
  EXPECT_EQ(ini_.ReadString("MAINSECTION", "control type ", "x"), "5");
  EXPECT_TRUE(ini_.SectionExists("mainsection"));
  // Without its trailing blank it is another key.
  EXPECT_EQ(ini_.ReadString("MainSection", "Control Type", "none"), "none");
  ini_.WriteString("MainSection", "Control Type", "7");
  EXPECT_EQ(ini_.ReadString("MainSection", "Control Type ", "x"), "5");
  EXPECT_EQ(ini_.ReadString("MainSection", "Control Type", "x"), "7");
  // Rewriting with other letter cases updates the one entry in place.
  ini_.WriteString("mainSECTION", "CONTROL TYPE ", "6");
  EXPECT_EQ(Content(), "[MainSection]\r\nControl Type =6\r\nControl Type=7\r\n");
  ini_.WriteString("MainSection", "CONTROL TYPE", "");
  EXPECT_EQ(ini_.ReadString("MainSection", "Control Type", "x"), "");
}

TEST_F(IniFileTest, ValuesAreNeitherTrimmedNorUnquoted) {
  const std::string values[] = {" Choose editor", "trailing  ", "\"quoted\"", "a=b", "", "  "};
  int n = 0;
  for (const std::string& value : values) {
    ini_.WriteString("Zorvdrive", "Key" + std::to_string(n++), value);
  }
  IniFile reopened(path_);
  n = 0;
  for (const std::string& value : values) {
    EXPECT_EQ(reopened.ReadString("Zorvdrive", "Key" + std::to_string(n++), "default"), value);
  }
}

TEST_F(IniFileTest, ReadsCrLfAndLfFilesAndKeepsTheirStyle) {
  SetContent("[A]\r\nx=1\r\n[B]\r\ny= 2 \r\n");
  EXPECT_EQ(ini_.ReadString("B", "y", ""), " 2 ");
  ini_.WriteString("B", "z", "3");
  EXPECT_EQ(Content(), "[A]\r\nx=1\r\n[B]\r\ny= 2 \r\nz=3\r\n");

  SetContent("[A]\nx=1\n[B]\ny=2");
  EXPECT_EQ(ini_.ReadString("B", "y", ""), "2");
  ini_.WriteString("A", "x", "9");
  ini_.WriteString("C", "w", "4");
  EXPECT_EQ(Content(), "[A]\nx=9\n[B]\ny=2\n\n[C]\nw=4\n");
}

TEST_F(IniFileTest, WritesLeaveOtherLinesAndSectionsUntouched) {
  const std::string before =
      "; written by hand\r\n"
      "[MainSection]\r\n"
      "Control Type =5\r\n"
      "junk line without equals\r\n"
      "\r\n"
      "[QN4100I]\r\n"
      "COMPort=2\r\n"
      "Editor= Choose editor\r\n"
      "\r\n"
      "[Other]\n"
      "Mixed=lf\n";
  SetContent(before);
  ini_.WriteString("MainSection", "New", "1");
  ini_.WriteString("QN4100I", "COMPort", "3");
  EXPECT_EQ(Content(),
            "; written by hand\r\n"
            "[MainSection]\r\n"
            "Control Type =5\r\n"
            "junk line without equals\r\n"
            "New=1\r\n"
            "\r\n"
            "[QN4100I]\r\n"
            "COMPort=3\r\n"
            "Editor= Choose editor\r\n"
            "\r\n"
            "[Other]\n"
            "Mixed=lf\n");
  EXPECT_EQ(ini_.ReadString("QN4100I", "Editor", ""), " Choose editor");
  EXPECT_EQ(ini_.ReadString("MainSection", "junk line without equals", "d"), "d");
}

TEST_F(IniFileTest, KeysBelongOnlyToTheirOwnSection) {
  SetContent("top=0\r\n[A]\r\nk=a\r\n[B]\r\nk=b\r\n[a]\r\nk=second\r\n");
  EXPECT_EQ(ini_.ReadString("A", "k", ""), "a");  // the first of two equal sections
  EXPECT_EQ(ini_.ReadString("B", "k", ""), "b");
  EXPECT_EQ(ini_.ReadString("", "top", "none"), "none");
  EXPECT_EQ(ini_.ReadString("C", "k", "none"), "none");
}

TEST_F(IniFileTest, ReadIntegerConvertsAndRaisesOnBadText) {
  SetContent("[S]\r\nCOMPort=2\r\nBaudrate=96OO\r\nEmpty=\r\n");
  EXPECT_EQ(ini_.ReadInteger("S", "COMPort", 1), 2);
  EXPECT_EQ(ini_.ReadInteger("S", "Missing", 1), 1);
  try {
    ini_.ReadInteger("S", "Baudrate", 9600);
    ADD_FAILURE();
  } catch (const EConvertError& error) {
    EXPECT_STREQ(error.what(), "'96OO' is not a valid integer value");
  }
  EXPECT_THROW(ini_.ReadInteger("S", "Empty", 3), EConvertError);
}

TEST_F(IniFileTest, ReplacesAtomicallyWithoutLeavingTemporaryFiles) {
  for (int i = 0; i < 5; ++i) ini_.WriteInteger("S", "K" + std::to_string(i), i);
  const QStringList entries = QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden);
  EXPECT_EQ(entries, QStringList{QStringLiteral("KVEL_32.INI")});
}

TEST_F(IniFileTest, EntriesThatWouldBreakTheFileAreRefused) {
  ini_.WriteString("S", "Macro", "ok");
  const std::string before = Content();
  EXPECT_THROW(ini_.WriteString("S", "Macro", "two\r\n[Injected]\r\nk=v"), std::runtime_error);
  EXPECT_THROW(ini_.WriteString("S", "a=b", "v"), std::runtime_error);
  EXPECT_THROW(ini_.WriteString("S", "[T]", "v"), std::runtime_error);
  EXPECT_THROW(ini_.WriteString("S]x", "k", "v"), std::runtime_error);
  EXPECT_EQ(Content(), before);
}

TEST_F(IniFileTest, UnwritableLocationThrowsWithTheReason) {
  SetContent("not a folder");
  for (const std::string& path : {path_ + "/KVEL_32.INI", PathOf("missing/KVEL_32.INI")}) {
    IniFile inside(path);  // its folder is a plain file, or missing
    try {
      inside.WriteString("S", "K", "V");
      ADD_FAILURE() << path;
    } catch (const std::runtime_error& error) {
      EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
    }
  }
  EXPECT_EQ(Content(), "not a folder");
}

struct LineEndRow {
  const char* name;
  std::string before;  // holds [S] with k=1
  std::string after;   // once n=2 is written into S and m=3 into a new section T
};

class IniLineEndTest : public IniFileTest, public testing::WithParamInterface<LineEndRow> {};

// Files from other editors and systems are read, and written back in their own style.
TEST_P(IniLineEndTest, ReadsAndKeepsTheFilesOwnLineEndsAndMark) {
  const LineEndRow& row = GetParam();
  SetContent(row.before);
  EXPECT_EQ(ini_.ReadString("S", "k", "default"), "1");
  EXPECT_TRUE(ini_.ReadError().empty());
  ini_.WriteString("S", "n", "2");
  ini_.WriteString("T", "m", "3");
  EXPECT_EQ(Content(), row.after);
  EXPECT_EQ(ini_.ReadString("T", "m", "default"), "3");
}

const std::string kBom = "\xEF\xBB\xBF";

INSTANTIATE_TEST_SUITE_P(
    Styles, IniLineEndTest,
    testing::Values(LineEndRow{"CrOnly", "[S]\rk=1\r", "[S]\rk=1\rn=2\r\r[T]\rm=3\r"},
                    LineEndRow{"CrOnlyNoLastEnd", "[S]\rk=1", "[S]\rk=1\rn=2\r\r[T]\rm=3\r"},
                    LineEndRow{"BomCrLf", kBom + "[S]\r\nk=1\r\n",
                               kBom + "[S]\r\nk=1\r\nn=2\r\n\r\n[T]\r\nm=3\r\n"},
                    LineEndRow{"BomLf", kBom + "[S]\nk=1\n", kBom + "[S]\nk=1\nn=2\n\n[T]\nm=3\n"}),
    [](const testing::TestParamInfo<LineEndRow>& row) { return std::string(row.param.name); });

TEST_F(IniFileTest, AFolderInPlaceOfTheFileReadsAsDefaultsAndSaysWhy) {
  ASSERT_TRUE(QDir().mkdir(QString::fromStdString(path_)));
  EXPECT_EQ(ini_.ReadString("S", "k", "default"), "default");
  EXPECT_EQ(ini_.ReadInteger("S", "k", 7), 7);
  EXPECT_FALSE(ini_.SectionExists("S"));
  EXPECT_NE(ini_.ReadError().find("'" + path_ + "'"), std::string::npos) << ini_.ReadError();
  EXPECT_NE(ini_.ReadError().find("Is a directory"), std::string::npos) << ini_.ReadError();
  try {
    ini_.WriteString("S", "k", "v");
    ADD_FAILURE();
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find(path_), std::string::npos) << error.what();
  }
  // A missing file is no read error.
  IniFile missing(PathOf("none.INI"));
  EXPECT_EQ(missing.ReadString("S", "k", "d"), "d");
  EXPECT_TRUE(missing.ReadError().empty());
}

TEST_F(IniFileTest, AFallbackIsReadUntilTheFileExistsAndSeedsIt) {
  const std::string shared = PathOf("shared.INI");
  std::ofstream(shared, std::ios::binary) << "[S]\r\nk=shared\r\nj=1\r\n";
  IniFile::SetFallback(path_, shared);
  EXPECT_EQ(ini_.ReadString("S", "k", "d"), "shared");
  ini_.WriteString("S", "k", "own");
  EXPECT_EQ(Content(), "[S]\r\nk=own\r\nj=1\r\n");
  std::ifstream in(shared, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "[S]\r\nk=shared\r\nj=1\r\n");
  // The own file wins from now on.
  std::ofstream(shared, std::ios::binary) << "[S]\r\nk=changed\r\n";
  EXPECT_EQ(ini_.ReadString("S", "k", "d"), "own");
  IniFile::SetFallback(path_, "");
}

TEST_F(IniFileTest, ReadOnlyFolderThrows) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  const std::string locked = PathOf("locked");
  ASSERT_TRUE(QDir().mkdir(QString::fromStdString(locked)));
  QFile::setPermissions(QString::fromStdString(locked), QFile::ReadOwner | QFile::ExeOwner);
  IniFile readOnly(locked + "/KVEL_32.INI");
  EXPECT_THROW(readOnly.WriteString("S", "K", "V"), std::runtime_error);
  QFile::setPermissions(QString::fromStdString(locked),
                        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(IniFileTest, AnUnreadableFileIsNotReplacedByAWrite) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  SetContent("[S]\r\nKeep=1\r\n");
  QFile::setPermissions(QString::fromStdString(path_), QFile::WriteOwner);
  EXPECT_EQ(ini_.ReadString("S", "Keep", "d"), "d");
  EXPECT_THROW(ini_.WriteString("S", "New", "2"), std::runtime_error);
  QFile::setPermissions(QString::fromStdString(path_), QFile::ReadOwner | QFile::WriteOwner);
  EXPECT_EQ(Content(), "[S]\r\nKeep=1\r\n");
}

// A write that fails because the file cannot be read says that it could not write, where and
// why; it does not read like a failed read.
TEST_F(IniFileTest, AWriteThatCannotReadTheFileFirstSaysItCouldNotWrite) {
  const auto writeError = [](IniFile& ini) {
    try {
      ini.WriteString("S", "k", "v");
    } catch (const std::runtime_error& error) {
      return std::string(error.what());
    }
    return std::string("<no error>");
  };
  ASSERT_TRUE(QDir().mkdir(QString::fromStdString(path_)));
  EXPECT_EQ(writeError(ini_), "Cannot write the INI file '" + path_ + "': Is a directory");

  // The file a fallback would start from is a folder too.
  const std::string own = PathOf("own.INI");
  IniFile::SetFallback(own, path_);
  IniFile seeded(own);
  EXPECT_EQ(writeError(seeded), "Cannot write the INI file '" + own + "': the settings file '" +
                                    path_ + "' it starts from cannot be read: Is a directory");
  IniFile::SetFallback(own, "");

  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  const std::string locked = PathOf("locked.INI");
  std::ofstream(locked, std::ios::binary) << "[S]\r\nKeep=1\r\n";
  QFile::setPermissions(QString::fromStdString(locked), QFile::WriteOwner);
  IniFile unreadable(locked);
  EXPECT_EQ(writeError(unreadable), "Cannot write the INI file '" + locked +
                                        "': its present content cannot be read: Permission denied");
  QFile::setPermissions(QString::fromStdString(locked), QFile::ReadOwner | QFile::WriteOwner);
}

}  // namespace
}  // namespace kvel
