// Interpolation, threshold and the strip-chart history: the documented
// cases, types other than double, layouts under both alignments, bad types
// and damaged records, a model of the ring, and the table entries.
#include <cmath>
#include <cstring>
#include <deque>
#include <random>
#include <vector>

#include "compiled_call.h"
#include "engine/align_scope.h"
#include "engine/datatype.h"
#include "mgsource/byteorder.h"
#include "mgsource/fourcc.h"
#include "mgsource/memory.h"
#include "rtlib/chartdata.h"
#include "rtmath_test_support.h"
#include "rttable_start.h"

namespace {

using qxtest::AlignScope;
using rttest::RTMathTest;

constexpr int32 kDbl = kTDDBL, kI16 = kTDI16;
constexpr int32 Plain(int32 y) { return y << 16; }
constexpr int32 Points(int32 x, int32 y) { return (y << 16) | x; }

// A 1-D array handle: the count, then `elems` bytes from `first`.
UHandle NewArray(int32 count, int32 first, const std::vector<uChar>& elems) {
  UHandle h = DSNewHClr(first + int32(elems.size()));
  PutNative32(*h, uInt32(count));
  if (!elems.empty()) std::memcpy(*h + first, elems.data(), elems.size());
  return h;
}
template <class T>
void Put(std::vector<uChar>* b, size_t at, T v) {
  if (b->size() < at + sizeof v) b->resize(at + sizeof v);
  std::memcpy(b->data() + at, &v, sizeof v);
}
UHandle Doubles(const std::vector<float64>& ys) {
  std::vector<uChar> b;
  for (size_t i = 0; i < ys.size(); ++i) Put(&b, 8 * i, ys[i]);
  return NewArray(int32(ys.size()), 4, b);
}
// Points {DBL x, DBL y}: packed, the first at 4; aligned to 8, the first at 8.
UHandle DblPoints(const std::vector<std::pair<float64, float64>>& pts, int32 first) {
  std::vector<uChar> b;
  for (size_t i = 0; i < pts.size(); ++i) {
    Put(&b, 16 * i, pts[i].first);
    Put(&b, 16 * i + 8, pts[i].second);
  }
  return NewArray(int32(pts.size()), first, b);
}

float64 Interp(int32 types, UHandle a, float64 x) {
  float64 r = -12345;
  RTInterpolate(types, a, &x, &r);
  return r;
}
float64 Thresh(int32 types, UHandle a, int32 start, float64 level) {
  float64 r = -12345;
  RTThreshold(types, a, start, &level, &r);
  return r;
}

class ChartDataTest : public RTMathTest {};

TEST_F(ChartDataTest, InterpolatesPlainNumbers) {
  UHandle a = Doubles({10, 20, 30});
  struct {
    float64 x, want;
  } cases[] = {{0.5, 15}, {2, 30}, {-1, 10}, {0, 10}, {1, 20}, {1.25, 22.5}, {1.999, 29.99}, {7, 30},
               {HUGE_VAL, 30}, {-HUGE_VAL, 10}};
  for (auto c : cases) EXPECT_NEAR(Interp(Plain(kDbl), a, c.x), c.want, 1e-9) << c.x;
  EXPECT_EQ(Interp(Plain(kDbl), a, NAN), 10.0) << "a NaN x gives y[0]";
  DSDisposeHandle(a);
  UHandle one = Doubles({4});
  EXPECT_EQ(Interp(Plain(kDbl), one, 0.5), 4.0);
  EXPECT_EQ(Interp(Plain(kDbl), one, -0.5), 4.0);
  DSDisposeHandle(one);
  UHandle empty = Doubles({});
  EXPECT_TRUE(std::isnan(Interp(Plain(kDbl), empty, 0.5)));
  EXPECT_TRUE(std::isnan(Interp(Plain(kDbl), nullptr, 0.5)));
  DSDisposeHandle(empty);
}

TEST_F(ChartDataTest, InterpolatesPointsUnderBothAlignments) {
  for (int16 align : {1, 8}) {
    AlignScope scope(align);
    UHandle a = DblPoints({{0, 0}, {10, 100}}, align == 1 ? 4 : 8);
    EXPECT_DOUBLE_EQ(Interp(Points(kDbl, kDbl), a, 2.5), 25.0) << align;
    EXPECT_DOUBLE_EQ(Interp(Points(kDbl, kDbl), a, 20), 100.0) << align;
    EXPECT_DOUBLE_EQ(Interp(Points(kDbl, kDbl), a, -3), 0.0) << align;
    EXPECT_DOUBLE_EQ(Interp(Points(kDbl, kDbl), a, 10), 100.0) << align;
    EXPECT_DOUBLE_EQ(Interp(Points(kDbl, kDbl), a, NAN), 0.0) << align;
    DSDisposeHandle(a);
  }
  UHandle b = DblPoints({{1, 5}, {2, 7}, {4, 3}}, 4);
  EXPECT_DOUBLE_EQ(Interp(Points(kDbl, kDbl), b, 3), 5.0);
  EXPECT_DOUBLE_EQ(Interp(Points(kDbl, kDbl), b, 1.5), 6.0);
  DSDisposeHandle(b);
}

// I16 values with DBL X: the cluster {DBL, I16} is 10 bytes packed and 16
// aligned to 8; Y sits at 8 either way.
TEST_F(ChartDataTest, ConvertsOtherTypes) {
  for (int16 align : {1, 8}) {
    AlignScope scope(align);
    int32 stride = align == 1 ? 10 : 16, first = align == 1 ? 4 : 8;
    std::vector<uChar> b;
    const float64 xs[] = {0, 2, 4};
    const int16 ys[] = {-10, 10, 30};
    for (int i = 0; i < 3; ++i) {
      Put(&b, size_t(stride * i), xs[i]);
      Put(&b, size_t(stride * i + 8), ys[i]);
    }
    b.resize(size_t(stride * 3));
    UHandle a = NewArray(3, first, b);
    EXPECT_DOUBLE_EQ(Interp(Points(kDbl, kI16), a, 1), 0.0) << align;
    EXPECT_DOUBLE_EQ(Interp(Points(kDbl, kI16), a, 3), 20.0) << align;
    EXPECT_DOUBLE_EQ(Thresh(Points(kDbl, kI16), a, 0, 20), 3.0) << align;
    EXPECT_DOUBLE_EQ(Thresh(Points(kDbl, kI16), a, 0, -20), 0.0) << align;
    DSDisposeHandle(a);
  }
  std::vector<uChar> b;
  const int16 ys[] = {1, 3, 5, -7};
  for (int i = 0; i < 4; ++i) Put(&b, size_t(2 * i), ys[i]);
  UHandle a = NewArray(4, 4, b);
  EXPECT_DOUBLE_EQ(Interp(Plain(kI16), a, 1.5), 4.0);
  EXPECT_DOUBLE_EQ(Interp(Plain(kI16), a, 2.5), -1.0);
  EXPECT_DOUBLE_EQ(Thresh(Plain(kI16), a, 0, 2), 0.5);
  DSDisposeHandle(a);
}

TEST_F(ChartDataTest, ThresholdCases) {
  UHandle a = Doubles({0, 1, 2, 3});
  struct {
    int32 start;
    float64 level, want;
  } cases[] = {{0, 1.5, 1.5}, {0, -1, 0}, {0, 9, 3}, {0, 3, 3}, {0, 0.25, 0.25}, {2, 2.5, 2.5},
               {2, 1, 2}, {3, 9, 3}, {-4, 1.5, 1.5}, {-1, -1, 0}};
  for (auto c : cases) EXPECT_DOUBLE_EQ(Thresh(Plain(kDbl), a, c.start, c.level), c.want) << c.start << " " << c.level;
  for (int32 start : {4, 5, 1000}) EXPECT_TRUE(std::isnan(Thresh(Plain(kDbl), a, start, 1))) << start;
  EXPECT_TRUE(std::isnan(Thresh(Plain(kDbl), nullptr, 0, 1)));
  // A NaN level compares as less or equal to anything: the start itself.
  EXPECT_DOUBLE_EQ(Thresh(Plain(kDbl), a, 1, NAN), 1.0);
  DSDisposeHandle(a);
  UHandle p = DblPoints({{10, 0}, {20, 4}, {30, 8}}, 4);
  EXPECT_DOUBLE_EQ(Thresh(Points(kDbl, kDbl), p, 0, 2), 15.0);
  EXPECT_DOUBLE_EQ(Thresh(Points(kDbl, kDbl), p, 0, 6), 25.0);
  EXPECT_DOUBLE_EQ(Thresh(Points(kDbl, kDbl), p, 0, 99), 30.0);
  EXPECT_DOUBLE_EQ(Thresh(Points(kDbl, kDbl), p, 1, 1), 20.0);
  EXPECT_TRUE(std::isnan(Thresh(Points(kDbl, kDbl), p, 3, 1)));
  DSDisposeHandle(p);
}

TEST_F(ChartDataTest, BadTypesAndDamagedArraysGiveNaNWithoutTraps) {
  UHandle a = Doubles({0, 1, 2});
  for (int32 types : {0, Plain(15), Plain(-1), Points(15, kDbl), Points(-1, kDbl), Points(kDbl, 0)}) {
    ClearReports();
    EXPECT_TRUE(std::isnan(Interp(types, a, 1))) << types;
    EXPECT_TRUE(std::isnan(Thresh(types, a, 0, 1))) << types;
    EXPECT_EQ(qxtest::Reports::Get().Count("numeric type out of range"), 2) << types;
  }
  DSDisposeHandle(a);
  // A count past the handle reads only what the handle holds.
  std::vector<uChar> b;
  Put(&b, 0, 1.0);
  Put(&b, 8, 2.0);
  UHandle cut = NewArray(1000000, 4, b);
  EXPECT_DOUBLE_EQ(Interp(Plain(kDbl), cut, 50), 2.0);
  EXPECT_DOUBLE_EQ(Thresh(Plain(kDbl), cut, 0, 50), 1.0);
  PutNative32(*cut, uInt32(-5));
  EXPECT_TRUE(std::isnan(Interp(Plain(kDbl), cut, 0)));
  DSDisposeHandle(cut);
  // Equal or NaN neighbours divide by zero or NaN: infinities or NaN only.
  UHandle flat = DblPoints({{0, 0}, {NAN, 5}}, 4);
  EXPECT_TRUE(std::isnan(Interp(Points(kDbl, kDbl), flat, 1)));
  DSDisposeHandle(flat);
  UHandle ny = Doubles({0, NAN});
  EXPECT_TRUE(std::isnan(Thresh(Plain(kDbl), ny, 0, 1)));
  DSDisposeHandle(ny);
  UHandle same = DblPoints({{0, 0}, {0, 5}, {1, 9}}, 4);
  float64 r = Thresh(Points(kDbl, kDbl), same, 0, 2);
  EXPECT_DOUBLE_EQ(r, 0.0);
  DSDisposeHandle(same);
}

TEST_F(ChartDataTest, EntriesCalledThroughTheTable) {
  ASSERT_EQ(rttest::StartRunTimeTable().rtlib, kNoErr);
  UHandle a = Doubles({10, 20, 30});
  float64 x = 0.5, r = 0;
  auto w = [](const void* p) { return uInt32(reinterpret_cast<uintptr_t>(p)); };
  auto call = qxtest::CallAsCompiledCode(QXRTTable[1445], {uInt32(Plain(kDbl)), w(a), w(&x), w(&r)});
  EXPECT_EQ(r, 15.0);
  EXPECT_EQ(call.espAfter, call.espBefore);
  float64 level = 25;
  call = qxtest::CallAsCompiledCode(QXRTTable[1444], {uInt32(Plain(kDbl)), w(a), 0u, w(&level), w(&r)});
  EXPECT_EQ(r, 1.5);
  EXPECT_EQ(QXRTTable[1444], reinterpret_cast<QXRTRoutine>(&RTThreshold));
  EXPECT_EQ(QXRTTable[1445], reinterpret_cast<QXRTRoutine>(&RTInterpolate));
  DSDisposeHandle(a);
}

// ------------------------------------------------------------ histories

constexpr int32 kHeader = 8;

struct History {
  ChartHistory rec{};
  History(int32 capacity, int32 pointBytes, int32 plots = 1) {
    rec.buffer = DSNewHClr(kHeader + capacity * pointBytes);
    PutNative32(*rec.buffer, uInt32(capacity));
    PutNative32(*rec.buffer + 4, uInt32(plots));
  }
  ~History() { DSDisposeHandle(rec.buffer); }
  int32 At(int32 slot, int32 pointBytes = 4) const {
    return int32(GetNative32(*rec.buffer + kHeader + slot * pointBytes));
  }
};

std::vector<int32> Seq(int32 from, int32 n) {
  std::vector<int32> v;
  for (int32 i = 0; i < n; ++i) v.push_back(from + i);
  return v;
}

TEST_F(ChartDataTest, OneDimensionalWritesSkipSplitAndCount) {
  History h(4, 4);
  h.rec.total = 5;
  auto pts = Seq(100, 10);
  EXPECT_EQ(Copy1DToChartHistory(4, kHeader, pts.data(), 10, &h.rec), kNoErr);
  EXPECT_EQ(h.rec.total, 15);
  EXPECT_EQ(h.rec.pending, 4);
  EXPECT_EQ(h.rec.writePos, 2);
  // The last four, oldest at the write position.
  EXPECT_EQ(h.At(2), 106);
  EXPECT_EQ(h.At(3), 107);
  EXPECT_EQ(h.At(0), 108);
  EXPECT_EQ(h.At(1), 109);

  History s(4, 4);
  s.rec.writePos = 3;
  s.rec.pending = 1;
  auto three = Seq(7, 3);
  Copy1DToChartHistory(4, kHeader, three.data(), 3, &s.rec);
  EXPECT_EQ(s.At(3), 7);
  EXPECT_EQ(s.At(0), 8);
  EXPECT_EQ(s.At(1), 9);
  EXPECT_EQ(s.rec.writePos, 2);
  EXPECT_EQ(s.rec.pending, 4);
  EXPECT_EQ(s.rec.total, 3);
  int32 one = 55;
  Copy1DToChartHistory(4, kHeader, &one, 1, &s.rec);
  EXPECT_EQ(s.At(2), 55);
  EXPECT_EQ(s.rec.writePos, 3);
  EXPECT_EQ(s.rec.total, 4);
}

// Random writes of random counts agree with a deque that keeps the newest
// `capacity` points, for several point sizes.
TEST_F(ChartDataTest, RandomWritesAgreeWithADequeModel) {
  std::mt19937 rng(53);
  for (int32 pointBytes : {1, 3, 8, 16}) {
    for (int32 capacity : {1, 2, 5, 16, 100}) {  // 100: long copies at every alignment
      History h(capacity, pointBytes);
      std::deque<std::vector<uChar>> model;
      int32 total = 0;
      uChar next = 0;
      for (int round = 0; round < 60; ++round) {
        int32 count = int32(rng() % uInt32(2 * capacity + 3));
        std::vector<uChar> src(size_t(count * pointBytes));
        for (auto& byte : src) byte = next++;
        Copy1DToChartHistory(pointBytes, kHeader, src.data(), count, &h.rec);
        for (int32 i = 0; i < count; ++i) {
          model.emplace_back(src.begin() + i * pointBytes, src.begin() + (i + 1) * pointBytes);
          if (int32(model.size()) > capacity) model.pop_front();
        }
        total += count;
        ASSERT_EQ(h.rec.total, total);
        ASSERT_EQ(h.rec.pending, int32(model.size()));
        // The oldest valid point sits at w - valid, modulo the capacity.
        for (int32 i = 0; i < int32(model.size()); ++i) {
          int32 slot = ((h.rec.writePos - int32(model.size()) + i) % capacity + capacity) % capacity;
          ASSERT_EQ(0, std::memcmp(*h.rec.buffer + kHeader + slot * pointBytes, model[size_t(i)].data(),
                                   size_t(pointBytes)))
              << pointBytes << " " << capacity << " " << round << " " << i;
        }
      }
    }
  }
}

TEST_F(ChartDataTest, DamagedHistoriesWriteNothingOutsideTheBuffer) {
  auto pts = Seq(1, 6);
  struct {
    int32 capacity, bufferPoints, writePos, valid;
    bool writes;
  } cases[] = {{0, 4, 0, 0, false}, {-3, 4, 0, 0, false}, {5, 4, 0, 0, false}, {0x40000000, 4, 0, 0, false},
               {4, 4, 9, 0, true},  {4, 4, -7, 99, true}, {4, 4, 4, -2, true}};
  for (auto c : cases) {
    History h(c.bufferPoints, 4);
    PutNative32(*h.rec.buffer, uInt32(c.capacity));
    h.rec.writePos = c.writePos;
    h.rec.pending = c.valid;
    h.rec.total = 3;
    EXPECT_EQ(Copy1DToChartHistory(4, kHeader, pts.data(), 3, &h.rec), kNoErr);
    if (!c.writes) {
      EXPECT_EQ(h.rec.total, 3) << c.capacity;
      EXPECT_EQ(h.rec.writePos, c.writePos);
      for (int32 s = 0; s < c.bufferPoints; ++s) EXPECT_EQ(h.At(s), 0);
    } else {
      EXPECT_EQ(h.rec.total, 6) << c.writePos;
      EXPECT_GE(h.rec.writePos, 0);
      EXPECT_LT(h.rec.writePos, 4);
      EXPECT_GE(h.rec.pending, 3);
      EXPECT_LE(h.rec.pending, 4);
    }
  }
  History h(4, 4);
  EXPECT_EQ(Copy1DToChartHistory(4, kHeader, pts.data(), -2, &h.rec), kNoErr);
  EXPECT_EQ(Copy1DToChartHistory(0, kHeader, pts.data(), 2, &h.rec), kNoErr);
  EXPECT_EQ(Copy1DToChartHistory(4, kHeader, pts.data(), 2, nullptr), kNoErr);
  EXPECT_EQ(h.rec.total, 0);
}

// A 2-D array handle of int32 values, d0 by d1.
UHandle New2D(int32 d0, int32 d1, const std::vector<int32>& v) {
  UHandle h = DSNewHClr(8 + int32(v.size()) * 4);
  PutNative32(*h, uInt32(d0));
  PutNative32(*h + 4, uInt32(d1));
  if (!v.empty()) std::memcpy(*h + 8, v.data(), v.size() * 4);
  return h;
}

TEST_F(ChartDataTest, NormalAndTransposedSourcesFillTheSameBuffer) {
  for (int32 points : {2, 3, 7}) {
    std::vector<int32> normal, transposed;
    for (int32 i = 0; i < points; ++i) {
      for (int32 p = 0; p < 3; ++p) normal.push_back(100 * i + p);
    }
    for (int32 p = 0; p < 3; ++p) {
      for (int32 i = 0; i < points; ++i) transposed.push_back(100 * i + p);
    }
    UHandle a = New2D(points, 3, normal), b = New2D(3, points, transposed);
    History ha(5, 12, 3), hb(5, 12, 3);
    ha.rec.writePos = hb.rec.writePos = 3;
    EXPECT_EQ(Copy2DToChartHistory(4, kHeader, nullptr, 0, a, &ha.rec, 0), kNoErr);
    EXPECT_EQ(Copy2DToChartHistory(4, kHeader, nullptr, 0, b, &hb.rec, kChartOptTransposed), kNoErr);
    ASSERT_EQ(DSGetHandleSize(ha.rec.buffer), DSGetHandleSize(hb.rec.buffer));
    EXPECT_EQ(0, std::memcmp(*ha.rec.buffer, *hb.rec.buffer, size_t(DSGetHandleSize(ha.rec.buffer)))) << points;
    EXPECT_EQ(ha.rec.total, points);
    EXPECT_EQ(ha.rec.pending, points < 5 ? points : 5);
    EXPECT_EQ(ha.rec.writePos, (3 + points) % 5);
    EXPECT_EQ(hb.rec.writePos, ha.rec.writePos);
    // The newest point is just before the write position.
    int32 newest = (ha.rec.writePos + 4) % 5;
    for (int32 p = 0; p < 3; ++p) EXPECT_EQ(ha.At(newest * 3 + p), 100 * (points - 1) + p);
    DSDisposeHandle(a);
    DSDisposeHandle(b);
  }
}

TEST_F(ChartDataTest, EmptyAndDamagedTwoDimensionalSources) {
  History h(4, 8, 2);
  for (auto dims : {std::pair<int32, int32>{0, 2}, {3, 0}, {0, 0}}) {
    UHandle s = New2D(dims.first, dims.second, {});
    EXPECT_EQ(Copy2DToChartHistory(4, kHeader, nullptr, 0, s, &h.rec, 0), kNoErr);
    DSDisposeHandle(s);
  }
  EXPECT_EQ(GetNative32(*h.rec.buffer + 4), 2u) << "an empty source resets nothing";
  EXPECT_EQ(h.rec.total, 0);
  UHandle neg = New2D(-1, 2, {});
  EXPECT_EQ(Copy2DToChartHistory(4, kHeader, nullptr, 0, neg, &h.rec, 0), kArgErr);
  DSDisposeHandle(neg);
  UHandle shortH = New2D(1000, 2, {1, 2});
  EXPECT_EQ(Copy2DToChartHistory(4, kHeader, nullptr, 0, shortH, &h.rec, 0), kArgErr);
  DSDisposeHandle(shortH);
  EXPECT_EQ(h.rec.total, 0);
  EXPECT_EQ(Copy2DToChartHistory(4, kHeader, nullptr, 0, nullptr, &h.rec, 0), kNoErr);
  // Capacity 0: nothing written, after the plot count is settled.
  PutNative32(*h.rec.buffer, 0);
  UHandle s = New2D(2, 2, {1, 2, 3, 4});
  EXPECT_EQ(Copy2DToChartHistory(4, kHeader, nullptr, 0, s, &h.rec, 0), kNoErr);
  EXPECT_EQ(h.rec.total, 0);
  DSDisposeHandle(s);
}

// The hooks a reset reaches, faked.
struct FakePanel {
  static inline std::vector<uChar> data;
  static inline std::vector<int32> invalidated;
  static inline std::vector<float64> ranges;
  static inline int32 recalcs = 0;
  static inline bool change = false;
  static UPtr Data(ObjHeap, int32) { return data.data(); }
  static int32 Part(ObjHeap, int32 obj, int32 id, int32) { return obj + id; }
  static void Inval(ObjHeap, int32 obj, int32) { invalidated.push_back(obj); }
  static MgErr Recalc(ObjHeap, int32) {
    ++recalcs;
    return kNoErr;
  }
  static MgErr Markers(ObjHeap, int32, float64 lower, float64 upper, Bool32, Bool32, Bool32* changed) {
    ranges.push_back(upper - lower);
    *changed = change;
    return kNoErr;
  }
};

TEST_F(ChartDataTest, APlotCountChangeResetsAndRescales) {
  ChartPanelHooks old = SetChartPanelHooks(
      {FakePanel::Data, FakePanel::Part, FakePanel::Inval, FakePanel::Recalc, FakePanel::Markers});
  ObjHeap heap = OHNewHeap(1000, FourCC("CHRT"), 0, 0);
  ASSERT_NE(heap, nullptr);
  int32 chart = OHNewBlock(heap, 64, 1);
  ASSERT_GT(chart, 0);
  OHSetWord(heap, uInt32(chart), 0x3);
  for (bool change : {false, true}) {
    FakePanel::change = change;
    FakePanel::data.assign(24, 0);
    std::memcpy(FakePanel::data.data(), std::vector<float64>{30, 10}.data(), 16);
    PutNative32(FakePanel::data.data() + kChartDataUpdateWord, 77);
    FakePanel::invalidated.clear();
    FakePanel::ranges.clear();
    FakePanel::recalcs = 0;
    History h(4, 4, 1);
    h.rec.total = 9;
    h.rec.pending = 4;
    h.rec.writePos = 1;
    UHandle s = New2D(2, 3, {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(Copy2DToChartHistory(4, kHeader, heap, chart, s, &h.rec, 0), kNoErr);
    EXPECT_EQ(DSGetHandleSize(h.rec.buffer), kHeader + 4 * 3 * 4);
    EXPECT_EQ(GetNative32(*h.rec.buffer + 4), 3u);
    EXPECT_EQ(h.rec.total, 2);
    EXPECT_EQ(h.rec.pending, 2);
    EXPECT_EQ(h.rec.writePos, 2);
    for (int32 k = 0; k < 6; ++k) EXPECT_EQ(h.At(k), k + 1);
    EXPECT_EQ(OHWord(heap, uInt32(chart)), 0x3u | kChartFlagHistoryReset);
    EXPECT_EQ(GetNative32(FakePanel::data.data() + kChartDataUpdateWord), 0u);
    ASSERT_EQ(FakePanel::ranges.size(), 1u);
    EXPECT_EQ(FakePanel::ranges[0], 20.0);
    EXPECT_EQ(FakePanel::recalcs, change ? 1 : 0);
    EXPECT_EQ(FakePanel::invalidated, change ? std::vector<int32>{chart + kChartPartScrollbar} : std::vector<int32>{});
    DSDisposeHandle(s);
  }
  // A capacity too large to size: memory full, counters untouched.
  History big(4, 4, 1);
  big.rec.total = 9;
  PutNative32(*big.rec.buffer, 0x20000000);
  EXPECT_EQ(ResetChartHistory(nullptr, 0, &big.rec, 8, kHeader, 3), kMemFullErr);
  EXPECT_EQ(big.rec.total, 9);
  EXPECT_EQ(ResetChartHistory(nullptr, 0, nullptr, 8, kHeader, 3), kArgErr);
  OHDisposeHeap(heap);
  SetChartPanelHooks(old);
}

}  // namespace
