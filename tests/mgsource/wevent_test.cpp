// The window manager's event queue: posting, taking, priorities and the
// start-up gate, duplicates, growth, purging, and posts from other threads.
#include <atomic>
#include <thread>
#include <vector>

#include "mgsource/window/wevent.h"
#include "test_support.h"

namespace {

class EventQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureManagers();
    ASSERT_EQ(WEventQueueInit(1), kNoErr);
    WEventSetGate(1);
    WEventSetLoopState(1, 0);
    // Purged events go to no window until a disposal window is named (the
    // window tests of this process name one).
    WEventSetDisposalWindow(kWNoWindow);
    Drain();
  }
  void TearDown() override {
    Drain();
    MemFullReset();  // the failed growth leaves the memory-full state noted
    WEventSetLoopState(1, 0);
    WEventSetWakeUp(nullptr);
  }
  static void Drain() {
    WEventRecord e;
    while (WGetNextEvent(&e)) {
    }
  }
  static WEventRecord Event(int32 code, int32 where = 0, WindowRef window = kWRootWindow) {
    WEventRecord e{};
    e.code = code;
    e.window = window;
    e.where = where;
    return e;
  }
  static std::vector<int32> Taken() {
    std::vector<int32> v;
    WEventRecord e;
    while (WGetNextEvent(&e)) v.push_back(e.where);
    return v;
  }
  Capture capture_;
};

TEST_F(EventQueueTest, EventsLeaveInTheOrderTheyCameWithTheirWords) {
  for (int32 i = 1; i <= 5; ++i) {
    WEventRecord e = Event(kWEvUser, i);
    e.globalWhere = 10 * i;
    e.data[2] = -i;
    ASSERT_EQ(WPostEvent(&e, 0, kWPostAnyLevel), kNoErr);
  }
  EXPECT_EQ(WCountPendingEvents(), 5);
  WEventRecord e;
  for (int32 i = 1; i <= 5; ++i) {
    ASSERT_EQ(WGetNextEvent(&e), 1);
    EXPECT_EQ(e.where, i);
    EXPECT_EQ(e.globalWhere, 10 * i);
    EXPECT_EQ(e.data[2], -i);
    EXPECT_EQ(e.window, kWRootWindow);
  }
  EXPECT_EQ(WGetNextEvent(&e), 0);
  // Window 0 means the root window; -1 is refused.
  WEventRecord zero = Event(1, 0, kWNoWindow);
  ASSERT_EQ(WPostEvent(&zero, 0, 0), kNoErr);
  ASSERT_EQ(WGetNextEvent(&e), 1);
  EXPECT_EQ(e.window, kWRootWindow);
  WEventRecord current = Event(1, 0, kWCurrentWindow);
  EXPECT_EQ(WPostEvent(&current, 0, 0), kArgErr);
  EXPECT_EQ(WPostEvent(nullptr, 0, 0), kArgErr);
  WEventRecord any = Event(1);
  EXPECT_EQ(WPostEvent(&any, 0, 9), kArgErr);
  EXPECT_EQ(WCountPendingEvents(), 0);
  EXPECT_GE(capture_.Count("eventq") + capture_.Count("wevent"), 2);
}

TEST_F(EventQueueTest, DuplicatesOfUserEventsCompareTheirWords) {
  WEventRecord a = Event(kWEvUser, 6);
  a.globalWhere = 100;
  ASSERT_EQ(WPostEvent(&a, 1, 0), kNoErr);
  ASSERT_EQ(WPostEvent(&a, 1, 0), kNoErr);  // the same: not added
  WEventRecord b = a;
  b.keyCode = 7;
  ASSERT_EQ(WPostEvent(&b, 1, 0), kNoErr);  // another word differs: added
  ASSERT_EQ(WPostEvent(&a, 0, 0), kNoErr);  // without the test: added
  EXPECT_EQ(WFindQueuedEvent(&b), 1);
  EXPECT_EQ(WCountPendingEvents(), 3);
  // Other codes compare only the window and the code.
  Drain();
  WEventRecord k = Event(6, 1), k2 = Event(6, 2);
  WPostEvent(&k, 1, 0);
  WPostEvent(&k2, 1, 0);
  EXPECT_EQ(WCountPendingEvents(), 1);
}

