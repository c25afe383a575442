#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "mgsource/cfgwords.h"
#include "mgsource/datetime.h"
#include "mgsource/debug.h"
#include "mgsource/occur.h"
#include "mgsource/thread.h"
#include "platform/qx_thread.h"
#include "test_support.h"

namespace {

// What a handler's procedure saw.
struct Probe {
  std::atomic<int> runs{0};
  std::atomic<int> slot{-1};
  std::atomic<int> timedOut{-1};
  OccurHdlr hdlr = 0;
  int id = 0;
};

std::mutex gOrderLock;
std::vector<int> gOrder;

std::vector<int> Order() {
  std::lock_guard<std::mutex> g(gOrderLock);
  return gOrder;
}

int32 ProbeProc(void* data) {
  Probe* p = static_cast<Probe*>(data);
  p->slot = ThThreadIndex(nullptr);
  if (p->hdlr) p->timedOut = HandlerTimedOut(p->hdlr);
  {
    std::lock_guard<std::mutex> g(gOrderLock);
    gOrder.push_back(p->id);
  }
  p->runs.fetch_add(1);
  return 0;
}

bool DebugHas(Capture& c, const char* text) { return c.Count(text) > 0; }

// Runs ChkOccurrences until cond holds or the time runs out.
bool CheckUntil(const std::function<bool()>& cond, int ms = 5000) {
  uInt32 end = MilliSecs() + uInt32(ms);
  for (;;) {
    ChkOccurrences();
    if (cond()) return true;
    if (MillisecCmp(MilliSecs(), end) > 0) return false;
    WSleep(1);
  }
}

bool Signalled(ThEvent e) { return __atomic_load_n(&e->flag, __ATOMIC_SEQ_CST) == 0; }

class OccTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EnsureManagers();
    {
      std::lock_guard<std::mutex> g(gOrderLock);
      gOrder.clear();
    }
    ASSERT_EQ(OccurInit(), kNoErr);
  }
  void TearDown() override { OccurShutdown(); }

  // A new occurrence and a handler bound to it that reports to probe.
  OccurHdlr NewHandler(Occurrence occ, Probe* probe, int id = 0) {
    OccurHdlr h = AllocOccurHdlr(occ, ProbeProc, probe);
    EXPECT_NE(h, 0u);
    probe->hdlr = h;
    probe->id = id;
    return h;
  }
  int32 Timeouts() { return OccurTestTimeoutList(nullptr, nullptr, 0); }

  Capture capture_;
};

// A registered thread that runs the tasks the test hands it, one at a time.
class Worker {
 public:
  Worker() {
    EXPECT_EQ(ThThreadCreate(&thread_, &Worker::Main, this), kNoErr);
    Run([this] { slot_ = ThThreadIndex(nullptr); });
  }
  ~Worker() {
    {
      std::lock_guard<std::mutex> g(m_);
      stop_ = true;
      cv_.notify_all();
    }
    ThThreadDestroy(thread_);
  }
  void Run(std::function<void()> f) {
    std::unique_lock<std::mutex> g(m_);
    task_ = std::move(f);
    cv_.notify_all();
    cv_.wait(g, [this] { return !task_; });
  }
  int32 slot() const { return slot_; }

 private:
  static int32 Main(void* self) {
    Worker* w = static_cast<Worker*>(self);
    std::unique_lock<std::mutex> g(w->m_);
    for (;;) {
      w->cv_.wait(g, [w] { return w->stop_ || w->task_; });
      if (w->stop_) return 0;
      w->task_();
      w->task_ = nullptr;
      w->cv_.notify_all();
    }
  }
  ThThread thread_ = nullptr;
  int32 slot_ = -1;
  std::mutex m_;
  std::condition_variable cv_;
  std::function<void()> task_;
  bool stop_ = false;
};

}  // namespace

// Firing -----------------------------------------------------------------------

using OccFiring = OccTest;

TEST_F(OccFiring, EarlierFiringRunsALaterArmingAtOnce) {
  Occurrence o = AllocOccur();
  ASSERT_NE(o, 0u);
  Probe p;
  OccurHdlr h = NewHandler(o, &p);
  EXPECT_EQ(Occur(o), kNoErr);
  EXPECT_EQ(p.runs, 0);
  EXPECT_FALSE(DebugHas(capture_, "Handler called Immediately in OnOccurrence"));
  EXPECT_EQ(OnOccurrence(h, 0), kNoErr);
  EXPECT_EQ(p.runs, 1);
  EXPECT_EQ(p.slot, 0);
  EXPECT_TRUE(DebugHas(capture_, "Handler called Immediately in OnOccurrence"));
  // That firing is now seen: the next arming waits for a new one.
  EXPECT_EQ(OnOccurrence(h, 0), kNoErr);
  ChkOccurrences();
  EXPECT_EQ(p.runs, 1);
  EXPECT_EQ(Occur(o), kNoErr);
  EXPECT_EQ(p.runs, 1);
  ChkOccurrences();
  EXPECT_EQ(p.runs, 2);
  EXPECT_EQ(p.timedOut, 0);
}

TEST_F(OccFiring, IgnoringEarlierFiringsWaitsForTheNext) {
  Occurrence o = AllocOccur();
  Probe p;
  OccurHdlr h = NewHandler(o, &p);
  Occur(o);
  Occur(o);
  EXPECT_EQ(OnOccurrence(h, 1), kNoErr);
  ChkOccurrences();
  EXPECT_EQ(p.runs, 0);
  Occur(o);
  ChkOccurrences();
  EXPECT_EQ(p.runs, 1);
}

TEST_F(OccFiring, TwoFiringsBeforeACheckRunOnce) {
  Occurrence o = AllocOccur();
  Probe p;
  OccurHdlr h = NewHandler(o, &p);
  ASSERT_EQ(OnOccurrence(h, 0), kNoErr);
  EXPECT_EQ(Occur(o), kNoErr);
  EXPECT_EQ(Occur(o), kNoErr);
  EXPECT_TRUE(OccurPendingForGroup(0));
  ChkOccurrences();
  ChkOccurrences();
  EXPECT_EQ(p.runs, 1);
  EXPECT_FALSE(OccurPendingForGroup(0));
}

