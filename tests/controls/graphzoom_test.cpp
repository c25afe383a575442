// Zooming, panning and scrolling a graph's scales, format precisions, and
// the graph's pop-up commands.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "controls/chartupdate.h"
#include "controls/graphzoom.h"
#include "graph_test_support.h"
#include "engine/vi/virecord.h"
#include "mgsource/window/lmenu.h"
#include "panel/numfmt.h"
#include "panel/objects.h"
#include "panel/operate.h"
#include "panel/transact.h"
#include "panel/osupport.h"

namespace {

using graphtest::GraphShape;

// The class's methods are joined for each test only: the class record is
// put back afterwards for the tests that follow.
class GraphMethods : public graphtest::GraphTest {
 protected:
  void SetUp() override {
    GraphTest::SetUp();
    std::memcpy(saved_, ClassRecord(kClsGraphChart)->methods, sizeof saved_);
    ControlsJoinGraphClickSlots();
    qxtest::Reports::Get().Install();
    qxtest::Reports::Get().Clear();
  }
  void TearDown() override {
    GraphTest::TearDown();
    std::memcpy(const_cast<ObjClassRecord*>(ClassRecord(kClsGraphChart))->methods, saved_, sizeof saved_);
  }
  ObjMethodAddr saved_[kObjSlots] = {};
};

class GraphZoom : public GraphMethods {
 protected:
  // A waveform graph whose plot area runs 40 .. 240 across and 20 .. 180
  // down, its scales 0 .. 10 over it.
  int32 Graph(int16 tool = 6) {
    const int32 g = MakeGraph(GraphShape{.plotAreas = {{20, 40, 180, 240}}});
    SetTool(g, tool);
    return g;
  }
  static void ClearReports() {
    qxtest::Reports::Get().Install();
    qxtest::Reports::Get().Clear();
  }
  std::vector<float64> X(int32 g) { return Range(Scale(g, kGPartXScale, 0)); }
  std::vector<float64> Y(int32 g) { return Range(Scale(g, kGPartYScale, 0)); }
};

TEST_F(GraphZoom, ZoomAndPanMoveTheScalesByTheirPixels) {
  struct Case {
    const char* what;
    int16 tool;
    std::function<MgErr(ObjHeap, int32)> act;
    std::vector<float64> x, y;
  } cases[] = {
      // Corners sharing a horizontal coordinate: nothing.
      {"same h", 2, [](ObjHeap h, int32 g) { return ZoomToRect(h, g, PackGraphPoint(90, 30), PackGraphPoint(90, 100), -1); },
       {0, 10}, {0, 10}},
      // 50 px from the left and 150 from the right: the edges move 5 and
      // 15 px; vertically 80 from both ends: 8 each.
      {"in", 6, [](ObjHeap h, int32 g) { return ZoomAtPoint(h, g, PackGraphPoint(90, 100), 0, 0); },
       {0.25, 9.25}, {0.5, 9.5}},
      // Shift reverses the tool.
      {"out", 6, [](ObjHeap h, int32 g) { return ZoomAtPoint(h, g, PackGraphPoint(90, 100), 0x4, 0); },
       {-0.25, 10.75}, {-0.5, 10.5}},
      {"tool 7 shifted zooms in", 7,
       [](ObjHeap h, int32 g) { return ZoomAtPoint(h, g, PackGraphPoint(90, 100), 0x4, 0); }, {0.25, 9.25},
       {0.5, 9.5}},
      // Outside the plot area: nothing.
      {"outside", 6, [](ObjHeap h, int32 g) { return ZoomAtPoint(h, g, PackGraphPoint(250, 100), 0, 0); },
       {0, 10}, {0, 10}},
      {"rectangle", 2,
       [](ObjHeap h, int32 g) { return ZoomToRect(h, g, PackGraphPoint(140, 100), PackGraphPoint(40, 180), -1); },
       {0, 5}, {0, 5}},
      // Dragging right by 20 px shows 20 px further left; Y stays.
      {"pan", 1, [](ObjHeap h, int32 g) { return PanScales(h, g, 20, 0, -1); }, {-1, 9}, {0, 10}},
      {"pan up", 1, [](ObjHeap h, int32 g) { return PanScales(h, g, 0, -16, 0); }, {0, 10}, {-1, 9}},
  };
  for (const Case& c : cases) {
    const int32 g = Graph(c.tool);
    EXPECT_EQ(c.act(panel_, g), kNoErr) << c.what;
    const std::vector<float64> x = X(g), y = Y(g);
    ASSERT_EQ(x.size(), 2u);
    EXPECT_NEAR(x[0], c.x[0], 1e-9) << c.what;
    EXPECT_NEAR(x[1], c.x[1], 1e-9) << c.what;
    EXPECT_NEAR(y[0], c.y[0], 1e-9) << c.what;
    EXPECT_NEAR(y[1], c.y[1], 1e-9) << c.what;
  }
}

TEST_F(GraphZoom, UndoRestoresTheSavedScalesAndAnEmptySaveIsReported) {
  const int32 g = Graph(6);
  EXPECT_TRUE(SavedZoomEmpty(panel_, g)) << "nothing saved yet";
  ASSERT_EQ(SaveScales(panel_, g, 0), kNoErr);
  EXPECT_FALSE(SavedZoomEmpty(panel_, g));
  ASSERT_EQ(ZoomAtPoint(panel_, g, PackGraphPoint(90, 100), 0, 0), kNoErr);
  ASSERT_NE(X(g), (std::vector<float64>{0, 10}));
  ASSERT_EQ(UndoZoom(panel_, g), kNoErr);
  EXPECT_EQ(X(g), (std::vector<float64>{0, 10}));
  EXPECT_EQ(Y(g), (std::vector<float64>{0, 10}));
}

TEST_F(GraphZoom, TheZoomMenuChecksTheToolAndOffersUndoOnlyAfterASave) {
  MenuHandle m = nullptr;
  const uChar title[] = {1, 'Z'};
  ASSERT_EQ(MNewLMenu(&m, title, 91), kNoErr);
  const uChar item[] = {1, 'i'};
  for (int32 k = 0; k < 6; ++k) ASSERT_EQ(MInsertLItem(m, item, nullptr, 0, nullptr, 0, -1, 0), kNoErr);
  auto state = [&] {
    std::vector<int32> out;
    for (int32 k = 1; k <= 6; ++k) {
      MenuItemInfo info{};
      MGetItemInfo(m, k, &info);
      out.push_back((info.enabled ? 1 : 0) + (info.mark ? 2 : 0));
    }
    return out;
  };
  const int32 g = Graph(4);
  PrepareZoomMenu(panel_, g, m);
  EXPECT_EQ(state(), (std::vector<int32>{1, 1, 3, 0, 1, 1})) << "tool 4: item 3; nothing saved: no undo";
  ASSERT_EQ(SaveScales(panel_, g, 0), kNoErr);
  SetTool(g, 7);
  PrepareZoomMenu(panel_, g, m);
  EXPECT_EQ(state(), (std::vector<int32>{1, 1, 1, 1, 1, 3}));
  MDisposeMenu(m);
}

TEST_F(GraphZoom, PointsArePinnedToTheNearEdge) {
  const Rect r{20, 40, 180, 240};
  struct {
    int32 h, v;
    bool inset;
    int32 wantH, wantV;
  } cases[] = {
      {100, 100, false, 100, 100}, {10, 10, false, 40, 20},   {10, 10, true, 41, 21},
      {240, 180, true, 239, 179},  {500, -5, false, 239, 20}, {39, 180, false, 40, 179},
  };
  for (const auto& c : cases) {
    int32 out = 0;
    PinPointToRect(PackGraphPoint(c.h, c.v), &r, &out, c.inset);
    EXPECT_EQ(GraphPointH(out), c.wantH) << c.h << "," << c.v;
    EXPECT_EQ(GraphPointV(out), c.wantV) << c.h << "," << c.v;
  }
  // A rectangle one pixel wide: the inset stays on its one pixel.
  const Rect thin{20, 40, 21, 41};
  {
    int32 out = 0;
    PinPointToRect(PackGraphPoint(0, 0), &thin, &out, true);
    EXPECT_EQ(GraphPointH(out), 40);
    EXPECT_EQ(GraphPointV(out), 20);
  }
}

TEST_F(GraphZoom, FormatPrecisionFollowsTheCodeRanges) {
  ClearReports();
  struct {
    int32 code, precision, set, after;
  } cases[] = {
      {-3, 3, 5, -5},      {0, 0, 2, -2},      {1, 0, 4, 5},        {63, 62, 70, 63},
      {64, 0, 4, 64},      {68, 0, 4, 68},     {104, 4, 1, 101},    {203, 3, 7, 207},
      {512 + 2, 2, 9, 515}, {1024 + 1, 1, 3, 1027},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NumFormatPrecision(c.code), c.precision) << c.code;
    EXPECT_EQ(SetFormatPrecision(c.set, c.code), c.after) << c.code;
  }
  EXPECT_EQ(Reports("unknown format code"), 0);
  for (int32 bad : {-65, 69, 99, 163, 300, 1537}) {
    EXPECT_EQ(NumFormatPrecision(bad), 0) << bad;
    EXPECT_EQ(SetFormatPrecision(2, bad), 0) << bad;
  }
  EXPECT_EQ(Reports("unknown format code"), 6);
}

