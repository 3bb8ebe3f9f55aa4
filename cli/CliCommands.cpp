#include "CliCommands.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "CliFiles.h"
#include "CliProgress.h"
#include "CliSession.h"
#include "CliSignal.h"
#include "KVEL_Text.h"
#include "KVEL_Var.h"
#include "indexer/DownloadEngine.h"
#include "indexer/KVEL_32_IDX.h"
#include "indexer/ScanEngine.h"
#include "indexer/UploadEngine.h"
#include "indexer/VerifyEngine.h"
#include "iotest/ErrorReportEngine.h"
#include "serial/CPort.h"
#include "serial/PortMap.h"
#include "ui/Clock.h"

namespace kvel::cli {

namespace {

// What a command needs besides the options: the session, the output and where it works.
struct Job {
  const Options& options;
  Session& session;
  Output& output;

  TCustomComPort& Port() { return session.Port(); }
  std::string Where() const { return session.WhereUnit(options.unit); }
  const std::string& File() const { return options.arguments.front(); }

  CliFailure Fail(Status status, const std::string& text) const {
    return CliFailure(status, Where() + ": " + text);
  }
  // A stop signal ended the job; `state` says what was done by then.
  void ThrowIfStopped(const std::string& state) const {
    if (!StopRequested()) return;
    throw CliFailure(Status::kCommunication, Where() + ": interrupted (signal " +
                                                 std::to_string(StopSignal()) + ")" +
                                                 (state.empty() ? "" : "; " + state));
  }
};

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

// The file's bytes, or a file failure naming it.
std::string ReadWholeFile(const std::string& path) {
  std::string bytes;
  if (const auto problem = ReadProgramFile(path, &bytes)) {
    throw CliFailure(Status::kFile, path + ": " + problem->text);
  }
  return bytes;
}

void CheckWritable(const std::string& path) {
  if (const std::string problem = WritableProblem(path); !problem.empty()) {
    throw CliFailure(Status::kFile, path + ": " + problem);
  }
}

void Save(const std::string& path, const std::vector<std::string>& lines) {
  try {
    SaveLines(path, lines);
  } catch (const std::exception& error) {
    throw CliFailure(Status::kFile, error.what());
  }
}

// The unit query that opens a parameter upload in the window (its heading); a unit that
// does not answer it is reported before any transfer begins.
std::string HeadingQuery(Job& job) {
  const std::string id = QueryUnitId(job.Port());
  job.ThrowIfStopped("nothing transferred");
  if (id.empty()) throw job.Fail(Status::kCommunication, "no answer to the unit query (H23)");
  return id;
}

bool OnlyBusy(const std::string& reply) {
  return !reply.empty() && reply.find_first_not_of(": ") == std::string::npos;
}

JsonObject DifferenceObject(const LineDifference& d) {
  JsonObject object;
  object.Add("result", "mismatch")
      .Add("line", d.line)
      .Add("fileLine", d.fileLine)
      .Add("expected", d.expected)
      .Add("actual", d.actual);
  return object;
}

// "line 12" for a program line, "L9" for a parameter.
std::string LineLabel(const std::string& label, int number) {
  return label == "L" ? "L" + std::to_string(number) : label + " " + std::to_string(number);
}

std::string DifferenceText(const LineDifference& d, const std::string& label) {
  std::string text = LineLabel(label, d.line);
  if (d.fileLine > 0) text += " (file line " + std::to_string(d.fileLine) + ")";
  text += ": file " + Quoted(d.expected) + ", unit ";
  text += d.actual.empty() ? std::string("has none") : Quoted(d.actual);
  return text;
}

// Prints the differences and the summary; a mismatch is a failure naming the first one.
Status ReportComparison(Job& job, const VerifyResult& v, const std::string& what,
                        const std::string& label) {
  for (const LineDifference& d : v.compare.differences) {
    job.output.Result(DifferenceText(d, label), DifferenceObject(d));
  }
  const std::string summary = VerifySummary(v, what);
  JsonObject object;
  object.Add("result", what == "parameters" ? "compare" : "verify")
      .Add("file", job.File())
      .Add("compared", v.compare.compared)
      .Add("differences", v.compare.differences.size())
      .Add("complete", !v.incomplete)
      .Add("matches", v.compare.Matches() && !v.incomplete);
  job.output.Result(summary, object);
  job.ThrowIfStopped("the read-back is incomplete");
  if (!v.compare.Matches()) {
    const LineDifference& first = v.compare.differences.front();
    std::string where = LineLabel(label, first.line);
    if (first.fileLine > 0) where += " (file line " + std::to_string(first.fileLine) + ")";
    throw job.Fail(Status::kMismatch, where + ": " + summary);
  }
  if (v.incomplete) {
    throw job.Fail(Status::kCommunication, summary + " (the unit stopped answering)");
  }
  return Status::kDone;
}

Status Scan(Job& job) {
  CliProgress progress(job.output, "scan", "address");
  IndexerScan scan(job.Port(), progress);
  const ScanResult result = scan.Run();
  RunFlag = 1;
  job.ThrowIfStopped(std::to_string(progress.Found()) + " found up to address " +
                     std::to_string(result.lastAddress));
  if (result.units.empty()) {
    throw job.Fail(Status::kCommunication, "no unit answered at the addresses 1 to 99");
  }
  return Status::kDone;
}

Status Identify(Job& job) {
  const std::string id = QueryUnitId(job.Port());
  job.ThrowIfStopped("");
  if (id.empty()) throw job.Fail(Status::kCommunication, "no answer to the unit query (H23)");
  if (OnlyBusy(id)) throw job.Fail(Status::kCommunication, "the unit is busy (" + id + ")");
  JsonObject object;
  object.Add("result", "identity").Add("unit", job.options.unit).Add("id", id);
  job.output.Result(id, object);
  return Status::kDone;
}

Status Send(Job& job) {
  TCustomComPort& port = job.Port();
  const std::string& text = job.options.arguments.front();
  // As the unit query: a quiet moment, nothing old in the input, then the command.
  Wait(100);
  port.PurgeBuffers(true, true);
  port.SendText(text + "\r");
  // The unit query's wait, then as long as more keeps coming (a listing of many lines).
  Wait(500);
  std::string reply;
  for (int pass = 0; pass < 50 && !StopRequested(); ++pass) {
    const std::int32_t pending = port.PendingInput();
    if (pending <= 0) break;
    std::string part;
    port.ReceiveText(part, pending);
    reply += part;
    Wait(100);
  }
  job.ThrowIfStopped("");
  if (reply.empty()) throw job.Fail(Status::kCommunication, "no reply to " + Quoted(text));
  if (OnlyBusy(FilterPrintable(reply))) {
    throw job.Fail(Status::kCommunication, "the unit is busy (" + FilterPrintable(reply) + ")");
  }
  JsonObject object;
  object.Add("result", "reply")
      .Add("unit", job.options.unit)
      .Add("command", text)
      .Add("reply", reply);
  job.output.Result(ReplyText(reply), object);
  return Status::kDone;
}

Status Download(Job& job) {
  TCustomComPort& port = job.Port();
  const std::vector<std::string> lines = LoadProgramLines(ReadWholeFile(job.File()));

  // The download dialog identifies the unit when it opens and sends only to one whose step
  // resolution it knows.
  const std::string reply = QueryUnitId(port);
  const IndexerIdentity identity = IdentifyIndexer(port, reply);
  job.ThrowIfStopped("nothing sent");
  if (identity.outcome == IdentifyOutcome::StepResolutionUnknown) {
    throw job.Fail(Status::kCommunication,
                   reply.empty() ? "no answer to the unit query (H23); nothing sent"
                                 : "the unit is not recognised (no step resolution in its L70 "
                                   "reply to " +
                                       Quoted(reply) + "); nothing sent");
  }

  CliProgress progress(job.output, "download", "line");
  ProgramDownload download(port, progress);
  DownloadResult result;
  try {
    result = download.Run(lines);
  } catch (const std::exception& error) {
    try {
      download.SendClosingCommands();
    } catch (...) {
      // The port is gone: nothing more goes out.
    }
    const CliFailure failure = job.session.PortFailure(error, job.options.unit);
    throw CliFailure(failure.GetStatus(), std::string(failure.what()) + " (at line " +
                                              std::to_string(download.Result().sent.size()) + ")");
  }
  RunFlag = 1;
  const std::size_t sent = result.sent.size();
  JsonObject object;
  object.Add("result", "download")
      .Add("file", job.File())
      .Add("lines", result.lines)
      .Add("sent", sent)
      .Add("acknowledged", result.acknowledged)
      .Add("completed", result.completed);
  job.output.Result(DownloadSummary(result, FileNameOf(job.File()), result.cancelled), object);

  const std::string closed = "the closing commands were sent";
  if (result.cancelled || StopRequested()) {
    throw CliFailure(Status::kCommunication,
                     job.Where() + ": interrupted at line " + std::to_string(sent) + ", " +
                         std::to_string(sent) + " of " + std::to_string(result.lines) +
                         " lines sent; " + closed);
  }
  if (!result.completed) {
    if (!result.eraseAcknowledged) {
      throw job.Fail(Status::kCommunication,
                     "no acknowledge of the program erase (H12); no line sent; " + closed);
    }
    const std::string line = sent > 0 ? result.sent.back() : std::string();
    throw CliFailure(Status::kCommunication, job.Where() + ", line " + std::to_string(sent) + " " +
                                                 Quoted(line) + ": no acknowledge; " + closed);
  }
  if (!job.options.verify) return Status::kDone;

  progress.Rename("verify", "line");
  const VerifyResult v = VerifyProgram(port, progress, lines);
  RunFlag = 1;
  return ReportComparison(job, v, "lines", "line");
}

Status UploadProgram(Job& job) {
  CheckWritable(job.File());
  CliProgress progress(job.output, "upload", "line");
  const ProgramUploadResult u = ProgramUpload(job.Port(), progress).Run();
  RunFlag = 1;
  job.ThrowIfStopped("read up to line " + std::to_string(u.lastLine) + ", nothing saved");
  if (u.error) {
    throw CliFailure(Status::kCommunication, job.Where() + ", line " + std::to_string(u.lastLine) +
                                                 ": the reply did not end; nothing saved");
  }
  Save(job.File(), u.lines);
  JsonObject object;
  object.Add("result", "upload").Add("file", job.File()).Add("lines", u.lines.size());
  job.output.Result("Saved " + job.File() + ": " + UploadSummary(u, false), object);
  return Status::kDone;
}

Status UploadParams(Job& job) {
  CheckWritable(job.File());
  HeadingQuery(job);
  CliProgress progress(job.output, "parameters", "parameter");
  LParameterUpload params(job.Port(), progress);
  const ParameterUploadResult p = params.Run();
  // The unit leaves the parameter transfer also when the file cannot be written.
  const auto finish = [&] {
    params.Finish();
    RunFlag = 1;
  };
  if (StopRequested() || p.count == 0) {
    finish();
    job.ThrowIfStopped(std::to_string(p.count) + " parameters read, nothing saved");
    throw job.Fail(Status::kCommunication, "no parameter lines came; nothing saved");
  }
  try {
    Save(job.File(), p.lines);
  } catch (...) {
    finish();
    throw;
  }
  finish();
  JsonObject object;
  object.Add("result", "parameters").Add("file", job.File()).Add("parameters", p.count);
  job.output.Result("Saved " + job.File() + ": " + std::to_string(p.count) + " parameters", object);
  return Status::kDone;
}

Status UploadAll(Job& job) {
  CheckWritable(job.File());
  HeadingQuery(job);
  CliProgress progress(job.output, "upload", "line");
  ParameterUploadResult p;
  const ProgramUploadResult u = ReadProgramWithParameters(job.Port(), progress, &p);
  RunFlag = 1;
  job.ThrowIfStopped("read up to line " + std::to_string(u.lastLine) + ", nothing saved");
  if (u.error) {
    throw CliFailure(Status::kCommunication, job.Where() + ", line " + std::to_string(u.lastLine) +
                                                 ": the reply did not end; nothing saved");
  }
  if (p.count == 0)
    throw job.Fail(Status::kCommunication, "no parameter lines came; nothing saved");
  Save(job.File(), u.lines);
  JsonObject object;
  object.Add("result", "upload")
      .Add("file", job.File())
      .Add("lines", u.lines.size())
      .Add("parameterLines", u.leadingLines)
      .Add("programLines", u.ProgramLines());
  job.output.Result("Saved " + job.File() + ": " + UploadSummary(u, true), object);
  return Status::kDone;
}

Status CompareParams(Job& job) {
  const std::vector<std::string> lines = LoadProgramLines(ReadWholeFile(job.File()));
  HeadingQuery(job);
  CliProgress progress(job.output, "compare", "parameter");
  const VerifyResult v = VerifyParameters(job.Port(), progress, lines);
  RunFlag = 1;
  if (v.parameters.count == 0 && !StopRequested()) {
    throw job.Fail(Status::kCommunication, "no parameter lines came");
  }
  return ReportComparison(job, v, "parameters", "L");
}

Status ErrorReportCommand(Job& job) {
  TCustomComPort& port = job.Port();
  std::string shown;
  const ErrorReport e = RunXmuErrorReport(
      port, UnitType, [&port] { return QueryUnitId(port); },
      [&shown](const std::string& text) { shown += text; });
  job.ThrowIfStopped("");
  if ((UnitType == 4 || UnitType == 5) && e.id.empty()) {
    throw job.Fail(Status::kCommunication, "no answer to the unit query (H23)");
  }
  // The report as the terminal shows it, line by line.
  std::size_t start = 0;
  while (start < shown.size()) {
    std::size_t end = shown.find("\r\n", start);
    if (end == std::string::npos) end = shown.size();
    job.output.PlainLine(shown.substr(start, end - start));
    start = end + 2;
  }
  JsonObject object;
  object.Add("result", "error-report")
      .Add("unit", job.options.unit)
      .Add("unitType", e.unitType)
      .Add("id", e.id)
      .Add("h85", e.h85)
      .Add("h86", e.h86)
      .Add("h87", e.h87)
      .Add("axis", e.axis)
      .Add("h85Flags", e.h85Flags)
      .Add("h86Flags", e.h86Flags);
  if (job.output.Json()) job.output.Result("", object);
  return Status::kDone;
}

}  // namespace

Status ListPorts(Output& output) {
  const PortMapSources sources = PortMapSources::System();
  std::vector<PortMapEntry> entries;
  if (const int error = ReadPortMap(sources, &entries); error != 0) {
    throw CliFailure(Status::kCommunication,
                     "the serial ports cannot be listed: " + std::string(std::strerror(error)));
  }
  for (const PortMapEntry& entry : entries) {
    const PortDeviceDetails d = DescribePortDetails(sources, entry.name);
    const std::string device = d.device.empty() ? entry.device : d.device;
    JsonObject object;
    object.Add("result", "port")
        .Add("port", entry.name)
        .Add("device", device)
        .Add("product", d.product)
        .Add("serial", d.serial);
    if (!d.note.empty()) object.Add("note", d.note);
    std::string plain = entry.name + "\t" + (device.empty() ? "-" : device) + "\t" +
                        (d.product.empty() ? "-" : d.product) + "\t" +
                        (d.serial.empty() ? "-" : d.serial);
    if (!d.note.empty()) plain += "\t(" + d.note + ")";
    output.Result(plain, object);
  }
  return Status::kDone;
}

Status RunOnSession(const Options& options, Session& session, Output& output) {
  Job job{options, session, output};
  RunFlag = 1;
  SelectedUnit = 100;
  try {
    if (options.unit > 0) session.SelectUnit(options.unit);
    const std::string& c = options.command;
    if (c == "scan") return Scan(job);
    if (c == "identify") return Identify(job);
    if (c == "send") return Send(job);
    if (c == "download") return Download(job);
    if (c == "upload-program") return UploadProgram(job);
    if (c == "upload-params") return UploadParams(job);
    if (c == "upload-all") return UploadAll(job);
    if (c == "compare-params") return CompareParams(job);
    if (c == "error-report") return ErrorReportCommand(job);
  } catch (const CliFailure&) {
    throw;
  } catch (const std::exception& error) {
    throw session.PortFailure(error, options.unit);
  }
  throw CliFailure(Status::kUsage, "unknown command '" + options.command + "'");
}

Status RunCommand(const Options& options, Output& output) {
  try {
    if (options.command == "ports") return ListPorts(output);
    const LineSettings settings = ResolveLineSettings(options, DefaultIniPath());
    // A file that cannot be used is found before anything goes out on the line.
    const std::string& c = options.command;
    if (c == "download" || c == "compare-params") ReadWholeFile(options.arguments.front());
    if (c.starts_with("upload-")) CheckWritable(options.arguments.front());
    Session session(settings);
    return RunOnSession(options, session, output);
  } catch (const CliFailure& failure) {
    output.Failure(failure.what());
    return failure.GetStatus();
  } catch (const std::exception& error) {
    output.Failure(error.what());
    return Status::kCommunication;
  }
}

}  // namespace kvel::cli
