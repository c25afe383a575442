// Front panels as the engine makes and disposes them: the root object, the
// key-focus commit, the transfer of a control's data, update queues and the
// panel clipboard.
#include <algorithm>
#include <cstring>

#include "engine/exec_test_support.h"
#include "engine/vi/viinst.h"
#include "live_handles.h"
#include "mgsource/pool.h"
#include "mgsource/window/mainloop.h"
#include "engine/exec/runcmd.h"
#include "panel/blink.h"
#include "panel/fpexec.h"
#include "panel/fppanel.h"
#include "panel/fptransfer.h"
#include "panel_test_support.h"

namespace {

using namespace ptest;

// The words of a panel data controller this test sets.
constexpr int32 kDCORecord = 6, kDCORecordTD = 7;

class FPPanelTest : public PanelTest {
 protected:
  int32 Ext() const { return int32(OHWord(panel_, kOHExtension)); }
  uInt32 ExtWord(int32 at) const { return GetNative32(*panel_ + Ext() + at); }
  void SetExtWord(int32 at, uInt32 v) { PutNative32(*panel_ + Ext() + at, v); }
  // Binds the panel to the VI's data space through a root object.
  void BindRoot() {
    const int32 root = FPNewPanelRoot(panel_);
    ASSERT_NE(root, 0);
    SetExtWord(kHeapExtRoot, uInt32(root));
    SetW(root, kPanelRootDataSpaceWord, int32(uintptr_t(DS())));
  }
  static std::pair<int32, int32> Totals() { return qxexectest::ZoneTotals(); }
  // The execution systems with one thread in the standard normal slot.
  static void StartExecThread() {
    qxexectest::StartThreadManagers();
    qxexectest::ClearExecKeys();
    ThSetTestProcessorCount(2);
    qxexectest::OnlySlots({{2, 1}});
    ASSERT_EQ(InitExec(), kNoErr);
  }
  static void StopExecThread() {
    FinishExec();
    ThSetTestProcessorCount(0);
    qxexectest::ClearExecKeys();
  }
};

TEST_F(FPPanelTest, ARootIsAFrontPanelObjectOfItsClassSize) {
  const int32 root = FPNewPanelRoot(panel_);
  ASSERT_NE(root, 0);
  EXPECT_EQ(ObjClass(panel_, root), kClsFrontPanel);
  EXPECT_GE(OHBlockSize(panel_, root), ClassRecord(kClsFrontPanel)->instanceSize);
  EXPECT_EQ(FPNewPanelRoot(nullptr), 0);
}

// (Committing a focus sends it a synthetic Enter inside its saved frames:
// the transaction tests show it.)
TEST_F(FPPanelTest, CommittingWithoutAFocusDoesNothing) {
  EXPECT_EQ(FPCommitKeyFocus(panel_), kNoErr);
  EXPECT_EQ(FPCommitKeyFocus(nullptr), kNoErr);
  EXPECT_EQ(ExtWord(kHeapExtKeyFocus), 0u);
}

// A VI whose data space holds one controller record after the header: the
// flags, then the operate, default, execution, transfer and old copies.
class FPTransferTest : public FPPanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    // Replace the fixture's VI by one whose data space holds the record.
    UnregisterVI(vi_);
    vib::DisposeVI(vi_);
    const tdb::TD rec = tdb::Cluster({tdb::U32(), tdb::I32(), tdb::I32(), tdb::I32(), tdb::I32(), tdb::I32()});
    vi_ = vib::NewVI({rec});
    ASSERT_NE(vi_, nullptr);
    ASSERT_EQ(RegisterVI(vi_), kNoErr);
    panel_ = vib::NewPanel(vi_);
    ASSERT_NE(panel_, nullptr);
    // The record's descriptor follows the cluster's six bytes and the header block's.
    recordTD_ = 6 + int32(tdb::Block(kDataSpaceHeaderSize).Bytes().size());
    BindRoot();
    dco_ = Obj(kClsFPDataController);
    SetW(dco_, kDCORecord, kDataSpaceHeaderSize);
    SetW(dco_, kDCORecordTD, recordTD_);
    VIRec(vi_)->viKind = kVIKindDatalog;  // a VI whose controls the diagram reads
  }
  int32 Copy(int32 n) const { return int32(GetNative32(*DS() + kDataSpaceHeaderSize + 4 * n)); }
  void SetCopy(int32 n, uInt32 v) { PutNative32(*DS() + kDataSpaceHeaderSize + 4 * n, v); }
  int32 recordTD_ = 0, dco_ = 0;
};

