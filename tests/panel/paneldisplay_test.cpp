// The display of a panel object's value: the steps every data display
// object starts with, the port PanelDisplayValues prepares and what it does
// with the reply, and the containers passing the value on (the array's walk
// over its cells read through pixel probes).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/datasupp.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/panelplace.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/dregion.h"
#include "mgsource/memory.h"
#include "mgsource/prefs.h"
#include "panel/methsupport.h"
#include "panel/oinit.h"
#include "panel/paneldisplay.h"
#include "panel/rangecheck.h"
#include "panel/transact.h"
#include "panel_test_support.h"
#include "platform/qx_surface.h"
#include "platform/qx_trace.h"
#include "platform/qx_window.h"

namespace paneldisplay {

using ptest::PanelRootTest;
using ptest::SlotPatch;

// What the recording display methods saw.
struct Shown {
  int32 object;
  const void *old, *value;
  Rect at;
  int32 defer, keep;
  Rect clip;
  int16 first;  // the value's first 16 bits
};
std::vector<Shown> gShown;
int32 gAnswer = 0;
PlatTraceSink* gSink = nullptr;
std::vector<int32> gCountdown;
int32 gChecks = 0, gRangeResult = 0;

void PaintBlack(ObjHeap heap, int32 object) {
  Rect r;
  std::memcpy(&r, *heap + object + kObjBounds, sizeof r);
  DSelectNormPen(0, 0);
  DPaintRect(&r);
}
int32 RecordDisplay(ObjHeap heap, int32 object, const void* old, const void* value) {
  Shown s{object, old, value, {}, gDeferDrawing, RangeWord(heap, object) & kRangeKeepState, {}, 0};
  if (value) std::memcpy(&s.first, value, sizeof s.first);
  std::memcpy(&s.at, *heap + object + kObjBounds, sizeof s.at);
  WGetClipRect(WCurrentPort(), &s.clip);
  gShown.push_back(s);
  if (gSink && gDrawState.dc) PlatSetTraceSink(gDrawState.dc, gSink);
  if (WCurrentPort()) PaintBlack(heap, object);
  return gAnswer;
}
int32 DrawBlack(ObjHeap heap, int32 object, int32, int32, int32) {
  PaintBlack(heap, object);
  return 0;
}
int32 CheckRange(DataSpace, int32, int32, int32) {
  ++gChecks;
  return gRangeResult;
}

class Display : public PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(WInitScreenImage(), kNoErr);
    DInitDraw();
    const Rect place{0, 0, 200, 300};
    window_ = WCreate(0x3C, nullptr, nullptr, &place, 0, 1, 0);
    ASSERT_NE(window_, kWNoWindow);
    Ext(kHeapExtWindow) = uInt32(window_);
    Ext(kHeapExtContentRect) = 0, Ext(kHeapExtContentRect + 4) = (300u << 16) | 200u;
    gShown.clear(), gAnswer = 0, gSink = nullptr, gCountdown.clear(), gChecks = 0, gRangeResult = 0;
    SetPanelDisplayHooks({nullptr, [](int32 ticks) { gCountdown.push_back(ticks); }});
    DSProc(DSHdr(DS()), kDSProcChkRange) = reinterpret_cast<void*>(&CheckRange);
    PlatSurfaceClear(Surface(), 0xFFFFFF);
  }
  void TearDown() override {
    DSProc(DSHdr(DS()), kDSProcChkRange) = nullptr;
    PanelRootTest::TearDown();
    DDisposeDraw();
  }
  uInt32& Ext(int32 at) { return *reinterpret_cast<uInt32*>(*panel_ + OHWord(panel_, kOHExtension) + at); }
  Rect Bounds(int32 object) const {
    Rect r;
    std::memcpy(&r, *panel_ + object + kObjBounds, sizeof r);
    return r;
  }
  PlatSurface* Surface() const { return PlatWindowSurface(WHostWindow(window_)); }
  uInt32 Pixel(int32 h, int32 v) const { return PlatSurfaceGetPixel(Surface(), h, v) & 0xFFFFFF; }
  void SetRangeCheck(int32 object, uInt16 word, int16 number) {
    PutNative16(*panel_ + object + kRangeWordByte, word);
    PutNative16(*panel_ + object + kRangeNumberByte, uInt16(number));
  }
  // A numeric of I32 with a value part (10) and a label (16) apart.
  int32 Numeric(int32 owner = 0) {
    const int32 n = Obj(kClsNumeric, owner);
    SetW(n, kPWDDOTypeId, int32(Type(tdb::I32())));
    SetBounds(n, Rect{10, 10, 30, 50});
    SetBounds(Obj(kClsCosmetic, n, 10), Rect{12, 12, 28, 48});
    SetBounds(Obj(kClsLabel, n, 16), Rect{40, 10, 50, 50});
    return n;
  }
};

