// What the graph's do-it does after the generic do-it and in its scale
// format menus: the legend's text colours, the cursors over a recoloured
// plot area, and a scale's format chosen from the menus by the keyboard.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "controls/cursordraw.h"
#include "controls/graphcursors.h"
#include "controls/graphzoom.h"
#include "controls/scale.h"
#include "graph_test_support.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/mainloop.h"
#include "mgsource/window/menus.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/window.h"
#include "mgsource/window/winproc.h"
#include "panel/attrcall.h"
#include "panel/objects.h"
#include "panel/objload.h"
#include "panel/operate.h"
#include "panel/osupport.h"
#include "panel/transact.h"
#include "platform/qx_activate.h"
#include "platform/qx_input.h"
#include "platform/qx_time.h"
#include "rtlib/objunits.h"

namespace {

using graphtest::GraphShape;

int16 Format(ObjHeap h, int32 scale) { return int16(GetNative16(*h + scale + kScaleObjFormat)); }
int32 Y(ObjHeap h, int32 g, int32 order) { return FindPart(h, g, kGPartYScale, order); }
int32 X(ObjHeap h, int32 g) { return FindPart(h, g, kGPartXScale, 0); }
constexpr DColor kCursorColour = 0x123456;
// Whether the recording port was given the cursor's pen.
bool CursorPen() {
  for (const graphtest::PortCall& c : graphtest::GraphTest::CallsOf(3))
    if (c.value == int32(kCursorColour)) return true;
  return false;
}
MenuHandle gMenus[4] = {};  // 70 and its sub-menus 76, 75, 59
constexpr int32 kMenuIds[4] = {70, 76, 75, 59};

class GraphDoitAfter : public graphtest::GraphTest {
 protected:
  void SetUp() override {
    GraphTest::SetUp();
    if (HasFatalFailure()) return;
    std::memcpy(saved_, ClassRecord(kClsGraphChart)->methods, sizeof saved_);
    ControlsJoinGraphClickSlots();
    for (int32 i = 0; i < 4; ++i)
      ASSERT_EQ(MNewLMenuFromStrings(RunTimeRsrcFile(), kMenuIds[i], kMenuIds[i], &gMenus[i]), kNoErr);
    for (int32 i = 1; i < 4; ++i) MSetLItemSubmenu(gMenus[0], i, gMenus[i]);
    PanelShellHooks h{};
    h.standardMenu = [](int32 id) {
      for (int32 i = 0; i < 4; ++i)
        if (kMenuIds[i] == id) return gMenus[i];
      return MenuHandle(nullptr);
    };
    shell_ = SetPanelShellHooks(h);
    shown_ = graphtest::KeyedWindow::Show(panel_);
    ASSERT_NE(shown_, kWNoWindow);
  }
  void TearDown() override {
    graphtest::KeyedWindow::Hide(panel_, shown_);
    SetPanelShellHooks(shell_);
    for (int32 i = 1; i < 4; ++i)
      if (gMenus[0]) MSetLItemSubmenu(gMenus[0], i, nullptr);
    for (MenuHandle& m : gMenus)
      if (m) MDisposeMenu(m), m = nullptr;
    for (auto [g, list] : lists_) {
      std::memset(GraphCursorListField(panel_, ObjWord(panel_, g, kGraphDataWord), nullptr), 0, sizeof(UHandle));
      DSDisposeHandle(list);
    }
    GraphTest::TearDown();
    std::memcpy(const_cast<ObjClassRecord*>(ClassRecord(kClsGraphChart))->methods, saved_, sizeof saved_);
  }
  // One cursor drawn with both lines full at (100, 100).
  void WithCursor(int32 g) {
    const int32 size = GraphCursorFields()->size, first = AlignDatum(GraphCursorRecordTD(), 4);
    UHandle h = DSNewHClr(first + size);
    PutNative32(*h, 1);
    std::memcpy(GraphCursorListField(panel_, ObjWord(panel_, g, kGraphDataWord), nullptr), &h, sizeof h);
    lists_.push_back({g, h});
    UPtr c = *h + first;
    SetCursorU32(c, kGCFlags, 0xA);
    SetCursorU32(c, kGCColour, kCursorColour);
    SetCursorI16(c, kGCH, 100);
    SetCursorI16(c, kGCV, 100);
  }
  // The do-it of the graph's part (id, order 0) through its frames, as the
  // object system sends it.
  int32 PartDoit(int32 g, int16 id, int32 action, ActionParams* p, bool menu) {
    const int32 part = FindPart(panel_, g, id, 0);
    const int32 list = ObjWord(panel_, g, kObjPartList / 4);
    int32 index = -1;
    for (int32 i = 0; i < ObjListCount(panel_, list); ++i)
      if (ObjListGet(panel_, list, i) == part) index = i;
    EXPECT_GE(index, 0) << id;
    void* const previous = TRPushFrame();
    auto* frame = static_cast<TransactionFrame*>(TRStackTop());
    frame[0] = TransactionFrame{g, kCatDDO, 0, index};  // a part of the object
    frame[1] = TransactionFrame{part, kCatCOSM, 2, 0};  // the part itself
    frame[2] = TransactionFrame{};
    p->partId = id;
    // The menus pop up from the panel's window; drawing goes to the
    // recording port otherwise.
    WPortState port;
    if (menu) WSetup(shown_, &port);
    const int32 reply = StdGraphODoit(panel_, g, frame, action, p);
    if (menu) WRestore(&port);
    TRSetStackTop(previous);
    return reply;
  }

