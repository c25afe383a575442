// The plot-area drawing of graphs and charts: when it draws at all, the
// offscreen pixmap, the plot list and autoscaling by plot kind, the
// intensity graph's visible block, the redraw marks and the zoom frame.
#include <gtest/gtest.h>

#include <tuple>

#include "graph_test_support.h"
#include "mgsource/debug.h"
#include "mgsource/prefs.h"
#include "panel/objload.h"
#include "panel/osupport.h"
#include "rtlib/panellocators.h"

namespace {

using tdb::Array, tdb::AsTD, tdb::Cluster, tdb::DBL, tdb::I16, tdb::I32, tdb::String, tdb::TD;
using graphtest::GraphShape;

class PlotFrameTest : public graphtest::GraphTest {
 protected:
  void SetUp() override {
    GraphTest::SetUp();
    debugging_ = DBDebuggingOn();
    DBSetDebugging(true);
    offscreen_ = PrefGet(kPrefOffscreenUpdates);
    strip_ = PrefGet(kPrefScrollingStripCharts);
    PrefSet(kPrefOffscreenUpdates, 0);
    Record();  // the callers draw with a port set up
  }
  void TearDown() override {
    EXPECT_EQ(Asserts(), expectAsserts_) << qxtest::Reports::Get().Text();
    PrefSet(kPrefOffscreenUpdates, offscreen_);
    PrefSet(kPrefScrollingStripCharts, strip_);
    SetTrackObject(nullptr, 0, nullptr, nullptr, 1);
    TrackState(0, nullptr, 1);
    SetGraphTrack(GraphTrack{});
    DBSetDebugging(debugging_);
    GraphTest::TearDown();
  }
  // A waveform graph of a 1-D array of doubles.
  int32 Wave(GraphShape s = {}) {
    const TD t = Array(DBL());
    return MakeGraph(s, &t);
  }
  int32 Draw(int32 g, void* value, int32 update = 0, int32 mode = 4, int32 allowAutoscale = 1) {
    return DrawPlotArea(panel_, g, value, update, 0, mode, allowAutoscale);
  }
  int32 offscreen_ = 0, strip_ = 0;
  Bool32 debugging_ = false;
  int expectAsserts_ = 0;
};

// Hidden graphs draw nothing.  Transparent and flagged plot areas are not
// drawn over on an immediate draw: the inner rectangle waits for the
// window's update, marked pending.  A drawing clears the pending mark when
// immediate and keeps the full-redraw mark while pending or after printing.
TEST_F(PlotFrameTest, WhenTheAreaIsDrawnAndWhatIsLeftToRedraw) {
  constexpr uInt32 P = kGraphFlagPending, F = kGraphFlagFullRedraw;
  struct Case {
    int16 type;
    bool hidden, transparent, flagged, pending, window, screen;
    int32 update;
    uInt32 before, after;
    bool invalidated;
  } cases[] = {
      {1, true, true, false, false, true, true, 0, 0, 0, false},  // hidden: nothing at all
      {1, false, true, false, false, true, true, 0, 0, P, true},
      {1, false, false, true, false, true, true, 0, 0, P, true},
      {1, false, true, false, false, true, true, 1, 0, 0, false},   // the update itself draws
      {1, false, true, false, false, false, true, 0, 0, 0, false},  // no window to wait in
      {103, false, false, true, true, true, true, 0, 0, P, true},   // a sweep chart with points not drawn
      // Charts pass the first check; the refresh then leaves a flagged or
      // transparent area to the window's update.
      {103, false, false, true, false, true, true, 0, 0, P, true},
      {103, false, true, false, true, true, true, 0, 0, P, true},
      {101, false, false, true, true, true, true, 0, 0, P, true},
      {1, false, false, false, false, false, true, 0, P | F, 0, false},  // drawn whole now
      {1, false, false, false, false, false, true, 1, P | F, P | F, false},
      {1, false, false, false, false, false, true, 1, P, P, false},
      {1, false, false, false, false, false, false, 0, 0, F, false},  // printing leaves the screen to redraw
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " transparent " << c.transparent << " flagged "
                                    << c.flagged << " update " << c.update << " before " << c.before);
    const TD t = IsChartType(c.type) ? DBL() : Array(DBL());
    const int32 g = MakeGraph({.type = c.type, .plotBack = c.transparent ? kTransparentColor : 0xFFFFFF}, &t);
    SetFlags(g, c.before | (c.hidden ? uInt32(kObjFlagHidden) : 0u));
    if (c.flagged) SetFlags(FindPart(panel_, g, kGPartPlotArea, 0), kPlotAreaFlagged);
    if (c.pending) PutNative32(FPHeapDataPtr(panel_, W(g, kGraphHistoryWord)) + 4, 5);
    UHandle v = Doubles({1});
    float64 point = 1;
    // Drawn in the window's port (a hidden window: nothing reaches it).
    WPortState port;
    if (c.window) WSetup(ShowInWindow(), &port);
    Record(c.screen);
    const int32 r = Draw(g, IsChartType(c.type) ? static_cast<void*>(&point) : &v, c.update);
    if (c.hidden) { EXPECT_TRUE(calls.empty()); }
    if (c.window) WRestore(&port);
    Record();
    EXPECT_EQ(r, c.invalidated ? kPlotResultRedraw : 0);
    EXPECT_EQ(Flags(g) & (P | F), c.after);
    if (c.window) { EXPECT_EQ(R(TakeInvalid()), c.invalidated ? R(Rect{21, 41, 179, 279}) : R(Rect{0, 0, 0, 0})); }
    if (c.invalidated || c.hidden) { EXPECT_EQ(PlotCount(g), 0) << "nothing prepared"; }
    CloseWindow();
  }
}