TEST_F(GraphZoom, ScrollBarStepsClampAndRefuseARepliesWithoutTheThumbBit) {
  struct {
    int32 reply, position, span;
    bool shift;
    int32 want;
    bool bad;
  } cases[] = {
      {0, 10, 1, false, 10, false},  {2, 10, 1, false, 9, false},  {5, 10, 1, false, 11, false},
      {4, 10, 16, true, 8, false},   {3, 10, 7, true, 11, false},  {6, 10, 1, false, 7, false},
      {9, 10, 1, false, 11, false},  {8, 10, 20, false, 0, false}, {7, 10, 20, false, 29, false},
      {2, 0, 1, false, 0, false},    {int32(0x80000000u | 42), 10, 5, false, 42, false},
      {42, 10, 5, false, 10, true},
  };
  for (const auto& c : cases) {
    Bool32 bad = false;
    EXPECT_EQ(ChartScrollStep(c.reply, c.position, c.span, c.shift, &bad), c.want) << c.reply << "/" << c.span;
    EXPECT_EQ(bad != 0, c.bad) << c.reply;
  }
  // On a chart the X scale follows the step; a graph refuses the bar.
  const int32 chart = MakeGraph(GraphShape{.type = kChartFirst, .plotAreas = {{20, 40, 180, 240}}});
  SetScale(Scale(chart, kGPartXScale, 0), 100, 200, 40, 240);
  ASSERT_EQ(ChartScrollBy(panel_, chart, 3, false), kNoErr);
  EXPECT_EQ(X(chart), (std::vector<float64>{101, 201}));
  ASSERT_EQ(ChartScrollBy(panel_, chart, 2, true), kNoErr);
  EXPECT_EQ(X(chart), (std::vector<float64>{89, 189})) << "shift: a line is span / 8";
  ClearReports();
  const int32 g = Graph();
  EXPECT_EQ(ChartScrollBy(panel_, g, 3, false), kNoErr);
  EXPECT_EQ(X(g), (std::vector<float64>{0, 10}));
  EXPECT_EQ(Reports("scroll bar on a graph that is no chart"), 1);
  EXPECT_EQ(ChartScrollBy(panel_, chart, 42, false), kNoErr);
  EXPECT_EQ(Reports("scroll bar reply without its thumb bit"), 1);
}