TEST_F(OccFiring, QueuedHandlersRunLastQueuedFirst) {
  Occurrence occs[3];
  Probe probes[3];
  for (int i = 0; i < 3; ++i) {
    occs[i] = AllocOccur();
    ASSERT_EQ(OnOccurrence(NewHandler(occs[i], &probes[i], i + 1), 0), kNoErr);
  }
  for (Occurrence o : occs) Occur(o);
  ChkOccurrences();
  EXPECT_EQ(Order(), (std::vector<int>{3, 2, 1}));

  // Handlers of one occurrence are queued newest binding first, so they run
  // in the order they were bound.
  Occurrence shared = AllocOccur();
  Probe more[3];
  for (int i = 0; i < 3; ++i) ASSERT_EQ(OnOccurrence(NewHandler(shared, &more[i], 10 + i), 0), kNoErr);
  Occur(shared);
  ChkOccurrences();
  EXPECT_EQ(Order(), (std::vector<int>{3, 2, 1, 10, 11, 12}));
}

TEST_F(OccFiring, ValidityChecksAndFiringIfValid) {
  Occurrence o = AllocOccur();
  Probe p;
  OccurHdlr h = NewHandler(o, &p);
  EXPECT_TRUE(OccurIsValid(o));
  EXPECT_FALSE(OccurIsValid(0));
  EXPECT_FALSE(OccurIsValid(o + 0x10000));  // same record, another sequence number
  EXPECT_EQ(OccurIfValid(0x12345678), kNoErr);
  ASSERT_EQ(OnOccurrence(h, 0), kNoErr);
  EXPECT_EQ(OccurIfValid(o), kNoErr);
  ChkOccurrences();
  EXPECT_EQ(p.runs, 1);
}

TEST_F(OccFiring, RebindingMovesTheHandlerToTheNewOccurrence) {
  Occurrence a = AllocOccur(), b = AllocOccur();
  Probe p, q;
  OccurHdlr h = NewHandler(a, &p);
  Occur(a);
  ASSERT_EQ(BindOccurHdlr(h, b, ProbeProc, &q), kNoErr);
  q.hdlr = h;
  // Rebinding forgets what a did: b has not fired since.
  ASSERT_EQ(OnOccurrence(h, 0), kNoErr);
  EXPECT_EQ(q.runs, 0);
  Occur(a);
  ChkOccurrences();
  EXPECT_EQ(p.runs + q.runs, 0);
  Occur(b);
  ChkOccurrences();
  EXPECT_EQ(q.runs, 1);
  EXPECT_EQ(p.runs, 0);
  // Binding again to the same occurrence keeps what it has seen.
  ASSERT_EQ(BindOccurHdlr(h, b, ProbeProc, &p), kNoErr);
  ASSERT_EQ(OnOccurrence(h, 0), kNoErr);
  EXPECT_EQ(p.runs, 0);
  // Unbinding: arming an unbound handler runs it as if its occurrence were gone.
  ASSERT_EQ(BindOccurHdlr(h, 0, ProbeProc, &p), kNoErr);
  EXPECT_EQ(OnOccurrence(h, 0), kHandlerUnboundErr);
  EXPECT_EQ(p.runs, 1);
  EXPECT_EQ(DeallocOccurHdlr(h), kNoErr);
  EXPECT_EQ(DeallocOccurHdlr(h), kArgErr);
}

// Procedures may use the manager freely, on themselves too.
struct SelfFreeing {
  Occurrence occ = 0;
  OccurHdlr hdlr = 0;
  MgErr handlerErr = -1, occErr = -1;
  int runs = 0;
};
int32 FreeSelf(void* data) {
  SelfFreeing* s = static_cast<SelfFreeing*>(data);
  ++s->runs;
  s->handlerErr = DeallocOccurHdlr(s->hdlr);
  s->occErr = DeallocOccur(s->occ);
  return 0;
}

struct Rearming {
  Occurrence occ = 0, other = 0;
  OccurHdlr hdlr = 0;
  int runs = 0;
};
int32 RearmAndFireOther(void* data) {
  Rearming* r = static_cast<Rearming*>(data);
  ++r->runs;
  OnOccurrence(r->hdlr, 0);
  Occur(r->other);
  return 0;
}

TEST_F(OccFiring, ProceduresFreeRearmAndFire) {
  SelfFreeing s;
  s.occ = AllocOccur();
  s.hdlr = AllocOccurHdlr(s.occ, FreeSelf, &s);
  ASSERT_EQ(OnOccurrence(s.hdlr, 0), kNoErr);
  Occur(s.occ);
  ChkOccurrences();
  EXPECT_EQ(s.runs, 1);
  EXPECT_EQ(s.handlerErr, kNoErr);
  EXPECT_EQ(s.occErr, kNoErr);
  EXPECT_FALSE(OccurIsValid(s.occ));
  EXPECT_EQ(OnOccurrence(s.hdlr, 0), kArgErr);
  ChkOccurrences();
  EXPECT_EQ(s.runs, 1);

  // A procedure that re-arms itself and fires another occurrence whose
  // handler then runs in the same check.
  Rearming r;
  r.occ = AllocOccur();
  r.other = AllocOccur();
  r.hdlr = AllocOccurHdlr(r.occ, RearmAndFireOther, &r);
  Probe p;
  OccurHdlr other = NewHandler(r.other, &p);
  ASSERT_EQ(OnOccurrence(other, 0), kNoErr);
  ASSERT_EQ(OnOccurrence(r.hdlr, 0), kNoErr);
  Occur(r.occ);
  ChkOccurrences();
  EXPECT_EQ(r.runs, 1);
  EXPECT_EQ(p.runs, 1);
  Occur(r.occ);  // re-armed by its procedure
  ChkOccurrences();
  EXPECT_EQ(r.runs, 2);
}

// Errors and lifetimes ---------------------------------------------------------

using OccErrors = OccTest;

