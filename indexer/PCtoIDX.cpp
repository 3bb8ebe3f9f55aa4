#include "PCtoIDX.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "DownloadEngine.h"
#include "IndexerHost.h"
#include "KVEL_32_IDX.h"
#include "KVEL_Text.h"
#include "KVEL_Var.h"
#include "OnExit.h"
#include "serial/CPort.h"
#include "ui/Clock.h"
#include "ui/Shutdown.h"

namespace {

constexpr int kWidth = 420;
constexpr int kHeight = 190;
constexpr const char* kProgramFilter = "Program files (*.pgm)|*.PGM";

QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QLabel* AddLabel(QWidget* parent, const char* name, const char* text, int y) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(16, y, kWidth - 32, 16);
  return label;
}

QPushButton* AddButton(QWidget* parent, const char* name, const char* text, const char* hint) {
  auto* button = new QPushButton(QString::fromLatin1(text), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setToolTip(QString::fromLatin1(hint));
  button->setAutoDefault(false);
  return button;
}

bool FileExists(const std::string& path) {
  std::error_code error;
  return !path.empty() && std::filesystem::exists(path, error);
}

// The download's steps in the file field of the dialog.
class DialogProgress : public TransferProgress {
 public:
  explicit DialogProgress(QLineEdit* edit) : edit_(edit) {}
  void Progress(int current, int total, int bar, const std::string& text) override {
    (void)current;
    (void)total;
    (void)bar;
    edit_->setText(Latin1(text));
  }

 private:
  QLineEdit* edit_;
};

}  // namespace

TToIDX_Form::TToIDX_Form(IndexerHost& host) : QDialog(host.Window()), host_(host) {
  setObjectName(QStringLiteral("ToIDX_Form"));
  setWindowTitle(QStringLiteral(" PC to Indexer"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(kWidth, kHeight);

  Label1 = AddLabel(this, "Label1", "Unit ID : ", 12);
  Label2 = AddLabel(this, "Label2", "Software Rev :", 32);
  Label4 = AddLabel(this, "Label4", "Unit Type ", 52);
  Label3 = AddLabel(this, "Label3", "Suggested file name :", 80);
  Edit1 = new QLineEdit(QStringLiteral("Choose a file"), this);
  Edit1->setObjectName(QStringLiteral("Edit1"));
  Edit1->setReadOnly(true);
  Edit1->setGeometry(16, 100, kWidth - 32 - 40, 22);
  Button2 = AddButton(this, "Button2", "...", "Open a file");
  Button2->setGeometry(kWidth - 16 - 32, 100, 32, 22);
  Button1 = AddButton(this, "Button1", "Send File", "Send program to control");
  Button1->setGeometry(kWidth / 2 - 100, 146, 90, 28);
  Button3 = AddButton(this, "Button3", "Cancel", "Cancel send program");
  Button3->setGeometry(kWidth / 2 + 10, 146, 90, 28);
  OpenDialog1 = kvel::FileDialogRequest{false, {}, kProgramFilter, {}};

  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });

  FormCreate();
}

void TToIDX_Form::SetEdit(const std::string& text) {
  Edit1->setText(Latin1(text));
}