TEST_F(PlotFrameTest, OffscreenPixmapIsKeptOnScreensAndReleasedWhenPrinting) {
  const int32 g = Wave({.plotAreas = {{20, 40, 100, 280}, {110, 40, 180, 200}}});
  UHandle v = Doubles({1, 2});
  ShowInWindow();
  Record();
  Draw(g, &v);
  EXPECT_EQ(W(g, kGraphPixmapWord), 0) << "nobody asked for offscreen drawing";
  PrefSet(kPrefOffscreenUpdates, 1);
  Draw(g, &v);
  const int32 pixmap = W(g, kGraphPixmapWord);
  ASSERT_NE(pixmap, 0);
  Draw(g, &v, 1);
  EXPECT_EQ(W(g, kGraphPixmapWord), pixmap) << "one pixmap across drawings";
  // Transparent plot areas are never drawn offscreen.
  SetColours(FindPart(panel_, g, kGPartPlotArea, 1), 0, kTransparentColor);
  Draw(g, &v, 1);
  EXPECT_EQ(W(g, kGraphPixmapWord), 0);
  EXPECT_EQ(IKindOf(pixmap), 0);
  SetColours(FindPart(panel_, g, kGPartPlotArea, 1), 0, 0xFFFFFF);
  Draw(g, &v);
  const int32 again = W(g, kGraphPixmapWord);
  ASSERT_NE(again, 0);
  // Printing: released, none made.
  Record(false);
  Draw(g, &v);
  EXPECT_EQ(W(g, kGraphPixmapWord), 0);
  EXPECT_EQ(IKindOf(again), 0);
  EXPECT_NE(Flags(g) & kGraphFlagFullRedraw, 0u) << "the screen is redrawn whole after printing";
  // The smooth-update flag asks for a pixmap as the key does.
  PrefSet(kPrefOffscreenUpdates, 0);
  SetFlags(g, kGraphFlagSmooth);
  Record();
  Draw(g, &v);
  const int32 kept = W(g, kGraphPixmapWord);
  EXPECT_NE(kept, 0);
  ODispose(panel_, g);
  EXPECT_EQ(IKindOf(kept), 0) << "released with its graph";
  // A pixmap that cannot be made (of an area without height) is reported
  // and the plots are drawn directly.
  const int32 flat = Wave({.plotAreas = {{20, 40, 20, 280}}});
  SetFlags(flat, kGraphFlagSmooth);
  qxtest::Reports::Get().Clear();
  EXPECT_EQ(Draw(flat, &v), 0);
  EXPECT_EQ(Reports("couldn't create pixmap of bnds tlbr(20, 40, 20, 280)"), 1);
  EXPECT_EQ(W(flat, kGraphPixmapWord), 0);
  EXPECT_EQ(PlotCount(flat), 1);
}

