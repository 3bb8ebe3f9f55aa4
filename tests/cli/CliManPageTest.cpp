#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "CliOptions.h"
#include "TestFiles.h"

namespace kvel::cli {
namespace {

// The commands and long options the usage lists.
std::set<std::string> UsageNames() {
  const std::string usage = UsageText();
  std::set<std::string> names;
  const std::regex command(R"(\n  ([a-z][a-z-]+) )");
  for (std::sregex_iterator it(usage.begin(), usage.end(), command), end; it != end; ++it) {
    names.insert((*it)[1]);
  }
  const std::regex option(R"((--[a-z]+))");
  for (std::sregex_iterator it(usage.begin(), usage.end(), option), end; it != end; ++it) {
    names.insert((*it)[1]);
  }
  return names;
}

std::string Troff(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '-') out += '\\';
    out += c;
  }
  return out;
}

TEST(CliManPage, NamesEveryCommandAndOptionOfTheUsage) {
  const std::string page = ReadFile(KVEL_CLI_MAN_PAGE);
  ASSERT_FALSE(page.empty()) << KVEL_CLI_MAN_PAGE;
  const std::set<std::string> names = UsageNames();
  EXPECT_GE(names.size(), 18U);
  for (const std::string& name : names) {
    EXPECT_NE(page.find(Troff(name)), std::string::npos) << name << " is not in kvel-cli(1)";
  }
  // Each exit status is explained.
  for (const char* status : {".B 0\n", ".B 1\n", ".B 2\n", ".B 3\n", ".B 4\n"}) {
    EXPECT_NE(page.find(status), std::string::npos) << status;
  }
}

TEST(CliManPage, CompletionOffersEveryCommandAndOption) {
  const std::string completion = ReadFile(KVEL_CLI_COMPLETION);
  ASSERT_FALSE(completion.empty()) << KVEL_CLI_COMPLETION;
  for (const std::string& name : UsageNames()) {
    const std::regex word("[\" ]" + name + "[\" ]");
    EXPECT_TRUE(std::regex_search(completion, word)) << name << " is not completed";
  }
}

}  // namespace
}  // namespace kvel::cli