TEST_F(EventQueueTest, PrioritiesTieEventsToNestingLevelsAndTheGateHoldsAllButDialogQuits) {
  WEventRecord top = Event(1, 1), any = Event(1, 2), outer = Event(1, 3);
  WEventSetLoopState(2, 0);  // inside a nested loop
  ASSERT_EQ(WPostEvent(&top, 0, kWPostTopLevel), kNoErr);
  ASSERT_EQ(WPostEvent(&any, 0, kWPostAnyLevel), kNoErr);
  ASSERT_EQ(WPostEvent(&outer, 0, kWPostOuterLevel), kNoErr);  // priority 1
  EXPECT_EQ(Taken(), (std::vector<int32>{2}));
  WEventSetLoopState(1, 1);  // tracking counts as one level more
  EXPECT_EQ(Taken(), (std::vector<int32>{}));
  WEventSetLoopState(1, 0);
  EXPECT_EQ(Taken(), (std::vector<int32>{1, 3}));

  WEventSetGate(0);
  WEventRecord early = Event(1, 4), quit = Event(kWEvDialogQuit, 5);
  WPostEvent(&early, 0, 0);
  WPostEvent(&quit, 0, 0);
  EXPECT_EQ(WCountPendingEvents(), 1);
  EXPECT_EQ(Taken(), (std::vector<int32>{5}));
  WEventSetGate(1);
  EXPECT_EQ(Taken(), (std::vector<int32>{4}));
}

TEST_F(EventQueueTest, AnOuterLevelPostFromTheOutermostLoopsIsStillTaken) {
  // At level 1 (and at level 0, before the main loop runs) "one level out"
  // would be a priority no loop takes; it is the outermost level instead.
  for (int32 level : {0, 1}) {
    WEventSetLoopState(level, 0);
    WEventRecord e = Event(1, 10 + level);
    ASSERT_EQ(WPostEvent(&e, 0, kWPostOuterLevel), kNoErr);
    WEventSetLoopState(2, 0);
    EXPECT_EQ(Taken(), (std::vector<int32>{})) << level;
    WEventSetLoopState(1, 0);
    EXPECT_EQ(Taken(), (std::vector<int32>{10 + level})) << level;
  }
}

int32 AcceptOdd(WindowRef, const WEventRecord* e, void*);

TEST_F(EventQueueTest, TheQueueGrowsPastItsFirstRoomAndKeepsOrder) {
  for (int32 i = 0; i < 300; ++i) {
    WEventRecord e = Event(1, i);
    ASSERT_EQ(WPostEvent(&e, 0, 0), kNoErr);
  }
  std::vector<int32> taken = Taken();
  ASSERT_EQ(taken.size(), 300u);
  for (int32 i = 0; i < 300; ++i) EXPECT_EQ(taken[size_t(i)], i);

  // Takes from the front interleaved with posts that need room, a purge and
  // a search keep the order and address the right entries.
  WEventQueueInit(0);
  ASSERT_EQ(WEventQueueInit(1), kNoErr);
  WEventSetGate(1);
  int32 next = 0, expect = 0;
  for (int round = 0; round < 6; ++round) {
    for (int32 i = 0; i < 40; ++i) {
      WEventRecord e = Event(kWEvUser, next++);
      ASSERT_EQ(WPostEvent(&e, 0, 0), kNoErr);
    }
    WEventRecord e;
    for (int32 i = 0; i < 25; ++i) {
      ASSERT_EQ(WGetNextEvent(&e), 1);
      EXPECT_EQ(e.where, expect++);
    }
  }
  WEventRecord probe = Event(kWEvUser, expect + 1);
  EXPECT_EQ(WFindQueuedEvent(&probe), 1);
  WPurgeEvents(kWRootWindow, &AcceptOdd, nullptr);
  WEventRecord e;
  for (; expect < next; ++expect) {
    ASSERT_EQ(WGetNextEvent(&e), 1);
    EXPECT_EQ(e.code, expect % 2 ? kWEvNull : kWEvUser) << expect;
    if (expect % 2 == 0) {
      EXPECT_EQ(e.where, expect);
    }
  }
  EXPECT_EQ(WGetNextEvent(&e), 0);
}

