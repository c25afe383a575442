// DIBs come from files, resources and the clipboard: any bytes are read by
// the checked reader.  What reads gives a surface; written back at its
// depth, header and row order and read again it gives the same pixels
// (depths of 16 bits and more keep every colour; at 8 bits and below the
// second write equals the first), and drawing it stays on the surface.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/qx_blit.h"
#include "platform/qx_dc.h"
#include "platform/qx_dib.h"
#include "platform/qx_surface.h"

namespace {

bool SamePixels(const PlatSurface* a, const PlatSurface* b) {
  if (PlatSurfaceWidth(a) != PlatSurfaceWidth(b) || PlatSurfaceHeight(a) != PlatSurfaceHeight(b)) return false;
  for (int32_t y = 0; y < PlatSurfaceHeight(a); ++y)
    for (int32_t x = 0; x < PlatSurfaceWidth(a); ++x)
      if (PlatSurfaceGetPixel(a, x, y) != PlatSurfaceGetPixel(b, x, y)) return false;
  return true;
}

PlatSurface* ReadPacked(const std::vector<uint8_t>& dib, const PlatDibInfo& in) {
  uint32_t head = uint32_t(in.headerSize) + in.tableBytes;
  return PlatDibToSurface(dib.data(), head, dib.data() + head, uint32_t(dib.size()) - head);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static PlatObj dc = PlatCreateMemoryDc();
  static PlatObj target = PlatCreateBitmap(16, 16, 32, nullptr, 0);
  static bool selected = PlatSelectObject(dc, target) != 0;
  if (!selected) std::abort();
  PlatDibInfo in;
  uint32_t n = uint32_t(size);
  bool packed = PlatDibReadPacked(data, n, &in);
  PlatDibInfo head;
  bool headerOk = PlatDibReadHeader(data, n, &head);
  if (packed && !headerOk) std::abort();
  uint32_t at = headerOk ? uint32_t(head.headerSize) + head.tableBytes : 0;
  // Drawing reads through the same checks.
  bool drawn = PlatStretchDibBits(dc, -3, 2, 11, 7, 1, 0, 5, 3, data, at, data + at, n - at, kPlatSrcPaint);
  if (drawn != packed) std::abort();
  if (!packed) return 0;
  if (in.width <= 0 || in.height <= 0 || uint64_t(in.headerSize) + in.tableBytes + in.imageBytes > size) std::abort();
  PlatSurface* first = PlatDibToSurface(data, at, data + at, n - at);
  if (!first) return 0;  // too large to hold
  std::vector<uint8_t> once, twice;
  if (!PlatSurfaceToDib(first, dc, in.bitsPerPixel, in.headerSize, in.topDown, &once)) std::abort();
  PlatDibInfo again;
  if (!PlatDibReadPacked(once.data(), uint32_t(once.size()), &again) || again.width != in.width ||
      again.height != in.height || again.bitsPerPixel != in.bitsPerPixel || again.topDown != in.topDown)
    std::abort();
  PlatSurface* second = ReadPacked(once, again);
  if (!second) std::abort();
  if (in.bitsPerPixel >= 16 && !SamePixels(first, second)) std::abort();
  if (!PlatSurfaceToDib(second, dc, in.bitsPerPixel, in.headerSize, in.topDown, &twice) || twice != once)
    std::abort();
  PlatSurface* third = ReadPacked(twice, again);
  if (!third || !SamePixels(second, third)) std::abort();
  PlatSurfaceDestroy(third);
  PlatSurfaceDestroy(second);
  PlatSurfaceDestroy(first);
  return 0;
}
