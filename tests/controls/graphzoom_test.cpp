// Zooming, panning and scrolling a graph's scales, format precisions, and
// the graph's pop-up commands.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "controls/chartupdate.h"
#include "controls/graphzoom.h"
#include "graph_test_support.h"
#include "panel/numfmt.h"
#include "panel/objects.h"
#include "panel/osupport.h"

namespace {

using graphtest::GraphShape;

class GraphZoom : public graphtest::GraphTest {
 protected:
  void SetUp() override {
    GraphTest::SetUp();
    static const bool joined = (ControlsJoinGraphClickSlots(), true);
    (void)joined;
  }
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
  // The autoscale switches and smooth updates toggle their bits.
  {
    const int32 g = Graph();
    const uInt32 before = Flags(g);
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