// Pop-up commands at the graph's own level.
class GraphPopup : public GraphZoom {
 protected:
  int32 Run(int32 g, int32 item, int32 phase = 2) {
    PopupMsgRecord rec{};
    rec.phase = phase, rec.menuId = kPopupMenuId, rec.item = item, rec.level = -2;
    return OPopup(panel_, g, &rec);
  }
  bool Hidden(int32 part) { return (Flags(part) & kObjFlagHidden) != 0; }
};

TEST_F(GraphPopup, CommandsToggleTheirPartsAndFlags) {
  // "Unit Label" with two of three hidden hides the third; again shows all.
  {
    const int32 g = Graph();
    const int32 labels[] = {Obj(kClsCosmetic, g, 71), Obj(kClsCosmetic, g, 72), Obj(kClsCosmetic, g, 73)};
    SetFlags(labels[0], kObjFlagHidden);
    SetFlags(labels[1], kObjFlagHidden);
    EXPECT_EQ(Run(g, 173), 0x80);
    for (int32 l : labels) EXPECT_TRUE(Hidden(l));
    EXPECT_EQ(Run(g, 173), 0x80);
    for (int32 l : labels) EXPECT_FALSE(Hidden(l));
  }
  // "Cursor Display" without a cursor part fails.
  {
    const int32 g = Graph();
    EXPECT_EQ(Run(g, 187), 0x10);
    const int32 legend = Obj(kClsCosmetic, g, kGPartCursorLegend), mover = Obj(kClsCosmetic, g, kGPartCursorMover);
    SetFlags(legend, kObjFlagHidden);
    SetFlags(mover, kObjFlagHidden);
    EXPECT_EQ(Run(g, 187), 0x80);
    EXPECT_FALSE(Hidden(legend));
    EXPECT_FALSE(Hidden(mover));
  }
  // The autoscale switches and smooth updates toggle their bits; a command
  // marks the VI modified except in phase 3.
  {
    const int32 g = Graph();
    const uInt32 before = Flags(g);
    qxtest::Reports::Get().Clear();
    Run(g, 158, 3);
    EXPECT_EQ(Reports("modMask 80000100"), 0);
    Run(g, 158);
    EXPECT_EQ(Reports("modMask 80000100"), 1);
    Run(g, 150);
    Run(g, 158);
    const uInt32 mask = kGraphAutoscaleMask | kGraphFlagSmooth;
    EXPECT_EQ((Flags(g) ^ before) & mask, kGraphFlagAutoX | kGraphFlagSmooth);
    Run(g, 150);
    EXPECT_EQ((Flags(g) ^ before) & mask, kGraphFlagSmooth);
  }
  // "Clear Chart" empties the history.
  {
    const int32 g = MakeGraph(GraphShape{.type = kChartFirst});
    ChartHistory* rec = ChartRecordOf(panel_, g);
    ASSERT_NE(rec, nullptr);
    rec->total = 30;
    EXPECT_EQ(Run(g, 156), 0);
    EXPECT_EQ(ChartRecordOf(panel_, g)->total, 0);
  }
  // "Digital Display" shows only as many displays as the chart has plots.
  {
    const tdb::TD t = tdb::DBL();
    const int32 g = MakeGraph(GraphShape{.type = kChartFirst}, &t);
    const int32 d0 = Obj(kClsCosmetic, g, kGPartDigitalDisplay, 0), d1 = Obj(kClsCosmetic, g, kGPartDigitalDisplay, 1);
    SetFlags(d0, kObjFlagHidden);
    SetFlags(d1, kObjFlagHidden);
    EXPECT_EQ(Run(g, 28), 0x80);
    EXPECT_FALSE(Hidden(d0));
    EXPECT_TRUE(Hidden(d1)) << "beyond the one plot";
    EXPECT_EQ(Run(g, 28), 0x80);
    EXPECT_TRUE(Hidden(d0));
  }
}

}  // namespace

