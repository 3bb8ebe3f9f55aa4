#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "CliOutput.h"

namespace kvel::cli {
namespace {

// An in-memory stream and what was written to it.
class Capture {
 public:
  Capture() : file_(std::tmpfile()) {}
  ~Capture() { std::fclose(file_); }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;
  std::FILE* File() const { return file_; }
  std::string Text() const {
    std::fflush(file_);
    std::rewind(file_);
    std::string text;
    for (int c = std::fgetc(file_); c != EOF; c = std::fgetc(file_)) text += static_cast<char>(c);
    return text;
  }

 private:
  std::FILE* file_;
};

TEST(CliJson, LineBytesBecomeValidJsonText) {
  EXPECT_EQ(JsonString("=E XMU\r\n"), "\"=E XMU\\r\\n\"");
  EXPECT_EQ(JsonString("a\"b\\c\td"), "\"a\\\"b\\\\c\\td\"");
  EXPECT_EQ(JsonString(std::string("\x1b"
                                   "REV\x7f",
                                   5)),
            "\"\\u001bREV\\u007f\"");
  EXPECT_EQ(JsonString(std::string(1, '\0')), "\"\\u0000\"");
  // A byte above 127 is its Latin-1 character, in UTF-8.
  EXPECT_EQ(JsonString("\xB0"
                       "C\xFF"),
            "\"\xC2\xB0"
            "C\xC3\xBF\"");
}

TEST(CliJson, ObjectsKeepTheMembersInOrder) {
  JsonObject inner;
  inner.Add("line", 12).Add("actual", "");
  JsonObject object;
  object.Add("result", "verify")
      .Add("count", std::size_t{3})
      .Add("matches", false)
      .Add("flags", std::vector<std::string>{"A", "B\""})
      .Add("first", inner)
      .Add("all", std::vector<JsonObject>{inner, inner});
  EXPECT_EQ(object.Text(),
            "{\"result\":\"verify\",\"count\":3,\"matches\":false,\"flags\":[\"A\",\"B\\\"\"],"
            "\"first\":{\"line\":12,\"actual\":\"\"},\"all\":[{\"line\":12,\"actual\":\"\"},"
            "{\"line\":12,\"actual\":\"\"}]}");
  EXPECT_EQ(JsonObject().Text(), "{}");
  EXPECT_EQ(JsonObject().Add("empty", std::vector<std::string>{}).Text(), "{\"empty\":[]}");
}

TEST(CliOutput, ResultsArePlainLinesOrOneObjectEach) {
  Capture out;
  Capture err;
  JsonObject unit;
  unit.Add("address", 3);
  {
    Output plain(out.File(), err.File(), false, Output::ProgressStyle::kNone);
    plain.Result("3 E XMU", unit);
    plain.PlainLine("H85 : 00100000");
  }
  EXPECT_EQ(out.Text(), "3 E XMU\nH85 : 00100000\n");
  Capture jsonOut;
  Output json(jsonOut.File(), err.File(), true, Output::ProgressStyle::kNone);
  json.Result("3 E XMU", unit);
  json.PlainLine("not in the JSON output");
  EXPECT_EQ(jsonOut.Text(), "{\"address\":3}\n");
  EXPECT_EQ(err.Text(), "");
}

TEST(CliOutput, ProgressGoesToStandardErrorInTheChosenStyle) {
  Capture out;
  Capture plainErr;
  Output plain(out.File(), plainErr.File(), false, Output::ProgressStyle::kPlain);
  plain.Begin("download", 3);
  plain.Step(1, "line 1 of 3");
  plain.Step(1, "line 1 of 3");  // nothing new: not repeated
  plain.Step(2, "line 2 of 3");
  plain.End();
  plain.Failure("COM1 (/dev/pts/3), unit 1, line 2: no acknowledge");
  EXPECT_EQ(plainErr.Text(),
            "download: line 1 of 3\ndownload: line 2 of 3\n"
            "kvel-cli: COM1 (/dev/pts/3), unit 1, line 2: no acknowledge\n");

  Capture barErr;
  Output bar(out.File(), barErr.File(), false, Output::ProgressStyle::kBar);
  bar.Begin("scan", 99);
  bar.Step(33, "address 33");
  bar.Failure("stopped");
  const std::string shown = barErr.Text();
  EXPECT_EQ(shown.find("\rscan [##########...................."), 0U) << shown;
  EXPECT_NE(shown.find("] address 33\033[K"), std::string::npos) << shown;
  // The bar is wiped before the failure line, which stands alone on its line.
  EXPECT_NE(shown.find("\r\033[Kkvel-cli: stopped\n"), std::string::npos) << shown;

  Capture quietErr;
  Output quiet(out.File(), quietErr.File(), false, Output::ProgressStyle::kNone);
  quiet.Begin("scan", 99);
  quiet.Step(1, "address 1");
  EXPECT_EQ(quietErr.Text(), "");
  EXPECT_EQ(Output::StyleFor(quietErr.File(), true), Output::ProgressStyle::kNone);
  EXPECT_EQ(Output::StyleFor(quietErr.File(), false), Output::ProgressStyle::kPlain);
}

}  // namespace
}  // namespace kvel::cli
