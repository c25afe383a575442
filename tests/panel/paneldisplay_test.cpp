// A changed value on its way to the screen: the steps every data display
// starts with, the port PanelDisplayValues prepares and what it does with
// the reply, the containers passing values on (the array's walk read
// through pixel probes), range states and the reply filters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <vector>

#include "engine/datasupp.h"
#include "engine/exec/dsprocs.h"
#include "engine/exec/panelplace.h"
#include "engine/vi/panelroutines.h"
#include "mgsource/draw/dregion.h"
#include "mgsource/prefs.h"
#include "panel/datamsg.h"
#include "panel/methsupport.h"
#include "panel/oinit.h"
#include "panel/panel_internal.h"
#include "panel/paneldisplay.h"
#include "panel/rangecheck.h"
#include "panel/replyfilters.h"
#include "panel/transact.h"
#include "panel_test_support.h"
#include "platform/qx_surface.h"
#include "mgsource/draw/dpen.h"
#include "platform/qx_trace.h"
#include "platform/qx_window.h"

namespace paneldisplay {

using ptest::SlotPatch;
typedef std::vector<std::pair<int32, int32>> Pairs;

// What the recording methods saw: each display (the object, its values, its
// place, the deferral switch, its known-state bit, the clip, the value's
// first 16 bits) and each OSize (object, part id); the range checks asked
// (number, data) and the tool-bar slots drawn.
struct Shown {
  int32 object;
  const void *old, *value;
  Rect at;
  int32 defer, keep;
  Rect clip;
  int16 first;
};
std::vector<Shown> gShown;
Pairs gSized, gSlots, gChecks;
std::vector<int32> gOut, gCountdown;  // the range-check numbers out of range; countdown settings
int32 gAnswer = 0;
PlatTraceSink* gSink = nullptr;

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
int32 RecordSize(ObjHeap, int32 object, const Rect* rect, int32 partId) {
  gSized.push_back({object, rect ? -1 : partId});
  return 0;
}
int32 CheckRange(DataSpace, int32 number, int32, int32 data) {
  gChecks.push_back({number, data});
  for (int32 n : gOut)
    if (n == number) return 4;
  return number == 8 ? 8 : 0;
}

class Display : public ptest::PanelRootTest {
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
    Ext(kHeapExtContentRect + 4) = (300u << 16) | 200u;
    gShown.clear(), gSized.clear(), gSlots.clear(), gChecks.clear(), gOut.clear(), gCountdown.clear();
    gAnswer = 0, gSink = nullptr;
    SetPanelDisplayHooks({nullptr, [](int32 ticks) { gCountdown.push_back(ticks); }});
    DSProc(DSHdr(DS()), kDSProcChkRange) = reinterpret_cast<void*>(&CheckRange);
    routines_ = PanelRoutines();
    PanelRoutineHooks h = routines_;
    h.statePnlSlotIcon = [](ObjHeap, int32 slot) { return 100 + slot; };
    SetPanelRoutineHooks(&h);
    VIWindowHooks w{};
    w.drawToolbarSlot = [](UHandle, int32 image, int32 state) { gSlots.push_back({image, state}); };
    SetVIWindowHooks(&w);
    PlatSurfaceClear(Surface(), 0xFFFFFF);
  }
  void TearDown() override {
    SetVIWindowHooks(nullptr);
    SetPanelRoutineHooks(&routines_);
    SetPanelShellHooks({});
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
  void Range(int32 object, uInt16 word, int16 number = 0) {
    PutNative16(*panel_ + object + kRangeWordByte, word);
    PutNative16(*panel_ + object + kRangeNumberByte, uInt16(number));
  }
  int32 State(int32 object) { return RangeWord(panel_, object) & kRangeStateMask; }
  void Bind() { SetW(root_, kPanelRootDataSpaceWord, int32(uintptr_t(DS()))); }
  // A numeric of I32 with a value part (10) and a label (16) apart.
  int32 Numeric(int32 owner = 0) {
    const int32 n = Obj(kClsNumeric, owner);
    SetW(n, kPWDDOTypeId, int32(Type(tdb::I32())));
    SetBounds(n, Rect{10, 10, 30, 50});
    SetBounds(Obj(kClsCosmetic, n, 10), Rect{12, 12, 28, 48});
    SetBounds(Obj(kClsLabel, n, 16), Rect{40, 10, 50, 50});
    return n;
  }
  // Controllers of numerics in the panel's list, their records allocated.
  std::vector<int32> Controllers(int32 count, std::vector<int32>* shown) {
    std::vector<int32> dcos;
    for (int32 i = 0; i < count; ++i) {
      shown->push_back(0);
      dcos.push_back(Control(tdb::I32(), kClsNumeric, &shown->back(), root_));
      EXPECT_EQ(Alloc(dcos.back()), kNoErr);
    }
    SetW(root_, 10, vib::NewList(panel_, dcos));
    Bind();
    return dcos;
  }
  PanelRoutineHooks routines_{};
};

// The first steps over (hidden, range word, old value, greyed, deferred):
// whether the display goes on, its reply, the checks asked, what is
// invalidated (the value parts only), and the range frame shown the state
// with drawing deferred while greyed; the switch is put back.
TEST_F(Display, PrologueHidesComparesChecksTheRangeAndDefers) {
  const SlotPatch frame(kClsMultiCosmetic, kMsgODisplayVal, &RecordDisplay);
  const int32 n = Numeric();
  Obj(kClsMultiCosmetic, n, kPartRangeFrame);
  const int32 value = 5, same = 5, other = 6;
  const void* olds[] = {nullptr, &same, &other};
  struct Case { bool hidden; uInt16 range; int32 old; bool greyed, deferred, on; int32 reply; bool inval; };
  for (const Case& c : {Case{false, 0, 0, false, false, true, 0, false}, Case{true, 0x100, 0, false, false, false, 0, false},
                        Case{false, 0, 1, false, false, false, 0, false}, Case{false, 0, 2, false, false, true, 0, false},
                        Case{false, 0, 2, true, false, false, 0x20000, true}, Case{false, 0, 2, false, true, false, 0x20000, true},
                        Case{false, 0x100, 0, false, false, true, 0x1000, false}, Case{false, 0x2100, 0, false, false, true, 0, false},
                        Case{false, 0x100, 2, true, false, false, 0x21000, true}, Case{false, 0x100, 1, false, false, false, 0x1000, false}}) {
    SCOPED_TRACE(testing::Message() << c.range << " " << c.old << " " << c.greyed << c.deferred);
    SetW(n, 0, (c.hidden ? uInt32(kObjFlagHidden) : 0u) | (c.greyed ? uInt32(kObjFlagGreyed) : 0u));
    Range(n, c.range, 5);
    gOut = {5}, gChecks.clear(), gDeferDrawing = c.deferred, gShown.clear();
    TakeInvalid();
    int32 reply = -1;
    EXPECT_EQ(DDODisplayPrologue(panel_, n, olds[c.old], &value, &reply), c.on);
    EXPECT_EQ(reply, c.reply);
    EXPECT_EQ(R(TakeInvalid()), c.inval ? R(Rect{12, 12, 28, 48}) : R(Rect{0, 0, 0, 0}));
    EXPECT_EQ(gDeferDrawing, int32(c.deferred));
    ASSERT_EQ(gShown.size(), gChecks.size()) << "each check shows the state";
    if (!gShown.empty()) {
      EXPECT_EQ(std::make_pair(gShown[0].first, gShown[0].defer), std::make_pair(int16(1), int32(c.greyed)));
    }
  }
  gDeferDrawing = 0;
  int32 reply = 0;
  EXPECT_FALSE(DDODisplayPrologue(panel_, n, nullptr, nullptr, &reply));
  EXPECT_EQ(Asserts(), 1) << "a missing value is a programming error";
}

// The port and the reply: a windowless panel shows nothing unless it always
// shows its values; the clip is the content's while a frame part is tracked
// and the tracking code's after; 0x20000 ends the time slice; the flush
// follows the preference; 0x10 is reported once and the pending memory-full
// state cleared; 0x80 makes the bounds stale.
TEST_F(Display, PanelDisplayValuesPreparesThePortAndActsOnTheReply) {
  const SlotPatch show(kClsNumeric, kMsgODisplayVal, &RecordDisplay);
  static int32 stale = 0;
  PanelShellHooks shell{};
  shell.panelInvalBounds = [](ObjHeap) { ++stale; };
  SetPanelShellHooks(shell);
  const int32 n = Numeric(), value = 1;
  Ext(kHeapExtWindow) = 0;
  PanelDisplayValues(panel_, n, nullptr, &value);
  EXPECT_TRUE(gShown.empty());
  OHSetWord(panel_, kOHFlags, OHWord(panel_, kOHFlags) | 0x1000000 | kPanelHeapTracking);
  PanelDisplayValues(panel_, n, nullptr, &value);
  EXPECT_EQ(gShown.size(), 1u) << "a panel that always shows draws into the closed window";
  Ext(kHeapExtWindow) = uInt32(window_);
  const Rect kept{5, 5, 50, 50};
  WPortState port;
  WSetup(window_, &port);
  Rect before;
  WSetClipRect(&kept, &before);
  for (auto [answer, flush, countdowns, memReports, stales] :
       {std::tuple{0, 1, 0, 0, 0}, {0x20000, 0, 1, 0, 0}, {0x10, 0, 0, 1, 0}, {0x80, 0, 0, 0, 1}}) {
    SCOPED_TRACE(answer);
    PrefSet(kPrefFlushDrawing, flush);
    PlatTraceRecorder trace;
    gSink = &trace, gAnswer = answer, gShown.clear(), gCountdown.clear(), stale = 0;
    MemFailNthAllocation(1);
    EXPECT_EQ(AZNewHandle(16), nullptr);
    ClearReports();
    EXPECT_EQ(PanelDisplayValues(panel_, n, nullptr, &value), kNoErr);
    ASSERT_EQ(gShown.size(), 1u);
    EXPECT_EQ(R(gShown[0].clip), R(Rect{0, 0, 200, 300}));
    Rect now;
    WGetClipRect(window_, &now);
    EXPECT_EQ(R(now), R(kept));
    EXPECT_EQ(gCountdown, std::vector<int32>(size_t(countdowns), 0));
    EXPECT_EQ(std::count(trace.lines.begin(), trace.lines.end(), "flush"), flush);
    EXPECT_EQ(Reports("!!! not enough memory for oDisplayVal to complete"), memReports);
    EXPECT_EQ(MemFullPending(nullptr), memReports ? 0 : 1);
    EXPECT_EQ(stale, stales);
    MemFullReset();
  }
  WRestoreClip(&before);
  WRestore(&port);
  PrefSet(kPrefFlushDrawing, PrefDefault(kPrefFlushDrawing));
}

// The front panel shows each controller's value (its record plus 12); a
// controller hands its control the record's range state, marked known for
// the display when it did not change; a cluster passes each element its
// aligned part and shows nothing for an equal value.
TEST_F(Display, ContainersPassTheirElementsTheirValues) {
  const SlotPatch show(kClsNumeric, kMsgODisplayVal, &RecordDisplay);
  int32 a = 0, c = 0;
  const int32 ca = Control(tdb::I32(), kClsNumeric, &a, root_);
  const int32 cc = Control(tdb::Cluster({tdb::I16(), tdb::DBL()}), kClsCluster, &c, root_);
  SetW(c, 10, vib::NewList(panel_, {Numeric(c), Numeric(c)}));
  SetBounds(Obj(kClsCosmetic, c, 28), Rect{0, 0, 100, 100});
  SetW(root_, 10, vib::NewList(panel_, {ca, cc}));
  ASSERT_EQ(Alloc(ca), kNoErr);
  ASSERT_EQ(Alloc(cc), kNoErr);
  Bind();
  const int32 ra = W(ca, kPWDCORecord);
  EXPECT_EQ(oDisplayVal(panel_, root_, 0, &gAnswer), 0);
  ASSERT_EQ(gShown.size(), 3u);
  EXPECT_EQ(gShown[0].value, *DS() + ra + 12);
  EXPECT_EQ(gShown[1].value, *DS() + AlignDatum(TypeIDToTD(panel_, DCOTypeID(panel_, cc)), W(cc, kPWDCORecord) + 12));
  EXPECT_EQ(gShown[2].value, static_cast<const uChar*>(gShown[1].value) + AlignDatum(StdTDTable[kTDDBL], 2));
  Range(ca, 0x100);
  for (auto [record, kept] : {std::pair{4u, 0}, {4u, 0x2000}, {0u, 0}}) {
    PutNative32(*DS() + ra + 8, record);
    gShown.clear();
    oDisplayVal(panel_, ca, 0, &gAnswer);
    ASSERT_EQ(gShown.size(), 1u);
    EXPECT_EQ(gShown[0].keep, kept) << record;
    EXPECT_EQ(State(ca), int32(record));
    EXPECT_EQ(RangeWord(panel_, a) & kRangeKeepState, 0);
  }
  const int64 v[2] = {7, 0};
  gShown.clear();
  EXPECT_EQ(oDisplayVal(panel_, c, int32(uintptr_t(v)), v), 0);
  EXPECT_TRUE(gShown.empty());
}

// The array's element walks the 2 x 2 grid from the cell after its own and
// ends on it: cells with data painted and drawn, cells past the data the
// default element greyed; a shrinking value greys what it lost; wide cells
// step one pixel more each side; a selected cell's edges are blue, black on
// a black-and-white port.
TEST_F(Display, ArraysWalkTheirCellsPaintingAndGreying) {
  const SlotPatch show(kClsNumeric, kMsgODisplayVal, &RecordDisplay), draw(kClsNumeric, kMsgODraw, &DrawBlack);
  int32 arr = 0;
  const int32 dco = Control(tdb::Array(tdb::I32(), {kTDVariable, kTDVariable}), kClsArray, &arr);
  const int32 elem = Numeric(arr), content = Obj(kClsCosmetic, arr, 28);
  SetW(arr, kPWArrayElement, elem);
  SetBounds(content, Rect{10, 10, 60, 110});
  SetW(content, kObjCosmBack / 4, 0x00FF00);
  SetW(arr, kPWArrayGrid, ArrayCell(1, 1));
  ASSERT_EQ(Alloc(dco), kNoErr);
  Bind();
  auto values = [&](int32 rows, int32 columns) {
    int32 sizes[] = {rows, columns}, *sz = sizes;
    UHandle h = nullptr;
    EXPECT_EQ(ArrayResize(StdTDTable[kTDI32], 2, &h, &sz), kNoErr);
    return Keep(h);
  };
  const UHandle two = values(1, 2), four = values(2, 2);
  // P: the element's black alone; G: the grey pattern over it.
  auto look = [&](int32 row, int32 column) {
    const uInt32 p = Pixel(30 + column * 40, 20 + row * 20), q = Pixel(31 + column * 40, 20 + row * 20);
    return p == 0 && q == 0 ? 'P' : p != q ? 'G' : '?';
  };
  WPortState port;
  WSetup(window_, &port);
  for (const UHandle* old : {static_cast<const UHandle*>(nullptr), &four}) {
    PlatSurfaceClear(Surface(), 0xFFFFFF);
    EXPECT_EQ(oDisplayVal(panel_, arr, int32(uintptr_t(old)), &two), 0);
    EXPECT_EQ(std::string({look(0, 0), look(0, 1), look(1, 0), look(1, 1)}), "PPGG");
    EXPECT_EQ(R(Bounds(elem)), R(Rect{10, 10, 30, 50})) << "the element ends on its cell";
    EXPECT_EQ(gForceDisplay + gDeferDrawing + !gDDODrawEnabled, 0);
  }
  SetW(arr, 0, int32(kArrayWideCells));
  gShown.clear();
  oDisplayVal(panel_, arr, int32(uintptr_t(&four)), &four);
  ASSERT_EQ(gShown.size(), 4u);
  EXPECT_EQ(R(gShown[0].at), R(Rect{10, 52, 30, 92}));
  EXPECT_EQ(R(gShown[1].at), R(Rect{32, 10, 52, 50}));
  // The first row selected: start (0, 0), end (1, 2).
  for (int32 k : {1, 2}) {
    const UHandle sel = *reinterpret_cast<UHandle*>(*DS() + W(arr, kPWArrayPrivate) + 4 * k);
    ASSERT_TRUE(sel && DSGetHandleSize(sel) >= 12);
    PutNative32(*sel + 4, k - 1), PutNative32(*sel + 8, 2 * (k - 1));
  }
  SetW(arr, 0, int32(kArrayShowsSelection));
  for (bool bw : {false, true}) {
    DSetBWDrawing(bw);
    oDisplayVal(panel_, arr, int32(uintptr_t(&four)), &four);
    EXPECT_EQ(Pixel(10, 20), bw ? 0u : 0x0000FFu);
  }
  DSetBWDrawing(0);
  WRestore(&port);
}

// The procedure decides: without a number or a table the value is in range
// (the bits cleared) and nothing is asked; its bits 2-3 are kept as they
// come; a reply that says out of range is believed without asking; an
// array element is checked through its outermost array with the data its
// controller gives; states compare.
TEST_F(Display, TheRangeProcedureDecidesWhereTheReplyDoesNot) {
  const int32 n = Obj(kClsNumeric, root_), value = 3;
  for (auto [number, table, data, out, state] : {std::tuple{0, true, true, 0, 0}, {5, false, true, 0, 0},
                                                 {5, true, false, 0, 0}, {5, true, true, 1, 4}, {8, true, true, 0, 8}}) {
    Range(n, 0x10C, int16(number));
    gOut = {5}, gChecks.clear();
    SetW(root_, kPanelRootDataSpaceWord, table ? int32(uintptr_t(DS())) : 0);
    EXPECT_EQ(SetRangeFlags(panel_, n, data ? &value : nullptr), out) << number;
    EXPECT_EQ(State(n), state) << number;
    EXPECT_EQ(gChecks, (number && table && data ? Pairs{{number, int32(uintptr_t(&value))}} : Pairs{}));
  }
  Bind();
  Range(n, 0x100, 5), gChecks.clear();
  EXPECT_EQ(RangeCheckDataReply(panel_, n, &value, 0x1008), 0x1008);
  EXPECT_EQ(State(n), 4);
  EXPECT_TRUE(gChecks.empty());
  EXPECT_EQ(RangeCheckDataReply(panel_, n, &value, 0x8), 0x1008);
  for (auto [a, b, r] : {std::tuple{0, 4, 1}, {4, 0, 0}, {0, 0, 2}, {4, 4, 2}, {0xC, 0x104, 1}})
    EXPECT_EQ(CompareRangeState(a, b), r) << a << " " << b;
  int32 outer = 0;
  const int32 dco = Control(tdb::Array(tdb::Array(tdb::I32())), kClsArray, &outer);
  const int32 inner = Obj(kClsArray, outer, kPartDigital), cell = Obj(kClsNumeric, inner, kPartDigital);
  SetW(inner, kPWDDOTypeId, int32(Type(tdb::Array(tdb::I32())))), SetW(cell, kPWDDOTypeId, int32(Type(tdb::I32())));
  SetW(outer, kPWArrayElement, inner), SetW(inner, kPWArrayElement, cell);
  ASSERT_EQ(Alloc(dco), kNoErr);
  Bind();
  Range(outer, 0x100, 5), Range(cell, 0x300, 7), gChecks.clear();
  EXPECT_EQ(RecheckArrayEltRange(panel_, cell), 1);
  EXPECT_EQ(std::make_pair(State(outer), State(cell)), std::make_pair(4, 0));
  EXPECT_EQ(gChecks, (Pairs{{5, OGetDataPtr(panel_, dco, 0, 2, nullptr)}}));
  Range(cell, 0x100, 7);
  EXPECT_EQ(RecheckArrayEltRange(panel_, cell) + RecheckArrayEltRange(panel_, outer), 0) << "neither is re-checked";
}

// The panel's summary: re-checked controllers out of range set 0x40000 for
// an indicator and 0x20000 for a control and the run slots are redrawn; a
// state change sets up the checking bits: the limits every checking entry
// shares, 0x100 when any checks, 0x200 when all go through arrays, the VI's
// panel binding with the controller flag, clusters innermost first.
TEST_F(Display, ThePanelSumsItsControllersAndSetsUpTheirChecking) {
  std::vector<int32> shown;
  const std::vector<int32> dco = Controllers(3, &shown);
  for (int32 i = 0; i < 3; ++i) Range(shown[size_t(i)], 0, int16(i + 1));
  SetW(shown[1], 0, int32(kObjFlagIndicator));
  for (auto [out, third, result, flags] : {std::tuple{std::vector<int32>{}, 0x100, 0, 0u}, {{1}, 0x100, 1, 0x20000u},
                                           {{2}, 0x100, 1, 0x40000u}, {{1, 2}, 0x100, 1, 0x60000u}, {{3}, 0, 0, 0u}}) {
    gOut = out, gSlots.clear();
    Range(dco[0], 0x100), Range(dco[1], 0x100), Range(dco[2], uInt16(third));
    EXPECT_EQ(ClusterRangeFlags(panel_, root_, 1), result);
    EXPECT_EQ(uInt32(W(root_, 0)) & 0x60000, flags);
    EXPECT_EQ(std::make_pair(State(root_), State(dco[0])), std::make_pair(result ? 4 : 0, out.size() && out[0] == 1 ? 4 : 0));
    EXPECT_EQ(gSlots, (Pairs{{101, 0}, {102, 0}}));
  }
  VIRecord* vi = VIRec(vi_);
  for (auto [a, b, flags2, word, binding] : {std::tuple{0x1E0, 0x1A4, 0u, 0x1A0, true}, {0x3E0, 0x320, 0u, 0x320, false},
                                             {0, 0x80, 0u, 0xEC, false}, {0, 0, 0x20u, 0xEC, true}}) {
    Range(dco[0], uInt16(a)), Range(dco[1], uInt16(b)), Range(dco[2], 0), Range(root_, 0x30C);
    vi->flags2 = flags2, vi->flags = binding ? 0u : uInt32(kVIFlagPanelBinding);
    InitRangeFlags(panel_, root_, 1);
    EXPECT_EQ(RangeWord(panel_, root_), word) << a << " " << b;
    EXPECT_EQ((vi->flags & kVIFlagPanelBinding) != 0, binding);
  }
  vi->flags2 = 0;
  const int32 outer = Obj(kClsCluster, root_), inner = Obj(kClsCluster, outer), n = Obj(kClsNumeric, inner);
  SetW(outer, 10, vib::NewList(panel_, {inner})), SetW(inner, 10, vib::NewList(panel_, {n}));
  Range(n, 0x1C0), Range(dco[0], 0), Range(dco[1], 0);
  InitPanelRangeFlags(panel_);
  EXPECT_EQ(std::make_pair(RangeWord(panel_, inner), RangeWord(panel_, outer)), std::make_pair(uInt16(0x1C0), uInt16(0x1C0)));
}

// The filters: a geometry reply lays the object out around the part (a bad
// part id reported once, the work done anyway), redrawn whole for a keyed
// part, a range-checked object or the keyed Boolean text, scales for their
// own parts; refnums fit their frame; a controller keeps the reply's state
// and writes its transfer slot; a pending array mark turns 0 into 8 once; a
// front panel's 0x400 makes the bounds stale.
TEST_F(Display, FiltersFoldThePartsRepliesIn) {
  static int32 stale = 0;
  PanelShellHooks shell{};
  shell.panelInvalBounds = [](ObjHeap) { ++stale; };
  SetPanelShellHooks(shell);
  const SlotPatch sizeN(kClsNumeric, kMsgOSize, &RecordSize), sizeS(kClsScale, kMsgOSize, &RecordSize),
      sizeR(kClsRefNum, kMsgOSize, &RecordSize);
  const int32 n = Numeric(root_), scale = Obj(kClsScale, root_), text = Obj(kClsLabel, n, 22);
  SetBounds(scale, Rect{50, 10, 70, 90});
  ObjSetWord(panel_, Obj(kClsCosmetic, n, 5), kObjPartKey / 4, 31);
  ObjSetWord(panel_, text, kObjPartKey / 4, (15 << 16) | 21);
  SetW(text, 0, 0x10);
  for (auto [object, partId, reply, range, reports, whole] :
       {std::tuple{n, 84, 0x80, 0, 1, false}, {n, 8000, 0x80, 0, 1, false}, {n, 8015, 0x80, 0, 0, false},
        {n, 84, 0x8, 0, 0, false}, {n, 31, 0x80, 0, 0, true}, {n, 5, 0x80, 0x100, 0, true}, {n, 22, 0x80, 0, 0, true},
        {scale, 40, 0x80, 0, 0, true}, {scale, 5, 0x80, 0, 0, false}}) {
    SCOPED_TRACE(partId);
    Range(n, uInt16(range));
    ClearReports(), gSized.clear(), TakeInvalid();
    EXPECT_EQ(object == n ? DDOCheckReply(panel_, n, 0, partId, reply) : ScaleCheckReply(panel_, scale, 0, partId, reply),
              reply);
    EXPECT_EQ(Reports("bad partID in DDOCheckReply -- partID"), reports);
    EXPECT_EQ(gSized, (reply & 0x80 ? Pairs{{object, partId}} : Pairs{}));
    const Rect invalid = TakeInvalid();
    EXPECT_EQ(!DEmptyRect(&invalid), whole);
  }
  const int32 ref = Obj(kClsRefNum, root_), inside = Obj(kClsNumeric, ref);
  SetW(ref, kPWRefNumContained, inside);
  SetBounds(inside, Rect{20, 20, 30, 30}), SetBounds(Obj(kClsCosmetic, ref, 9), Rect{0, 0, 5, 5});
  gSized.clear();
  RefNumCheckReply(panel_, ref, nullptr, 0x8);
  RefNumCheckReply(panel_, ref, nullptr, 0x80);
  EXPECT_EQ(gSized, (Pairs{{ref, 9}}));
  std::vector<int32> shown;
  const int32 dco = Controllers(1, &shown)[0];
  VIRec(vi_)->viKind = 1;
  DCORecordPlace at;
  ASSERT_TRUE(FindDCORecord(panel_, dco, &at));
  for (auto [reply, word, transfer] : {std::tuple{0x1008, 0x104, 42}, {0x8, 0x100, 43}, {0x1000, 0x10C, 43}}) {
    Range(dco, 0x10C);
    if (reply & 8) PutNative32(*DS() + at.offsets[kRecOperate], uInt32(transfer));
    EXPECT_EQ(DDOCheckReplyRange(panel_, dco, nullptr, reply), reply);
    EXPECT_EQ(RangeWord(panel_, dco), word);
    EXPECT_EQ(int32(GetNative32(*DS() + at.offsets[kRecTransfer])), transfer);
  }
  const int32 arr = Obj(kClsArray, root_);
  SetW(arr, 0, int32(kArrayRangeMarkPending));
  EXPECT_EQ(DDOCheckReplyRangeMark(panel_, arr, nullptr, 0) + DDOCheckReplyRangeMark(panel_, arr, nullptr, 0), 0x8);
  stale = 0;
  SetW(root_, 0, 0);
  EXPECT_EQ(DDOCheckReplyData(panel_, root_, root_, 0x8) + DDOCheckReplyData(panel_, root_, root_, 0x400), 0x408);
  EXPECT_EQ(std::make_pair(stale, W(root_, 0) & 0x80000), std::make_pair(1, 0x80000));
}

}  // namespace paneldisplay
