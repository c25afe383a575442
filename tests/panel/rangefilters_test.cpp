// Range states and reply filters: what the range-check procedure is asked
// and where its answer is kept, the panel's summary for the tool bar, the
// checking bits a state change sets up, and the filters owners run their
// parts' replies through.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "engine/exec/dsprocs.h"
#include "engine/exec/panelplace.h"
#include "engine/vi/panelroutines.h"
#include "panel/datamsg.h"
#include "panel/fpexec.h"
#include "panel/panel_internal.h"
#include "panel/rangecheck.h"
#include "panel/replyfilters.h"
#include "panel/transact.h"
#include "panel_test_support.h"

namespace rangefilters {

using ptest::PanelRootTest;
using ptest::SlotPatch;

struct Check {
  int32 number;
  const void* data;
};
std::vector<Check> gChecks;
std::vector<int32> gOutNumbers;  // the range-check numbers whose values are out of range
int32 CheckRange(DataSpace, int32 number, int32, int32 data) {
  gChecks.push_back({number, reinterpret_cast<const void*>(uintptr_t(uInt32(data)))});
  for (int32 n : gOutNumbers)
    if (n == number) return 4;
  return number == 8 ? 8 : 0;
}
std::vector<std::pair<int32, int32>> gSlots, gSized;
int32 RecordSize(ObjHeap, int32 object, const Rect* rect, int32 partId) {
  gSized.push_back({object, rect ? -1 : partId});
  return 0;
}

class RangeFilters : public PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    if (HasFatalFailure()) return;
    gChecks.clear(), gOutNumbers.clear(), gSlots.clear(), gSized.clear();
    DSProc(DSHdr(DS()), kDSProcChkRange) = reinterpret_cast<void*>(&CheckRange);
    ShowInWindow();
    routines_ = PanelRoutines();
    PanelRoutineHooks h = routines_;
    h.statePnlSlotIcon = [](ObjHeap, int32 slot) { return 100 + slot; };
    SetPanelRoutineHooks(&h);
    VIWindowHooks w{};
    w.drawToolbarSlot = [](UHandle, int32 image, int32 state) { gSlots.push_back({image, state}); };
    SetVIWindowHooks(&w);
  }
  void TearDown() override {
    SetVIWindowHooks(nullptr);
    SetPanelRoutineHooks(&routines_);
    DSProc(DSHdr(DS()), kDSProcChkRange) = nullptr;
    PanelRootTest::TearDown();
  }
  void Range(int32 object, uInt16 word, int16 number = 0) {
    PutNative16(*panel_ + object + kRangeWordByte, word);
    PutNative16(*panel_ + object + kRangeNumberByte, uInt16(number));
  }
  int32 State(int32 object) { return RangeWord(panel_, object) & kRangeStateMask; }
  PanelRoutineHooks routines_{};
};

// The procedure decides: no number or no table is in range without asking
// (the bits cleared), its bits 2-3 are kept as they come, a reply that says
// out of range is believed without asking, and the two states compare.
TEST_F(RangeFilters, TheProcedureDecidesUnlessTheReplyAlreadySays) {
  const int32 n = Obj(kClsNumeric, root_), value = 3;
  struct Case { int16 number; bool table; const void* data; int32 out, state, asked; };
  for (const Case& c : {Case{0, true, &value, 0, 0, 0}, Case{5, false, &value, 0, 0, 0}, Case{5, true, nullptr, 0, 0, 0},
                        Case{5, true, &value, 1, 4, 1}, Case{8, true, &value, 0, 8, 1}, Case{6, true, &value, 0, 0, 1}}) {
    SCOPED_TRACE(c.number);
    Range(n, 0x10C, c.number);
    gOutNumbers = {5}, gChecks.clear();
    SetW(root_, kPanelRootDataSpaceWord, c.table ? int32(uintptr_t(DS())) : 0);
    EXPECT_EQ(SetRangeFlags(panel_, n, c.data), c.out);
    EXPECT_EQ(State(n), c.state);
    ASSERT_EQ(int32(gChecks.size()), c.asked);
    if (c.asked) EXPECT_EQ(gChecks[0].data, c.data);
  }
  SetW(root_, kPanelRootDataSpaceWord, int32(uintptr_t(DS())));
  gChecks.clear();
  Range(n, 0x100, 6);
  EXPECT_EQ(RangeCheckDataReply(panel_, n, &value, 0x1008), 0x1008);
  EXPECT_EQ(State(n), 4);
  EXPECT_TRUE(gChecks.empty()) << "0x1000 marks without asking";
  Range(n, 0x100, 5);
  EXPECT_EQ(RangeCheckDataReply(panel_, n, &value, 0x8), 0x1008);
  EXPECT_EQ(gChecks.size(), 1u);
  for (auto [a, b, r] : {std::tuple{0, 4, 1}, {4, 0, 0}, {0, 0, 2}, {4, 4, 2}, {0xC, 0x104, 1}})
    EXPECT_EQ(CompareRangeState(a, b), r) << a << " " << b;
}

