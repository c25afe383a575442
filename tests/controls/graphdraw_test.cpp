// The graph's own drawing and value display: the legend's rows, the chart
// scroll bar's numbers, clearing a chart's history, and greyed graphs.
#include <gtest/gtest.h>

#include <tuple>

#include "controls/graphdraw.h"
#include "graph_test_support.h"
#include "panel/oinval.h"
#include "panel/paneldisplay.h"
#include "rtlib/panellocators.h"

namespace {

using tdb::Array, tdb::AsTD, tdb::Cluster, tdb::DBL, tdb::I16, tdb::I32, tdb::String, tdb::TD;

class GraphDrawTest : public graphtest::GraphTest {
 protected:
  void TearDown() override {
    EXPECT_EQ(Asserts(), 0) << qxtest::Reports::Get().Text();
    GraphTest::TearDown();
  }
  // A chart whose history record holds count points of a buffer of size.
  int32 Chart(int32 count, int32 size) {
    const TD value = DBL();
    const int32 g = MakeGraph({.type = 101, .scrollbar = true}, &value);
    ChartHistoryView h;
    EXPECT_TRUE(ChartHistoryOf(panel_, g, &h));
    if (!h.count) return g;
    *h.count = count;
    UHandle buffer = DSNewHClr(8 + 8 * size);  // the data space owns it
    PutNative32(*buffer, uInt32(size));
    std::memcpy(reinterpret_cast<uChar*>(h.count) + 12, &buffer, sizeof buffer);
    return g;
  }
};

// A legend 50 high with rows of 20 shows a third, partial row only when
// there is a third plot; the list grows to the rows shown.
TEST_F(GraphDrawTest, LegendShowsWholeRowsAndOneMoreForMorePlots) {
  const std::tuple<int32, int32, int32> cases[] = {{3, 60, 3}, {2, 40, 2}, {1, 40, 2}};
  for (const auto& [plots, height, listed] : cases) {
    const TD t = Array(DBL());
    const int32 g = MakeGraph({.legend = {100, 10, 150, 110}}, &t);
    SetBounds(W(g, kGraphLegendLabelWord), Rect{0, 0, 14, 30});
    ASSERT_EQ(ResizePlotList(panel_, g, plots, 0, false), kNoErr);
    WPortState port;
    WSetup(ShowInWindow(), &port);
    GraphODrawMethod(panel_, g, nullptr, 0, 4);
    WRestore(&port);
    Rect legend;
    std::memcpy(&legend, *panel_ + FindPart(panel_, g, kGPartPlotLegend, 0) + kObjBounds, sizeof legend);
    EXPECT_EQ(legend.bottom - legend.top, height) << plots << " plots";
    EXPECT_EQ(PlotCount(g), listed);
    CloseWindow();
  }
}

TEST_F(GraphDrawTest, ChartScrollBarFollowsTheKeptHistory) {
  const int32 g = Chart(300, 128);
  ChartHistoryView h;
  ASSERT_TRUE(ChartHistoryOf(panel_, g, &h));
  ScaleRec x{};
  x.min = 95.4;
  x.max = 195.6;
  int32 pos = 0, page = 0, total = 0;
  ChartScrollNumbers(x, h, &pos, &page, &total);
  EXPECT_EQ((std::vector<int32>{pos, page, total}), (std::vector<int32>{95 - 172, 101, 128}));
  *h.count = 20;  // nothing dropped yet
  ChartScrollNumbers(x, h, &pos, &page, &total);
  EXPECT_EQ(pos, 95);
}

TEST_F(GraphDrawTest, ClearingAChartStartsItsRangeOverWithItsSpan) {
  const std::pair<std::vector<float64>, std::vector<float64>> cases[] = {{{100, 200}, {0, 100}},
                                                                         {{250, 200}, {50, 0}}};
  for (const auto& [before, after] : cases) {
    const int32 g = Chart(300, 128);
    SetScale(Scale(g, kGPartXScale, 0), before[0], before[1], 40, 280);
    SetFlags(g, 0x1000000);
    ChartClearHistory(panel_, g);
    ChartHistoryView h;
    ChartHistoryOf(panel_, g, &h);
    EXPECT_EQ(*h.count, 0);
    EXPECT_EQ(Range(Scale(g, kGPartXScale, 0)), after);
    EXPECT_EQ(ScaleRecOf(panel_, Scale(g, kGPartXScale, 0))->start, after[0]);
    EXPECT_EQ(Flags(g) & 0x1000000, 0u);
  }
}

// A value reaches the plot area at once; a greyed graph is only invalidated.
TEST_F(GraphDrawTest, DisplayedValuesDrawThePlotAreaUnlessGreyed) {
  const TD t = Array(Cluster({Array(DBL())}));
  UHandle v = Records(Bytes(Doubles({1}), Doubles({2})), 2);
  Record();
  const int32 g = MakeGraph({}, &t);
  EXPECT_EQ(GraphODisplayValMethod(panel_, g, nullptr, &v), 0);
  EXPECT_EQ(PlotCount(g), 2);
  const int32 greyed = MakeGraph({}, &t);
  SetFlags(greyed, 0x80);
  EXPECT_EQ(GraphODisplayValMethod(panel_, greyed, nullptr, &v), 0x20000);
  EXPECT_EQ(PlotCount(greyed), 0);
}

}  // namespace
