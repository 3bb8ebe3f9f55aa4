#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "Dialogs.h"
#include "IniFile.h"
#include "ModalAnswer.h"

namespace kvel {
namespace {

struct FilterRow {
  std::string classic;
  std::vector<std::string> qt;
};
void PrintTo(const FilterRow& row, std::ostream* out) {
  *out << '"' << row.classic << '"';
}

class FilterConversion : public testing::TestWithParam<FilterRow> {};

TEST_P(FilterConversion, KeepsDescriptionsAndMatchesBothCases) {
  EXPECT_EQ(ConvertFileFilter(GetParam().classic), GetParam().qt);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FilterConversion,
    testing::Values(FilterRow{"Logfiles (*.LOG)|*.LOG", {"Logfiles (*.LOG) (*.LOG *.log)"}},
                    FilterRow{"Program files|*.Pgm", {"Program files (*.Pgm *.pgm *.PGM)"}},
                    FilterRow{"Text (*.txt)|*.txt|All files (*.*)|*.*",
                              {"Text (*.txt) (*.txt *.TXT)", "All files (*.*) (*.*)"}},
                    FilterRow{"Programs|*.PRG;*.DMC", {"Programs (*.PRG *.prg *.DMC *.dmc)"}},
                    FilterRow{"", {}}, FilterRow{"Only a description", {}},
                    FilterRow{"Empty patterns||Logs|*.LOG", {"Logs (*.LOG *.log)"}}));

using test::WhenModal;

struct BoxRow {
  MsgButtons buttons;
  QMessageBox::StandardButton press;
  MsgResult result;
};
void PrintTo(const BoxRow& row, std::ostream* out) {
  *out << "buttons " << static_cast<int>(row.buttons) << " press " << row.press;
}

class MessageBoxButtons : public testing::TestWithParam<BoxRow> {};

TEST_P(MessageBoxButtons, ShowsTheRequestAndReportsThePressedButton) {
  QMessageBox::StandardButtons shown;
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  Qt::WindowModality modality = Qt::NonModal;
  WhenModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box == nullptr) return false;
    shown = box->standardButtons();
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    modality = box->windowModality();
    box->button(GetParam().press)->click();
    return true;
  });
  const MsgResult result =
      ShowMessageBox(nullptr, "You want really stop this program \xBF", "Stop this program",
                     MsgIcon::Question, GetParam().buttons);
  EXPECT_EQ(result, GetParam().result);
  EXPECT_EQ(title, QStringLiteral("Stop this program"));
  EXPECT_EQ(text, QStringLiteral("You want really stop this program \u00BF"));  // bytes as Latin-1
  EXPECT_EQ(icon, QMessageBox::Question);
  EXPECT_EQ(modality, Qt::ApplicationModal);
  EXPECT_TRUE(shown.testFlag(GetParam().press));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, MessageBoxButtons,
    testing::Values(BoxRow{MsgButtons::Ok, QMessageBox::Ok, MsgResult::Ok},
                    BoxRow{MsgButtons::OkCancel, QMessageBox::Ok, MsgResult::Ok},
                    BoxRow{MsgButtons::OkCancel, QMessageBox::Cancel, MsgResult::Cancel},
                    BoxRow{MsgButtons::YesNo, QMessageBox::No, MsgResult::No},
                    BoxRow{MsgButtons::YesNoCancel, QMessageBox::Yes, MsgResult::Yes},
                    BoxRow{MsgButtons::YesNoCancel, QMessageBox::Cancel, MsgResult::Cancel}));

TEST(Dialogs, SaveDialogPresetsNameFilterAndSuffix) {
  QTemporaryDir dir;
  const std::string folder = dir.path().toStdString();
  QStringList filters;
  QString preset;
  WhenModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (dialog == nullptr) return false;
    filters = dialog->nameFilters();
    preset = dialog->selectedFiles().value(0);
    dialog->selectFile(QStringLiteral("session"));
    static_cast<QDialog*>(dialog)->accept();  // public in QDialog, runs QFileDialog's
    return true;
  });
  const auto chosen =
      RunFileDialog(nullptr, {true, folder + "/KVEL.LOG", "Logfiles (*.LOG)|*.LOG", "LOG"});
  EXPECT_EQ(filters, QStringList{QStringLiteral("Logfiles (*.LOG) (*.LOG *.log)")});
  EXPECT_EQ(preset, QString::fromStdString(folder + "/KVEL.LOG"));
  EXPECT_EQ(chosen, folder + "/session.LOG");
}

// Where file dialogs start: the folder the preset names, the working folder for a file there,
// the folder last chosen with the same filter (kept across runs), else the documents folder.
TEST(Dialogs, FileDialogsStartWhereTheUserLastWentForTheSameKindOfFile) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string root = dir.path().toStdString();
  ::setenv("XDG_STATE_HOME", (root + "/state").c_str(), 1);
  const std::string programs = root + "/programs";
  const std::string logs = root + "/logs";
  QDir().mkpath(QString::fromStdString(programs));
  QDir().mkpath(QString::fromStdString(logs));
  const FileDialogRequest program{false, "", "TavorSerie Files (*.PGM)|*.PGM-remembered", ""};
  const FileDialogRequest log{true, "", "Logfiles (*.LOG)|*.LOG-remembered", "LOG"};
  const std::string documents =
      QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString();
  const std::string first = FileDialogStartFolder(program);
  EXPECT_TRUE(first == documents || first == QDir::homePath().toStdString()) << first;

  SetFileDialogHook([&](const FileDialogRequest& request) -> std::optional<std::string> {
    return (request.save ? logs : programs) + "/chosen.X";
  });
  ASSERT_TRUE(RunFileDialog(nullptr, program));
  ASSERT_TRUE(RunFileDialog(nullptr, log));
  SetFileDialogHook({});
  EXPECT_EQ(FileDialogStartFolder(program), programs);
  EXPECT_EQ(FileDialogStartFolder(log), logs);
  // Kept for the next run in the user's state folder.
  const IniFile stored(root + "/state/kvel/dialog-folders.ini");
  EXPECT_EQ(stored.ReadString("Folders", program.filter, ""), programs);

  // A preset with a folder starts there; one that is a file in the working folder, there.
  FileDialogRequest preset = log;
  preset.fileName = root + "/KVEL.LOG";
  EXPECT_EQ(FileDialogStartFolder(preset), root);
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(logs);
  std::ofstream("here.LOG") << "x";
  preset.fileName = "here.LOG";
  EXPECT_EQ(FileDialogStartFolder(preset), logs);
  preset.fileName = "not-here.LOG";
  EXPECT_EQ(FileDialogStartFolder(preset), logs);  // remembered for the filter
  std::filesystem::current_path(previous);
  ::unsetenv("XDG_STATE_HOME");
}

}  // namespace
}  // namespace kvel
