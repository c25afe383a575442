#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "controls/graphdraw.h"
#include "golden_image.h"
#include "graph_test_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "mgsource/prefs.h"

namespace {

using graphtest::GraphTest;
using graphtest::PortCall;

enum : int32 { kMoveTo = 7, kLineTo = 9, kStep = 11, kPoly = 12, kPixel = 5, kOval = 18 };

class PlotLines : public GraphTest {
 protected:
  void TearDown() override {
    for (UHandle h : handles_) DSDisposeHandle(h);
    GraphTest::TearDown();
  }
  // A record of the points given, line and points black, width 1.
  PlotRec Plot(const std::vector<std::pair<int16, int16>>& pts, int16 interpolation, int16 pointStyle) {
    PlotRec p{};
    p.lineColor = 0;
    p.pointColor = 0;
    p.interpolation = interpolation;
    p.pointStyle = pointStyle;
    p.lineWidth = 1;
    p.xs = DSNewHandle(4 + 2 * int32(pts.size()));
    p.ys = DSNewHandle(4 + 2 * int32(pts.size()));
    handles_.push_back(p.xs);
    handles_.push_back(p.ys);
    for (size_t i = 0; i < pts.size(); ++i) {
      PutNative16(*p.xs + 4 + 2 * i, uInt16(pts[i].first));
      PutNative16(*p.ys + 4 + 2 * i, uInt16(pts[i].second));
    }
    p.count = int32(pts.size());
    return p;
  }
  void RecordLines() { Record(); }
  std::vector<UHandle> handles_;
};

std::vector<std::pair<int16, int16>> Ramp(int32 n) {
  std::vector<std::pair<int16, int16>> v;
  for (int32 i = 0; i < n; ++i) v.push_back({int16(i), int16(i % 7)});
  return v;
}

TEST_F(PlotLines, WhatTheLineDrawingAsks) {
  auto withGap = Ramp(9);
  withGap[4].second = kPlotGap;
  auto shortGap = Ramp(5);
  shortGap[2].first = kPlotGap;
  struct Case {
    const char* name;
    std::vector<std::pair<int16, int16>> pts;
    int16 interpolation, pointStyle;
    int32 lineColour;
    std::vector<int32> slots;   // the drawing calls in order
    std::vector<int32> values;  // their counts or flags
  } cases[] = {
      {"401 points: three polylines", Ramp(401), 2, 0, 0, {kPoly, kPoly, kPoly}, {200, 200, 3}},
      {"a gap ends one polyline", withGap, 2, 0, 0, {kPoly, kPoly}, {4, 4}},
      {"five points: moves and lines", shortGap, 2, 0, 0, {kMoveTo, kLineTo, kMoveTo, kLineTo}, {0, 0, 0, 0}},
      {"step 1 sets the flag", Ramp(3), 1, 0, 0, {kMoveTo, kStep, kStep}, {0, 1, 1}},
      {"step 3 clears it", Ramp(3), 3, 0, 0, {kMoveTo, kStep, kStep}, {0, 0, 0}},
      {"no line, no points: nothing", Ramp(3), 0, 0, 0, {}, {}},
      {"no line colour: markers only", Ramp(2), 2, 13, kNoColor, {kPixel, kPixel}, {0, 0}},
  };
  for (const Case& c : cases) {
    PlotRec p = Plot(c.pts, c.interpolation, c.pointStyle);
    p.lineColor = c.lineColour;
    RecordLines();
    EXPECT_EQ(DrawPointStyle(&p, nullptr, false), 0) << c.name;
    std::vector<int32> slots, values;
    for (const PortCall& call : calls)
      if (call.slot == kMoveTo || call.slot == kLineTo || call.slot == kStep || call.slot == kPoly ||
          call.slot == kPixel) {
        slots.push_back(call.slot);
        values.push_back(call.value);
      }
    EXPECT_EQ(slots, c.slots) << c.name;
    EXPECT_EQ(values, c.values) << c.name;
  }
  // The polylines share their ends: the second starts at point 199, the
  // third at 398.
  PlotRec p = Plot(Ramp(401), 2, 0);
  RecordLines();
  DrawPointStyle(&p, nullptr, false);
  const auto polys = CallsOf(kPoly);
  ASSERT_EQ(polys.size(), 3u);
  EXPECT_EQ(polys[1].r.left, 199);
  EXPECT_EQ(polys[2].r.left, 398);
  EXPECT_EQ(polys[2].r.right, 400);
  // A legend row 100 wide, line width 1: 12 points 10 apart, zigzagging.
  p.pointStyle = 0;
  RecordLines();
  const Rect row{10, 20, 30, 120};
  EXPECT_EQ(DrawPointStyle(&p, &row, false), 0);
  const auto legend = CallsOf(kPoly);
  ASSERT_EQ(legend.size(), 1u);
  EXPECT_EQ(legend[0].value, 12);
  EXPECT_EQ(legend[0].r.left, 22);
  EXPECT_EQ(legend[0].r.right, 22 + 110);
  EXPECT_EQ(legend[0].r.top, 24);      // bottom - 3 - 2 - 1
  EXPECT_EQ(legend[0].r.bottom, 13);   // odd points h = 11 higher
}

// Rendered markers: which pixels around the point each shape sets.
TEST_F(PlotLines, MarkersRendered) {
  const Rect area{0, 0, 40, 40};
  struct Case {
    int16 style, width;
    bool pattern;
    std::vector<std::pair<int32, int32>> on, off;  // offsets from (20, 20)
  } cases[] = {
      {13, 1, false, {{0, 0}}, {{1, 0}, {0, 1}}},
      {14, 1, false, {{-2, 0}, {2, 0}, {0, -2}, {0, 2}}, {{1, 1}}},
      {16, 1, false, {{-2, -2}, {2, 2}, {1, -1}}, {{0, 1}}},
      {9, 1, false, {{-2, -2}, {2, 2}, {0, 0}}, {{3, 3}, {-3, 0}}},   // r = 3: right/bottom exclusive
      {8, 3, false, {{-3, -3}, {3, 0}}, {{0, 0}}},                      // s = 3, r = 4
      {12, 1, false, {{-1, -1}, {1, 1}}, {{-2, 0}, {2, 2}}},            // s/2 = 1 .. s = 2
      {4, 1, true, {{-1, -2}, {-2, 0}, {2, 1}}, {{0, 0}, {-2, -2}}},    // ring glyph
      {18, 1, true, {{0, -2}, {-1, -1}, {2, 0}}, {{0, 0}, {-2, -2}}},   // diamond glyph
  };
  for (const Case& c : cases) {
    PlotRec p = Plot({{20, 20}}, 0, c.style);
    p.lineWidth = c.width;
    const int32 img = DrawInto(area, [&] { DrawPointStyle(&p, nullptr, c.pattern); });
    for (auto [dh, dv] : c.on) EXPECT_EQ(Pix(img, area, 20 + dh, 20 + dv), 0u) << c.style << " " << dh << "," << dv;
    for (auto [dh, dv] : c.off)
      EXPECT_EQ(Pix(img, area, 20 + dh, 20 + dv), 0xFFFFFFu) << c.style << " " << dh << "," << dv;
  }
}

// One sheet of what plots look like: markers 4-19 as shapes at widths 1, 3
// and 5 and as stamped glyphs; interpolations 0-3 through a gap; line styles
// 0-4 at widths 1 and 3.
TEST_F(PlotLines, GoldenSheet) {
  const Rect sheet{0, 0, 400, 400};
  auto plot = [&](std::vector<std::pair<int16, int16>> pts, int16 interpolation, int16 style, int16 width,
                  int16 lineStyle, bool pattern) {
    PlotRec p = Plot(pts, interpolation, style);
    p.lineWidth = width;
    p.lineStyle = lineStyle;
    p.lineColor = 0x0000C0;
    p.pointColor = 0xC00000;
    DrawPointStyle(&p, nullptr, pattern);
  };
  auto drawRows = [&] {
    const int16 widths[] = {1, 3, 5};
    for (int32 row = 0; row < 4; ++row)
      for (int16 style = 4; style <= 19; ++style)
        plot({{int16(15 + 24 * (style - 4)), int16(15 + 28 * row)}}, 0, style, row < 3 ? widths[row] : 1, 0, row == 3);
    for (int16 interp = 0; interp <= 3; ++interp) {
      std::vector<std::pair<int16, int16>> zig;
      for (int16 i = 0; i < 8; ++i) zig.push_back({int16(10 + 95 * interp + 11 * i), int16(i % 2 ? 130 : 150)});
      zig[4].second = kPlotGap;
      plot(zig, interp, 13, 1, 0, false);
    }
    for (int16 width : {1, 3})
      for (int16 ls = 0; ls <= 4; ++ls) {
        const int16 v = int16(width == 1 ? 190 : 230);
        plot({{int16(10 + 78 * ls), v}, {int16(80 + 78 * ls), int16(v - 20)}}, 2, 0, width, ls, false);
      }
  };
  // Last row: a graph of two waveforms drawn in blink mode 1 with plot 0
  // highlighted (upper, in the highlight colours) over plot 1 (lower, in its own).
  const tdb::TD wave = tdb::Cluster({tdb::DBL(), tdb::DBL(), tdb::Array(tdb::DBL())});
  const tdb::TD type = tdb::Array(wave);
  graphtest::GraphShape shape;
  shape.bounds = Rect{262, 0, 400, 400};
  shape.plotAreas = {Rect{270, 10, 392, 390}};
  const int32 g = MakeGraph(shape, &type);
  std::vector<uChar> recs;
  for (int32 k = 0; k < 2; ++k) {
    std::vector<float64> y;
    for (int32 i = 0; i <= 10; ++i) y.push_back((i % 2 ? 8.5 : 6.0) - 4.0 * k);
    Put(&recs, 0.0);
    Put(&recs, 1.0);
    Put(&recs, Doubles(y));
  }
  UHandle waves = Records(recs, 2);
  ASSERT_EQ(ResizePlotList(panel_, g, 2, 0, false), kNoErr);
  int32 n = 0;
  for (int32 k = 0; k < 2; ++k) {
    PlotRec& p = Plots(g, &n)[k];
    p.lineColor = 0x0000C0;
    p.pointColor = 0xC00000;
    p.interpolation = 2;
    p.pointStyle = 8;
    p.lineWidth = 3;
  }
  PutNative16(*panel_ + g + kGraphHighlightPlotByte, 0);
  const int32 offscreen = PrefGet(kPrefOffscreenUpdates);
  PrefSet(kPrefOffscreenUpdates, 0);  // drawn straight into the sheet, not through the cached image
  const int32 img = DrawInto(sheet, [&] {
    drawRows();
    DrawPlotArea(panel_, g, &waves, 0, 0, 1, 0);
  });
  PrefSet(kPrefOffscreenUpdates, offscreen);
  // The highlight drew over the record only while it was drawn.
  EXPECT_EQ(Plots(g, &n)[0].lineColor, 0x0000C0);
  EXPECT_EQ(Plots(g, &n)[0].pointColor, 0xC00000u);
  qxtest::ExpectMatchesGolden(PlatBitmapSurface(PlatObj(IEntryOf(img).extra)),
                              std::filesystem::path(QX_SOURCE_DIR) / "tests/controls/goldens/plot_lines_sheet.png",
                              "regenerate the plot line sheet (QX_UPDATE_GOLDENS=1) and check it by eye");
}

}  // namespace
