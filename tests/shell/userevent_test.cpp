// The shell's side of the engine's VIs: user events and their handlers, the
// queue filters that drop events of disposed VIs and data spaces, the help
// target and run-time menu records.
#include "engine/exec/exec.h"
#include "engine/exec/rttable.h"
#include "engine/viinst_test_support.h"
#include "mgsource/path.h"
#include "mgsource/window/wactive.h"
#include "mgsource/window/winproc.h"
#include <atomic>
#include <thread>

#include "engine/exec/postedcb.h"
#include "rtlib/filehooks.h"
#include "rtlib/postedevt.h"
#include "shell/userevent.h"
#include "shell/help.h"
#include "shell/vishell.h"

using namespace qxvitest;

// Declared in engine/exec/codeentry.h, whose VICode type cannot stand
// beside the VI hooks' accessor of that name included here.
typedef MgErr (*ExecPostUserEventProc)(int32, int32, int32, int32, int32, int32, int32, int32, int32);
void ExecSetPostUserEventProc(ExecPostUserEventProc proc);

namespace {

std::vector<std::vector<int32>> gHandled;

void Recorder(int32 a1, int32 a2, int32 a3, int32 a4, int32 a5) { gHandled.push_back({a1, a2, a3, a4, a5}); }

class ShellEventTest : public VITest {
 protected:
  void SetUp() override {
    VITest::SetUp();
    ShellInstallEngineHooks();
    gHandled.clear();
  }
  void TearDown() override {
    for (int32 s = 0; s < 28; ++s) SetUserEventHandler(s, nullptr);
    HelpReset();
    VITest::TearDown();
  }
  static std::vector<WEventRecord> Queued() {
    std::vector<WEventRecord> v;
    WEventRecord e;
    // The disposal of closed panels' windows is taken as the main loop
    // takes it.
    while (WGetNextEvent(&e))
      if (e.code == kWEvDispose) WDispatchEvent(&e);
      else v.push_back(e);
    return v;
  }
  static int32 W(const void* p) { return int32(uintptr_t(p)); }
};

MgErr PostToQueue(int32 window, int32 code, int32 a1, int32 a2, int32 a3, int32 a4, int32 a5, int32 f1, int32 f2) {
  return PostUserEvent(window, code, a1, a2, a3, a4, a5, f1, f2);
}
int32 FirstButton(int32, const void*, ConstPStr, ConstPStr, int32, int32, int32) { return 1; }
Bool32 StillThere(UHandle) { return 1; }
std::atomic<int32> gCalls{0};
int32 Count(int32 arg) { return gCalls += arg; }

TEST_F(ShellEventTest, RequestsPostedFromOtherThreadsRunOnTheEventLoopConcurrently) {
  ExecSetPostUserEventProc(&PostToQueue);
  FileShellHooks hooks{};
  hooks.twoButtonAlert = &FirstButton;
  hooks.targetValid = &StillThere;
  SetFileShellHooks(&hooks);
  constexpr int kThreads = 4;
  static const uChar kMessage[] = "\5sure?";
  PostedAlertIn in{kMessage, nullptr, nullptr};
  PostedAlertOut out[kThreads] = {};
  std::atomic<int> posted{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] {
      UHandle h = NewPostedEvtHandle(nullptr, kPostedTwoButton, &in, &out[i], 0, nullptr);
      if (h && PostPostedEvt(h, 0) == kNoErr) ++posted;
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(posted.load(), kThreads);
  for (const PostedAlertOut& o : out) EXPECT_EQ(o.firstButton, 0) << "nothing runs before the loop takes it";
  // A callback whose generation has passed is skipped.
  gCalls = 0;
  const int32 counter = 2;
  ASSERT_EQ(PostCallback(PostedCallbackRec{&Count, 10, 0, nullptr, nullptr, 1, &counter}), kNoErr);
  ASSERT_EQ(PostCallback(PostedCallbackRec{&Count, 1, 0, nullptr, nullptr, 2, &counter}), kNoErr);
  // The user-interface thread's loop runs each request once and frees it.
  int32 ran = 0;
  WEventRecord e;
  while (WGetNextEvent(&e)) ran += DispatchUserEvent(&e);
  EXPECT_EQ(ran, kThreads + 2);
  for (const PostedAlertOut& o : out) EXPECT_EQ(o.firstButton, 1);
  EXPECT_EQ(gCalls.load(), 1);
  ExecSetPostUserEventProc(nullptr);
  SetFileShellHooks(nullptr);
}

TEST_F(ShellEventTest, UserEventsArriveInOrderWithTheirFiveWords) {
  for (int32 s : {6, 7, 8, 9, 11}) SetUserEventHandler(s, &Recorder);
  for (int32 i = 0; i < 5; ++i)
    ASSERT_EQ(PostUserEvent(kWRootWindow, 6 + i + (i == 4), 10 * i + 1, 10 * i + 2, 10 * i + 3, 10 * i + 4,
                            10 * i + 5, 0, 0),
              kNoErr);
  const std::vector<WEventRecord> events = Queued();
  ASSERT_EQ(events.size(), 5u);
  for (int32 i = 0; i < 5; ++i) {
    EXPECT_EQ(events[size_t(i)].code, kWEvUser);
    EXPECT_EQ(events[size_t(i)].window, kWRootWindow);
    EXPECT_EQ(UserEventSubCode(&events[size_t(i)]), 6 + i + (i == 4));
    EXPECT_EQ(DispatchUserEvent(&events[size_t(i)]), 1);
    EXPECT_EQ(gHandled.back(), (std::vector<int32>{10 * i + 1, 10 * i + 2, 10 * i + 3, 10 * i + 4, 10 * i + 5}));
  }
  EXPECT_EQ(gHandled.size(), 5u);
  // No handler, an out-of-range sub-code or another event: nothing runs.
  PostUserEvent(kWRootWindow, 4, 0, 0, 0, 0, 0, 0, 0);
  PostUserEvent(kWRootWindow, 99, 0, 0, 0, 0, 0, 0, 0);
  for (const WEventRecord& e : Queued()) EXPECT_EQ(DispatchUserEvent(&e), 0);
  WEventRecord key{};
  key.code = 6;
  key.where = 6;
  EXPECT_EQ(DispatchUserEvent(&key), 0);
  EXPECT_EQ(DispatchUserEvent(nullptr), 0);
  // A duplicate is not posted twice when asked.
  PostUserEvent(kWRootWindow, 9, 1, 0, 0, 0, 0, 1, 0);
  PostUserEvent(kWRootWindow, 9, 1, 0, 0, 0, 0, 1, 0);
  EXPECT_EQ(Queued().size(), 1u);
}

TEST_F(ShellEventTest, TheEngineReachesTheQueueThroughTheShell) {
  HoldVIName(PS("held"), 0);
  HoldVIName(PS("held"), 1);
  const std::vector<WEventRecord> events = Queued();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(UserEventSubCode(&events[0]), kUEPurgeVIs);
  // The purge event's handler purges.
  UHandle vi = NewVICore(kVIKindDatalog, PS("unused"), -1);
  ASSERT_TRUE(IsVILoaded(vi));
  EXPECT_EQ(DispatchUserEvent(&events[0]), 1);
  EXPECT_FALSE(IsVILoaded(vi));
}

TEST_F(ShellEventTest, CloseVIEventClosesAndPurges) {
  UHandle vi = NewVICore(kVIKindDatalog, PS("closing"), -1);
  // Two posts for one VI: the second finds it gone and touches nothing.
  ASSERT_EQ(PostUserEvent(kWRootWindow, kUECloseVI, W(vi), 0, 0, 0, 0, 0, 0), kNoErr);
  ASSERT_EQ(PostUserEvent(kWRootWindow, kUECloseVI, W(vi), 0, 0, 0, 0, 0, 0), kNoErr);
  const std::vector<WEventRecord> events = Queued();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(DispatchUserEvent(&events[0]), 1);
  EXPECT_EQ(LoadedVICount(), 0);
  EXPECT_EQ(DispatchUserEvent(&events[1]), 1);
}

TEST_F(ShellEventTest, ClosePanelEventOnlyForTheCurrentGenerationAndAWaitingElement) {
  struct Case {
    int32 generation;
    uInt16 runState;
    bool closes;
  };
  const Case cases[] = {{5, 4, true}, {4, 4, false}, {5, 3, false}};
  for (const Case& c : cases) {
    UHandle vi = NewVICore(kVIKindDatalog, PS("sub"), -1);
    ASSERT_EQ(NewMinimalDataSpace(vi), kNoErr);
    DataSpace ds = reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace);
    InitDataSpace(ds);
    ASSERT_EQ(OpenFrontPanel(vi), 1);
    VIRec(vi)->path = FEmptyPath(nullptr);
    VIRec(vi)->flags2 = 0x800000;
    (*ds)->resetCount = 5;
    QueueElement* e = &(*ds)->entrance.ownElement;
    e->dataSpace = ds;
    e->runState = c.runState;
    PostUserEvent(kWRootWindow, kUEClosePanel, W(vi), W(e), W(ds), c.generation, 0, 0, 0);
    // Opening the panel posted the panel-list update first.
    const std::vector<WEventRecord> events = Queued();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_NE(events[0].code, kWEvUser);
    EXPECT_EQ(DispatchUserEvent(&events[0]), 0);
    EXPECT_EQ(DispatchUserEvent(&events[1]), 1);
    EXPECT_EQ(VIRec(vi)->panelHeap == nullptr, c.closes);
    EXPECT_EQ(e->runState, c.closes ? 1 : c.runState);
    if (c.closes) {
      // No VI window is left: the quit event follows.
      const std::vector<WEventRecord> after = Queued();
      ASSERT_EQ(after.size(), 1u);
      EXPECT_EQ(after[0].code, kWEvQuit);
      // Queued again for its thread (the user-interface slot without threads).
      ASSERT_EQ(InitExec(), kNoErr);
      FinishExec();
    }
    e->next = nullptr;
    DisposeVI(vi, 1);
  }
}

TEST_F(ShellEventTest, TheFiltersTakeTheEventsThatNameAVIOrADataSpace) {
  const int32 vi = 0x1000, other = 0x2000;
  struct Case {
    int32 sub, a1, a2, a3;
    bool forVI, forDS;
  };
  // The data space is at 0x1000 too, so one table covers both filters.
  const Case cases[] = {
      {1, vi, 0, 0, true, false},  {1, other, 0, vi, false, true}, {2, vi, 0, 0, true, false},
      {2, 0, 0, vi, false, true},  {6, vi, 0, 0, false, true},     {7, vi, 0, 0, false, true},
      {8, vi, 0, 0, false, true},  {8, 0, vi, 0, true, false},     {9, vi, 0, 0, true, false},
      {10, vi, 0, 0, true, false}, {10, 0, vi, 0, false, true},    {10, 0, 0, vi, false, true},
      {11, vi, 0, 0, false, true}, {12, vi, 0, 0, false, true},    {12, 0, vi, 0, true, false},
      {13, vi, 0, 0, true, false}, {14, vi, 0, 0, true, false},    {21, vi, 0, 0, true, false},
      {25, vi, 0, 0, true, false}, {27, vi, 0, 0, true, false},    {0, vi, vi, vi, false, false},
      {3, vi, vi, vi, false, false}, {5, vi, vi, vi, false, false}, {22, vi, vi, vi, false, false},
      {25, other, vi, vi, false, false},
  };
  for (const Case& c : cases) {
    WEventRecord e{};
    e.code = kWEvUser;
    e.window = kWRootWindow;
    e.where = c.sub;
    e.globalWhere = c.a1;
    e.modifiers = c.a2;
    e.character = c.a3;
    void* p = reinterpret_cast<void*>(uintptr_t(0x1000));
    EXPECT_EQ(FilterInstrUserEvents(kWRootWindow, &e, p), c.forVI ? 1 : 0) << c.sub;
    EXPECT_EQ(FilterDSUserEvents(kWRootWindow, &e, p), c.forDS ? 1 : 0) << c.sub;
    e.code = 1000;  // the other user event code counts too
    EXPECT_EQ(FilterInstrUserEvents(kWRootWindow, &e, p), c.forVI ? 1 : 0) << c.sub;
    e.code = 6;
    EXPECT_EQ(FilterInstrUserEvents(kWRootWindow, &e, p), 0);
    EXPECT_EQ(FilterDSUserEvents(kWRootWindow, &e, p), 0);
  }
  EXPECT_GE(qxtest::Reports::Get().Count("FilterInstrHandleEvents: Got rid of user event 8"), 1);
  EXPECT_GE(qxtest::Reports::Get().Count("FilterDSHeaderEvents: Got rid of user event 10"), 1);
  EXPECT_EQ(qxtest::Reports::Get().Count("FilterDSHeaderEvents: Got rid of user event 12"), 0);
}

TEST_F(ShellEventTest, DisposingAVIDropsTheEventsThatNameItOrItsDataSpace) {
  UHandle vi = NewVICore(kVIKindDatalog, PS("doomed"), -1);
  UHandle keep = NewVICore(kVIKindDatalog, PS("kept"), -1);
  ASSERT_EQ(NewMinimalDataSpace(vi), kNoErr);
  DataSpace ds = reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace);
  InitDataSpace(ds);
  PostUserEvent(kWRootWindow, kUECloseVI, W(vi), 0, 0, 0, 0, 0, 0);
  PostUserEvent(kWRootWindow, kUECloseVI, W(keep), 0, 0, 0, 0, 0, 0);
  PostUserEvent(kWRootWindow, kUEVIDone, W(ds), 0, 0, 0, 0, 0, 0);
  PostUserEvent(kWRootWindow, kUEReserve, W(vi), 0, 0, 0, 0, 0, 0);
  // A clone's suspend and panel update name its own data space.
  DataSpace clone = nullptr;
  ASSERT_EQ(NewDataSpaceFromTD(VIRec(vi)->dsTypeMap, &clone), kNoErr);
  (*clone)->owner = vi;
  InitDataSpace(clone);
  for (int32 sub : {kUESuspend, kUEPanelUpdate}) PostUserEvent(kWRootWindow, sub, W(clone), 0, 0, 0, 0, 0, 0);
  qxtest::Reports::Get().Clear();
  DisposeVI(vi, 1);
  EXPECT_EQ(qxtest::Reports::Get().Count("FilterDSHeaderEvents: Got rid of user event 7"), 1);
  std::vector<int32> left;
  for (const WEventRecord& e : Queued())
    if (e.code == kWEvUser) left.push_back(UserEventArg(&e, 1));
  EXPECT_EQ(left, (std::vector<int32>{W(keep)}));
}

