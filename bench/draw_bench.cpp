// Pattern fills of a drawing context on a 1024 x 768 surface against the
// obvious baselines: pixman_fill and a plain loop storing the same words
// (solid copy), and a loop XOR-ing the same pattern words into the rows
// (pattern invert).  Then the control pictures' primitives against
// DPaintRect of the same rectangle on a window port: a bevelled rectangle
// (look 0x4201, width 1) on 32 x 32 (the bar is 4x) and a gradient over
// 256 x 64 with shift 5 (the bar is 2x); each ratio is a counter of the
// primitive's run, timed in turns with the fill.  Then the registered control pictures: picture 9 drawn
// through the image manager against DrawRect with the same arguments at
// 32 x 32 (the bar is 1.2x: the dispatch adds nothing), and the shaded
// hopper and elbow at 256 x 256 against their flat outlines (the bar is
// 10x: shading goes in bands, never pixel by pixel).
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>

#include "controls/picc.h"
#include "mgsource/draw/image.h"
#include "panel/osupport.h"
#include "mgsource/memory.h"
#include "mgsource/thread.h"
#include "platform/qx_dc.h"
#include "platform/qx_draw.h"
#include "platform/qx_drawobj.h"
#include "platform/qx_surface.h"
#include "tests/draw_start.h"
#include "start_once.h"

