// "Verify program...": the unit's program read back in the progress window and compared with
// a program file.
#include "DownloadEngine.h"
#include "IndexerHost.h"
#include "KVEL_32_IDX.h"
#include "KVEL_Var.h"
#include "ProgressWindow.h"
#include "VerifyEngine.h"
#include "ui/Dialogs.h"
#include "ui/Shutdown.h"

std::optional<std::string> IndexerHost::RunOpenDialog(const std::string& filter,
                                                      const std::string& defaultExt) {
  return kvel::RunFileDialog(Window(), kvel::FileDialogRequest{false, {}, filter, defaultExt});
}

void VerifyProgramFile(IndexerHost& host) {
  const auto say = [&host](const std::string& text, const std::string& detail) {
    host.ShowTransferResult(text, detail.empty() ? text : detail);
  };
  if (SelectedUnit == 100) {
    host.ShowNoControlSelected();
    say("Verify not run: no control selected", {});
    return;
  }
  const std::optional<std::string> path =
      host.RunOpenDialog("TavorSerie Files (*.PGM)|*.PGM", "PGM");
  if (!path) {
    say("Verify not run: no program file chosen", {});
    return;
  }
  std::string bytes;
  if (const std::optional<FileProblem> problem = ReadProgramFile(*path, &bytes)) {
    kvel::ShowMessageBox(host.Window(), problem->text, "Error", kvel::MsgIcon::Error,
                         kvel::MsgButtons::Ok);
    say("Verify not run: " + FileNameOf(*path) + " not read", problem->text);
    return;
  }
  VerifyResult result;
  {
    OnExit resetFlag([] {
      if (!kvel::ShutdownRequested()) RunFlag = 1;
    });
    WindowProgress progress(host);
    result = VerifyProgram(host.Port(), progress, LoadProgramLines(bytes));
  }
  const std::string summary = VerifySummary(result);
  std::string detail = summary + " (" + AbsolutePath(*path) + ")";
  for (const std::string& line : VerifyDetails(result)) detail += "\n" + line;
  say(summary, detail);
}