TEST_F(ShellEventTest, TheHelpTargetIsClearedForItsPanel) {
  UHandle vi = NewVICore(kVIKindDatalog, PS("helped"), -1);
  ObjHeap panel = VIRec(vi)->panelHeap;
  HelpSetTipTarget(panel, 100, 1);
  HelpClearTarget(reinterpret_cast<ObjHeap>(uintptr_t(4)), 0);  // another panel
  HelpClearTarget(panel, 200);                                   // another object
  EXPECT_EQ(HelpStateNow().tip.heap, panel);
  EXPECT_EQ(HelpStateNow().tip.object, 100);
  HelpClearTarget(nullptr, 0);
  EXPECT_EQ(HelpStateNow().tip.heap, nullptr);
  HelpSetTipTarget(panel, 5, 1);
  DisposeVI(vi, 1);
  EXPECT_EQ(HelpStateNow().tip.heap, nullptr);
}

TEST_F(ShellEventTest, RunTimeMenuRecordsGoWithTheirVI) {
  UHandle vi = NewVICore(kVIKindDatalog, PS("menus"), -1);
  ASSERT_EQ(RTMNewVIMenuRef(vi), kNoErr);
  const uInt32 first = RTMRecordOf(vi)->refnum;
  ASSERT_EQ(RTMNewVIMenuRef(vi), kNoErr);  // one record per VI, a new refnum
  EXPECT_FALSE(RTMIsMenuRefnum(first));
  EXPECT_TRUE(RTMHasVIMenuRef(vi));
  RTMDisposeVIMenuRef(vi);
  EXPECT_FALSE(RTMHasVIMenuRef(vi));
  RTMDisposeVIMenuRef(vi);  // none: nothing
  ASSERT_EQ(RTMNewVIMenuRef(vi), kNoErr);
  const uInt32 last = RTMRecordOf(vi)->refnum;
  DisposeVI(vi, 1);
  EXPECT_FALSE(RTMIsMenuRefnum(last));
  EXPECT_EQ(RTMNewVIMenuRef(nullptr), kArgErr);
  RTMShutDown();
}

TEST_F(ShellEventTest, PostUserEventTakesItsPlaceInTheRunTimeTable) {
  ASSERT_EQ(QXRTRegisterShell(), kNoErr);
  EXPECT_EQ(QXRTTable[1648], reinterpret_cast<QXRTRoutine>(&PostUserEvent));
}

}  // namespace