// The plot list takes the value's plots, not fewer than the legend's rows
// and the plot areas; waveform kinds scale x to the longest plot of each x
// scale when autoscaling is on and allowed (immediate draws, or updates
// with a redraw pending).
TEST_F(PlotFrameTest, WaveformsSizeThePlotListAndAutoscaleX) {
  enum Shape { kArr, kArrays, k2D };
  struct Case {
    Shape shape;
    std::vector<int32> sizes;  // lengths of the plots, or the 2-D dimensions
    int16 graphType;
    uInt32 flags;
    int32 update, allow, legendRows, areas;
    std::vector<float64> x0, x1;
    int32 plots, result;
  } cases[] = {
      {kArr, {5}, 1, kGraphFlagAutoX, 0, 1, 0, 1, {0, 4}, {0, 10}, 1, kPlotResultRedraw},
      {kArr, {5}, 1, kGraphFlagAutoX, 0, 0, 0, 1, {0, 10}, {0, 10}, 1, 0},
      {kArr, {5}, 1, kGraphFlagAutoX, 1, 1, 0, 1, {0, 10}, {0, 10}, 1, 0},
      {kArr, {5}, 1, kGraphFlagAutoX | kGraphFlagPending, 1, 1, 0, 1, {0, 4}, {0, 10}, 1, kPlotResultRedraw},
      {kArr, {0}, 1, kGraphFlagAutoX, 0, 1, 0, 1, {0, 10}, {0, 10}, 1, 0},  // no points: kept
      {kArr, {5}, 1, 0, 0, 1, 2, 1, {0, 10}, {0, 10}, 2, 0},
      {kArr, {5}, 1, 0, 0, 1, 0, 3, {0, 10}, {0, 10}, 3, 0},
      {kArrays, {3, 7}, 1, kGraphFlagAutoX, 0, 1, 0, 1, {0, 2}, {0, 6}, 2, kPlotResultRedraw},  // plot 1 on x 1
      {k2D, {2, 6}, 1, kGraphFlagAutoX, 0, 1, 0, 1, {0, 5}, {0, 10}, 2, kPlotResultRedraw},     // rows
      {k2D, {2, 6}, 2, kGraphFlagAutoX, 0, 1, 0, 1, {0, 1}, {0, 10}, 6, kPlotResultRedraw},     // columns
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "shape " << c.shape << " flags " << c.flags << " update " << c.update);
    GraphShape s{.type = c.graphType, .plotAreas = {}, .xScales = 2};
    if (c.legendRows) s.legend = Rect{0, 0, int16(16 * c.legendRows), 100};
    for (int32 i = 0; i < c.areas; ++i) s.plotAreas.push_back(Rect{int16(20 + 50 * i), 40, int16(60 + 50 * i), 280});
    const TD types[] = {Array(DBL()), Array(Cluster({Array(DBL())})), Array(DBL(), {kTDVariable, kTDVariable})};
    const int32 g = MakeGraph(s, &types[c.shape]);
    SetFlags(g, c.flags);
    UHandle v = nullptr;
    if (c.shape == kArr) v = Doubles(std::vector<float64>(size_t(c.sizes[0]), 1.0));
    if (c.shape == k2D) v = Doubles(std::vector<float64>(size_t(c.sizes[0] * c.sizes[1]), 1.0), c.sizes);
    if (c.shape == kArrays) {
      std::vector<uChar> r;
      for (int32 n : c.sizes) Put(&r, Doubles(std::vector<float64>(size_t(n), 1.0)));
      v = Records(r, int32(c.sizes.size()));
      ASSERT_EQ(ResizePlotList(panel_, g, 2, 0, false), kNoErr);
      int32 n = 0;
      Plots(g, &n)[1].xScale = 1;
    }
    EXPECT_EQ(Draw(g, &v, c.update, 4, c.allow), c.result);
    EXPECT_EQ(Range(Scale(g, kGPartXScale, 0)), c.x0);
    EXPECT_EQ(Range(Scale(g, kGPartXScale, 1)), c.x1);
    EXPECT_EQ(PlotCount(g), c.plots);
  }
  // A list that cannot grow ends the drawing.
  const int32 g = Wave();
  UHandle v = Doubles({1, 2});
  MemFailNthAllocation(1);
  EXPECT_EQ(Draw(g, &v), kPlotResultFailed);
  MemFailNthAllocation(0);
}

