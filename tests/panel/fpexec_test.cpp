// Values between diagrams and panels: the coalescing of writes into one
// queue entry and one event, the mode filter, reads, the drain, strip-chart
// folds, property nodes, and writers on threads against the draining thread.
#include <atomic>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <thread>
#include <utility>
#include <vector>

#include "engine/exec/exec.h"
#include "engine/exec_test_support.h"
#include "mgsource/objlist.h"
#include "panel/attrcall.h"
#include "panel/fpexec.h"
#include "panel/oinit.h"
#include "panel/osupport.h"
#include "panel/paneldisplay.h"
#include "panel_test_support.h"

// The engine's post of user events (engine/exec/codeentry.h, which clashes
// with the VI headers the fixture needs).
typedef MgErr (*TransferPostProc)(int32, int32, int32, int32, int32, int32, int32, int32, int32);
void ExecSetPostUserEventProc(TransferPostProc proc);

namespace {

using namespace ptest;

struct TransferSeen {
  std::atomic<int32> events{0};
  std::atomic<int32> displays{0};
  double shown = 0, previous = -1;
  std::vector<std::vector<int32>> props;  // read, last, property, data
};
TransferSeen gXfer;

MgErr CountEvent(int32, int32 code, int32, int32, int32, int32, int32, int32, int32) {
  if (code == kUserEventPanelUpdate) gXfer.events.fetch_add(1);
  return kNoErr;
}
void SeeDisplay(ObjHeap, int32, const void* previous, const void* value) {
  gXfer.displays.fetch_add(1);
  std::memcpy(&gXfer.shown, value, 8);
  gXfer.previous = previous ? *static_cast<const double*>(previous) : -1;
}
void SeeProperty(ObjHeap, int32, UHandle, int32, int32 read, int32 last, int32 property, int32 data) {
  gXfer.props.push_back({read, last, property, data});
}

// A VI whose data space holds a transfer table of n double indicators with
// their records, bound to a panel whose controller list names them.
class TransferTableTest : public PanelRootTest {
 protected:
  static constexpr int32 kRecBytes = 56;  // 12-byte head, 4 spare, five doubles
  void SetUp() override {
    PanelRootTest::SetUp();
    gXfer.events = 0;
    gXfer.displays = 0;
    gXfer.props.clear();
    ExecSetPostUserEventProc(&CountEvent);
    SetPanelDisplayObservers({&SeeDisplay, &SeeProperty});
  }
  void TearDown() override {
    DropQueue();
    if (threads_) {
      for (int32 i = 0; i < n_; ++i) InitDisposeDCOOpDataFlags(Op(i), 0);
      FinishExec();
      ThSetTestProcessorCount(0);
      qxexectest::ClearExecKeys();
    }
    ExecSetPostUserEventProc(nullptr);
    SetPanelDisplayObservers({});
    PanelRootTest::TearDown();
  }
  void Build(int32 n, bool threads) {
    if (threads) {
      qxexectest::StartThreadManagers();
      qxexectest::ClearExecKeys();
      ThSetTestProcessorCount(2);
      qxexectest::OnlySlots({{2, 1}});
      ASSERT_EQ(InitExec(), kNoErr);
      threads_ = true;
    }
    n_ = n;
    table_ = (UsedSize() + 7) & ~7;
    records_ = (table_ + n * 36 + 7) & ~7;
    ASSERT_EQ(DSSetHSzClr(DS(), records_ + n * kRecBytes), kNoErr);
    DataSpaceHeader* h = DSHdr(DS());
    h->dcoCount = n;
    h->dcoTableOffset = table_;
    h->panel = reinterpret_cast<UHandle>(panel_);
    h->owner = vi_;
    if (threads) h->updateQueue = reinterpret_cast<UHandle>(NewUpdateQueue(16));
    int32 list = OHNewBlock(panel_, kObjListNewSize, kObjClassList);
    for (int32 i = 0; i < n; ++i) {
      TransferEntry e{i, uInt32(records_ + i * kRecBytes), 0, 8, 1, uInt32(records_ + i * kRecBytes + 16), {}};
      std::memcpy(*DS() + table_ + 36 * i, &e, sizeof e);
      ASSERT_EQ(InitDisposeDCOOpDataFlags(Op(i), 1), kNoErr);
      const int32 dco = Obj(kClsFPDataController);
      SetW(dco, kPWDCODisplay, Obj(kClsNumeric));
      ASSERT_EQ(OHListInsert(panel_, &list, dco, kObjListAppend), kNoErr);
    }
    SetW(root_, kRootItemList / 4, list);
    DSHdr(DS())->hasDataControllers = 1;
  }
  void DropQueue() {
    DisposeUpdateQueue(std::exchange(DSHdr(DS())->updateQueue, nullptr));
  }
  DataSpace D() const { return reinterpret_cast<DataSpace>(DS()); }
  DCOOpData* Op(int32 i) const { return reinterpret_cast<DCOOpData*>(*DS() + records_ + i * kRecBytes); }
  double* Copy(int32 i, int32 k) const {
    return reinterpret_cast<double*>(*DS() + records_ + i * kRecBytes + 16 + 8 * k);
  }
  MgErr Write(int32 i, double v, int32 mode = 0) {
    return WriteDCOTransferData(D(), i, Op(i), Copy(i, 0), &v, 8, 1, mode);
  }
  int32 Queued() {
    auto* q = reinterpret_cast<UpdateQueue*>(DSHdr(DS())->updateQueue);
    return q ? GLCount(q->entries, kUpdateEntrySize) : 0;
  }
  void Drain() { ProcessUpdateQueue(int32(uintptr_t(DS())), int32(uintptr_t(vi_)), 1); }
  bool threads_ = false;
  int32 n_ = 0, table_ = 0, records_ = 0;
};

TEST_F(TransferTableTest, WithThreadsWritesCoalesceIntoOneEntryAndOneEvent) {
  Build(2, true);
  ASSERT_FALSE(HasFatalFailure());
  DSHdr(DS())->transferMode = 1;
  // An unchanged flat value queues nothing the second time; with 0x2 it does.
  EXPECT_EQ(Write(0, 0.0), kNoErr);
  EXPECT_EQ(Queued(), 0) << "equal to the transfer copy's zero";
  Op(1)->options = kDCOOptTransferEqual;
  Write(1, 0.0);
  Drain();
  Write(1, 0.0);
  EXPECT_EQ(Queued(), 1);
  Drain();
  // Ten writes before a drain: one entry, one event, one display of the tenth.
  *Copy(0, 0) = 0.5;
  gXfer.events = 0;
  gXfer.displays = 0;
  for (int32 k = 1; k <= 10; ++k) Write(0, k);
  EXPECT_EQ(Queued(), 1);
  EXPECT_EQ(gXfer.events.load(), 1);
  Drain();
  EXPECT_EQ(gXfer.displays.load(), 1);
  EXPECT_EQ(gXfer.shown, 10.0);
  EXPECT_EQ(gXfer.previous, 0.5) << "copy 4 keeps the value shown before";
  EXPECT_EQ(Op(0)->flags & kDCONewForPanel, 0u);
}

TEST_F(TransferTableTest, HiddenAndAlwaysShownIndicatorsAndTheModeFilter) {
  Build(1, true);
  ASSERT_FALSE(HasFatalFailure());
  struct Case { int16 transferMode; uInt32 flags; int32 mode, queued; uInt32 flagsAfter; } cases[] = {
      {1, kDCOHidden, 0, 0, kDCOHidden | kDCONewForPanel},  // stored, not shown
      {1, kDCOHidden | kDCOAlwaysShow, 0, 1, kDCOHidden | kDCOAlwaysShow | kDCONewForPanel},
      {1, 0, 1, 0, kDCONewForDiagram},                       // the panel's own write
      {1, 0, 2, 1, kDCONewForDiagram | kDCONewForPanel},
      {0, 0, 0, 0, 0},                                       // display-only: nothing with threads
      {0, 0, 3, 0, 0},                                       // 3 acts as 0
      {1, 0, 3, 1, kDCONewForDiagram | kDCONewForPanel},     // kept when the word is set
  };
  double v = 1;
  for (const Case& c : cases) {
    DSHdr(DS())->transferMode = c.transferMode;
    Op(0)->flags = c.flags;
    Drain();
    Write(0, ++v, c.mode);
    EXPECT_EQ(Queued(), c.queued) << c.flags << " mode " << c.mode;
    EXPECT_EQ(Op(0)->flags, c.flagsAfter) << c.flags << " mode " << c.mode;
  }
  // Showing the control rebinds it: the next write is shown.
  Op(0)->flags = kDCOHidden;
  FPRebindTransferEntry(panel_, ObjListGet(panel_, W(root_, kRootItemList / 4), 0));
  EXPECT_EQ(Op(0)->flags, 0u);
  DSHdr(DS())->transferMode = 1;
  Drain();
  Write(0, 99);
  EXPECT_EQ(Queued(), 1);
}

TEST_F(TransferTableTest, TheDrainDropsForeignEntriesAndSchedulesWithoutAQueue) {
  Build(1, true);
  ASSERT_FALSE(HasFatalFailure());
  DSHdr(DS())->transferMode = 1;
  // An entry of a data space the VI no longer has.
  UHandle gone = DSNewHClr(kDataSpaceHeaderSize);
  auto* q = reinterpret_cast<UpdateQueue*>(DSHdr(DS())->updateQueue);
  UpdateEntry foreign{gone, kUpdateShowValue, 0, 0};
  ASSERT_EQ(GLInsert(q->entries, &foreign, kUpdateEntrySize, 1, 0), kNoErr);
  Drain();
  EXPECT_EQ(Queued(), 0);
  EXPECT_EQ(gXfer.displays.load(), 0);
  DSDisposeHandle(gone);
  // Appends after the drain started post a new event.
  gXfer.events = 0;
  Write(0, 3);
  EXPECT_EQ(gXfer.events.load(), 1);
  // Without a queue kind 3 puts the numbered element on its run queue at
  // once; a number out of range only asserts.
  DropQueue();
  static std::atomic<QueueElement*> ran;
  ran.store(nullptr);
  ExecSetTestRunProc([](ExecContext*, QueueElement* e) { ran.store(e); });
  QueueElement clump{};
  clump.signature = kQueueElementSig;
  clump.dataSpace = D();
  DSHdr(DS())->entrance.ownElement.chain = &clump;
  DSHdr(DS())->execSystem = kESysStandard;
  DSHdr(DS())->slot = 2;
  QueueElement* table[2] = {};
  InitQETable(D(), table, 2);
  EXPECT_EQ(clump.qeIndex, 1);
  EXPECT_EQ(QueueUpdate(D(), 0, 1, kUpdateSchedule), kNoErr);
  for (int32 i = 0; i < 2000 && !ran.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(ran.load(), &clump);
  ExecSetTestRunProc(nullptr);
  ClearReports();
  EXPECT_EQ(QueueUpdate(D(), 0, 2, kUpdateSchedule), kNoErr);
  EXPECT_EQ(Asserts(), 1);
  InitQETable(D(), table, 1);  // a chain longer than its table
  EXPECT_EQ(Asserts(), 2);
  DSHdr(DS())->entrance.ownElement.chain = nullptr;
}

TEST_F(TransferTableTest, ReadsTakeTheirFlagAndLatchedBooleansWriteTheirRestValue) {
  Build(1, true);
  ASSERT_FALSE(HasFatalFailure());
  double out = -1;
  *Copy(0, kCopyTransfer) = 7;
  struct Case { uInt32 flags; int32 mode; double got; uInt32 after; } cases[] = {
      {0, 0, -1, 0}, {kDCONewForDiagram, 0, 7, 0}, {0, 1, -1, 0}, {kDCONewForPanel, 1, 7, 0}, {0, 2, 7, 0},
  };
  for (const Case& c : cases) {
    out = -1;
    Op(0)->flags = c.flags;
    EXPECT_EQ(ReadDCOTransferData(D(), 0, Op(0), Copy(0, 0), &out, 8, 1, c.mode), kNoErr);
    EXPECT_EQ(out, c.got) << c.flags << " mode " << c.mode;
    EXPECT_EQ(Op(0)->flags, c.after);
  }
  // A latched Boolean still held sets only 0x2; released, its rest value is
  // stored and queued once.
  uChar* base = reinterpret_cast<uChar*>(*DS());
  const int32 at = int32(reinterpret_cast<uChar*>(Copy(0, 0)) - base);
  Op(0)->flags = 0;
  const int32 tracked = Obj(kClsBoolean);
  SetTrackObject(panel_, tracked, nullptr, nullptr, 1);
  EXPECT_EQ(LatchedBoolTxDataHasBeenRead(D(), 0, Op(0), at, 1, tracked, base, 2, 1), kNoErr);
  EXPECT_EQ(Op(0)->flags, kDCONewForDiagram);
  EXPECT_EQ(base[at + 3], 0);
  SetTrackObject(nullptr, 0, nullptr, nullptr, 1);
  LatchedBoolTxDataHasBeenRead(D(), 0, Op(0), at, 1, tracked, base, 2, 1);
  LatchedBoolTxDataHasBeenRead(D(), 0, Op(0), at, 1, tracked, base, 2, 1);
  EXPECT_EQ(base[at + 3], 1);
  EXPECT_EQ(Queued(), 1);
}

TEST_F(TransferTableTest, WithoutThreadsWritesDrawAtOnceAndDisplayOnlyIsNotStored) {
  Build(1, false);
  ASSERT_FALSE(HasFatalFailure());
  Write(0, 4, 1);
  EXPECT_EQ(gXfer.displays.load(), 1);
  EXPECT_EQ(*Copy(0, 0), 4.0);
  EXPECT_EQ(Op(0)->flags, kDCONewForDiagram);
  Write(0, 5, 0);  // transfer-mode word 0: shown, not stored
  EXPECT_EQ(gXfer.shown, 5.0);
  EXPECT_EQ(*Copy(0, 0), 4.0);
}

// Strip charts of capacity 4 (one plot, then two plots of a 2-D chart)
// written with capacity + 5 points: the last 4 are kept, the start moves by 5.
TEST_F(TransferTableTest, StripChartsFoldTheirPendingPointsAndSkipWhileBusy) {
  Build(1, true);
  ASSERT_FALSE(HasFatalFailure());
  const int32 c = 4, n = c + 5;
  const int32 at = (UsedSize() + 7) & ~7;
  ASSERT_EQ(DSSetHSzClr(DS(), std::max(DSGetHandleSize(DS()), at + 48)), kNoErr);
  const int32 chart = Obj(kClsNumeric);
  SetW(chart, kPWGraphHistory, at);
  for (int32 plots = 1; plots <= 2; ++plots) {
    auto* live = reinterpret_cast<ProtectedStripChartRec*>(*DS() + at);
    std::memset(live, 0, sizeof *live);
    live->history = Keep(DSNewHClr(8 + 8 * c * plots));
    PutNative32(*live->history, c);
    PutNative32(*live->history + 4, plots);
    uChar* base = reinterpret_cast<uChar*>(*DS());
    ASSERT_EQ(InitDisposeProtectedStripChartRec(base, at, 8, 8, 1), kNoErr);
    UHandle points = Keep(DSNewHClr(8 + 8 * n * plots));  // n points by plots
    PutNative32(*points, n);
    PutNative32(*points + 4, plots);
    for (int32 i = 0; i < n * plots; ++i) reinterpret_cast<double*>(*points + 8)[i] = (i % plots) * 100 + i / plots;
    SetW(chart, kPWDDOTypeId, plots == 2 ? int32(Type(tdb::Array(tdb::DBL(), {-1, -1}))) : 0);
    if (plots == 1) {
      EXPECT_EQ(WriteVectStripChartHistoryData(base, at, 8, 8, *points + 8, n), kNoErr);
      EXPECT_EQ(WriteVectStripChartHistoryData(base, at, 8, 8, *points + 8, 0), kNoErr);
    } else {
      EXPECT_EQ(Write2DStripChartHistoryData(base, at, 8, 8, points, 0), kNoErr);
    }
    ExecSetBusy(1);
    ChartHistoryPrepare(panel_, chart);
    EXPECT_EQ(live->count, 0) << "pending while busy";
    ExecSetBusy(0);
    ChartHistoryPrepare(panel_, chart);
    EXPECT_EQ(live->count, n);
    EXPECT_EQ(live->start, 5 % c);
    for (int32 i = 0; i < c * plots; ++i) {
      const int32 slot = (live->start + i / plots) % c;
      const double v = reinterpret_cast<double*>(*live->history + 8)[slot * plots + i % plots];
      EXPECT_EQ(v, (i % plots) * 100 + 5 + i / plots) << plots << " plots, value " << i;
    }
    EXPECT_EQ(InitDisposeProtectedStripChartRec(base, at, 8, 8, 0), kNoErr);
  }
  // A record whose shadow cannot be made is never written.
  MemFailNthAllocation(1);
  EXPECT_EQ(InitDisposeProtectedStripChartRec(*DS(), at, 8, 8, 1), kMemFullErr);
  MemFailNthAllocation(0);
  EXPECT_EQ(reinterpret_cast<ProtectedStripChartRec*>(*DS() + at)->mutex, nullptr);
  const double one = 1;
  EXPECT_EQ(WriteVectStripChartHistoryData(*DS(), at, 8, 8, &one, 1), kMemFullErr);
}

// Hiding or showing a control through its "Visible" property tells its
// transfer entry, which then holds or passes the diagram's values.
TEST_F(TransferTableTest, TheVisiblePropertyRebindsTheTransferEntry) {
  Build(1, true);
  ASSERT_FALSE(HasFatalFailure());
  if (!TRStackBlock()) TRInit();
  const int32 dco = ObjListGet(panel_, W(root_, kRootItemList / 4), 0);
  const int32 display = W(dco, kPWDCODisplay);
  SetW(dco, kPWOwner, root_);
  SetW(display, kPWOwner, dco);
  std::vector<uChar> b = tdb::Boolean().Bytes();
  UHandle types = Keep(AZNewHandle(int32(b.size())));
  std::memcpy(*types, b.data(), b.size());
  for (uChar visible : {0, 1}) {
    SCOPED_TRACE(int(visible));
    DoDDOAttrCall(panel_, display, types, 0, 0, 1, 0, &visible);
    EXPECT_EQ((uInt32(W(display, 0)) & kObjFlagHidden) != 0, !visible);
    EXPECT_EQ((Op(0)->flags & kDCOHidden) != 0, !visible);
  }
}

TEST_F(TransferTableTest, PropertyNodesDrainFirstAndRunOnTheUserInterfaceThreadOnly) {
  Build(1, true);
  ASSERT_FALSE(HasFatalFailure());
  DSHdr(DS())->transferMode = 1;
  Write(0, 8);
  // Types: a 6-byte head, then an i16 (4 bytes) and a double (4 bytes).
  UHandle types = Keep(DSNewHClr(6 + 8));
  PutNative16(*types + 6, 4);
  PutNative16(*types + 10, 4);
  (*types)[8] = 0x02;   // i16
  (*types)[12] = 0x0A;  // double
  const int32 call[] = {0, 0, int32(uintptr_t(panel_)), 5, int32(uintptr_t(types)), 0, 2, 2, int32(0x80000007), 9};
  QueueElement* own = &DSHdr(DS())->entrance.ownElement;
  own->dataSpace = D();
  EXPECT_EQ(AttributeNodeTransfer(call, own), 1);
  EXPECT_EQ(Queued(), 0) << "drained first";
  ASSERT_EQ(gXfer.props.size(), 2u);
  EXPECT_EQ(gXfer.props[0], (std::vector<int32>{0, 0, 7, 2}));
  EXPECT_EQ(gXfer.props[1], (std::vector<int32>{1, 1, 9, 4})) << "a double aligned after the i16";
  ClearReports();
  std::thread([&] { EXPECT_EQ(AttributeNodeTransfer(call, own), 1); }).join();
  EXPECT_EQ(Asserts(), 1);
  EXPECT_EQ(gXfer.props.size(), 2u);
}

// Eight writers, sixteen indicators, one drainer that drains only when a
// panel-update event reaches it: no event is lost, never two are in flight,
// and the final values are shown.
TEST_F(TransferTableTest, WritersAgainstTheDrainingThreadThreads) {
  Build(16, true);
  ASSERT_FALSE(HasFatalFailure());
  DSHdr(DS())->transferMode = 1;
  const int32 perThread = std::getenv("QX_UNDER_VALGRIND") ? 100 : 1000;
  std::atomic<int32> done{0};
  std::vector<std::thread> writers;
  for (int32 t = 0; t < 8; ++t) {
    writers.emplace_back([&, t] {
      for (int32 k = 1; k <= perThread; ++k) Write((t * 2 + k) % 16, double(t * perThread + k));
      done.fetch_add(1);
    });
  }
  int32 handled = 0, maxInFlight = 0;
  auto takeEvent = [&] {
    const int32 inFlight = gXfer.events.load() - handled;
    maxInFlight = std::max(maxInFlight, inFlight);
    if (inFlight <= 0) return false;
    ++handled;
    Drain();
    return true;
  };
  while (done.load() < 8) takeEvent();
  for (auto& w : writers) w.join();
  while (takeEvent()) {
  }
  EXPECT_LE(maxInFlight, 1);
  EXPECT_GT(handled, 0);
  EXPECT_EQ(Queued(), 0) << "every entry had its event";
  for (int32 i = 0; i < 16; ++i) {
    EXPECT_EQ(*Copy(i, 0), *Copy(i, kCopyTransfer)) << i;
    EXPECT_EQ(Op(i)->flags & kDCONewForPanel, 0u) << i;
  }
}

}  // namespace
