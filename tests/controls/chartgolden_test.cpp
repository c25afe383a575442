// Charts fed one point of a sine at a time, drawn at once after each point
// in a window: sweeping, redrawing by window, and scrolling through the
// circular image or by moving the area's pixels.  The window looks as its
// golden (checked by eye once) and a second run leaves it the same.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

#include "controls/chartupdate.h"
#include "controls/graphsupport.h"
#include "golden_image.h"
#include "graph_test_support.h"
#include "mgsource/prefs.h"
#include "mgsource/window/window.h"
#include "platform/qx_surface.h"
#include "platform/qx_window.h"
#include "rtlib/chartdata.h"

namespace {

using graphtest::GraphShape;

class ChartGolden : public graphtest::GraphTest {
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
  struct Chart {
    int16 type;
    bool strip;
    int32 graph = 0;
  };
  // Four charts of history 100 on 200-pixel areas, x 0 .. 99, y -1 .. 1.
  void Make(std::vector<Chart>* charts) {
    const tdb::TD t = tdb::DBL();
    int32 k = 0;
    for (Chart& c : *charts) {
      const int16 top = int16(10 + 95 * k++);
      const Rect area{top, 20, int16(top + 82), 222};
      c.graph = MakeGraph(GraphShape{.type = c.type, .bounds = {top, 10, int16(top + 90), 240}, .plotAreas = {area}},
                          &t);
      SetW(c.graph, kGraphXGridColorWord, 0xC0C0C0);
      SetFlags(Scale(c.graph, kGPartXScale, 0), kScaleHorizontal);
      SetScale(Scale(c.graph, kGPartXScale, 0), 0, 99, area.left + 1, area.right - 2);
      ScaleRecOf(panel_, Scale(c.graph, kGPartXScale, 0))->increment = 20;
      SetScale(Scale(c.graph, kGPartYScale, 0), -1, 1, area.bottom - 2, area.top + 1);
      History(c.graph, 100);
      ASSERT_EQ(ResizePlotList(panel_, c.graph, 1, 1, false), kNoErr);
      int32 n = 0;
      Plots(c.graph, &n)[0].lineColor = 0x0000C0;
    }
  }
  std::vector<uInt32> Run(std::vector<Chart>& charts) {
    PlatSurface* surface = PlatWindowSurface(WHostWindow(window_));
    PlatSurfaceClear(surface, 0xFFFFFF);
    for (Chart& c : charts) {
      PrefSet(kPrefScrollingStripCharts, c.strip);
      EXPECT_EQ(ClearChartData(c.graph), kNoErr);
      for (int32 i = 0; i < 250; ++i) {
        const float64 v = std::sin(i * 2 * M_PI / 40);
        Copy1DToChartHistory(8, 4, &v, 1, ChartRecordOf(panel_, c.graph));
        EXPECT_EQ(DrawPlotArea(panel_, c.graph, nullptr, 0, 0, 4, 1) & kPlotResultFailed, 0);
      }
    }
    std::vector<uInt32> pixels;
    for (int32 v = 0; v < 400; ++v)
      for (int32 h = 0; h < 250; ++h) pixels.push_back(PlatSurfaceGetPixel(surface, h, v));
    return pixels;
  }
  MgErr ClearChartData(int32 g) {
    if (MgErr e = ClearChart(panel_, g)) return e;
    SetScale(Scale(g, kGPartXScale, 0), 0, 99, 21, 220);
    ScaleRecOf(panel_, Scale(g, kGPartXScale, 0))->increment = 20;
    return kNoErr;
  }
};

TEST_F(ChartGolden, ASineSweptRedrawnAndScrolledLooksAsItsGoldenEveryRun) {
  std::vector<Chart> charts{{kChartFirst, false}, {kChartScope, false}, {kChartSweep, false}, {kChartSweep, true}};
  // A shown window, so that what is drawn reaches its surface.
  const Rect place{0, 0, 400, 250};
  window_ = WCreate(0x3C, nullptr, nullptr, &place, 0, 1, 0);
  ASSERT_NE(window_, kWNoWindow);
  PutNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtWindow, uInt32(window_));
  WValidate(window_);
  Make(&charts);
  const int32 strip = PrefGet(kPrefScrollingStripCharts), offscreen = PrefGet(kPrefOffscreenUpdates);
  PrefSet(kPrefOffscreenUpdates, 0);
  WPortState port;
  WSetup(window_, &port);
  const std::vector<uInt32> first = Run(charts);
  const std::vector<uInt32> second = Run(charts);
  WRestore(&port);
  PrefSet(kPrefScrollingStripCharts, strip);
  PrefSet(kPrefOffscreenUpdates, offscreen);
  EXPECT_TRUE(first == second) << "a second run draws the same pixels";
  qxtest::ExpectMatchesGolden(PlatWindowSurface(WHostWindow(window_)),
                              std::filesystem::path(QX_SOURCE_DIR) / "tests/controls/goldens/chart_modes.png",
                              "regenerate the chart sheet (QX_UPDATE_GOLDENS=1) and check it by eye");
  CloseWindow();
}

}  // namespace
