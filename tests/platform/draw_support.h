// Helpers of the drawing tests: a memory context on a fresh Rgb32 bitmap,
// pixel reads, and ASCII masks ("#" changed, "." untouched).
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/qx_dc.h"
#include "platform/qx_draw.h"
#include "platform/qx_drawobj.h"
#include "platform/qx_region.h"
#include "platform/qx_surface.h"

// A memory context drawing into a w x h bitmap cleared to one colour.
struct Canvas {
  PlatObj dc = 0, bitmap = 0;
  PlatSurface* surface = nullptr;  // owned by the bitmap
  std::vector<uint8_t> before;
  Canvas(int32_t w, int32_t h, uint32_t fill = 0xFFFFFF, int32_t bpp = 32) {
    dc = PlatCreateMemoryDc();
    bitmap = PlatCreateBitmap(w, h, bpp, nullptr, 0);
    PlatSelectObject(dc, bitmap);
    surface = SurfaceOf();
    PlatSurfaceClear(surface, PixelOf(fill));
    Snapshot();
  }
  ~Canvas() {
    PlatDeleteDc(dc);
    PlatDeleteObject(bitmap);
  }
  // 0x00BBGGRR to 0x00RRGGBB.
  static uint32_t PixelOf(uint32_t c) {
    return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
  }
  PlatSurface* SurfaceOf() const { return PlatBitmapSurface(bitmap); }
  void Snapshot() {
    const uint8_t* b = PlatSurfaceBits(surface);
    before.assign(b, b + PlatSurfaceByteSize(surface));
  }
  bool Unchanged() const {
    return before.size() == PlatSurfaceByteSize(surface) &&
           (before.empty() || std::memcmp(before.data(), PlatSurfaceBits(surface), before.size()) == 0);
  }
  // The colour at (x, y) as 0x00RRGGBB.
  uint32_t At(int32_t x, int32_t y) const { return PlatSurfaceGetPixel(surface, x, y) & 0xFFFFFF; }
  uint32_t Before(int32_t x, int32_t y) const {
    if (PlatSurfaceFormatOf(surface) == kPlatMono1) {
      uint8_t byte = before[size_t(y) * size_t(PlatSurfaceStride(surface)) + size_t(x) / 8];
      return (byte & (0x80 >> (x & 7))) ? 0xFFFFFF : 0;
    }
    uint32_t v;
    std::memcpy(&v, &before[size_t(y) * size_t(PlatSurfaceStride(surface)) + size_t(x) * 4], 4);
    return v & 0xFFFFFF;
  }
  // Rows of "#" (changed since the snapshot) and ".", joined by "\n".
  std::string Mask() const {
    std::string m;
    for (int32_t y = 0; y < PlatSurfaceHeight(surface); ++y) {
      if (y) m += '\n';
      for (int32_t x = 0; x < PlatSurfaceWidth(surface); ++x) m += At(x, y) != Before(x, y) ? '#' : '.';
    }
    return m;
  }
};

// A mask from rows.
inline std::string Rows(std::initializer_list<const char*> rows) {
  std::string m;
  for (const char* r : rows) {
    if (!m.empty()) m += '\n';
    m += r;
  }
  return m;
}