TEST_F(OccErrors, ValuesThatAreNotLiveGiveOne) {
  Occurrence o = AllocOccur();
  Probe p;
  OccurHdlr h = NewHandler(o, &p);
  // Values that cannot name a live cookie whatever earlier tests in this
  // process left allocated: sequence 0 is never handed out, index 0xFFFF lies
  // beyond every table, and a live cookie's slot holds no other sequence.
  for (uInt32 v : {0u, 1u, 0xFFFFFFFFu, o ^ 0x10000u, o ^ 0x20000u}) {
    SCOPED_TRACE(v);
    EXPECT_EQ(Occur(v), kArgErr);
    EXPECT_EQ(OccurAtTime(v, MilliSecs() + 1000), kArgErr);
    EXPECT_EQ(CancelOccurAtTime(v), kArgErr);
    EXPECT_EQ(DeallocOccur(v), kArgErr);
    if (v != 0) {  // 0 means no occurrence: unbound handlers
      EXPECT_EQ(BindOccurHdlr(h, v, ProbeProc, &p), kBadOccurrenceErr);
      EXPECT_EQ(AllocOccurHdlr(v, ProbeProc, &p), 0u);
    }
  }
  for (uInt32 v : {0u, 1u, 0xFFFFFFFFu, h ^ 0x10000u, h ^ 0x20000u}) {
    SCOPED_TRACE(v);
    EXPECT_EQ(OnOccurrence(v, 0), kArgErr);
    EXPECT_EQ(OnOccurrenceWithTimeout(v, 0, 10), kArgErr);
    EXPECT_EQ(CancelOnOccur(v), kArgErr);
    EXPECT_EQ(FireOccurHdlr(v), kArgErr);
    EXPECT_EQ(DeallocOccurHdlr(v), kArgErr);
    EXPECT_FALSE(HandlerTimedOut(v));
    EXPECT_EQ(BindOccurHdlr(v, o, ProbeProc, &p), kArgErr);
  }
  EXPECT_EQ(OccurTestTimedList(nullptr, nullptr, 0), 0);
  EXPECT_EQ(p.runs, 0);
}

TEST_F(OccErrors, DeallocRunsArmedHandlersOnceMarked) {
  Occurrence o = AllocOccur();
  Probe armed[2], idle;
  OccurHdlr h0 = NewHandler(o, &armed[0], 1);
  OccurHdlr h1 = NewHandler(o, &armed[1], 2);
  OccurHdlr hi = NewHandler(o, &idle, 3);
  ASSERT_EQ(OnOccurrenceWithTimeout(h0, 0, 60000), kNoErr);
  ASSERT_EQ(OnOccurrence(h1, 0), kNoErr);
  EXPECT_EQ(Timeouts(), 1);
  EXPECT_EQ(DeallocOccur(o), kNoErr);
  EXPECT_EQ(Timeouts(), 0);
  EXPECT_EQ(DeallocOccur(o), kArgErr);
  ChkOccurrences();
  ChkOccurrences();
  EXPECT_EQ(armed[0].runs, 1);
  EXPECT_EQ(armed[1].runs, 1);
  EXPECT_EQ(armed[0].timedOut, 1);
  EXPECT_EQ(armed[1].timedOut, 1);
  EXPECT_EQ(idle.runs, 0);
  // Arming a handler whose occurrence is gone runs it again, marked, and says so.
  EXPECT_EQ(OnOccurrence(h1, 0), kHandlerUnboundErr);
  EXPECT_EQ(armed[1].runs, 2);
  EXPECT_TRUE(HandlerTimedOut(h1));
  EXPECT_EQ(OnOccurrence(hi, 1), kHandlerUnboundErr);
  EXPECT_EQ(idle.runs, 1);
  EXPECT_EQ(idle.timedOut, 1);
  // With a time-out the mark is cleared first and then set again.
  EXPECT_EQ(OnOccurrenceWithTimeout(h0, 0, 10), kHandlerUnboundErr);
  EXPECT_EQ(armed[0].runs, 2);
  EXPECT_EQ(Timeouts(), 0);
}

TEST_F(OccErrors, NullProceduresAreNeverCalled) {
  Occurrence o = AllocOccur();
  OccurHdlr h = AllocOccurHdlr(o, nullptr, nullptr);
  ASSERT_NE(h, 0u);
  ASSERT_EQ(OnOccurrence(h, 0), kNoErr);
  Occur(o);
  ChkOccurrences();
  Occur(o);
  EXPECT_EQ(OnOccurrence(h, 0), kNoErr);  // runs at once: nothing to call
  DeallocOccur(o);
  EXPECT_EQ(OnOccurrence(h, 0), kHandlerUnboundErr);
  EXPECT_EQ(OnOccurrenceWithTimeout(h, 0, 0), kHandlerUnboundErr);
}

TEST_F(OccErrors, HandlerCheckedAfterItWasFreedDoesNotRun) {
  Occurrence o = AllocOccur();
  Probe p;
  OccurHdlr h = NewHandler(o, &p);
  ASSERT_EQ(OnOccurrence(h, 0), kNoErr);
  Occur(o);
  EXPECT_EQ(DeallocOccurHdlr(h), kNoErr);
  // A new handler may take the same record; the old pending entry is not its.
  Probe q;
  OccurHdlr h2 = NewHandler(o, &q);
  EXPECT_NE(h2, h);
  ChkOccurrences();
  EXPECT_EQ(p.runs, 0);
  EXPECT_EQ(q.runs, 0);
}

TEST_F(OccErrors, ErrorCodesAndTheirTexts) {
  EXPECT_STREQ(DBMgErrText(kBadOccurrenceErr),
               "A bad Occurrence was encountered in an Occurrence Manager function.");
  EXPECT_STREQ(DBMgErrText(kHandlerUnboundErr),
               "OnOccur(oh) was called with an Occurrence Handler which is not bound to a valid Occurrence.");
  EXPECT_STREQ(DBMgErrText(kOccurQueueFullErr), "The FunnyQ does not have room for an occurrence.");
}

TEST_F(OccErrors, ReleasingATimeOut) {
  Occurrence o = AllocOccur();
  Probe p;
  OccurHdlr h = NewHandler(o, &p);
  ReleaseTimedHandler(h, nullptr);
  EXPECT_TRUE(DebugHas(capture_, "ReleaseTimedHandler: handler not in list"));
  // A handler whose time-out is released stays armed without it.
  ASSERT_EQ(OnOccurrenceWithTimeout(h, 0, 150), kNoErr);
  capture_.Clear();
  ReleaseTimedHandler(h, nullptr);
  EXPECT_FALSE(DebugHas(capture_, "ReleaseTimedHandler: handler not in list"));
  EXPECT_EQ(Timeouts(), 0);
  WSleep(200);
  ChkOccurrences();
  EXPECT_EQ(p.runs, 0);
  Occur(o);
  ChkOccurrences();
  EXPECT_EQ(p.runs, 1);
  EXPECT_EQ(p.timedOut, 0);
  // Disarming no longer finds a time-out to release.
  EXPECT_FALSE(DebugHas(capture_, "ReleaseTimedHandler: handler not in list"));
}

