// Intensity charts drawing their newest columns: the x scale moving past
// its end in each update mode, the circular image's position, and columns
// left to the next update over a transparent area.
#include <gtest/gtest.h>

#include <vector>

#include "controls/chartupdate.h"
#include "controls/graphintensity.h"
#include "graph_test_support.h"
#include "mgsource/debug.h"
#include "mgsource/prefs.h"

namespace {

using tdb::Array, tdb::DBL, tdb::TD;
using graphtest::GraphShape;

class IntensChart : public graphtest::GraphTest {
 protected:
  void SetUp() override {
    GraphTest::SetUp();
    if (HasFatalFailure()) return;
    ControlsInstallScaleHooks();
    offscreen_ = PrefGet(kPrefOffscreenUpdates);
    strip_ = PrefGet(kPrefScrollingStripCharts);
    PrefSet(kPrefOffscreenUpdates, 0);
    PrefSet(kPrefScrollingStripCharts, 0);
  }
  void TearDown() override {
    PrefSet(kPrefOffscreenUpdates, offscreen_);
    PrefSet(kPrefScrollingStripCharts, strip_);
    GraphTest::TearDown();
  }
  // A chart of the type whose history holds L columns of R rows, total
  // columns written (column i holding i in every row), pending not drawn.
  int32 Chart(int16 type, int32 total, int32 pending, GraphShape s = {}) {
    const TD t = Array(DBL(), {kTDVariable, kTDVariable});
    s.type = type;
    s.colourScale = true;
    const int32 g = MakeGraph(s, &t);
    constexpr int32 L = 200, R = 4;
    std::vector<float64> cols;
    for (int32 i = 0; i < L; ++i)
      for (int32 r = 0; r < R; ++r) cols.push_back(i < total ? i : 0);
    ChartHistory* rec = ChartRecordOf(panel_, g);
    EXPECT_NE(rec, nullptr);
    if (!rec) return g;
    rec->buffer = Doubles(cols, {L, R});
    rec->total = total;
    rec->pending = pending;
    SetScale(Scale(g, kGPartYScale, 0), 0, 4, s.plotAreas[0].bottom, s.plotAreas[0].top);
    SetScale(Scale(g, kGPartZScale, 0), 0, 200, 180, 20);
    value_ = Doubles({1, 2, 3, 4}, {1, 4});
    return g;
  }
  int32 Draw(int32 g, int32 update = 0) { return DrawPlotArea(panel_, g, &value_, update, 0, 4, 1); }
  ChartHistory* Rec(int32 g) { return ChartRecordOf(panel_, g); }
  UHandle value_ = nullptr;
  int32 offscreen_ = 0, strip_ = 0;
};

// One column past the x scale's upper end (x 0 .. 10 over 40 .. 280):
// sweep and scope charts move up by a span, strip charts by the columns
// that passed; the column is drawn and no longer pending.
TEST_F(IntensChart, NewColumnPastTheEndMovesTheScale) {
  struct Case {
    int16 type;
    std::vector<float64> range;
  } cases[] = {{104, {10, 20}}, {105, {10, 20}}, {106, {1, 11}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    Record();
    const int32 g = Chart(c.type, 12, 1);
    EXPECT_EQ(Draw(g) & kPlotResultFailed, 0);
    EXPECT_EQ(Range(Scale(g, kGPartXScale, 0)), c.range);
    EXPECT_EQ(Rec(g)->pending, 0);
    const Rect drawn = IntensityRecOf(panel_, g)->Drawn();
    EXPECT_LT(drawn.left, drawn.right) << "the column was drawn";
  }
}

// A strip chart with a pixmap keeps the newest column's place in it: a
// scroll of -5 from place 2 in a usable width of 100 wraps to 97.
TEST_F(IntensChart, CircularImagePositionWraps) {
  ShowInWindow();
  GraphShape s;
  s.plotAreas = {Rect{20, 40, 180, 142}};
  const int32 g = Chart(106, 12, 1, s);
  // The pixmap the chart keeps from an earlier drawing.
  int32 pixmap = 0;
  ASSERT_EQ(ICreatePixmap(window_, &s.plotAreas[0], 0, &pixmap), kNoErr);
  SetW(g, kGraphPixmapWord, pixmap);
  Record();
  // Reversed: value 0 at pixel 90, 5 pixels a column toward the left.
  SetScale(Scale(g, kGPartXScale, 0), 0, 10, 90, 40);
  SetW(g, kGraphPixmapPosWord, 2);
  EXPECT_EQ(Draw(g) & kPlotResultFailed, 0);
  ASSERT_EQ(W(g, kGraphPixmapWord), pixmap) << "the strip chart draws through its pixmap";
  EXPECT_EQ(W(g, kGraphPixmapPosWord), 97);
  CloseWindow();
}

// Over a transparent area an immediate draw draws no column: the columns
// stay pending for the window's update, which redraws whole when the chart
// was marked so (the whole window is then pending again).
TEST_F(IntensChart, TransparentAreaLeavesColumnsToTheUpdate) {
  for (bool marked : {false, true}) {
    SCOPED_TRACE(marked);
    Record();
    const int32 g = Chart(104, 5, 2, GraphShape{.plotBack = kTransparentColor});
    if (marked) SetFlags(g, kGraphFlagFullRedraw);
    EXPECT_EQ(Draw(g) & kPlotResultFailed, 0);
    EXPECT_EQ(Rec(g)->pending, marked ? 5 : 2);
    EXPECT_EQ((Flags(g) & kGraphFlagFullRedraw) != 0, marked);
    const Rect drawn = IntensityRecOf(panel_, g)->Drawn();
    EXPECT_TRUE(DEmptyRect(&drawn)) << "nothing was drawn";
  }
}

}  // namespace
