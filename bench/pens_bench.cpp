// The host primitives against their baselines, in one run: DPaintRect with
// the normal pen against pixman_fill of the same rectangle (16 x 16 and
// 1024 x 768; the bars are 2x and 1.2x), and 16-pixel DLineTo against the
// layer's line call on a prepared context (the bar is 1.5x).  Each ratio is
// reported as a counter of the primitive's run.
#include <benchmark/benchmark.h>

#include "start_once.h"
#include <pixman.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>

#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/memory.h"
#include "mgsource/thread.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "platform/qx_dc.h"
#include "platform/qx_draw.h"
#include "platform/qx_paint.h"
#include "platform/qx_surface.h"

namespace {

constexpr int32 kW = 1024, kH = 768;
constexpr DColor kColour = 0x336699;  // on the palette: the colour cache's path
constexpr int32 kLines = 100000;

// A shown headless window of 1024 x 768 set up as the drawing port, the
// normal pen selected.
struct Port {
  bool ok = false;
  WindowRef window = kWNoWindow;
  WPortState saved{};
  Port() {
    static std::once_flag once;
    std::call_once(once, [] {
      BenchMemInit();
      BenchThInit();
    });
    if (BenchScreenImage() != kNoErr) return;
    BenchDrawInit();
    const Rect r{0, 0, kH, kW};
    window = WCreate(0x3C, nullptr, nullptr, &r, 0, 1, 0);
    if (!window) return;
    WSetup(window, &saved);
    DSelectNormPen(kColour, 0);
    ok = gDrawState.dc != 0;
  }
  ~Port() {
    if (!window) return;
    WRestore(&saved);
    WDestroy(window);
  }
  PlatSurface* Surface() const { return PlatWindowSurface(WHostWindow(window)); }
};

Port& ThePort() {
  static Port port;
  return port;
}

std::map<int64_t, double> gBaselineNs;  // by benchmark argument

double NsPerIteration(benchmark::State& st, std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::nano>(d).count() / double(st.iterations());
}

// pixman_fill of the same rectangle of the same surface, in the word the
// normal pen paints.
void BM_PaintRectPixmanBaseline(benchmark::State& st) {
  Port& p = ThePort();
  if (!p.ok) return st.SkipWithError("no drawing port");
  const int32 w = int32(st.range(0)), h = int32(st.range(1));
  PlatSurface* s = p.Surface();
  uint32_t* bits = reinterpret_cast<uint32_t*>(PlatSurfaceBits(s));
  const int stride = PlatSurfaceStride(s) / 4;
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : st) {
    pixman_fill(bits, stride, 32, 0, 0, w, h, 0xFF336699);
    benchmark::ClobberMemory();
  }
  gBaselineNs[st.range(0)] = NsPerIteration(st, std::chrono::steady_clock::now() - t0);
  st.SetBytesProcessed(st.iterations() * int64_t(w) * h * 4);
}
BENCHMARK(BM_PaintRectPixmanBaseline)->Args({16, 16})->Args({kW, kH});

void BM_DPaintRect(benchmark::State& st) {
  Port& p = ThePort();
  if (!p.ok) return st.SkipWithError("no drawing port");
  const int32 w = int32(st.range(0)), h = int32(st.range(1));
  const Rect r{0, 0, int16(h), int16(w)};
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : st) {
    DPaintRect(&r);
    benchmark::ClobberMemory();
  }
  const double ns = NsPerIteration(st, std::chrono::steady_clock::now() - t0);
  if ((PlatSurfaceGetPixel(p.Surface(), w - 1, h - 1) & 0xFFFFFF) != kColour) st.SkipWithError("wrong colour");
  if (gBaselineNs[st.range(0)] > 0) st.counters["x_pixman"] = ns / gBaselineNs[st.range(0)];
  st.SetBytesProcessed(st.iterations() * int64_t(w) * h * 4);
}
BENCHMARK(BM_DPaintRect)->Args({16, 16})->Args({kW, kH});

double gLineBaselineNs = 0;

// The layer's line call on the port's context with the normal pen
// selected: 16 pixels each, back and forth along one row.
void BM_LineToLayerBaseline(benchmark::State& st) {
  Port& p = ThePort();
  if (!p.ok) return st.SkipWithError("no drawing port");
  const PlatObj dc = gDrawState.dc;
  PlatMoveTo(dc, 0, 100, nullptr);
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : st) {
    for (int32 i = 0; i < kLines; ++i) PlatLineTo(dc, (i & 1) ? 0 : 16, 100);
    benchmark::ClobberMemory();
  }
  gLineBaselineNs = NsPerIteration(st, std::chrono::steady_clock::now() - t0);
  st.SetItemsProcessed(st.iterations() * kLines);
}
BENCHMARK(BM_LineToLayerBaseline)->Unit(benchmark::kMillisecond);

// DLineTo covers both ends: 15 and 0 give the same 16 pixels a line.
void BM_DLineTo(benchmark::State& st) {
  Port& p = ThePort();
  if (!p.ok) return st.SkipWithError("no drawing port");
  DMoveTo(0, 100);
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : st) {
    for (int32 i = 0; i < kLines; ++i) DLineTo((i & 1) ? 0 : 15, 100);
    benchmark::ClobberMemory();
  }
  const double ns = NsPerIteration(st, std::chrono::steady_clock::now() - t0);
  if ((PlatSurfaceGetPixel(p.Surface(), 15, 100) & 0xFFFFFF) != kColour) st.SkipWithError("wrong colour");
  if (gLineBaselineNs > 0) st.counters["x_layer"] = ns / gLineBaselineNs;
  st.SetItemsProcessed(st.iterations() * kLines);
}
BENCHMARK(BM_DLineTo)->Unit(benchmark::kMillisecond);

}  // namespace