TEST_F(OccErrors, BadGroupSlots) {
  EXPECT_EQ(OccurSetThreadGroup(128, 0), kArgErr);
  EXPECT_EQ(OccurSetThreadGroup(0, 128), kArgErr);
  EXPECT_EQ(OccurSetThreadGroup(-1, 0), kArgErr);
  EXPECT_EQ(OccurSetThreadGroup(0, int32(0x80000000)), kArgErr);
  EXPECT_EQ(OccurSetThreadEvent(128, nullptr), kArgErr);
  EXPECT_EQ(OccurSetThreadEvent(-5, nullptr), kArgErr);
  EXPECT_FALSE(OccurPendingForGroup(128));
  EXPECT_FALSE(OccurPendingForGroup(-1));
  EXPECT_EQ(OccurSetThreadGroup(5, 5), kNoErr);
  EXPECT_EQ(OccurSetThreadEvent(127, nullptr), kNoErr);
}

TEST_F(OccErrors, UnregisteredThreadCannotArm) {
  Occurrence o = AllocOccur();
  Probe p;
  OccurHdlr h = NewHandler(o, &p);
  // The slot look-up reports the thread; the report must not end the process.
  DBSetContinueAfterFailure(1);
  MgErr err = -1;
  std::thread([&] { err = OnOccurrence(h, 0); }).join();
  EXPECT_EQ(err, kArgErr);
  EXPECT_GE(capture_.Count("thread is not in the thread table"), 1);
  Occur(o);
  ChkOccurrences();
  EXPECT_EQ(p.runs, 0);
  // With nothing queued, a check from such a thread looks nothing up.
  capture_.Clear();
  std::thread([] { ChkOccurrences(); }).join();
  EXPECT_EQ(capture_.Count("thread is not in the thread table"), 0);
}

TEST_F(OccErrors, ManagerNotStarted) {
  OccurShutdown();
  EXPECT_EQ(AllocOccur(), 0u);
  EXPECT_EQ(Occur(0x10001), kArgErr);
  EXPECT_EQ(ChkOccurrences(), kNoErr);
  EXPECT_EQ(InterruptSafeOccur(0x10001), kOccurQueueFullErr);
  EXPECT_EQ(AllocOccurHdlr(0, ProbeProc, nullptr), 0u);
  OccurShutdown();
  ASSERT_EQ(OccurInit(), kNoErr);
}

// Thread groups ------------------------------------------------------------------

using OccGroupThreads = OccTest;

TEST_F(OccGroupThreads, MembersRunTheGroupsHandlers) {
  Worker a, b, c;
  ASSERT_EQ(OccurSetThreadGroup(b.slot(), a.slot()), kNoErr);
  ThEvent ev = nullptr, evC = nullptr;
  ASSERT_EQ(ThEventCreate(&ev, "group", 0), kNoErr);
  ASSERT_EQ(ThEventCreate(&evC, "other", 0), kNoErr);
  // Set through a member: the event belongs to the group's root.
  ASSERT_EQ(OccurSetThreadEvent(b.slot(), ev), kNoErr);
  ASSERT_EQ(OccurSetThreadEvent(c.slot(), evC), kNoErr);

  Occurrence o = AllocOccur();
  Probe p;
  OccurHdlr h = NewHandler(o, &p);
  MgErr err = -1;
  a.Run([&] { err = OnOccurrence(h, 0); });
  ASSERT_EQ(err, kNoErr);
  EXPECT_FALSE(Signalled(ev));
  Occur(o);
  EXPECT_TRUE(Signalled(ev));
  EXPECT_FALSE(Signalled(evC));
  EXPECT_TRUE(OccurPendingForGroup(a.slot()));
  EXPECT_TRUE(OccurPendingForGroup(b.slot()));
  EXPECT_FALSE(OccurPendingForGroup(c.slot()));

  c.Run([] { ChkOccurrences(); });
  ChkOccurrences();
  EXPECT_EQ(p.runs, 0);
  b.Run([] { ChkOccurrences(); });
  EXPECT_EQ(p.runs, 1);
  EXPECT_EQ(p.slot, b.slot());

  // A root that joins another group brings its pending handlers along.
  a.Run([&] { err = OnOccurrence(h, 0); });
  Occur(o);
  ASSERT_EQ(OccurSetThreadGroup(a.slot(), c.slot()), kNoErr);
  EXPECT_TRUE(Signalled(evC));
  c.Run([] { ChkOccurrences(); });
  EXPECT_EQ(p.runs, 2);
  EXPECT_EQ(p.slot, c.slot());

  OccurSetThreadEvent(a.slot(), nullptr);
  OccurSetThreadEvent(c.slot(), nullptr);
  ThEventDestroy(ev);
  ThEventDestroy(evC);
}

// Time-outs ----------------------------------------------------------------------

using OccTimeoutThreads = OccTest;

TEST_F(OccTimeoutThreads, ZeroTimeOutIsQueuedBeforeReturning) {
  Occurrence o = AllocOccur();
  Probe p;
  OccurHdlr h = NewHandler(o, &p);
  ASSERT_EQ(OnOccurrenceWithTimeout(h, 0, 0), kNoErr);
  EXPECT_TRUE(OccurPendingForGroup(0));
  EXPECT_TRUE(HandlerTimedOut(h));
  EXPECT_EQ(Timeouts(), 0);
  ChkOccurrences();
  EXPECT_EQ(p.runs, 1);
  EXPECT_EQ(p.timedOut, 1);
  // The next arming clears the mark; a firing leaves it clear.
  ASSERT_EQ(OnOccurrenceWithTimeout(h, 0, 60000), kNoErr);
  EXPECT_FALSE(HandlerTimedOut(h));
  Occur(o);
  ChkOccurrences();
  EXPECT_EQ(p.runs, 2);
  EXPECT_EQ(p.timedOut, 0);
}

TEST_F(OccTimeoutThreads, FiringBeforeTheTimeOutDropsIt) {
  Occurrence o = AllocOccur();
  Probe p;
  OccurHdlr h = NewHandler(o, &p);
  ASSERT_EQ(OnOccurrenceWithTimeout(h, 0, 200), kNoErr);
  OccurHdlr hs[2];
  ASSERT_EQ(OccurTestTimeoutList(hs, nullptr, 2), 1);
  EXPECT_EQ(hs[0], h);
  Occur(o);
  EXPECT_EQ(Timeouts(), 0);
  ChkOccurrences();
  EXPECT_EQ(p.runs, 1);
  EXPECT_FALSE(HandlerTimedOut(h));
  WSleep(250);
  ChkOccurrences();
  EXPECT_EQ(p.runs, 1);
  EXPECT_FALSE(DebugHas(capture_, "ReleaseTimedHandler: handler not in list"));
  EXPECT_FALSE(DebugHas(capture_, "Bad occhandler in timeout list"));
}