namespace {

using graphtest::GraphShape;

// The click and do-it of the class: legend rows, tools and palette buttons.
class GraphClick : public GraphMethods {
 protected:
  // A graph of two plots with a legend of 10-pixel rows at 100 .. 180.
  int32 Graph(int16 tool = 0) {
    const tdb::TD t = tdb::Array(tdb::DBL());
    const int32 g = MakeGraph(GraphShape{.plotAreas = {{20, 40, 180, 240}}, .legend = {100, 250, 180, 300}}, &t);
    EXPECT_EQ(ResizePlotList(panel_, g, 2, 2, false), kNoErr);
    SetTool(g, tool);
    return g;
  }
  PlotRec& Plot(int32 g, int32 i) {
    int32 n = 0;
    return Plots(g, &n)[i];
  }
  int32 Legend(int32 g, int32 reason, int32 row, int32 menu, int32 item, int32 line = 0, int32 point = 0,
               int32 flags = 0) {
    ActionParams p{};
    p.partId = kGPartPlotLegend;
    p.flags = flags;
    auto* w = reinterpret_cast<GraphClickWords*>(p.words20);
    *w = GraphClickWords{-1, row, (item << 16) | menu, line, point};
    return StdGraphODoit(panel_, g, nullptr, reason, &p);
  }
  // A click of the mode at the point through the class's method.
  int32 Click(int32 g, int32 mode, int32 h, int32 v, ActionParams* p) {
    void* const previous = TRPushFrame();
    auto* frame = static_cast<TransactionFrame*>(TRStackTop());
    TransactionState state{mode, PackGraphPoint(h, v), 0, nullptr};
    const int32 answer = OClick(panel_, g, &state, frame, p);
    TRSetStackTop(previous);
    return answer;
  }
  std::vector<float64> X(int32 g) { return Range(Scale(g, kGPartXScale, 0)); }
};

TEST_F(GraphClick, LegendChoicesChangeTheRowsPlot) {
  struct Case {
    const char* what;
    int32 menu, item;
    int16 pointBefore;
    std::function<bool(const PlotRec&)> holds;
    int32 reply;
  } cases[] = {
      {"interpolation none on point style 0", 58, 1, 0, [](const PlotRec& r) { return r.interpolation == 0 && r.pointStyle == 13; }, 0x10000},
      {"interpolation none keeps a point style", 58, 1, 4, [](const PlotRec& r) { return r.pointStyle == 4; }, 0x10000},
      {"point style", 47, 6, 0, [](const PlotRec& r) { return r.pointStyle == 5; }, 0x10000},
      {"line width", 93, 3, 0, [](const PlotRec& r) { return r.lineWidth == 2; }, 0x10000},
      {"fill to zero", 96, 2, 0, [](const PlotRec& r) { return r.fillStyle == 16; }, 0x10000},
      {"fill to plot 1", 96, 7, 0, [](const PlotRec& r) { return r.fillStyle == 255 + 1; }, 0x10000},
      {"bars: item 4 is the first bar style", 95, 4, 0, [](const PlotRec& r) { return (r.fillStyle & 0xF) == 9; }, 0x10000},
      {"Y scale", 118, 2, 0, [](const PlotRec& r) { return r.yScale == 1; }, 0x10000},
      {"another menu", 12, 1, 0, [](const PlotRec& r) { return r.pointStyle == 0; }, 0},
  };
  for (const Case& c : cases) {
    const int32 g = Graph();
    Plot(g, 0).pointStyle = c.pointBefore;
    const uInt32 before = Flags(g);
    EXPECT_EQ(Legend(g, 22, 0, c.menu, c.item), c.reply) << c.what;
    EXPECT_TRUE(c.holds(Plot(g, 0))) << c.what;
    EXPECT_EQ((Flags(g) & ~before & 0x100000) != 0, c.reply != 0) << c.what << ": the graph repaints";
  }
  // The fill-to item checked: fills by index + 1, plots by j + 6.
  PlotRec r{};
  r.fillStyle = 64;
  EXPECT_EQ(CheckedFillItem(r), 3);
  r.fillStyle = 255 + 1;
  EXPECT_EQ(CheckedFillItem(r), 7);
}

TEST_F(GraphClick, ALegendColourSetsBothColoursAndOnlyAFinalOneRepaints) {
  const int32 g = Graph();
  const uInt32 before = Flags(g);
  EXPECT_EQ(Legend(g, 6, 1, 0, 0, 0x112233, 0x445566), 0x100);
  EXPECT_EQ(Plot(g, 1).lineColor, 0x112233);
  EXPECT_EQ(Plot(g, 1).pointColor, 0x445566u);
  EXPECT_EQ(Flags(g) & 0x100000 & ~before, 0u);
  EXPECT_EQ(Legend(g, 6, 1, 0, 0, 0x112233, 0x445566), 0) << "unchanged and not final";
  EXPECT_EQ(Legend(g, 6, 1, 0, 0, 0x112233, 0x445566, 0x10000), 0x10100);
  EXPECT_NE(Flags(g) & 0x100000, 0u);
  // The colour menu sets both and does not repaint the graph.
  const int32 h = Graph();
  const uInt32 hBefore = Flags(h);
  EXPECT_EQ(Legend(h, 22, 0, 65, 1, 0x0000FF, 0x00FF00), 0x10000);
  EXPECT_EQ(Plot(h, 0).pointColor, 0x00FF00u);
  EXPECT_EQ(Flags(h) & 0x100000 & ~hBefore, 0u);
}

TEST_F(GraphClick, ALegendPressWithoutAChoiceAnswersOneAndWithoutItsListZero) {
  const int32 g = Graph();
  ActionParams p{};
  p.point = Point{125, 260};
  EXPECT_EQ(Click(g, 2, 260, 125, &p), 1) << "no choice";
  EXPECT_EQ(Reports("Couldn't load mFillTo"), 0);
  SetRunTimeRsrcFile(0);
  ActionParams q{};
  q.point = Point{125, 260};
  EXPECT_EQ(Click(g, 2, 260, 125, &q), 0);
  EXPECT_GE(Reports("Couldn't load mFillTo"), 1);
}

// A press with the zoom-in tool through the panel's event zooms at the
// point: 50 px from the left and 150 from the right move by 5 and 15.
TEST_F(GraphClick, APressThroughThePanelZoomsAtThePoint) {
  const int32 g = Graph(6);
  // The graph on the panel inside its data controller.
  const int32 root = int32(GetNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtRoot));
  const int32 dco = Obj(kClsFPDataController, root);
  SetW(g, kPWOwner, dco);
  SetW(dco, kPWDCOTypeId, W(g, kPWDDOTypeId));
  SetW(dco, kPWDCODisplay, g);
  SetBounds(dco, Rect{0, 0, 200, 300});
  SetW(dco, 5, g);
  WSetAppInactive(1);
  WEventRecord down{};
  down.code = weMouseDown;
  down.where = PackGraphPoint(90, 100);
  TRPanelEvent(&down, panel_);
  WSetAppInactive(0);
  const std::vector<float64> x = X(g);
  ASSERT_EQ(x.size(), 2u);
  EXPECT_NEAR(x[0], 0.25, 1e-9);
  EXPECT_NEAR(x[1], 9.25, 1e-9);
}

