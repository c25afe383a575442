#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <limits>
#include <vector>

#include "mgsource/numconv.h"
#include "graph_test_support.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"

namespace {

using graphtest::GraphShape;
using graphtest::GraphTest;
constexpr float64 kNaN = std::numeric_limits<float64>::quiet_NaN();
constexpr float64 kInf = std::numeric_limits<float64>::infinity();

TEST(PlotPrep, ScanNumericRangeTable) {
  struct Pass {
    std::vector<float64> v;
    bool positive;
  };
  struct Case {
    const char* name;
    std::vector<Pass> passes;
    int16 foundBefore;
    bool found;
    float64 lo, hi;
  };
  const Case cases[] = {
      {"skips NaN and infinities", {{{kNaN, 3, -1, kInf}, false}}, 0, true, -1, 3},
      {"positive only", {{{0, -2, 5, 1}, true}}, 0, true, 1, 5},
      {"nothing positive keeps the flag and range", {{{0, -2}, true}}, 1, true, 7, 8},
      {"nothing positive, flag clear", {{{0, -2}, true}}, 0, false, 7, 8},
      {"union with an earlier plot", {{{1, 2}, false}, {{0, 5}, false}}, 0, true, 0, 5},
      {"a second plot inside the first", {{{0, 9}, false}, {{2, 3}, false}}, 0, true, 0, 9},
  };
  for (const Case& c : cases) {
    float64 lo = 7, hi = 8;
    int16 found = c.foundBefore;
    for (const Pass& p : c.passes)
      ScanNumericRange(p.v.data(), 8, int32(p.v.size()), 10, &lo, &hi, &found, p.positive);
    EXPECT_EQ(found != 0, c.found) << c.name;
    EXPECT_EQ(lo, c.lo) << c.name;
    EXPECT_EQ(hi, c.hi) << c.name;
  }
  // Other types: 64-bit integers keep their order, extended goes through
  // double, singles skip NaN, a stride walks clusters.
  const int64 big[] = {int64(1) << 40, -3, 5};
  const uInt16 words[] = {9, 0, 4, 0, 7, 0};  // every other word
  float32 singles[] = {std::nanf(""), 2.5f, -1.5f};
  uChar ext[20] = {};
  const float64 e0 = -6.5, e1 = 12;
  ConvertNum(10, &e0, 11, ext);
  ConvertNum(10, &e1, 11, ext + 10);
  struct Typed {
    const void* data;
    int32 stride, count, type;
    float64 lo, hi;
    bool found;
  } typed[] = {
      {big, 8, 3, 4, -3, float64(int64(1) << 40), true},
      {words, 4, 3, 6, 4, 9, true},
      {singles, 4, 3, 9, -1.5, 2.5, true},
      {singles, 4, 3, 0x19, -1.5, 2.5, true},
      {ext, 10, 2, 11, -6.5, 12, true},
  };
  for (const Typed& t : typed) {
    float64 lo = 0, hi = 0;
    int16 found = 0;
    ScanNumericRange(t.data, t.stride, t.count, t.type, &lo, &hi, &found, false);
    EXPECT_EQ(found != 0, t.found) << t.type;
    EXPECT_EQ(lo, t.lo) << t.type;
    EXPECT_EQ(hi, t.hi) << t.type;
  }
}

TEST(PlotPrep, RampTypes) {
  struct Case {
    float64 x0, dx;
    int32 n;
    bool integers;
    int32 size, type;
    float64 first, last;
  } cases[] = {
      {0, 1, 70000, true, 4, 3, 0, 69999},
      {2.4, 1, 10, true, 2, 6, 2, 11},
      {0, 0.5, 10, true, 8, 10, 0, 4.5},  // a fractional step stays exact
      {-5, 2, 4, true, 4, 3, -5, 1},
      {0, 1, 10, false, 8, 10, 0, 9},
      {1e10, 1, 3, true, 8, 10, 1e10, 1e10 + 2},
  };
  for (const Case& c : cases) {
    int32 size = 0, type = 0;
    void* p = MakeRampArray(c.x0, c.dx, c.n, c.integers, &size, &type);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(size, c.size) << c.x0 << " " << c.dx;
    EXPECT_EQ(type, c.type) << c.x0 << " " << c.dx;
    float64 first = 0, last = 0;
    ConvertNum(type, p, 10, &first);
    ConvertNum(type, static_cast<uChar*>(p) + int64(c.n - 1) * size, 10, &last);
    EXPECT_EQ(first, c.first);
    EXPECT_EQ(last, c.last);
    FreeAndClearPtr(&p);
    EXPECT_EQ(p, nullptr);
  }
}

class PlotPrepGraph : public GraphTest {
 protected:
  void SetUp() override {
    GraphTest::SetUp();
    if (HasFatalFailure()) return;
    g_ = MakeGraph(GraphShape{});
    xs_ = Scale(g_, kGPartXScale, 0);
    ys_ = Scale(g_, kGPartYScale, 0);
    rec_ = PlotRec{};
    rec_.xs = DSNewHandle(4);
    rec_.ys = DSNewHandle(4);
  }
  void TearDown() override {
    DSDisposeHandle(rec_.xs);
    DSDisposeHandle(rec_.ys);
    GraphTest::TearDown();
  }
  std::vector<std::pair<int16, int16>> Points() { return graphtest::PlotPoints(rec_); }
  int32 g_ = 0, xs_ = 0, ys_ = 0;
  PlotRec rec_{};
};

TEST_F(PlotPrepGraph, ClipKeepsOnePointOutsideEachSide) {
  struct Case {
    float64 min, max, x0, dx;
    int32 n;
    int32 skip, count;
    float64 x0After;
  } cases[] = {
      {9.5, 20.5, 0, 1, 100, 9, 13, 9},      // 9 and 21 stay outside
      {20.5, 9.5, 0, 1, 100, 9, 13, 9},      // a reversed scale clips alike
      {9.5, 20.5, 99, -1, 100, 78, 13, 21},  // falling ramp: 21 .. 9
      {10, 20, 0, 1, 100, 10, 11, 10},       // points on the ends are the outermost
      {9.5, 20.5, 30, 1, 5, 0, 0, 0},        // wholly right of the scale
      {9.5, 20.5, 12, 1, 5, 0, 5, 12},       // inside: unchanged
      {9.5, 20.5, 0, 0, 100, 0, 0, 0},       // no step: no points
      {9.5, 20.5, kNaN, 1, 100, 0, 0, kNaN},
      {9.5, 20.5, 0, kNaN, 100, 0, 0, 0},
      {10, 10, 0, 1, 100, 0, 0, 0},          // a scale without a range
  };
  for (const Case& c : cases) {
    SetScale(xs_, c.min, c.max, 40, 280);
    float64 x0 = c.x0;
    int32 n = c.n;
    const int32 skip = ClipWaveformToScale(panel_, g_, ObjWord(panel_, xs_, kScaleObjData), &x0, &n, c.dx);
    EXPECT_EQ(skip, c.skip) << c.x0 << " " << c.dx;
    EXPECT_EQ(n, c.count) << c.x0 << " " << c.dx;
    if (!std::isnan(c.x0After)) { EXPECT_EQ(x0, c.x0After) << c.x0 << " " << c.dx; }
  }
}

TEST_F(PlotPrepGraph, Reduction) {
  // 10,000 points on 200 columns: at most two a column, each column's
  // extremes present.
  SetScale(xs_, 0, 9999, 40, 239);
  SetScale(ys_, -1, 1, 180, 20);
  std::vector<float64> y(10000);
  for (int32 i = 0; i < 10000; ++i) y[size_t(i)] = std::sin(i * 0.37) * ((i % 97) ? 0.5 : 1.0);
  int32 size = 0, type = 0;
  void* ramp = MakeRampArray(0, 1, 10000, true, &size, &type);
  rec_.interpolation = 2;
  ASSERT_EQ(MapPlotToPixelsDecimated(panel_, g_, xs_, ys_, &rec_, ramp, y.data(), size, 8, 10000, type, 10), 0);
  const auto pts = Points();
  EXPECT_LE(pts.size(), 400u);
  EXPECT_GE(pts.size(), 200u);
  std::vector<int16> ypx(10000), xpx(10000);
  MapValuesToPixels(panel_, ObjWord(panel_, ys_, kScaleObjData), 10, y.data(), 8, 10000, ypx.data(), 2);
  MapValuesToPixels(panel_, ObjWord(panel_, xs_, kScaleObjData), type, ramp, size, 10000, xpx.data(), 2);
  std::map<int16, std::pair<int16, int16>> want;  // column: lowest and highest pixel
  for (int32 i = 0; i < 10000; ++i) {
    auto [it, added] = want.try_emplace(xpx[size_t(i)], ypx[size_t(i)], ypx[size_t(i)]);
    it->second.first = std::min(it->second.first, ypx[size_t(i)]);
    it->second.second = std::max(it->second.second, ypx[size_t(i)]);
  }
  std::map<int16, std::pair<int16, int16>> got;
  for (auto [x, v] : pts) {
    auto [it, added] = got.try_emplace(x, v, v);
    it->second.first = std::min(it->second.first, v);
    it->second.second = std::max(it->second.second, v);
  }
  EXPECT_EQ(got, want);
  // A point style, a fill target or a 64-bit plot changes the path.
  struct Case {
    int16 pointStyle, fillTarget, yType;
    size_t low, high;  // the point count's bounds
    bool gaps;
  } cases[] = {{8, 0, 10, 9000, 10000, false}, {0, 1, 10, 10000, 10000, false}, {0, 0, 4, 200, 200, true}};
  std::vector<int64> wide(10000, 3);
  for (const Case& c : cases) {
    rec_.pointStyle = c.pointStyle;
    rec_.fillTarget = c.fillTarget;
    const void* data = c.yType == 4 ? static_cast<const void*>(wide.data()) : y.data();
    ASSERT_EQ(MapPlotToPixelsDecimated(panel_, g_, xs_, ys_, &rec_, ramp, data, size, 8, 10000, type, c.yType), 0);
    const auto p = Points();
    EXPECT_GE(p.size(), c.low) << c.pointStyle;
    EXPECT_LE(p.size(), c.high) << c.pointStyle;
    bool allGaps = !p.empty();
    for (auto [x, v] : p) allGaps = allGaps && v == kPlotGap;
    EXPECT_EQ(allGaps, c.gaps) << c.yType;
  }
  FreeAndClearPtr(&ramp);
  // Collinear and duplicate rules on direct pixels (scales 0..10 over 0..10 px).
  rec_.pointStyle = 0;
  rec_.fillTarget = 0;
  SetScale(xs_, 0, 10, 0, 10);
  SetScale(ys_, 0, 10, 0, 10);
  struct Line {
    std::vector<float64> x, y;
    int16 interpolation;
    std::vector<std::pair<int16, int16>> want;
  } lines[] = {
      {{0, 1, 2, 2}, {0, 0, 0, 5}, 2, {{0, 0}, {2, 0}, {2, 5}}},
      {{0, 1, 2, 3}, {0, 1, 2, 3}, 2, {{0, 0}, {3, 3}}},
      {{0, 1, 2, 1}, {0, 0, 0, 0}, 2, {{0, 0}, {2, 0}, {1, 0}}},   // turning back is kept
      {{0, 1, 1, 2}, {0, 0, 0, 0}, 1, {{0, 0}, {1, 0}, {2, 0}}},   // steps: duplicates only
      {{0, 1, kNaN, 3}, {0, 0, 0, 0}, 2, {{0, 0}, {1, 0}, {kPlotGap, 0}, {3, 0}}},  // gaps stay
  };
  for (const Line& l : lines) {
    rec_.interpolation = l.interpolation;
    ASSERT_EQ(MapPlotToPixels(panel_, g_, xs_, ys_, &rec_, l.x.data(), l.y.data(), 8, 8, int32(l.x.size()), 10, 10), 0);
    EXPECT_EQ(Points(), l.want) << l.interpolation;
  }
}

}  // namespace