TEST_F(OccTimeoutThreads, TimerTimesOutAndWakesTheGroup) {
  ThEvent ev = nullptr;
  ASSERT_EQ(ThEventCreate(&ev, "ui", 0), kNoErr);
  ASSERT_EQ(OccurSetThreadEvent(0, ev), kNoErr);
  Occurrence o = AllocOccur();
  Probe p;
  OccurHdlr h = NewHandler(o, &p);
  uInt32 start = MilliSecs();
  ASSERT_EQ(OnOccurrenceWithTimeout(h, 0, 30), kNoErr);
  // Signalled by the timer thread when it queues the handler.  Input posted
  // to this thread by earlier tests of the process may end a wait first.
  int32 woke;
  while ((woke = ThEventWaitPumping(ev, 5000)) == kThWaitInput) {
  }
  ASSERT_EQ(woke, kThWaitEvent);
  EXPECT_GE(MillisecCmp(MilliSecs(), start), 30);
  EXPECT_TRUE(HandlerTimedOut(h));
  ChkOccurrences();
  EXPECT_EQ(p.runs, 1);
  EXPECT_EQ(p.timedOut, 1);
  OccurSetThreadEvent(0, nullptr);
  ThEventDestroy(ev);
}

TEST_F(OccTimeoutThreads, CancelDisarmsAndDropsTheTimeOut) {
  Occurrence o = AllocOccur();
  Probe p;
  OccurHdlr h = NewHandler(o, &p);
  ASSERT_EQ(OnOccurrenceWithTimeout(h, 0, 150), kNoErr);
  EXPECT_EQ(Timeouts(), 1);
  EXPECT_EQ(CancelOnOccur(h), kNoErr);
  EXPECT_EQ(Timeouts(), 0);
  WSleep(200);
  ChkOccurrences();
  EXPECT_EQ(p.runs, 0);
  EXPECT_FALSE(HandlerTimedOut(h));
  // Disarmed: a firing only counts for the next arming, which runs at once.
  Occur(o);
  ChkOccurrences();
  EXPECT_EQ(p.runs, 0);
  Occur(o);
  ASSERT_EQ(CancelOnOccur(h), kNoErr);  // marks that firing seen
  ASSERT_EQ(OnOccurrence(h, 0), kNoErr);
  EXPECT_EQ(p.runs, 0);
  EXPECT_FALSE(DebugHas(capture_, "ReleaseTimedHandler: handler not in list"));
}

TEST_F(OccTimeoutThreads, FireHandlerQueuesAnArmedHandlerMarked) {
  Occurrence o = AllocOccur();
  Probe p;
  OccurHdlr h = NewHandler(o, &p);
  EXPECT_EQ(FireOccurHdlr(0), kArgErr);
  EXPECT_EQ(FireOccurHdlr(h), kNoErr);  // not armed: nothing
  ChkOccurrences();
  EXPECT_EQ(p.runs, 0);
  ASSERT_EQ(OnOccurrenceWithTimeout(h, 0, 60000), kNoErr);
  EXPECT_EQ(FireOccurHdlr(h), kNoErr);
  EXPECT_EQ(Timeouts(), 0);
  ChkOccurrences();
  EXPECT_EQ(p.runs, 1);
  EXPECT_EQ(p.timedOut, 1);
}

TEST_F(OccTimeoutThreads, DeadlinesSortedAndOnePerHandler) {
  Occurrence o = AllocOccur();
  Probe p[3];
  OccurHdlr h[3];
  for (int i = 0; i < 3; ++i) h[i] = NewHandler(o, &p[i]);
  ASSERT_EQ(OnOccurrenceWithTimeout(h[0], 0, 30000), kNoErr);
  ASSERT_EQ(OnOccurrenceWithTimeout(h[1], 0, 10000), kNoErr);
  ASSERT_EQ(OnOccurrenceWithTimeout(h[2], 0, 20000), kNoErr);
  OccurHdlr list[4];
  uInt32 deadlines[4];
  ASSERT_EQ(OccurTestTimeoutList(list, deadlines, 4), 3);
  EXPECT_EQ(list[0], h[1]);
  EXPECT_EQ(list[1], h[2]);
  EXPECT_EQ(list[2], h[0]);
  EXPECT_LE(MillisecCmp(deadlines[0], deadlines[1]), 0);
  EXPECT_LE(MillisecCmp(deadlines[1], deadlines[2]), 0);
  // Arming again replaces the handler's deadline.
  ASSERT_EQ(OnOccurrenceWithTimeout(h[1], 0, 40000), kNoErr);
  ASSERT_EQ(OccurTestTimeoutList(list, nullptr, 4), 3);
  EXPECT_EQ(list[2], h[1]);
  // A firing queues all three and clears every deadline.
  Occur(o);
  EXPECT_EQ(Timeouts(), 0);
  ChkOccurrences();
  for (const Probe& q : p) EXPECT_EQ(q.runs, 1);
}

// Timed firing -------------------------------------------------------------------

using OccAtTimeThreads = OccTest;

TEST_F(OccAtTimeThreads, SecondCallMovesTheOnlyEntry) {
  Occurrence o = AllocOccur();
  Probe p;
  OccurHdlr h = NewHandler(o, &p);
  ASSERT_EQ(OnOccurrence(h, 0), kNoErr);
  uInt32 now = MilliSecs();
  ASSERT_EQ(OccurAtTime(o, now + 100000), kNoErr);
  uInt32 due = now + 300;
  ASSERT_EQ(OccurAtTime(o, due), kNoErr);
  Occurrence occs[2];
  uInt32 times[2];
  ASSERT_EQ(OccurTestTimedList(occs, times, 2), 1);
  EXPECT_EQ(occs[0], o);
  EXPECT_EQ(times[0], due);
  ASSERT_TRUE(CheckUntil([&] { return p.runs > 0; }));
  EXPECT_GE(MillisecCmp(MilliSecs(), due), 0);
  EXPECT_EQ(OccurTestTimedList(nullptr, nullptr, 0), 0);
  ASSERT_EQ(OnOccurrence(h, 0), kNoErr);
  WSleep(100);
  ChkOccurrences();
  EXPECT_EQ(p.runs, 1);
}

