// Unit access by clumps: ownership, waiters served in priority order and
// handed the unit, moves to and from the unit's execution system, and
// clumps on several execution threads contending for one unit.
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

typedef std::vector<std::pair<QueueElement*, int32>> Runs;  // element, slot that ran it
std::mutex gRanLock;
Runs gRan;
void RecordRun(ExecContext* ctx, QueueElement* e) {
  std::lock_guard<std::mutex> g(gRanLock);
  gRan.emplace_back(e, ctx->slot);
}
// The runs once `count` have come and no more follow, sorted.
Runs TakeRuns(size_t count) {
  for (uInt32 end = MilliSecs() + 5000; MillisecCmp(MilliSecs(), end) < 0; WSleep(1)) {
    std::lock_guard<std::mutex> g(gRanLock);
    if (gRan.size() >= count) break;
  }
  WSleep(20);
  std::lock_guard<std::mutex> g(gRanLock);
  Runs r = std::move(gRan);
  gRan.clear();
  std::sort(r.begin(), r.end());
  return r;
}

enum : int32 { kStd = 2, kInstr = 7, kInstrHigh = 9 };  // slots: normal, instrument normal and high
enum : int32 { kWake = 10, kLeaveFree = 11 };            // ReleaseUnitWaiters; the owner word cleared

class UnitOps : public ExecTest {
 protected:
  void SetUp() override {
    ExecTest::SetUp();
    // The reports counted below are debug lines: on, whatever an earlier
    // test of the process set.
    CfgTestSetValue("debugging", "true");
    DBInitDebug();
  }
};

TEST_F(UnitOps, OwnershipPassesInPriorityOrderAndClumpsMoveAsTheResultsSay) {
  OnlySlots({{kStd, 1}, {4, 1}, {kInstr, 1}, {kInstrHigh, 1}});
  ASSERT_EQ(InitExec(), kNoErr);
  ExecSetTestRunProc(RecordRun);
  TestDataSpace normal(kPriNormal), high(kPriHigh);
  auto clump = [](TestDataSpace& ds, int32 running, int32 home) {
    QueueElement e = NewElement(ds.handle());
    e.runningContext = ExecSlotContext(running);
    e.entryContext = ExecSlotContext(home);
    return e;
  };
  QueueElement a = clump(normal, kStd, kStd), b = clump(normal, kStd, kStd), c = clump(normal, kStd, kStd),
               h = clump(high, kStd, kStd), x = clump(normal, kStd, kStd), w1 = clump(normal, kStd, kInstr),
               w2 = clump(high, kStd, kInstr), p = clump(normal, kStd, kStd), q = clump(high, kStd, kStd),
               r = clump(normal, kInstr, kInstr);
  x.resetPending = 1;  // aborting
  UnitAccessRec* u = NewUnitAccessRec(20, 5, -1, 1);  // used where the caller runs
  UnitAccessRec* e2 = AllocStdUnitAccessRec(kESysInstrument);
  UnitAccessRec foreign{};
  ASSERT_TRUE(u && e2);
  struct Step {
    UnitAccessRec* unit;
    QueueElement* qe;
    int32 op, result;
    QueueElement* owner;
    Runs runs;
  } steps[] = {
      // Re-entry; a waiter handed the unit where it waited from.
      {u, &a, 1, 0, &a, {}}, {u, &a, 1, 0, &a, {}}, {u, &b, 1, 1, &a, {}},
      {u, &a, 2, 3, &b, {{&b, kStd}}}, {u, &b, 2, 3, nullptr, {}},
      // Levels 1, 3, 1 wait: 3 first, then in arrival order; an aborting
      // acquire passes without ownership.
      {u, &a, 1, 0, &a, {}}, {u, &b, 1, 1, &a, {}}, {u, &h, 1, 1, &a, {}}, {u, &c, 1, 1, &a, {}},
      {u, &x, 1, 0, &a, {}}, {u, &a, 2, 3, &h, {{&h, kStd}}}, {u, &h, 2, 3, &b, {{&b, kStd}}},
      {u, &b, 2, 3, &c, {{&c, kStd}}},
      // Cancel: a non-waiter moves nothing, a waiter runs again.
      {u, &a, 0, 3, &c, {}}, {u, &b, 1, 1, &c, {}}, {u, &b, 0, 3, &c, {{&b, kStd}}},
      // A non-owner's release: nothing while another owns; a free unit
      // still passes to its head waiter.
      {u, &a, 2, 3, &c, {}}, {u, &b, 1, 1, &c, {}}, {u, nullptr, kLeaveFree, 0, nullptr, {}},
      {u, &a, 2, 3, &b, {{&b, kStd}}},
      // Waiters of a unit going away go home without it.
      {u, &w1, 1, 1, &b, {}}, {u, &w2, 1, 1, &b, {}}, {u, nullptr, kWake, 0, &b, {{&w1, kInstr}, {&w2, kInstr}}},
      // E = 2: moved there already owner, re-entry in place, sent home on
      // release while the waiter goes to E's slot for its priority.
      {e2, &p, 1, 1, &p, {{&p, kInstr}}}, {e2, &p, 1, 0, &p, {}}, {e2, &q, 1, 1, &p, {}},
      {e2, &p, 2, 2, &q, {{&p, kStd}, {&q, kInstrHigh}}}, {e2, &q, 2, 2, nullptr, {{&q, kStd}}},
      {e2, &r, 1, 0, &r, {}}, {e2, &r, 2, 3, nullptr, {}},
      // Misuse: no record, a foreign one, an unknown op.
      {nullptr, &a, 1, 3, nullptr, {}}, {&foreign, &a, 1, 3, nullptr, {}}, {u, &a, 7, 3, &b, {}},
  };
  int row = 0;
  for (Step& s : steps) {
    int32 result = 0;
    if (s.op == kWake) ReleaseUnitWaiters(s.unit);
    else if (s.op == kLeaveFree) s.unit->owner = nullptr;
    else result = UnitAccess(s.unit, s.qe, s.op);
    std::sort(s.runs.begin(), s.runs.end());
    EXPECT_EQ(result, s.result) << row;
    if (s.unit && s.unit != &foreign) {
      EXPECT_EQ(s.unit->owner, s.owner) << row;
    }
    EXPECT_EQ(TakeRuns(s.runs.size()), s.runs) << row;
    ++row;
  }
  char line[96];
  std::snprintf(line, sizeof line, "qe 0x%lX releasing unit access it does not have",
                static_cast<unsigned long>(uintptr_t(&a)));
  EXPECT_EQ(qxtest::Reports::Get().Count(line), 2) << ReportText();
  EXPECT_EQ(qxtest::Reports::Get().Count("unitacc"), 3) << ReportText();
  DisposeUnitAccessRec(u);
  DisposeUnitAccessRec(e2);
}

