#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <fstream>

#include "AppTestSupport.h"
#include "Config.h"
#include "KVELProgramFiles.h"
#include "KVEL_Var.h"
#include "MemoryPeer.h"
#include "indexer/PCtoIDX.h"

namespace {

// The recent programs and dropped files of the real window, against a simulated indexer on
// COM1 in virtual time.
class ProgramFilesTest : public AppTest {
 protected:
  TForm1& StartWith(const std::string& statements) {
    config_.ApplyText(statements, "test");
    peer_ = std::make_unique<kvel::sim::MemoryPeer>(*config_.lines.front().line);
    line_->SetPeer(peer_.get());
    TForm1& form = Start();
    // No receive poll runs here; a download's own message steps must not stop it.
    endPolls_ = false;
    return form;
  }
  void TearDown() override {
    line_->SetPeer(nullptr);
    AppTest::TearDown();
  }
  std::string Program(const std::string& name) {
    const std::string path = Folder() + "/" + name;
    std::ofstream(path, std::ios::binary) << "N001 G01\r\n";
    return path;
  }
  // The next download dialog to open is answered: its file field is noted, then "Send File"
  // is pressed or the dialog is cancelled.
  void AnswerDialog(bool send) {
    QTimer::singleShot(0, [this, send] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<TToIDX_Form*>(w);
        if (dialog == nullptr || !dialog->isVisible()) continue;
        offered_.push_back(dialog->Edit1->text().toStdString());
        if (send) {
          dialog->Button1->click();
        } else {
          dialog->reject();
        }
      }
    });
  }
  std::vector<QAction*> RecentItems() const {
    std::vector<QAction*> items;
    for (QAction* item : form_->RecentPrograms1->actions()) {
      if (item->objectName().startsWith(QStringLiteral("RecentProgram"))) items.push_back(item);
    }
    return items;
  }
  std::vector<std::string> RecentTexts() const {
    std::vector<std::string> texts;
    for (const QAction* item : RecentItems()) texts.push_back(item->text().toStdString());
    return texts;
  }
  void Drop(const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(300, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form_.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(300, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form_.get(), &drop);
    EXPECT_TRUE(drop.isAccepted());
  }
  static void Settle() {
    for (int i = 0; i < 4; ++i) QApplication::processEvents();
  }

  kvel::sim::SimConfig config_;
  std::unique_ptr<kvel::sim::MemoryPeer> peer_;
  std::vector<std::string> offered_;
};

TEST_F(ProgramFilesTest, SentProgramsAreOfferedNewestFirstBesideSendProgram) {
  TForm1& form = StartWith("indexer 1 mu");
  // Right below "Send Program", and closed while there is nothing in it.
  const QList<QAction*> commands = form.Commands1->actions();
  const qsizetype send = commands.indexOf(form.KVEL1);
  ASSERT_GE(send, 0);
  EXPECT_EQ(commands.value(send + 1), form.RecentPrograms1->menuAction());
  EXPECT_EQ(form.RecentPrograms1->title().toStdString(), "Recent Programs");
  EXPECT_FALSE(form.RecentPrograms1->menuAction()->isEnabled());

  const std::string first = Program("first.PGM");
  const std::string second = Program("second & more.PGM");
  AnswerDialog(true);
  form.SendProgramFile(first);
  EXPECT_EQ(Panel(2), " Program first.PGM sent: 1 line");
  AnswerDialog(true);
  form.SendProgramFile(second);
  EXPECT_EQ(offered_, (std::vector<std::string>{first, second}));
  EXPECT_TRUE(form.RecentPrograms1->menuAction()->isEnabled());
  const std::string folder = " (" + Folder() + ")";
  EXPECT_EQ(RecentTexts(),
            (std::vector<std::string>{"&1 second && more.PGM" + folder, "&2 first.PGM" + folder}));
  EXPECT_EQ(RecentItems()[1]->toolTip().toStdString(), first);

  // Choosing one opens Send Program with that file; sending it again puts it on top.
  AnswerDialog(true);
  RecentItems()[1]->trigger();
  EXPECT_EQ(offered_.back(), first);
  EXPECT_EQ(RecentItems()[0]->toolTip().toStdString(), first);
  EXPECT_TRUE(boxes_.empty());

  // The list survives the window, outside the settings file.
  EXPECT_EQ(ReadFile(Folder() + "/.local/state/kvel/recent-programs"),
            first + "\n" + second + "\n");
  EXPECT_EQ(IniText().find("first.PGM"), std::string::npos);
}