TEST_F(PlotFrameTest, IntensityGraphsShowTheVisibleBlock) {
  const TD t = Array(DBL(), {kTDVariable, kTDVariable});
  struct Case {
    int16 type;
    std::vector<int32> dims;
    uInt32 flags;
    float64 xMax;
    std::vector<float64> x, y;
    Rect drawn;
  } cases[] = {
      {3, {4, 6}, kGraphFlagAutoX | kGraphFlagAutoY, 10, {0, 4}, {0, 6}, {21, 41, 179, 279}},
      {4, {4, 6}, kGraphFlagAutoX | kGraphFlagAutoY, 10, {0, 6}, {0, 4}, {21, 41, 179, 279}},
      {3, {4, 6}, 0, 8, {0, 8}, {0, 10}, {85, 41, 179, 160}},   // columns 0 to 3 of 8 shown
      {3, {0, 6}, kGraphFlagAutoX | kGraphFlagAutoY, 10, {0, 10}, {0, 6}, {0, 0, 0, 0}},  // nothing to show
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << c.type << " flags " << c.flags);
    const int32 g = MakeGraph({.type = c.type, .colourScale = true}, &t);
    SetScale(Scale(g, kGPartXScale, 0), 0, c.xMax, 40, 280);
    SetFlags(g, c.flags);
    std::vector<float64> cells(size_t(c.dims[0] * c.dims[1]), 1.0);
    UHandle v = Doubles(cells, c.dims);
    EXPECT_EQ(Draw(g, &v) & kPlotResultFailed, 0);
    EXPECT_EQ(Range(Scale(g, kGPartXScale, 0)), c.x);
    EXPECT_EQ(Range(Scale(g, kGPartYScale, 0)), c.y);
    const auto* rec = reinterpret_cast<const IntensityRec*>(FPHeapDataPtr(panel_, W(g, kGraphImageWord)));
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(R(rec->Drawn()), R(c.drawn));
  }
  // An intensity record without its colour table is an internal fault.
  const int32 g = MakeGraph({.type = 3, .colourScale = true}, &t);
  auto* rec = reinterpret_cast<IntensityRec*>(FPHeapDataPtr(panel_, W(g, kGraphImageWord)));
  DSDisposeHandle(rec->colorTable);
  rec->colorTable = nullptr;
  UHandle v = Doubles({1, 2, 3, 4}, {2, 2});
  qxtest::Reports::Get().Clear();
  EXPECT_EQ(Draw(g, &v), kPlotResultFailed);
  EXPECT_EQ(Reports("plotsup2"), 1);
  expectAsserts_ = 1;
}

TEST_F(PlotFrameTest, UnknownShapesAreReportedAndTheHighlightFollowsTheBlink) {
  const TD text = String();
  const int32 g = MakeGraph({}, &text);
  ASSERT_EQ(ResizePlotList(panel_, g, 2, 0, false), kNoErr);
  PutNative16(*panel_ + g + kGraphHighlightPlotByte, 1);
  UHandle none = nullptr;
  qxtest::Reports::Get().Clear();
  const std::pair<int32, PlotHighlight> modes[] = {{1, {true, 1}}, {2, {false, -1}}, {4, {false, -1}}};
  for (const auto& [mode, want] : modes) {
    EXPECT_EQ(Draw(g, &none, 1, mode), 0);
    EXPECT_EQ(CurrentPlotHighlight().on, want.on);
    EXPECT_EQ(CurrentPlotHighlight().plot, want.plot);
  }
  EXPECT_EQ(Reports("bad plot type"), 3);
  EXPECT_EQ(PlotCount(g), 2) << "plots as they were";
}

