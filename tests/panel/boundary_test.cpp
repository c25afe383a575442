// What loading a VI's panel asks of the object system: the transaction
// stack's push, the path written for an object that takes property calls,
// the actions the panel's root hands its objects, the undo records and the
// blink count of a loaded heap, and the hooks the loader is given.
#include <gtest/gtest.h>

#include "engine/vi/viload.h"
#include "mgsource/byteorder.h"
#include "engine/vi/viload_internal.h"
#include "panel/blink.h"
#include "panel/fppanel.h"
#include "panel/objects.h"
#include "panel_test_support.h"

static bool operator==(const TransactionFrame& a, const TransactionFrame& b) {
  return a.object == b.object && a.kind == b.kind && a.mode == b.mode && a.index == b.index;
}

namespace {

class LoadBoundary : public ptest::PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    if (!TRStackBlock()) TRInit();
    TRSetStackTop(nullptr);
    root_ = vib::NewObject(panel_, kClsFrontPanel, 76);
    SetExt(kHeapExtRoot, root_);
    qxtest::Reports::Get().Clear();
  }
  void TearDown() override {
    TRSetStackTop(nullptr);
    PanelTest::TearDown();
  }
  void SetExt(int32 at, int32 v) { PutNative32(*panel_ + OHWord(panel_, kOHExtension) + at, uInt32(v)); }
  int32 Ext(int32 at) { return int32(GetNative32(*panel_ + OHWord(panel_, kOHExtension) + at)); }
  static std::vector<TransactionFrame> Path() {
    std::vector<TransactionFrame> p;
    for (auto* f = static_cast<TransactionFrame*>(TRStackTop()); f->kind; ++f) p.push_back(*f);
    return p;
  }
  int32 root_ = 0;
};

TEST_F(LoadBoundary, PushedPathsFollowEachOther) {
  auto* base = reinterpret_cast<TransactionFrame*>(TRStackBlock());
  EXPECT_EQ(TRPushFrame(), nullptr) << "nothing pushed before";
  EXPECT_EQ(TRStackTop(), base);
  base[0] = {root_, kCatFPSC, 2, 0};
  base[1] = {9, kCatDDO, 2, 0};
  base[2].kind = 0;
  EXPECT_EQ(TRPushFrame(), base);
  EXPECT_EQ(TRStackTop(), base + 3) << "after the end of the path at the top";
  TRSetStackTop(base);
  EXPECT_EQ(Path().size(), 2u);
}

