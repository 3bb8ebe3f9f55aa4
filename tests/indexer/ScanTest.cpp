#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <set>

#include "IndexerRig.h"
#include "KVEL_32_IDX.h"
#include "KVEL_Var.h"
#include "ScanIDX.h"

namespace {

using ScanTest = IndexerRig;

// The probes of addresses `first` ... `last`, 100 ms apart from `atMs` on.
void AddProbes(std::vector<std::string>* writes, int first, int last, long long atMs) {
  for (int n = first; n <= last; ++n, atMs += 100) {
    writes->push_back(std::to_string(atMs) + " <" + std::to_string(n) + "? ");
  }
}

TEST_F(ScanTest, BusyReadyAndNumberedUnitsAreListedAndTheLastIsSelected) {
  Build(
      "indexer 3 mu probe=busy\n"
      "indexer 7 xmu\n"
      "indexer 12 mu probe=number:5 rev=\"MU firmware rev 1.7 03/1996 build 4\"");
  std::vector<std::string> results;  // what Label4 showed, in order
  clock_.AddMessageHook([&results] {
    if (ScanForm == nullptr) return;
    const std::string text = ScanForm->Label4->text().toStdString();
    if (results.empty() || results.back() != text) results.push_back(text);
  });
  std::string caption;
  clock_.ScheduleAt(50, [&caption] { caption = ScanForm->windowTitle().toStdString(); });

  ScanForIndexers(*this);

  std::vector<std::string> expected;
  AddProbes(&expected, 1, 3, 0);
  expected.push_back("400 H23\\r");  // busy unit 3: unit query, then 400 ms
  AddProbes(&expected, 4, 7, 1300);
  expected.push_back("1800 H23\\r");  // ready unit 7
  AddProbes(&expected, 8, 12, 2700);
  expected.push_back("3300 \\eREV\\r");  // numbered unit 12: two revision queries
  expected.push_back("4300 \\eREV\\r");
  AddProbes(&expected, 13, 99, 4800);
  expected.push_back("13500 <12 ");
  EXPECT_EQ(Writes(), expected);

  EXPECT_EQ(caption, "Scanning for Indexers");
  EXPECT_EQ(units_, (std::vector<std::string>{"# 3 = I MU VORTAN V1.7", "# 7 = E XMU VORTAN V2.1",
                                              "# 12 = MU firmware rev 1.7 03..."}));
  EXPECT_EQ(results, (std::vector<std::string>{
                         "                    ", "# 3 = I MU VORTAN V1.7 busy",
                         "#  7 = E XMU VORTAN V2.1 ready", "# 12 = MU firmware rev 1.7 03..."}));
  EXPECT_EQ(SelectedUnit, 12);
  EXPECT_EQ(UnitIdText, "MU firmware rev 1.7 03/1996 build 4");
  EXPECT_EQ(status_, " Unit : MU firmware rev 1.7 03/1996 build 4");
  EXPECT_EQ(terminal_, "\n\r");
  EXPECT_EQ(enabled_, (std::vector<bool>{false, true}));
  EXPECT_EQ(pollStarts_, 1);
  EXPECT_EQ(ScanForm, nullptr);
  EXPECT_EQ(port_.PendingInput(), 0);
}

TEST_F(ScanTest, NothingFoundTakesAboutTenSeconds) {
  Build("indexer 50 xmu\nfault 50 silent");
  ScanForIndexers(*this);
  std::vector<std::string> expected;
  AddProbes(&expected, 1, 99, 0);
  EXPECT_EQ(Writes(), expected);
  EXPECT_EQ(clock_.NowMs(), 9900);
  EXPECT_EQ(status_, " Unit : none ");
  EXPECT_TRUE(units_.empty());
  EXPECT_EQ(SelectedUnit, 100);
  EXPECT_EQ(terminal_, "\n\r");
  EXPECT_EQ(pollStarts_, 1);
}

TEST_F(ScanTest, EscAtAddressFortyFinishesItAndProbesNoFurther) {
  Build("indexer 40 xmu\nindexer 41 mu");
  clock_.AddMessageHook([] {
    if (ScanForm != nullptr && ScanForm->Label2->text() == QStringLiteral("Scanning : 40 ")) {
      PressEscInProgressWindow();
    }
  });
  ScanForIndexers(*this);
  std::vector<std::string> expected;
  AddProbes(&expected, 1, 40, 0);
  expected.push_back("4100 H23\\r");
  expected.push_back("5000 <40 ");
  EXPECT_EQ(Writes(), expected);
  EXPECT_EQ(units_, (std::vector<std::string>{"# 40 = E XMU VORTAN V2.1"}));
  EXPECT_EQ(status_, " Unit : E XMU VORTAN V2.1");
}

TEST_F(ScanTest, CancelButtonStopsTheScanBeforeAnyUnit) {
  Build("indexer 20 xmu");
  clock_.ScheduleAt(450, [] { ScanForm->Button2->click(); });
  ScanForIndexers(*this);
  std::vector<std::string> expected;
  AddProbes(&expected, 1, 5, 0);
  EXPECT_EQ(Writes(), expected);
  EXPECT_EQ(status_, " Unit : none ");
  EXPECT_EQ(SelectedUnit, 100);
}

TEST_F(ScanTest, PortErrorStillPurgesReleasesAndEnables) {
  Build("line COM1 gone-after=250\nindexer 9 xmu");
  EXPECT_THROW(ScanForIndexers(*this), EComPort);
  EXPECT_EQ(ScanForm, nullptr);
  EXPECT_EQ(enabled_, (std::vector<bool>{false, true}));
  EXPECT_EQ(pollStarts_, 0);
}

}  // namespace