  ObjMethodAddr saved_[kObjSlots] = {};
  PanelShellHooks shell_{};
  WindowRef shown_ = kWNoWindow;
  std::vector<std::pair<int32, UHandle>> lists_;
};

// Each case acts on a fresh graph of two plot areas (two Y scales) with a
// legend, then checks what the do-it left.
TEST_F(GraphDoitAfter, ColourChangesAndFormatMenusReachWhatTheyChange) {
  constexpr uInt32 D = kPlatVkDown, R = kPlatVkRight, E = kPlatVkReturn;
  struct Case {
    const char* what;
    int16 part;
    int32 action;
    std::vector<uInt32> keys;  // for the format menus
    bool cursor;
    std::function<void(ObjHeap, int32 g)> check;
  } cases[] = {
      {"a legend colour sets the plot names' colours", kGPartPlotLegend, kActColourChange, {}, false,
       [](ObjHeap h, int32 g) {
         DColor fore = 0, back = 0;
         TGetColors(PartTextRecord(h, ObjWord(h, g, kGraphLegendLabelWord)), &fore, &back);
         EXPECT_EQ(fore, DColor(0xFF0000));
         EXPECT_EQ(back, DColor(0x0000FF));
       }},
      {"a plot-area colour draws the cursor's lines again", kGPartPlotArea, kActColourChange, {}, true,
       [](ObjHeap, int32) {
         EXPECT_TRUE(CursorPen());
       }},
      {"a plot-area colour without cursors draws no lines", kGPartPlotArea, kActColourChange, {}, false,
       [](ObjHeap, int32) { EXPECT_FALSE(CursorPen()); }},
      {"Y precision 3 reaches both Y scales", 78, kActTrack, {D, D, R, D, D, D, D, E}, false,
       [](ObjHeap h, int32 g) {
         EXPECT_EQ(Format(h, Y(h, g, 0)), -3);
         EXPECT_EQ(Format(h, Y(h, g, 1)), -3);
         EXPECT_EQ(Format(h, X(h, g)), 0);
       }},
      {"X Scientific leaves the Y scales", 77, kActTrack, {D, R, D, D, E}, false,
       [](ObjHeap h, int32 g) {
         EXPECT_EQ(Format(h, X(h, g)), 1);
         EXPECT_EQ(Format(h, Y(h, g, 0)), 0);
       }},
      {"Y Logarithmic maps both Y scales", 78, kActTrack, {D, D, D, R, D, D, E}, false,
       [](ObjHeap h, int32 g) {
         EXPECT_EQ(ScaleRecOf(h, Y(h, g, 0))->mapping, kScaleLog);
         EXPECT_EQ(ScaleRecOf(h, Y(h, g, 1))->mapping, kScaleLog);
         EXPECT_NE(ScaleRecOf(h, X(h, g))->mapping, kScaleLog);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int32 g = MakeGraph(GraphShape{.plotAreas = {{20, 40, 100, 280}, {100, 40, 180, 280}},
                                         .yScales = 2,
                                         .legend = {100, 300, 180, 360}});
    for (int16 id : {int16(77), int16(78)}) Obj(kClsCosmetic, g, id);
    ASSERT_EQ(ResizePlotList(panel_, g, 2, 2, false), kNoErr);
    if (c.cursor) WithCursor(g);
    // The plot names' text record, black on none to begin with.
    const Rect at{0, 0, 10, 30};
    TRecord text = TNew(&at, 0, reinterpret_cast<const uChar*>("a"), 1, kAppFont, 0, kTransparentColor);
    ASSERT_NE(text, nullptr);
    SetW(ObjWord(panel_, g, kGraphLegendLabelWord), kObjText / 4, int32(uintptr_t(text)));
    ActionParams p{};
    p.point = Point{150, 150};
    p.eventCode = kColorFore | kColorBack;
    p.window = 0xFF0000;
    p.localPoint = 0x0000FF;
    graphtest::KeyedWindow::Script(c.keys);
    Record();
    PartDoit(g, c.part, c.action, &p, !c.keys.empty());
    c.check(panel_, g);
    DInstallTestPort(nullptr);
    SetW(ObjWord(panel_, g, kGraphLegendLabelWord), kObjText / 4, 0);
    TDispose(text);
  }
}

}  // namespace

namespace {
int32 gAsked = 0;
LStrHandle Asked(ObjHeap, int32 part) {
  gAsked = part;
  return nullptr;
}
// A press that starts editing a unit label keeps the label's text (the
// unit to convert from when the edit is applied).
TEST_F(GraphDoitAfter, APressOnAUnitLabelCachesItsText) {
  const int32 g = MakeGraph(GraphShape{});
  const int32 label = Obj(kClsLabel, g, kGPartUnitLabelFirst);
  const Rect at{185, 100, 195, 140};
  SetBounds(label, at);
  TRecord text = TNew(&at, 0, reinterpret_cast<const uChar*>("m"), 1, kAppFont, 0, kTransparentColor);
  ASSERT_NE(text, nullptr);
  SetW(label, kObjText / 4, int32(uintptr_t(text)));
  UnitLabelHooks hooks{};
  hooks.getText = &Asked;
  const UnitLabelHooks before = SetUnitLabelHooks(hooks);
  gAsked = 0;
  void* const previous = TRPushFrame();
  TransactionState state{kClickPress, PackGraphPoint(110, 190), 0, nullptr};
  ActionParams p{};
  EXPECT_EQ(OClick(panel_, g, &state, static_cast<TransactionFrame*>(TRStackTop()), &p), kClickOperate);
  TRSetStackTop(previous);
  EXPECT_EQ(gAsked, label);
  SetUnitLabelHooks(before);
  ClearUnitLabelCache();
  SetW(label, kObjText / 4, 0);
  TDispose(text);
}
}  // namespace
