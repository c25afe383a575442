// The life of a running VI through the engine's start-up as the program
// makes it (the event queue, the linker and its load methods, the execution
// systems): VIs whose compiled code the emitter writes are loaded from their
// files, run, closed, aborted and left running at quit, with execution
// threads on and off.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/dsalloc.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/exec.h"
#include "engine/exec/runcmd.h"
#include "engine/link/linker.h"
#include "engine/link/loadmethods.h"
#include "engine/typemgr.h"
#include "engine/vi/viinst.h"
#include "engine/vi/viload.h"
#include "exec_test_support.h"
#include "link_check.h"
#include "mgsource/datetime.h"
#include "mgsource/filemgr.h"
#include "mgsource/path_test_util.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/wevent.h"
#include "mgsource/window/wservices.h"
#include "platform/qx_display.h"
#include "platform/qx_msgqueue.h"
#include "runtime_root.h"
#include "tools/runvi.h"
#include "user_event_queue.h"

// From the compiled-code header, which cannot share a unit with the VI
// instances' header.
typedef MgErr (*PostProc)(int32, int32, int32, int32, int32, int32, int32, int32, int32);
void ExecSetPostUserEventProc(PostProc proc);
void ExecSetTimeSlice(int32 ticks);

namespace {

using namespace runvi;
using qxexectest::OnlySlots;

constexpr int32 kUEPurge = 0, kUEDone = 6, kUEReset = 8, kUEReserve = 9;

int32 W(const void* p) { return int32(uintptr_t(p)); }
template <class T>
T* P(int32 w) {
  return reinterpret_cast<T*>(uintptr_t(uInt32(w)));
}

// The shell's part, as its start-up installs it: user events go to the
// event queue as the shell posts them, and its handlers take them.
using qxevents::PostToQueue;
int32 PostForVI(WindowRef w, int32 sub, int32 a1, int32 a2, int32 a3, int32 a4, int32 a5, Bool32 d, int32 p) {
  return PostToQueue(w, sub, a1, a2, a3, a4, a5, d, p);
}
void Dispatch(const WEventRecord& e) {
  if (e.code != kWEvUser) return;
  switch (e.where) {
    case kUEPurge: PurgeUnusedVIs(0); break;
    case kUEDone: DoDoneCommand(P<DataSpaceHeader*>(e.globalWhere)); break;
    case kUEReset:
      DoResetCommand(P<DataSpaceHeader*>(e.globalWhere), e.modifiers, e.character, e.keyCode, e.data[0]);
      break;
    case kUEReserve: DoReserveCommand(P<uChar*>(e.globalWhere)); break;
    default: break;
  }
}
// Events naming a VI or a data space being disposed.
int32 Names(WindowRef, const WEventRecord* e, void* what) {
  return e->code == kWEvUser && e->globalWhere == W(what);
}
struct Collected {
  int32 sub;
  std::vector<WEventRecord> events;
};
int32 Collect(WindowRef, const WEventRecord* e, void* data) {
  auto* c = static_cast<Collected*>(data);
  if (e->code != kWEvUser || e->where != c->sub) return 0;
  c->events.push_back(*e);
  return 1;
}

// How long a step may take before its watchdog rescues it: Helgrind slows
// every thread many times over, yet stays below the 10 s a quit waits
// before it detaches a thread.
const int kBoundMs = std::getenv("QX_UNDER_VALGRIND") ? 9000 : 3000;

// Runs `rescue` when `done` is not set within ms; rescued() tells.
class Watchdog {
 public:
  Watchdog(int ms, std::function<void()> rescue)
      : thread_([this, ms, rescue] {
          const uInt32 end = MilliSecs() + uInt32(ms);
          while (!done_.load() && MillisecCmp(MilliSecs(), end) < 0) WSleep(5);
          if (!done_.load()) {
            rescued_.store(true);
            rescue();
          }
        }) {}
  ~Watchdog() { Stop(); }
  void Stop() {
    done_.store(true);
    if (thread_.joinable()) thread_.join();
  }
  bool rescued() const { return rescued_.load(); }