// An element of an array of arrays is checked through the outermost array,
// with the data its controller gives, and the state is kept there.
TEST_F(RangeFilters, AnArrayElementIsCheckedThroughItsOutermostArray) {
  int32 outer = 0;
  const int32 dco = Control(tdb::Array(tdb::Array(tdb::I32())), kClsArray, &outer);
  const int32 inner = Obj(kClsArray, outer, kPartDigital), cell = Obj(kClsNumeric, inner, kPartDigital);
  SetW(inner, kPWDDOTypeId, int32(Type(tdb::Array(tdb::I32()))));
  SetW(cell, kPWDDOTypeId, int32(Type(tdb::I32())));
  SetW(outer, kPWArrayElement, inner), SetW(inner, kPWArrayElement, cell);
  ASSERT_EQ(Alloc(dco), kNoErr);
  SetW(root_, kPanelRootDataSpaceWord, int32(uintptr_t(DS())));
  Range(outer, 0x100, 5), Range(cell, 0x300, 7);
  gOutNumbers = {5};
  EXPECT_EQ(RecheckArrayEltRange(panel_, cell), 1);
  EXPECT_EQ(State(outer), 4);
  EXPECT_EQ(State(cell), 0);
  ASSERT_EQ(gChecks.size(), 1u);
  EXPECT_EQ(gChecks[0].data, reinterpret_cast<const void*>(uintptr_t(uInt32(OGetDataPtr(panel_, dco, 0, 2, nullptr)))));
  Range(cell, 0x100, 7);
  EXPECT_EQ(RecheckArrayEltRange(panel_, cell), 0) << "without 0x200 the element is not re-checked";
  EXPECT_EQ(RecheckArrayEltRange(panel_, outer), 0) << "nor anything that is no element";
}

// The panel's summary: re-checked controllers out of range set 0x40000 for
// an indicator and 0x20000 for a control, and the run slots are redrawn
// (slot 2 in the call chain's state); controllers that do not check count
// for nothing.
TEST_F(RangeFilters, ThePanelSumsItsControllersForTheToolBar) {
  int32 shown[3] = {};
  int32 dco[3] = {};
  for (int32 i = 0; i < 3; ++i) {
    dco[i] = Control(tdb::I32(), kClsNumeric, &shown[i], root_);
    ASSERT_EQ(Alloc(dco[i]), kNoErr);
    Range(shown[i], 0, int16(i + 1));
  }
  SetW(root_, kPanelRootDataSpaceWord, int32(uintptr_t(DS())));
  SetW(root_, 10, vib::NewList(panel_, {dco[0], dco[1], dco[2]}));
  SetW(shown[1], 0, int32(kObjFlagIndicator));
  struct Case { std::vector<int32> out; uInt16 third; int32 result; uInt32 flags; int32 state; };
  for (const Case& c : {Case{{}, 0x100, 0, 0, 0}, Case{{1}, 0x100, 1, 0x20000, 4}, Case{{2}, 0x100, 1, 0x40000, 4},
                        Case{{1, 2}, 0x100, 1, 0x60000, 4}, Case{{3}, 0, 0, 0, 0}}) {
    gOutNumbers = c.out, gSlots.clear();
    for (int32 i = 0; i < 3; ++i) Range(dco[i], i == 2 ? c.third : 0x100);
    EXPECT_EQ(ClusterRangeFlags(panel_, root_, 1), c.result);
    EXPECT_EQ(uInt32(W(root_, 0)) & 0x60000, c.flags);
    EXPECT_EQ(State(root_), c.state);
    EXPECT_EQ(State(dco[0]), c.out.size() && c.out[0] == 1 ? 4 : 0) << "the entry keeps its own state";
    EXPECT_EQ(gSlots, (std::vector<std::pair<int32, int32>>{{101, 0}, {102, 0}}));
  }
}