namespace {

constexpr int32_t kW = 1024, kH = 768;

struct Target {
  PlatObj dc, bitmap;
  PlatSurface* s;
  Target() {
    dc = PlatCreateMemoryDc();
    bitmap = PlatCreateBitmap(kW, kH, 32, nullptr, 0);
    PlatSelectObject(dc, bitmap);
    s = PlatBitmapSurface(bitmap);
  }
  ~Target() {
    PlatDeleteDc(dc);
    PlatDeleteObject(bitmap);
  }
  uint32_t* Row(int32_t y) { return reinterpret_cast<uint32_t*>(PlatSurfaceBits(s) + size_t(y) * kW * 4); }
};

const uint32_t kSolid = 0xFF123456;

void BM_PatCopySolid(benchmark::State& st) {
  Target t;
  PlatObj brush = PlatCreateSolidBrush(0x563412);
  PlatSelectObject(t.dc, brush);
  for (auto _ : st) {
    PlatPatBlt(t.dc, 0, 0, kW, kH, kPlatPatCopy);
    benchmark::ClobberMemory();
  }
  if (t.Row(kH - 1)[kW - 1] != kSolid) st.SkipWithError("wrong colour");
  st.SetBytesProcessed(st.iterations() * int64_t(kW) * kH * 4);
  PlatSelectObject(t.dc, PlatGetStockObject(kPlatStockWhiteBrush));
  PlatDeleteObject(brush);
}
BENCHMARK(BM_PatCopySolid);

void BM_PixmanFillSolid(benchmark::State& st) {
  Target t;
  for (auto _ : st) {
    pixman_fill(reinterpret_cast<uint32_t*>(PlatSurfaceBits(t.s)), kW, 32, 0, 0, kW, kH, kSolid);
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(st.iterations() * int64_t(kW) * kH * 4);
}
BENCHMARK(BM_PixmanFillSolid);

void BM_LoopFillSolid(benchmark::State& st) {
  Target t;
  for (auto _ : st) {
    for (int32_t y = 0; y < kH; ++y) {
      uint32_t* row = t.Row(y);
      for (int32_t x = 0; x < kW; ++x) row[x] = kSolid;
    }
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(st.iterations() * int64_t(kW) * kH * 4);
}
BENCHMARK(BM_LoopFillSolid);

const uint8_t kRows[8] = {0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA};

void BM_PatInvertPattern(benchmark::State& st) {
  Target t;
  uint8_t bits[16];
  for (int i = 0; i < 8; ++i) {
    bits[2 * i] = kRows[i];
    bits[2 * i + 1] = 0;
  }
  PlatObj bm = PlatCreateBitmap(8, 8, 1, bits, sizeof bits);
  PlatObj brush = PlatCreatePatternBrush(bm);
  PlatDeleteObject(bm);
  PlatSelectObject(t.dc, brush);
  PlatSetTextColor(t.dc, 0xFFFFFF);
  PlatSetBkColor(t.dc, 0);
  for (auto _ : st) {
    PlatPatBlt(t.dc, 0, 0, kW, kH, kPlatPatInvert);
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(st.iterations() * int64_t(kW) * kH * 4);
  PlatSelectObject(t.dc, PlatGetStockObject(kPlatStockWhiteBrush));
  PlatDeleteObject(brush);
}
BENCHMARK(BM_PatInvertPattern);

void BM_LoopXorPattern(benchmark::State& st) {
  Target t;
  uint32_t words[8][8];
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) words[r][c] = (kRows[r] & (0x80 >> c)) ? 0 : 0xFFFFFF;
  for (auto _ : st) {
    for (int32_t y = 0; y < kH; ++y) {
      uint32_t* row = t.Row(y);
      const uint32_t* w = words[y & 7];
      for (int32_t x = 0; x < kW; ++x) row[x] ^= w[x & 7];
    }
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(st.iterations() * int64_t(kW) * kH * 4);
}
BENCHMARK(BM_LoopXorPattern);

// ---- Control picture primitives -------------------------------------------------------

// A shown headless window for the picture benchmarks.
struct PictPort {
  WindowRef window = kWNoWindow;
  PictPort() {
    // Started once for the whole program: the control pictures registered
    // here live in the memory zones the other benchmarks' scenes share.
    BenchMemInit();
    BenchThInit();
    window = StartDrawingWindow(Rect{0, 0, 300, 400}, nullptr);
  }
};
PictPort& ThePictPort() {
  static PictPort port;
  return port;
}

// The window set up as the drawing port for one benchmark only: a port kept
// holds the drawing lock, and a later benchmark's main loop on another
// thread would wait for it for ever.
struct PictScope {
  bool ok = false;
  WPortState saved{};
  PictScope() {
    const WindowRef w = ThePictPort().window;
    if (w == kWNoWindow) return;
    WSetup(w, &saved);
    ok = gDrawState.dc != 0;
  }
  ~PictScope() {
    if (ThePictPort().window != kWNoWindow) WRestore(&saved);
  }
};

constexpr DColor kPictFore = 0x3060C0, kPictBack = 0xE0C060;

double NsPer(benchmark::State& st, std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::nano>(d).count() / double(st.iterations());
}

void BM_PictPaintRectBaseline(benchmark::State& st) {
  PictScope scope;
  if (!scope.ok) return st.SkipWithError("no drawing port");
  const Rect r{0, 0, int16(st.range(1)), int16(st.range(0))};
  DSelectNormPen(kPictBack, kPictBack);
  for (auto _ : st) {
    DPaintRect(&r);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_PictPaintRectBaseline)->Args({32, 32})->Args({256, 64});

// A primitive against DPaintRect of its rectangle, timed in turns: each
// iteration times a batch of fills, then a batch of the primitive, so that
// both meet the same load on a shared machine and the ratio holds steady.
// The reported time is one call of the primitive, which is also returned
// (in nanoseconds); the ratio is the counter.
template <class Draw>
double TimeAgainstPaintRect(benchmark::State& st, const Rect& r, int batch, Draw&& draw) {
  using Clock = std::chrono::steady_clock;
  Clock::duration paint{}, drawn{};
  for (auto _ : st) {
    DSelectNormPen(kPictBack, kPictBack);
    const auto t0 = Clock::now();
    for (int i = 0; i < batch; ++i) DPaintRect(&r);
    benchmark::ClobberMemory();
    const auto t1 = Clock::now();
    for (int i = 0; i < batch; ++i) draw();
    benchmark::ClobberMemory();
    const auto t2 = Clock::now();
    paint += t1 - t0;
    drawn += t2 - t1;
    st.SetIterationTime(std::chrono::duration<double>(t2 - t1).count() / batch);
  }
  if (paint.count() > 0) st.counters["x_paintrect"] = double(drawn.count()) / double(paint.count());
  return NsPer(st, drawn) / batch;
}

double gDrawRectNs = 0;
void BM_PictDrawRect(benchmark::State& st) {
  PictScope scope;
  if (!scope.ok) return st.SkipWithError("no drawing port");
  const Rect r{0, 0, 32, 32};
  gDrawRectNs = TimeAgainstPaintRect(st, r, 16, [&] { DrawRect(&r, kPictFore, kPictBack, 0x4201, 1, 0); });
}
BENCHMARK(BM_PictDrawRect)->UseManualTime();

// Picture 9 (the rectangle of look 0x4201) through IDraw and its procedure.
void BM_PictIDrawPicture9(benchmark::State& st) {
  PictScope scope;
  if (!scope.ok) return st.SkipWithError("no drawing port");
  static const bool registered = (InitFPImages(), CheckPictIndex(9) != 0);
  if (!registered) return st.SkipWithError("no control pictures");
  const int32 image = CheckPictIndex(9);
  const Rect r{0, 0, 32, 32};
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : st) {
    IDraw(image, nullptr, &r, kPictFore, kPictBack, kBlackColor, kWhiteColor);
    benchmark::ClobberMemory();
  }
  const double ns = NsPer(st, std::chrono::steady_clock::now() - t0);
  if (gDrawRectNs > 0) st.counters["x_drawrect"] = ns / gDrawRectNs;
}
BENCHMARK(BM_PictIDrawPicture9);

// A process picture at 256 x 256, flat (range 1 = 0: its outline painted
// and framed) or shaded; the shaded run's counter is its time over the flat
// one's.
std::map<int64_t, double> gFlatNs;
void BM_PictProcess(benchmark::State& st) {
  PictScope scope;
  if (!scope.ok) return st.SkipWithError("no drawing port");
  const bool elbow = st.range(0) != 0, shaded = st.range(1) != 0;
  PictStyleBlock style{elbow ? (shaded ? 0x14200u : 0x14400u) : (shaded ? 0x4200u : 0x4400u), 0, 0};
  const PictureProc proc = elbow ? ElbowPictProc : HopperBPictProc;
  Rect r{0, 0, 256, 256};
  PictMessageBlock b{};
  b.rect = &r;
  b.foreColor = kPictFore;
  b.backColor = kPictBack;
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : st) {
    proc(1, &style, &b);
    benchmark::ClobberMemory();
  }
  const double ns = NsPer(st, std::chrono::steady_clock::now() - t0);
  if (!shaded) gFlatNs[st.range(0)] = ns;
  else if (gFlatNs[st.range(0)] > 0) st.counters["x_flat"] = ns / gFlatNs[st.range(0)];
}
// Hopper (0) and elbow (1), flat before shaded.
BENCHMARK(BM_PictProcess)->Args({0, 0})->Args({0, 1})->Args({1, 0})->Args({1, 1});

void BM_PictDrawGradient(benchmark::State& st) {
  PictScope scope;
  if (!scope.ok) return st.SkipWithError("no drawing port");
  const Rect r{0, 0, 64, 256};
  TimeAgainstPaintRect(st, r, 4, [&] { DrawGradient(&r, kPictFore, kPictBack, kPictHorizontal, 5); });
}
BENCHMARK(BM_PictDrawGradient)->UseManualTime();

}  // namespace
