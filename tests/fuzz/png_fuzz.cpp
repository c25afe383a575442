// PNG goldens and screenshots are read from files: any bytes are read by the
// checked reader under a small pixel limit; what reads is a surface of at
// most that many pixels, and writing it and reading it back gives the same
// pixels.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/qx_png.h"
#include "platform/qx_surface.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr uint32_t kLimit = 1u << 16;
  PlatSurface* s = PlatPngReadMemory(data, size, kLimit);
  if (!s) return 0;
  int32_t w = PlatSurfaceWidth(s), h = PlatSurfaceHeight(s);
  if (w <= 0 || h <= 0 || uint64_t(w) * uint64_t(h) > kLimit) std::abort();
  std::vector<uint8_t> bytes;
  if (PlatPngWriteMemory(s, &bytes) != 0) std::abort();
  PlatSurface* back = PlatPngReadMemory(bytes.data(), bytes.size(), kLimit);
  if (!back || PlatSurfaceWidth(back) != w || PlatSurfaceHeight(back) != h) std::abort();
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      if (PlatSurfaceGetPixel(back, x, y) != PlatSurfaceGetPixel(s, x, y)) std::abort();
  PlatSurfaceDestroy(back);
  PlatSurfaceDestroy(s);
  return 0;
}
