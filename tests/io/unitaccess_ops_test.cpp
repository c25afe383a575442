// Unit access by clumps: ownership, waiters served in priority order and
// handed the unit, the moves to and from a unit's execution system, and
// many clumps on several execution threads contending for one unit.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

#include "engine/exec_test_support.h"
#include "io/unitaccess.h"
#include "mgsource/datetime.h"

using namespace qxexectest;

namespace {

// Which slot ran which element, as the execution threads take them.
std::mutex gRanLock;
std::vector<std::pair<QueueElement*, int32>> gRan;

void RecordRun(ExecContext* ctx, QueueElement* e) {
  std::lock_guard<std::mutex> g(gRanLock);
  gRan.emplace_back(e, ctx->slot);
}

// The runs so far once `count` have come (or 5 s passed), then cleared; a
// short settling wait first shows that no run beyond them comes.
std::vector<std::pair<QueueElement*, int32>> Runs(size_t count) {
  const uInt32 end = MilliSecs() + 5000;
  for (;;) {
    {
      std::lock_guard<std::mutex> g(gRanLock);
      if (gRan.size() >= count || MillisecCmp(MilliSecs(), end) > 0) break;
    }
    WSleep(1);
  }
  WSleep(20);
  std::lock_guard<std::mutex> g(gRanLock);
  auto r = std::move(gRan);
  gRan.clear();
  return r;
}

constexpr int32 kStdNormal = 2;    // standard system, normal priority
constexpr int32 kInstrNormal = 7;  // instrument system, normal priority
constexpr int32 kInstrHigh = 9;    // instrument system, high priority

class UnitOps : public ExecTest {
 protected:
  void SetUp() override {
    ExecTest::SetUp();
    {
      std::lock_guard<std::mutex> g(gRanLock);
      gRan.clear();
    }
  }
  // A clump of the priority running in the slot, at home in another.
  QueueElement Clump(TestDataSpace& ds, int32 running, int32 home) {
    QueueElement e = NewElement(ds.handle());
    e.runningContext = ExecSlotContext(running);
    e.entryContext = ExecSlotContext(home);
    return e;
  }
};

// The edge cases of acquire, release and cancel, with the unit used where
// the caller runs (E = -1) and pinned to the instrument system (E = 2).
TEST_F(UnitOps, OwnershipPassesInPriorityOrderAndClumpsMoveAsTheResultsSay) {
  OnlySlots({{kStdNormal, 1}, {kInstrNormal, 1}, {4, 1}, {kInstrHigh, 1}});
  ASSERT_EQ(InitExec(), kNoErr);
  ExecSetTestRunProc(RecordRun);
  TestDataSpace normal(kPriNormal), high(kPriHigh);
  QueueElement a = Clump(normal, kStdNormal, kStdNormal), b = Clump(normal, kStdNormal, kStdNormal),
               c = Clump(normal, kStdNormal, kStdNormal), h = Clump(high, kStdNormal, kStdNormal);
  using Run = std::pair<QueueElement*, int32>;
  using Runs_ = std::vector<Run>;

  // E = -1: re-entry, a parked waiter handed the unit where it waited from.
  UnitAccessRec* u = NewUnitAccessRec(20, 5, -1, 1);
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(UnitAccess(u, &a, kUnitAcquire), kUnitGoOn);
  EXPECT_EQ(UnitAccess(u, &a, kUnitAcquire), kUnitGoOn);
  EXPECT_EQ(UnitAccess(u, &b, kUnitAcquire), kUnitYield);
  EXPECT_EQ(Runs(0), Runs_{});
  EXPECT_EQ(UnitAccess(u, &a, kUnitRelease), kUnitNothing);
  EXPECT_EQ(u->owner, &b);
  EXPECT_EQ(Runs(1), (Runs_{{&b, kStdNormal}}));
  EXPECT_EQ(UnitAccess(u, &b, kUnitRelease), kUnitNothing);
  EXPECT_EQ(u->owner, nullptr);

  // Waiters of levels 1, 3, 1: served 3 first, then in arrival order; an
  // aborting clump's acquire passes without ownership and without a move.
  ASSERT_EQ(UnitAccess(u, &a, kUnitAcquire), kUnitGoOn);
  EXPECT_EQ(UnitAccess(u, &b, kUnitAcquire), kUnitYield);
  EXPECT_EQ(UnitAccess(u, &h, kUnitAcquire), kUnitYield);
  EXPECT_EQ(UnitAccess(u, &c, kUnitAcquire), kUnitYield);
  QueueElement aborting = Clump(normal, kStdNormal, kStdNormal);
  aborting.resetPending = 1;
  EXPECT_EQ(UnitAccess(u, &aborting, kUnitAcquire), kUnitGoOn);
  EXPECT_EQ(u->owner, &a);
  std::vector<QueueElement*> order;
  for (QueueElement* owner = &a; owner;) {
    ASSERT_EQ(UnitAccess(u, owner, kUnitRelease), kUnitNothing);
    owner = static_cast<QueueElement*>(u->owner);
    if (owner) order.push_back(owner);
  }
  EXPECT_EQ(order, (std::vector<QueueElement*>{&h, &b, &c}));
  EXPECT_EQ(Runs(3).size(), 3u);

  // Cancel: a non-waiter moves nothing; a waiter runs again where it ran.
  ASSERT_EQ(UnitAccess(u, &a, kUnitAcquire), kUnitGoOn);
  EXPECT_EQ(UnitAccess(u, &c, kUnitCancel), kUnitNothing);
  EXPECT_EQ(Runs(0), Runs_{});
  ASSERT_EQ(UnitAccess(u, &b, kUnitAcquire), kUnitYield);
  EXPECT_EQ(UnitAccess(u, &b, kUnitCancel), kUnitNothing);
  EXPECT_EQ(Runs(1), (Runs_{{&b, kStdNormal}}));
  EXPECT_EQ(u->waiters->head, nullptr);

  // A release by a non-owner is reported with the element in hexadecimal
  // and changes nothing while another clump owns the unit; a free unit
  // still passes to its head waiter.
  ClearReports();
  char hex[96];
  std::snprintf(hex, sizeof hex, "qe 0x%lX releasing unit access it does not have",
                static_cast<unsigned long>(uintptr_t(&c)));
  EXPECT_EQ(UnitAccess(u, &c, kUnitRelease), kUnitNothing);
  EXPECT_EQ(u->owner, &a);
  EXPECT_EQ(qxtest::Reports::Get().Count(hex), 1) << ReportText();
  ASSERT_EQ(UnitAccess(u, &b, kUnitAcquire), kUnitYield);
  u->owner = nullptr;  // a unit left free with a waiter
  EXPECT_EQ(UnitAccess(u, &c, kUnitRelease), kUnitNothing);
  EXPECT_EQ(u->owner, &b);
  EXPECT_EQ(Runs(1), (Runs_{{&b, kStdNormal}}));

  // Waiters of a unit that goes away all go back to their home contexts.
  QueueElement w1 = Clump(normal, kStdNormal, kInstrNormal), w2 = Clump(high, kStdNormal, kInstrNormal);
  ASSERT_EQ(UnitAccess(u, &w1, kUnitAcquire), kUnitYield);
  ASSERT_EQ(UnitAccess(u, &w2, kUnitAcquire), kUnitYield);
  ReleaseUnitWaiters(u);
  EXPECT_EQ(Runs(2), (Runs_{{&w2, kInstrNormal}, {&w1, kInstrNormal}}));
  EXPECT_EQ(u->owner, &b);
  DisposeUnitAccessRec(u);

  // E = 2: a clump in another slot is moved there, already owner; its
  // release sends it home; a waiter is handed the unit on E's slot for its
  // priority.
  UnitAccessRec* pinned = AllocStdUnitAccessRec(kESysInstrument);
  ASSERT_NE(pinned, nullptr);
  QueueElement p = Clump(normal, kStdNormal, kStdNormal), q = Clump(high, kStdNormal, kStdNormal);
  EXPECT_EQ(UnitAccess(pinned, &p, kUnitAcquire), kUnitYield);
  EXPECT_EQ(pinned->owner, &p);
  EXPECT_EQ(Runs(1), (Runs_{{&p, kInstrNormal}}));
  EXPECT_EQ(p.runningContext, ExecSlotContext(kInstrNormal));
  EXPECT_EQ(UnitAccess(pinned, &p, kUnitAcquire), kUnitGoOn);
  EXPECT_EQ(UnitAccess(pinned, &q, kUnitAcquire), kUnitYield);
  EXPECT_EQ(UnitAccess(pinned, &p, kUnitRelease), kUnitYieldHome);
  EXPECT_EQ(pinned->owner, &q);
  auto runs = Runs(2);
  std::sort(runs.begin(), runs.end(), [](const Run& x, const Run& y) { return x.second < y.second; });
  EXPECT_EQ(runs, (Runs_{{&p, kStdNormal}, {&q, kInstrHigh}}));
  EXPECT_EQ(UnitAccess(pinned, &q, kUnitRelease), kUnitYieldHome);
  EXPECT_EQ(pinned->owner, nullptr);
  EXPECT_EQ(Runs(1), (Runs_{{&q, kStdNormal}}));
  // A clump at home in E's slot releases in place.
  QueueElement r = Clump(normal, kInstrNormal, kInstrNormal);
  EXPECT_EQ(UnitAccess(pinned, &r, kUnitAcquire), kUnitGoOn);
  EXPECT_EQ(UnitAccess(pinned, &r, kUnitRelease), kUnitNothing);
  EXPECT_EQ(Runs(0), Runs_{});
  DisposeUnitAccessRec(pinned);

  // Misuse: no record, a foreign record, an unknown op.
  ClearReports();
  UnitAccessRec foreign{};
  EXPECT_EQ(UnitAccess(nullptr, &a, kUnitAcquire), kUnitNothing);
  EXPECT_EQ(UnitAccess(&foreign, &a, kUnitAcquire), kUnitNothing);
  UnitAccessRec* v = AllocStdUnitAccessRec(-1);
  EXPECT_EQ(UnitAccess(v, &a, 7), kUnitNothing);
  EXPECT_EQ(v->owner, nullptr);
  ReleaseUnitWaiters(nullptr);
  ReleaseUnitWaiters(&foreign);
  DisposeUnitAccessRec(v);
  EXPECT_EQ(qxtest::Reports::Get().Count("unitacc"), 4) << ReportText();
  EXPECT_EQ(ExecFailures(), 0) << ReportText();
}

// Eight clumps acquire and release one unit many times on four execution
// threads: never two owners at once, and every clump ends.
struct Contender {
  std::atomic<int32> parked{0};  // set before an acquire that may park
  int32 rounds = 0;
};
constexpr int kClumps = 8;
Contender* gContenders = nullptr;
QueueElement* gElements = nullptr;
UnitAccessRec* gUnit = nullptr;
int32 gRounds = 0;
std::atomic<int32> gInside{0}, gOverlaps{0}, gFinished{0};

void ContendRun(ExecContext*, QueueElement* e) {
  Contender& c = gContenders[e - gElements];
  bool holding = c.parked.exchange(0) != 0;  // handed the unit while parked
  for (;;) {
    if (!holding) {
      c.parked.store(1);
      if (UnitAccess(gUnit, e, kUnitAcquire) == kUnitYield) return;  // resumed as owner
      c.parked.store(0);
    }
    if (gInside.fetch_add(1) != 0) gOverlaps.fetch_add(1);
    gInside.fetch_sub(1);
    holding = false;
    const bool last = ++c.rounds == gRounds;
    UnitAccess(gUnit, e, kUnitRelease);
    if (last) {
      gFinished.fetch_add(1);
      return;
    }
  }
}

TEST_F(UnitOps, OneOwnerAtATimeAmongClumpsOnFourThreads) {
  OnlySlots({{kStdNormal, 4}});
  ASSERT_EQ(InitExec(), kNoErr);
  gRounds = std::getenv("QX_UNDER_VALGRIND") ? 50 : 1000;
  TestDataSpace ds(kPriNormal);
  std::vector<QueueElement> elements(kClumps);
  std::vector<Contender> contenders(kClumps);
  for (QueueElement& e : elements) e = NewElement(ds.handle());
  gElements = elements.data();
  gContenders = contenders.data();
  gUnit = AllocStdUnitAccessRec(-1);
  ASSERT_NE(gUnit, nullptr);
  gInside.store(0);
  gOverlaps.store(0);
  gFinished.store(0);
  ExecSetTestRunProc(ContendRun);
  for (QueueElement& e : elements) EnQRunQ(&e);
  const uInt32 end = MilliSecs() + 60000;
  while (gFinished.load() < kClumps && MillisecCmp(MilliSecs(), end) <= 0) WSleep(1);
  FinishExec();
  EXPECT_EQ(gFinished.load(), kClumps);
  EXPECT_EQ(gOverlaps.load(), 0);
  for (const Contender& c : contenders) EXPECT_EQ(c.rounds, gRounds);
  EXPECT_EQ(gUnit->owner, nullptr);
  EXPECT_EQ(gUnit->waiters->head, nullptr);
  DisposeUnitAccessRec(gUnit);
  gUnit = nullptr;
}

}  // namespace