TEST_F(FPTransferTest, TheOperateCopyIsReadAsItIsWhileNoThreadRuns) {
  SetCopy(0, kDCOTransferPending);
  SetCopy(1, 5);
  SetCopy(4, 9);
  EXPECT_EQ(FPTransferDCOData(panel_, dco_, nullptr), kDataSpaceHeaderSize + 4);
  EXPECT_EQ(Copy(1), 5);
  EXPECT_EQ(uInt32(Copy(0)), kDCOTransferPending);
}

TEST_F(FPTransferTest, WithThreadsPendingTransferDataIsTakenFirst) {
  StartExecThread();
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(ExecThreadsOn());
  SetCopy(0, kDCOTransferPending | 0x100);
  SetCopy(1, 5);
  SetCopy(4, 9);
  FPTransferAllControls(panel_);
  EXPECT_EQ(Copy(1), 9);
  EXPECT_EQ(uInt32(Copy(0)), 0x100u);
  // Nothing pending: the operate copy stays.
  SetCopy(4, 12);
  EXPECT_EQ(FPTransferDCOData(panel_, dco_, nullptr), kDataSpaceHeaderSize + 4);
  EXPECT_EQ(Copy(1), 9);
  StopExecThread();
}

TEST_F(FPTransferTest, AControllerWithoutAGoodRecordGivesZero) {
  struct Case {
    const char* what;
    int32 record, recordTD;
  };
  const Case cases[] = {
      {"no record", 0, -1},
      {"descriptor not a cluster", -1, 6},
      {"descriptor past the type", -1, 100000},
      {"negative descriptor", -1, -8},
      {"record past the data space", 100000, -1},
  };
  for (const Case& c : cases) {
    SetW(dco_, kDCORecord, c.record >= 0 ? c.record : kDataSpaceHeaderSize);
    SetW(dco_, kDCORecordTD, c.recordTD >= 0 || c.recordTD == -8 ? c.recordTD : recordTD_);
    EXPECT_EQ(FPTransferDCOData(panel_, dco_, nullptr), 0) << c.what;
  }
  // A good one again, then without a bound data space.
  SetW(dco_, kDCORecord, kDataSpaceHeaderSize);
  SetW(dco_, kDCORecordTD, recordTD_);
  EXPECT_EQ(FPTransferDCOData(panel_, dco_, nullptr), kDataSpaceHeaderSize + 4);
  SetW(int32(ExtWord(kHeapExtRoot)), kPanelRootDataSpaceWord, 0);
  EXPECT_EQ(FPTransferDCOData(panel_, dco_, nullptr), 0);
  EXPECT_EQ(FPTransferDCOData(panel_, 0, nullptr), 0);
  EXPECT_EQ(FPTransferDCOData(nullptr, dco_, nullptr), 0);
}

// What a top-level run asks of its panel: transfer slots and the blink timer.
class BoundaryTransfer : public FPTransferTest {};

TEST_F(BoundaryTransfer, AControlsValueIsWrittenIntoItsTransferSlot) {
  SetCopy(0, 0x100);
  SetCopy(1, 5);
  SetCopy(4, 9);
  FPUpdateTransferSlot(panel_, dco_);
  EXPECT_EQ(Copy(4), 5);
  EXPECT_EQ(Copy(1), 5) << "the value stays";
  EXPECT_EQ(uInt32(Copy(0)), 0x100u | kDCONewForDiagram);
  // The panel's walk skips a control whose first flag bit is set.
  SetCopy(1, 6);
  SetW(dco_, 0, 1);
  FPUpdateTransferSlots(panel_);
  EXPECT_EQ(Copy(4), 5);
  SetW(dco_, 0, 0);
  FPUpdateTransferSlots(panel_);
  EXPECT_EQ(Copy(4), 6);
  // Anything else: nothing.
  const int32 other = Obj(kClsFrontPanel);
  SetCopy(1, 7);
  FPUpdateTransferSlot(panel_, other);
  FPUpdateTransferSlot(panel_, 0);
  FPUpdateTransferSlot(nullptr, dco_);
  FPUpdateTransferSlots(nullptr);
  EXPECT_EQ(Copy(4), 6);
}