// Eight clumps acquire and release one unit many times on four execution
// threads: never two owners at once, and every clump ends.
constexpr int kClumps = 8;
struct Contender {
  std::atomic<int32> parked{0};  // set before an acquire that may park it
  int32 rounds = 0;
};
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
      if (UnitAccess(gUnit, e, kUnitAcquire) == kUnitYield) return;
      c.parked.store(0);
    }
    holding = false;
    if (gInside.fetch_add(1) != 0) gOverlaps.fetch_add(1);
    gInside.fetch_sub(1);
    const bool last = ++c.rounds == gRounds;
    UnitAccess(gUnit, e, kUnitRelease);
    if (last) return (void)gFinished.fetch_add(1);
  }
}

TEST_F(UnitOps, OneOwnerAtATimeAmongClumpsOnFourThreads) {
  OnlySlots({{kStd, 4}});
  ASSERT_EQ(InitExec(), kNoErr);
  gRounds = std::getenv("QX_UNDER_VALGRIND") ? 50 : 1000;
  TestDataSpace ds(kPriNormal);
  std::vector<QueueElement> elements(kClumps, NewElement(ds.handle()));
  std::vector<Contender> contenders(kClumps);
  gElements = elements.data();
  gContenders = contenders.data();
  gUnit = AllocStdUnitAccessRec(-1);
  gOverlaps.store(0);
  gFinished.store(0);
  ExecSetTestRunProc(ContendRun);
  for (QueueElement& e : elements) EnQRunQ(&e);
  for (uInt32 end = MilliSecs() + 60000; gFinished.load() < kClumps && MillisecCmp(MilliSecs(), end) < 0;) WSleep(1);
  FinishExec();
  EXPECT_EQ(gFinished.load(), kClumps);
  EXPECT_EQ(gOverlaps.load(), 0);
  for (const Contender& c : contenders) EXPECT_EQ(c.rounds, gRounds);
  EXPECT_EQ(gUnit->owner, nullptr);
  DisposeUnitAccessRec(gUnit);
}

}  // namespace