// A state change sets up the checking bits: the limits every checking
// entry shares, 0x100 when any checks and 0x200 when all go through arrays;
// with the controller flag the VI's panel-binding flag follows; clusters
// are set up innermost first.
TEST_F(RangeFilters, AStateChangeSetsUpTheCheckingBits) {
  int32 shown[2] = {};
  const int32 a = Control(tdb::I32(), kClsNumeric, &shown[0], root_), b = Control(tdb::I32(), kClsNumeric, &shown[1], root_);
  SetW(root_, 10, vib::NewList(panel_, {a, b}));
  VIRecord* vi = VIRec(vi_);
  struct Case { uInt16 a, b; uInt32 flags2; uInt16 word; bool binding; };
  for (const Case& c : {Case{0x1E0, 0x1A4, 0, 0x1A0, true}, Case{0x3E0, 0x320, 0, 0x320, false},
                        Case{0, 0x80, 0, 0xEC, false}, Case{0, 0, 0x20, 0xEC, true}}) {
    Range(a, c.a), Range(b, c.b), Range(root_, 0x30C);
    vi->flags2 = c.flags2, vi->flags = kVIFlagPanelBinding ^ (c.binding ? kVIFlagPanelBinding : 0);
    InitRangeFlags(panel_, root_, 1);
    EXPECT_EQ(RangeWord(panel_, root_), c.word) << std::hex << c.a << " " << c.b;
    EXPECT_EQ((vi->flags & kVIFlagPanelBinding) != 0, c.binding);
  }
  vi->flags2 = 0;
  const int32 outer = Obj(kClsCluster, root_), inner = Obj(kClsCluster, outer), n = Obj(kClsNumeric, inner);
  SetW(outer, 10, vib::NewList(panel_, {inner}));
  SetW(inner, 10, vib::NewList(panel_, {n}));
  Range(n, 0x1C0), Range(a, 0), Range(b, 0);
  InitPanelRangeFlags(panel_);
  EXPECT_EQ(RangeWord(panel_, inner), 0x1C0);
  EXPECT_EQ(RangeWord(panel_, outer), 0x1C0) << "the outer cluster sees its inner one set up";
  EXPECT_EQ(RangeWord(panel_, root_), 0xEC);
}