 private:
  std::atomic<bool> done_{false}, rescued_{false};
  std::thread thread_;
};

class RunLifeTest : public qxexectest::ExecTest {
 protected:
  void SetUp() override {
    ExecTest::SetUp();
    static std::once_flag once;
    std::call_once(once, [] { ASSERT_EQ(RInitResources(), kNoErr); });
    qxtest::StartRTTable();
    ASSERT_EQ(FInitFileMgr(), kNoErr);
    ASSERT_TRUE(rt_.Make("qxlife"));
    if (!AZPBlocks()->linkerNames) AZPAllocInit();
    ExecSetPostUserEventProc(&PostToQueue);
    VIShellHooks shell{};
    shell.postUserEvent = &PostForVI;
    shell.filterInstrUserEvents = &Names;
    shell.filterDSUserEvents = &Names;
    SetVIShellHooks(&shell);
    RunCmdHooks run{};
    run.handleQueuedUserEvents = [](int32 sub) {
      Collected c{sub, {}};
      WPurgeEvents(kWRootWindow, &Collect, &c);
      for (const WEventRecord& e : c.events) Dispatch(e);
    };
    SetRunCmdHooks(&run);
    SetLinkerServices(nullptr);
    WSetInputWaitsProc(nullptr);
  }
  // The engine's part of the program's start-up, in its order.
  void StartEngine(const std::vector<std::pair<int, int>>& slots) {
    ASSERT_EQ(WEventQueueInit(1), kNoErr);
    WEventSetGate(1);
    InitLinker();
    InstallLoadMethods();
    if (slots.empty()) qxexectest::SetKey("ESys.StdNParallel", 0);
    else OnlySlots(slots);
    ASSERT_EQ(InitExec(), kNoErr);
    ASSERT_EQ(TypeHeapInit(), kNoErr);
  }
  void TearDown() override {
    for (UHandle vi = FirstLoadedVI(); vi; vi = FirstLoadedVI()) {
      if (ExecInitialised() && (VIRec(vi)->eState & kVIStateMask) == 2) AbortTopVI(vi);
      DisposeVI(vi, 1);
    }
    if (ExecInitialised()) FinishExec();
    Pump();
    linkcheck::DisposeTables();
    SetLinkerServices(nullptr);
    SetRunCmdHooks(nullptr);
    SetVIShellHooks(nullptr);
    ExecSetPostUserEventProc(nullptr);
    WEventQueueInit(0);
    rt_.Remove();
    ExecTest::TearDown();
  }

  UHandle Load(const std::string& name, Clumps kind, int16 priority = kPriNormal, uInt32 flags = 0) {
    const std::string file = name + ".rsc";
    EXPECT_TRUE(rsrcw::WriteHostFile(rt_.Host(file), vif::Write(File(name, kind, priority, flags))));
    pathtest::Owned path(pathtest::ToPath("L:\\" + file));
    RsrcFileRef ref = 0;
    EXPECT_EQ(ROpenFile(path.p, kRsrcReadOnly, &ref, nullptr, nullptr), kNoErr);
    UHandle vi = nullptr;
    EXPECT_EQ(LoadInstrument(path.p, 0, PName(name), ref, &vi, 0), kLoadLoaded) << name;
    EXPECT_TRUE(vi && State(vi) == kVIStateIdle) << name;
    return vi;
  }
  static const uChar* PName(const std::string& s) {
    static thread_local uChar buf[256];
    buf[0] = uChar(s.size());
    for (size_t i = 0; i < s.size(); ++i) buf[1 + i] = uChar(s[i]);
    return buf;
  }
  static DataSpace DS(UHandle vi) { return reinterpret_cast<DataSpace>(VIRec(vi)->dataSpace); }
  static int32 Word(UHandle vi, int32 at) {
    return __atomic_load_n(reinterpret_cast<int32*>(reinterpret_cast<char*>(*DS(vi)) + at), __ATOMIC_RELAXED);
  }
  static QueueElement* Element(UHandle vi, int32 at) {
    return reinterpret_cast<QueueElement*>(reinterpret_cast<char*>(*DS(vi)) + at);
  }
  static uInt32 State(UHandle vi) { return VIRec(vi)->eState & kVIStateMask; }
  static bool WaitRounds(UHandle vi, int32 at, int32 n, int ms = 10000) {
    const uInt32 end = MilliSecs() + uInt32(ms);
    while (Word(vi, at) < n) {
      if (MillisecCmp(MilliSecs(), end) > 0) return false;
      WSleep(1);
    }
    return true;
  }
  // Hands every queued event to its handler.
  static void Pump() {
    WEventRecord e;
    while (WGetNextEvent(&e)) Dispatch(e);
  }
  // Runs the user-interface slot until an event is posted from another
  // thread once the VI has counted `rounds` more rounds.
  static void SliceUntilRounds(UHandle vi, int32 rounds) {
    Pump();
    const int32 start = Word(vi, kRounds);
    std::thread poster([&] {
      WaitRounds(vi, kRounds, start + rounds);
      PostToQueue(kWRootWindow, 99, 0, 0, 0, 0, 0, 0, 0);
    });
    EXPECT_TRUE(ExecUserInterfaceSlice(0));
    poster.join();
    Pump();
  }