TEST_F(LoadBoundary, GetObjAttrRecWritesThePathFromTheRoot) {
  const int32 cluster = vib::NewObject(panel_, kClsCluster, 60, root_);
  const int32 numeric = vib::NewObject(panel_, kClsNumeric, 52, cluster);
  const int32 cosmetic = vib::NewObject(panel_, kClsCosmetic, 36, root_);
  const int32 list = vib::NewObject(panel_, kClsList, 16, root_);
  ObjSetWord(panel_, cluster, 11, vib::NewList(panel_, {numeric}));  // an element of the cluster
  ObjSetWord(panel_, cluster, 0, 0x80);  // a greyed owner
  ObjSetWord(panel_, numeric, 0, 0x8);   // a hidden object
  struct Case {
    const char* what;
    int32 object;
    int32 answer, hidden, greyed;
    std::vector<TransactionFrame> path;
  } cases[] = {
      {"the root", root_, 1, 0, 0, {{root_, kCatFPSC, 2, 0}}},
      {"a cosmetic", cosmetic, 1, 0, 0, {{root_, kCatFPSC, 1, 1}, {cosmetic, kCatCOSM, 2, 0}}},
      {"a numeric in a cluster", numeric, 1, 1, 1,
       {{root_, kCatFPSC, 1, 0}, {cluster, kCatDDO, 1, 0}, {numeric, kCatDDO, 2, 0}}},
      {"a list", list, 0, 0, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    void* previous = TRPushFrame();
    static_cast<TransactionFrame*>(TRStackTop())->kind = 0;
    int32 hidden = -1, greyed = -1;
    EXPECT_EQ(GetObjAttrRec(panel_, c.object, &hidden, &greyed), c.answer);
    EXPECT_EQ(hidden, c.hidden);
    EXPECT_EQ(greyed, c.greyed);
    EXPECT_EQ(Path(), c.path);
    TRSetStackTop(previous);
  }
  // Another kind of heap is refused with a report.
  ObjHeap other = OHNewHeap(256, FourCC("LKHP"), kHeapExtensionSize, kClsObjHeapHdrExtension);
  const int32 obj = vib::NewObject(other, kClsNumeric, 52);
  EXPECT_EQ(GetObjAttrRec(other, obj, nullptr, nullptr), 0);
  EXPECT_EQ(qxtest::Reports::Get().Count("not a front-panel heap"), 1);
  OHDisposeHeap(other);
}

TEST_F(LoadBoundary, TheRootHandsLoadActionsToItsObjects) {
  vib::NewObject(panel_, kClsTable, 52, root_);  // its operate do-it is not built
  vib::NewObject(panel_, kClsCosmetic, 36, root_);
  vib::NewObject(panel_, kClsList, 16, root_);
  for (int32 action : {55, 21}) {
    SCOPED_TRACE(action);
    qxtest::Reports::Get().Clear();
    void* previous = TRPushFrame();
    ASSERT_EQ(GetObjAttrRec(panel_, root_, nullptr, nullptr), 1);
    int32 result = -1;
    ODoit(panel_, root_, TRStackTop(), action, &result);
    TRSetStackTop(previous);
    EXPECT_EQ(qxtest::Reports::Get().Count("ErrorMethod"), 0);
    EXPECT_EQ(result, 0);
  }
}

// The selection message: the root sends its code to its data controllers
// only (top-level objects that are no controllers get nothing); a class
// without a selection method takes none.
TEST_F(LoadBoundary, TheRootsSelectionGoesToItsControllersOnly) {
  vib::NewObject(panel_, kClsTable, 52, root_);  // its operate do-it is not built
  vib::NewObject(panel_, kClsCosmetic, 36, root_);
  // A list takes no selection message: it holds ErrorMethod there.
  const int32 list = vib::NewList(panel_, {});
  struct Case {
    int32 object, action, reports;
  } cases[] = {{root_, 55, 0}, {root_, 15, 0}, {list, 55, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action);
    qxtest::Reports::Get().Clear();
    int32 result = -1;
    PanelActionRecord rec{TRStackTop(), c.action, &result};
    OSelect(panel_, c.object, &rec);
    EXPECT_EQ(qxtest::Reports::Get().Count("ErrorMethod"), c.reports);
    if (c.object == root_) {
      EXPECT_EQ(result, 0);
    }
  }
}

TEST_F(LoadBoundary, UndoRecordsAndBlinkCountOfALoadedHeap) {
  SetExt(kHeapExtUndo28, 5);
  SetExt(kHeapExtUndo31, 7);
  ClearUndoRecords(panel_);
  for (int32 at : {kHeapExtUndo28, kHeapExtUndo30, kHeapExtUndo31}) EXPECT_EQ(Ext(at), 0) << at;
  EXPECT_EQ(qxtest::Reports::Get().Count("undo record is set"), 1);

  BlinkInit();
  const int32 list = vib::NewList(panel_, {root_, root_, root_});
  struct Case {
    const char* what;
    int32 listWord;
    int32 added;
  } cases[] = {{"a list of three", list, 3}, {"no list", 0, 0}, {"an offset past the heap", 0x7FFFFF00, 0},
               {"an offset naming no list", root_, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetExt(kHeapExtBlinkList, c.listWord);
    const int32 before = BlinkState().count;
    BlinkAddHeap(panel_);
    EXPECT_EQ(BlinkState().count - before, c.added);
  }
}

// The fix-up after a panel loads empties the selection when it has work to
// do, and restores what it borrowed; an object is selected once.
TEST_F(LoadBoundary, ThePanelFixUpEmptiesTheSelection) {
  const int32 a = vib::NewObject(panel_, kClsNumeric, 52, root_);
  const int32 b = vib::NewObject(panel_, kClsCosmetic, 36, root_);
  struct Case {
    const char* what;
    uInt32 heapFlags;
    bool selectionNamesAList;
    int32 selectedAfter;
    uInt32 heapFlagsAfter;
  } cases[] = {
      {"a substituted font", kHeapFlagFontSubstituted, true, 0, 0},
      {"a stored fix-up flag", kHeapFlagStoredFixup, true, 0, kHeapFlagStoredFixup},
      {"nothing to fix", 0, true, 2, 0},
      {"a selection word naming no list", kHeapFlagFontSubstituted, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    qxtest::Reports::Get().Clear();
    SetExt(kHeapExtSelection, 0);
    for (int32 o : {a, b, a}) ASSERT_EQ(FPSelectObject(panel_, o), kNoErr);
    ASSERT_EQ(FPSelectionCount(panel_), 2) << "an object is selected once";
    if (!c.selectionNamesAList) SetExt(kHeapExtSelection, a);
    OHSetWord(panel_, kOHFlags, (OHWord(panel_, kOHFlags) & ~(kHeapFlagFontSubstituted | kHeapFlagStoredFixup)) |
                                    c.heapFlags);
    VIRec(vi_)->modFlags = 0x55;
    VIRec(vi_)->flags &= ~kVIFlagLoading;
    EXPECT_EQ(PanelPostLoadFixup(vi_), kNoErr);
    EXPECT_EQ(FPSelectionCount(panel_), c.selectionNamesAList ? c.selectedAfter : 0);
    EXPECT_EQ(OHWord(panel_, kOHFlags) & (kHeapFlagFontSubstituted | kHeapFlagStoredFixup), c.heapFlagsAfter);
    EXPECT_EQ(VIRec(vi_)->modFlags, 0x55u);
    EXPECT_EQ(VIRec(vi_)->flags & kVIFlagLoading, 0u) << "clear before, clear after";
    EXPECT_EQ(qxtest::Reports::Get().Count("has flag 0x2000000"), c.heapFlags == kHeapFlagStoredFixup ? 1 : 0);
  }
  SetExt(kHeapExtSelection, 0);
  EXPECT_EQ(FPSelectObject(panel_, 0), kArgErr);
  EXPECT_EQ(FPSelectionCount(panel_), 0);
}

TEST_F(LoadBoundary, TheLoaderIsGivenThePanelServices) {
  const VILoadPanelHooks& h = VILoadPanel();
  EXPECT_EQ(h.setBadClassHook, &SetBadClassHook);
  EXPECT_EQ(h.clearBadClassHook, &ClearBadClassHook);
  EXPECT_EQ(h.clearUndoRecords, &ClearUndoRecords);
  EXPECT_EQ(h.trPushFrame, &TRPushFrame);
  EXPECT_EQ(h.trSetStackTop, &TRSetStackTop);
  EXPECT_EQ(h.oDoit, &ODoit);
  EXPECT_EQ(h.getObjAttrRec, &GetObjAttrRec);
  EXPECT_EQ(h.blinkAddHeap, &BlinkAddHeap);
  EXPECT_EQ(h.emptySelection, &FPEmptySelection);
  EXPECT_NE(h.clearImageTable, nullptr);
}

}  // namespace
