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

#include "IndexerHost.h"
#include "KVEL_32_IDX.h"
#include "KVEL_Text.h"
#include "KVEL_Var.h"
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

// A program line goes out in pieces of at most this many bytes: each piece is taken by the
// device quickly, and between pieces the window's messages are handled, so that a long line
// neither freezes the program nor outlasts a Cancel.
constexpr std::size_t kLinePiece = 64;

// The H13 reply (the unit's current line) ends with a carriage return; a slow unit is given
// this many 20 ms passes to finish it before the download stops as a communication problem.
constexpr int kReplyEndPasses = 200;

// Why a program file cannot be sent, or nothing when it was read.
struct FileProblem {
  bool missing = false;  // the file does not exist
  std::string text;      // the message for the user
};

// Reads a whole program file. The file is opened without blocking, so that a named pipe or
// a device chosen by mistake cannot hang the program, and only a regular file is read.
std::optional<FileProblem> ReadProgramFile(const std::string& path, std::string* bytes) {
  const std::string head = "The specified File " + path;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT) return FileProblem{true, head + " was not found."};
    return FileProblem{false, head + " could not be opened: " + std::strerror(error)};
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    return FileProblem{false, head + " could not be read: " + std::strerror(errno)};
  }
  if (S_ISDIR(info.st_mode)) return FileProblem{false, head + " is a folder, not a file."};
  if (!S_ISREG(info.st_mode)) {
    return FileProblem{false, head + " is not a regular file (a pipe or a device)."};
  }
  bytes->clear();
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      return FileProblem{false, head + " could not be read: " + std::strerror(errno)};
    }
    bytes->append(buffer, static_cast<std::size_t>(got));
  }
  return std::nullopt;
}

bool FileExists(const std::string& path) {
  std::error_code error;
  return !path.empty() && std::filesystem::exists(path, error);
}

// The dialogue stops when Cancel (or a time-out) cleared RunFlag or the program is ending.
bool Stopped() {
  if (kvel::ShutdownRequested()) RunFlag = 0;
  return RunFlag == 0;
}

}  // namespace

std::vector<std::string> LoadProgramLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(bytes.substr(start));
      break;
    }
    lines.push_back(bytes.substr(start, end - start));
    start = end + 1;
    if (bytes[end] == '\r' && start < bytes.size() && bytes[start] == '\n') ++start;
  }
  return lines;
}

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
  const auto say = [&](const std::string& file) {
    const std::string program = "Program " + file;
    const std::string sent = std::to_string(acknowledged_) + " of " + LinesText(lines) + " sent";
    if (!failure.empty()) return program + " stopped, " + sent + ": " + failure;
    if (RunFlag == 1 && !kvel::ShutdownRequested()) return program + " sent: " + LinesText(lines);
    if (cancelled_ || kvel::ShutdownRequested()) return program + " cancelled, " + sent;
    if (!eraseAcknowledged_) return program + " not sent: the unit did not confirm the erase";
    return program + " stopped, " + sent + ": the unit did not answer";
  };
  ShowResult(say(FileNameOf(path)), say(AbsolutePath(path)));
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
  TCustomComPort& port = host_.Port();
  port.SendText("L26 0\n\r");
  kvel::Wait(200);
  port.SendText("L48 20 N001\n\r");
  kvel::Wait(200);
}

bool TToIDX_Form::SendLine(const std::string& text) {
  TCustomComPort& port = host_.Port();
  if (text.size() <= kLinePiece) {
    port.SendText(text);
    return true;
  }
  for (std::size_t at = 0; at < text.size(); at += kLinePiece) {
    if (at > 0) {
      kvel::ProcessMessages();
      if (Stopped()) {
        // What is still queued for the device goes, so that the closing commands follow at
        // once instead of behind the rest of a long line.
        port.PurgeBuffers(false, true);
        return false;
      }
    }
    port.SendText(text.substr(at, kLinePiece));
  }
  return true;
}