  qxtest::RuntimeRoot rt_;
};

// A closed VI whose clumps take turns with another VI's on one thread: its
// run element and second clump stand in the run queue when the close comes.
// The close aborts the run, waits until it has ended, and only then frees
// the data space; the other VI runs on.
TEST_F(RunLifeTest, ClosingARunningVIWhoseElementsAreQueuedFreesNothingTheyHoldThreads) {
  StartEngine({{2, 1}});
  ExecSetTimeSlice(2);
  UHandle other = Load("other", Clumps::kSpin);
  ASSERT_EQ(StartVIRun(DS(other)), 0);
  const int rounds = std::getenv("QX_UNDER_VALGRIND") ? 2 : 20;
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE(round);
    UHandle vi = Load("closed", Clumps::kPair);
    ASSERT_EQ(StartVIRun(DS(vi)), 0);
    ASSERT_TRUE(WaitRounds(vi, kRounds2, 3)) << "both clumps run";
    const int32 othersBefore = Word(other, kRounds);
    EXPECT_EQ(CloseVI(vi, 0, 0, 1), 0) << "disposed";
    EXPECT_EQ(FirstLoadedVI(), other);
    Pump();
    EXPECT_TRUE(WaitRounds(other, kRounds, othersBefore + 3)) << "the other VI runs on";
  }
  EXPECT_EQ(State(other), 2u);
  EXPECT_EQ(qxtest::Reports::Get().Count("Failure"), 0) << qxtest::Reports::Get().Text();
}

// A top-level clump that waits (run state 2) is woken by the abort, sees
// the reset and ends the run: the done event arrives and the VI is idle.
TEST_F(RunLifeTest, AbortOfAVIWhoseTopLevelClumpWaitsEndsItsRunThreads) {
  StartEngine({{2, 1}});
  UHandle vi = Load("waits", Clumps::kWait);
  ASSERT_EQ(StartVIRun(DS(vi)), 0);
  QueueElement* run = Element(vi, kRun);
  const uInt32 end = MilliSecs() + 10000;
  while (QERunState(run) != 2 && MillisecCmp(MilliSecs(), end) < 0) WSleep(1);
  ASSERT_EQ(QERunState(run), 2);
  for (int i = 0; i < 20 && ExecContextAt(1)->current.load(); ++i) WSleep(1);
  // The fault: the wait never ended and the abort never completed.
  Watchdog dog(kBoundMs, [run] {
    if (QEEndWait(run)) EnQRunQ(run);
  });
  EXPECT_EQ(DoAbortCommand(DS(vi)), 0);
  dog.Stop();
  EXPECT_FALSE(dog.rescued()) << "the abort needed the watchdog";
  EXPECT_EQ(State(vi), kVIStateIdle) << "the done event was handled";
  EXPECT_EQ(QEResetPending(run), 0);
  EXPECT_FALSE(ExecTopRunActive(DS(vi)));
}

