// Waveform graphs drawn whole: their own x0 and dx place and scale the
// plot, and the plot reaches the rendered plot area in its colours.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "graph_test_support.h"
#include "mgsource/prefs.h"

namespace {

using tdb::Array, tdb::Cluster, tdb::DBL, tdb::TD;
using graphtest::GraphShape;
constexpr float64 kNotANumber = std::numeric_limits<float64>::quiet_NaN();

class PlotImage : public graphtest::GraphTest {
 protected:
  // The plots drawn straight into the port, not through the cached image.
  void SetUp() override {
    GraphTest::SetUp();
    offscreen_ = PrefGet(kPrefOffscreenUpdates);
    PrefSet(kPrefOffscreenUpdates, 0);
  }
  void TearDown() override {
    PrefSet(kPrefOffscreenUpdates, offscreen_);
    GraphTest::TearDown();
  }
  int32 offscreen_ = 0;
};

TEST_F(PlotImage, WaveformsDrawnAtTheirOwnX) {
  struct Case {
    const char* name;
    bool many;            // an array of waveforms
    float64 x0, dx;
    int32 points;         // y = x - x0, rising one per point
    bool autoscale;
    int32 mode;           // blink mode 1 draws the highlighted plot
    std::vector<float64> xRange;
    uInt32 onLine;        // the colour at the second point's pixel
  } cases[] = {
      {"x0 0, dx 1 on 0..10", false, 0, 1, 11, false, 4, {0, 10}, 0xFF0000},
      {"autoscaled to its own x", false, 100, 2, 6, true, 4, {100, 110}, 0xFF0000},
      {"highlighted", false, 0, 1, 11, false, 1, {0, 10}, 0x00FFFF},
      {"NaN dx scales by 1, draws nothing", true, 5, kNotANumber, 3, true, 4, {5, 7}, 0xFFFFFF},
      {"dx 0 scales by 1, draws nothing", true, 5, 0, 3, true, 4, {5, 7}, 0xFFFFFF},
  };
  for (const Case& c : cases) {
    const TD wave = Cluster({DBL(), DBL(), Array(DBL())});
    const TD type = c.many ? Array(wave) : wave;
    GraphShape s;
    const int32 g = MakeGraph(s, &type);
    std::vector<float64> y;
    for (int32 i = 0; i < c.points; ++i) y.push_back(i);
    std::vector<uChar> rec;
    Put(&rec, c.x0);
    Put(&rec, c.dx);
    Put(&rec, Doubles(y));
    UHandle many = c.many ? Records(rec, 1) : nullptr;
    void* value = c.many ? static_cast<void*>(&many) : rec.data();
    ASSERT_EQ(ResizePlotList(panel_, g, 1, 0, false), kNoErr);
    int32 n = 0;
    Plots(g, &n)[0].lineColor = 0xFF0000;
    Plots(g, &n)[0].interpolation = 2;
    PutNative16(*panel_ + g + kGraphHighlightPlotByte, 0);
    SetFlags(g, kGraphFlagAutoX, c.autoscale);
    const Rect area = s.bounds;
    const int32 img = DrawInto(area, [&] { DrawPlotArea(panel_, g, value, 0, 0, c.mode, 1); });
    EXPECT_EQ(Range(Scale(g, kGPartXScale, 0)), c.xRange) << c.name;
    // The second point: x0 + dx on the x scale, 1 on the y scale 0..10.
    const ScaleRec* xr = ScaleRecOf(panel_, Scale(g, kGPartXScale, 0));
    const float64 x = c.xRange[0] + (std::isfinite(c.dx) && c.dx ? c.dx : 1);
    const int32 h =
        int32(std::lround(xr->pixelStart + (x - xr->min) / (xr->max - xr->min) * (xr->pixelEnd - xr->pixelStart)));
    const int32 v = 180 - 16;
    EXPECT_EQ(Pix(img, area, h, v), c.onLine) << c.name << " at " << h << "," << v;
    EXPECT_EQ(Pix(img, area, h, v - 30), 0xFFFFFFu) << c.name << " off the line";
    CloseWindow();
  }
}

// Strip charts mark their newest column with a red line over the plot area.
TEST_F(PlotImage, ChartMarkerLine) {
  struct Case {
    int16 type;
    Rect update;
    int32 x;  // where the line lands
  } cases[] = {
      {kChartFirst, {21, 100, 179, 120}, 121},   // left to right: its right edge + 1
      {kChartFirst, {21, 120, 179, 100}, 99},    // turned round: right edge - 1
      {kIntensChartFirst, {21, 100, 179, 120}, 42},  // intensity charts: the area's left + 1
  };
  for (const Case& c : cases) {
    GraphShape s;
    s.type = c.type;
    const int32 g = MakeGraph(s);
    Rect area = s.plotAreas[0];
    const int32 img = DrawInto(s.bounds, [&] {
      EXPECT_EQ(RefreshPlotImage(panel_, g, &area, &c.update, kPlotWorkFullRedraw | kPlotWorkUpdate, nullptr, 1), 0);
    });
    EXPECT_EQ(Pix(img, s.bounds, c.x, 100), 0xFF0000u) << c.type << " " << c.x;
    EXPECT_EQ(Pix(img, s.bounds, c.x, 22), 0xFF0000u) << "full height";
    EXPECT_NE(Pix(img, s.bounds, c.x + 1, 100), 0xFF0000u);
    EXPECT_EQ(R(area), R(s.plotAreas[0])) << "the area is given back as it came";
    CloseWindow();
  }
}

}  // namespace