std::string TToIDX_Form::EditText() const {
  const QByteArray bytes = Edit1->text().toLatin1();
  return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

void TToIDX_Form::FormCreate() {
  TCustomComPort& port = host_.Port();
  Button1->setEnabled(false);
  const std::string reply = QueryUnitId(port);
  Identity = IdentifyIndexer(port, reply);
  if (UnitType == 4 || UnitType == 5) {
    Label1->setText(Latin1("Unit ID : " + std::to_string(SelectedUnit)));
    Label2->setText(Latin1(("Software rev : " + SoftwareRev).substr(0, 35)));
    if (Identity.outcome == IdentifyOutcome::Recognised) {
      Label4->setText(Latin1(Identity.typeText));
      ProgramFileName = Identity.FileStem();
    }
  }
  if (Identity.outcome == IdentifyOutcome::StepResolutionUnknown) {
    // Without a known step resolution no program fits the unit: only Cancel is left.
    ProgramFileName = "*." + ProgramExt;
    OpenDialog1.filter = kProgramFilter;
    OpenDialog1.defaultExt = ProgramFileName;
    return;
  }
  ProgramFileName += "." + ProgramExt;
  // A bare proposal names a file in the current folder, which is rarely where the programs
  // are kept: the same name in the folder they were last chosen from is shown instead.
  proposal_ = ProgramFileName;
  if (ProgramFileName.find('/') == std::string::npos && !FileExists(ProgramFileName)) {
    const std::string kept = kvel::FileDialogStartFolder(OpenDialog1) + "/" + ProgramFileName;
    if (FileExists(kept)) proposal_ = kept;
  }
  SetEdit(proposal_);
  Button1->setEnabled(true);
}

void TToIDX_Form::PresetFile(const std::string& path) {
  SetEdit(path);
}

std::optional<std::string> TToIDX_Form::ResolveProposal(const std::string& proposal) {
  if (FileExists(proposal)) return proposal;
  if (proposal.find('/') == std::string::npos) {
    const std::string kept = kvel::FileDialogStartFolder(OpenDialog1) + "/" + proposal;
    if (FileExists(kept)) return kept;
  }
  // The proposal is only a guess from the unit's type: instead of failing on it, the
  // operator is asked for the file, with the proposed name preset.
  kvel::FileDialogRequest request = OpenDialog1;
  const std::string name = FileNameOf(proposal);
  if (!name.empty() && name.front() != '.') request.fileName = name;
  return kvel::RunFileDialog(this, request);
}

void TToIDX_Form::ShowResult(const std::string& text, const std::string& detail) {
  resultShown_ = true;
  host_.ShowTransferResult(text, detail);
}

void TToIDX_Form::ShowSendResult(const std::string& path, std::size_t lines,
                                 const std::string& failure) {
  DownloadResult result = result_;
  result.lines = lines;
  ShowResult(DownloadSummary(result, FileNameOf(path), cancelled_, failure),
             DownloadSummary(result, AbsolutePath(path), cancelled_, failure));
}

void TToIDX_Form::FormShow() {
  const QWidget* main = host_.Window();
  if (main == nullptr) return;
  const QRect frame = main->frameGeometry();
  move(frame.x() + (frame.width() - width()) / 2, frame.y() + (frame.height() - height()) / 2);
}

void TToIDX_Form::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

void TToIDX_Form::Button2Click() {
  const std::optional<std::string> path = kvel::RunFileDialog(this, OpenDialog1);
  if (path) SetEdit(*path);
}

void TToIDX_Form::Button1Click() {
  if (!proposal_.empty() && EditText() == proposal_) {
    const std::optional<std::string> chosen = ResolveProposal(proposal_);
    // The chooser was cancelled: nothing is sent and the dialog stays as it was.
    if (!chosen) return;
    SetEdit(*chosen);
  }
  ProgramFileName = EditText();
  std::string bytes;
  if (const std::optional<FileProblem> problem = ReadProgramFile(ProgramFileName, &bytes)) {
    kvel::ShowMessageBox(this, problem->text, "Error", kvel::MsgIcon::Error, kvel::MsgButtons::Ok);
    // Nothing was sent. A missing file ends the dialogue; for a file that is there but cannot
    // be sent the dialog stays as it was, so that another file can be chosen.
    if (problem->missing) {
      const auto say = [](const std::string& file) {
        return "Program not sent: " + file + " was not found";
      };
      ShowResult(say(FileNameOf(ProgramFileName)), say(AbsolutePath(ProgramFileName)));
      QDialog::reject();
    }
    return;
  }
  Label3->setText(Label3->text() + QStringLiteral("  ") + Latin1(ProgramFileName));
  const std::vector<std::string> lines = LoadProgramLines(bytes);
  host_.ProgramFileSent(AbsolutePath(ProgramFileName));
  try {
    SendProgramLines(lines);
    ShowSendResult(ProgramFileName, lines.size(), {});
  } catch (const std::exception& error) {
    ShowSendResult(ProgramFileName, lines.size(), error.what());
    // A port error ends the send: the unit is told to leave download mode where the port
    // still takes it, the dialog says that the send stopped and closes, and the error goes
    // on to the error display.
    SetEdit(std::string("Stopped: ") + error.what());
    try {
      SendClosingCommands();
    } catch (const std::exception&) {
    }
    QDialog::reject();
    throw;
  }
  QDialog::reject();
}

void TToIDX_Form::Button3Click() {
  if (sending_) cancelled_ = true;
  RunFlag = 0;
  // During a send the waiting loops see the flag and stop; the dialog closes once the send
  // has returned.
  if (!sending_) QDialog::reject();
}

void TToIDX_Form::reject() {
  Button3Click();
}

void TToIDX_Form::closeEvent(QCloseEvent* event) {
  // The close box and a close of the program act as Cancel; while a send runs, the dialog
  // closes once the send has sent its closing commands and returned.
  if (sending_) {
    cancelled_ = true;
    RunFlag = 0;
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void TToIDX_Form::SendProgramFile(const std::string& path) {
  std::string bytes;
  if (const std::optional<FileProblem> problem = ReadProgramFile(path, &bytes)) {
    throw std::runtime_error(problem->text);
  }
  SendProgramLines(LoadProgramLines(bytes));
}

void TToIDX_Form::SendClosingCommands() {
  DialogProgress progress(Edit1);
  ProgramDownload(host_.Port(), progress).SendClosingCommands();
}

void TToIDX_Form::SendProgramLines(const std::vector<std::string>& lines) {
  sending_ = true;
  struct Sending {
    bool& flag;
    ~Sending() { flag = false; }
  } sending{sending_};
  cancelled_ = false;
  result_ = DownloadResult{};
  Button1->setEnabled(false);
  Button2->setEnabled(false);
  DialogProgress progress(Edit1);
  ProgramDownload download(host_.Port(), progress);
  {
    // The counts so far stay for the result also when a port error ends the send.
    OnExit keep([&] { result_ = download.Result(); });
    download.Run(lines);
  }
  if (result_.completed) {
    for (int beep = 0; beep < 3; ++beep) {
      kvel::Beep();
      kvel::Wait(1000);
    }
  } else if (download.CommunicationProblem()) {
    kvel::ShowMessageBox(this,
                         "There was a communication problem when\r\n the program was send to "
                         "the control.",
                         "Communication error", kvel::MsgIcon::Warning, kvel::MsgButtons::Ok);
  }
}

void SendProgramDialog(IndexerHost& host, const std::string& path) {
  {
    const auto dialog = std::make_unique<TToIDX_Form>(host);
    if (!path.empty()) dialog->PresetFile(path);
    dialog->exec();
    if (!dialog->ResultShown()) {
      host.ShowTransferResult("Send Program closed: nothing sent",
                              "Send Program closed: nothing sent");
    }
  }
  // A program that is ending keeps the stop, so that no loop beneath goes on.
  if (!kvel::ShutdownRequested()) RunFlag = 1;
}
