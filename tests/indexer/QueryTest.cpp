#include <filesystem>

#include "IndexerRig.h"
#include "KVEL_32_IDX.h"
#include "KVEL_Var.h"
#include "PCtoIDX.h"

namespace {

using QueryTest = IndexerRig;

TEST_F(QueryTest, UnitQueryWaitsPurgesAndDropsOnlyTheFirstEquals) {
  Build("indexer 1 xmu\nreply 1 H23 \"==5\\r\\n\" uses=1\nreply 1 H23 \"\\e{V1.2~\\r\\n\"");
  EXPECT_EQ(QueryUnitId(port_), "=5");
  EXPECT_EQ(RxCount, 5);
  EXPECT_EQ(QueryUnitId(port_), "V1.2");
  EXPECT_EQ(Writes(), (std::vector<std::string>{"100 H23\\r", "700 H23\\r"}));
}

TEST_F(QueryTest, RevisionQueryKeepsTheEquals) {
  Build("indexer 1 xmu\nreply 1 \"\\eREV\" \"=R2=\\r\\n\"");
  EXPECT_EQ(QueryRevision(port_), "=R2=");
  EXPECT_EQ(Writes(), (std::vector<std::string>{"100 \\eREV\\r"}));
}

TEST_F(QueryTest, ASilentUnitGivesEmptyRepliesAndNoStepResolution) {
  Build("indexer 1 xmu\nfault 1 silent");
  EXPECT_EQ(QueryUnitId(port_), "");
  EXPECT_EQ(QueryRevision(port_), "");
  EXPECT_EQ(QueryStepResolution(port_), 0);
}

TEST_F(QueryTest, StepResolutionQueryTraffic) {
  Build("indexer 1 xmu\nparam 1 70=125");
  EXPECT_EQ(QueryStepResolution(port_), 125);
  EXPECT_EQ(Writes(), (std::vector<std::string>{"0 L49 70\\r", "0 L50 1\\r", "0 H16\\r",
                                                "200 L49 0\\r", "200 L50 0\\r"}));
  EXPECT_EQ(clock_.NowMs(), 400);
}

struct StepRow {
  const char* reply;
  int expected;
};

class StepResolution : public ::testing::TestWithParam<StepRow> {};

TEST_P(StepResolution, FromTheFilteredReply) {
  EXPECT_EQ(StepResolutionOf(GetParam().reply), GetParam().expected) << GetParam().reply;
}

INSTANTIATE_TEST_SUITE_P(Replies, StepResolution,
                         ::testing::Values(StepRow{"L70 125", 125}, StepRow{"L70 = 002", 2},
                                           StepRow{"L70 001", 1}, StepRow{"L70 005", 5},
                                           StepRow{"L70 0010", 10}, StepRow{"L71 125", 0},
                                           StepRow{"125", 0}, StepRow{"L70 = 000", 0},
                                           StepRow{"", 0}));

struct IdentifyRow {
  const char* name;
  int unitType;
  const char* statements;  // after "indexer 1 xmu"
  int step;
  IdentifyOutcome outcome;
  const char* typeText;
  const char* stem;
  bool askedL70;
};

class Identify : public IndexerRig, public ::testing::WithParamInterface<IdentifyRow> {};

TEST_P(Identify, Outcome) {
  const IdentifyRow& row = GetParam();
  UnitType = row.unitType;
  Build(std::string("indexer 1 xmu ") + row.statements);
  const IndexerIdentity identity = IdentifyIndexer(port_, QueryUnitId(port_));
  EXPECT_EQ(identity.stepResolution, row.step);
  EXPECT_EQ(identity.outcome, row.outcome);
  EXPECT_EQ(identity.typeText, row.typeText);
  if (row.outcome == IdentifyOutcome::Recognised) {
    EXPECT_EQ(identity.FileStem(), row.stem);
  }
  const std::vector<std::string> writes = Writes();
  EXPECT_EQ(writes.size(), row.askedL70 ? 6u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, Identify,
    ::testing::Values(
        IdentifyRow{"BrandWord", 5, "id=\"I MU VORTAN V1.7 extra text\"", 1,
                    IdentifyOutcome::Recognised, "New red label Indexer", "MU-1", false},
        IdentifyRow{"L70of125", 5, "id=\"E XMU V2\"\nparam 1 70=125", 125,
                    IdentifyOutcome::Recognised, "New enhanched Indexer", "XMU-125", true},
        IdentifyRow{"L70of002", 4, "id=\"0 old\"\nparam 1 70=2", 2, IdentifyOutcome::Recognised,
                    "Old blue label Indexer", "MU-2", true},
        IdentifyRow{"L70Missing", 5, "id=\"E XMU V2\"\nreply 1 H16 \"=\\r\\n\"", 0,
                    IdentifyOutcome::StepResolutionUnknown, "", "", true},
        IdentifyRow{"L70of0010", 5, "id=\"D drive\"\nreply 1 H16 \"L70 = 0010\\r\\n\"", 10,
                    IdentifyOutcome::Recognised, "Direct Drive System", "MU-10", true},
        IdentifyRow{"LowerCaseLetter", 5, "id=\"e xmu\"\nparam 1 70=5", 5,
                    IdentifyOutcome::TypeLetterUnknown, "", "", true},
        IdentifyRow{"UnitType3", 3, "id=\"E XMU V2\"\nparam 1 70=1", 1,
                    IdentifyOutcome::NotApplicable, "", "", true},
        IdentifyRow{"UnitType3Brand", 3, "", 1, IdentifyOutcome::NotApplicable, "", "", false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(QueryTest, SoftwareRevIsTheFirstTwentyCharacters) {
  Build("indexer 1 xmu id=\"P QN4100I VORTAN V3.0 and more\"");
  IdentifyIndexer(port_, QueryUnitId(port_));
  EXPECT_EQ(SoftwareRev, "P QN4100I VORTAN V3.");
}

struct NameRow {
  int number;
  const char* description;
  std::size_t padding;
};

class ParameterName : public ::testing::TestWithParam<NameRow> {};

TEST_P(ParameterName, IsPaddedToThirtyTwoCharacters) {
  const NameRow& row = GetParam();
  EXPECT_EQ(LParamName(row.number), std::string(row.description) + std::string(row.padding, ' '));
}

INSTANTIATE_TEST_SUITE_P(Table, ParameterName,
                         ::testing::Values(NameRow{1, "RS232 Message # 1", 15},
                                           NameRow{11, "Acceleration (+Decel MU/XMU)", 4},
                                           NameRow{19, "Counterclockwise travel Limit", 3},
                                           NameRow{26, "Command Acknowledge", 13},
                                           NameRow{43, "Delay between Index and Backlash", 0},
                                           NameRow{48, "Program Line Count Designator", 3},
                                           NameRow{70, "Step Resolution", 17},
                                           NameRow{71, "Ramp Freqency Limit", 13},
                                           NameRow{98, "Delay between %H codes", 10},
                                           NameRow{99, "", 32},
                                           NameRow{15, " ????????? unknown L function", 3},
                                           NameRow{0, " ????????? unknown L function", 3},
                                           NameRow{100, " ????????? unknown L function", 3},
                                           NameRow{-1, " ????????? unknown L function", 3},
                                           NameRow{92, " ????????? unknown L function", 3}));

TEST(ProbeNumber, ReadsOnlyWholeNumbers) {
  EXPECT_EQ(ProbeNumber("5"), 5);
  EXPECT_EQ(ProbeNumber("  12"), 12);
  EXPECT_EQ(ProbeNumber("+7"), 7);
  EXPECT_EQ(ProbeNumber("-3"), -3);
  EXPECT_EQ(ProbeNumber("0"), 0);
  EXPECT_EQ(ProbeNumber("5 "), 0);
  EXPECT_EQ(ProbeNumber("="), 0);
  EXPECT_EQ(ProbeNumber(""), 0);
  EXPECT_EQ(ProbeNumber("-"), 0);
  EXPECT_EQ(ProbeNumber("99999999999999999999999"), 0);
}

TEST(ProgramFile, LinesEndWithCrLfLfOrCr) {
  EXPECT_EQ(LoadProgramLines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(LoadProgramLines("a\r\n\r\nb\r\n"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(LoadProgramLines(""), std::vector<std::string>{});
}

TEST_F(QueryTest, SavedLinesEndWithCrLfAndAFailedSaveRaises) {
  SaveLines("out.PGM", {"N001 G01", "", "L26  2"});
  EXPECT_EQ(ReadFile("out.PGM"), "N001 G01\r\n\r\nL26  2\r\n");
  std::filesystem::create_directory("taken.PGM");
  try {
    SaveLines("taken.PGM", {"x"});
    FAIL() << "saved over a folder";
  } catch (const std::exception& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Cannot create file \"taken.PGM\".", 0), 0u) << e.what();
  }
  EXPECT_TRUE(std::filesystem::is_directory("taken.PGM"));
  EXPECT_THROW(SaveLines("missing/out.PGM", {"x"}), std::exception);
  // The earlier file is untouched by the failed saves.
  EXPECT_EQ(ReadFile("out.PGM"), "N001 G01\r\n\r\nL26  2\r\n");
}

}  // namespace