// The zoom tools' rectangle is framed on every path of a tracked graph.
TEST_F(PlotFrameTest, DraggedZoomRectangleIsFramedEvenAfterAFailure) {
  struct Case {
    int16 tool;
    bool tracked, dragging, fail;
    bool framed;
  } cases[] = {
      {2, true, true, false, true}, {3, true, true, true, true}, {4, true, true, false, true},
      {5, true, true, false, false}, {2, false, true, false, false}, {2, true, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "tool " << c.tool << " tracked " << c.tracked << " fail " << c.fail);
    const TD t = Array(Cluster({Array(DBL())}));
    const int32 g = MakeGraph({}, &t);
    SetTool(g, c.tool);
    SetTrackObject(c.tracked ? panel_ : nullptr, c.tracked ? g : 0, nullptr, nullptr, 1);
    TrackState(c.dragging ? 1 : 0, nullptr, 1);
    SetGraphTrack(GraphTrack{kGPartPlotArea, Point{90, 200}, Point{30, 60}});
    UHandle v = Records(Bytes(Doubles({1}), Doubles({2})), 2);
    Record();
    if (c.fail) MemFailNthAllocation(1);
    EXPECT_EQ(Draw(g, &v), c.fail ? kPlotResultFailed : 0);
    MemFailNthAllocation(0);
    const std::vector<graphtest::PortCall> frames = CallsOf(14);
    ASSERT_EQ(frames.size(), c.framed ? 1u : 0u);
    if (c.framed) { EXPECT_EQ(R(frames[0].r), R(Rect{30, 60, 90, 200})); }
  }
}

// A chart tracked through its scrollbar holds its window only with flag
// 0x20000; without it the debugging output says so.
TEST_F(PlotFrameTest, ChartScrollbarHoldsTheWindowOnlyWithItsFlag) {
  const std::tuple<bool, int32, bool, Bool32, int32> cases[] = {
      {true, kGPartChartScrollbar, true, true, 0}, {true, kGPartChartScrollbar, false, false, 1},
      {true, kGPartPlotArea, true, false, 0}, {false, kGPartChartScrollbar, true, false, 0}};
  const TD t = DBL();
  const int32 g = MakeGraph({.type = 101}, &t);
  for (const auto& [tracked, part, held, answer, stops] : cases) {
    SetFlags(g, kGraphFlagScrollHeld, held);
    SetTrackObject(tracked ? panel_ : nullptr, tracked ? g : 0, nullptr, nullptr, 1);
    SetGraphTrack(GraphTrack{part, {}, {}});
    qxtest::Reports::Get().Clear();
    EXPECT_EQ(IsChartScrollTracked(panel_, g), answer);
    EXPECT_EQ(Reports("stop the press"), stops);
  }
}

// Plot areas painted into a pixmap: each shown area's background inside
// its one-pixel border, clipped; transparent and hidden areas left alone.
TEST_F(PlotFrameTest, PlotAreasArePaintedInsideTheirBorder) {
  GraphShape s;
  s.plotAreas = {{20, 40, 100, 280}, {110, 40, 180, 280}, {0, 0, 10, 10}};
  const int32 g = MakeGraph(s);
  SetColours(FindPart(panel_, g, kGPartPlotArea, 0), 0, 0xFF0000);
  SetColours(FindPart(panel_, g, kGPartPlotArea, 1), 0, 0x0000FF);
  SetColours(FindPart(panel_, g, kGPartPlotArea, 2), 0, 0x00FF00);
  SetFlags(FindPart(panel_, g, kGPartPlotArea, 2), kObjFlagHidden);
  const Rect all = s.bounds, clip{0, 0, 150, 100};
  struct Case {
    const Rect* clip;
    int32 h, v;
    uInt32 colour;
  } cases[] = {
      {nullptr, 41, 21, 0xFF0000}, {nullptr, 40, 50, 0xFFFFFF},  {nullptr, 278, 98, 0xFF0000},
      {nullptr, 279, 99, 0xFFFFFF}, {nullptr, 100, 150, 0x0000FF}, {nullptr, 5, 5, 0xFFFFFF},
      {&clip, 99, 50, 0xFF0000},    {&clip, 100, 50, 0xFFFFFF},   {&clip, 50, 160, 0xFFFFFF},
  };
  for (const Case& c : cases) {
    const int32 px = DrawInto(all, [&] { PaintPlotAreas(panel_, g, nullptr, c.clip, false); });
    EXPECT_EQ(Pix(px, all, c.h, c.v), c.colour) << c.h << ", " << c.v << (c.clip ? " clipped" : "");
  }
  // An empty clip paints nothing.
  const Rect none{5, 5, 5, 5};
  const int32 px = DrawInto(all, [&] { PaintPlotAreas(panel_, g, nullptr, &none, false); });
  EXPECT_EQ(Pix(px, all, 41, 21), 0xFFFFFFu);
}

}  // namespace