std::string TToIDX_Form::ReadCurrentLine(int* passes) {
  TCustomComPort& port = host_.Port();
  std::string r;
  port.ReceiveText(r, 35);
  *passes = 0;
  // The reply is read to its end, so that nothing of it is taken for the next line's
  // acknowledge; a unit that answers within the wait is read in the one read above.
  while (r.find('\r') == std::string::npos && RunFlag == 1) {
    std::string more;
    port.ReceiveText(more, port.PendingInput());
    r += more;
    if (r.find('\r') != std::string::npos) break;
    kvel::ProcessMessages();
    if (Stopped()) break;
    kvel::Wait(20);
    if (++*passes >= kReplyEndPasses) RunFlag = 0;
  }
  return r;
}

void TToIDX_Form::SendProgramLines(const std::vector<std::string>& lines) {
  TCustomComPort& port = host_.Port();
  sending_ = true;
  struct Sending {
    bool& flag;
    ~Sending() { flag = false; }
  } sending{sending_};
  cancelled_ = false;
  eraseAcknowledged_ = false;
  acknowledged_ = 0;
  Button1->setEnabled(false);
  Button2->setEnabled(false);
  SetEdit("Removing old program....");
  RunFlag = 1;

  port.SendText("N001\n\r");
  kvel::Wait(100);
  port.SendText("L48 0\n\r");
  kvel::Wait(300);
  port.SendText("L26 2\n\r");
  kvel::Wait(300);
  port.PurgeBuffers(true, true);
  // Erasing the old program takes the unit a while before it acknowledges.
  port.SendText("H12\n\r");
  kvel::Wait(400);
  int passes = 0;
  for (;;) {
    kvel::ProcessMessages();
    Stopped();
    kvel::Wait(10);
    ++passes;
    SetEdit(EditText() + ".");
    if (passes > 500) RunFlag = 0;
    std::string r;
    port.ReceiveText(r, 5);
    const bool acknowledged = FilterPrintable(r).find('=') != std::string::npos;
    eraseAcknowledged_ = eraseAcknowledged_ || acknowledged;
    if (acknowledged || Stopped()) break;
  }
  lastAckPasses_ = passes;
  kvel::Wait(300);

  for (std::string line : lines) {
    if (Stopped() || RunFlag != 1) break;
    // L26 (acknowledge) is set by the download's own commands only.
    if (line.empty() || line.find("L26") != std::string::npos) line = " ";
    if (const std::size_t semicolon = line.find(';');
        semicolon != std::string::npos && semicolon >= 1) {
      line.resize(semicolon);
    }
    if (!SendLine(line + "\r")) break;
    kvel::Wait(20);
    passes = 0;
    for (;;) {
      kvel::ProcessMessages();
      Stopped();
      kvel::Wait(20);
      ++passes;
      if (passes >= 200) RunFlag = 0;
      std::string r;
      port.ReceiveText(r, 5);
      const bool acknowledged = r.find('=') != std::string::npos;
      if (acknowledged) ++acknowledged_;
      if (acknowledged || Stopped()) break;
    }
    lastAckPasses_ = passes;
    if (line.find('N') != std::string::npos) {
      port.SendText("H13\n\r");
      kvel::Wait(55);
      int replyPasses = 0;
      std::string r = FilterPrintable(ReadCurrentLine(&replyPasses));
      // A reply that never ended within its wait counts as the wait that failed.
      if (replyPasses > 0) lastAckPasses_ = replyPasses;
      if (const std::size_t at = r.find('='); at != std::string::npos) r.erase(at, 1);
      SetEdit("Line: " + r.substr(0, 5));
    }
    if (line.find('L') != std::string::npos) SetEdit("Parameter : " + line.substr(0, 4));
  }

  SendClosingCommands();
  if (RunFlag == 1 && !kvel::ShutdownRequested()) {
    for (int beep = 0; beep < 3; ++beep) {
      kvel::Beep();
      kvel::Wait(1000);
    }
  } else if (lastAckPasses_ >= 50) {
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
