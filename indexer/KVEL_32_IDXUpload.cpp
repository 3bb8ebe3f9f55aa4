// The uploads in their progress windows: L parameters into LParamList and LPARAM.TXT, the
// program into a file. The exchange is the upload engines'.
#include <stdexcept>

#include "IndexerHost.h"
#include "KVEL_32_IDX.h"
#include "KVEL_Var.h"
#include "ProgressWindow.h"
#include "UploadEngine.h"
#include "ui/Shutdown.h"

namespace {

// Says in the status bar how an upload ended: `say` builds the text for a file name.
template <typename Say>
void ShowResult(IndexerHost& host, const std::string& path, Say say) {
  host.ShowTransferResult(say(FileNameOf(path)), say(path));
}

// Refuses an upload while no unit is selected; true when it may run.
bool UnitSelected(IndexerHost& host, const std::string& what) {
  if (SelectedUnit != 100) return true;
  host.ShowNoControlSelected();
  const std::string text = what + " not read: no control selected";
  host.ShowTransferResult(text, text);
  return false;
}

}  // namespace

void ReadLParameters(IndexerHost& host) {
  if (!UnitSelected(host, "L parameters")) return;
  LParamList.clear();
  LParamCount = 0;
  WindowProgress progress(host);
  LParameterUpload reading(host.Port(), progress);
  {
    // What was read stays in LParamList also when a port error ends the reading.
    OnExit keep([&] {
      LParamList = reading.Result().lines;
      LParamCount = reading.Result().count;
    });
    reading.Run();
  }
  const std::string read = std::to_string(LParamCount) + " L parameters";
  try {
    SaveLines(kLParamFileName, LParamList);
  } catch (const std::exception&) {
    ShowResult(host, AbsolutePath(kLParamFileName),
               [&](const std::string& file) { return read + " read, " + file + " not written"; });
    // The unit leaves parameter transfer also when the file could not be written; otherwise
    // it would stay in it until someone sends "L50 0" by hand.
    reading.Finish();
    throw;
  }
  ShowResult(host, AbsolutePath(kLParamFileName),
             [&](const std::string& file) { return "Saved " + file + ": " + read; });
  reading.Finish();
  // A program that is ending keeps the stop, so that an upload around this one ends too.
  if (!kvel::ShutdownRequested()) RunFlag = 1;
}

void ReadProgram(IndexerHost& host, bool withParameters) {
  if (!UnitSelected(host, "Program")) return;
  RunFlag = 1;
  OnExit resetFlag([] {
    if (!kvel::ShutdownRequested()) RunFlag = 1;
  });
  std::vector<std::string> leading;
  int owed = 0;
  if (withParameters) {
    host.ReadLParametersView();
    leading = LParamList;
    // "L50 0" that ended the parameter upload may still be acknowledged.
    owed = 1;
  }
  ProgramUploadResult result;
  result.leadingLines = leading.size();
  result.lines = leading;
  if (!kvel::ShutdownRequested()) {
    WindowProgress progress(host);
    result = ProgramUpload(host.Port(), progress).Run(std::move(leading), owed);
  }
  const std::optional<std::string> path =
      host.RunSaveDialog("TavorSerie Files (*.PGM)|*.PGM", "PGM");
  const std::string counts = UploadCounts(result, withParameters);
  const std::string how = UploadEnding(result);
  if (!path) {
    const std::string text = "Program read: " + counts + ", not saved" + how;
    host.ShowTransferResult(text, text);
    return;
  }
  try {
    SaveLines(*path, result.lines);
  } catch (const std::exception&) {
    ShowResult(host, *path, [&](const std::string& file) {
      return "Program not saved: " + file + " not written";
    });
    throw;
  }
  ShowResult(host, *path,
             [&](const std::string& file) { return "Saved " + file + ": " + counts + how; });
}