TEST_F(BoundaryTransfer, DataTheDiagramLeftPendingIsNotLostThreads) {
  StartExecThread();
  ASSERT_FALSE(HasFatalFailure());
  SetCopy(0, kDCOTransferPending);
  SetCopy(1, 5);
  SetCopy(4, 9);
  FPUpdateTransferSlot(panel_, dco_);
  EXPECT_EQ(Copy(1), 9) << "the pending data became the value";
  EXPECT_EQ(Copy(4), 9);
  EXPECT_EQ(uInt32(Copy(0)), kDCONewForDiagram) << "new for the diagram";
  StopExecThread();
}

TEST_F(BoundaryTransfer, TheBlinkTimerStartsWhenAPanelBlinks) {
  // Blinking is on while the panel's blink list holds objects.
  const RunCmdHooks saved = RunCmd();
  PanelInstallRunHooks();
  ASSERT_NE(RunCmd().blinkingOn, nullptr);
  EXPECT_EQ(RunCmd().updateTransferSlots, &FPUpdateTransferSlots);
  EXPECT_EQ(RunCmd().blinkStartTimer, &BlinkStartTimer);
  VIRec(vi_)->panelHeap = panel_;
  VIRec(vi_)->viKind = kVIKindDatalog;
  EXPECT_FALSE(HeapHasBlinkers(panel_));
  EXPECT_FALSE(RunCmd().blinkingOn(vi_));
  int32 list = OHNewBlock(panel_, kObjListNewSize, kObjClassList);
  ASSERT_NE(list, 0);
  SetExtWord(kHeapExtBlinkList, uInt32(list));
  EXPECT_FALSE(HeapHasBlinkers(panel_)) << "an empty list";
  ASSERT_EQ(OHListInsert(panel_, &list, dco_, kObjListAppend), kNoErr);
  SetExtWord(kHeapExtBlinkList, uInt32(list));
  EXPECT_TRUE(HeapHasBlinkers(panel_));
  EXPECT_TRUE(RunCmd().blinkingOn(vi_));
  EXPECT_FALSE(RunCmd().blinkingOn(nullptr));
  EXPECT_FALSE(HeapHasBlinkers(nullptr));
  // A VI run again with its panel's objects blinking starts the timer again.
  BlinkInit();
  BlinkAddHeap(panel_);
  RunCmd().blinkStartTimer(1);
  EXPECT_EQ(WKillTimer(kWRootWindow, kBlinkTimerId), 1);
  SetRunCmdHooks(&saved);
}

TEST_F(FPPanelTest, UpdateQueuesCarryTheirSignatureAndListAndGoWithoutATrace) {
  const auto before = Totals();
  const int32 handles = LiveHandleCount();
  void* q = NewUpdateQueue(8);
  ASSERT_NE(q, nullptr);
  const UpdateQueue* u = static_cast<const UpdateQueue*>(q);
  EXPECT_EQ(std::memcmp(&u->signature, "UDQU", 4), 0);
  EXPECT_EQ(u->posted, 0);
  EXPECT_EQ(u->mutex, nullptr);  // no execution threads
  ASSERT_NE(u->entries, nullptr);
  EXPECT_EQ(GetNative32(*u->entries), 8u);
  EXPECT_EQ(GetNative32(*u->entries + 4), 0u);
  EXPECT_EQ(GetNative32(*u->entries + 8), uInt32(kUpdateEntrySize));
  EXPECT_EQ(DSGetHandleSize(u->entries), 12 + 8 * kUpdateEntrySize);
  DisposeUpdateQueue(q);
  EXPECT_EQ(Totals(), before);
  EXPECT_EQ(LiveHandleCount(), handles);
  DisposeUpdateQueue(nullptr);
  // Memory running short at either allocation leaves nothing.
  for (int32 n : {1, 2}) {
    MemFailNthAllocation(n);
    EXPECT_EQ(NewUpdateQueue(4), nullptr) << n;
    MemFailNthAllocation(0);
    EXPECT_EQ(Totals(), before) << n;
  }
}

