#include "platform/qx_surface.h"

#include <cstdlib>
#include <cstring>

#include "platform/qx_file.h"
#include "platform/qx_surface_internal.h"

namespace {

// Bytes a row, or -1 when the store would pass 2^31 bytes.
int64_t RowBytes(int32_t width, PlatSurfaceFormat format) {
  if (format == kPlatRgb32) return int64_t(width) * 4;
  return ((int64_t(width) + 31) / 32) * 4;
}

bool CheckedSize(int32_t width, int32_t height, PlatSurfaceFormat format, int32_t* stride,
                 uint32_t* bytes) {
  if (width < 0 || height < 0 || (format != kPlatRgb32 && format != kPlatMono1)) {
    PlatSetLastError(kPlatErrInvalidParam);
    return false;
  }
  int64_t row = RowBytes(width, format);
  int64_t total = row * int64_t(height);
  if (row > INT32_MAX || total > INT32_MAX) {
    PlatSetLastError(kPlatErrNoMemory);
    return false;
  }
  *stride = int32_t(row);
  *bytes = uint32_t(total);
  return true;
}

uint8_t* NewStore(uint32_t bytes, PlatSurfaceFormat format) {
  if (bytes == 0) return nullptr;
  // Rows start on a cache line where the stride allows: a narrow fill then
  // never stores across two lines that one line would hold.
  constexpr uint32_t kLine = 64;
  if (bytes > UINT32_MAX - kLine) return nullptr;
  auto* p = static_cast<uint8_t*>(std::aligned_alloc(kLine, (bytes + kLine - 1) / kLine * kLine));
  if (!p) return nullptr;
  if (format == kPlatRgb32) {
    auto* w = reinterpret_cast<uint32_t*>(p);
    for (uint32_t i = 0; i < bytes / 4; ++i) w[i] = kPlatOpaque;
  } else {
    std::memset(p, 0, bytes);
  }
  return p;
}

}  // namespace

PlatSurface* PlatSurfaceCreate(int32_t width, int32_t height, PlatSurfaceFormat format) {
  int32_t stride;
  uint32_t bytes;
  if (!CheckedSize(width, height, format, &stride, &bytes)) return nullptr;
  uint8_t* bits = NewStore(bytes, format);
  if (bytes && !bits) {
    PlatSetLastError(kPlatErrNoMemory);
    return nullptr;
  }
  auto* s = new PlatSurface{width, height, format, stride, bits};
  return s;
}

void PlatSurfaceDestroy(PlatSurface* s) {
  if (!s) return;
  std::free(s->bits);
  delete s;
}

bool PlatSurfaceResize(PlatSurface* s, int32_t width, int32_t height) {
  int32_t stride;
  uint32_t bytes;
  if (!s || !CheckedSize(width, height, s->format, &stride, &bytes)) return false;
  uint8_t* bits = NewStore(bytes, s->format);
  if (bytes && !bits) {
    PlatSetLastError(kPlatErrNoMemory);
    return false;
  }
  int32_t rows = height < s->height ? height : s->height;
  int32_t cols = width < s->width ? width : s->width;
  for (int32_t y = 0; y < rows && cols > 0; ++y) {
    const uint8_t* from = s->bits + size_t(y) * size_t(s->stride);
    uint8_t* to = bits + size_t(y) * size_t(stride);
    if (s->format == kPlatRgb32) {
      std::memcpy(to, from, size_t(cols) * 4);
    } else {
      std::memcpy(to, from, size_t(cols) / 8);
      if (cols % 8) {
        uint8_t keep = uint8_t(0xFF00 >> (cols % 8));
        to[cols / 8] = from[cols / 8] & keep;
      }
    }
  }
  std::free(s->bits);
  s->bits = bits;
  s->width = width;
  s->height = height;
  s->stride = stride;
  return true;
}

int32_t PlatSurfaceWidth(const PlatSurface* s) { return s ? s->width : 0; }
int32_t PlatSurfaceHeight(const PlatSurface* s) { return s ? s->height : 0; }
PlatSurfaceFormat PlatSurfaceFormatOf(const PlatSurface* s) { return s ? s->format : kPlatRgb32; }
int32_t PlatSurfaceStride(const PlatSurface* s) { return s ? s->stride : 0; }
uint8_t* PlatSurfaceBits(PlatSurface* s) { return s ? s->bits : nullptr; }
const uint8_t* PlatSurfaceBits(const PlatSurface* s) { return s ? s->bits : nullptr; }
uint32_t PlatSurfaceByteSize(const PlatSurface* s) {
  return s ? uint32_t(s->stride) * uint32_t(s->height) : 0;
}

uint32_t PlatSurfaceGetPixel(const PlatSurface* s, int32_t x, int32_t y) {
  if (!s || x < 0 || y < 0 || x >= s->width || y >= s->height) return 0;
  const uint8_t* row = s->bits + size_t(y) * size_t(s->stride);
  if (s->format == kPlatRgb32) return reinterpret_cast<const uint32_t*>(row)[x];
  return (row[x >> 3] & (0x80 >> (x & 7))) ? 0xFFFFFFFFu : kPlatOpaque;
}

void PlatSurfaceSetPixel(PlatSurface* s, int32_t x, int32_t y, uint32_t rgb) {
  if (!s || x < 0 || y < 0 || x >= s->width || y >= s->height) return;
  uint8_t* row = s->bits + size_t(y) * size_t(s->stride);
  if (s->format == kPlatRgb32) {
    reinterpret_cast<uint32_t*>(row)[x] = kPlatOpaque | (rgb & 0xFFFFFF);
  } else if ((rgb & 0xFFFFFF) == 0xFFFFFF) {
    row[x >> 3] |= uint8_t(0x80 >> (x & 7));
  } else {
    row[x >> 3] &= uint8_t(~(0x80 >> (x & 7)));
  }
}

void PlatSurfaceClear(PlatSurface* s, uint32_t rgb) {
  if (!s || !s->bits) return;
  uint32_t bytes = PlatSurfaceByteSize(s);
  if (s->format == kPlatRgb32) {
    auto* w = reinterpret_cast<uint32_t*>(s->bits);
    uint32_t v = kPlatOpaque | (rgb & 0xFFFFFF);
    for (uint32_t i = 0; i < bytes / 4; ++i) w[i] = v;
  } else {
    std::memset(s->bits, (rgb & 0xFFFFFF) == 0xFFFFFF ? 0xFF : 0, bytes);
  }
}
