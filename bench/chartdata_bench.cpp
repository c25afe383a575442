// Threshold and interpolation over 1,000,000 doubles, against plain loops
// over a std::vector of doubles and of {x, y} pairs; history copies of
// 1,000-point blocks of 16-byte points into a 10,000-point history, against
// a ring buffer filled with at most two memcpy calls; and charts of 1,000
// pixels (history 10,000 points, x 0 .. 999) appended 1,000,000 points in
// blocks of 100, drawn offscreen at once after each block, in the sweeping
// and the scrolling update modes, against the same blocks copied into a ring
// with two memcpy calls and drawn as one 100-point polyline each on the same
// surface (also with each block's band erased first, as a sweep must, and
// with the area's pixels moved by each block, as a scroll must).
#include <benchmark/benchmark.h>

#include "start_once.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/datatype.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "mgsource/support.h"
#include "rtlib/chartdata.h"
#include "controls/chartupdate.h"
#include "controls/graphattr.h"
#include "controls/graph.h"
#include "controls/scale.h"
#include "engine/dsalloc.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/image.h"
#include "panel/oinit.h"
#include "insn_marks.h"
#include "panel_scene.h"
#include <cmath>

namespace {

constexpr int32 kN = 1000000;

struct Arrays {
  UHandle plain;               // y[i] = i
  UHandle points;              // (i, i), packed
  std::vector<double> y;
  std::vector<std::pair<double, double>> xy;
};

const Arrays& TheArrays() {
  static Arrays a = [] {
    BenchMemInit();
    BenchSupportInit();
    Arrays a;
    a.plain = DSNewHandle(4 + 8 * kN);
    a.points = DSNewHandle(4 + 16 * kN);
    PutNative32(*a.plain, kN);
    PutNative32(*a.points, kN);
    for (int32 i = 0; i < kN; ++i) {
      double v = i;
      std::memcpy(*a.plain + 4 + 8 * i, &v, 8);
      std::memcpy(*a.points + 4 + 16 * i, &v, 8);
      std::memcpy(*a.points + 12 + 16 * i, &v, 8);
      a.y.push_back(v);
      a.xy.emplace_back(v, v);
    }
    return a;
  }();
  return a;
}

const double kLevel = kN - 10.5;

void BM_RTThreshold(benchmark::State& st) {
  const Arrays& a = TheArrays();
  double r = 0;
  for (auto _ : st) {
    RTThreshold(kTDDBL << 16, a.plain, 0, &kLevel, &r);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_RTThreshold);

// The reference: the first element at or above the level, then the fraction.
void BM_ThresholdReference(benchmark::State& st) {
  const Arrays& a = TheArrays();
  for (auto _ : st) {
    const std::vector<double>& y = a.y;
    size_t k = 1;
    while (k < y.size() && !(kLevel <= y[k])) ++k;
    double r = k == y.size() ? double(k - 1) : (k - 1) + (kLevel - y[k - 1]) / (y[k] - y[k - 1]);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_ThresholdReference);

void BM_RTInterpolatePoints(benchmark::State& st) {
  const Arrays& a = TheArrays();
  double r = 0;
  for (auto _ : st) {
    RTInterpolate(kTDDBL << 16 | kTDDBL, a.points, &kLevel, &r);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_RTInterpolatePoints);

void BM_InterpolateReference(benchmark::State& st) {
  const Arrays& a = TheArrays();
  for (auto _ : st) {
    const auto& p = a.xy;
    double x = kLevel, r = p.back().second;
    if (x > p[0].first) {
      for (size_t k = 1; k < p.size(); ++k) {
        if (x <= p[k].first) {
          r = p[k - 1].second + (x - p[k - 1].first) / (p[k].first - p[k - 1].first) * (p[k].second - p[k - 1].second);
          break;
        }
      }
    } else {
      r = p[0].second;
    }
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_InterpolateReference);

constexpr int32 kCap = 10000, kBlock = 1000, kPoint = 16;

void BM_Copy1DToChartHistory(benchmark::State& st) {
  TheArrays();
  std::vector<uChar> src(size_t(kBlock * kPoint), 7);
  ChartHistory h{};
  h.buffer = DSNewHClr(8 + kCap * kPoint);
  PutNative32(*h.buffer, kCap);
  h.writePos = 333;  // blocks that wrap now and then
  for (auto _ : st) {
    Copy1DToChartHistory(kPoint, 8, src.data(), kBlock, &h);
    benchmark::DoNotOptimize(*h.buffer);
  }
  DSDisposeHandle(h.buffer);
}
BENCHMARK(BM_Copy1DToChartHistory);

// The ring starts `misalign` bytes past a 64-byte boundary: 0 for a plain
// vector, or where the history's points start inside its handle, so that
// the two runs copy to the same alignment.
void RingReference(benchmark::State& st, size_t misalign) {
  std::vector<uChar> src(size_t(kBlock * kPoint), 7), store(size_t(kCap * kPoint) + 128);
  uChar* ring = store.data() + (64 - reinterpret_cast<uintptr_t>(store.data()) % 64) % 64 + misalign;
  size_t w = 333, valid = 0, total = 0;
  for (auto _ : st) {
    size_t first = std::min<size_t>(kCap - w, kBlock);
    std::memcpy(ring + w * kPoint, src.data(), first * kPoint);
    std::memcpy(ring, src.data() + first * kPoint, (kBlock - first) * kPoint);
    w = (w + kBlock) % kCap;
    valid = std::min<size_t>(valid + kBlock, kCap);
    total += kBlock;
    benchmark::DoNotOptimize(ring);
    benchmark::DoNotOptimize(valid);
  }
  benchmark::DoNotOptimize(total);
}
void BM_RingReference(benchmark::State& st) { RingReference(st, 0); }
BENCHMARK(BM_RingReference);
void BM_RingReferenceHistoryAlignment(benchmark::State& st) {
  TheArrays();
  UHandle probe = DSNewHClr(8 + kCap * kPoint);
  size_t misalign = reinterpret_cast<uintptr_t>(*probe + 8) % 64;
  DSDisposeHandle(probe);
  RingReference(st, misalign);
  st.counters["misalign"] = double(misalign);
}
BENCHMARK(BM_RingReferenceHistoryAlignment);

// ---- Chart updates ---------------------------------------------------------------------------
constexpr int32 kChartLength = 10000, kChartPoints = 1000000, kChartBlock = 100, kChartWidth = 1000;

struct ChartScene {
  PanelScene s;
  int32 graph = 0;
  int32 image = 0;
  int32 length = kChartLength;
  std::vector<double> y;
  bool Make(int16 type) {
    if (!s.OpenPanel(600, 1100)) return false;
    graph = s.Obj(kClsGraphChart);
    PutNative16(*s.heap + graph + kPanelGraphKindByte, uInt16(type));
    s.Place(graph, 0, 0, 560, int16(kChartWidth + 40));
    const int32 area = vib::NewObject(s.heap, kClsCosmetic, ClassRecord(kClsCosmetic)->instanceSize, graph,
                                      kGPartPlotArea, 0);
    const int32 xs = vib::NewObject(s.heap, kClsScale, ClassRecord(kClsScale)->instanceSize, graph, kGPartXScale, 0);
    const int32 ys = vib::NewObject(s.heap, kClsScale, ClassRecord(kClsScale)->instanceSize, graph, kGPartYScale, 0);
    if (!area || !xs || !ys) return false;
    for (int32 p : {area, xs, ys}) s.Place(p, 10, 10, 502, int16(kChartWidth + 2));
    ObjSetWord(s.heap, area, kObjCosmBack / 4, 0xFFFFFF);
    ObjSetWord(s.heap, graph, kGraphXGridColorWord, 0x1000000);
    ObjSetWord(s.heap, graph, kGraphYGridColorWord, 0x1000000);
    ObjSetWord(s.heap, graph, kPWDDOTypeId, int32(s.Type(tdb::DBL())));
    ObjSetWord(s.heap, graph, kGraphChartTypeWord,
               int32(s.Type(tdb::Cluster({tdb::I32(), tdb::I32(), tdb::I32(), tdb::Handle()}))));
    const MgErr e = AllocObjDataSpace(s.heap, graph);
    if (DSAllocCurrentState()->active) AllocEndPass();
    ChartHistory* rec = e == kNoErr ? ChartRecordOf(s.heap, graph) : nullptr;
    if (!rec) return false;
    if (!rec->buffer || !MemIsDSHandle(rec->buffer)) rec->buffer = DSNewHandle(4);
    if (!rec->buffer || DSSetHandleSize(rec->buffer, 4 + 8 * length) != kNoErr) return false;
    PutNative32(*rec->buffer, uInt32(length));
    ScaleRec* xr = ScaleRecOf(s.heap, xs);
    ScaleRec* yr = ScaleRecOf(s.heap, ys);
    if (!xr || !yr) return false;
    *xr = ScaleRec{};
    xr->min = 0, xr->max = kChartWidth - 1, xr->increment = 100, xr->multiplier = 1;
    xr->pixelStart = 11, xr->pixelEnd = int16(11 + kChartWidth - 1);
    *yr = ScaleRec{};
    yr->min = -1, yr->max = 1, yr->increment = 1, yr->multiplier = 1;
    yr->pixelStart = 510, yr->pixelEnd = 11;
    for (int32 i = 0; i < kChartPoints; ++i) y.push_back(std::sin(i * 0.01));
    const Rect all{0, 0, 560, int16(kChartWidth + 40)};
    return ICreatePixmap(s.window, &all, 32, &image) == kNoErr && image;
  }
  void Reset() {
    ChartHistory* rec = ChartRecordOf(s.heap, graph);
    rec->total = rec->pending = rec->writePos = 0;
    ClearChartPlotData(GraphDataOf(s.heap, graph));
    ScaleRec* xr = ScaleRecOf(s.heap, FindPart(s.heap, graph, kGPartXScale, 0));
    xr->min = 0, xr->max = kChartWidth - 1, xr->start = 0;
  }
};

ChartScene* TheChart(int16 type) {
  static ChartScene* scenes[2] = {nullptr, nullptr};
  ChartScene*& c = scenes[type == kChartSweep ? 1 : 0];
  if (!c) {
    c = new ChartScene;
    if (!c->Make(type)) c = nullptr;
  }
  return c;
}

void BM_ChartAppendAndDraw(benchmark::State& st) {
  ChartScene* c = TheChart(int16(st.range(0)));
  if (!c) return st.SkipWithError("no chart");
  WPortState port;
  WSetup(c->s.window, &port);
  ImageSaveRecord save{};
  IOpen(c->image, &save);
  for (auto _ : st) {
    c->Reset();
    QxInsnMarkBegin();
    for (int32 at = 0; at < kChartPoints; at += kChartBlock) {
      Copy1DToChartHistory(8, 4, c->y.data() + at, kChartBlock, ChartRecordOf(c->s.heap, c->graph));
      benchmark::DoNotOptimize(DrawPlotArea(c->s.heap, c->graph, nullptr, 0, 0, 4, 0));
    }
    QxInsnMarkEnd();
  }
  IClose(c->image, &save);
  WRestore(&port);
  st.counters["total"] = ChartRecordOf(c->s.heap, c->graph)->total;
}
BENCHMARK(BM_ChartAppendAndDraw)->Arg(kChartFirst)->Arg(kChartSweep)->Unit(benchmark::kMillisecond)->Iterations(1);

// The reference: each block into a ring with at most two memcpy calls, its
// points mapped to pixels and drawn as one polyline.
// With erase set, each block's columns (and 3 ahead) are first painted in
// the background over the area's height, as a sweep must erase the
// previous pass under the new trace.
void RingReferenceDraw(benchmark::State& st, bool erase) {
  ChartScene* c = TheChart(kChartFirst);
  if (!c) return st.SkipWithError("no chart");
  std::vector<double> ring(kChartLength);
  std::vector<Point> pts(kChartBlock);
  WPortState port;
  WSetup(c->s.window, &port);
  ImageSaveRecord save{};
  IOpen(c->image, &save);
  DSelectNormPen(0, 0);
  for (auto _ : st) {
    QxInsnMarkBegin();
    int32 write = 0;
    for (int32 at = 0; at < kChartPoints; at += kChartBlock) {
      const int32 first = std::min(kChartBlock, kChartLength - write);
      std::memcpy(&ring[size_t(write)], c->y.data() + at, 8 * size_t(first));
      std::memcpy(ring.data(), c->y.data() + at + first, 8 * size_t(kChartBlock - first));
      for (int32 k = 0; k < kChartBlock; ++k) {
        const int32 i = at + k;
        const double v = ring[size_t((write + k) % kChartLength)];
        pts[size_t(k)] = Point{int16(260.5 - v * 249.5), int16(11 + i % kChartWidth)};
      }
      write = (write + kChartBlock) % kChartLength;
      if (erase) {
        const int16 left = pts[0].h;
        const Rect band{11, left, 510, int16(std::min<int32>(left + kChartBlock + 3, 11 + kChartWidth - 1))};
        DSelectNormPen(DColor(0xFFFFFF), DColor(0xFFFFFF));
        DPaintRect(&band);
        DSelectNormPen(0, 0);
      }
      DPolyLine(pts.data(), kChartBlock - 1);
    }
    QxInsnMarkEnd();
  }
  IClose(c->image, &save);
  WRestore(&port);
}
void BM_ChartRingReference(benchmark::State& st) { RingReferenceDraw(st, false); }
BENCHMARK(BM_ChartRingReference)->Unit(benchmark::kMillisecond)->Iterations(1);
void BM_ChartSweepReference(benchmark::State& st) { RingReferenceDraw(st, true); }
BENCHMARK(BM_ChartSweepReference)->Unit(benchmark::kMillisecond)->Iterations(1);

// The least a scrolling chart does per block once its area is full: the
// ring and the polyline as above, plus the area's pixels (1,000 x 500,
// 32-bit, in a plain buffer: the memory floor of any scroll) moved left by
// the block's width, the new block drawn at the right end.
void BM_ChartScrollReference(benchmark::State& st) {
  ChartScene* c = TheChart(kChartFirst);
  if (!c) return st.SkipWithError("no chart");
  std::vector<double> ring(kChartLength);
  std::vector<Point> pts(kChartBlock);
  WPortState port;
  WSetup(c->s.window, &port);
  ImageSaveRecord save{};
  IOpen(c->image, &save);
  DSelectNormPen(0, 0);
  constexpr size_t kRows = 500;
  std::vector<uInt32> area(kRows * kChartWidth, 0xFFFFFF);
  for (auto _ : st) {
    QxInsnMarkBegin();
    int32 write = 0;
    for (int32 at = 0; at < kChartPoints; at += kChartBlock) {
      const int32 first = std::min(kChartBlock, kChartLength - write);
      std::memcpy(&ring[size_t(write)], c->y.data() + at, 8 * size_t(first));
      std::memcpy(ring.data(), c->y.data() + at + first, 8 * size_t(kChartBlock - first));
      const bool full = at >= kChartWidth;
      if (full) {
        for (size_t r = 0; r < kRows; ++r) {
          uInt32* row = area.data() + r * kChartWidth;
          std::memmove(row, row + kChartBlock, 4 * size_t(kChartWidth - kChartBlock));
        }
        benchmark::DoNotOptimize(area.data());
      }
      for (int32 k = 0; k < kChartBlock; ++k) {
        const int32 i = at + k;
        const double v = ring[size_t((write + k) % kChartLength)];
        const int32 x = full ? kChartWidth - kChartBlock + k : i % kChartWidth;
        pts[size_t(k)] = Point{int16(260.5 - v * 249.5), int16(11 + x)};
      }
      write = (write + kChartBlock) % kChartLength;
      DPolyLine(pts.data(), kChartBlock - 1);
    }
    QxInsnMarkEnd();
  }
  IClose(c->image, &save);
  WRestore(&port);
}
BENCHMARK(BM_ChartScrollReference)->Unit(benchmark::kMillisecond)->Iterations(1);

// ---- "History Data" -----------------------------------------------------------------------
// A strip chart of 1,000,000 DBL points whose history has wrapped (written
// 1,500,000): the property read returns them oldest first in a new array;
// the write replaces the history by an array of 1,000,000 points.  The
// reference allocates a handle of the same size and fills it with two memcpy.
constexpr int32 kHistoryPoints = 1000000;

ChartScene* TheHistoryChart() {
  static ChartScene* c = [] {
    auto* scene = new ChartScene;
    scene->length = kHistoryPoints;
    if (!scene->Make(kChartFirst)) return static_cast<ChartScene*>(nullptr);
    ChartHistory* rec = ChartRecordOf(scene->s.heap, scene->graph);
    std::memcpy(*rec->buffer + 4, scene->y.data(), 8 * size_t(kHistoryPoints));
    return scene;
  }();
  return c;
}
const TypeDescriptor* DoubleArrayTD() {
  static const std::vector<uChar> td = tdb::Array(tdb::DBL()).Bytes();
  return reinterpret_cast<const TypeDescriptor*>(td.data());
}
void Wrap(ChartScene* c) {
  ChartHistory* rec = ChartRecordOf(c->s.heap, c->graph);
  rec->total = kHistoryPoints + kHistoryPoints / 2;
  rec->pending = 0;
  rec->writePos = kHistoryPoints / 2;
}

void BM_HistoryDataGet(benchmark::State& st) {
  ChartScene* c = TheHistoryChart();
  if (!c) return st.SkipWithError("no chart");
  for (auto _ : st) {
    Wrap(c);
    UHandle out = nullptr;
    if (ChartHistoryGet(c->s.heap, c->graph, DoubleArrayTD(), &out) != 0 || !out) return st.SkipWithError("get");
    benchmark::DoNotOptimize(*out);
    DSDisposeHandle(out);
  }
}
BENCHMARK(BM_HistoryDataGet)->Unit(benchmark::kMillisecond);

void BM_HistoryDataSet(benchmark::State& st) {
  ChartScene* c = TheHistoryChart();
  if (!c) return st.SkipWithError("no chart");
  UHandle in = DSNewHandle(4 + 8 * kHistoryPoints);
  PutNative32(*in, kHistoryPoints);
  std::memcpy(*in + 4, c->y.data(), 8 * size_t(kHistoryPoints));
  for (auto _ : st) {
    benchmark::DoNotOptimize(ChartHistorySet(c->s.heap, c->graph, DoubleArrayTD(), in, 0, 1, 0));
  }
  DSDisposeHandle(in);
}
BENCHMARK(BM_HistoryDataSet)->Unit(benchmark::kMillisecond);

void BM_HistoryDataReference(benchmark::State& st) {
  ChartScene* c = TheHistoryChart();
  if (!c) return st.SkipWithError("no chart");
  const uChar* ring = *ChartRecordOf(c->s.heap, c->graph)->buffer + 4;
  const size_t half = size_t(kHistoryPoints / 2) * 8;
  for (auto _ : st) {
    UHandle out = DSNewHandle(4 + 8 * kHistoryPoints);
    PutNative32(*out, kHistoryPoints);
    std::memcpy(*out + 4, ring + half, half);
    std::memcpy(*out + 4 + half, ring, half);
    benchmark::DoNotOptimize(*out);
    DSDisposeHandle(out);
  }
}
BENCHMARK(BM_HistoryDataReference)->Unit(benchmark::kMillisecond);

}  // namespace
