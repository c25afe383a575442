// Chart points appended to the pixel segment being drawn, and the band they
// fill in the circular chart image.
#include <gtest/gtest.h>

#include <vector>

#include "graph_test_support.h"
#include "mgsource/prefs.h"

namespace {

using graphtest::GraphShape;

class ChartAppend : public graphtest::GraphTest {
 protected:
  void SetUp() override {
    GraphTest::SetUp();
    if (HasFatalFailure()) return;
    GraphShape s;
    s.type = kChartFirst;
    g_ = MakeGraph(s);
    xs_ = Scale(g_, kGPartXScale, 0);
    ys_ = Scale(g_, kGPartYScale, 0);
    rec_.xs = DSNewHandle(4);
    rec_.ys = DSNewHandle(4);
  }
  void TearDown() override {
    DSDisposeHandle(rec_.xs);
    DSDisposeHandle(rec_.ys);
    GraphTest::TearDown();
  }
  void Hold(const std::vector<std::pair<int16, int16>>& pts) {
    DSSetHandleSize(rec_.xs, 4 + 2 * int32(pts.size()));
    DSSetHandleSize(rec_.ys, 4 + 2 * int32(pts.size()));
    for (size_t i = 0; i < pts.size(); ++i) {
      PutNative16(*rec_.xs + 4 + 2 * i, uInt16(pts[i].first));
      PutNative16(*rec_.ys + 4 + 2 * i, uInt16(pts[i].second));
    }
    rec_.count = int32(pts.size());
  }
  std::vector<std::pair<int16, int16>> Points() { return graphtest::PlotPoints(rec_); }
  int32 g_ = 0, xs_ = 0, ys_ = 0;
  PlotRec rec_{};
};

TEST_F(ChartAppend, CarriedPointsAndColumns) {
  // x 0..10 over 40..280 (24 px a point), y 0..10 over 180..20; the
  // history holds y = 5 everywhere but slot 2 (y = 10).
  std::vector<float64> history(10, 5.0);
  history[2] = 10;
  struct Case {
    const char* name;
    std::vector<std::pair<int16, int16>> held;
    int32 newPoints, firstSeq;
    float64 xMax;
    std::vector<std::pair<int16, int16>> want;
  } cases[] = {
      {"last point carried", {{40, 1}, {64, 2}, {88, 3}}, 2, 4, 10, {{88, 3}, {136, 100}, {160, 100}}},
      {"two sharing a column carried", {{40, 1}, {64, 2}, {64, 3}}, 1, 4, 10, {{64, 2}, {64, 3}, {136, 100}}},
      {"a full history starts empty", {{40, 1}, {64, 2}, {88, 3}}, 10, 0, 10,
       {{40, 100}, {64, 100}, {88, 20}, {112, 100}, {136, 100}, {160, 100}, {184, 100}, {208, 100}, {232, 100},
        {256, 100}}},
      {"one less: the last carried", {{40, 1}, {64, 2}, {88, 3}}, 9, 1, 10,
       {{88, 3}, {64, 100}, {88, 20}, {112, 100}, {136, 100}, {160, 100}, {184, 100}, {208, 100}, {232, 100}, {256, 100}}},
      {"a column only widens", {}, 4, 0, 1000, {{40, 20}, {40, 100}, {41, 100}}},
  };
  for (const Case& c : cases) {
    SetScale(xs_, 0, c.xMax, 40, 280);
    Hold(c.held);
    int32 shift = 0, changed = 0;
    float64 value = 0;
    ASSERT_EQ(ChartAppendPixels(panel_, g_, xs_, ys_, &rec_, 10, c.newPoints, c.firstSeq, history.data(), 8, &shift,
                                &value, 10, &changed),
              0);
    EXPECT_EQ(Points(), c.want) << c.name;
    EXPECT_EQ(changed, 1) << c.name;
  }
  // Past the end: the image moves by the pixels beyond the scale's end.
  SetScale(xs_, 0, 10, 40, 280);
  Hold({});
  int32 shift = 0, changed = 0;
  float64 value = 0;
  ChartAppendPixels(panel_, g_, xs_, ys_, &rec_, 10, 2, 11, history.data(), 8, &shift, &value, 10, &changed);
  EXPECT_EQ(shift, 24 * 2);
  EXPECT_DOUBLE_EQ(value, 2);
}

TEST_F(ChartAppend, StripRangeMovesBackOncePerPass) {
  std::vector<float64> history(10, 5.0);
  SetScale(xs_, 20, 30, 40, 280);
  int32 shift = 0, changed = 0;
  float64 value = 0;
  auto append = [&] {
    ChartAppendPixels(panel_, g_, xs_, ys_, &rec_, 10, 1, 5, history.data(), 8, &shift, &value, 10, &changed);
    return Range(xs_);
  };
  ClearChartRangeMark();
  EXPECT_EQ(append(), (std::vector<float64>{10, 20}));
  EXPECT_EQ(append(), (std::vector<float64>{10, 20})) << "once per pass";
  ClearChartRangeMark();
  EXPECT_EQ(append(), (std::vector<float64>{0, 10}));
  EXPECT_EQ(append(), (std::vector<float64>{0, 10}));
}

TEST_F(ChartAppend, ScrollingBandWrapsInTwoPieces) {
  // The plot area 40..280 inset: 41..279, 238 wide; the image black, the
  // band painted in the plot area's white.
  WindowRef w = ShowInWindow();
  const Rect area{20, 40, 180, 280};
  int32 image = 0;
  ASSERT_EQ(ICreatePixmap(w, &area, 32, &image), kNoErr);
  images_.push_back(image);
  SetW(g_, kGraphPixmapWord, image);
  WPortState port;
  WSetup(w, &port);
  ImageSaveRecord save{};
  IOpen(image, &save);
  DSelectNormPen(0, 0);
  DPaintRect(&area);
  IClose(image, &save);
  SetW(g_, kGraphPixmapPosWord, 233);
  EXPECT_EQ(DrawScrollingChart(panel_, g_, nullptr, 10, 1), 0);
  WRestore(&port);
  EXPECT_EQ(W(g_, kGraphPixmapPosWord), 5);
  struct Probe {
    int32 h;
    uInt32 colour;
  } probes[] = {{41 + 232, 0}, {41 + 234, 0xFFFFFF}, {41 + 237, 0xFFFFFF}, {41 + 2, 0xFFFFFF}, {41 + 6, 0}};
  for (const Probe& p : probes) EXPECT_EQ(Pix(image, area, p.h, 100), p.colour) << p.h;
  CloseWindow();
}

}  // namespace
