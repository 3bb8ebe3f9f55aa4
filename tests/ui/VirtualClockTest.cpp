#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VirtualClock.h"

namespace kvel {
namespace {

TEST(VirtualClock, RunsScheduledActionsInTimeOrderDuringWaits) {
  VirtualClock clock;
  std::vector<std::string> log;
  auto note = [&](const std::string& what) {
    return [&log, &clock, what] { log.push_back(what + "@" + std::to_string(clock.NowMs())); };
  };
  clock.ScheduleAt(300, note("c"));
  clock.ScheduleAt(100, note("a"));
  clock.ScheduleAt(100, note("b"));  // same time: after "a", in scheduling order
  clock.ScheduleAt(1000, note("late"));

  clock.Wait(50);
  EXPECT_TRUE(log.empty());
  clock.Wait(250);
  EXPECT_EQ(log, (std::vector<std::string>{"a@100", "b@100", "c@300"}));
  EXPECT_EQ(clock.NowMs(), 300);
  clock.Advance(700);
  EXPECT_EQ(log.back(), "late@1000");
  EXPECT_EQ(clock.Calls(), (std::vector<int>{50, 250}));
}

TEST(VirtualClock, ActionsMayScheduleAndWaitThemselves) {
  VirtualClock clock;
  std::vector<std::int64_t> times;
  clock.ScheduleAt(10, [&] {
    times.push_back(clock.NowMs());
    clock.ScheduleAt(15, [&] { times.push_back(clock.NowMs()); });  // due within this wait
    clock.ScheduleAt(5, [&] { times.push_back(clock.NowMs()); });   // already past: runs now
  });
  clock.ScheduleAt(20, [&] {
    clock.Wait(100);  // a handler that waits inside a wait
    times.push_back(clock.NowMs());
  });
  clock.ScheduleAt(50, [&] { times.push_back(clock.NowMs()); });
  clock.Wait(30);
  // The nested wait ran the entry at 50 and moved time to 120; time never goes back.
  EXPECT_EQ(times, (std::vector<std::int64_t>{10, 10, 15, 50, 120}));
  EXPECT_EQ(clock.NowMs(), 120);
}

TEST(VirtualClock, AWaitForActivityEndsWithTheFirstThingThatHappens) {
  VirtualClock clock;
  bool woken = false;
  auto isWoken = [&woken] { return woken; };
  clock.ScheduleAt(30, [] {});
  clock.ScheduleAt(30, [&woken] { woken = true; });
  EXPECT_EQ(clock.WaitForActivity(100, isWoken), 30);  // the first action at 30 ends it
  EXPECT_EQ(clock.WaitForActivity(100, isWoken), 0);   // the second is due at once
  EXPECT_EQ(clock.WaitForActivity(100, isWoken), 0);   // woken before the wait: no wait
  woken = false;
  EXPECT_EQ(clock.WaitForActivity(100, isWoken), 100);  // nothing happens: the whole time
  EXPECT_EQ(clock.NowMs(), 130);
  EXPECT_EQ(clock.Calls(), (std::vector<int>{30, 0, 0, 100}));
}

TEST(VirtualClock, ProcessMessagesRunsHooksAndIsRecorded) {
  VirtualClock clock;
  clock.SetProcessQtEvents(false);
  int calls = 0;
  clock.AddMessageHook([&] {
    if (++calls == 1) clock.AddMessageHook([&] { calls += 100; });
  });
  clock.ProcessMessages();
  clock.Wait(0);
  clock.ProcessMessages();
  EXPECT_EQ(calls, 1 + 100 + 1 + 100);
  EXPECT_EQ(clock.Calls(), (std::vector<int>{-1, 0, -1}));
  clock.ClearCalls();
  EXPECT_TRUE(clock.Calls().empty());
}

TEST(VirtualClock, InstallsThroughTheSeamAndUninstallsOnDestruction) {
  {
    VirtualClock clock;
    SetClock(&clock);
    Wait(40);
    EXPECT_EQ(NowMs(), 40);
    EXPECT_EQ(&CurrentClock(), &clock);
  }
  EXPECT_EQ(&CurrentClock(), &SystemClock());
  const std::int64_t before = NowMs();
  Wait(20);
  EXPECT_GE(NowMs() - before, 20);
}

}  // namespace
}  // namespace kvel
