#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "CliProgress.h"
#include "CliSignal.h"

namespace kvel::cli {
namespace {

std::string Contents(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) text += static_cast<char>(c);
  return text;
}

TEST(CliProgress, FoundUnitsAreResultsAsTheyCome) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  {
    Output output(out, err, true, Output::ProgressStyle::kNone);
    CliProgress progress(output, "scan", "address");
    progress.UnitFound({3, "# 3 = E XMU VORTAN V2.1", "#  3 = E XMU VORTAN V2.1 ready"});
    progress.UnitFound({12, "# 12 = I MU = V1.7", "# 12 = I MU = V1.7 busy"});
    progress.UnitFound(
        {20, "# 20 = MU firmware rev 1.7 03/...", "# 20 = MU firmware rev 1.7 03/..."});
    EXPECT_EQ(progress.Found(), 3);
  }
  EXPECT_EQ(Contents(out),
            "{\"result\":\"unit\",\"address\":3,\"id\":\"E XMU VORTAN V2.1\",\"state\":\"ready\"}\n"
            "{\"result\":\"unit\",\"address\":12,\"id\":\"I MU = V1.7\",\"state\":\"busy\"}\n"
            "{\"result\":\"unit\",\"address\":20,\"id\":\"MU firmware rev 1.7 03/...\","
            "\"state\":\"numbered\"}\n");
  std::fclose(out);
  std::fclose(err);
}

TEST(CliProgress, StepsAreCountedAndWarningsKeptOnOneLine) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  {
    Output output(out, err, false, Output::ProgressStyle::kPlain);
    CliProgress progress(output, "upload", "line");
    progress.Progress(1, 400, 0, "Reading line : 1");
    progress.Progress(2, 400, 0, "Reading line : 2");
    progress.Rename("verify", "line");
    progress.Progress(1, 3, 0, "");
    progress.Warn(
        "There was a problem with the communication.\r\nYou may try to save the file, but a ggod "
        "ressult is not sure.",
        "Communication Error");
    EXPECT_EQ(progress.Warning(),
              "Communication Error: There was a problem with the communication. You may try to "
              "save the file, but a ggod ressult is not sure.");
  }
  EXPECT_EQ(Contents(err), "upload: line 1 of 400\nupload: line 2 of 400\nverify: line 1 of 3\n");
  EXPECT_EQ(Contents(out), "");
  std::fclose(out);
  std::fclose(err);
}

TEST(CliProgress, AStopSignalCancelsTheJob) {
  std::FILE* sink = std::tmpfile();
  Output output(sink, sink, false, Output::ProgressStyle::kNone);
  CliProgress progress(output, "download", "line");
  ClearStopRequest();
  EXPECT_FALSE(progress.Cancelled());
  NoteStop(SIGINT);
  EXPECT_TRUE(progress.Cancelled());
  EXPECT_EQ(StopSignal(), SIGINT);
  ClearStopRequest();
  EXPECT_FALSE(StopRequested());
  std::fclose(sink);
}

}  // namespace
}  // namespace kvel::cli