TEST_F(EventQueueTest, AFailedGrowthAddsNothing) {
  // A new queue has room for 65 entries: 16 must stay spare past the count.
  WEventQueueInit(0);
  ASSERT_EQ(WEventQueueInit(1), kNoErr);
  WEventSetGate(1);
  for (int32 i = 0; i < 49; ++i) {
    WEventRecord e = Event(1, i);
    ASSERT_EQ(WPostEvent(&e, 0, 0), kNoErr);
  }
  WEventRecord e = Event(1, 49);
  MemFailNthAllocation(1);
  const MgErr err = WPostEvent(&e, 0, 0);
  MemFailNthAllocation(0);
  EXPECT_EQ(err, kMemFullErr);
  EXPECT_EQ(WCountPendingEvents(), 49);
  ASSERT_EQ(WPostEvent(&e, 0, 0), kNoErr);
  EXPECT_EQ(Taken().back(), 49);
}

int32 AcceptOdd(WindowRef, const WEventRecord* e, void*) { return e->where % 2; }
int32 PostWhileVisiting(WindowRef, const WEventRecord* e, void* count) {
  ++*static_cast<int*>(count);
  if (e->where == 0) {
    WEventRecord more{};
    more.code = 1;
    more.window = kWRootWindow;
    more.where = 100;
    WPostEvent(&more, 0, 0);
  }
  return e->where == 100;
}
int32 NestedPurge(WindowRef, const WEventRecord*, void*) {
  WPurgeEvents(kWRootWindow, &AcceptOdd, nullptr);
  return 0;
}

TEST_F(EventQueueTest, APurgeMakesAcceptedEventsNullEventsForNoWindow) {
  for (int32 i = 0; i < 6; ++i) {
    WEventRecord e = Event(kWEvUser, i);
    WPostEvent(&e, 0, 0);
  }
  WPurgeEvents(kWRootWindow, &AcceptOdd, nullptr);
  WEventRecord e;
  std::vector<std::pair<int32, int32>> got;
  while (WGetNextEvent(&e)) got.push_back({e.code, e.window});
  ASSERT_EQ(got.size(), 6u);
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(got[i].first, i % 2 ? kWEvNull : kWEvUser) << i;
    EXPECT_EQ(got[i].second, i % 2 ? kWNoWindow : kWRootWindow) << i;
  }
  // The predicate may post; what it posts is visited too.
  WEventRecord first = Event(1, 0);
  WPostEvent(&first, 0, 0);
  int visited = 0;
  WPurgeEvents(kWRootWindow, &PostWhileVisiting, &visited);
  EXPECT_EQ(visited, 2);
  EXPECT_EQ(WCountPendingEvents(), 2);
  // A purge inside a purge is refused.
  const int before = capture_.Count("wevent");
  WPurgeEvents(kWRootWindow, &NestedPurge, nullptr);
  EXPECT_GT(capture_.Count("wevent"), before);
  WPurgeEvents(kWRootWindow, nullptr, nullptr);
  Drain();
  // Once the window manager names its disposal window, purged events go to it.
  WEventSetDisposalWindow(4242);
  WEventRecord odd = Event(kWEvUser, 1);
  WPostEvent(&odd, 0, 0);
  WPurgeEvents(kWRootWindow, &AcceptOdd, nullptr);
  WEventSetDisposalWindow(kWNoWindow);
  ASSERT_EQ(WGetNextEvent(&e), 1);
  EXPECT_EQ(e.code, kWEvNull);
  EXPECT_EQ(e.window, 4242);
}

TEST_F(EventQueueTest, PurgingAWindowsEvents) {
  WEventRecord a = Event(3, 1, 77), b = Event(3, 2, 78);
  WPostEvent(&a, 0, 0);
  WPostEvent(&b, 0, 0);
  WPurgeWindowEvents(77);
  WEventRecord e;
  ASSERT_EQ(WGetNextEvent(&e), 1);
  EXPECT_EQ(e.code, kWEvNull);
  ASSERT_EQ(WGetNextEvent(&e), 1);
  EXPECT_EQ(e.window, 78);
}

