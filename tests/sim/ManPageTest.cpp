#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "Config.h"
#include "TestFiles.h"

namespace {

// As troff wants it: every minus of a name escaped.
std::string Troff(std::string text) {
  std::string out;
  for (const char c : text) {
    if (c == '-') out += '\\';
    out += c;
  }
  return out;
}

// Every statement and every setting the simulator's own help lists is in its manual page.
TEST(ManPageTest, SimulatorPageNamesEveryStatementAndSetting) {
  const std::string page = ReadFile(KVEL_SIM_MAN_PAGE);
  ASSERT_FALSE(page.empty()) << KVEL_SIM_MAN_PAGE;
  const std::string help = kvel::sim::SimConfig::StatementHelp();
  std::set<std::string> names;
  const std::regex statement(R"(\n  ([a-z]+) )");
  for (std::sregex_iterator it(help.begin(), help.end(), statement), end; it != end; ++it) {
    names.insert((*it)[1]);
  }
  const std::regex setting(R"(([a-z][a-z0-9-]*)=)");
  for (std::sregex_iterator it(help.begin(), help.end(), setting), end; it != end; ++it) {
    names.insert((*it)[1]);
  }
  EXPECT_GE(names.size(), 30U);
  for (const std::string& name : names) {
    EXPECT_NE(page.find(Troff(name)), std::string::npos) << name << " is not in kvel-sim(1)";
  }
}

}  // namespace
