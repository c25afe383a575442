// Chart updates: the x window a drawing chooses, the y range scanned over a
// wrapping window, the strip a scrolling chart exposes, and the plots'
// pixels moved by a scroll.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "controls/chartupdate.h"
#include "graph_test_support.h"
#include "mgsource/prefs.h"
#include "rtlib/panellocators.h"

namespace {

using graphtest::GraphShape;
using tdb::DBL;

class ChartUpdate : public graphtest::GraphTest {
 protected:
  // The chart's history handle (the data space's own when it is one)
  // sized for L doubles, cleared, its length set.
  UHandle History(int32 g, int32 L) {
    ChartHistory* rec = ChartRecordOf(panel_, g);
    UHandle h = rec->buffer;
    if (!h || !MemIsDSHandle(h)) {
      h = DSNewHandle(4);
      values_.push_back(h);
      rec->buffer = h;
    }
    EXPECT_EQ(DSSetHandleSize(h, 4 + 8 * L), kNoErr);
    std::memset(*h, 0, size_t(4 + 8 * L));
    PutNative32(*h, uInt32(L));
    return h;
  }
  // A chart of type with a history of L doubles: slot i holds fill(i).
  int32 Chart(int16 type, int32 L, const std::function<float64(int32)>& fill) {
    const tdb::TD t = DBL();
    const int32 g = MakeGraph(GraphShape{.type = type}, &t);
    UHandle h = History(g, L);
    for (int32 i = 0; i < L; ++i) {
      const float64 v = fill(i);
      std::memcpy(*h + 4 + 8 * i, &v, 8);
    }
    return g;
  }
  ChartHistory* Rec(int32 g) { return ChartRecordOf(panel_, g); }
  PlotDrawState State(int32 g, bool update, uInt32 autoscale) {
    PlotDrawState st{};
    st.updateDraw = update;
    st.autoscaleMask = autoscale;
    xs_ = {Scale(g, kGPartXScale, 0)};
    ys_ = {Scale(g, kGPartYScale, 0)};
    st.scales = GraphScaleTables{xs_.data(), 1, ys_.data(), 1, 0};
    st.areas = GraphPlotBounds(panel_, g, &st.bounds);
    st.inner = st.bounds;
    DInsetRect(&st.inner, 1, 1);
    return st;
  }
  std::vector<int32> xs_, ys_;
};

TEST_F(ChartUpdate, WindowsFollowOrHoldTheNewestPoints) {
  struct Case {
    const char* name;
    int16 type;
    int32 total, pending;
    float64 xMin, xMax;
    uInt32 autoscale;
    std::vector<float64> range;  // the x scale afterwards
    int32 n, pendingAfter;
    bool update = false;
  } cases[] = {
      {"ten points draw without a scale change", 101, 10, 10, 0, 49, 0, {0, 49}, 10, 10},
      {"60 pending move the scale to the newest 50", 101, 200, 60, 0, 49, 0, {150, 199}, 50, 50},
      {"x autoscale never starts below 0", 102, 30, 30, 0, 49, kGraphFlagAutoX, {0, 29}, 30, 30},
      {"pending is held to what the history holds", 102, 20, 500, 0, 49, 0, {0, 49}, 20, 20},
      {"a negative pending draws nothing", 101, 20, -5, 0, 49, 0, {0, 49}, 0, 0},
      {"near the top of the count the window catches up", 102, 0x7FFFFFF0, 5, 0x7FFFFFF0 - 49.0, 0x7FFFFFF0, kGraphFlagAutoY,
       {0x7FFFFFF0 - 49.0, 0x7FFFFFF0}, 49, 49},
      {"an update draw of the newest 50 takes the scale to them", 103, 200, 60, 0, 49, 0, {150, 199}, 50, 50, true},
      {"an update draw on their scale leaves it", 103, 200, 60, 150, 199, 0, {150, 199}, 50, 50, true},
  };
  for (const Case& c : cases) {
    const int32 g = Chart(c.type, 100, [](int32) { return 1.0; });
    SetScale(Scale(g, kGPartXScale, 0), c.xMin, c.xMax, 41, 279);
    Rec(g)->total = c.total;
    Rec(g)->pending = c.pending;
    Record();
    PlotDrawState st = State(g, c.update, c.autoscale);
    ChartWindow w;
    const ChartWindowOptions opt{kGraphFlagAutoX | kGraphFlagAutoY, false};
    ASSERT_EQ(ChartUpdateWindow(panel_, g, &st, xs_[0], Rec(g), 100, &opt, &w), 0) << c.name;
    EXPECT_EQ(Range(xs_[0]), c.range) << c.name;
    EXPECT_EQ(w.n, c.n) << c.name;
    EXPECT_EQ(Rec(g)->pending, c.pendingAfter) << c.name;
  }
}

TEST_F(ChartUpdate, YAutoscaleScansAWrappingWindowInTwoPieces) {
  // Slots 95 .. 99 hold 1 .. 5 and slots 0 .. 4 hold 6 .. 10; the rest far away.
  const int32 g = Chart(102, 100, [](int32 i) { return i >= 95 ? i - 94.0 : i < 5 ? i + 6.0 : 1000.0; });
  SetScale(Scale(g, kGPartXScale, 0), 95, 144, 41, 279);
  Rec(g)->total = 105;
  Rec(g)->pending = 10;
  SetFlags(g, kGraphFlagAutoY);
  Record();
  float64 point = 0;
  EXPECT_EQ(DrawPlotArea(panel_, g, &point, 0, 0, 4, 1) & kPlotResultFailed, 0);
  const std::vector<float64> y = Range(Scale(g, kGPartYScale, 0));
  ASSERT_EQ(y.size(), 2u);
  EXPECT_LE(y[0], 1);
  EXPECT_GE(y[1], 10);
  EXPECT_LT(y[1], 1000) << "only the window's slots are scanned";
  EXPECT_EQ(Rec(g)->pending, 0);
  int32 n = 0;
  EXPECT_EQ(Plots(g, &n)[0].count, 10);
}

TEST_F(ChartUpdate, StripScrollingMovesTheAreaAndGridsOnlyTheExposedStrip) {
  const int32 g = Chart(103, 100, [](int32 i) { return i % 10; });
  SetW(g, kGraphXGridColorWord, 0x00FF00);
  // x 0 .. 10 over 41 .. 281: 24 pixels a point, grid lines every index.
  SetScale(Scale(g, kGPartXScale, 0), 0, 10, 41, 281);
  SetFlags(Scale(g, kGPartXScale, 0), kScaleHorizontal);
  Rec(g)->total = 13;
  Rec(g)->pending = 3;
  const int32 saved = PrefGet(kPrefScrollingStripCharts);
  PrefSet(kPrefScrollingStripCharts, 1);
  static const DPort port = [] {
    DPort p = RecordingPort();
    p.scrollRect = [](const Rect* r, int32 dh, int32, Bool32, DColor, DColor) {
      calls.push_back({29, *r, dh});
      return int32(0);
    };
    return p;
  }();
  calls.clear();
  screen = true;
  DInstallTestPort(&port);
  float64 point = 0;
  DrawPlotArea(panel_, g, &point, 0, 0, 4, 1);
  PrefSet(kPrefScrollingStripCharts, saved);
  const std::vector<graphtest::PortCall> scrolls = CallsOf(29);
  ASSERT_EQ(scrolls.size(), 1u);
  const int32 dh = scrolls[0].value;
  EXPECT_LT(dh, 0) << "the pixels move left";
  const Rect& s = scrolls[0].r;
  EXPECT_EQ((std::vector<int32>{s.top, s.left, s.bottom, s.right}), (std::vector<int32>{21, 41, 179, 279}));
  // Every grid line lies in the strip the scroll exposed at the right.
  const std::vector<graphtest::PortCall> moves = CallsOf(7);
  int32 gridLines = 0;
  for (const graphtest::PortCall& m : moves)
    if (m.r.top == 21) {
      ++gridLines;
      EXPECT_GE(m.r.left, 279 + dh - 1) << m.r.left;
    }
  EXPECT_GT(gridLines, 0);
  EXPECT_EQ(ScaleRecOf(panel_, Scale(g, kGPartXScale, 0))->max, 12) << "the scale follows the newest point";
}

TEST_F(ChartUpdate, ScrollingPlotsDropsThePointsThatLeave) {
  struct Case {
    int16 type;
    int32 scroll;
    std::vector<int16> after;
  } cases[] = {
      // No point outside: k walks back from the last point to the last one
      // the shift keeps inside.
      {102, 30, {40, 50, 60, 70, 80, 90, 100, 110, 120}},
      {102, -200, {350}},
  };
  for (const Case& c : cases) {
    const int32 g = Chart(c.type, 100, [](int32) { return 1.0; });
    ASSERT_EQ(ResizePlotList(panel_, g, 1, 1, false), kNoErr);
    int32 n = 0;
    PlotRec* p = Plots(g, &n);
    std::vector<int16> xs;
    for (int16 x = 50; x <= 150; x += 10) xs.push_back(x);
    DSSetHandleSize(p->xs, 4 + 2 * int32(xs.size()));
    DSSetHandleSize(p->ys, 4 + 2 * int32(xs.size()));
    for (size_t i = 0; i < xs.size(); ++i) {
      PutNative16(*p->xs + 4 + 2 * i, uInt16(xs[i]));
      PutNative16(*p->ys + 4 + 2 * i, 100);
    }
    p->count = int32(xs.size());
    Record();
    Rect r{21, 41, 179, 279};
    ScrollChartPlots(panel_, g, &r, c.scroll, 1, 1, 0);
    p = Plots(g, &n);
    std::vector<int16> got;
    for (auto [x, y] : graphtest::PlotPoints(*p)) got.push_back(x);
    EXPECT_EQ(got, c.after) << c.scroll;
  }
}

}  // namespace