TEST_F(OccAtTimeThreads, PastTimesFireBeforeReturning) {
  Occurrence o = AllocOccur();
  Probe p;
  OccurHdlr h = NewHandler(o, &p);
  ASSERT_EQ(OnOccurrence(h, 0), kNoErr);
  ASSERT_EQ(OccurAtTime(o, 0), kNoErr);
  EXPECT_TRUE(OccurPendingForGroup(0));
  ChkOccurrences();
  EXPECT_EQ(p.runs, 1);
  ASSERT_EQ(OnOccurrence(h, 0), kNoErr);
  ASSERT_EQ(OccurAtTime(o, MilliSecs() - 5), kNoErr);
  EXPECT_TRUE(OccurPendingForGroup(0));
  ChkOccurrences();
  EXPECT_EQ(p.runs, 2);
  EXPECT_EQ(OccurTestTimedList(nullptr, nullptr, 0), 0);
}

TEST_F(OccAtTimeThreads, CancelStopsTheFiring) {
  Occurrence o = AllocOccur();
  Probe p;
  OccurHdlr h = NewHandler(o, &p);
  ASSERT_EQ(OnOccurrence(h, 0), kNoErr);
  // A machine that stalls past the time between the two calls lets the
  // firing come first, as it should: only a cancel made in time is judged.
  uInt32 due = 0;
  for (int attempt = 0; attempt < 20; ++attempt) {
    due = MilliSecs() + 150;
    ASSERT_EQ(OccurAtTime(o, due), kNoErr);
    EXPECT_EQ(CancelOccurAtTime(o), kNoErr);
    if (MillisecCmp(MilliSecs(), due) < 0) break;
    ChkOccurrences();
    p.runs = 0;
    ASSERT_EQ(OnOccurrence(h, 0), kNoErr);
  }
  EXPECT_EQ(OccurTestTimedList(nullptr, nullptr, 0), 0);
  EXPECT_EQ(CancelOccurAtTime(o), kNoErr);  // no entry: nothing to do
  while (MillisecCmp(MilliSecs(), due + 50) < 0) WSleep(10);
  ChkOccurrences();
  EXPECT_EQ(p.runs, 0);
  // Freeing an occurrence drops its entry as well.
  ASSERT_EQ(OccurAtTime(o, MilliSecs() + 30), kNoErr);
  ASSERT_EQ(DeallocOccur(o), kNoErr);
  EXPECT_EQ(OccurTestTimedList(nullptr, nullptr, 0), 0);
}

TEST_F(OccAtTimeThreads, ListOrderAndMoves) {
  Occurrence a = AllocOccur(), b = AllocOccur(), c = AllocOccur(), d = AllocOccur();
  uInt32 t = MilliSecs() + 100000;
  ASSERT_EQ(OccurAtTime(c, t + 300), kNoErr);
  ASSERT_EQ(OccurAtTime(a, t + 100), kNoErr);
  ASSERT_EQ(OccurAtTime(b, t + 200), kNoErr);
  Occurrence occs[4];
  uInt32 times[4];
  auto List = [&] {
    int32 n = OccurTestTimedList(occs, times, 4);
    return std::vector<Occurrence>(occs, occs + n);
  };
  EXPECT_EQ(List(), (std::vector<Occurrence>{a, b, c}));
  // A new entry goes before entries of the same time.
  ASSERT_EQ(OccurAtTime(d, t + 200), kNoErr);
  EXPECT_EQ(List(), (std::vector<Occurrence>{a, d, b, c}));
  // Moves that keep the order change the time in place.
  ASSERT_EQ(OccurAtTime(b, t + 250), kNoErr);
  EXPECT_EQ(List(), (std::vector<Occurrence>{a, d, b, c}));
  EXPECT_EQ(times[2], t + 250);
  // Others unlink and insert again.
  ASSERT_EQ(OccurAtTime(a, t + 400), kNoErr);
  EXPECT_EQ(List(), (std::vector<Occurrence>{d, b, c, a}));
  ASSERT_EQ(OccurAtTime(c, t + 200), kNoErr);
  EXPECT_EQ(List(), (std::vector<Occurrence>{c, d, b, a}));
  EXPECT_EQ(times[0], t + 200);
  for (Occurrence o : {a, b, c, d}) EXPECT_EQ(CancelOccurAtTime(o), kNoErr);
  EXPECT_TRUE(List().empty());
}

TEST_F(OccAtTimeThreads, SeveralTimesFireInOrder) {
  Occurrence occs[3];
  Probe p[3];
  for (int i = 0; i < 3; ++i) {
    occs[i] = AllocOccur();
    ASSERT_EQ(OnOccurrence(NewHandler(occs[i], &p[i], i + 1), 0), kNoErr);
  }
  uInt32 now = MilliSecs();
  ASSERT_EQ(OccurAtTime(occs[2], now + 90), kNoErr);
  ASSERT_EQ(OccurAtTime(occs[0], now + 30), kNoErr);
  ASSERT_EQ(OccurAtTime(occs[1], now + 60), kNoErr);
  // Whenever it is looked at, the list still waiting is the tail of the order.
  bool tails = true;
  ASSERT_TRUE(CheckUntil([&] {
    Occurrence left[3];
    int32 n = OccurTestTimedList(left, nullptr, 3);
    for (int32 i = 0; i < n; ++i) tails = tails && left[i] == occs[3 - n + i];
    // Fired means removed: a handler ran only once its entry was gone.
    for (int32 i = 0; i < 3; ++i)
      if (p[i].runs > 0) tails = tails && n <= 2 - i;
    return p[0].runs > 0 && p[1].runs > 0 && p[2].runs > 0;
  }));
  EXPECT_TRUE(tails);
  EXPECT_EQ(OccurTestTimedList(nullptr, nullptr, 0), 0);
}

// The lock-free queue ------------------------------------------------------------

std::atomic<int> gWakeUps{0};
void CountWakeUp() { gWakeUps.fetch_add(1); }

using OccQueue = OccTest;