TEST_F(FPPanelTest, SomethingElseIsNotDisposedAsAnUpdateQueue) {
  UPtr p = DSNewPClr(16);
  ASSERT_NE(p, nullptr);
  std::memcpy(p, "ABCD", 4);
  const int before = Reports("not an update queue");
  DisposeUpdateQueue(p);
  EXPECT_EQ(Reports("not an update queue"), before + 1);
  EXPECT_EQ(std::memcmp(p, "ABCD", 4), 0);
  DSDisposePtr(p);
}

TEST_F(FPPanelTest, WithThreadsAnUpdateQueueHasItsMutex) {
  StartExecThread();
  ASSERT_FALSE(HasFatalFailure());
  void* q = NewUpdateQueue(1);
  ASSERT_NE(q, nullptr);
  EXPECT_NE(static_cast<UpdateQueue*>(q)->mutex, nullptr);
  DisposeUpdateQueue(q);
  StopExecThread();
}

TEST_F(FPPanelTest, GenericListsRefuseBadSizes) {
  EXPECT_EQ(GLNew(-1, 4), nullptr);
  EXPECT_EQ(GLNew(4, 0), nullptr);
  EXPECT_EQ(GLNew(0x10000, 0x10000), nullptr);
  UHandle l = GLNew(0, 4);
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(DSGetHandleSize(l), 12);
  GLDispose(l);
  GLDispose(nullptr);
}

TEST_F(FPPanelTest, ClearingTheClipboardLeavesAnEmptyPanelAndANewDataSpace) {
  // The clipboard VI: a kind-3 VI with a panel and objects on it.
  UHandle clip = NewVICore(kVIKindRoot, reinterpret_cast<ConstPStr>("\011clipboard"), -1);
  ASSERT_NE(clip, nullptr);
  ObjHeap heap = VIRec(clip)->panelHeap;
  ASSERT_NE(heap, nullptr);
  const int32 ext = int32(OHWord(heap, kOHExtension));
  for (int i = 0; i < 5; ++i) ASSERT_NE(vib::NewObject(heap, kClsFPDataController, 40), 0);
  const int32 focus = vib::NewObject(heap, kClsFPDataController, 40);
  PutNative32(*heap + ext + kHeapExtKeyFocus, uInt32(focus));
  PutNative32(*heap + ext + kHeapExtFocusText, 1234);
  const UHandle oldDS = VIRec(clip)->dataSpace;
  ASSERT_NE(oldDS, nullptr);
  SetPanelClipboard(clip);

  // Empty already: nothing happens.
  SetPanelClipboardKind(0);
  ClearPanelClipboard();
  EXPECT_EQ(GetNative32(*heap + ext + kHeapExtKeyFocus), uInt32(focus));

  SetPanelClipboardKind(3);
  ClearPanelClipboard();
  EXPECT_EQ(PanelClipboardKind(), 0);
  // Left: the extension, a root and an empty selection list.
  std::vector<int32> classes;
  OHForEachBlockWith(
      heap,
      [](ObjHeap h, int32 off, void* v) {
        static_cast<std::vector<int32>*>(v)->push_back(ObjClass(h, off));
        return 0;
      },
      &classes);
  std::sort(classes.begin(), classes.end());
  // The root is initialised: its three lists, then the selection list.
  std::vector<int32> expected{kClsObjHeapHdrExtension, kClsFrontPanel, kClsList, kClsList, kClsList, kClsList};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(classes, expected);
  const int32 root = int32(GetNative32(*heap + ext + kHeapExtRoot));
  EXPECT_EQ(ObjClass(heap, root), kClsFrontPanel);
  EXPECT_EQ(ObjClass(heap, int32(GetNative32(*heap + ext + kHeapExtSelection))), kClsList);
  EXPECT_EQ(GetNative32(*heap + ext + kHeapExtKeyFocus), 0u);
  EXPECT_EQ(GetNative32(*heap + ext + kHeapExtFocusText), 0u);
  // A new minimal data space, initialised.
  UHandle ds = VIRec(clip)->dataSpace;
  ASSERT_NE(ds, nullptr);
  EXPECT_EQ(std::memcmp(*ds + 164, "DATA", 4), 0);
  EXPECT_EQ(DSHdr(ds)->size, kDataSpaceHeaderSize);
  SetPanelClipboard(nullptr);
  DisposeVI(clip, 1);
}

}  // namespace