// Tool drags as the tracking sends them: press, moves, release.
TEST_F(GraphClick, DragsPanAndZoomByTheirTools) {
  struct Case {
    const char* what;
    int16 tool;
    int32 modifiers;
    std::vector<std::pair<int32, int32>> moves;  // the press first, the release last
    std::vector<float64> x, y;
  } cases[] = {
      // Shift: the first movement is horizontal, so Y stays for the drag.
      {"shift pan", 1, 0x4, {{100, 100}, {120, 101}, {120, 140}, {120, 140}}, {-1, 9}, {0, 10}},
      {"pan", 1, 0, {{100, 100}, {120, 84}, {120, 84}}, {-1, 9}, {-1, 9}},
      {"rectangle", 2, 0, {{40, 100}, {140, 170}, {140, 170}}, {0, 5}, {0.625, 5}},
      {"X band", 3, 0, {{40, 100}, {140, 170}, {140, 170}}, {0, 5}, {0, 10}},
      {"Y band", 4, 0, {{40, 100}, {140, 180}, {140, 180}}, {0, 10}, {0.0625, 5}},
  };
  for (const Case& c : cases) {
    const int32 g = Graph(c.tool);
    for (size_t i = 0; i < c.moves.size(); ++i) {
      ActionParams p{};
      p.partId = kGPartPlotArea;
      p.modifiers = c.modifiers;
      p.eventCode = i == 0 ? kSubPress : i + 1 == c.moves.size() ? kSubRelease : kSubMove;
      p.localPoint = PackGraphPoint(c.moves[i].first, c.moves[i].second);
      reinterpret_cast<GraphClickWords*>(p.words20)->selector = -5;
      StdGraphODoit(panel_, g, nullptr, kActTrack, &p);
    }
    const std::vector<float64> x = X(g), y = Range(Scale(g, kGPartYScale, 0));
    EXPECT_NEAR(x[0], c.x[0], 1e-9) << c.what;
    EXPECT_NEAR(x[1], c.x[1], 1e-9) << c.what;
    EXPECT_NEAR(y[0], c.y[0], 1e-9) << c.what;
    EXPECT_NEAR(y[1], c.y[1], 1e-9) << c.what;
  }
}