TEST_F(OccQueue, FullAtTheThousandTwentyFourthAndOneEntryPerOccurrence) {
  std::vector<Occurrence> occs(1024);
  std::vector<Probe> probes(1024);
  for (size_t i = 0; i < occs.size(); ++i) {
    occs[i] = AllocOccur();
    ASSERT_NE(occs[i], 0u);
    ASSERT_EQ(OnOccurrence(NewHandler(occs[i], &probes[i]), 0), kNoErr);
  }
  EXPECT_EQ(InterruptSafeOccur(occs[0]), kNoErr);
  EXPECT_EQ(InterruptSafeOccur(occs[0]), kNoErr);
  EXPECT_EQ(OccurTestQueueBusy(), 1);
  for (size_t i = 1; i < 1023; ++i) ASSERT_EQ(InterruptSafeOccur(occs[i]), kNoErr) << i;
  EXPECT_EQ(OccurTestQueueBusy(), 1023);
  EXPECT_EQ(InterruptSafeOccur(occs[1023]), kOccurQueueFullErr);
  EXPECT_EQ(InterruptSafeOccur(occs[500]), kNoErr);  // already waiting
  EXPECT_TRUE(OccurPendingForGroup(5));
  ChkOccurrences();
  EXPECT_EQ(OccurTestQueueBusy(), 0);
  EXPECT_FALSE(OccurPendingForGroup(0));
  for (size_t i = 0; i < 1023; ++i) ASSERT_EQ(probes[i].runs, 1) << i;
  EXPECT_EQ(probes[1023].runs, 0);
  // Room again.
  EXPECT_EQ(InterruptSafeOccur(occs[1023]), kNoErr);
  ChkOccurrences();
  EXPECT_EQ(probes[1023].runs, 1);
}

TEST_F(OccQueue, WakeUpHookAndValuesThatAreNotOccurrences) {
  EXPECT_EQ(InterruptSafeOccur(0x2345), kNoErr);  // nobody to wake yet
  OccurSetWakeUpHook(CountWakeUp);
  gWakeUps = 0;
  EXPECT_EQ(InterruptSafeOccur(0x7777), kNoErr);
  EXPECT_EQ(gWakeUps, 1);
  EXPECT_EQ(InterruptSafeOccur(0), kArgErr);
  OccurSetWakeUpHook(nullptr);
  EXPECT_EQ(InterruptSafeOccur(0x9999), kNoErr);
  EXPECT_EQ(gWakeUps, 1);
  ChkOccurrences();  // not live: dropped
  EXPECT_EQ(OccurTestQueueBusy(), 0);
}

// Producers fire through the queue while the test thread checks, then once
// more while it doesn't.  Each procedure notes the sequence count when it
// runs.
struct QueueTarget {
  OccurHdlr hdlr = 0;
  std::atomic<int> runs{0};
  std::atomic<int64_t> lastCall{-1};
  std::atomic<int64_t> lastRun{-1};
};
std::atomic<int64_t> gSeq{0};

int32 QueueTargetProc(void* data) {
  QueueTarget* t = static_cast<QueueTarget*>(data);
  t->lastRun = gSeq.fetch_add(1);
  t->runs.fetch_add(1);
  OnOccurrence(t->hdlr, 0);
  return 0;
}

void NoteLater(std::atomic<int64_t>* word, int64_t seq) {
  int64_t prev = word->load();
  while (prev < seq && !word->compare_exchange_weak(prev, seq)) {
  }
}

TEST_F(OccQueue, ConcurrentProducersLoseNothing) {
  constexpr int kProduced = 50, kIdle = 10, kProducers = 8;
  const int calls = Scaled(100000);
  std::vector<Occurrence> occs(kProduced + kIdle);
  std::vector<QueueTarget> targets(kProduced + kIdle);
  for (size_t i = 0; i < occs.size(); ++i) {
    occs[i] = AllocOccur();
    targets[i].hdlr = AllocOccurHdlr(occs[i], QueueTargetProc, &targets[i]);
    ASSERT_EQ(OnOccurrence(targets[i].hdlr, 0), kNoErr);
  }
  std::atomic<int> failures{0}, running{kProducers};

  // While the test thread drains: a call's entry may be taken before the
  // call returns, so a run that began after the call began is its run.
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      uint32_t x = 0x9E3779B9u * uint32_t(p + 1);
      for (int i = 0; i < calls; ++i) {
        x = x * 1664525u + 1013904223u;
        int k = int((x >> 8) % kProduced);
        NoteLater(&targets[k].lastCall, gSeq.fetch_add(1));
        if (InterruptSafeOccur(occs[k]) != kNoErr) failures.fetch_add(1);
      }
      running.fetch_sub(1);
    });
  }
  while (running.load() > 0) ChkOccurrences();
  for (auto& t : producers) t.join();
  ChkOccurrences();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(OccurTestQueueBusy(), 0);
  EXPECT_FALSE(OccurPendingForGroup(0));
  for (int k = 0; k < kProduced; ++k) {
    SCOPED_TRACE(k);
    ASSERT_GE(targets[k].lastCall.load(), 0);
    EXPECT_GT(targets[k].lastRun.load(), targets[k].lastCall.load());
  }

  // Every producer fires every target while nobody drains, noting each call
  // after it returned: no run can then be mistaken for a later call's, and
  // each target must run once the queue is drained.
  producers.clear();
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      for (int i = 0; i < kProduced; ++i) {
        int k = (i * 7 + p * 13) % kProduced;
        if (InterruptSafeOccur(occs[k]) != kNoErr) failures.fetch_add(1);
        NoteLater(&targets[k].lastCall, gSeq.fetch_add(1));
      }
    });
  }
  for (auto& t : producers) t.join();
  std::vector<int> runsBefore;
  for (auto& t : targets) runsBefore.push_back(t.runs.load());
  // One entry per occurrence, or more where two producers met on one.
  EXPECT_GE(OccurTestQueueBusy(), kProduced);
  ChkOccurrences();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(OccurTestQueueBusy(), 0);
  for (int k = 0; k < kProduced; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(targets[k].runs.load(), runsBefore[size_t(k)] + 1);
    EXPECT_GT(targets[k].lastRun.load(), targets[k].lastCall.load());
  }
  for (int k = kProduced; k < kProduced + kIdle; ++k) EXPECT_EQ(targets[k].runs, 0);
}

// Start and stop -----------------------------------------------------------------

using OccLifetimeThreads = OccTest;

TEST_F(OccLifetimeThreads, ShutdownIsPromptAndStartWorksAgain) {
  ThThread timer = OccurTestTimerThread();
  ASSERT_NE(timer, nullptr);
  int32 tcrit = 0;
  ASSERT_TRUE(CheckUntil([&] { return (tcrit = PlatThreadGetPriority(timer->handle)) == 15; }));
  Occurrence o = AllocOccur();
  ASSERT_EQ(OccurAtTime(o, MilliSecs() + 100000), kNoErr);
  uInt32 start = MilliSecs();
  OccurShutdown();
  EXPECT_LT(MillisecCmp(MilliSecs(), start), 1000);
  EXPECT_FALSE(OccurIsValid(o));

  ASSERT_EQ(OccurInit(), kNoErr);
  o = AllocOccur();
  Probe p;
  ASSERT_EQ(OnOccurrence(NewHandler(o, &p), 0), kNoErr);
  ASSERT_EQ(OccurAtTime(o, MilliSecs() + 20), kNoErr);
  ASSERT_TRUE(CheckUntil([&] { return p.runs > 0; }));
}