TEST_F(EventQueueTest, APostWakesTheMainLoopOncePerPriority) {
  ThEvent wake = nullptr;
  ASSERT_EQ(ThEventCreate(&wake, "wake", 0), kNoErr);
  WEventSetWakeUp(wake);
  auto signals = [&] {
    int n = 0;
    while (ThEventWaitPumping(wake, 0) == kThWaitEvent) ++n;
    return n;
  };
  WEventRecord e = Event(1);
  WPostEvent(&e, 0, 0);
  EXPECT_GE(signals(), 1);
  WPostEvent(&e, 0, 0);  // an entry of the same priority waits already
  EXPECT_EQ(signals(), 0);
  WPostEvent(&e, 0, kWPostTopLevel);
  EXPECT_GE(signals(), 1);
  WEventSetWakeUp(nullptr);
  ThEventDestroy(wake);
}

TEST_F(EventQueueTest, WithoutAQueuePostsFailAndNothingIsTaken) {
  WEventQueueInit(0);
  WEventRecord e = Event(1);
  EXPECT_EQ(WPostEvent(&e, 0, 0), kMemFullErr);
  EXPECT_EQ(WGetNextEvent(&e), 0);
  EXPECT_EQ(WCountPendingEvents(), 0);
  EXPECT_EQ(WFindQueuedEvent(&e), -1);
  WPurgeEvents(kWRootWindow, &AcceptOdd, nullptr);
  ASSERT_EQ(WEventQueueInit(1), kNoErr);
  WEventSetGate(1);
}

TEST_F(EventQueueTest, ConcurrentPostsKeepEachThreadsOrder) {
  const int threads = 4, each = Scaled(400);
  std::vector<std::thread> posters;
  for (int t = 0; t < threads; ++t)
    posters.emplace_back([t, each] {
      for (int i = 0; i < each; ++i) {
        WEventRecord e{};
        e.code = kWEvUser;
        e.window = kWRootWindow;
        e.where = t;
        e.globalWhere = i;
        WPostEvent(&e, 0, 0);
      }
    });
  for (auto& p : posters) p.join();
  std::vector<int> next(threads, 0);
  WEventRecord e;
  int total = 0;
  while (WGetNextEvent(&e)) {
    ASSERT_GE(e.where, 0);
    ASSERT_LT(e.where, threads);
    EXPECT_EQ(e.globalWhere, next[size_t(e.where)]++);
    ++total;
  }
  EXPECT_EQ(total, threads * each);
}

TEST_F(EventQueueTest, PostsWhileTheLoopDrainsAndChangesLevelsAreEachTakenOnceInOrderThreads) {
  // Posters use the top-level priority, so that what the loop may take
  // changes as it enters nested levels and tracks.
  const int threads = 4, each = Scaled(300);
  std::atomic<int> done{0};
  std::vector<std::thread> posters;
  for (int t = 0; t < threads; ++t)
    posters.emplace_back([t, each, &done] {
      for (int i = 0; i < each; ++i) {
        WEventRecord e{};
        e.code = kWEvUser;
        e.window = kWRootWindow;
        e.where = t;
        e.globalWhere = i;
        EXPECT_EQ(WPostEvent(&e, 0, t % 2 ? kWPostTopLevel : kWPostOuterLevel), kNoErr);
      }
      done.fetch_add(1);
    });
  std::vector<int> next(threads, 0);
  int total = 0, turn = 0;
  auto takeAll = [&] {
    WEventRecord e;
    while (WGetNextEvent(&e)) {
      ASSERT_EQ(e.code, kWEvUser);
      ASSERT_GE(e.where, 0);
      ASSERT_LT(e.where, threads);
      EXPECT_EQ(e.globalWhere, next[size_t(e.where)]++);
      ++total;
    }
  };
  while (done.load() < threads) {
    ++turn;
    WEventSetLoopState(1 + turn % 2, turn % 3 == 0);
    takeAll();
    std::this_thread::yield();
  }
  for (auto& p : posters) p.join();
  WEventSetLoopState(1, 0);
  takeAll();
  EXPECT_EQ(total, threads * each);
}

}  // namespace
