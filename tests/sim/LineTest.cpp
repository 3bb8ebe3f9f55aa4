#include <gtest/gtest.h>

#include "Harness.h"

namespace kvel::sim::test {
namespace {

const char kChain[] = R"(line COM1
indexer 3 xmu
indexer 12 mu id="I MU V1.4" probe=number:5
indexer 20 qn4100i probe=busy
)";

TEST(Line, OnlyTheProbedUnitAnswersTheProbe) {
  SimLine sim(kChain);
  Harness h = sim.harness();
  for (int n = 1; n <= 25; ++n) {
    const std::string reply = h.Ask("<" + std::to_string(n) + "? ", 100);
    SCOPED_TRACE(n);
    switch (n) {
      case 3:
        EXPECT_EQ(reply, "=");
        break;
      case 12:
        EXPECT_EQ(reply, "5\r\n");
        break;
      case 20:
        EXPECT_EQ(reply, ":");
        break;
      default:
        EXPECT_EQ(reply, "");
    }
  }
}

TEST(Line, CommandsGoToTheProbedOrSelectedUnit) {
  SimLine sim(kChain);
  Harness h = sim.harness();
  EXPECT_EQ(h.Ask("H23\r"), "=E XMU VORTAN V2.1\r\n");  // the first unit until one is chosen
  h.Ask("<12? ");
  EXPECT_EQ(h.Ask("H23\r"), "=I MU V1.4\r\n");
  h.Ask("<20 ");
  EXPECT_EQ(h.Ask("H23\r"), "=P QN4100I VORTAN V3.0\r\n");
  h.Ask("<7 ");
  EXPECT_EQ(h.Ask("H23\r"), "");  // nobody has address 7
  EXPECT_EQ(h.Ask("<3 H23\r"), "=E XMU VORTAN V2.1\r\n");
  EXPECT_EQ(sim.line().Addressed(), 3);

  const auto entries = sim.line().transcript().Entries();
  std::vector<int> answered;
  for (const auto& e : entries) {
    if (e.direction == Transcript::Direction::Sent) answered.push_back(e.address);
  }
  EXPECT_EQ(answered, (std::vector<int>{3, 12, 12, 20, 3}));
}

TEST(Line, CharactersTypedOneByOneMakeTheSameCommand) {
  SimLine sim(kChain);
  Harness h = sim.harness();
  const struct {
    const char* typed;
    const char* reply;
  } rows[] = {
      {"<12 ", ""},
      {"H23\r", "=I MU V1.4\r\n"},
      {"H24\b3\r", "=I MU V1.4\r\n"},
      {"  H23\r\n", "=I MU V1.4\r\n"},
      {"N1 H13\n\r", "=N001\r\n"},
      {"<3? ", "="},
      {"\x1bREV\r", "XMU firmware rev 2.14 11/1998\r\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(Transcript::Visible(row.typed));
    std::string got;
    const std::string typed = row.typed;
    for (std::size_t i = 0; i < typed.size(); ++i) {
      got += h.Ask(typed.substr(i, 1), 150);
      if (i + 1 < typed.size() && typed[i + 1] != '\n') {
        EXPECT_EQ(got, "") << "answered before the line end";
      }
    }
    EXPECT_EQ(got, row.reply);
  }
}

TEST(Line, ReplyStartsAfterTheRequestAndTakesOneByteTimePerByte) {
  SimLine sim("line COM1 byte-us=1000 reply-delay=3\nindexer 1 xmu");
  Harness h = sim.harness();
  h.Send("H23\r");
  // Four bytes in (4 ms), the reply delay (3 ms), then one millisecond per byte.
  h.now = 7999;
  EXPECT_EQ(h.line.TakeDue(h.now), "");
  EXPECT_EQ(h.line.NextDueUs(), 8000);
  h.now = 8000;
  EXPECT_EQ(h.line.TakeDue(h.now), "=");
  h.now = 9999;
  EXPECT_EQ(h.line.TakeDue(h.now), "E");
  const std::string rest = "XMU VORTAN V2.1\r\n";
  h.now = 10000 + static_cast<Micros>(rest.size()) * 1000;
  EXPECT_EQ(h.line.TakeDue(h.now), " " + rest);
  EXPECT_EQ(h.line.NextDueUs(), std::nullopt);
}

TEST(Line, RepliesQueueBehindEachOtherOnTheWire) {
  SimLine sim("line COM1 byte-us=1000 reply-delay=0\nindexer 1 xmu");
  Harness h = sim.harness();
  h.Send("H23\rH23\r");  // the second request is in after 8 ms, the first reply lasts 20
  h.Wait(100);
  const auto entries = sim.line().transcript().Entries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].atUs, 0);
  EXPECT_EQ(entries[1].atUs, 5000);
  EXPECT_EQ(entries[2].atUs, 5000 + 20000);
}

TEST(Line, TranscriptHasEveryByteInTimeOrder) {
  SimLine sim("indexer 1 xmu");
  Harness h = sim.harness();
  h.Ask("<1? ", 100);
  h.Ask("Z95 1\n\r", 300);
  const auto entries = sim.line().transcript().Entries();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].bytes, "<1? ");
  EXPECT_EQ(entries[0].atUs, 0);
  EXPECT_EQ(entries[1].bytes, "=");
  EXPECT_EQ(entries[2].bytes, "Z95 1\n\r");
  EXPECT_EQ(entries[2].atUs, 100000);
  EXPECT_EQ(entries[3].direction, Transcript::Direction::Sent);
  EXPECT_EQ(sim.line().transcript().Bytes(Transcript::Direction::Received), "<1? Z95 1\n\r");
  EXPECT_EQ(Transcript::Format(entries[2]), "   100.000 << Z95 1\\n\\r");
  EXPECT_EQ(Transcript::Format(entries[3]).substr(11), ">> #1 =");
}

TEST(Line, EndlessInputIsRefusedWithoutGrowing) {
  SimLine sim("indexer 1 xmu");
  Harness h = sim.harness();
  EXPECT_EQ(h.Ask(std::string(5000, 'X') + "\r", 10000), "?\r\n");
  EXPECT_EQ(h.Ask("H23\r"), "=E XMU VORTAN V2.1\r\n");
}

TEST(Line, DriveLineHasNoAddressing) {
  SimLine sim("drive zorv");
  Harness h = sim.harness();
  EXPECT_EQ(h.Ask("<1? "), "");
  EXPECT_EQ(h.Ask("\r"), "?\r\n");  // "<1? " was just text of a command
  EXPECT_EQ(h.Ask("ERR\r"), "0\r\n");
}

}  // namespace
}  // namespace kvel::sim::test