namespace {
// The threads that re-arm timed occurrences while the manager shuts down;
// the shut-down's stop hook ends and joins them before anything is freed.
std::atomic<bool> gStopArming{false};
std::vector<std::thread>* gArmers = nullptr;
void StopArming() {
  gStopArming = true;
  for (std::thread& t : *gArmers) t.join();
  gArmers->clear();
}
}  // namespace

// Every shut-down returns although another thread keeps moving a timed
// occurrence far ahead and cancelling it while the timer is being stopped.
TEST_F(OccLifetimeThreads, ShutdownReturnsWhileAnotherThreadArmsTimers) {
  std::atomic<bool> returned{false};
  std::atomic<bool> testOver{false};
  // Valgrind runs one thread at a time, so a shut-down competing with three
  // arming threads takes far longer there than natively.
  const int limitMs = UnderValgrind() ? 150000 : 30000;
  std::thread watchdog([&] {
    for (int waited = 0; !testOver; ++waited) {
      if (waited > limitMs) {
        std::fprintf(stderr, "OccurShutdown did not return within %d ms\n", limitMs);
        std::abort();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (returned.exchange(false)) waited = 0;
    }
  });
  OccurTestSetStopHook(StopArming);
  const int kArmers = 3;
  // The race is narrow: about one shut-down in a hundred met it before the
  // stop flag and the wake-up were set under the timer mutex.
  const int runs = Scaled(100);
  std::vector<std::thread> armers;
  gArmers = &armers;
  for (int run = 0; run < runs && !HasFailure(); ++run) {
    SCOPED_TRACE(run);
    if (run > 0) {
      EXPECT_EQ(OccurInit(), kNoErr);
    }
    gStopArming = false;
    std::atomic<int> rounds{0};
    std::vector<Occurrence> occs;
    for (int k = 0; k < kArmers; ++k) occs.push_back(AllocOccur());
    for (Occurrence o : occs) EXPECT_NE(o, 0u);
    for (Occurrence o : occs) {
      armers.emplace_back([&, o] {
        while (!gStopArming) {
          OccurAtTime(o, MilliSecs() + 100000);
          CancelOccurAtTime(o);
          ++rounds;
          // Lets the shutting-down thread run when threads are serialised.
          if (UnderValgrind()) std::this_thread::yield();
        }
      });
    }
    // The shut-down comes at a different point of the arming in each run.
    const int before = (run * 25) % 500;
    while (rounds < before) std::this_thread::yield();
    uInt32 start = MilliSecs();
    OccurShutdown();
    returned = true;
    EXPECT_LT(MillisecCmp(MilliSecs(), start), UnderValgrind() ? 120000 : 5000);
    EXPECT_TRUE(armers.empty()) << "the stop hook ran";
  }
  gStopArming = true;  // in case a shut-down found nothing to stop
  for (std::thread& t : armers) t.join();
  gArmers = nullptr;
  OccurTestSetStopHook(nullptr);
  testOver = true;
  watchdog.join();
  ASSERT_EQ(OccurInit(), kNoErr);  // for the fixture's own shut-down
}

// Registered threads keep arming and cancelling timed occurrences and
// time-outs, with no hook to stop them, while the manager shuts down and
// starts again: their calls on a stopped manager answer 1 and touch nothing
// freed (the sanitizer build checks).
TEST_F(OccLifetimeThreads, ShutdownWhileRealThreadsKeepArming) {
  struct Arming {
    std::atomic<bool> over{false};
    std::atomic<int> rounds{0}, refused{0}, answered{0};
    std::atomic<int> phase{0};  // odd from a shut-down's return to the next start
  } w;
  auto body = [](void* a) -> int32 {
    Arming* w = static_cast<Arming*>(a);
    Probe p;
    while (!w->over) {
      // Made after a start and used on through the next stop.
      Occurrence o = 0;
      while (!w->over && !(o = AllocOccur())) std::this_thread::yield();
      const int made = w->phase & ~1;
      OccurHdlr h = AllocOccurHdlr(o, ProbeProc, &p);
      while (!w->over && w->phase <= made + 1) {
        const int before = w->phase;
        const MgErr e[4] = {OccurAtTime(o, MilliSecs() + 100000), OnOccurrenceWithTimeout(h, 1, 100000),
                            CancelOnOccur(h), CancelOccurAtTime(o)};
        ++w->rounds;
        if ((before & 1) && w->phase == before && o && h)
          ++(e[0] == kArgErr && e[1] == kArgErr && e[2] == kArgErr && e[3] == kArgErr ? w->refused : w->answered);
        if (UnderValgrind()) std::this_thread::yield();
      }
      DeallocOccurHdlr(h);
      DeallocOccur(o);
    }
    return 0;
  };
  std::vector<ThThread> armers(3, nullptr);
  for (ThThread& t : armers) ASSERT_EQ(ThThreadCreate(&t, body, &w), kNoErr);
  for (int run = 0; run < Scaled(20) && !HasFailure(); ++run) {
    for (int target = w.rounds + 50 + (run * 37) % 300; w.rounds < target;) std::this_thread::yield();
    uInt32 start = MilliSecs();
    OccurShutdown();
    ++w.phase;
    EXPECT_LT(MillisecCmp(MilliSecs(), start), UnderValgrind() ? 120000 : 5000);
    for (int target = w.rounds + 30; w.rounds < target;) std::this_thread::yield();
    ++w.phase;
    ASSERT_EQ(OccurInit(), kNoErr);
  }
  w.over = true;
  for (ThThread t : armers) ThThreadDestroy(t);
  EXPECT_EQ(w.answered.load(), 0) << "a call on a stopped manager was not refused";
  EXPECT_GT(w.refused.load(), 0);
}

TEST_F(OccLifetimeThreads, HardWaitTimeCriticalKey) {
  EXPECT_FALSE(OccurHardWaitTimeCritical());
  CfgTestSetValue("HardWaitTimeCritical", "true");
  OccurShutdown();
  ASSERT_EQ(OccurInit(), kNoErr);
  EXPECT_TRUE(OccurHardWaitTimeCritical());
  CfgTestRemoveValue("HardWaitTimeCritical");
  OccurShutdown();
  CfgLoadDefaultWords();  // a new start-up
  ASSERT_EQ(OccurInit(), kNoErr);
  EXPECT_FALSE(OccurHardWaitTimeCritical());
}
