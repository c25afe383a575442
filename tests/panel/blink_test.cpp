// Blinking panel objects: one timer for every panel, the property setter,
// the classes' blink looks and the draw states the draw code is given.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "draw_start.h"
#include "mgsource/objlist.h"
#include "mgsource/prefs.h"
#include "mgsource/window/mainloop.h"
#include "panel/blink.h"
#include "panel/osupport.h"
#include "panel/textparts.h"
#include "panel/valuedraw.h"
#include "panel_test_support.h"

namespace {

std::vector<std::string> gControlCalls;
int32 Note(const std::string& s) { return gControlCalls.push_back(s), 0; }

// Invalidation requests counted on their way to the classes' own methods
// (the requests those methods pass on to parts are not counted).
int32 gInvals = 0, gInvalDepth = 0;
ObjMethodAddr gSavedInval[kClassIdCount];
void CountInval(ObjHeap heap, int32 object, int32 level) {
  if (gInvalDepth++ == 0) ++gInvals;
  reinterpret_cast<void (*)(ObjHeap, int32, int32)>(gSavedInval[ObjClass(heap, object)])(heap, object, level);
  --gInvalDepth;
}
int32 OInvalCount() { return gInvals; }
void SwapInvalMethods(bool counting) {
  for (int32 id = 0; id < kClassIdCount; ++id) {
    auto* r = const_cast<ObjClassRecord*>(ClassRecord(id));
    if (!r->methodCount) continue;
    if (counting) gSavedInval[id] = r->methods[kMsgOInval];
    r->methods[kMsgOInval] = counting ? reinterpret_cast<ObjMethodAddr>(&CountInval) : gSavedInval[id];
  }
}

class BlinkTest : public ptest::PanelRootTest {
 protected:
  void SetUp() override {
    PanelRootTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(StartDrawing());
    BlinkInit();
    ClearValueDrawCalls();
    gControlCalls.clear();
    SetBlinkControlHooks({.tableSetCellFont = nullptr,
                          .tableDrawCells = nullptr,
                          .listboxDrawScrollBar = [](ObjHeap, int32, int32 s,
                                                     int32) { Note("bar " + std::to_string(s)); },
                          .listboxApplySelection = [](ObjHeap, int32, void*, int32) { return Note("rows"); },
                          .drawPlotArea = [](ObjHeap, int32, void*, int32, int32, int32 s, int32 autoscale) {
                            return Note("plot " + std::to_string(s) + " " + std::to_string(autoscale));
                          }});
    Blinking(vi_, panel_);
    SwapInvalMethods(true);
  }
  void TearDown() override {
    SwapInvalMethods(false);
    WKillTimer(kWRootWindow, kBlinkTimerId);
    for (UHandle vi : vis_) RemoveLoadedVI(vi);
    for (UHandle vi : others_) UnregisterVI(vi), vib::DisposeVI(vi);
    SetBlinkControlHooks({});
    PrefResetToDefaults();
    WDestroyAllWindows();
    DDisposeDraw();
    PlatWindowsReset();
    PanelRootTest::TearDown();
  }
  // A VI of kind 2 whose panel shows in a visible window; Run() marks the
  // VIs running once their data is allocated.
  void Blinking(UHandle vi, ObjHeap heap) {
    VIRec(vi)->viKind = kVIKindDatalog;
    if (!IsVILoaded(vi)) InsertLoadedVI(vi);
    vis_.push_back(vi);
    const Rect place{40, 40, 140, 240}, content{0, 0, 100, 200};
    const int32 ext = int32(OHWord(heap, kOHExtension));
    PutNative32(*heap + ext + kHeapExtWindow, uInt32(WCreate(0x3C, nullptr, nullptr, &place, 0, 1, 0)));
    std::memcpy(*heap + ext + kHeapExtContentRect, &content, sizeof content);
  }
  void Run() {
    for (UHandle vi : vis_) VIRec(vi)->eState = 2;
  }
  ObjHeap OtherPanel() {
    UHandle vi = vib::NewVI();
    EXPECT_EQ(RegisterVI(vi), kNoErr);
    others_.push_back(vi);
    ObjHeap heap = vib::NewPanel(vi);
    const int32 root = FPNewPanelRoot(heap);
    PutNative32(*heap + OHWord(heap, kOHExtension) + kHeapExtRoot, uInt32(root));
    ObjSetWord(heap, root, kPanelRootDataSpaceWord, int32(uintptr_t(VIRec(vi)->dataSpace)));
    Blinking(vi, heap);
    return heap;
  }
  // A numeric with data, shown by a data controller.
  static int32 Shown(ObjHeap heap) {
    std::vector<uChar> b = tdb::I32().Bytes();
    const TypeID t = NewTypeIDForTD(heap, tdb::AsTD(b));
    const int32 dco = vib::NewObject(heap, kClsFPDataController, ClassRecord(kClsFPDataController)->instanceSize);
    const int32 display = vib::NewObject(heap, kClsNumeric, ClassRecord(kClsNumeric)->instanceSize);
    ObjSetWord(heap, display, kPWOwner, dco);  // a controller's word 6 is its record, not a part list
    ObjSetWord(heap, dco, kPWDCOTypeId, int32(t));
    ObjSetWord(heap, display, kPWDDOTypeId, int32(t));
    ObjSetWord(heap, dco, kPWDCODisplay, display);
    EXPECT_EQ(AllocObjDataSpace(heap, dco), kNoErr);
    return display;
  }
  std::vector<int32> States(int32 object, ObjHeap heap = nullptr) const {
    std::vector<int32> s;
    for (const ValueDrawCall& c : ValueDrawCalls())
      if (c.object == object && c.heap == (heap ? heap : panel_)) s.push_back(c.drawState);
    return s;
  }
  static bool TimerArmed() {
    return WKillTimer(kWRootWindow, kBlinkTimerId) && WStartTimer(kWRootWindow, 1000, kBlinkTimerId);
  }
  std::vector<UHandle> vis_, others_;
};

TEST_F(BlinkTest, PanelsBlinkTogetherOnOneTimerUntilTheLastObjectStops) {
  ObjHeap other = OtherPanel();
  const int32 a = Shown(panel_), b = Shown(other), still = Shown(panel_);
  Run();
  ASSERT_EQ(SetObjBlinking(panel_, a, 1), kNoErr);
  EXPECT_TRUE(TimerArmed()) << "the first blinking object starts the timer";
  ASSERT_EQ(SetObjBlinking(other, b, 1), kNoErr);
  EXPECT_EQ(SetObjBlinking(other, b, 1), kNoErr);
  EXPECT_EQ(SetObjBlinking(panel_, still, 0), kNoErr);
  EXPECT_EQ(BlinkState().count, 2) << "an object blinks once; stopping one that does not blink changes nothing";
  EXPECT_EQ(BlinkPartState(panel_, a, 4), 2);
  BlinkTimerEvent(kBlinkTimerId);
  EXPECT_EQ(BlinkPartState(panel_, a, 4), 1);
  EXPECT_EQ(BlinkPartState(panel_, still, 4), 4) << "an object that does not blink";
  BlinkTimerEvent(kBlinkTimerId);
  EXPECT_EQ(States(a), (std::vector<int32>{1, 2}));
  EXPECT_EQ(States(b, other), (std::vector<int32>{1, 2}));
  BlinkRedrawHeap(panel_);
  EXPECT_EQ(States(a), (std::vector<int32>{1, 2, 2})) << "the normal look after a run-state change";
  // A hidden window is skipped; a hidden object keeps its place undrawn.
  WHide(WindowRef(GetNative32(*other + OHWord(other, kOHExtension) + kHeapExtWindow)));
  ObjSetWord(panel_, a, 0, kObjFlagHidden);
  BlinkTimerEvent(kBlinkTimerId);
  BlinkTimerEvent(kBlinkTimerId);
  EXPECT_EQ(States(a).size() + States(b, other).size(), 5u);
  EXPECT_EQ(ObjIsBlinking(panel_, a), 1);
  EXPECT_TRUE(TimerArmed()) << "running panels keep the timer";
  // Stopping redraws at once; the last stop in phase 34 ends the timer.
  const int32 invals = OInvalCount();
  EXPECT_EQ(SetObjBlinking(panel_, a, 0) + SetObjBlinking(other, b, -1), kNoErr);
  EXPECT_EQ(OInvalCount() - invals, 2);
  WKillTimer(kWRootWindow, kBlinkTimerId);
  BlinkTimerEvent(kBlinkTimerId);
  EXPECT_FALSE(TimerArmed());
  EXPECT_EQ(BlinkState().phase, kBlinkPhaseNormal);
  EXPECT_EQ(Asserts(), 0);
}

TEST_F(BlinkTest, EachClassDrawsOrInvalidatesItsBlinkLook) {
  const int32 numeric = Obj(kClsNumeric), text = Obj(kClsLabel, numeric, 10);
  Obj(kClsLabel, numeric, 41), Obj(kClsLabel, numeric, 12);
  const int32 graph = Obj(kClsGraphChart), listbox = Obj(kClsListbox), picture = Obj(kClsPicture);
  Obj(kClsLabel, graph, 28);
  int32 data = 0;
  struct Case {
    const char* what;
    int32 object, mode;
    std::function<void()> arrange;
    std::vector<int32> drawn;  // the value draw's states
    std::vector<std::string> controls;
    int32 invals, asserts;
  } cases[] = {
      {"numeric", numeric, 45, [] {}, {1}, {}, 0, 0},
      {"transparent blink colour", numeric, 45, [] { PrefSet(kPrefBlinkBG, 0x1000000); }, {}, {}, 2, 0},
      {"overlapped blink part", numeric, 44, [&] { ObjSetWord(panel_, numeric, 0, 4), ObjSetWord(panel_, text, 0, 4); },
       {}, {}, 1, 0},
      {"overlapped elsewhere", numeric, 44, [&] { ObjSetWord(panel_, numeric, 0, 0x4); }, {2}, {}, 0, 0},
      {"chart", graph, 45, [] {}, {}, {"plot 1 1"}, 0, 0},
      {"intensity chart", graph, 45, [&] { PutNative16(*panel_ + graph + kPanelGraphKindByte, 104); }, {}, {}, 1, 0},
      {"kind 3, normal", graph, 44, [&] { PutNative16(*panel_ + graph + kPanelGraphKindByte, 3); }, {}, {"plot 2 1"},
       0, 0},
      {"listbox", listbox, 45, [&] { Obj(kClsLabel, listbox, 26); }, {}, {"bar 1", "rows"}, 0, 0},
      {"picture", picture, 45, [] {}, {}, {}, 1, 0},
      {"picture, another mode", picture, 46, [] {}, {}, {}, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PrefResetToDefaults();
    ObjSetWord(panel_, numeric, 0, 0), ObjSetWord(panel_, text, 0, 0);
    c.arrange();
    ClearValueDrawCalls();
    gControlCalls.clear();
    qxtest::Reports::Get().Clear();
    const int32 invals = OInvalCount();
    OBlink(panel_, c.object, &data, c.mode);
    EXPECT_EQ(States(c.object), c.drawn);
    EXPECT_EQ(gControlCalls, c.controls);
    EXPECT_EQ(OInvalCount() - invals, c.invals);
    EXPECT_EQ(Asserts(), c.asserts);
  }
}

TEST_F(BlinkTest, PartsStatesAndRefusals) {
  const int32 slide = Obj(kClsSlide), needle = Obj(kClsLabel, slide, 23, 1), picture = Obj(kClsPicture);
  SetW(slide, kPWActiveElement, 1);
  struct Case {
    const char* what;
    std::function<int32()> call;
    int32 answer, asserts;
  } cases[] = {
      {"a slide's needle blinks", [&] { return IsBlinkPart(panel_, slide, 23); }, 1, 0},
      {"a picture has no blink parts", [&] { return IsBlinkPart(panel_, picture, 8001); }, 0, 1},
      {"the active needle", [&] { return PartOrderIsCurrent(panel_, slide, needle); }, 1, 0},
      {"not a state", [&] { return BlinkPartState(panel_, slide, 3); }, 4, 1},
      {"timer 600", [] { return BlinkTimerEvent(600), 0; }, 0, 1},
      {"a start with nothing blinking", [] { return BlinkStartTimer(1), 0; }, 0, 1},
      {"another VI kind",
       [&] {
         VIRec(vi_)->viKind = 1;
         return SetObjBlinking(panel_, slide, 1) + 10 * BlinkState().count + HeapHasBlinkers(panel_);
       },
       kArgErr, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    qxtest::Reports::Get().Clear();
    EXPECT_EQ(c.call(), c.answer);
    EXPECT_EQ(Asserts(), c.asserts);
  }
}

// A table blinks by its active cell and stays in the list while a cell
// look still carries the blink marker.
TEST_F(BlinkTest, ATableStaysWhileACellBlinks) {
  const int32 table = Obj(kClsTable), size = DSGetHandleSize(DS()), at = (size + 3) & ~3;
  ASSERT_EQ(DSSetHandleSize(DS(), at + 64), kNoErr);
  std::memset(*DS() + at, 0, 64);
  PutNative32(*DS() + at + 44, 3);  // the active cell's row
  SetW(table, kPWTableData, at);
  UHandle looks = DSNewHClr(4 + 40);
  TableCellFontRec cell{3, 0, 0, 0, 0, 0, 0, 0, kCellBlinking, kCellLookBlink};
  PutNative32(*looks, 1), std::memcpy(*looks + 4, &cell, sizeof cell);
  SetBlinkControlHooks({.tableSetCellFont = [](ObjHeap, int32, TableCellFontRec* r, int32, int32) {
                          return Note(std::to_string(r->row) + " " + std::to_string(r->blink));
                        },
                        .tableDrawCells = nullptr,
                        .listboxDrawScrollBar = nullptr,
                        .listboxApplySelection = nullptr,
                        .drawPlotArea = nullptr});
  ASSERT_EQ(SetObjBlinking(panel_, table, 1), kNoErr);
  PutNative32(*DS() + at + 52, uInt32(uintptr_t(looks)));
  EXPECT_EQ(SetObjBlinking(panel_, table, 0) + ObjIsBlinking(panel_, table), 1) << "a cell still blinks";
  PutNative32(*looks + 4 + 36, 0);
  EXPECT_EQ(SetObjBlinking(panel_, table, 0) + ObjIsBlinking(panel_, table), 0);
  EXPECT_EQ(gControlCalls, (std::vector<std::string>{"3 121", "3 0", "3 0"}));
  DSDisposeHandle(looks);
  EXPECT_EQ(DSSetHandleSize(DS(), size), kNoErr);
}

// Panels load on other threads while the user-interface thread sets and
// clears blinking and ticks: the count stays exact.
TEST_F(BlinkTest, TheCountStaysExactWhilePanelsLoadThreads) {
  const int32 rounds = std::getenv("QX_UNDER_VALGRIND") ? 20 : 2000;
  const int32 a = Shown(panel_);
  std::vector<std::thread> loaders;
  std::vector<ObjHeap> loaded;
  for (int32 t = 0; t < 4; ++t) {
    ObjHeap heap = OtherPanel();
    RemoveLoadedVI(others_.back());  // loaded, not yet running
    int32 list = OHNewBlock(heap, kObjListNewSize, kObjClassList);
    ASSERT_EQ(OHListInsert(heap, &list, 8, kObjListAppend), kNoErr);
    PutNative32(*heap + OHWord(heap, kOHExtension) + kHeapExtBlinkList, uInt32(list));
    loaded.push_back(heap);
  }
  Run();
  for (ObjHeap heap : loaded)
    loaders.emplace_back([heap, rounds] {
      for (int32 i = 0; i < rounds && HeapHasBlinkers(heap); ++i) BlinkAddHeap(heap);
    });
  for (int32 i = 0; i < rounds; ++i) {
    SetObjBlinking(panel_, a, (i & 1) ? 0 : 1);
    BlinkTimerEvent(kBlinkTimerId);
    BlinkPartState(panel_, a, 4);
  }
  for (std::thread& t : loaders) t.join();
  EXPECT_EQ(BlinkState().count, 4 * rounds);
  EXPECT_EQ(Asserts(), 0) << qxtest::Reports::Get().Text();
}

}  // namespace