// Without execution threads the clumps being reset run only on this
// thread: the resetting loop gives them their slice, or the second clump
// never sees its reset.
TEST_F(RunLifeTest, AbortWithoutThreadsGivesTheUserInterfaceSlotItsSlice) {
  StartEngine({});
  ASSERT_FALSE(ExecThreadsOn());
  UHandle vi = Load("pair", Clumps::kPair);
  ASSERT_EQ(StartVIRun(DS(vi)), 0);
  SliceUntilRounds(vi, 5);
  ASSERT_GT(Word(vi, kRounds2), 0) << "the second clump ran";
  QueueElement* second = Element(vi, kClump);
  DataSpace ds = DS(vi);
  Watchdog dog(kBoundMs, [second, ds] {
    QESetResetPending(second, 0);
    ExecTopRunEnded(ds);
  });
  EXPECT_EQ(AbortTopVI(vi), 0);
  dog.Stop();
  EXPECT_FALSE(dog.rescued()) << "the reset needed the watchdog";
  EXPECT_EQ(State(vi), kVIStateIdle);
  EXPECT_EQ(QEResetPending(second), 0);
}

// Without execution threads a long VI keeps the user-interface thread only
// until input waits: the start-up's input test sees a message posted to the
// window-system thread, or an event of the own queue, at the next countdown.
TEST_F(RunLifeTest, InputPostedWhileALongVIRunsEndsTheSliceWithinOneCountdown) {
  ASSERT_TRUE(PlatWindowSystemStart());
  StartEngine({});
  ASSERT_NE(WGetInputWaitsProc(), nullptr) << "installed by the event queue's start-up";
  UHandle vi = Load("long", Clumps::kSpin);
  ASSERT_EQ(StartVIRun(DS(vi)), 0);
  const uint32_t uiThread = PlatWindowSystemThread();
  struct Case {
    const char* what;
    std::function<void()> post;
  } cases[] = {
      {"a message", [uiThread] { PlatPostThreadMessage(uiThread, kPlatMsgUser1, 0, 0); }},
      {"an event", [] { PostToQueue(kWRootWindow, 99, 0, 0, 0, 0, 0, 0, 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Pump();
    std::atomic<int32> atPost{-1};
    const int32 start = Word(vi, kRounds);
    std::thread poster([&] {
      WaitRounds(vi, kRounds, start + 50);
      c.post();
      atPost.store(Word(vi, kRounds));
    });
    // The fault: the slice ran until the VI ended.
    QueueElement* run = Element(vi, kRun);
    Watchdog dog(kBoundMs, [run] { QESetResetPending(run, 1); });
    EXPECT_TRUE(ExecUserInterfaceSlice(0));
    dog.Stop();
    poster.join();
    EXPECT_FALSE(dog.rescued());
    EXPECT_LE(Word(vi, kRounds) - atPost.load(), 2) << "one countdown after the post";
    EXPECT_EQ(State(vi), 2u) << "the VI still runs";
    PlatMsg m;
    while (PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove)) {
    }
    Pump();
  }
}

// Quit while a clump keeps yielding on its thread: the stopping thread is
// not handed its element again, so shut-down does not wait for the bound.
TEST_F(RunLifeTest, QuitWithAClumpThatKeepsYieldingReturnsWithinTheBoundThreads) {
  StartEngine({{2, 1}});
  ExecSetTimeSlice(2);
  UHandle vi = Load("yields", Clumps::kSpin);
  ASSERT_EQ(StartVIRun(DS(vi)), 0);
  ASSERT_TRUE(WaitRounds(vi, kRounds, 20));
  // The fault: the thread kept being handed the element and quit waited
  // until the clump ended.
  QueueElement* run = Element(vi, kRun);
  Watchdog dog(kBoundMs, [run] { QESetResetPending(run, 1); });
  const uInt32 start = MilliSecs();
  FinishExec();
  const uInt32 took = MilliSecs() - start;
  dog.Stop();
  EXPECT_FALSE(dog.rescued());
  EXPECT_LT(took, uInt32(kBoundMs)) << "shut-down waited for the thread";
  EXPECT_EQ(qxtest::Reports::Get().Count("detached"), 0);
  const int32 after = Word(vi, kRounds);
  WSleep(20);
  EXPECT_EQ(Word(vi, kRounds), after) << "the clump runs no more";
}

// A reference to a running subVI made after both loaded (as external code
// makes one) marks its caller bad and gives the subVI the caller's
// priority; removing it takes both back.  The services are the start-up's.
TEST_F(RunLifeTest, ASubVILinkedAfterLoadMarksItsCallerBadAndTakesItsPriority) {
  StartEngine({});
  UHandle sub = Load("Sub.vi", Clumps::kSpin);
  UHandle caller = Load("Caller.vi", Clumps::kOnce, kPriHigh);
  ASSERT_EQ(StartVIRun(DS(sub)), 0);
  const uInt32 qxin = FourCC("QXIN");
  ASSERT_EQ(AddExtern(caller, 4, VIRec(caller)->name, qxin, PName("Sub.vi"), nullptr, qxin, nullptr, nullptr),
            1);
  EXPECT_EQ(State(caller), kVIStateBroken) << "a subVI runs";
  EXPECT_NE(VIRec(caller)->flags & kVIFlagSubVIRunning, 0u);
  EXPECT_EQ((*DS(sub))->effPriority, kPriHigh);
  EXPECT_EQ((*DS(sub))->routingRow, ExecRoutingRow(kPriHigh));

  ASSERT_EQ(RemExtern(caller, 4, VIRec(caller)->name, qxin, PName("Sub.vi"), qxin), 1);
  // The reference it waited on is gone (the linker marks that missing); no
  // subVI of it runs any more.
  EXPECT_EQ(VIRec(caller)->flags & kVIFlagSubVIRunning, 0u);
  EXPECT_EQ((*DS(sub))->effPriority, kPriNormal);
}

// Data spaces that compiled code links to each other are reset once each,
// and a clump of subroutine priority, which selects no slot, runs where it
// is queued.
TEST_F(RunLifeTest, LinkedDataSpacesAndSubroutinePriorityClumps) {
  StartEngine({{2, 1}});
  UHandle a = Load("a", Clumps::kOnce), b = Load("b", Clumps::kOnce);
  (*DS(a))->linkedDS = DS(b);
  (*DS(b))->linkedDS = DS(a);
  (*DS(a))->entrance.owner = Element(a, kRun);
  DSCallResetClumps(DS(a), Element(a, kRun));
  EXPECT_EQ(*reinterpret_cast<int32*>(*ExecResetList()), 1) << "the ring was walked once";
  for (UHandle vi : {a, b}) {
    ResetDSRemove(DS(vi));
    for (QueueElement* e = Element(vi, kRun); e; e = e->chain) QESetResetPending(e, 0);
    QESetResetPending(&(*DS(vi))->entrance.ownElement, 0);
    (*DS(vi))->linkedDS = nullptr;
  }
  (*DS(a))->entrance.owner = nullptr;

  UHandle sub = Load("subr", Clumps::kOnce, kPriNormal, kVIFlagSubroutine);
  ASSERT_EQ((*DS(sub))->effPriority, kPriSubroutine);
  EXPECT_EQ((*DS(sub))->slot, -1);
  qxtest::Reports::Get().Clear();
  ASSERT_EQ(StartVIRun(DS(sub)), 0);
  EXPECT_TRUE(ExecUserInterfaceSlice(0)) << "queued from this thread: it runs here";
  EXPECT_EQ(Word(sub, kRounds), 1);
  Pump();
  EXPECT_EQ(State(sub), kVIStateIdle);
  EXPECT_EQ(qxtest::Reports::Get().Count("run slot outside"), 0) << qxtest::Reports::Get().Text();
}

}  // namespace