TEST_F(GraphClick, TheZoomPaletteButtonAndTheLocks) {
  const int32 g = Graph(0);
  ActionParams p{};
  p.partId = 74;
  EXPECT_EQ(StdGraphODoit(panel_, g, nullptr, kActTrack, &p), 0);
  EXPECT_EQ(int16(GetNative16(*panel_ + g + kGraphToolByte)), 1) << "pan";
  p.partId = 36;
  const uInt32 before = Flags(g);
  StdGraphODoit(panel_, g, nullptr, kActTrack, &p);
  EXPECT_EQ((Flags(g) ^ before) & kGraphAutoscaleMask, kGraphFlagAutoX);
  // Momentary Y: on while pressed, the saved flags back at the release.
  p.partId = 35;
  p.eventCode = kSubPress;
  StdGraphODoit(panel_, g, nullptr, kActTrack, &p);
  EXPECT_NE(Flags(g) & kGraphFlagAutoY, 0u);
  p.eventCode = kSubRelease;
  StdGraphODoit(panel_, g, nullptr, kActTrack, &p);
  EXPECT_EQ(Flags(g) & kGraphFlagAutoY, 0u);
  EXPECT_NE(Flags(g) & kGraphFlagAutoX, 0u);
}

}  // namespace

namespace {

// The codes of the items inserted into each menu, in order, and whether
// each was enabled.
struct Inserted {
  MenuHandle menu;
  int32 code;
};
std::vector<Inserted> gInserted;
int32 RecordInsert(int32, MenuHandle menu, ConstPStr text, int32 code, int32) {
  static const uChar kSpace[] = {1, ' '};
  if (text ? MInsertLItem(menu, kSpace, nullptr, 0, nullptr, 0, -1, 0) : MInsertLSeparator(menu, nullptr, -1, 0))
    return 0;
  gInserted.push_back({menu, code});
  return MCountItems(menu);
}

class GraphPopupBuild : public GraphMethods {
 protected:
  // The build phase's items of the main menu and of the sub-menus; a
  // disabled item's code is negated.
  std::pair<std::vector<int32>, std::vector<int32>> Build(int32 g) {
    MenuHandle m64 = nullptr;
    const uChar title[] = {1, 'P'};
    EXPECT_EQ(MNewLMenu(&m64, title, 64), kNoErr);
    PopupShellHooks hooks{};
    hooks.menuInsertItemAt = &RecordInsert;
    const PopupShellHooks saved = SetPopupShellHooks(hooks);
    gInserted.clear();
    PopupMsgRecord rec{};
    rec.menu64 = m64, rec.phase = 1;
    OPopup(panel_, g, &rec);
    SetPopupShellHooks(saved);
    std::vector<int32> main, sub;
    std::vector<int32> position(2, 0);
    for (const Inserted& i : gInserted) {
      const bool isMain = i.menu == m64;
      MenuItemInfo info{};
      MGetItemInfo(i.menu, ++position[isMain ? 0 : 1], &info);
      (isMain ? main : sub).push_back(info.enabled ? i.code : -i.code);
    }
    MDisposeMenu(m64);
    return {main, sub};
  }
};

TEST_F(GraphPopupBuild, TheMenuAndItsShowItemsFollowTheGraphsKindAndParts) {
  // A chart without digital displays or unit labels: both disabled.
  const int32 chart = MakeGraph(GraphShape{.type = kChartFirst, .scrollbar = true});
  Obj(kClsCosmetic, chart, kGPartPaletteFirst);
  const auto [main, show] = Build(chart);
  EXPECT_EQ(main, (std::vector<int32>{190, 0, 156, 150, 151, 105}));
  EXPECT_EQ(show, (std::vector<int32>{119, 127, -28, 21, 107, 108, -173}));
  // A graph with a cursor legend and a unit label; Clear Graph disabled by
  // the VI's mode flag.
  const int32 g = MakeGraph(GraphShape{});
  Obj(kClsCosmetic, g, kGPartCursorLegend);
  Obj(kClsCosmetic, g, 72);
  VIRec(vi_)->flags2 |= 0x800;
  const auto [gmain, gshow] = Build(g);
  VIRec(vi_)->flags2 &= ~0x800u;
  EXPECT_EQ(gmain, (std::vector<int32>{190, 0, -155, 150, 151, 158}));
  EXPECT_EQ(gshow, (std::vector<int32>{119, 127, 187, 107, 108, 173}));
}

}  // namespace