// The steps a data display starts with, over (hidden, range checked, state
// known, old value, greyed, deferred): whether the display goes on, its
// reply, what is invalidated (the value parts only) and the switch after.
TEST_F(Display, PrologueHidesComparesChecksTheRangeAndDefers) {
  const SlotPatch frame(kClsMultiCosmetic, kMsgODisplayVal, &RecordDisplay);
  const int32 n = Numeric();
  Obj(kClsMultiCosmetic, n, kPartRangeFrame);
  const int32 value = 5, same = 5, other = 6;
  enum Old { kNone, kSame, kOther };
  struct Case { bool hidden; uInt16 range; Old old; bool greyed, deferred; bool on; int32 reply, checks; bool inval; int32 deferSeen; };
  const Case cases[] = {
      {false, 0, kNone, false, false, true, 0, 0, false, -1},
      {true, 0x100, kNone, false, false, false, 0, 0, false, -1},
      {false, 0, kSame, false, false, false, 0, 0, false, -1},
      {false, 0, kOther, false, false, true, 0, 0, false, -1},
      {false, 0, kOther, true, false, false, 0x20000, 0, true, -1},
      {false, 0, kOther, false, true, false, 0x20000, 0, true, -1},
      {false, 0x100, kNone, false, false, true, 0x1000, 1, false, 0},
      {false, 0x2100, kNone, false, false, true, 0, 0, false, -1},
      {false, 0x100, kOther, true, false, false, 0x21000, 1, true, 1},
      {false, 0x100, kSame, false, false, false, 0x1000, 1, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    SetW(n, 0, (c.hidden ? kObjFlagHidden : 0) | (c.greyed ? kObjFlagGreyed : 0));
    SetRangeCheck(n, c.range, 1);
    gRangeResult = 4, gChecks = 0, gDeferDrawing = c.deferred, gShown.clear();
    TakeInvalid();
    int32 reply = -1;
    const void* old = c.old == kNone ? nullptr : c.old == kSame ? &same : &other;
    EXPECT_EQ(DDODisplayPrologue(panel_, n, old, &value, &reply), c.on);
    EXPECT_EQ(reply, c.reply);
    EXPECT_EQ(gChecks, c.checks);
    EXPECT_EQ(R(TakeInvalid()), c.inval ? R(Rect{12, 12, 28, 48}) : R(Rect{0, 0, 0, 0}));
    EXPECT_EQ(gDeferDrawing, int32(c.deferred)) << "the switch is put back";
    if (c.deferSeen >= 0) {
      ASSERT_EQ(gShown.size(), 1u) << "the range frame shows the state";
      EXPECT_EQ(gShown[0].defer, c.deferSeen);
      EXPECT_EQ(gShown[0].first, 1);
    }
  }
  gDeferDrawing = 0;
  int32 reply = 0;
  EXPECT_FALSE(DDODisplayPrologue(panel_, n, nullptr, nullptr, &reply));
  EXPECT_EQ(Asserts(), 1) << "a missing value is a programming error";
}

// The port and the reply: a panel without a window shows nothing unless it
// always shows its values; the tracked clip is the content's while the
// object displays and the old one after; 0x20000 ends the time slice; the
// flush follows the preference; 0x10 is reported once and the pending
// memory-full state cleared; 0x80 makes the bounds stale.
TEST_F(Display, PanelDisplayValuesPreparesThePortAndActsOnTheReply) {
  const SlotPatch show(kClsNumeric, kMsgODisplayVal, &RecordDisplay);
  static int32 stale = 0;
  stale = 0;
  PanelShellHooks shell{};
  shell.panelInvalBounds = [](ObjHeap) { ++stale; };
  SetPanelShellHooks(shell);
  const int32 n = Numeric(), value = 1;
  Ext(kHeapExtWindow) = 0;
  PanelDisplayValues(panel_, n, nullptr, &value);
  EXPECT_TRUE(gShown.empty()) << "no window: nothing shown";
  OHSetWord(panel_, kOHFlags, OHWord(panel_, kOHFlags) | 0x1000000);
  PanelDisplayValues(panel_, n, nullptr, &value);
  EXPECT_EQ(gShown.size(), 1u) << "a panel that always shows draws into the closed window";
  Ext(kHeapExtWindow) = uInt32(window_);
  const Rect kept{5, 5, 50, 50};
  WPortState port;
  WSetup(window_, &port);
  Rect before;
  WSetClipRect(&kept, &before);
  OHSetWord(panel_, kOHFlags, OHWord(panel_, kOHFlags) | kPanelHeapTracking);
  struct Case { int32 answer, flush, countdowns, flushes, memReports, stale; };
  for (const Case& c : {Case{0, 1, 0, 1, 0, 0}, Case{0x20000, 0, 1, 0, 0, 0}, Case{0x10, 0, 0, 0, 1, 0},
                        Case{0x80, 0, 0, 0, 0, 1}}) {
    SCOPED_TRACE(c.answer);
    PrefSet(kPrefFlushDrawing, c.flush);
    PlatTraceRecorder trace;
    gSink = &trace, gAnswer = c.answer, gShown.clear(), gCountdown.clear(), stale = 0;
    MemFailNthAllocation(1);
    EXPECT_EQ(AZNewHandle(16), nullptr);
    ClearReports();
    EXPECT_EQ(PanelDisplayValues(panel_, n, nullptr, &value), kNoErr);
    ASSERT_EQ(gShown.size(), 1u);
    EXPECT_EQ(R(gShown[0].clip), R(Rect{0, 0, 200, 300})) << "the content while tracking";
    Rect now;
    WGetClipRect(window_, &now);
    EXPECT_EQ(R(now), R(kept)) << "and the tracking code's clip after";
    EXPECT_EQ(gCountdown, std::vector<int32>(size_t(c.countdowns), 0));
    int32 flushes = 0;
    for (const std::string& l : trace.lines) flushes += l == "flush";
    EXPECT_EQ(flushes, c.flushes);
    EXPECT_EQ(Reports("!!! not enough memory for oDisplayVal to complete"), c.memReports);
    EXPECT_EQ(MemFullPending(nullptr), c.memReports ? 0 : 1);
    EXPECT_EQ(stale, c.stale);
    MemFullReset();
  }
  WRestoreClip(&before);
  WRestore(&port);
  PrefSet(kPrefFlushDrawing, PrefDefault(kPrefFlushDrawing));
  SetPanelShellHooks({});
}

// The front panel shows each controller's value (its record plus 12); a
// controller hands its control the record's range state, marking it known
// for that display when it did not change; a cluster passes each element
// its aligned part, and shows nothing for an equal value.
TEST_F(Display, ContainersPassTheirElementsTheirValues) {
  const SlotPatch show(kClsNumeric, kMsgODisplayVal, &RecordDisplay);
  int32 a = 0, c = 0;
  const int32 ca = Control(tdb::I32(), kClsNumeric, &a, root_);
  const int32 cc = Control(tdb::Cluster({tdb::I16(), tdb::DBL()}), kClsCluster, &c, root_);
  const int32 e1 = Numeric(c), e2 = Numeric(c);
  SetW(c, 10, vib::NewList(panel_, {e1, e2}));
  SetBounds(Obj(kClsCosmetic, c, 28), Rect{0, 0, 100, 100});
  SetW(root_, 10, vib::NewList(panel_, {ca, cc}));
  ASSERT_EQ(Alloc(ca), kNoErr);
  ASSERT_EQ(Alloc(cc), kNoErr);
  SetW(root_, kPanelRootDataSpaceWord, int32(uintptr_t(DS())));
  const int32 ra = W(ca, kPWDCORecord), rc = W(cc, kPWDCORecord);
  EXPECT_EQ(oDisplayVal(panel_, root_, 0, &gAnswer), 0);
  ASSERT_EQ(gShown.size(), 3u);
  EXPECT_EQ(gShown[0].object, a);
  EXPECT_EQ(gShown[0].value, *DS() + ra + 12);
  EXPECT_EQ(gShown[1].object, e1);
  EXPECT_EQ(gShown[1].value, *DS() + AlignDatum(TypeIDToTD(panel_, DCOTypeID(panel_, cc)), rc + 12));
  EXPECT_EQ(gShown[2].value, static_cast<const uChar*>(gShown[1].value) + AlignDatum(StdTDTable[kTDDBL], 2))
      << "the double aligned after the i16";
  // The range state of the record's head against the controller's.
  SetRangeCheck(ca, 0x100, 0);
  for (auto [record, kept] : {std::pair{4u, 0}, {4u, 0x2000}, {0u, 0}}) {
    PutNative32(*DS() + ra + 8, record);
    gShown.clear();
    oDisplayVal(panel_, ca, 0, &gAnswer);
    ASSERT_EQ(gShown.size(), 1u);
    EXPECT_EQ(gShown[0].keep, kept) << record;
    EXPECT_EQ(RangeWord(panel_, ca) & 0xC, record);
    EXPECT_EQ(RangeWord(panel_, a) & kRangeKeepState, 0) << "cleared after";
  }
  const int64 v[2] = {7, 0};
  gShown.clear();
  EXPECT_EQ(oDisplayVal(panel_, c, int32(uintptr_t(v)), v), 0);
  EXPECT_TRUE(gShown.empty()) << "an equal value shows nothing";
}

// The array's element walks the 2 x 2 grid from the cell after its own and
// ends on it: cells with data are painted and drawn, cells past the data
// show the default element greyed; a shrinking value greys what it lost;
// wide cells step one pixel more each side; a selected cell gets its edges
// in blue, in black on a black-and-white port.
TEST_F(Display, ArraysWalkTheirCellsPaintingAndGreying) {
  const SlotPatch show(kClsNumeric, kMsgODisplayVal, &RecordDisplay), draw(kClsNumeric, kMsgODraw, &DrawBlack);
  int32 arr = 0;
  const int32 dco = Control(tdb::Array(tdb::I32(), {kTDVariable, kTDVariable}), kClsArray, &arr);
  const int32 elem = Numeric(arr);
  SetW(arr, kPWArrayElement, elem);
  const int32 content = Obj(kClsCosmetic, arr, 28);
  SetBounds(content, Rect{10, 10, 60, 110});
  SetW(content, kObjCosmBack / 4, 0x00FF00);
  SetW(arr, kPWArrayGrid, ArrayCell(1, 1));
  ASSERT_EQ(Alloc(dco), kNoErr);
  SetW(root_, kPanelRootDataSpaceWord, int32(uintptr_t(DS())));
  auto values = [&](int32 rows, int32 columns) {
    int32 sizes[] = {rows, columns};
    int32* sz = sizes;
    UHandle h = nullptr;
    EXPECT_EQ(ArrayResize(StdTDTable[kTDI32], 2, &h, &sz), kNoErr);
    return Keep(h);
  };
  const UHandle two = values(1, 2), four = values(2, 2);
  // Greyed: the pattern shows the background beside the element's black.
  auto look = [&](int32 row, int32 column, int32 pitchV = 20, int32 pitchH = 40) {
    const int32 v = 20 + row * pitchV, h = 30 + column * pitchH;
    const uInt32 p = Pixel(h, v), q = Pixel(h + 1, v);
    return p == 0 && q == 0 ? 'P' : p != q ? 'G' : '?';
  };
  WPortState port;
  WSetup(window_, &port);
  struct Case { UHandle old, now; const char* looks; };
  for (const Case& c : {Case{nullptr, two, "PPGG"}, Case{four, two, "PPGG"}}) {
    PlatSurfaceClear(Surface(), 0xFFFFFF);
    gShown.clear();
    EXPECT_EQ(oDisplayVal(panel_, arr, c.old ? int32(uintptr_t(&c.old)) : 0, &c.now), 0);
    std::string seen = {look(0, 0), look(0, 1), look(1, 0), look(1, 1)};
    EXPECT_EQ(seen, c.looks);
    EXPECT_EQ(R(Bounds(elem)), R(Rect{10, 10, 30, 50})) << "the element ends on its cell";
    EXPECT_EQ(W(arr, kPWArrayShown), 0);
    EXPECT_EQ(gForceDisplay + gDeferDrawing + !gDDODrawEnabled, 0) << "the switches are put back";
  }
  // Wide cells: the pitch grows by two.
  SetW(arr, 0, int32(kArrayWideCells));
  gShown.clear();
  oDisplayVal(panel_, arr, int32(uintptr_t(&four)), &four);
  ASSERT_EQ(gShown.size(), 4u);
  EXPECT_EQ(R(gShown[0].at), R(Rect{10, 52, 30, 92}));
  EXPECT_EQ(R(gShown[1].at), R(Rect{32, 10, 52, 50}));
  // A selected block of the first row: its edges in blue, black at depth 1.
  const int32 priv = W(arr, kPWArrayPrivate);
  for (int32 k : {1, 2}) {
    const UHandle sel = *reinterpret_cast<UHandle*>(*DS() + priv + 4 * k);
    ASSERT_NE(sel, nullptr);
    ASSERT_GE(DSGetHandleSize(sel), 12);
    PutNative32(*sel + 4, k == 1 ? 0 : 1), PutNative32(*sel + 8, k == 1 ? 0 : 2);
  }
  for (bool bw : {false, true}) {
    SetW(arr, 0, int32(kArrayShowsSelection));
    DSetBWDrawing(bw);
    PlatSurfaceClear(Surface(), 0xFFFFFF);
    oDisplayVal(panel_, arr, int32(uintptr_t(&four)), &four);
    EXPECT_EQ(Pixel(10, 20), bw ? 0u : 0x0000FFu) << "the first cell's left edge";
    EXPECT_EQ(Pixel(10, 40), 0u) << "the second row is not selected";
  }
  DSetBWDrawing(0);
  WRestore(&port);
}

}  // namespace paneldisplay