// The filters: a geometry reply lays the object out around the part (a bad
// part id reported once, the work done anyway), redrawn whole for a keyed
// part, a range-checked object or the keyed Boolean text; scales for their
// own parts; a controller keeps the reply's state and writes its transfer
// slot; a pending array mark turns 0 into 8 once; a front panel's 0x400
// makes the bounds stale.
TEST_F(RangeFilters, FiltersFoldThePartsRepliesIn) {
  static int32 stale = 0;
  stale = 0;
  PanelShellHooks shell{};
  shell.panelInvalBounds = [](ObjHeap) { ++stale; };
  SetPanelShellHooks(shell);
  const SlotPatch sizeN(kClsNumeric, kMsgOSize, &RecordSize), sizeS(kClsScale, kMsgOSize, &RecordSize),
      sizeR(kClsRefNum, kMsgOSize, &RecordSize);
  const int32 n = Obj(kClsNumeric, root_), scale = Obj(kClsScale, root_);
  SetBounds(n, Rect{10, 10, 40, 60}), SetBounds(scale, Rect{50, 10, 70, 90});
  const int32 keyed = Obj(kClsCosmetic, n, 5);
  ObjSetWord(panel_, keyed, kObjPartKey / 4, 31);
  SetBounds(Obj(kClsCosmetic, n), Rect{12, 12, 38, 58});
  const int32 text = Obj(kClsLabel, n, 22);
  ObjSetWord(panel_, text, kObjPartKey / 4, (15 << 16) | 21);
  SetW(text, 0, 0x10);
  struct Case { int32 object, partId, reply; uInt16 range; int32 reports; bool sized, whole; };
  for (const Case& c : {Case{n, 84, 0x80, 0, 1, true, false}, Case{n, 8000, 0x80, 0, 1, true, false},
                        Case{n, 8015, 0x80, 0, 0, true, false}, Case{n, 84, 0x8, 0, 0, false, false},
                        Case{n, 31, 0x80, 0, 0, true, true}, Case{n, 5, 0x80, 0x100, 0, true, true},
                        Case{n, 22, 0x80, 0, 0, true, true}, Case{scale, 40, 0x80, 0, 0, true, true},
                        Case{scale, 5, 0x80, 0, 0, true, false}}) {
    SCOPED_TRACE(c.partId);
    Range(n, c.range);
    ClearReports(), gSized.clear(), TakeInvalid();
    const int32 r = c.object == n ? DDOCheckReply(panel_, n, 0, c.partId, c.reply)
                                  : ScaleCheckReply(panel_, scale, 0, c.partId, c.reply);
    EXPECT_EQ(r, c.reply);
    EXPECT_EQ(Reports("bad partID in DDOCheckReply -- partID"), c.reports);
    EXPECT_EQ(gSized.size(), c.sized ? 1u : 0u);
    if (c.sized) EXPECT_EQ(gSized[0], std::make_pair(c.object, c.partId));
    const Rect invalid = TakeInvalid();
    EXPECT_EQ(!DEmptyRect(&invalid), c.whole);
  }
  EXPECT_EQ(DDOCheckReply(panel_, n, 0, 84, 0), 0);
  // RefNums fit their frame around their object on 0x80 only.
  const int32 ref = Obj(kClsRefNum, root_), inside = Obj(kClsNumeric, ref);
  SetW(ref, kPWRefNumContained, inside);
  SetBounds(inside, Rect{20, 20, 30, 30});
  SetBounds(Obj(kClsCosmetic, ref, 9), Rect{0, 0, 5, 5});
  gSized.clear();
  RefNumCheckReply(panel_, ref, nullptr, 0x8);
  EXPECT_TRUE(gSized.empty());
  RefNumCheckReply(panel_, ref, nullptr, 0x80);
  EXPECT_EQ(gSized, (std::vector<std::pair<int32, int32>>{{ref, 9}}));
  // A controller keeps the reply's state and writes its transfer slot.
  int32 shown = 0;
  const int32 dco = Control(tdb::I32(), kClsNumeric, &shown, root_);
  ASSERT_EQ(Alloc(dco), kNoErr);
  SetW(root_, kPanelRootDataSpaceWord, int32(uintptr_t(DS())));
  VIRec(vi_)->viKind = 1;
  DCORecordPlace at;
  ASSERT_TRUE(FindDCORecord(panel_, dco, &at));
  for (auto [reply, word, transfer] : {std::tuple{0x1008, 0x104, 42}, {0x8, 0x100, 43}, {0x1000, 0x100, 43}}) {
    Range(dco, 0x10C);
    if (reply & 8) PutNative32(*DS() + at.offsets[kRecOperate], uInt32(transfer));
    EXPECT_EQ(DDOCheckReplyRange(panel_, dco, nullptr, reply), reply);
    EXPECT_EQ(RangeWord(panel_, dco), reply & 8 ? word : 0x10C);
    EXPECT_EQ(int32(GetNative32(*DS() + at.offsets[kRecTransfer])), transfer);
  }
  // A pending range mark turns a zero reply into 8, once.
  const int32 arr = Obj(kClsArray, root_);
  SetW(arr, 0, int32(kArrayRangeMarkPending));
  EXPECT_EQ(DDOCheckReplyRangeMark(panel_, arr, nullptr, 0), 0x8);
  EXPECT_EQ(DDOCheckReplyRangeMark(panel_, arr, nullptr, 0), 0);
  // The front panel: 0x400 alone makes the bounds stale, 0x8 does not.
  SetW(root_, 0, 0);
  EXPECT_EQ(DDOCheckReplyData(panel_, root_, root_, 0x8), 0x8);
  EXPECT_EQ(stale, 0);
  EXPECT_EQ(DDOCheckReplyData(panel_, root_, root_, 0x400), 0x400);
  EXPECT_EQ(stale, 1);
  EXPECT_NE(W(root_, 0) & 0x80000, 0);
  SetPanelShellHooks({});
}

}  // namespace rangefilters
