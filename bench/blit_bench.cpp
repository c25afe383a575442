// Block transfers of a 1024 x 768 surface: a copying blit against memcpy of
// the same rows (the goal: at most 1.3 times its time), and a stretch to
// twice the size.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>

#include "platform/qx_blit.h"
#include "platform/qx_dc.h"
#include "platform/qx_drawobj.h"
#include "platform/qx_surface.h"

namespace {

constexpr int32_t kW = 1024, kH = 768;

struct Held {
  PlatObj dc, bitmap;
  PlatSurface* s;
  Held(int32_t w, int32_t h) {
    dc = PlatCreateMemoryDc();
    bitmap = PlatCreateBitmap(w, h, 32, nullptr, 0);
    PlatSelectObject(dc, bitmap);
    s = PlatBitmapSurface(bitmap);
    for (int32_t y = 0; y < h; y += 7) PlatSurfaceSetPixel(s, y % w, y, 0x123456);
  }
  ~Held() {
    PlatDeleteDc(dc);
    PlatDeleteObject(bitmap);
  }
};

void BM_BlitCopy(benchmark::State& st) {
  Held src(kW, kH), dst(kW, kH);
  for (auto _ : st) {
    PlatBitBlt(dst.dc, 0, 0, kW, kH, src.dc, 0, 0, kPlatSrcCopy);
    benchmark::ClobberMemory();
  }
  if (std::memcmp(PlatSurfaceBits(src.s), PlatSurfaceBits(dst.s), PlatSurfaceByteSize(src.s)) != 0)
    st.SkipWithError("copy differs");
  st.SetBytesProcessed(st.iterations() * int64_t(kW) * kH * 4);
}
BENCHMARK(BM_BlitCopy);

void BM_MemcpyRows(benchmark::State& st) {
  Held src(kW, kH), dst(kW, kH);
  for (auto _ : st) {
    for (int32_t y = 0; y < kH; ++y)
      std::memcpy(PlatSurfaceBits(dst.s) + size_t(y) * kW * 4, PlatSurfaceBits(src.s) + size_t(y) * kW * 4,
                  size_t(kW) * 4);
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(st.iterations() * int64_t(kW) * kH * 4);
}
BENCHMARK(BM_MemcpyRows);

void BM_StretchTwice(benchmark::State& st) {
  Held src(kW / 2, kH / 2), dst(kW, kH);
  for (auto _ : st) {
    PlatStretchBlt(dst.dc, 0, 0, kW, kH, src.dc, 0, 0, kW / 2, kH / 2, kPlatSrcCopy);
    benchmark::ClobberMemory();
  }
  if (PlatSurfaceGetPixel(dst.s, 1, 0) != PlatSurfaceGetPixel(src.s, 0, 0)) st.SkipWithError("wrong sample");
  st.SetBytesProcessed(st.iterations() * int64_t(kW) * kH * 4);
}
BENCHMARK(BM_StretchTwice);

}  // namespace
