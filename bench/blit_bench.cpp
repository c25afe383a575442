// Block transfers of a 1024 x 768 surface: a copying blit against memcpy of
// the same rows (the goal: at most 1.3 times its time); every common raster
// operation against a plain loop doing the same work per pixel (at most 1.5
// times); a stretch to twice the size against a plain sampling loop with the
// same index rule (at most 2 times).  Pairs: BM_Blit<Op> / BM_Plain<Op>.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>

#include <vector>

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

// Plain loops: one pass over rows of raw words, doing what the operation
// does per pixel.
uint32_t* RowOf(PlatSurface* s, int32_t y) { return reinterpret_cast<uint32_t*>(PlatSurfaceBits(s) + size_t(y) * PlatSurfaceStride(s)); }

template <typename Op>
void Plain(benchmark::State& st, Op op) {
  Held src(kW, kH), dst(kW, kH);
  for (auto _ : st) {
    for (int32_t y = 0; y < kH; ++y) {
      const uint32_t* s = RowOf(src.s, y);
      uint32_t* d = RowOf(dst.s, y);
      for (int32_t x = 0; x < kW; ++x) d[x] = op(s[x], d[x]);
    }
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(st.iterations() * int64_t(kW) * kH * 4);
}

constexpr uint32_t kBrushPixel = 0xFF3060C0u;  // the brush 0x00C06030 as a pixel

// The transfer call with a solid brush selected in the destination.
void Call(benchmark::State& st, uint32_t rop, bool withSource) {
  Held src(kW, kH), dst(kW, kH);
  PlatObj brush = PlatCreateSolidBrush(0xC06030);
  PlatObj old = PlatSelectObject(dst.dc, brush);
  for (auto _ : st) {
    PlatBitBlt(dst.dc, 0, 0, kW, kH, withSource ? src.dc : 0, 0, 0, rop);
    benchmark::ClobberMemory();
  }
  PlatSelectObject(dst.dc, old);
  PlatDeleteObject(brush);
  st.SetBytesProcessed(st.iterations() * int64_t(kW) * kH * 4);
}

void BM_BlitSrcAnd(benchmark::State& st) { Call(st, kPlatSrcAnd, true); }
void BM_PlainSrcAnd(benchmark::State& st) { Plain(st, [](uint32_t s, uint32_t d) { return s & d; }); }
void BM_BlitSrcPaint(benchmark::State& st) { Call(st, kPlatSrcPaint, true); }
void BM_PlainSrcPaint(benchmark::State& st) { Plain(st, [](uint32_t s, uint32_t d) { return s | d; }); }
void BM_BlitSrcInvert(benchmark::State& st) { Call(st, 0x660046, true); }
void BM_PlainSrcInvert(benchmark::State& st) { Plain(st, [](uint32_t s, uint32_t d) { return (s ^ d) | 0xFF000000u; }); }
void BM_BlitMergeCopy(benchmark::State& st) { Call(st, 0xC000CA, true); }
void BM_PlainMergeCopy(benchmark::State& st) { Plain(st, [](uint32_t s, uint32_t) { return s & kBrushPixel; }); }
void BM_BlitDstInvert(benchmark::State& st) { Call(st, 0x550009, false); }
void BM_PlainDstInvert(benchmark::State& st) { Plain(st, [](uint32_t, uint32_t d) { return d ^ 0xFFFFFFu; }); }
void BM_BlitPatInvert(benchmark::State& st) { Call(st, 0x5A0049, false); }
void BM_PlainPatInvert(benchmark::State& st) { Plain(st, [](uint32_t, uint32_t d) { return d ^ (kBrushPixel & 0xFFFFFFu); }); }
BENCHMARK(BM_BlitSrcAnd);
BENCHMARK(BM_PlainSrcAnd);
BENCHMARK(BM_BlitSrcPaint);
BENCHMARK(BM_PlainSrcPaint);
BENCHMARK(BM_BlitSrcInvert);
BENCHMARK(BM_PlainSrcInvert);
BENCHMARK(BM_BlitMergeCopy);
BENCHMARK(BM_PlainMergeCopy);
BENCHMARK(BM_BlitDstInvert);
BENCHMARK(BM_PlainDstInvert);
BENCHMARK(BM_BlitPatInvert);
BENCHMARK(BM_PlainPatInvert);

// A Mono1 bitmap onto colour: 0 bits take the text colour, 1 bits the
// background colour.
struct Mono {
  PlatObj dc, bitmap;
  PlatSurface* s;
  Mono() {
    dc = PlatCreateMemoryDc();
    bitmap = PlatCreateBitmap(kW, kH, 1, nullptr, 0);
    PlatSelectObject(dc, bitmap);
    s = PlatBitmapSurface(bitmap);
    for (int32_t y = 0; y < kH; ++y)
      for (int32_t x = (y * 7) % 5; x < kW; x += 3) PlatSurfaceSetPixel(s, x, y, 0xFFFFFF);
  }
  ~Mono() {
    PlatDeleteDc(dc);
    PlatDeleteObject(bitmap);
  }
};

void BM_BlitMonoExpand(benchmark::State& st) {
  Mono src;
  Held dst(kW, kH);
  PlatSetTextColor(dst.dc, 0x0000FF);
  PlatSetBkColor(dst.dc, 0x00FF00);
  for (auto _ : st) {
    PlatBitBlt(dst.dc, 0, 0, kW, kH, src.dc, 0, 0, kPlatSrcCopy);
    benchmark::ClobberMemory();
  }
  if (PlatSurfaceGetPixel(dst.s, 0, 0) != 0xFF00FF00u || PlatSurfaceGetPixel(dst.s, 1, 0) != 0xFFFF0000u)
    st.SkipWithError("wrong colours");
  st.SetBytesProcessed(st.iterations() * int64_t(kW) * kH * 4);
}
BENCHMARK(BM_BlitMonoExpand);

void BM_PlainMonoExpand(benchmark::State& st) {
  Mono src;
  Held dst(kW, kH);
  const uint32_t text = 0xFFFF0000u, back = 0xFF00FF00u;
  for (auto _ : st) {
    for (int32_t y = 0; y < kH; ++y) {
      const uint8_t* s = PlatSurfaceBits(src.s) + size_t(y) * PlatSurfaceStride(src.s);
      uint32_t* d = RowOf(dst.s, y);
      for (int32_t x = 0; x < kW; ++x) d[x] = (s[x >> 3] & (0x80 >> (x & 7))) ? back : text;
    }
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(st.iterations() * int64_t(kW) * kH * 4);
}
BENCHMARK(BM_PlainMonoExpand);

// Destination pixel i of n takes source pixel (2i + 1) m / 2n.
void BM_PlainStretchTwice(benchmark::State& st) {
  Held src(kW / 2, kH / 2), dst(kW, kH);
  std::vector<int32_t> cols(kW);
  for (auto _ : st) {
    for (int32_t x = 0; x < kW; ++x) cols[size_t(x)] = int32_t((2 * int64_t(x) + 1) * (kW / 2) / (2 * kW));
    for (int32_t y = 0; y < kH; ++y) {
      const uint32_t* s = RowOf(src.s, int32_t((2 * int64_t(y) + 1) * (kH / 2) / (2 * kH)));
      uint32_t* d = RowOf(dst.s, y);
      for (int32_t x = 0; x < kW; ++x) d[x] = s[cols[size_t(x)]];
    }
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(st.iterations() * int64_t(kW) * kH * 4);
}
BENCHMARK(BM_PlainStretchTwice);

}  // namespace