TEST_F(ProgramFilesTest, TheListKeepsTheLastEightAndCanBeCleared) {
  TForm1& form = StartWith("indexer 1 mu");
  for (int n = 1; n <= 10; ++n) form.ProgramFiles().Sent(Program("p" + std::to_string(n) + ".PGM"));
  ASSERT_EQ(RecentItems().size(), KVELProgramFiles::kRecentLimit);
  EXPECT_EQ(RecentItems().front()->toolTip().toStdString(), Folder() + "/p10.PGM");
  EXPECT_EQ(RecentItems().back()->toolTip().toStdString(), Folder() + "/p3.PGM");
  QAction* clear = form.RecentPrograms1->findChild<QAction*>(QStringLiteral("ClearRecentPrograms"));
  ASSERT_NE(clear, nullptr);
  clear->trigger();
  EXPECT_TRUE(RecentItems().empty());
  EXPECT_FALSE(form.RecentPrograms1->menuAction()->isEnabled());
}

TEST_F(ProgramFilesTest, AProgramThatIsGoneIsSaidAndTakenOffTheList) {
  TForm1& form = StartWith("indexer 1 mu");
  const std::string kept = Program("kept.PGM");
  const std::string gone = Program("gone.PGM");
  form.ProgramFiles().Sent(kept);
  form.ProgramFiles().Sent(gone);
  std::filesystem::remove(gone);
  AnswerDialog(false);  // there must be no dialog to answer
  RecentItems()[0]->trigger();
  Settle();
  EXPECT_TRUE(offered_.empty());
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].caption, "Send Program");
  EXPECT_EQ(boxes_[0].text, "The program file " + gone +
                                " is no longer there.\nIt has been taken off the recent programs.");
  ASSERT_EQ(RecentItems().size(), 1u);
  EXPECT_EQ(RecentItems()[0]->toolTip().toStdString(), kept);
}

TEST_F(ProgramFilesTest, ADroppedProgramFileOpensSendProgramWithIt) {
  TForm1& form = StartWith("indexer 1 mu");
  EXPECT_TRUE(form.acceptDrops());
  const std::string path = Program("dropped.PGM");
  Drop({QUrl::fromLocalFile(QString::fromStdString(path))});
  // The dialog opens once the drop has returned to the drag's source.
  EXPECT_TRUE(offered_.empty());
  AnswerDialog(false);
  Settle();
  EXPECT_EQ(offered_, std::vector<std::string>{path});
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(Panel(2), " Send Program closed: nothing sent");
}

TEST_F(ProgramFilesTest, AFolderSeveralFilesOrARemoteFileAreRefusedWithAMessage) {
  StartWith("indexer 1 mu");
  const std::string one = Program("one.PGM");
  const std::string two = Program("two.PGM");
  struct Case {
    QList<QUrl> urls;
    std::string text;
  };
  const std::vector<Case> cases{
      {{QUrl::fromLocalFile(QString::fromStdString(Folder()))},
       Folder() + " is a folder. Drop a program file to send it."},
      {{QUrl::fromLocalFile(QString::fromStdString(one)),
        QUrl::fromLocalFile(QString::fromStdString(two))},
       "2 files were dropped. Drop one program file at a time to send it."},
      {{QUrl(QStringLiteral("https://example.org/p.PGM"))},
       "Only a file on this computer can be sent as a program, not https://example.org/p.PGM."},
      {{QUrl::fromLocalFile(QString::fromStdString(Folder() + "/none.PGM"))},
       "The file " + Folder() + "/none.PGM is not there."},
  };
  for (const Case& c : cases) {
    boxes_.clear();
    AnswerDialog(false);
    Drop(c.urls);
    Settle();
    ASSERT_EQ(boxes_.size(), 1u) << c.text;
    EXPECT_EQ(boxes_[0].text, c.text);
    EXPECT_EQ(boxes_[0].caption, "Send Program");
  }
  EXPECT_TRUE(offered_.empty());

  // A drag that carries no file at all is not taken.
  QMimeData text;
  text.setText(QStringLiteral("N001"));
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
  enter.setAccepted(false);
  QCoreApplication::sendEvent(form_.get(), &enter);
  EXPECT_FALSE(enter.isAccepted());
}

}  // namespace
